// The frame driver and the pass plan: size classes, thresholds, levels and
// edge thresholds of each pass, and frames the line buffers cannot hold.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "host/callbacks.h"
#include "host/filter_params.h"
#include "process/frame_driver.h"
#include "process/line_pipeline.h"
#include "common/sample_store.h"
#include "support/forced_variant.h"
#include "support/synthetic_frames.h"
#include "support/test_host.h"

namespace {

using namespace zeverive;
using namespace zeverive_test;

const float kDerived[4] = {16.384f, 24.576f, 32.768f, 40.96f};

FrameInfo frame_of(int width, int height) {
    FrameInfo f = {};
    f.width = width;
    f.height = height;
    f.row_pitch = width;
    return f;
}

TEST(SizeClass, FourHundredSixteenIsSmallFourHundredSeventeenIsLarge) {
    for (int length : {1, 100, 415, 416}) {
        const SizeClass s = size_class_of(length, kDerived);
        EXPECT_EQ(s.padded_length, 416) << length;
        EXPECT_EQ(s.levels, 3) << length;
        EXPECT_EQ(s.thresholds[3], 0.0f) << length;
        EXPECT_EQ(s.thresholds[2], kDerived[2]) << length;
    }
    for (int length : {417, 720, 832}) {
        const SizeClass s = size_class_of(length, kDerived);
        EXPECT_EQ(s.padded_length, 832) << length;
        EXPECT_EQ(s.levels, 4) << length;
        for (int i = 0; i < 4; ++i) EXPECT_EQ(s.thresholds[i], kDerived[i]) << length;
    }
}

TEST(PassPlan, FrameOf400By600) {
    const FrameInfo frame = frame_of(400, 600);
    const SizeClass columns = size_class_of(frame.height, kDerived);
    const LevelPlan column_levels = plan_levels(frame, columns.thresholds, columns.levels);
    EXPECT_EQ(columns.padded_length, 832);
    EXPECT_EQ(columns.thresholds[3], kDerived[3]);
    ASSERT_EQ(column_levels.levels_run, 4);
    const int column_edges[4] = {3, 2, 1, 0};
    for (int l = 0; l < 4; ++l) EXPECT_EQ(column_levels.edge_threshold_index[l], column_edges[l]) << l;

    const SizeClass rows = size_class_of(frame.width, kDerived);
    const LevelPlan row_levels = plan_levels(frame, rows.thresholds, rows.levels);
    EXPECT_EQ(rows.padded_length, 416);
    EXPECT_EQ(rows.thresholds[3], 0.0f);
    ASSERT_EQ(row_levels.levels_run, 3);
    const int row_edges[3] = {3, 2, 1};  // one above the shrink elements 2, 1, 0
    for (int l = 0; l < 3; ++l) EXPECT_EQ(row_levels.edge_threshold_index[l], row_edges[l]) << l;
}

TEST(PassPlan, SmallFramesUseTheLowerEdgeThresholdsInBothPasses) {
    for (const FrameInfo frame : {frame_of(400, 300), frame_of(416, 416)}) {
        const LevelPlan plan = plan_levels(frame, kDerived, 3);
        ASSERT_EQ(plan.levels_run, 3);
        EXPECT_EQ(plan.edge_threshold_index[0], 2);
        EXPECT_EQ(plan.edge_threshold_index[1], 1);
        EXPECT_EQ(plan.edge_threshold_index[2], 0);
    }
    EXPECT_EQ(plan_levels(frame_of(416, 417), kDerived, 3).edge_threshold_index[0], 3);
}

TEST(PassPlan, LeadingZeroThresholdsDropTheCoarsestLevels) {
    const FrameInfo frame = frame_of(720, 480);
    const float zeros[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    EXPECT_EQ(plan_levels(frame, zeros, 4).levels_run, 1);
    EXPECT_EQ(plan_levels(frame, zeros, 3).levels_run, 1);
    const float two_leading[4] = {0.0f, 0.0f, 5.0f, 7.0f};
    const LevelPlan two = plan_levels(frame, two_leading, 4);
    EXPECT_EQ(two.levels_run, 2);
    EXPECT_EQ(two.edge_threshold_index[0], 3);
    EXPECT_EQ(two.edge_threshold_index[1], 2);
    const float inner_zero[4] = {3.0f, 0.0f, 5.0f, 7.0f};
    EXPECT_EQ(plan_levels(frame, inner_zero, 4).levels_run, 4);
    const float only_finest[4] = {0.0f, 0.0f, 0.0f, 7.0f};
    EXPECT_EQ(plan_levels(frame, only_finest, 4).levels_run, 1);
}

class FrameDriver : public ::testing::Test {
  protected:
    ForcedVariant variant{kVariantX87};
    TestHost host;
};

// Only the finest band is shrunk: a 416-sample line has no such band, so its
// rows come back through one level and the truncation alone, while a
// 417-sample line loses most of its noise.
TEST_F(FrameDriver, SizeClassDecidesWhetherTheFinestBandIsShrunk) {
    for (int s = 0; s < 3; ++s) host.sliders[kSliderShrinkFirst + s] = 0;
    host.sliders[kSliderShrinkFirst + 3] = 100;
    host.sliders[kSliderVertical] = 0;
    host.apply();
    for (int width : {416, 417}) {
        TestFrame frame(width, 16);
        fill_smooth(frame);
        add_noise(frame, 40, 3);
        const TestFrame noisy = frame;
        process_frame(&host.filter, &frame.info);
        int moved = 0;
        for (size_t i = 0; i < frame.pixels.size(); ++i) moved += std::abs(frame.pixels[i].y - noisy.pixels[i].y) > 1;
        if (width == 416) {
            EXPECT_EQ(moved, 0);
        } else {
            EXPECT_GT(moved, static_cast<int>(frame.pixels.size()) / 2);
        }
    }
}

TEST_F(FrameDriver, VerticalFactorZeroLeavesTheColumnsAlone) {
    TestFrame frame(96, 64);
    for (int x = 0; x < 96; ++x) {
        const int16_t v = static_cast<int16_t>(1500 + ((x * 7919) % 211) * 5);
        for (int y = 0; y < 64; ++y) frame.at(x, y).y = v;
    }
    const TestFrame identical_rows = frame;
    host.set_slider(kSliderVertical, 0);
    process_frame(&host.filter, &frame.info);
    for (int y = 1; y < 64; ++y) {
        for (int x = 0; x < 96; ++x) ASSERT_EQ(frame.at(x, y).y, frame.at(x, 0).y) << x << "," << y;
    }
    // With the column pass on, the zero padding below each column changes
    // its last samples, so the rows no longer agree.
    TestFrame both = identical_rows;
    host.set_slider(kSliderVertical, 100);
    process_frame(&host.filter, &both.info);
    int differing = 0;
    for (int x = 0; x < 96; ++x) differing += both.at(x, 63).y != both.at(x, 0).y;
    EXPECT_GT(differing, 0);
}

TEST_F(FrameDriver, ZeroThresholdsReturnEveryModesPixelsUpToTheTruncation) {
    host.sliders[kSliderStrength] = 0;  // strength 0: every threshold 0.0
    host.sliders[kSliderVertical] = 0;  // one pass, so one truncation
    for (int mode = 0; mode < 4; ++mode) {
        host.sliders[kSliderMode] = mode;
        host.apply();
        for (int width : {300, 600}) {
            TestFrame frame(width, 40);
            fill_smooth(frame);
            add_noise(frame, 300, 11);
            frame.at(0, 0).y = 1000;  // very different first samples catch a misaligned phase store
            frame.at(1, 0).y = -200;
            frame.at(2, 0).y = 3000;
            const TestFrame input = frame;
            process_frame(&host.filter, &frame.info);
            for (size_t i = 0; i < frame.pixels.size(); ++i) {
                const int in = input.pixels[i].y, out = frame.pixels[i].y;
                // Rebuilt values fall a rounding error either side of the
                // sample; truncation toward zero then loses at most one.
                ASSERT_LE(std::abs(out - in), 1) << "mode " << mode << " width " << width << " pixel " << i;
                ASSERT_LE(std::abs(out), std::abs(in)) << "mode " << mode << " width " << width << " pixel " << i;
            }
        }
    }
}

TEST(SampleStore, TruncatesTowardZeroAndClampsInsteadOfWrapping) {
    EXPECT_EQ(to_sample(999.9999), 999);
    EXPECT_EQ(to_sample(-0.7), 0);
    EXPECT_EQ(to_sample(-1.5), -1);
    EXPECT_EQ(to_sample(32767.9), 32767);
    EXPECT_EQ(to_sample(40000.0), 32767);
    EXPECT_EQ(to_sample(-32768.5), -32768);
    EXPECT_EQ(to_sample(-1.0e9), -32768);
}

// A dark square on the brightest possible background rings above the top
// of the range next to its edges; those pixels must stay bright.
TEST_F(FrameDriver, RingingPastTheTopOfTheRangeStaysBright) {
    TestFrame frame(64, 64);
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 64; ++x) frame.at(x, y).y = (x >= 24 && x < 40 && y >= 24 && y < 40) ? -32768 : 32767;
    }
    process_frame(&host.filter, &frame.info);
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 64; ++x) {
            const bool inside = x >= 22 && x < 42 && y >= 22 && y < 42;
            if (!inside) {
                ASSERT_GT(frame.at(x, y).y, 30000) << x << "," << y;
            }
        }
    }
}

TEST_F(FrameDriver, FramesLargerThanTheLineBuffersAreLeftUnchanged) {
    for (const auto& [w, h] : {std::pair{833, 16}, std::pair{16, 833}}) {
        TestFrame frame(w, h);
        fill_smooth(frame);
        add_noise(frame, 50, 5);
        const TestFrame input = frame;
        EXPECT_EQ(process_frame(&host.filter, &frame.info), 1);
        for (size_t i = 0; i < frame.pixels.size(); ++i) ASSERT_EQ(frame.pixels[i].y, input.pixels[i].y) << w << "x" << h;
    }
}

TEST_F(FrameDriver, ASmallFrameDoesNotChangeTheNextLargeFrame) {
    TestFrame large(480, 432);
    fill_smooth(large);
    add_noise(large, 60, 9);
    TestFrame fresh = large;
    process_frame(&host.filter, &fresh.info);

    TestFrame small(200, 100);
    fill_smooth(small);
    process_frame(&host.filter, &small.info);
    EXPECT_EQ(filter_params.row_thresholds[3], kDerived[3]);
    EXPECT_EQ(filter_params.column_thresholds[3], kDerived[3]);
    process_frame(&host.filter, &large.info);
    for (size_t i = 0; i < large.pixels.size(); ++i) ASSERT_EQ(large.pixels[i].y, fresh.pixels[i].y) << i;
}

TEST_F(FrameDriver, ShortLinesWriteOnlyTheirOwnPixels) {
    const int sentinel = 12345;
    for (const auto& [mode, width] : {std::pair{1, 1}, std::pair{2, 1}, std::pair{2, 3}}) {
        host.set_slider(kSliderMode, mode);
        TestFrame frame(width, 24, width + 4);
        for (auto& p : frame.pixels) p = YcPixel{sentinel, 7, -7};
        for (int y = 0; y < 24; ++y) {
            for (int x = 0; x < width; ++x) frame.at(x, y).y = static_cast<int16_t>(1000 + 10 * y + x);
        }
        process_frame(&host.filter, &frame.info);
        for (int y = 0; y < 24; ++y) {
            for (int x = width; x < width + 4; ++x) ASSERT_EQ(frame.at(x, y).y, sentinel) << mode << " " << x << "," << y;
            for (int x = 0; x < width; ++x) {
                ASSERT_NE(frame.at(x, y).y, sentinel);
                ASSERT_EQ(frame.at(x, y).cb, 7);
            }
        }
    }
}

TEST_F(FrameDriver, AnUnknownModeLeavesTheSamplesAsTheyWere) {
    host.set_slider(kSliderMode, 7);
    TestFrame frame(120, 90);
    fill_smooth(frame);
    add_noise(frame, 80, 2);
    const TestFrame input = frame;
    process_frame(&host.filter, &frame.info);
    for (size_t i = 0; i < frame.pixels.size(); ++i) ASSERT_EQ(frame.pixels[i].y, input.pixels[i].y) << i;
}

TEST_F(FrameDriver, ZeroAndNegativeSizedFramesAreHarmless) {
    TestFrame empty(0, 0, 4);
    EXPECT_EQ(process_frame(&host.filter, &empty.info), 1);
    FrameInfo negative = frame_of(-5, 10);
    negative.frame_pixels = empty.pixels.data();
    EXPECT_EQ(process_frame(&host.filter, &negative), 1);
}

// Records a host should never send, or a damaged one: the frame comes back
// as an oversize frame does (result 1, pixels as they were), and nothing
// outside what the records describe is read (the sanitizer build catches
// any stray access; a null pointer would crash any build).
TEST_F(FrameDriver, RecordsItCannotReadSafelyLeaveTheFrameAlone) {
    TestFrame frame(40, 30);
    fill_smooth(frame);
    add_noise(frame, 60, 3);
    const TestFrame input = frame;
    auto unchanged = [&] {
        for (size_t i = 0; i < frame.pixels.size(); ++i)
            if (frame.pixels[i].y != input.pixels[i].y) return false;
        return true;
    };
    EXPECT_EQ(process_frame(nullptr, &frame.info), 1);
    EXPECT_EQ(process_frame(&host.filter, nullptr), 1);
    FrameInfo no_pixels = frame.info;
    no_pixels.frame_pixels = nullptr;
    EXPECT_EQ(process_frame(&host.filter, &no_pixels), 1);
    for (int32_t pitch : {39, 0, -40}) {
        FrameInfo overlapping = frame.info;
        overlapping.row_pitch = pitch;
        EXPECT_EQ(process_frame(&host.filter, &overlapping), 1) << pitch;
    }
    EXPECT_TRUE(unchanged());
    host.filter.slider_values = nullptr;
    EXPECT_EQ(process_frame(&host.filter, &frame.info), 1);
    EXPECT_TRUE(unchanged());
    // The same record, whole again, is processed as usual.
    host.filter.slider_values = host.sliders;
    process_frame(&host.filter, &frame.info);
    EXPECT_FALSE(unchanged());
}

// The single-phase store truncates straight from the float; it must give
// the sample the double path gives for every float, around every integer
// of the sample range and beyond it (the clamps), at the halves, and for
// signed zeros and tiny values.
TEST(SampleStore, FloatPathMatchesDoublePath) {
    std::vector<float> values = {0.0f, -0.0f, 1e-40f, -1e-40f, 1e-7f, -1e-7f, 3.0e38f, -3.0e38f, 1e9f, -1e9f};
    for (int i = -33000; i <= 33000; ++i) {
        const float v = static_cast<float>(i);
        for (const float x : {v, v + 0.5f, std::nextafter(v, 1e9f), std::nextafter(v, -1e9f)}) values.push_back(x);
    }
    for (const float x : values) {
        ASSERT_EQ(to_sample(x), to_sample(static_cast<double>(x))) << x;
    }
}

}  // namespace
