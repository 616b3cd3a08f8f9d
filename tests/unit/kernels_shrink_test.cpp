// The three shrink operations in every variant: the test at equality, the
// mask, the joint decision of several phase lines, and what they must not
// touch.

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "cpu/kernel_table.h"
#include "support/kernel_cases.h"

namespace {

using namespace zeverive;
using namespace zeverive_test;

constexpr float kT = 40.96f;

class Shrink : public ::testing::TestWithParam<KernelVariant> {
  protected:
    void SetUp() override {
        if (!variant_runs(GetParam())) GTEST_SKIP() << "processor lacks " << kVariantNames[GetParam()];
        for (auto& line : lines_) line = std::make_unique<GuardedLine>(kLineLength);
        mask_.fill(0.0f);
    }
    bool simd() const { return GetParam() != kVariantX87; }

    // Runs the operation over the first `count` lines (1, 2 or 4).
    void shrink(int count, Band band, float threshold) {
        const KernelVariant v = GetParam();
        float* l[4] = {line(0), line(1), line(2), line(3)};
        if (count == 1) kernel_table.shrink_band[v](l[0], band.start, band.end, threshold, mask_.data());
        if (count == 2) kernel_table.shrink_band_2phase[v](l[0], l[1], band.start, band.end, threshold, mask_.data());
        if (count == 4)
            kernel_table.shrink_band_4phase[v](l[0], l[1], l[2], l[3], band.start, band.end, threshold, mask_.data());
    }
    float* line(int k) { return lines_[k]->data(); }

    ScratchScope scratch_;
    std::unique_ptr<GuardedLine> lines_[4];
    GuardedLine mask_{kLineLength};
};

constexpr Band kFirstBand = {52, 104};
constexpr int kLineCounts[] = {1, 2, 4};

TEST_P(Shrink, ThresholdZeroLeavesTheBandUnchanged) {
    Random random(1);
    for (int count : kLineCounts) {
        for (int k = 0; k < 4; ++k) {
            for (int i = 0; i < kLineLength; ++i) line(k)[i] = random.chance(4) ? 0.0f : random.fixed(8, 6);
            line(k)[60] = -0.0f;
        }
        std::vector<std::vector<float>> before;
        for (int k = 0; k < 4; ++k) before.emplace_back(line(k), line(k) + kLineLength);
        for (const Band& band : kBands) shrink(count, band, 0.0f);
        // A zero may lose its sign in the SIMD forms; as numbers nothing moved.
        for (int k = 0; k < count; ++k)
            for (int i = 0; i < kLineLength; ++i)
                ASSERT_EQ(line(k)[i], before[k][i]) << count << " lines, line " << k << " index " << i;
    }
}

TEST_P(Shrink, ProtectedPositionsNeverChange) {
    mask_.fill(1.0f);
    Random random(2);
    std::vector<float> small(kLineLength);
    for (float& x : small) x = random.fixed(10, 8);  // all well below the threshold
    for (int count : kLineCounts) {
        for (int k = 0; k < 4; ++k) lines_[k]->copy_from(small.data());
        for (const Band& band : kBands) shrink(count, band, kT);
        for (int k = 0; k < count; ++k)
            for (int i = 0; i < kLineLength; ++i)
                ASSERT_EQ(bits_of(line(k)[i]), bits_of(small[i])) << count << " lines, index " << i;
    }
}

TEST_P(Shrink, CoefficientAtThresholdIsKeptByX87AndClearedBySimd) {
    const float below = std::nextafter(kT, 0.0f), above = std::nextafter(kT, 100.0f);
    const float values[] = {kT, -kT, below, -below, above, -above, 1.0f, -1.0f};
    for (int count : kLineCounts) {
        for (int i = 0; i < 8; ++i)
            for (int k = 0; k < 4; ++k) line(k)[52 + i] = values[i];
        shrink(count, kFirstBand, kT);
        for (int k = 0; k < count; ++k) {
            const float* x = line(k) + 52;
            for (int i = 0; i < 2; ++i) {
                if (simd()) {
                    EXPECT_EQ(bits_of(x[i]), 0u) << count << " lines: +-threshold is cleared to +0.0";
                } else {
                    EXPECT_EQ(x[i], values[i]) << count << " lines: +-threshold is kept";
                }
            }
            EXPECT_EQ(x[2], 0.0f);
            EXPECT_EQ(x[3], 0.0f);
            EXPECT_EQ(x[4], above);
            EXPECT_EQ(x[5], -above);
            EXPECT_EQ(x[6], 0.0f);
            EXPECT_EQ(x[7], 0.0f);
        }
    }
}

TEST_P(Shrink, SimdClearsNegativeCoefficientsToPositiveZero) {
    line(0)[52] = -3.0f;
    shrink(1, kFirstBand, kT);
    EXPECT_EQ(line(0)[52], 0.0f);
    if (simd()) {
        EXPECT_EQ(bits_of(line(0)[52]), 0u);
    }
}

TEST_P(Shrink, TwoLinesDecideTogether) {
    for (int big : {0, 1}) {
        line(big)[52] = 2 * kT;
        line(1 - big)[52] = kT / 2;
        line(0)[53] = kT / 2;
        line(1)[53] = -kT / 2;
        shrink(2, kFirstBand, kT);
        EXPECT_EQ(line(big)[52], 2 * kT) << "large line " << big;
        EXPECT_EQ(line(1 - big)[52], kT / 2) << "a large coefficient in the other line protects it";
        EXPECT_EQ(line(0)[53], 0.0f);
        EXPECT_EQ(line(1)[53], 0.0f);
    }
}

TEST_P(Shrink, OneLargeLineOfFourKeepsAllFour) {
    for (int big = 0; big < 4; ++big) {
        for (int k = 0; k < 4; ++k) {
            line(k)[52] = k == big ? -2 * kT : kT / 2;
            line(k)[53] = -kT / 2;
        }
        shrink(4, kFirstBand, kT);
        for (int k = 0; k < 4; ++k) {
            EXPECT_EQ(line(k)[52], k == big ? -2 * kT : kT / 2) << "large line " << big << ", line " << k;
            EXPECT_EQ(line(k)[53], 0.0f) << k;
        }
    }
}

TEST_P(Shrink, WritesOnlyInsideTheBandAndNeverTheMask) {
    Random random(9);
    for (int count : kLineCounts) {
        for (const Band& band : kBands) {
            std::vector<std::vector<uint32_t>> before(4);
            for (int k = 0; k < 4; ++k) {
                for (int i = 0; i < kLineLength; ++i) {
                    line(k)[i] = random.fixed(5, 1);  // all below the threshold
                    before[k].push_back(bits_of(line(k)[i]));
                }
            }
            for (int i = 0; i < kLineLength; ++i) mask_[i] = float(random.below(2));
            std::vector<float> mask_before(mask_.data(), mask_.data() + kLineLength);
            shrink(count, band, kT);
            for (int k = 0; k < 4; ++k) {
                for (int i = 0; i < kLineLength; ++i) {
                    const bool inside = k < count && i >= band.start && i < band.end;
                    if (!inside || mask_[i] == 1.0f) {
                        ASSERT_EQ(bits_of(line(k)[i]), before[k][i]) << count << " lines, line " << k << " index " << i;
                    } else {
                        ASSERT_EQ(line(k)[i], 0.0f) << count << " lines, line " << k << " index " << i;
                    }
                }
                ASSERT_TRUE(lines_[k]->guards_intact()) << count << " lines, line " << k;
            }
            for (int i = 0; i < kLineLength; ++i) ASSERT_EQ(bits_of(mask_[i]), bits_of(mask_before[i])) << i;
            ASSERT_TRUE(mask_.guards_intact());
        }
    }
}

// Masks other than 0.0 and 1.0 never come from the edge masks, but they
// show the two ways of applying one: x87 scales, SIMD keeps or clears.
TEST_P(Shrink, FractionalMaskScalesInX87AndDecidesInSimd) {
    mask_[52] = 0.5f;
    mask_[53] = -0.5f;
    line(0)[52] = 8.0f;
    line(0)[53] = 8.0f;
    shrink(1, kFirstBand, kT);
    EXPECT_EQ(line(0)[52], simd() ? 8.0f : 4.0f);
    EXPECT_EQ(line(0)[53], simd() ? 0.0f : -4.0f);
}

INSTANTIATE_TEST_SUITE_P(Variants, Shrink, ::testing::Range(kVariantX87, kVariantCount),
                         [](const ::testing::TestParamInfo<KernelVariant>& info) {
                             return std::string(kVariantNames[info.param]);
                         });

TEST(ShrinkSimd, TheTwoSimdFormsAgreeEverywhere) {
    if (!variant_runs(kVariant3DNow) || !variant_runs(kVariantSse)) GTEST_SKIP() << "needs 3DNow! and SSE";
    ScratchScope scratch;
    Random random(3);
    GuardedLine a[2][4] = {{GuardedLine(kLineLength), GuardedLine(kLineLength), GuardedLine(kLineLength),
                            GuardedLine(kLineLength)},
                           {GuardedLine(kLineLength), GuardedLine(kLineLength), GuardedLine(kLineLength),
                            GuardedLine(kLineLength)}};
    GuardedLine mask(kLineLength);
    const float masks[] = {0.0f, 1.0f, 0.5f, -1.0f, -0.0f};
    for (int i = 0; i < kLineLength; ++i) {
        mask[i] = masks[random.below(5)];
        for (int k = 0; k < 4; ++k) {
            const float v = random.chance(5) ? kT : random.fixed(7, 1);
            a[0][k][i] = a[1][k][i] = random.chance(2) ? v : -v;
        }
    }
    for (const Band& band : kBands) {
        for (int form = 0; form < 2; ++form) {
            const KernelVariant v = form == 0 ? kVariant3DNow : kVariantSse;
            kernel_table.shrink_band[v](a[form][0].data(), band.start, band.end, kT, mask.data());
            kernel_table.shrink_band_2phase[v](a[form][1].data(), a[form][2].data(), band.start, band.end, kT,
                                               mask.data());
            kernel_table.shrink_band_4phase[v](a[form][0].data(), a[form][1].data(), a[form][2].data(),
                                               a[form][3].data(), band.start, band.end, kT / 2, mask.data());
        }
    }
    for (int k = 0; k < 4; ++k)
        for (int i = 0; i < kLineLength; ++i) ASSERT_EQ(bits_of(a[0][k][i]), bits_of(a[1][k][i])) << k << " " << i;
}

}  // namespace
