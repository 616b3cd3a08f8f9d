// forward_transform and inverse_transform in every variant: the numbers the
// filter pair pins down, the wrap at the end of the line, the short paths,
// the SSE step structure, and reconstruction.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "cpu/kernel_table.h"
#include "support/kernel_cases.h"
#include "kernels/transform.h"

namespace {

using namespace zeverive;
using namespace zeverive_test;

constexpr double kSqrt2 = 1.4142135623730951;

TEST(FilterPair, CoefficientsAreTheRoundedExactValuesWithTheirRelations) {
    EXPECT_EQ(bits_of(kH0), 0x3ef746eau);
    EXPECT_EQ(bits_of(kH1), 0x3f5625efu);
    EXPECT_EQ(bits_of(kH2), 0x3e6585f8u);
    EXPECT_EQ(bits_of(kH3), 0xbe0483eeu);
    EXPECT_EQ(bits_of(kG0), 0xbe0483eeu);
    EXPECT_EQ(bits_of(kG1), 0xbe6585f8u);
    EXPECT_EQ(bits_of(kG2), 0x3f5625efu);
    EXPECT_EQ(bits_of(kG3), 0xbef746eau);

    const double s3 = std::sqrt(3.0), d = 4.0 * kSqrt2;
    EXPECT_EQ(kH0, static_cast<float>((1 + s3) / d));
    EXPECT_EQ(kH3, static_cast<float>((1 - s3) / d));
    EXPECT_NEAR(double(kH0) + kH1 + kH2 + kH3, kSqrt2, 1e-7);
    EXPECT_NEAR(double(kG0) + kG1 + kG2 + kG3, 0.0, 1e-7);
    EXPECT_NEAR(1.0 * kG1 + 2.0 * kG2 + 3.0 * kG3, 0.0, 1e-6);
    EXPECT_NEAR(double(kH0) * kH0 + double(kH1) * kH1 + double(kH2) * kH2 + double(kH3) * kH3, 1.0, 1e-7);
}

class Transform : public ::testing::TestWithParam<KernelVariant> {
  protected:
    void SetUp() override {
        if (!variant_runs(GetParam())) GTEST_SKIP() << "processor lacks " << kVariantNames[GetParam()];
    }
    void forward(const float* src, int length, float* dst) const {
        kernel_table.forward_transform[GetParam()](src, length, dst);
    }
    void inverse(const float* a, const float* d, int half, float* dst) const {
        kernel_table.inverse_transform[GetParam()](a, d, half, dst);
    }
};

// Every output within the stated tolerance of the formula.
void expect_matches(const Reference& ref, const float* out, int n, const std::string& what) {
    for (int i = 0; i < n; ++i) {
        ASSERT_LE(std::fabs(out[i] - ref.value[i]), transform_tolerance(ref.magnitude[i]))
            << what << " output " << i << ": " << out[i] << " vs " << ref.value[i];
    }
}

// Against a mathematically exact value the rounding of the coefficients
// themselves adds at most u = 2^-24 relative to each product.
double ideal_tolerance(double magnitude) {
    return transform_tolerance(magnitude) + 0x1p-24 * magnitude;
}

TEST_P(Transform, ConstantLineHasApproximationsVSqrt2AndNoDetail) {
    for (int length : {16, 832}) {
        GuardedLine x(length), y(length);
        x.fill(1000.0f);
        forward(x.data(), length, y.data());
        const Reference ref = forward_reference(x.data(), length);
        for (int i = 0; i < length / 2; ++i) {
            EXPECT_NEAR(y[i], 1000.0 * kSqrt2, ideal_tolerance(ref.magnitude[i])) << i;
            EXPECT_NEAR(y[length / 2 + i], 0.0, ideal_tolerance(ref.magnitude[length / 2 + i])) << i;
        }
        EXPECT_TRUE(y.guards_intact());
    }
}

TEST_P(Transform, RampHasNoDetailButTheWrappedLastOne) {
    GuardedLine x(16), y(16);
    for (int t = 0; t < 16; ++t) x[t] = float(t);
    forward(x.data(), 16, y.data());
    const Reference ref = forward_reference(x.data(), 16);
    for (int i = 0; i < 7; ++i) EXPECT_NEAR(y[8 + i], 0.0, ideal_tolerance(ref.magnitude[8 + i])) << i;
    EXPECT_NEAR(y[15], -16 / (2 * kSqrt2), ideal_tolerance(ref.magnitude[15]));
    EXPECT_NEAR(y[15], -5.656854f, 4e-6f);
}

TEST_P(Transform, UnitImpulseGivesTheFilterTapsAtBothEnds) {
    GuardedLine x(16), y(16);
    x.fill(0.0f);
    x[0] = 1.0f;
    forward(x.data(), 16, y.data());
    // Every product is a coefficient times 1 or 0, so the results are exact.
    for (int i = 0; i < 8; ++i) {
        const float a = i == 0 ? kH0 : i == 7 ? kH2 : 0.0f;
        const float d = i == 0 ? kG0 : i == 7 ? kG2 : 0.0f;
        EXPECT_EQ(y[i], a) << i;
        EXPECT_EQ(y[8 + i], d) << i;
    }
}

TEST_P(Transform, ShortestLineOfTheVariantMatchesTheFormula) {
    const int shortest_length[] = {2, 4, 16, 16};
    const int length = shortest_length[GetParam()];
    GuardedLine x(length), y(length), back(length);
    for (int t = 0; t < length; ++t) x[t] = float(3 * t * t - 7 * t + 5);
    forward(x.data(), length, y.data());
    expect_matches(forward_reference(x.data(), length), y.data(), length, "forward");
    inverse(y.data(), y.data() + length / 2, length / 2, back.data());
    expect_matches(inverse_reference(y.data(), y.data() + length / 2, length / 2), back.data(), length, "inverse");
    EXPECT_TRUE(y.guards_intact());
    EXPECT_TRUE(back.guards_intact());
}

TEST_P(Transform, ReconstructsTheLineAndPreservesItsEnergy) {
    Random random(20240611 + GetParam());
    for (int length : kForwardLengths) {
        GuardedLine x(length), y(length), back(length);
        for (int t = 0; t < length; ++t) x[t] = random.fixed(12, 4);
        forward(x.data(), length, y.data());
        inverse(y.data(), y.data() + length / 2, length / 2, back.data());
        double signal = 0, coefficients = 0, error = 0;
        for (int t = 0; t < length; ++t) {
            signal += double(x[t]) * x[t];
            coefficients += double(y[t]) * y[t];
            error += (double(back[t]) - x[t]) * (double(back[t]) - x[t]);
        }
        EXPECT_LE(std::sqrt(error / signal), 1e-6) << length;
        EXPECT_NEAR(coefficients / signal, 1.0, 1e-6) << length;
        EXPECT_TRUE(back.guards_intact());
    }
}

INSTANTIATE_TEST_SUITE_P(Variants, Transform, ::testing::Range(kVariantX87, kVariantCount),
                         [](const ::testing::TestParamInfo<KernelVariant>& info) {
                             return std::string(kVariantNames[info.param]);
                         });

// The x87 form's one-pair line: both samples meet two taps each.
TEST(TransformX87, LengthTwoFoldsTheFilterOntoTwoSamples) {
    const float x[2] = {3.0f, -5.0f};
    float y[2], back[2];
    forward_transform_x87(x, 2, y);
    EXPECT_FLOAT_EQ(y[0], (double(kH0) + kH2) * 3.0 + (double(kH1) + kH3) * -5.0);
    EXPECT_FLOAT_EQ(y[1], (double(kG0) + kG2) * 3.0 + (double(kG1) + kG3) * -5.0);
    inverse_transform_x87(y, y + 1, 1, back);
    EXPECT_NEAR(back[0], 3.0f, 1e-6f);
    EXPECT_NEAR(back[1], -5.0f, 1e-6f);
}

TEST(TransformX87, LengthFourWrapsItsSecondPair) {
    const float x[4] = {1.0f, 10.0f, 100.0f, 1000.0f};
    float y[4];
    forward_transform_x87(x, 4, y);
    EXPECT_FLOAT_EQ(y[1], kH0 * 100.0 + kH1 * 1000.0 + kH2 * 1.0 + kH3 * 10.0);
    EXPECT_FLOAT_EQ(y[3], kG0 * 100.0 + kG1 * 1000.0 + kG2 * 1.0 + kG3 * 10.0);
}

// The SSE forms work in steps of two pairs, two steps per loop iteration,
// with the wrap in a step of its own. A wrong count shows as an output left
// unwritten, a write past the line, or a sample from beyond the line (the
// poison) reaching an output.
class TransformSseSteps : public ::testing::TestWithParam<int> {
  protected:
    void SetUp() override {
        if (!variant_runs(kVariantSse)) GTEST_SKIP() << "processor lacks SSE";
    }
};

TEST_P(TransformSseSteps, ForwardWritesEveryPairFromTheLineAlone) {
    const int length = GetParam();
    GuardedLine x(length + 8), y(length);
    Random random(length);
    x.fill(std::nanf(""));
    for (int t = 0; t < length; ++t) x[t] = random.fixed(10, 2);
    y.fill(std::nanf(""));
    forward_transform_sse(x.data(), length, y.data());
    expect_matches(forward_reference(x.data(), length), y.data(), length, "forward");
    EXPECT_TRUE(y.guards_intact());
}

TEST_P(TransformSseSteps, InverseWritesEverySampleFromItsCoefficientsAlone) {
    const int half = GetParam() / 2;
    GuardedLine a(half), d(half), y(2 * half);
    Random random(half);
    for (int j = 0; j < half; ++j) {
        a[j] = random.fixed(10, 2);
        d[j] = random.fixed(10, 2);
    }
    y.fill(std::nanf(""));
    inverse_transform_sse(a.data(), d.data(), half, y.data());
    expect_matches(inverse_reference(a.data(), d.data(), half), y.data(), 2 * half, "inverse");
    EXPECT_TRUE(y.guards_intact());
    // The guards around the coefficients are NaN patterns: a read of one
    // would have turned an output into NaN above.
}

INSTANTIATE_TEST_SUITE_P(Lengths, TransformSseSteps, ::testing::Values(16, 104, 24, 832));

}  // namespace
