// The noise estimate on pictures of known noise: white and smoothed, over a
// flat picture and over one that is half fine texture and edges; and on
// structure that is not noise (checkerboards, stripes, binary dots, grain
// that moves with the picture), clean and under noise.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "luma/match_sums.h"
#include "luma/noise_estimator.h"
#include "luma/surface_fit.h"
#include "test_support.h"

namespace zeverive::cli {
namespace {

constexpr int kWidth = 256;
constexpr int kHeight = 192;

using Picture = std::function<double(int x, int y)>;

double ramp(int x, int y) {
    return 70 + 0.25 * x + 0.2 * y;
}

// Half a ramp, half fine texture with edges every 12 pixels.
double textured(int x, int y) {
    if (x < kWidth / 2) return ramp(x, y);
    return ramp(x, y) + 25 * std::sin(x / 1.3) * std::cos(y / 1.7) + ((x / 12 + y / 12) % 2 ? 30 : -30);
}

enum class Grain { kNone, kWhite, kSmoothed };

// Frames of `picture` panned 2 pixels right per frame, with fresh noise of
// `sigma` codes in each, clipped and rounded like video.
std::vector<std::vector<float>> clip(const Picture& picture, Grain grain, double sigma, int frames = 3) {
    testing::Noise noise(static_cast<uint32_t>(sigma * 100) + static_cast<uint32_t>(grain));
    std::vector<std::vector<float>> out;
    for (int f = 0; f < frames; ++f) {
        std::vector<double> field(static_cast<size_t>(kWidth) * kHeight, 0.0);
        if (grain != Grain::kNone)
            for (double& value : field) value = noise.gaussian();
        if (grain == Grain::kSmoothed) {
            // A 3x3 box blur, scaled back to unit deviation, wrapping round.
            std::vector<double> blurred(field.size());
            for (int y = 0; y < kHeight; ++y)
                for (int x = 0; x < kWidth; ++x) {
                    double sum = 0;
                    for (int dy = -1; dy <= 1; ++dy)
                        for (int dx = -1; dx <= 1; ++dx)
                            sum += field[static_cast<size_t>((y + dy + kHeight) % kHeight) * kWidth +
                                         (x + dx + kWidth) % kWidth];
                    blurred[static_cast<size_t>(y) * kWidth + x] = sum / 3;
                }
            field = blurred;
        }
        std::vector<float> frame(field.size());
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                const size_t i = static_cast<size_t>(y) * kWidth + x;
                frame[i] = static_cast<float>(
                    std::clamp(std::round(picture(x + 2 * f, y) + sigma * field[i]), 0.0, 255.0));
            }
        out.push_back(frame);
    }
    return out;
}

luma::NoiseEstimate estimate_of(const std::vector<std::vector<float>>& frames, int lanes = 1) {
    luma::NoiseEstimator estimator;
    for (const std::vector<float>& frame : frames)
        estimator.add_picture({frame.data(), kWidth, kHeight, 0, 255}, 0, nullptr, lanes);
    return estimator.estimate();
}

// A picture's spread and its change from the one before read on two
// threads at once give every figure one thread gives.
TEST(NoiseEstimate, ReadingOnTwoThreadsGivesTheSameFigures) {
    for (const Grain grain : {Grain::kWhite, Grain::kSmoothed}) {
        const std::vector<std::vector<float>> frames = clip(textured, grain, 4);
        const luma::NoiseEstimate one = estimate_of(frames), two = estimate_of(frames, 2);
        EXPECT_EQ(one.sigma, two.sigma);
        EXPECT_EQ(one.smoothing, two.smoothing);
        EXPECT_EQ(one.basis, two.basis);
        EXPECT_EQ(one.picture_sigma, two.picture_sigma);
        EXPECT_EQ(one.frames_sigma, two.frames_sigma);
        EXPECT_EQ(one.blocks, two.blocks);
        EXPECT_EQ(one.structure, two.structure);
        EXPECT_EQ(one.pictures, two.pictures);
        EXPECT_GT(one.frames_sigma, 0);
    }
}

// The cubic fit's AVX2 loop leaves the plain one's residual and energy to
// the bit, on blocks of codes and of levels with fractions.
#if defined(__x86_64__)
TEST(NoiseEstimate, TheWideFitLeavesThePlainResidual) {
    SKIP_WITHOUT_WIDE_LOOPS();
    std::mt19937 random(17);
    std::uniform_real_distribution<float> level(-50.0f, 300.0f);
    float block[luma::kNoiseBlockSamples];
    double plain[luma::kNoiseBlockSamples], wide[luma::kNoiseBlockSamples];
    for (int round = 0; round < 200; ++round) {
        for (float& v : block) v = round % 2 ? std::round(level(random)) : level(random);
        const double plain_energy = luma::surface_residual(block, plain);
        const double wide_energy = luma::surface_residual_avx2(block, wide);
        ASSERT_EQ(std::memcmp(&plain_energy, &wide_energy, sizeof(double)), 0) << "round " << round;
        ASSERT_EQ(std::memcmp(plain, wide, sizeof plain), 0) << "round " << round;
    }
}
#endif

// The block matcher's AVX2 sums give the plain ones' bits, lane by lane:
// codes as files give them and levels with fractions, at many places of
// two pictures whose rows lie apart by different strides.
#if defined(__x86_64__)
TEST(NoiseEstimate, TheWideSumsOfTheMatchAreThePlainOnes) {
    SKIP_WITHOUT_WIDE_LOOPS();
    std::mt19937 random(7);
    constexpr int kStrideA = 61, kStrideB = 77, kRows = 40;
    std::vector<float> a(kStrideA * kRows), b(kStrideB * kRows);
    for (bool codes : {true, false}) {
        std::uniform_real_distribution<float> level(-40.0f, 300.0f);
        for (float& v : a) v = codes ? std::round(level(random)) : level(random);
        for (float& v : b) v = codes ? std::round(level(random)) : level(random);
        for (int place = 0; place < 200; ++place) {
            const float* pa = &a[(place % 20) * kStrideA + place % 40];
            const float* pb = &b[(place % 23) * kStrideB + place % 41];
            double plain[4], wide[4];
            luma::ring_sums(pa, kStrideA, pb, kStrideB, plain);
            luma::ring_sums_avx2(pa, kStrideA, pb, kStrideB, wide);
            ASSERT_EQ(std::memcmp(plain, wide, sizeof plain), 0) << "ring at place " << place;
            luma::window_sums(pa, kStrideA, pb, kStrideB, plain);
            luma::window_sums_avx2(pa, kStrideA, pb, kStrideB, wide);
            ASSERT_EQ(std::memcmp(plain, wide, sizeof plain), 0) << "window at place " << place;
        }
    }
}
#endif

TEST(NoiseEstimate, ReadsKnownNoiseWithinATenthWhiteOrSmoothedFlatOrTextured) {
    for (const auto& [name, picture] : {std::pair<const char*, Picture>{"flat", ramp}, {"textured", textured}}) {
        for (Grain grain : {Grain::kWhite, Grain::kSmoothed}) {
            for (double sigma : {2.0, 5.0, 10.0, 20.0}) {
                SCOPED_TRACE(::testing::Message() << name << ", " << (grain == Grain::kWhite ? "white" : "smoothed")
                                                  << ", sigma " << sigma);
                const luma::NoiseEstimate estimate = estimate_of(clip(picture, grain, sigma));
                EXPECT_NEAR(estimate.sigma, sigma, 0.1 * sigma);
                if (grain == Grain::kWhite) EXPECT_LT(estimate.smoothing, 0.3);
                else EXPECT_GT(estimate.smoothing, 0.7);
            }
        }
    }
}

double checkerboard(int x, int y) {
    return (x + y) % 2 ? 235 : 16;
}
double row_stripes(int, int y) {
    return y % 2 ? 235 : 16;
}
double wide_column_stripes(int x, int) {
    return (x / 2) % 2 ? 235 : 16;
}
// Binary dots, a third of them set, as halftone or a cellular automaton.
double dots(int x, int y) {
    return ((x * 7919u + y * 104729u) * 2654435761u >> 16) % 3 == 0 ? 235 : 16;
}

// The estimator's worst cases before it told structure from noise: each
// read as tens or hundreds of codes, and the settings for that flattened
// the picture.
TEST(NoiseEstimate, PixelScaleStructureIsNotNoise) {
    for (const auto& [name, picture] : {std::pair<const char*, Picture>{"checkerboard", checkerboard},
                                        {"1-pixel row stripes", row_stripes},
                                        {"2-pixel column stripes", wide_column_stripes},
                                        {"binary dots", dots}}) {
        SCOPED_TRACE(name);
        // Still, as a test card's frames are, and panning.
        const std::vector<std::vector<float>> panning = clip(picture, Grain::kNone, 0);
        EXPECT_LT(estimate_of({panning[0], panning[0], panning[0]}).sigma, 0.5);
        EXPECT_LT(estimate_of(panning).sigma, 0.5);
        // Under noise the structure still does not count; what is read is
        // at most the noise.
        EXPECT_LT(estimate_of(clip(picture, Grain::kWhite, 3)).sigma, 3.3);
    }
}

// A photograph's own grain moves with it: the change between frames reads
// only the noise, where the picture's spread reads grain and noise.
TEST(NoiseEstimate, GrainThatMovesWithThePictureIsNotNoise) {
    testing::Noise noise(5);
    std::vector<double> grain(static_cast<size_t>(kWidth + 16) * kHeight);
    for (double& value : grain) value = 4 * noise.gaussian();
    const Picture grainy = [&](int x, int y) { return textured(x, y) + grain[static_cast<size_t>(y) * (kWidth + 16) + x]; };
    EXPECT_LT(estimate_of(clip(grainy, Grain::kNone, 0)).sigma, 0.5);
    const luma::NoiseEstimate noisy = estimate_of(clip(grainy, Grain::kWhite, 2));
    EXPECT_NEAR(noisy.sigma, 2, 0.2);
    EXPECT_GT(noisy.picture_sigma, 3);
}

// One picture cannot tell grain from noise: its reading is taken low. A
// repeated picture is no second one.
TEST(NoiseEstimate, OnePictureAloneReadsLowAndRepeatsAddNothing) {
    const std::vector<float> frame = clip(textured, Grain::kWhite, 8, 1)[0];
    const luma::NoiseEstimate once = estimate_of({frame});
    EXPECT_EQ(once.basis, luma::NoiseBasis::kOnePicture);
    EXPECT_NEAR(once.sigma, luma::kOnePictureShare * 8, 0.8);
    const luma::NoiseEstimate thrice = estimate_of({frame, frame, frame});
    EXPECT_EQ(thrice.basis, luma::NoiseBasis::kOnePicture);
    EXPECT_EQ(thrice.sigma, once.sigma);
}

TEST(NoiseEstimate, ClippedBlocksAndNoiselessPicturesDoNotPassForNoise) {
    // Half the picture black and clipped at 0 under heavy noise: its blocks
    // would read far too little.
    const Picture half_black = [](int x, int) { return x < kWidth / 2 ? 0.0 : 120.0; };
    EXPECT_NEAR(estimate_of(clip(half_black, Grain::kWhite, 15)).sigma, 15, 1.5);
    EXPECT_LT(estimate_of(clip(textured, Grain::kNone, 0)).sigma, 0.5);
}

}  // namespace
}  // namespace zeverive::cli
