// The do-no-harm guard on what a run removed: a change like noise of the
// level stays to the bit, a change that repeats is taken back, a change far
// above the level is scaled down; on every sample layout it reads.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "host/records.h"
#include "luma/removal_guard.h"
#include "test_support.h"

namespace zeverive::cli {
namespace {

constexpr int kWidth = 96;
constexpr int kHeight = 64;
constexpr double kSigma = 3;

// A picture, and the same less what a run would take out: noise of about
// the level everywhere, and in the 32x32 square at (32, 16) `pattern`.
struct Change {
    std::vector<int32_t> before;
    std::vector<int32_t> after;
};

Change make_change(int32_t (*pattern)(int x, int y, testing::Noise& noise)) {
    testing::Noise noise(9);
    Change c;
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const int32_t value = 100 + (x + 2 * y) % 50;
            const bool inside = x >= 32 && x < 64 && y >= 16 && y < 48;
            const int32_t removed = inside ? pattern(x, y, noise) : static_cast<int32_t>(std::lround(0.8 * kSigma * noise.gaussian()));
            c.before.push_back(value);
            c.after.push_back(value - removed);
        }
    }
    return c;
}

int32_t like_noise(int, int, testing::Noise& noise) {
    return static_cast<int32_t>(std::lround(0.8 * kSigma * noise.gaussian()));
}
int32_t checkerboard(int x, int y, testing::Noise&) {
    return (x + y) % 2 ? 12 : -12;
}
int32_t far_above(int, int, testing::Noise& noise) {
    return static_cast<int32_t>(std::lround(8 * kSigma * noise.gaussian()));
}

// The spread of what is left removed over the 8x8 at the square's centre,
// in codes; `unit` samples to a code.
double removed_at_centre(const Change& c, const std::vector<int32_t>& after, double unit = 1) {
    double sum = 0;
    for (int y = 28; y < 36; ++y)
        for (int x = 44; x < 52; ++x) {
            const size_t i = static_cast<size_t>(y) * kWidth + x;
            sum += std::pow((c.before[i] - after[i]) / unit, 2);
        }
    return std::sqrt(sum / 64);
}

std::vector<int32_t> guarded_8bit(const Change& c, int& regions) {
    std::vector<uint8_t> before(c.before.begin(), c.before.end()), after(c.after.begin(), c.after.end());
    regions = luma::guard_change(before.data(), after.data(), kWidth, kHeight, 1.0, kSigma);
    return {after.begin(), after.end()};
}

TEST(Guard, AChangeLikeNoiseOfTheLevelStaysToTheBit) {
    const Change c = make_change(like_noise);
    int regions = -1;
    EXPECT_EQ(guarded_8bit(c, regions), c.after);
    EXPECT_EQ(regions, 0);
}

TEST(Guard, AChangeThatRepeatsIsTakenBackAndOnlyThere) {
    const Change c = make_change(checkerboard);
    int regions = 0;
    const std::vector<int32_t> after = guarded_8bit(c, regions);
    EXPECT_GT(regions, 0);
    EXPECT_EQ(removed_at_centre(c, after), 0.0);
    // Regions a full region away from the square keep their change.
    for (int y = 0; y < kHeight; ++y) {
        const size_t i = static_cast<size_t>(y) * kWidth + 4;
        EXPECT_EQ(after[i], c.after[i]) << "row " << y;
    }
}

TEST(Guard, AChangeFarAboveTheLevelIsScaledDownToIt) {
    const Change c = make_change(far_above);
    ASSERT_GT(removed_at_centre(c, c.after), 6 * kSigma);
    int regions = 0;
    const std::vector<int32_t> after = guarded_8bit(c, regions);
    EXPECT_GT(regions, 0);
    EXPECT_NEAR(removed_at_centre(c, after), luma::kMostRemoved * kSigma, 0.6);
}

// 10-bit samples and host frames (Y of YcPixel among chroma, a plane
// before) read the change at their own scale.
TEST(Guard, EverySampleLayoutIsReadAtItsScale) {
    const Change c = make_change(far_above);
    std::vector<uint16_t> before10, after10;
    std::vector<int16_t> before_host;
    std::vector<YcPixel> after_host;
    for (size_t i = 0; i < c.before.size(); ++i) {
        before10.push_back(static_cast<uint16_t>(4 * c.before[i]));
        after10.push_back(static_cast<uint16_t>(4 * c.after[i]));
        before_host.push_back(static_cast<int16_t>(16 * c.before[i]));
        after_host.push_back({static_cast<int16_t>(16 * c.after[i]), 7, -7});
    }
    ASSERT_GT(luma::guard_change(before10.data(), after10.data(), kWidth, kHeight, 4.0, kSigma), 0);
    ASSERT_GT(luma::guard_change(before_host.data(), 1, &after_host[0].y, 3, kWidth, kHeight, 16.0, kSigma), 0);
    std::vector<int32_t> ten(after10.begin(), after10.end()), host;
    for (const YcPixel& pixel : after_host) {
        host.push_back(pixel.y);
        EXPECT_EQ(pixel.cb, 7);
        EXPECT_EQ(pixel.cr, -7);
    }
    Change scaled10 = c, scaled_host = c;
    for (int32_t& v : scaled10.before) v *= 4;
    for (int32_t& v : scaled_host.before) v *= 16;
    EXPECT_NEAR(removed_at_centre(scaled10, ten, 4.0), luma::kMostRemoved * kSigma, 0.6);
    EXPECT_NEAR(removed_at_centre(scaled_host, host, 16.0), luma::kMostRemoved * kSigma, 0.6);
}

}  // namespace
}  // namespace zeverive::cli
