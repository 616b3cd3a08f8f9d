// RgbLuma's per-pixel loops for processors with AVX2 (x86-64 only), eight
// pixels at a time with the plain loops' arithmetic (frei0r/rgb_luma.cpp),
// so every result is theirs. Each does the whole groups of eight and
// returns how many pixels that was; the plain loop does the rest.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/records.h"
#include "rgb_luma.h"

namespace zeverive::frei0r {

#if defined(__x86_64__)
// video_luma of each of `pixels` R'G'B'A words, as floats.
size_t video_lumas_avx2(const uint32_t* rgba, size_t pixels, LumaWeights weights, float* codes);
// The words of `in` with the change of Y' from `before` to `host`, times
// `per_host`, added to R', G' and B', rounded half away from zero and
// clamped; alpha copied.
size_t changed_rgba_avx2(const uint32_t* in, const YcPixel* host, const int16_t* before, size_t pixels,
                         double per_host, uint32_t* out);
#endif

}  // namespace zeverive::frei0r
