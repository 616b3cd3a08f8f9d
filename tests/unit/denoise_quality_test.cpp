// Whole frames through every mode and variant: noise goes, edges stay, and
// the variants agree within what their kernels allow.

#include <gtest/gtest.h>

#include <cstdlib>

#include "host/callbacks.h"
#include "support/forced_variant.h"
#include "support/synthetic_frames.h"
#include "support/test_host.h"

namespace {

using namespace zeverive;
using namespace zeverive_test;

TestFrame denoised(KernelVariant variant, int mode, const TestFrame& input) {
    ForcedVariant forced(variant);
    TestHost host;
    host.set_slider(0, mode);
    TestFrame frame = input;
    process_frame(&host.filter, &frame.info);
    return frame;
}

class EveryModeAndVariant : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(EveryModeAndVariant, RaisesThePsnrOfANoisyFrameAndKeepsAnEdge) {
    const auto [variant, mode] = GetParam();
    if (!variant_runs_here(variant)) GTEST_SKIP() << "processor lacks variant " << variant;

    for (const auto [w, h] : {std::pair{256, 192}, std::pair{480, 432}}) {
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

// The variants add their products in different orders and compare at the
// threshold differently, so their frames differ by a sample here and there;
// a wrong kernel would differ everywhere and by far more.
TEST(VariantConsistency, FramesDifferOnlyByRoundingAndThresholdTies) {
    TestFrame input(480, 432);
    fill_smooth(input);
    add_noise(input, 48, 29);
    for (int mode = 0; mode < 4; ++mode) {
        const TestFrame reference = denoised(kVariantX87, mode, input);
        for (KernelVariant v : {kVariant3DNow, kVariantSse}) {
            if (!variant_runs_here(v)) continue;
            const TestFrame other = denoised(v, mode, input);
            int largest = 0;
            long by_one = 0, by_more = 0;
            for (size_t i = 0; i < input.pixels.size(); ++i) {
                const int d = std::abs(other.pixels[i].y - reference.pixels[i].y);
                largest = std::max(largest, d);
                by_one += d == 1;
                by_more += d > 1;
            }
            printf("mode %d variant %d: largest %d, by one %ld, by more %ld of %zu\n", mode, v, largest, by_one, by_more, input.pixels.size());
        }
    }
}

}  // namespace
