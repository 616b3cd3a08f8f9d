// edge_mask in every variant and edge_mask_pair: which entries a level may
// clear, the test at equality and at threshold 0, and how one line's edge
// protects a position in mode 3 but not across the phase lines of mode 1.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "common/single_precision.h"
#include "cpu/kernel_table.h"
#include "support/kernel_cases.h"
#include "kernels/edge_mask.h"

namespace {

using namespace zeverive;
using namespace zeverive_test;

class EdgeMask : public ::testing::TestWithParam<KernelVariant> {
  protected:
    void SetUp() override {
        if (!variant_runs(GetParam())) GTEST_SKIP() << "processor lacks " << kVariantNames[GetParam()];
    }
    bool simd() const { return GetParam() != kVariantX87; }
    void edge_mask(float* mask, int half, const float* line, float threshold) const {
        kernel_table.edge_mask[GetParam()](mask, half, line, threshold);
    }
};

// A line made of a flat stretch, a ramp and a flat stretch: d is 0 at every
// centre except the two corners of the ramp.
std::vector<float> flat_ramp_flat(int half) {
    std::vector<float> line(half);
    for (int j = 0; j < half; ++j) line[j] = j < half / 3 ? 5.0f : j < 2 * half / 3 ? 5.0f + 3.0f * (j - half / 3) : line[j - 1];
    return line;
}

TEST_P(EdgeMask, OnlyTheBandsInnerEntriesCanBeCleared) {
    for (int half : kHalfLengths) {
        GuardedLine mask(kLineLength);
        mask.fill(1.0f);
        std::vector<float> flat(half, 7.0f);
        edge_mask(mask.data(), half, flat.data(), 1.0f);
        for (int i = 0; i < kLineLength; ++i) {
            const bool inner = i > half && i < 2 * half - 1;
            ASSERT_EQ(mask[i], inner ? 0.0f : 1.0f) << "half " << half << " index " << i;
        }
        EXPECT_TRUE(mask.guards_intact()) << half;
    }
}

TEST_P(EdgeMask, EntriesAreOnlyEverLowered) {
    const int half = 52;
    GuardedLine mask(2 * half);
    for (int i = 0; i < 2 * half; ++i) mask[i] = float(i % 2);
    std::vector<float> line(half);
    for (int j = 0; j < half; ++j) line[j] = float(j % 2) * 100.0f;  // |d| = 200 at every centre
    edge_mask(mask.data(), half, line.data(), 10.0f);
    for (int i = 0; i < 2 * half; ++i) EXPECT_EQ(mask[i], float(i % 2)) << i;
}

TEST_P(EdgeMask, StraightStretchesAreShrinkableForAnyPositiveThreshold) {
    const int half = 104;
    const std::vector<float> line = flat_ramp_flat(half);
    for (float threshold : {1e-30f, 0.5f}) {
        GuardedLine mask(2 * half);
        mask.fill(1.0f);
        edge_mask(mask.data(), half, line.data(), threshold);
        for (int j = 1; j < half - 1; ++j) {
            const bool corner = j == half / 3 || j == 2 * half / 3 - 1;
            ASSERT_EQ(mask[half + j], corner ? 1.0f : 0.0f) << "threshold " << threshold << " centre " << j;
        }
    }
}

TEST_P(EdgeMask, ThresholdZeroClearsOnlyExactZerosAndOnlyInSimd) {
    const int half = 104;
    const std::vector<float> line = flat_ramp_flat(half);
    GuardedLine mask(2 * half);
    mask.fill(1.0f);
    edge_mask(mask.data(), half, line.data(), 0.0f);
    for (int j = 1; j < half - 1; ++j) {
        const bool corner = j == half / 3 || j == 2 * half / 3 - 1;
        ASSERT_EQ(mask[half + j], simd() && !corner ? 0.0f : 1.0f) << j;
    }
}

TEST_P(EdgeMask, SpikeKeepsOnlyItsOwnCentre) {
    const int half = 52;
    const float s = 9.0f;
    std::vector<float> line(half, 100.0f);
    line[20] += s;  // d = 2s at centre 20, -s at 19 and 21
    GuardedLine mask(2 * half);
    mask.fill(1.0f);
    edge_mask(mask.data(), half, line.data(), 1.5f * s);
    EXPECT_EQ(mask[half + 19], 0.0f);
    EXPECT_EQ(mask[half + 20], 1.0f);
    EXPECT_EQ(mask[half + 21], 0.0f);
}

TEST_P(EdgeMask, SecondDifferenceAtThresholdIsKeptByX87AndClearedBySimd) {
    const int half = 8;
    // Centres 1..6 get d = 4, -4, 4, -4, 4, -4 exactly.
    const float line[half] = {0, 2, 0, 2, 0, 2, 0, 2};
    GuardedLine mask(2 * half);
    mask.fill(1.0f);
    edge_mask(mask.data(), half, line, 4.0f);
    for (int j = 1; j < half - 1; ++j) EXPECT_EQ(mask[half + j], simd() ? 0.0f : 1.0f) << j;
    EXPECT_EQ(mask[half], 1.0f);
    EXPECT_EQ(mask[2 * half - 1], 1.0f);
}

// Modes 1 and 2: each phase line's call may only clear, so smoothness in
// any one line makes the position shrinkable.
TEST_P(EdgeMask, AcrossPhaseLinesOneSmoothLineSuffices) {
    const int half = 8;
    const float edged[half] = {0, 0, 0, 50, 0, 0, 0, 0};
    const float smooth[half] = {1, 1, 1, 1, 1, 1, 1, 1};
    GuardedLine mask(2 * half);
    mask.fill(1.0f);
    edge_mask(mask.data(), half, edged, 10.0f);
    EXPECT_EQ(mask[half + 3], 1.0f);
    edge_mask(mask.data(), half, smooth, 10.0f);
    EXPECT_EQ(mask[half + 3], 0.0f);
}

INSTANTIATE_TEST_SUITE_P(Variants, EdgeMask, ::testing::Range(kVariantX87, kVariantCount),
                         [](const ::testing::TestParamInfo<KernelVariant>& info) {
                             return std::string(kVariantNames[info.param]);
                         });

// Mode 3: the pair clears only where both lines are smooth, strictly below
// the threshold, whatever the variant.
TEST(EdgeMaskPair, AnEdgeInEitherLineProtectsThePosition) {
    const int half = 8;
    const float edged[half] = {0, 0, 0, 50, 0, 0, 0, 0};
    const float smooth[half] = {1, 1, 1, 1, 1, 1, 1, 1};
    for (int order = 0; order < 2; ++order) {
        GuardedLine mask(2 * half);
        mask.fill(1.0f);
        edge_mask_pair(mask.data(), half, order ? smooth : edged, order ? edged : smooth, 10.0f);
        for (int j = 1; j < half - 1; ++j)
            EXPECT_EQ(mask[half + j], j >= 2 && j <= 4 ? 1.0f : 0.0f) << "order " << order << " centre " << j;
        EXPECT_TRUE(mask.guards_intact());
    }
}

TEST(EdgeMaskPair, IsStrictAndClearsNothingAtThresholdZero) {
    const int half = 8;
    const float alternating[half] = {0, 2, 0, 2, 0, 2, 0, 2};  // |d| = 4 everywhere inside
    const float flat[half] = {3, 3, 3, 3, 3, 3, 3, 3};
    GuardedLine mask(2 * half);
    mask.fill(1.0f);
    edge_mask_pair(mask.data(), half, alternating, flat, 4.0f);
    edge_mask_pair(mask.data(), half, flat, flat, 0.0f);
    for (int i = 0; i < 2 * half; ++i) EXPECT_EQ(mask[i], 1.0f) << i;
    edge_mask_pair(mask.data(), half, alternating, flat, std::nextafter(4.0f, 5.0f));
    for (int i = 0; i < 2 * half; ++i) EXPECT_EQ(mask[i], i > half && i < 2 * half - 1 ? 0.0f : 1.0f) << i;
}

TEST(EdgeMaskPair, LeavesTheBandEndsAndEverythingOutsideAlone) {
    for (int half : kHalfLengths) {
        GuardedLine mask(kLineLength);
        mask.fill(1.0f);
        std::vector<float> flat(half, -2.0f);
        edge_mask_pair(mask.data(), half, flat.data(), flat.data(), 1.0f);
        for (int i = 0; i < kLineLength; ++i)
            ASSERT_EQ(mask[i], i > half && i < 2 * half - 1 ? 0.0f : 1.0f) << half << " " << i;
        EXPECT_TRUE(mask.guards_intact());
    }
}


// The scalar edge tests compare the double second difference with this
// bound instead of rounding it to single first; both must decide alike for
// every value. Checked at and around the rounding boundary of each
// threshold (the midpoint below it, the doubles next to it, the threshold
// and its neighbours), across a spread of values, for thresholds whose
// float below has an even or an odd significand, in every binade the
// sliders reach, at a binade's first float, among denormals and at the top
// of the range.
TEST(SingleRoundingBound, DecidesLikeRoundingToSingleThenComparing) {
    const float inf = std::numeric_limits<float>::infinity();
    const float tiny = std::numeric_limits<float>::denorm_min();
    std::vector<float> thresholds = {1.0f,  0.5f, 150.0f, 60.0f, 90.0f, 120.0f, 450.0f, 3.0f, 1e-3f, tiny, 2 * tiny,
                                     std::numeric_limits<float>::min(), std::numeric_limits<float>::max(), inf};
    for (float t = 0.75f; t < 600.0f; t *= 1.37f) {
        thresholds.push_back(t);
        thresholds.push_back(std::nextafter(t, 0.0f));
    }
    Random random(7);
    for (int i = 0; i < 300; ++i) {
        // Any positive finite float, from its bits.
        const uint32_t bits = 1 + random.below(0x7f7fffffu);
        float t;
        std::memcpy(&t, &bits, sizeof t);
        thresholds.push_back(t);
    }
    const double up = std::numeric_limits<double>::infinity();
    for (const float t : thresholds) {
        const double bound = single_rounding_bound(t);
        const float below = std::nextafter(t, 0.0f);
        const double midpoint = t == inf ? double(below) + std::ldexp(1.0, 103) : (double(below) + double(t)) / 2;
        std::vector<double> values = {0.0, double(below), double(t), double(std::nextafter(t, inf))};
        double lower = midpoint, upper = midpoint;
        values.push_back(midpoint);
        for (int k = 0; k < 3; ++k) {
            lower = std::nextafter(lower, 0.0);
            upper = std::nextafter(upper, up);
            values.push_back(lower);
            values.push_back(upper);
        }
        const double scale = t == inf ? 1e38 : double(t);
        for (int i = 0; i < 50; ++i) values.push_back(scale * std::ldexp(double(random.next() >> 11), -52));
        for (const double x : values) {
            const bool rounded = to_single(x) < t;
            ASSERT_EQ(x < bound, rounded) << "threshold " << t << " value " << x;
        }
    }
    // Nothing is below a threshold that is zero, negative or NaN.
    for (const float t : {0.0f, -0.0f, -1.0f, std::numeric_limits<float>::quiet_NaN()}) {
        EXPECT_FALSE(0.0 < single_rounding_bound(t)) << t;
    }
}

}  // namespace
