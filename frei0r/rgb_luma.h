// Between frei0r's 8-bit R'G'B'A and the plug-in's host frame.
//
// Y' is weighted by BT.601 for frames up to 576 lines and by BT.709 above,
// the usual convention for standard and high definition, and taken as a
// video-range code (16..235), which the host program's level mapping then
// carries onto the host scale: the plug-in sees what `zeverive` would show
// it for the same picture in a Y'CbCr file. The plug-in's change of Y',
// scaled back to 0..255, is added to R', G' and B' alike (a change of luma
// with Cb and Cr kept moves all three by the same amount), rounded and
// clamped; alpha is copied. A pixel the plug-in left alone comes back as it
// was, and a grey pixel stays grey.
#pragma once

#include <cstdint>
#include <vector>

#include "host/records.h"
#include "luma/levels.h"

namespace zeverive::frei0r {

// Weights in 1/65536; they add up to 65536, so grey keeps its level.
struct LumaWeights {
    int32_t r;
    int32_t g;
    int32_t b;
};

LumaWeights luma_weights(int height);

// The video-range code of a pixel's Y', rounded.
int32_t video_luma(const uint8_t* rgba, LumaWeights weights);

// One frame's conversion, keeping what the way back needs; each step's
// pixels shared among up to lanes() threads, with the same result for any
// number.
class RgbLuma {
public:
    void set_lanes(int lanes) { lanes_ = lanes; }
    int lanes() const { return lanes_; }

    // Takes the video-range codes of a frame of RGBA words.
    void read(const uint32_t* rgba, size_t pixels, LumaWeights weights);
    // The codes, as the noise estimate reads them.
    const std::vector<float>& codes() const { return codes_; }
    // The host frame for the codes, Cb and Cr neutral; through a
    // stabiliser, by the host values for codes 0..255.
    void to_host(luma::LevelScale scale, YcPixel* host);
    void to_host(const std::vector<int16_t>& host_by_code, YcPixel* host);
    // The host values to_host gave the plug-in.
    const std::vector<int16_t>& before() const { return before_; }
    // Writes `out` from `in` and the plug-in's result. `grey` makes every
    // pixel grey at its new Y', for the coefficient display, which
    // replaces the picture.
    void to_rgba(const uint32_t* in, const YcPixel* host, luma::LevelScale scale, bool grey, uint32_t* out) const;
    // The same through a stabiliser, by the video-range code each host
    // value stands for (index: host value + 32768); never grey, since the
    // automatic settings never show coefficients.
    void to_rgba(const uint32_t* in, const YcPixel* host, const std::vector<double>& code_by_host, uint32_t* out) const;

private:
    int lanes_ = 1;
    std::vector<float> codes_;
    std::vector<int16_t> before_;  // the host values the plug-in was given
};

}  // namespace zeverive::frei0r
