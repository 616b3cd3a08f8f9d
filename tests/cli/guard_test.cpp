// The do-no-harm guard on what a run removed: a change like noise of the
// level stays to the bit, a change that repeats is taken back, a change far
// above the level is scaled down; on every sample layout it reads.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "host/records.h"
#include "luma/guard_regions.h"
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

// Host frames read by several threads, each a strip of regions, come out
// as read by one: the square's regions back off the same, whether a strip
// ends inside the square or not, on a height no multiple of a region.
TEST(Guard, StripsOnThreadsGuardAsOneThreadDoes) {
    for (auto pattern : {checkerboard, far_above}) {
        const Change c = make_change(pattern);
        const int height = kHeight - 5;
        std::vector<int16_t> before(c.before.begin(), c.before.end());
        std::vector<int16_t> one(c.after.begin(), c.after.end());
        const int regions = luma::guard_change(before.data(), 1, one.data(), 1, kWidth, height, 1.0, kSigma);
        ASSERT_GT(regions, 0);
        for (int lanes : {2, 3, 4}) {
            std::vector<int16_t> many(c.after.begin(), c.after.end());
            EXPECT_EQ(luma::guard_change(before.data(), 1, many.data(), 1, kWidth, height, 1.0, kSigma, lanes), regions)
                << lanes << " threads";
            EXPECT_EQ(many, one) << lanes << " threads";
        }
    }
}

// The AVX2 loops read every region as the plain ones do, to the bit: random
// changes small and large (clipped at 128 codes among them), none at all,
// 8 and 16 bits at each shift, host samples in every layout, on planes whose sides are no multiple of a
// region as well as SD and an HD band.
#if defined(__x86_64__)
TEST(Guard, TheWideLoopsReadEveryRegionAsThePlainOnes) {
    SKIP_WITHOUT_WIDE_LOOPS();
    std::mt19937 random(5);
    const auto same = [](const std::vector<luma::RegionSums>& plain, const std::vector<luma::RegionSums>& wide) {
        ASSERT_EQ(plain.size(), wide.size());
        for (size_t i = 0; i < plain.size(); ++i) {
            const luma::RegionSums &p = plain[i], &w = wide[i];
            ASSERT_EQ(p.count, w.count) << "region " << i;
            ASSERT_EQ(p.sum, w.sum) << "region " << i;
            ASSERT_EQ(p.squares, w.squares) << "region " << i;
            for (int axis = 0; axis < 2; ++axis)
                for (int k = 0; k < 3; ++k) {
                    ASSERT_EQ(p.along[axis][k], w.along[axis][k]) << "region " << i << " axis " << axis << " lag " << k;
                    ASSERT_EQ(p.pairs[axis][k], w.pairs[axis][k]) << "region " << i << " axis " << axis << " lag " << k;
                }
        }
    };
    const int sizes[][2] = {{720, 480}, {1920, 40}, {37, 21}, {16, 16}, {1, 3}, {5, 1}};
    for (const auto& size : sizes) {
        const int width = size[0], height = size[1];
        const size_t n = static_cast<size_t>(width) * height;
        for (int spread : {0, 3, 60, 65535}) {
            SCOPED_TRACE(::testing::Message() << width << "x" << height << ", changes up to " << spread);
            std::uniform_int_distribution<int> change(-spread, spread);
            std::vector<uint8_t> before8(n), after8(n);
            std::vector<uint16_t> before16(n), after16(n);
            for (size_t i = 0; i < n; ++i) {
                before16[i] = static_cast<uint16_t>(random());
                after16[i] = static_cast<uint16_t>(std::clamp(before16[i] + change(random), 0, 65535));
                before8[i] = static_cast<uint8_t>(before16[i] >> 8);
                after8[i] = static_cast<uint8_t>(std::clamp(before8[i] + change(random) / 64, 0, 255));
            }
            std::vector<luma::RegionSums> plain, wide;
            ASSERT_EQ(luma::read_regions(before8.data(), after8.data(), width, height, 0, plain),
                      luma::read_regions_avx2(before8.data(), after8.data(), width, height, 0, wide));
            same(plain, wide);
            for (int shift : {0, 2, 4}) {
                ASSERT_EQ(luma::read_regions(before16.data(), after16.data(), width, height, shift, plain),
                          luma::read_regions_avx2(before16.data(), after16.data(), width, height, shift, wide))
                    << "shift " << shift;
                same(plain, wide);
            }
            // Host samples: a plane, or every third (the Y of host pixels),
            // or every second, against each other.
            std::vector<int16_t> host(3 * n);
            for (size_t i = 0; i < host.size(); ++i) host[i] = static_cast<int16_t>(before16[i % n] + i / n);
            const int16_t* plane = reinterpret_cast<const int16_t*>(after16.data());
            for (const auto& steps : {std::pair<int, int>{1, 3}, {3, 3}, {3, 1}, {2, 1}}) {
                const int16_t* b = steps.first == 1 ? plane : host.data();
                const int16_t* a = steps.second == 1 ? plane : host.data() + 1;
                ASSERT_EQ(luma::read_regions(b, steps.first, a, steps.second, width, height, 4, plain),
                          luma::read_regions_avx2(b, steps.first, a, steps.second, width, height, 4, wide))
                    << "steps " << steps.first << ", " << steps.second;
                same(plain, wide);
            }
        }
    }
}
#endif

}  // namespace
}  // namespace zeverive::cli
