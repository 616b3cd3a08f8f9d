// Whole frames through every mode and variant: noise goes, edges stay, and
// the variants agree within what their kernels allow.

#include <gtest/gtest.h>

#include <cstdlib>

#include "host/callbacks.h"
#include "support/forced_variant.h"
#include "support/synthetic_frames.h"
#include "support/test_host.h"
#include "support/variants.h"

namespace {

using namespace zeverive;
using namespace zeverive_test;

TestFrame denoised(KernelVariant variant, int mode, const TestFrame& input, int vertical = 100) {
    ForcedVariant forced(variant);
    TestHost host;
    host.sliders[kSliderVertical] = vertical;
    host.set_slider(kSliderMode, mode);
    TestFrame frame = input;
    process_frame(&host.filter, &frame.info);
    return frame;
}

class EveryModeAndVariant : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(EveryModeAndVariant, RaisesThePsnrOfANoisyFrameAndKeepsAnEdge) {
    const auto [variant, mode] = GetParam();
    if (!variant_runs(variant)) GTEST_SKIP() << "processor lacks variant " << variant;

    for (const auto& [w, h] : {std::pair{256, 192}, std::pair{480, 432}}) {
        TestFrame clean(w, h);
        fill_smooth(clean);
        TestFrame noisy = clean;
        add_noise(noisy, 16, 17);  // one level of an 8-bit picture
        const TestFrame out = denoised(variant, mode, noisy);
        const double before = psnr(noisy, clean), after = psnr(out, clean);
        EXPECT_GT(after, before + 5.0) << w << "x" << h << ": " << before << " dB -> " << after << " dB";
    }

    TestFrame edge(320, 240);
    fill_edge(edge);
    add_noise(edge, 32, 23);
    const TestFrame out = denoised(variant, mode, edge);
    for (int y = 8; y < 232; y += 8) {
        const int left = out.at(157, y).y, right = out.at(162, y).y;
        EXPECT_LT(std::abs(left - 1000), 150) << "row " << y;
        EXPECT_LT(std::abs(right - 3000), 150) << "row " << y;
    }
}

INSTANTIATE_TEST_SUITE_P(Frames, EveryModeAndVariant,
                         ::testing::Combine(::testing::Values(0, 1, 2), ::testing::Values(0, 1, 2, 3)));

// The variants add their products in different orders (a few units in the
// last place) and compare at the threshold differently. In one pass that
// shows as rebuilt values on either side of an integer, so a sample differs
// by one here and there, and as the rare decision near a threshold that
// goes the other way, which moves a few samples by up to a threshold's
// worth. With both passes, the column pass's differences of one become
// input differences for the row pass, which move many more decisions. A
// wrong kernel differs everywhere and by far more.
TEST(VariantConsistency, FramesDifferOnlyByRoundingAndThresholdTies) {
    TestFrame input(480, 432);
    fill_smooth(input);
    add_noise(input, 48, 29);
    const long pixels = static_cast<long>(input.pixels.size());
    for (int mode = 0; mode < 4; ++mode) {
        for (int vertical : {0, 100}) {
            const TestFrame reference = denoised(kVariantX87, mode, input, vertical);
            for (KernelVariant v : {kVariant3DNow, kVariantSse}) {
                if (!variant_runs(v)) continue;
                const TestFrame other = denoised(v, mode, input, vertical);
                int largest = 0;
                long by_more_than_one = 0;
                for (long i = 0; i < pixels; ++i) {
                    const int d = std::abs(other.pixels[i].y - reference.pixels[i].y);
                    largest = std::max(largest, d);
                    by_more_than_one += d > 1;
                }
                const long allowed = vertical == 0 ? pixels / 2000 : pixels / 33;
                EXPECT_LE(largest, 64) << "mode " << mode << " variant " << v << " vertical " << vertical;
                EXPECT_LE(by_more_than_one, allowed) << "mode " << mode << " variant " << v << " vertical " << vertical;
            }
        }
    }
}

}  // namespace
