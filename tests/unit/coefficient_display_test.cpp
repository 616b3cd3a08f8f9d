// The coefficient display: grey levels, the centred view, the averaging of
// each mode and positions outside the decomposed line.

#include <gtest/gtest.h>

#include <vector>

#include "host/callbacks.h"
#include "process/coefficient_display.h"
#include "support/forced_variant.h"
#include "support/synthetic_frames.h"
#include "support/test_host.h"

namespace {

using namespace zeverive;
using namespace zeverive_test;

// Phase lines with room on both sides, filled with a value that would show
// if the display read outside [0, L).
struct DisplayLines {
    static constexpr float kOutside = 9.0f;
    std::vector<float> storage[4];
    LineBuffers lines = {};

    DisplayLines() {
        float** targets[4] = {&lines.shift0, &lines.shift1, &lines.shift2, &lines.shift3};
        for (int i = 0; i < 4; ++i) {
            storage[i].assign(8 + 832 + 8, kOutside);
            *targets[i] = storage[i].data() + 8;
            std::fill(*targets[i], *targets[i] + 832, 0.0f);
        }
    }
};

std::vector<YcPixel> show(const DisplayLines& d, Mode mode, int padded_length, int32_t value, int n) {
    std::vector<YcPixel> row(n + 1, YcPixel{-1, 5, 5});
    display_coefficients(d.lines, mode, padded_length, value, row.data(), n);
    EXPECT_EQ(row[n].y, -1) << "wrote past the row";
    EXPECT_EQ(row[n].cb, 5);
    row.pop_back();
    return row;
}

TEST(CoefficientDisplay, GreyLevelsOfSingleCoefficients) {
    DisplayLines d;
    const float coefficients[] = {15.9f, 16.0f, -3.5f, 200.0f, 40000.0f, 0.0f, 1.0f, -15.99f};
    const int16_t grey[] = {3840, 4095, 768, 4095, 4095, 0, 256, 3840};
    for (int k = 0; k < 8; ++k) d.lines.shift0[k] = coefficients[k];
    const auto row = show(d, Mode::kSinglePhase, 416, 1, 8);
    for (int k = 0; k < 8; ++k) {
        EXPECT_EQ(row[k].y, grey[k]) << coefficients[k];
        EXPECT_EQ(row[k].cb, 0);
        EXPECT_EQ(row[k].cr, 0);
    }
}

TEST(CoefficientDisplay, ValueTwoCentresTheView) {
    DisplayLines d;
    d.lines.shift0[55] = 5.0f;
    d.lines.shift0[7] = 6.0f;
    EXPECT_EQ(show(d, Mode::kSinglePhase, 832, 2, 720)[0].y, 5 * 256);
    EXPECT_EQ(show(d, Mode::kSinglePhase, 416, 2, 400)[0].y, 6 * 256);

    d.lines.shift0[0] = 2.0f;
    EXPECT_EQ(show(d, Mode::kSinglePhase, 416, 2, 416)[0].y, 2 * 256);  // n = L: no offset
}

TEST(CoefficientDisplay, OtherNonzeroValuesShowTheLineFromItsStart) {
    DisplayLines d;
    d.lines.shift0[7] = 6.0f;
    for (int32_t value : {1, 3, -1}) EXPECT_EQ(show(d, Mode::kSinglePhase, 416, value, 400)[7].y, 6 * 256) << value;
}

TEST(CoefficientDisplay, TwoPhasesAreAveragedBeforeTheMagnitude) {
    DisplayLines d;
    d.lines.shift0[4] = 3.0f;
    d.lines.shift2[4] = -5.0f;
    EXPECT_EQ(show(d, Mode::kTwoPhaseAverage, 416, 1, 8)[4].y, 256);  // trunc(-1.0) -> 1
}

TEST(CoefficientDisplay, FourPhasesAreAveragedAtOnePosition) {
    DisplayLines d;
    d.lines.shift0[4] = 3.0f;
    d.lines.shift1[4] = 11.0f;
    d.lines.shift2[4] = -5.0f;
    d.lines.shift3[4] = 7.0f;
    EXPECT_EQ(show(d, Mode::kFourPhaseAverage, 416, 1, 8)[4].y, 4 * 256);  // (3 + 7 - 5 + 11) / 4
}

TEST(CoefficientDisplay, ShiftedLowpassAveragesMagnitudesOnePositionApart) {
    DisplayLines d;
    d.lines.shift2[4] = 3.0f;
    d.lines.shift0[5] = -5.0f;  // one position further on
    d.lines.shift0[4] = 100.0f;
    EXPECT_EQ(show(d, Mode::kShiftedLowpass, 416, 1, 8)[4].y, 4 * 256);
}

// n = L - 1 with the centred view starts one position before the line.
TEST(CoefficientDisplay, APositionBeforeTheLineReadsAsZero) {
    DisplayLines d;
    d.lines.shift0[0] = 3.0f;
    const auto centred = show(d, Mode::kSinglePhase, 416, 2, 415);
    EXPECT_EQ(centred[0].y, 0);
    EXPECT_EQ(centred[1].y, 3 * 256);
}

// Mode 3 pairs the last position with the one past the line.
TEST(CoefficientDisplay, APositionPastTheLineReadsAsZero) {
    DisplayLines d;
    d.lines.shift2[831] = 4.0f;
    const auto full = show(d, Mode::kShiftedLowpass, 832, 1, 832);
    EXPECT_EQ(full[831].y, 2 * 256);
}

TEST(CoefficientDisplay, UnknownModeShowsTheSampleThroughTheGreyScale) {
    DisplayLines d;
    std::vector<YcPixel> row = {{3, 9, 9}, {15, 9, 9}, {16, 9, 9}, {2000, 9, 9}, {-200, 9, 9}};
    display_coefficients(d.lines, Mode::kUnknown, 416, 1, row.data(), 5);
    const int16_t expected[] = {768, 3840, 4095, 4095, -32768};
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(row[k].y, expected[k]) << k;
        EXPECT_EQ(row[k].cb, 0);
        EXPECT_EQ(row[k].cr, 0);
    }
}

TEST(CoefficientDisplay, ShowsTheRowsOfTheColumnDenoisedFrame) {
    ForcedVariant variant(kVariantX87);
    TestHost host;
    TestFrame frame(160, 120);
    fill_smooth(frame);
    add_noise(frame, 100, 4);

    // The columns of the frame are the rows of its transpose, and with the
    // check box off both directions use the same thresholds.
    TestFrame transposed(120, 160);
    for (int y = 0; y < 120; ++y) {
        for (int x = 0; x < 160; ++x) transposed.at(y, x) = frame.at(x, y);
    }
    host.set_slider(kSliderVertical, 0);
    process_frame(&host.filter, &transposed.info);
    TestFrame columns_done(160, 120);
    for (int y = 0; y < 120; ++y) {
        for (int x = 0; x < 160; ++x) columns_done.at(x, y) = transposed.at(y, x);
    }
    host.set_slider(kSliderDisplay, 1);
    process_frame(&host.filter, &columns_done.info);

    host.set_slider(kSliderVertical, 100);
    process_frame(&host.filter, &frame.info);
    for (size_t i = 0; i < frame.pixels.size(); ++i) {
        ASSERT_EQ(frame.pixels[i].y, columns_done.pixels[i].y) << i;
        ASSERT_EQ(frame.pixels[i].cb, 0);
        ASSERT_EQ(frame.pixels[i].cr, 0);
    }
}

}  // namespace
