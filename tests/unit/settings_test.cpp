// Slider values to working parameters, to the bit.

#include <gtest/gtest.h>

#include <cstring>

#include "common/single_precision.h"
#include "host/filter_params.h"
#include "host/slider_index.h"
#include "platform/x87_precision.h"
#include "support/test_host.h"

namespace {

using zeverive::filter_params;
using zeverive::to_single;
using zeverive_test::TestHost;

uint32_t bits(float value) {
    uint32_t b;
    std::memcpy(&b, &value, sizeof b);
    return b;
}

TEST(Settings, DefaultSlidersGiveTheReferenceParameters) {
    TestHost host;
    EXPECT_EQ(bits(filter_params.strength), bits(1.0f));
    EXPECT_EQ(bits(filter_params.vertical_factor), bits(1.0f));
    const uint32_t rows[4] = {0x4183126E, 0x41C49BA6, 0x4203126E, 0x4223D70A};
    const float edges[4] = {60.0f, 90.0f, 120.0f, 150.0f};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(bits(filter_params.row_thresholds[i]), rows[i]) << i;
        EXPECT_EQ(bits(filter_params.column_thresholds[i]), rows[i]) << i;
        EXPECT_EQ(filter_params.edge_thresholds[i], edges[i]) << i;
    }
    EXPECT_EQ(filter_params.mode, 3);
}

TEST(Settings, CheckboxScalesOnlyTheFinestRowBandRoundingHalfToEven) {
    TestHost host;
    host.checkbox[kCheckboxFinestRowsX10] = 1;
    host.apply();
    EXPECT_EQ(bits(filter_params.row_thresholds[3]), 0x43CCCCCCu);
    EXPECT_EQ(bits(filter_params.column_thresholds[3]), 0x4223D70Au);
    EXPECT_EQ(bits(filter_params.row_thresholds[2]), 0x4203126Eu);
}

TEST(Settings, OnlyACheckboxValueOfExactlyOneScales) {
    TestHost host;
    host.checkbox[kCheckboxFinestRowsX10] = 2;
    host.apply();
    EXPECT_EQ(bits(filter_params.row_thresholds[3]), 0x4223D70Au);
}

// Slider 5 x 0.8192 is kept wide before the strength multiplies it; rounding
// it to single first gives 0x3D27C5AB. On the i386 build this also shows
// the x87 unit works at 53 bits: at 64 bits the result differs as well.
TEST(Settings, ShrinkThresholdKeepsTheIntermediateProductWide) {
    TestHost host;
    host.sliders[kSliderStrength] = 1;
    host.sliders[kSliderShrinkFirst] = 5;
    host.apply();
    EXPECT_EQ(bits(filter_params.strength), 0x3C23D70Au);
    EXPECT_EQ(bits(filter_params.row_thresholds[0]), 0x3D27C5ACu);
}

TEST(Settings, ZeroStrengthClearsTheNoiseThresholdsButNotTheEdges) {
    TestHost host;
    host.sliders[kSliderStrength] = 0;
    host.apply();
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(filter_params.row_thresholds[i], 0.0f);
        EXPECT_EQ(filter_params.column_thresholds[i], 0.0f);
    }
    EXPECT_EQ(filter_params.edge_thresholds[3], 150.0f);
}

TEST(Settings, ZeroVerticalFactorClearsOnlyTheColumnThresholds) {
    TestHost host;
    host.sliders[kSliderVertical] = 0;
    host.apply();
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(filter_params.column_thresholds[i], 0.0f);
        EXPECT_GT(filter_params.row_thresholds[i], 0.0f);
    }
}

TEST(Settings, ValuesOutsideTheSliderRangesAreUsedAsTheyAre) {
    TestHost host;
    host.sliders[kSliderMode] = -7;
    host.sliders[kSliderEdgeFirst + 3] = 65535;
    host.apply();
    EXPECT_EQ(filter_params.mode, -7);
    EXPECT_EQ(filter_params.edge_thresholds[3], 196605.0f);
}

// Every combination of strength and one shrink slider against the
// definition: integer times 0.8192f at double precision, times the stored
// single-precision strength, rounded once.
TEST(Settings, EveryStrengthAndShrinkSliderMatchesTheWideProduct) {
    TestHost host;
    int wide_differs_from_narrow = 0;
    for (int strength = 0; strength <= 200; ++strength) {
        host.sliders[kSliderStrength] = strength;
        for (int slider = 0; slider <= 100; slider += 1) {
            host.sliders[kSliderShrinkFirst + 3] = slider;
            host.apply();
            const float stored_strength = to_single(static_cast<double>(strength) * 0.01f);
            const float expected = to_single(static_cast<double>(slider) * 0.8192f * stored_strength);
            ASSERT_EQ(bits(filter_params.row_thresholds[3]), bits(expected)) << strength << " " << slider;
            const float narrow =
                to_single(static_cast<double>(to_single(static_cast<double>(slider) * 0.8192f)) * stored_strength);
            wide_differs_from_narrow += bits(narrow) != bits(expected);
        }
    }
    // About a quarter of the combinations tell the two roundings apart; the
    // comparison above would not notice a narrow product otherwise.
    EXPECT_GT(wide_differs_from_narrow, 3000);
}

#if defined(__i386__)
TEST(Settings, X87PrecisionControlIsSetTo53BitsAtStartUp) {
    EXPECT_EQ(zeverive::x87_control_word() & zeverive::kX87PrecisionMask, zeverive::kX87Precision53);
}
#endif

}  // namespace
