// Video levels against the host's scale: the fixed points, the lossless
// round trip of untouched samples, how the plug-in's changes come back, and
// where chroma goes.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>

#include "formats/frame_bytes.h"
#include "luma/levels.h"
#include "luma/stabiliser.h"

namespace zeverive::cli {
namespace {

const int kDepths[] = {8, 9, 10, 12, 14, 16};

PictureFormat format_of(int width, int height, Sampling sampling, int bit_depth) {
    PictureFormat format;
    format.width = width;
    format.height = height;
    format.sampling = sampling;
    format.bit_depth = bit_depth;
    return format;
}

Picture picture_with_every_code(const PictureFormat& format, int32_t offset) {
    Picture picture;
    const int32_t codes = format.max_code() + 1;
    for (int plane = 0; plane < format.plane_count(); ++plane) {
        picture.planes[plane].resize(format.plane_samples(plane));
        for (size_t i = 0; i < picture.planes[plane].size(); ++i)
            picture.planes[plane][i] = static_cast<int32_t>((i * 7 + offset + plane) % codes);
    }
    return picture;
}

std::vector<uint8_t> samples_of(const PictureFormat& format, const Picture& picture) {
    std::vector<uint8_t> samples(frame_bytes(format));
    encode_frame(format, picture, samples.data());
    return samples;
}

std::vector<YcPixel> to_host(const PictureFormat& format, const Picture& picture, int32_t gain = luma::kGainUnity) {
    std::vector<YcPixel> host(static_cast<size_t>(format.width) * static_cast<size_t>(format.height));
    luma::LevelMapping(format, gain).to_host(samples_of(format, picture).data(), host.data());
    return host;
}

// The picture written for `original` after the plug-in left `host`.
Picture written(const luma::LevelMapping& mapping, const PictureFormat& format, const Picture& original,
                const std::vector<YcPixel>& host, bool neutral_chroma) {
    std::vector<uint8_t> samples(frame_bytes(format));
    mapping.to_samples(samples_of(format, original).data(), host.data(), neutral_chroma, samples.data());
    Picture picture;
    decode_frame(format, samples.data(), picture);
    return picture;
}

TEST(Levels, NominalRangeMeetsTheHostScale) {
    for (int depth : kDepths) {
        const int shift = depth - 8;
        SCOPED_TRACE(depth);
        EXPECT_EQ(luma::code_to_host(luma::luma_scale(depth), 16 << shift), 0);
        EXPECT_EQ(luma::code_to_host(luma::luma_scale(depth), 235 << shift), 4096);
        EXPECT_EQ(luma::code_to_host(luma::chroma_scale(depth), 16 << shift), -2048);
        EXPECT_EQ(luma::code_to_host(luma::chroma_scale(depth), 128 << shift), 0);
        EXPECT_EQ(luma::code_to_host(luma::chroma_scale(depth), 240 << shift), 2048);
    }
    // Outside the nominal range the line goes on: super-black and
    // super-white keep distinct values.
    EXPECT_EQ(luma::code_to_host(luma::luma_scale(8), 0), -299);
    EXPECT_EQ(luma::code_to_host(luma::luma_scale(8), 255), 4470);
    EXPECT_LT(luma::code_to_host(luma::luma_scale(8), 15), luma::code_to_host(luma::luma_scale(8), 16));
}

TEST(Levels, UntouchedSamplesComeBackExactlyAtEveryDepthAndSampling) {
    for (int depth : kDepths) {
        for (Sampling sampling : {Sampling::k420, Sampling::k422, Sampling::k444, Sampling::kMono}) {
            // Odd sizes, and at 16 bits large enough to hold every code.
            const PictureFormat format =
                format_of(depth == 16 ? 257 : 65, depth == 16 ? 256 : 63, sampling, depth);
            SCOPED_TRACE(::testing::Message() << depth << " bits, sampling " << static_cast<int>(sampling));
            const Picture original = picture_with_every_code(format, 0);
            std::vector<YcPixel> host = to_host(format, original);
            Picture back = written(luma::LevelMapping(format), format, original, host, false);
            for (int plane = 0; plane < 3; ++plane) EXPECT_EQ(back.planes[plane], original.planes[plane]);
        }
    }
}

TEST(Levels, CodesAboveTheDepthSurviveUntouched) {
    // A 10-bit file may hold any 16-bit number; what the plug-in does not
    // change must not be clipped to 1023.
    const PictureFormat format = format_of(4, 1, Sampling::kMono, 10);
    Picture original;
    original.planes[0] = {1024, 2000, 40000, 65535};
    std::vector<YcPixel> host = to_host(format, original);
    Picture back = written(luma::LevelMapping(format), format, original, host, false);
    EXPECT_EQ(back.planes[0], original.planes[0]);

    // A small change moves such a code a little instead of clipping it.
    host[1].y = static_cast<int16_t>(host[1].y - 100);  // about 21 codes at 10 bits
    back = written(luma::LevelMapping(format), format, original, host, false);
    EXPECT_EQ(back.planes[0][1], 2000 - 21);
}

TEST(Levels, TheHostsChangesComeBackInCodes) {
    const luma::LevelScale luma8 = luma::luma_scale(8);
    const int16_t grey = luma::code_to_host(luma8, 100);
    // 4096 / 219 host units to one 8-bit code.
    EXPECT_EQ(luma::host_change_to_code(luma8, 100, grey, grey + 187, 255), 110);
    EXPECT_EQ(luma::host_change_to_code(luma8, 100, grey, grey - 187, 255), 90);
    // Less than half a code is no change at all.
    EXPECT_EQ(luma::host_change_to_code(luma8, 100, grey, grey + 9, 255), 100);
    EXPECT_EQ(luma::host_change_to_code(luma8, 100, grey, grey + 10, 255), 101);
    // One host unit is about 13.7 codes at 16 bits.
    const luma::LevelScale luma16 = luma::luma_scale(16);
    const int16_t grey16 = luma::code_to_host(luma16, 30000);
    EXPECT_EQ(luma::host_change_to_code(luma16, 30000, grey16, grey16 + 1, 65535), 30014);
    // Up to 12 bits a changed sample's code depends on the host value alone,
    // so the coefficient display's grey levels come out as one code each.
    for (int depth : {8, 10, 12}) {
        const luma::LevelScale luma = luma::luma_scale(depth);
        const int32_t max_code = (1 << depth) - 1;
        for (int32_t host = -300; host <= 4500; host += 37) {
            std::set<int32_t> codes;
            for (int32_t original = 0; original <= max_code; original += 1 + max_code / 300) {
                if (luma::code_to_host(luma, original) != host)
                    codes.insert(luma::host_change_to_code(luma, original, luma::code_to_host(luma, original), host, max_code));
            }
            EXPECT_EQ(codes.size(), 1u) << depth << " bits, host " << host;
        }
    }
    // Results stay within the codes of the depth.
    EXPECT_EQ(luma::host_change_to_code(luma8, 250, luma::code_to_host(luma8, 250), 20000, 255), 255);
    EXPECT_EQ(luma::host_change_to_code(luma8, 3, luma::code_to_host(luma8, 3), -20000, 255), 0);
}

// The mapping's tables against the formulas: every code of every depth on
// the way in, and every host value on the way back from originals inside
// and outside the depth's range.
TEST(Levels, TheMappingAgreesWithTheFormulasEverywhere) {
    for (int32_t gain : {luma::kGainUnity, 333, luma::kMinGain})
    for (int depth : kDepths) {
        SCOPED_TRACE(::testing::Message() << depth << " bits, gain " << gain);
        PictureFormat format = format_of(depth > 8 ? 65536 : 256, 1, Sampling::k444, depth);
        Picture codes;
        for (int plane = 0; plane < 3; ++plane) {
            codes.planes[plane].resize(static_cast<size_t>(format.width));
            for (int code = 0; code < format.width; ++code) codes.planes[plane][static_cast<size_t>(code)] = code;
        }
        const std::vector<YcPixel> host = to_host(format, codes, gain);
        for (int code = 0; code < format.width; ++code) {
            const YcPixel& pixel = host[static_cast<size_t>(code)];
            ASSERT_EQ(pixel.y, luma::code_to_host(luma::luma_scale(depth, gain), code)) << code;
            ASSERT_EQ(pixel.cb, luma::code_to_host(luma::chroma_scale(depth), code)) << code;
            ASSERT_EQ(pixel.cr, pixel.cb);
        }

        format.width = 65536;
        const luma::LevelMapping mapping(format, gain);
        const int32_t max_code = format.max_code();
        std::vector<int32_t> originals = {0, 1, 15, 16 << (depth - 8), 100 << (depth - 8), max_code};
        if (depth > 8 && depth < 16) originals.insert(originals.end(), {max_code + 1, 65535});
        std::vector<YcPixel> after(65536);
        for (int value = -32768; value <= 32767; ++value) after[static_cast<size_t>(value + 32768)].y = static_cast<int16_t>(value);
        for (int32_t original : originals) {
            SCOPED_TRACE(original);
            Picture picture;
            picture.planes[0].assign(65536, original);
            picture.planes[1] = picture.planes[2] = picture.planes[0];
            const Picture back = written(mapping, format, picture, after, false);
            const int16_t before = luma::code_to_host(luma::luma_scale(depth, gain), original);
            for (int value = -32768; value <= 32767; ++value) {
                ASSERT_EQ(back.planes[0][static_cast<size_t>(value + 32768)],
                          luma::host_change_to_code(luma::luma_scale(depth, gain), original, before, value, max_code))
                    << value;
            }
        }
    }
}

// Where the processor has AVX2, 8-bit codes go in along the scale's line
// in double rather than through the table; every code at every gain the
// program takes must land on the table's value.
TEST(Levels, EveryEightBitCodeMapsAsTheTableAtEveryGain) {
    const PictureFormat format = format_of(256, 1, Sampling::k444, 8);
    Picture codes;
    for (int plane = 0; plane < 3; ++plane) {
        codes.planes[plane].resize(256);
        for (int code = 0; code < 256; ++code) codes.planes[plane][static_cast<size_t>(code)] = code;
    }
    for (int32_t gain = luma::kMinGain; gain <= luma::kGainUnity; ++gain) {
        const std::vector<YcPixel> host = to_host(format, codes, gain);
        for (int code = 0; code < 256; ++code) {
            const YcPixel& pixel = host[static_cast<size_t>(code)];
            ASSERT_EQ(pixel.y, luma::code_to_host(luma::luma_scale(8, gain), code)) << "code " << code << ", gain " << gain;
            ASSERT_EQ(pixel.cb, luma::code_to_host(luma::chroma_scale(8), code)) << "code " << code;
        }
    }
}

// At gain 1 the mapping is the plain line, as it always was, so every
// output byte stays; below 1 white comes down to 4096 g, and the way back
// undoes it: codes come back from their own host values where the host's
// scale is the finer, and host values from their codes within a step where
// it is the coarser.
TEST(Levels, TheGainIsExactAtOneAndComesBackAtEveryDepth) {
    for (int depth : kDepths) {
        SCOPED_TRACE(depth);
        const int32_t max_code = (1 << depth) - 1;
        const luma::LevelScale plain = luma::luma_scale(depth);
        for (int32_t code = 0; code <= max_code; code += depth > 10 ? 7 : 1) {
            const double exact = (code - plain.origin) * 4096.0 / plain.span;
            ASSERT_EQ(luma::code_to_host(plain, code), std::lround(exact)) << code;
        }
        for (int32_t host = -1000; host <= 5000; ++host) {
            const double codes = host * static_cast<double>(plain.span) / 4096.0;
            const int32_t original = 100 << (depth - 8);
            const int16_t before = luma::code_to_host(plain, original);
            const long expected = plain.span <= 4096 ? plain.origin + std::lround(codes)
                                                     : original + std::lround(codes - before * plain.span / 4096.0);
            ASSERT_EQ(luma::host_change_to_code(plain, original, before, host, max_code),
                      std::clamp<long>(expected, 0, max_code)) << host;
        }
        for (int32_t gain : {900, 500, 333, 100, luma::kMinGain}) {
            SCOPED_TRACE(gain);
            const luma::LevelScale scale = luma::luma_scale(depth, gain);
            EXPECT_EQ(luma::code_to_host(scale, 235 << (depth - 8)), std::lround(4096.0 * gain / luma::kGainUnity));
            if (scale.host_finer()) {
                for (int32_t code = 0; code <= max_code; ++code) {
                    const int16_t host = luma::code_to_host(scale, code);
                    ASSERT_EQ(luma::host_change_to_code(scale, 0, host + 1, host, max_code), code);
                }
            } else {
                const int32_t original = 128 << (depth - 8);
                const int16_t before = luma::code_to_host(scale, original);
                for (int32_t host = luma::code_to_host(scale, 0); host <= luma::code_to_host(scale, max_code); ++host) {
                    const int32_t code = luma::host_change_to_code(scale, original, before, host, max_code);
                    ASSERT_LE(std::abs(luma::code_to_host(scale, code) - host), 1) << host;
                }
            }
        }
    }
}

// Noise growing from 3 codes at black to 9 at white, measured between 30
// and 222.
const luma::NoiseLevelFunction kGrowingNoise{72.0 / 219, 9 - 16 * 72.0 / 219, 30, 222};

// The stabilising curve and its inverse, on all three of its pieces (a
// line below the measured brightnesses, the curve, a line above).
TEST(Levels, TheStabiliserIsInvertedExactlyAndItsBiasIsSmall) {
    const luma::Stabiliser stabiliser(kGrowingNoise);
    EXPECT_DOUBLE_EQ(stabiliser.forward(16), 16);
    double previous = stabiliser.forward(-40);
    for (double code = -39.75; code <= 300; code += 0.25) {
        const double value = stabiliser.forward(code);
        ASSERT_GT(value, previous) << code;
        previous = value;
        ASSERT_NEAR(stabiliser.inverse(value), code, 1e-9) << code;
        // Where the curve bends, noisy samples average below the curve of
        // their mean; the unbiased inverse adds that back, a fraction of a
        // code.
        const double bias = stabiliser.unbiased_inverse(value) - code;
        ASSERT_GT(bias, 0) << code;
        ASSERT_LT(bias, 0.3) << code;
    }
    // The noise comes out alike: its deviation times the curve's slope.
    const double middle = std::sqrt(kGrowingNoise.variance(126)) * stabiliser.slope(126);
    for (double code : {20.0, 60.0, 126.0, 180.0, 230.0})
        EXPECT_NEAR(std::sqrt(kGrowingNoise.variance(code)) * stabiliser.slope(code), middle, 1e-9) << code;
}

// Through a stabiliser, at every depth and at gains from 1 to the least:
// untouched samples come back bit for bit, and a change comes back as the
// same change of 8-bit code whatever the depth, whether the host's scale
// names every code (a table) or not (the change added to the original).
TEST(Levels, AStabilisedMappingComesBackAtEveryDepth) {
    const luma::Stabiliser stabiliser(kGrowingNoise);
    for (int32_t gain : {luma::kGainUnity, 333, luma::kMinGain}) {
        std::vector<int32_t> at_8_bits;
        for (int depth : kDepths) {
            SCOPED_TRACE(::testing::Message() << depth << " bits, gain " << gain);
            const int shift = depth - 8;
            const PictureFormat format = format_of(depth > 8 ? 65536 : 256, 1, Sampling::kMono, depth);
            const luma::LevelMapping mapping(format, gain, &stabiliser);
            Picture every;
            every.planes[0].resize(static_cast<size_t>(format.width));
            for (int code = 0; code < format.width; ++code) every.planes[0][static_cast<size_t>(code)] = code;
            std::vector<YcPixel> host(static_cast<size_t>(format.width));
            mapping.to_host(samples_of(format, every).data(), host.data());
            EXPECT_EQ(written(mapping, format, every, host, false).planes[0], every.planes[0]);

            // Codes 16..235 at 8 bits, the same levels at this depth, each
            // moved by a fixed step on the host's scale.
            Picture levels;
            for (int32_t code = 16; code <= 235; ++code) levels.planes[0].push_back(code << shift);
            const PictureFormat row = format_of(static_cast<int>(levels.planes[0].size()), 1, Sampling::kMono, depth);
            const luma::LevelMapping row_mapping(row, gain, &stabiliser);
            std::vector<YcPixel> moved(levels.planes[0].size());
            row_mapping.to_host(samples_of(row, levels).data(), moved.data());
            for (YcPixel& pixel : moved) pixel.y = static_cast<int16_t>(pixel.y + 40);
            const Picture back = written(row_mapping, row, levels, moved, false);
            for (size_t i = 0; i < back.planes[0].size(); ++i) {
                const double in_8_bits = back.planes[0][i] / static_cast<double>(1 << shift);
                if (depth == 8) {
                    at_8_bits.push_back(back.planes[0][i]);
                    ASSERT_GT(back.planes[0][i], levels.planes[0][i]) << i;
                } else {
                    ASSERT_NEAR(in_8_bits, at_8_bits[i], 1.0) << i;
                }
            }
        }
    }
}

// Rows of 21 pixels: whole groups of the wide loops and a rest.
TEST(Levels, HostFramesCarryChromaOfTheirOwnPixel) {
    constexpr int kWidth = 21, kHeight = 3;
    PictureFormat format;
    format.width = kWidth;
    format.height = kHeight;
    for (int depth : {8, 10, 16}) {
        format.bit_depth = depth;
        for (Sampling sampling : {Sampling::k420, Sampling::k422, Sampling::k444}) {
            format.sampling = sampling;
            SCOPED_TRACE(::testing::Message() << depth << " bits, sampling " << static_cast<int>(sampling));
            Picture picture;
            picture.planes[0].assign(kWidth * kHeight, 16 << (depth - 8));
            const int chroma_width = format.plane_width(1);
            for (int plane = 1; plane < 3; ++plane) {
                picture.planes[plane].resize(format.plane_samples(plane));
                for (size_t i = 0; i < picture.planes[plane].size(); ++i)
                    picture.planes[plane][i] = static_cast<int32_t>((16 + (7 * i + plane) % 200) << (depth - 8));
            }
            std::vector<YcPixel> host = to_host(format, picture);
            for (int y = 0; y < kHeight; ++y) {
                for (int x = 0; x < kWidth; ++x) {
                    const int cx = sampling == Sampling::k444 ? x : x / 2;
                    const int cy = sampling == Sampling::k420 ? y / 2 : y;
                    const YcPixel& pixel = host[y * kWidth + x];
                    const int32_t cb = picture.planes[1][cy * chroma_width + cx];
                    const int32_t cr = picture.planes[2][cy * chroma_width + cx];
                    EXPECT_EQ(pixel.cb, luma::code_to_host(luma::chroma_scale(depth), cb));
                    EXPECT_EQ(pixel.cr, luma::code_to_host(luma::chroma_scale(depth), cr));
                    EXPECT_EQ(pixel.y, 0);
                }
            }
        }
    }
    format.bit_depth = 8;
    format.sampling = Sampling::kMono;
    Picture mono;
    mono.planes[0].assign(kWidth * kHeight, 235);
    std::vector<YcPixel> host = to_host(format, mono);
    for (const YcPixel& pixel : host) {
        EXPECT_EQ(pixel.y, 4096);
        EXPECT_EQ(pixel.cb, 0);
        EXPECT_EQ(pixel.cr, 0);
    }
}

TEST(Levels, ChromaIsTheOriginalUnlessTheDisplayReplacedIt) {
    const PictureFormat format = format_of(4, 2, Sampling::k420, 10);
    Picture original;
    original.planes[0] = {64, 100, 200, 300, 400, 500, 600, 940};
    original.planes[1] = {17, 1000};
    original.planes[2] = {3, 1023};
    std::vector<YcPixel> host = to_host(format, original);
    // Whatever the plug-in left in the host's chroma, the file's own planes
    // are written...
    for (YcPixel& pixel : host) pixel.cb = pixel.cr = 77;
    Picture back = written(luma::LevelMapping(format), format, original, host, false);
    EXPECT_EQ(back.planes[1], original.planes[1]);
    EXPECT_EQ(back.planes[2], original.planes[2]);
    // ...except under the coefficient display, which shows neutral chroma.
    back = written(luma::LevelMapping(format), format, original, host, true);
    EXPECT_EQ(back.planes[1], std::vector<int32_t>(2, 512));
    EXPECT_EQ(back.planes[2], std::vector<int32_t>(2, 512));
}

TEST(Levels, RawHostFramesAreWrittenAsThePluginLeftThem) {
    const PictureFormat format = format_of(2, 1, Sampling::kHost, 16);
    Picture original;
    original.planes[0] = {-5, 5000};
    original.planes[1] = {-2048, 3};
    original.planes[2] = {2048, -32768};
    std::vector<YcPixel> host = to_host(format, original);
    EXPECT_EQ(host[1].y, 5000);
    EXPECT_EQ(host[1].cr, -32768);
    host[0] = {1, 2, 3};
    Picture back = written(luma::LevelMapping(format), format, original, host, false);
    EXPECT_EQ(back.planes[0], (std::vector<int32_t>{1, 5000}));
    EXPECT_EQ(back.planes[1], (std::vector<int32_t>{2, 3}));
    EXPECT_EQ(back.planes[2], (std::vector<int32_t>{3, -32768}));
}

}  // namespace
}  // namespace zeverive::cli
