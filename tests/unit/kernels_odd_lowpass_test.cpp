// The odd-phase low-pass kernels of mode 3: their taps, both wraps, the
// shortest lines, and how they relate to the x87 transform.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "support/kernel_cases.h"
#include "kernels/odd_lowpass.h"
#include "kernels/transform.h"

namespace {

using namespace zeverive;
using namespace zeverive_test;

TEST(OddLowpassSynthesis, ImpulseLandsOneSampleLate) {
    GuardedLine a(8), y(16);
    a.fill(0.0f);
    a[0] = 1.0f;
    odd_lowpass_synthesis(a.data(), 8, y.data());
    const float expected[16] = {0, kH0, kH1, kH2, kH3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    for (int t = 0; t < 16; ++t) EXPECT_EQ(y[t], expected[t]) << t;
    EXPECT_TRUE(y.guards_intact());
}

TEST(OddLowpassSynthesis, HalfLengthTwoWrapsBothPairs) {
    GuardedLine a(2), y(4);
    a[0] = 1.0f;
    a[1] = 0.0f;
    odd_lowpass_synthesis(a.data(), 2, y.data());
    EXPECT_EQ(y[0], kH3);
    EXPECT_EQ(y[1], kH0);
    EXPECT_EQ(y[2], kH1);
    EXPECT_EQ(y[3], kH2);

    a[0] = 3.0f;
    a[1] = -7.0f;
    odd_lowpass_synthesis(a.data(), 2, y.data());
    EXPECT_FLOAT_EQ(y[1], kH0 * 3.0 + kH2 * -7.0);
    EXPECT_FLOAT_EQ(y[2], kH1 * 3.0 + kH3 * -7.0);
    EXPECT_FLOAT_EQ(y[3], kH0 * -7.0 + kH2 * 3.0);
    EXPECT_FLOAT_EQ(y[0], kH1 * -7.0 + kH3 * 3.0);
    EXPECT_TRUE(y.guards_intact());
}

TEST(OddLowpassAnalysis, ImpulseAtSampleOneMeetsTheFirstAndThirdTaps) {
    GuardedLine x(8), a(4);
    x.fill(0.0f);
    x[1] = 1.0f;
    odd_lowpass_analysis(x.data(), 8, a.data());
    EXPECT_EQ(a[0], kH0);
    EXPECT_EQ(a[1], 0.0f);
    EXPECT_EQ(a[2], 0.0f);
    EXPECT_EQ(a[3], kH2);
    EXPECT_TRUE(a.guards_intact());
}

TEST(OddLowpassAnalysis, ConstantLineGivesVSqrt2) {
    GuardedLine x(832), a(416);
    x.fill(-250.0f);
    odd_lowpass_analysis(x.data(), 832, a.data());
    for (int i = 0; i < 416; ++i) EXPECT_NEAR(a[i], -250.0 * std::sqrt(2.0), 1e-4) << i;
    EXPECT_TRUE(a.guards_intact());
}

TEST(OddLowpassAnalysis, LengthFourWrapsBothOutputs) {
    GuardedLine x(4), a(2);
    const float samples[4] = {1.0f, 10.0f, 100.0f, 1000.0f};
    x.copy_from(samples);
    odd_lowpass_analysis(x.data(), 4, a.data());
    EXPECT_FLOAT_EQ(a[0], kH0 * 10.0 + kH1 * 100.0 + kH2 * 1000.0 + kH3 * 1.0);
    EXPECT_FLOAT_EQ(a[1], kH0 * 1000.0 + kH1 * 1.0 + kH2 * 10.0 + kH3 * 100.0);
    EXPECT_TRUE(a.guards_intact());
}

// The pipeline relies on these two identities to shift the low-pass branch
// by one sample; with the same double arithmetic the first holds exactly.
TEST(OddLowpass, IsTheX87TransformOfTheLineMovedByOneSample) {
    Random random(77);
    for (int length : kForwardLengths) {
        const int half = length / 2;
        std::vector<float> x(length), rotated(length), full(length), odd(half);
        for (float& v : x) v = random.fixed(14, 3);
        for (int t = 0; t < length; ++t) rotated[t] = x[(t + 1) % length];
        forward_transform_x87(rotated.data(), length, full.data());
        odd_lowpass_analysis(x.data(), length, odd.data());
        for (int i = 0; i < half; ++i) ASSERT_EQ(bits_of(odd[i]), bits_of(full[i])) << length << " " << i;

        std::vector<float> approx(half), zeros(half, 0.0f), rebuilt(length), shifted(length);
        for (float& v : approx) v = random.fixed(14, 3);
        inverse_transform_x87(approx.data(), zeros.data(), half, rebuilt.data());
        odd_lowpass_synthesis(approx.data(), half, shifted.data());
        for (int t = 0; t < length; ++t) ASSERT_EQ(shifted[(t + 1) % length], rebuilt[t]) << length << " " << t;
    }
}

TEST(OddLowpass, AnalysisUndoesSynthesis) {
    Random random(5);
    for (int half : kHalfLengths) {
        GuardedLine approx(half), line(2 * half), back(half);
        double energy = 0, error = 0;
        for (int j = 0; j < half; ++j) approx[j] = random.fixed(12, 4);
        odd_lowpass_synthesis(approx.data(), half, line.data());
        odd_lowpass_analysis(line.data(), 2 * half, back.data());
        for (int j = 0; j < half; ++j) {
            energy += double(approx[j]) * approx[j];
            error += (double(back[j]) - approx[j]) * (double(back[j]) - approx[j]);
        }
        EXPECT_LE(std::sqrt(error / energy), 1e-6) << half;
        EXPECT_TRUE(line.guards_intact());
        EXPECT_TRUE(back.guards_intact());
    }
}

}  // namespace
