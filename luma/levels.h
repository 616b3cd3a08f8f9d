// Video levels and the host's scale.
//
// The host works on Y from 0 (black) to 4096 (white) and on Cb, Cr from
// -2048 to 2048. Video stores Y from 16 to 235 and Cb, Cr from 16 to 240 at
// 8 bits, and the same range times 2^(bits-8) at higher depths (10-bit Y
// 64..940). The mapping to the host is the straight line through those
// points, rounded to the nearest integer, for every code including the
// ones outside the nominal range (8-bit Y 0 becomes -299, 255 becomes 4470),
// so super-black and super-white survive.
//
// Back from the host, a sample the plug-in left as it was returns to its
// original code, whatever that was. A changed sample is mapped straight
// back through the same line, rounded, which at 8 to 12 bits gives every
// host value one code (the host's scale is finer than the codes there, so
// the round trip would be exact anyway). At 14 and 16 bits the host's
// scale is coarser than the codes and no mapping of the host value alone could
// give every code back; there the plug-in's change, scaled back, is added
// to the original code, which keeps the detail finer than the host sees.
// Results stay within the depth's code range, widened to include the
// original code when a file holds a code above it.
//
// A level gain g (in thousandths, kGainUnity and below) shrinks the host's
// scale: white lands on 4096 * g, and the way back divides by g again.
// Every threshold of the plug-in then acts 1/g times larger against the
// picture, which is how heavy noise is reached beyond the sliders' range.
// At g = 1 the arithmetic is the same rational as without a gain, so every
// output byte stays as it was. Where 4096 * g is coarser than the codes
// (at 10 bits below g = 0.214, for instance) the change is scaled back onto
// the original code, as at 14 and 16 bits.
//
// A stabiliser (stabiliser.h), for noise that grows with brightness, bends
// the line: a code goes through its forward mapping before the gain and the
// host's scale, and a changed sample comes back through its unbiased
// inverse. A sample the plug-in left alone still gets its own code back;
// where two codes would share a host value, changes are added to the
// original code, as above, as differences of the inverse.
#pragma once

#include <cstdint>
#include <vector>

#include "host/records.h"
#include "luma/picture_format.h"
#include "luma/stabiliser.h"

namespace zeverive::luma {

constexpr int32_t kHostSpan = 4096;
constexpr int32_t kGainUnity = 1000;
constexpr int32_t kMinGain = 50;  // 0.05: heavy noise (25 codes at 8 bits) still wants the gain below 0.1

// host = round((code - origin) * kHostSpan * gain / (span * kGainUnity))
struct LevelScale {
    int32_t origin;
    int32_t span;
    int32_t gain = kGainUnity;

    // Whether the host's scale is at least as fine as the codes, so that a
    // host value alone decides the code.
    bool host_finer() const { return int64_t{span} * kGainUnity <= int64_t{kHostSpan} * gain; }
};

LevelScale luma_scale(int bit_depth, int32_t gain = kGainUnity);  // 16..235 at 8 bits
// How many steps of the host's scale one code makes.
inline double host_units_per_code(LevelScale scale) {
    return static_cast<double>(kHostSpan) * scale.gain / (static_cast<double>(scale.span) * kGainUnity);
}
LevelScale chroma_scale(int bit_depth);                           // 16..240 about 128 at 8 bits

// A code on the host's scale, held within the 16 bits of a host sample.
int16_t code_to_host(LevelScale scale, int32_t code);
// The code for a sample that was `original` and that the plug-in turned
// from `host_before` (its mapped value) into `host_after`.
int32_t host_change_to_code(LevelScale scale, int32_t original, int32_t host_before, int32_t host_after,
                            int32_t max_code);

// The same through a stabiliser (luma only): the host value of a code of
// `bit_depth`, and the code, as a real number, that a host value stands
// for (the unbiased inverse).
int16_t stabilised_code_to_host(LevelScale scale, const Stabiliser& stabiliser, int bit_depth, int32_t code);
double stabilised_host_to_code(LevelScale scale, const Stabiliser& stabiliser, int bit_depth, int32_t host);

// The conversions for one video format, per frame, between a frame's
// samples as the file stores them (frame_bytes(format) bytes, see
// frame_bytes.h) and the host frame. Every code the format's storage holds
// (8 or 16 bits) is mapped once, when the mapping is made; so is every host
// value where the way back depends on it alone (8 to 12 bits). The results
// are those of code_to_host and host_change_to_code.
// Only luma takes the gain: the plug-in leaves chroma alone.
class LevelMapping {
public:
    explicit LevelMapping(const PictureFormat& format, int32_t gain = kGainUnity,
                          const Stabiliser* stabiliser = nullptr);

    // The host frame the plug-in is given, width * height pixels: Y mapped,
    // chroma mapped and repeated over the pixels that share it (zero for
    // monochrome video, and without `chroma`, which spares the work where
    // neither the plug-in nor anyone else reads the host's chroma).
    void to_host(const uint8_t* samples, YcPixel* host, bool chroma = true) const;

    // The samples to write for a frame read as `original`: luma from the
    // host's result; chroma the original's, or neutral when the coefficient
    // display replaced the picture. Host frames (.yc) are written as the
    // plug-in left them.
    void to_samples(const uint8_t* original, const YcPixel* host_after, bool neutral_chroma,
                    uint8_t* samples) const;

private:
    template <typename Storage>
    void video_to_host(const uint8_t* samples, YcPixel* host, bool chroma) const;
    template <typename Storage>
    void video_to_samples(const uint8_t* original, const YcPixel* host_after, bool neutral_chroma,
                          uint8_t* samples) const;

    // The 8-bit loops' AVX2 forms (luma/levels_avx2.h): a row of host
    // pixels, and the codes of a frame's luma where the host's scale is the
    // finer.
    void wide_row(const uint8_t* luma, const uint8_t* cb, const uint8_t* cr, size_t width, int shift_x,
                  YcPixel* row) const;
    void wide_codes(const YcPixel* host_after, size_t pixels, uint8_t* codes) const;

    PictureFormat format_;
    LevelScale luma_;
    LevelScale chroma_;
    std::vector<int16_t> luma_host_;    // by code
    std::vector<int16_t> chroma_host_;  // by code
    // The code for a changed luma sample, by host value + 32768, for
    // original codes within the depth; empty where the code depends on the
    // original too.
    std::vector<uint16_t> luma_code_;
    // With a stabiliser: its unbiased inverse in codes of the depth, by
    // host value + 32768, for changes added to the original code.
    std::vector<double> luma_level_;
    bool wide_;  // the 8-bit loops' AVX2 forms run here
};

}  // namespace zeverive::luma
