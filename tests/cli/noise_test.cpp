// The noise estimate on frames of known noise: white and smoothed, over a
// flat picture and over one that is half fine texture and edges.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "luma/noise_estimator.h"
#include "test_support.h"

namespace zeverive::cli {
namespace {

constexpr int kWidth = 256;
constexpr int kHeight = 192;

enum class Picture { kFlat, kTextured };
enum class Grain { kWhite, kSmoothed };

double clean_at(Picture picture, int x, int y) {
    const double ramp = 70 + 0.25 * x + 0.2 * y;
    if (picture == Picture::kFlat || x < kWidth / 2) return ramp;
    // Texture finer than the blocks, and edges every 12 pixels.
    return ramp + 25 * std::sin(x / 1.3) * std::cos(y / 1.7) + ((x / 12 + y / 12) % 2 ? 30 : -30);
}

// Two frames of 8-bit codes, clipped and rounded like video.
std::vector<std::vector<float>> frames_with_noise(Picture picture, Grain grain, double sigma) {
    testing::Noise noise(static_cast<uint32_t>(sigma * 100) + static_cast<uint32_t>(grain));
    std::vector<std::vector<float>> frames;
    for (int f = 0; f < 2; ++f) {
        std::vector<double> field(static_cast<size_t>(kWidth) * kHeight);
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
                frame[i] = static_cast<float>(std::clamp(std::round(clean_at(picture, x, y) + sigma * field[i]), 0.0, 255.0));
            }
        frames.push_back(frame);
    }
    return frames;
}

TEST(NoiseEstimate, ReadsKnownNoiseWithinATenthWhiteOrSmoothedFlatOrTextured) {
    for (Picture picture : {Picture::kFlat, Picture::kTextured}) {
        for (Grain grain : {Grain::kWhite, Grain::kSmoothed}) {
            for (double sigma : {2.0, 5.0, 10.0, 20.0}) {
                SCOPED_TRACE(::testing::Message() << (picture == Picture::kFlat ? "flat" : "textured") << ", "
                                                << (grain == Grain::kWhite ? "white" : "smoothed") << ", sigma "
                                                << sigma);
                luma::NoiseEstimator estimator;
                for (const std::vector<float>& frame : frames_with_noise(picture, grain, sigma))
                    estimator.add_frame(frame.data(), kWidth, kHeight, 0, 255);
                const luma::NoiseEstimate estimate = estimator.estimate();
                EXPECT_NEAR(estimate.sigma, sigma, 0.1 * sigma);
                if (grain == Grain::kWhite) EXPECT_LT(estimate.smoothing, 0.3);
                else EXPECT_GT(estimate.smoothing, 0.7);
            }
        }
    }
}

TEST(NoiseEstimate, ClippedBlocksAndNoiselessPicturesDoNotPassForNoise) {
    // Half the picture black and clipped at 0 under heavy noise: its blocks
    // would read far too little.
    testing::Noise noise(3);
    std::vector<float> frame(static_cast<size_t>(kWidth) * kHeight);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            frame[static_cast<size_t>(y) * kWidth + x] = static_cast<float>(
                std::clamp(std::round((x < kWidth / 2 ? 0 : 120) + 15 * noise.gaussian()), 0.0, 255.0));
    luma::NoiseEstimator clipped;
    clipped.add_frame(frame.data(), kWidth, kHeight, 0, 255);
    EXPECT_NEAR(clipped.estimate().sigma, 15, 1.5);

    luma::NoiseEstimator clean;
    for (const std::vector<float>& f : frames_with_noise(Picture::kTextured, Grain::kWhite, 0)) 
        clean.add_frame(f.data(), kWidth, kHeight, 0, 255);
    EXPECT_LT(clean.estimate().sigma, 0.5);
}

}  // namespace
}  // namespace zeverive::cli
