// Every output bit of the pipeline, pinned. Speed work on the line pipeline
// and the kernels must not change a single denoised sample: a variant's
// results are defined by the order of its operations, and reordering one
// sum, vectorising a scalar loop the wrong way or dropping a branch that
// matters shows up here as a different digest.
//
// The frames cover what the fast paths distinguish: both size classes in
// each direction, a row pitch wider than the frame, the vertical pass off,
// a skipped coarse level, the display, strong edges next to flat areas,
// thresholds that split noisy coefficients roughly evenly (so both outcomes
// of every shrink and edge test occur), and samples driven past the ends of
// the sample range. The digests were recorded with the straightforward
// pipeline and kernels, before any of them was tuned; the x86-64 and the
// i386 build must both reproduce them, as they must agree with each other.
//
// If a change is meant to alter results (never for speed), the failure
// message prints the new digest.

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <string>

#include "host/callbacks.h"
#include "host/slider_index.h"
#include "support/forced_variant.h"
#include "support/synthetic_frames.h"
#include "support/test_host.h"
#include "support/variants.h"

namespace {

using namespace zeverive_test;

struct DigestCase {
    int width, height, row_pitch;
    int noise;              // host-scale standard deviation
    bool edge;              // a hard vertical edge instead of the smooth scene
    int display;            // the display slider
    int vertical;           // the vertical factor
    int strength;           // percent
    int nr2;                // coarsest noise threshold: 0 skips the coarsest level
    int edge_level;         // every edge slider alike; -1 keeps the defaults
    bool finest_rows_x10;   // the check box
};

// Noise 187 is about 10 steps of 8-bit video, the usual test strength.
const DigestCase kCases[] = {
    {352, 288, 352, 187, false, 0, 100, 100, 20, -1, false},
    {720, 480, 720, 187, false, 0, 100, 100, 20, -1, false},
    {400, 600, 400, 187, false, 2, 100, 100, 20, -1, false},
    {832, 832, 832, 300, true, 0, 100, 200, 20, 150, true},
    {417, 300, 450, 60, false, 0, 0, 100, 0, -1, false},
    {300, 417, 300, 187, true, 1, 200, 100, 20, 0, false},
    {64, 40, 64, 9000, false, 0, 100, 100, 20, -1, false},
};

uint64_t fnv1a(uint64_t digest, int16_t sample) {
    const auto bits = static_cast<uint16_t>(sample);
    for (int shift = 0; shift < 16; shift += 8) {
        digest ^= (bits >> shift) & 0xFFu;
        digest *= 0x100000001b3ull;
    }
    return digest;
}

// The luminance of every case denoised in `mode` by the current variant.
uint64_t digest_of_mode(int mode) {
    uint64_t digest = 0xcbf29ce484222325ull;
    for (const DigestCase& c : kCases) {
        TestHost host;
        host.sliders[kSliderMode] = mode;
        if (c.edge_level >= 0) {
            for (int s = 0; s < kEdgeSliderCount; ++s) host.sliders[kSliderEdgeFirst + s] = c.edge_level;
        }
        host.sliders[kSliderShrinkFirst] = c.nr2;
        host.sliders[kSliderStrength] = c.strength;
        host.sliders[kSliderVertical] = c.vertical;
        host.sliders[kSliderDisplay] = c.display;
        host.checkbox[kCheckboxFinestRowsX10] = c.finest_rows_x10 ? 1 : 0;
        host.apply();
        TestFrame frame(c.width, c.height, c.row_pitch);
        if (c.edge) {
            fill_edge(frame);
        } else {
            fill_smooth(frame);
        }
        add_noise(frame, c.noise, static_cast<uint32_t>(c.width * 31 + c.height + mode));
        process_frame(&host.filter, &frame.info);
        for (int y = 0; y < c.height; ++y) {
            for (int x = 0; x < c.width; ++x) digest = fnv1a(digest, frame.at(x, y).y);
        }
    }
    return digest;
}

// Recorded per variant (x87, 3DNow!, SSE), modes 0 to 3. AVX2 must give
// SSE's samples, bit for bit.
const uint64_t kRecorded[zeverive::kPortableVariantCount][4] = {
    {0xea03716b26ad255c, 0x07fea446e94f0384, 0x9a16dec41eee8482, 0x9118a3b9602c8f70},
    {0x3356d36fddab8c7c, 0x421f57ca8ff04456, 0xdc64018e83f09507, 0xb00ebbabf42d45d9},
    {0xe7333e78f8e9e6e8, 0x33851288bde09560, 0xb9a4d63136511287, 0x914d7b7c04adbd37},
};

class OutputDigest : public ::testing::TestWithParam<int> {};

TEST_P(OutputDigest, EveryModeGivesTheRecordedSamples) {
    const int variant = GetParam();
    if (!variant_runs(variant)) GTEST_SKIP() << "variant " << variant << " UNTESTED (processor lacks it)";
    ForcedVariant forced(variant);
    const int recorded = variant < zeverive::kPortableVariantCount ? variant : zeverive::kVariantSse;
    for (int mode = 0; mode < 4; ++mode) {
        const uint64_t digest = digest_of_mode(mode);
        char text[32];
        std::snprintf(text, sizeof text, "0x%016" PRIx64, digest);
        EXPECT_EQ(digest, kRecorded[recorded][mode]) << "variant " << variant << " mode " << mode << ": " << text;
    }
}

std::string variant_name(const ::testing::TestParamInfo<int>& info) {
    static const char* const names[] = {"x87", "3dnow", "sse", "avx2"};
    return names[info.param];
}

INSTANTIATE_TEST_SUITE_P(Variants, OutputDigest, ::testing::Range(0, zeverive::kVariantCount), variant_name);

}  // namespace
