// The check of a trial result against the next picture of its scene, on a
// fine texture panned by a fraction of a pixel per picture: the whole-pixel
// match leaves an error there that smoothing shrinks, and a check that
// reads it as the scene's own would prefer results that smear the texture.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "luma/result_check.h"
#include "test_support.h"

namespace zeverive::luma {
namespace {

constexpr int kWidth = 256;
constexpr int kHeight = 192;

// Fine texture (periods of 4 to 8 samples), defined between samples too.
double texture(double x, double y) {
    return 125 + 8 * std::sin(1.1 * x + 0.4 * y) + 6 * std::sin(1.4 * y - 0.5 * x + 1.0) +
           5 * std::sin(0.8 * x + 1.2 * y + 2.0) + 25 * std::sin(x / 23.0) * std::cos(y / 17.0);
}

std::vector<float> picture(double dx, double dy) {
    std::vector<float> p(static_cast<size_t>(kWidth) * kHeight);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) p[static_cast<size_t>(y) * kWidth + x] = static_cast<float>(texture(x + dx, y + dy));
    return p;
}

std::vector<float> with_noise(std::vector<float> p, double sigma, cli::testing::Noise& noise) {
    for (float& v : p) v += static_cast<float>(sigma * noise.gaussian());
    return p;
}

LumaPlane plane(const std::vector<float>& p) { return {p.data(), kWidth, kHeight, 0.0f, 255.0f}; }

double distance(const std::vector<float>& a, const std::vector<float>& b) {
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) sum += (a[i] - b[i]) * (a[i] - b[i]);
    return sum / static_cast<double>(a.size());
}

TEST(ResultCheck, AFractionOfAPixelOfMotionDoesNotFavourSmoothing) {
    for (double sigma : {4.0, 1.0}) {
        SCOPED_TRACE(sigma);
        cli::testing::Noise noise(3);
        const std::vector<float> clean = picture(0, 0);
        const std::vector<float> noisy = with_noise(clean, sigma, noise);
        const std::vector<float> next = with_noise(picture(0.6, 0.35), sigma, noise);
        const ResultCheck check(plane(noisy), plane(next), sigma);
        ASSERT_TRUE(check.usable());

        // A 3x3 mean takes the texture with the noise: farther from the
        // clean picture than the input, and the check must not call it nearer.
        std::vector<float> smeared = noisy;
        for (int y = 1; y + 1 < kHeight; ++y)
            for (int x = 1; x + 1 < kWidth; ++x) {
                float sum = 0;
                for (int j = -1; j <= 1; ++j)
                    for (int i = -1; i <= 1; ++i) sum += noisy[static_cast<size_t>(y + j) * kWidth + x + i];
                smeared[static_cast<size_t>(y) * kWidth + x] = sum / 9;
            }
        ASSERT_GT(distance(smeared, clean), distance(noisy, clean));
        EXPECT_GT(check.change_from_input(plane(smeared)), 0);

        // Half the noise taken out, texture kept: nearer, and read so.
        std::vector<float> halved(noisy.size());
        for (size_t i = 0; i < halved.size(); ++i) halved[i] = 0.5f * (noisy[i] + clean[i]);
        EXPECT_LT(check.change_from_input(plane(halved)), 0);
    }
}

}  // namespace
}  // namespace zeverive::luma
