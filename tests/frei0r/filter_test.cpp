// The frei0r filter through its C interface, as a host calls it: the
// parameter mapping, the colour handling, and several instances at once.
extern "C" {
#include <frei0r.h>
}

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "host/records.h"
#include "parameters.h"
#include "rgb_luma.h"

namespace {

using namespace zeverive::frei0r;

constexpr int kWidth = 200;
constexpr int kHeight = 120;
constexpr int kStrengthParameter = kFirstSliderParameter + 9;
constexpr int kModeParameter = kFirstSliderParameter + 0;

// A picture of coloured ramps with noise; frame `number` moves the noise.
std::vector<uint32_t> noisy_frame(int number) {
    std::mt19937 random(1234u + static_cast<uint32_t>(number));
    std::normal_distribution<double> noise(0.0, 6.0);
    std::vector<uint32_t> frame(kWidth * kHeight);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const double shift = noise(random);
            uint8_t pixel[4] = {
                static_cast<uint8_t>(std::clamp(40.0 + x + shift, 0.0, 255.0)),
                static_cast<uint8_t>(std::clamp(60.0 + y + shift, 0.0, 255.0)),
                static_cast<uint8_t>(std::clamp(150.0 - x / 2 + shift, 0.0, 255.0)),
                static_cast<uint8_t>(x + y),
            };
            std::memcpy(&frame[y * kWidth + x], pixel, 4);
        }
    }
    return frame;
}

struct Settings {
    bool automatic;
    double mode;
    double strength;
};

f0r_instance_t make_instance(const Settings& settings) {
    f0r_instance_t instance = f0r_construct(kWidth, kHeight);
    double automatic = settings.automatic ? 1.0 : 0.0;
    double mode = settings.mode;
    double strength = settings.strength;
    f0r_set_param_value(instance, &automatic, kAutoParameter);
    f0r_set_param_value(instance, &mode, kModeParameter);
    f0r_set_param_value(instance, &strength, kStrengthParameter);
    return instance;
}

constexpr int kFrames = 4;

std::vector<std::vector<uint32_t>> run(f0r_instance_t instance, int first_frame) {
    std::vector<std::vector<uint32_t>> outputs;
    for (int i = 0; i < kFrames; ++i) {
        const std::vector<uint32_t> in = noisy_frame(first_frame + i);
        outputs.emplace_back(in.size());
        f0r_update(instance, i, in.data(), outputs.back().data());
    }
    return outputs;
}

std::vector<std::vector<uint32_t>> run_alone(const Settings& settings, int first_frame) {
    f0r_instance_t instance = make_instance(settings);
    auto outputs = run(instance, first_frame);
    f0r_destruct(instance);
    return outputs;
}

const Settings kLight{false, 0.0, 0.5};
const Settings kAutomatic{true, 1.0, 0.5};

TEST(Frei0rParameters, EndsAndDefaultsMapExactly) {
    f0r_init();
    f0r_plugin_info_t info;
    f0r_get_plugin_info(&info);
    ASSERT_EQ(info.num_params, kParameterCount);
    const FilterTable& table = *GetFilterTable();
    f0r_instance_t instance = f0r_construct(kWidth, kHeight);
    for (int i = 0; i < kSliderCount; ++i) {
        const int index = kFirstSliderParameter + i;
        const int32_t min = table.slider_minimums[i];
        const int32_t max = table.slider_maximums[i];
        double value = -1;
        f0r_get_param_value(instance, &value, index);
        EXPECT_EQ(slider_from_double(value, min, max), table.slider_defaults[i]) << "slider " << i;
        for (int32_t v = min; v <= max; ++v)
            EXPECT_EQ(slider_from_double(slider_to_double(v, min, max), min, max), v) << "slider " << i;
        EXPECT_EQ(slider_from_double(0.0, min, max), min);
        EXPECT_EQ(slider_from_double(1.0, min, max), max);
        EXPECT_EQ(slider_from_double(-3.0, min, max), min);
        EXPECT_EQ(slider_from_double(7.0, min, max), max);
        EXPECT_EQ(slider_from_double(std::nan(""), min, max), min);
    }
    double automatic = 0;
    f0r_get_param_value(instance, &automatic, kAutoParameter);
    EXPECT_EQ(automatic, 1.0);
    // The amount: 0.25 to 4 on a doubling scale, 1 in the middle, and what
    // a host reads back gives the same amount again.
    double amount = -1;
    f0r_get_param_value(instance, &amount, kAmountParameter);
    EXPECT_DOUBLE_EQ(amount, 0.5);
    EXPECT_DOUBLE_EQ(amount_from_double(0.5), 1.0);
    EXPECT_DOUBLE_EQ(amount_from_double(0.0), 0.25);
    EXPECT_DOUBLE_EQ(amount_from_double(1.0), 4.0);
    EXPECT_DOUBLE_EQ(amount_from_double(0.75), 2.0);
    EXPECT_DOUBLE_EQ(amount_from_double(std::nan("")), 0.25);
    for (double a : {0.3, 1.5, 3.7}) EXPECT_NEAR(amount_from_double(amount_to_double(a)), a, 1e-12);
    f0r_destruct(instance);
    f0r_deinit();
}

// With auto on, a larger amount takes out more, a smaller one less.
TEST(Frei0rParameters, TheAmountMovesTheAutomaticSettings) {
    f0r_init();
    std::vector<double> changes;
    for (double amount : {0.0, 0.5, 1.0}) {
        f0r_instance_t instance = make_instance(kAutomatic);
        f0r_set_param_value(instance, &amount, kAmountParameter);
        const std::vector<std::vector<uint32_t>> outputs = run(instance, 20);
        f0r_destruct(instance);
        double change = 0;
        for (int f = 0; f < kFrames; ++f) {
            const std::vector<uint32_t> in = noisy_frame(20 + f);
            for (size_t i = 0; i < in.size(); ++i) change += std::abs(int(in[i] & 0xFF) - int(outputs[f][i] & 0xFF));
        }
        changes.push_back(change);
    }
    EXPECT_LT(changes[0], changes[1]);
    EXPECT_LT(changes[1], changes[2]);
    f0r_deinit();
}

// Y' by BT.601 at 576 lines, BT.709 from 577; each set of weights keeps
// grey at its level.
TEST(Frei0rColour, LumaWeightsKeepGreyAndFollowTheHeight) {
    for (int height : {576, 577}) {
        const LumaWeights w = luma_weights(height);
        EXPECT_EQ(w.r + w.g + w.b, 65536);
        for (int level = 0; level < 256; ++level) {
            const uint8_t grey[4] = {uint8_t(level), uint8_t(level), uint8_t(level), 0};
            EXPECT_EQ(video_luma(grey, w), 16 + std::lround(level * 219.0 / 255.0)) << level;
        }
    }
    const uint8_t green[4] = {0, 255, 0, 0};
    EXPECT_EQ(video_luma(green, luma_weights(576)), 16 + std::lround(0.587 * 219));
    EXPECT_EQ(video_luma(green, luma_weights(577)), 16 + std::lround(0.7152 * 219));
}

// The plug-in's change of Y' lands on R', G' and B' alike: the Y' of the
// result is the intended one within the rounding of each, and alpha stays.
TEST(Frei0rColour, ChangeOfLumaMovesRgbAlike) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> code(0, 255);
    std::uniform_int_distribution<int> change(-400, 400);
    const size_t pixels = 5000;
    std::vector<uint32_t> in(pixels), out(pixels);
    for (uint32_t& pixel : in) {
        const uint8_t bytes[4] = {uint8_t(code(random)), uint8_t(code(random)), uint8_t(code(random)),
                                  uint8_t(code(random))};
        std::memcpy(&pixel, bytes, 4);
    }
    const zeverive::luma::LevelScale scale = zeverive::luma::luma_scale(8, 600);
    RgbLuma colour;
    colour.read(in.data(), pixels, luma_weights(480));
    std::vector<YcPixel> host(pixels);
    colour.to_host(scale, host.data());
    const std::vector<YcPixel> before = host;
    for (YcPixel& pixel : host) pixel.y = static_cast<int16_t>(pixel.y + change(random));
    colour.to_rgba(in.data(), host.data(), scale, false, out.data());

    const double per_host = 219.0 * 1000 / (4096.0 * 600) * 255.0 / 219.0;
    int checked = 0;
    for (size_t i = 0; i < pixels; ++i) {
        uint8_t a[4], b[4];
        std::memcpy(a, &in[i], 4);
        std::memcpy(b, &out[i], 4);
        EXPECT_EQ(a[3], b[3]);
        const double delta = (host[i].y - before[i].y) * per_host;
        bool clamped = false;
        for (int c = 0; c < 3; ++c) clamped |= a[c] + delta < -0.5 || a[c] + delta > 255.5;
        if (clamped) continue;
        ++checked;
        for (int c = 0; c < 3; ++c) EXPECT_LE(std::abs(b[c] - (a[c] + delta)), 0.5) << i;
    }
    EXPECT_GT(checked, 2000);

    // Nothing changed: every byte as it was.
    colour.to_rgba(in.data(), before.data(), scale, false, out.data());
    EXPECT_EQ(in, out);
}

// Each instance keeps its own settings and estimate though the plug-in's
// working state is shared: interleaved frames, and frames from two
// threads at once, come out as each instance alone gives them.
TEST(Frei0rInstances, InterleavedAndThreadedInstancesKeepTheirSettings) {
    f0r_init();
    const auto light = run_alone(kLight, 0);
    const auto automatic = run_alone(kAutomatic, 10);
    ASSERT_NE(light, automatic);
    ASSERT_NE(light[0], noisy_frame(0));

    f0r_instance_t a = make_instance(kLight);
    f0r_instance_t b = make_instance(kAutomatic);
    for (int i = 0; i < kFrames; ++i) {
        const std::vector<uint32_t> in_a = noisy_frame(i), in_b = noisy_frame(10 + i);
        std::vector<uint32_t> out_a(in_a.size()), out_b(in_b.size());
        f0r_update(b, i, in_b.data(), out_b.data());
        f0r_update(a, i, in_a.data(), out_a.data());
        EXPECT_EQ(out_a, light[i]) << "frame " << i;
        EXPECT_EQ(out_b, automatic[i]) << "frame " << i;
    }
    f0r_destruct(a);
    f0r_destruct(b);

    constexpr int kRounds = 10;
    int mismatches[2] = {0, 0};
    std::thread first([&] {
        for (int r = 0; r < kRounds; ++r) mismatches[0] += run_alone(kLight, 0) != light;
    });
    std::thread second([&] {
        for (int r = 0; r < kRounds; ++r) mismatches[1] += run_alone(kAutomatic, 10) != automatic;
    });
    first.join();
    second.join();
    EXPECT_EQ(mismatches[0], 0);
    EXPECT_EQ(mismatches[1], 0);
    f0r_deinit();
}

}  // namespace
