// The 8-bit level mapping's loops for processors with AVX2 (x86-64 only),
// with every result of luma/levels.cpp's plain loops: the way in along the
// scale's line, eight codes at a time; the way back through the same table,
// looked up eight at a time by gather, which reads four bytes at each
// 16-bit entry, so the table holds one entry more than any index reaches.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/records.h"
#include "luma/levels.h"

namespace zeverive::luma {

// Whether the AVX2 forms run: where the built-in plug-in runs its AVX2
// kernels (x86-64 with AVX2, and no other variant asked for).
bool wide_loops_run();

#if defined(__x86_64__)
// One row of host pixels from 8-bit planes, code_to_host of each sample:
// Y on `luma_scale`, Cb and Cr on `chroma_scale` from their rows, each
// chroma sample serving 1 << shift_x pixels; no chroma rows (monochrome)
// gives Cb and Cr 0.
void host_row_from_8bit_avx2(const uint8_t* luma, const uint8_t* cb, const uint8_t* cr, size_t width, int shift_x,
                             LevelScale luma_scale, LevelScale chroma_scale, YcPixel* row);
// 8-bit codes of `pixels` host pixels' Y by `code_by_host`, indexed by Y +
// 32768.
void codes_from_host_8bit_avx2(const YcPixel* host, size_t pixels, const uint16_t* code_by_host, uint8_t* codes);
#endif

}  // namespace zeverive::luma
