// The frei0r filter through its C interface, as a host calls it: the
// parameter mapping, the colour handling, and several instances at once.
extern "C" {
#include <frei0r.h>
}

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include "host/records.h"
#include "host/working_state.h"
#include "luma/levels_avx2.h"
#include "parameters.h"
#include "rgb_luma.h"

namespace {

using namespace zeverive::frei0r;

constexpr int kWidth = 200;
constexpr int kHeight = 120;
constexpr int kStrengthParameter = kFirstSliderParameter + 9;
constexpr int kModeParameter = kFirstSliderParameter + 0;

// A picture of coloured ramps with noise (none with `clean`); frame
// `number` moves the noise.
std::vector<uint32_t> noisy_frame(int number, int width = kWidth, int height = kHeight, bool clean = false) {
    std::mt19937 random(1234u + static_cast<uint32_t>(number));
    std::normal_distribution<double> noise(0.0, 6.0);
    std::vector<uint32_t> frame(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double shift = clean ? 0.0 : noise(random);
            uint8_t pixel[4] = {
                static_cast<uint8_t>(std::clamp(40.0 + x % 200 + shift, 0.0, 255.0)),
                static_cast<uint8_t>(std::clamp(60.0 + y % 150 + shift, 0.0, 255.0)),
                static_cast<uint8_t>(std::clamp(150.0 - x % 200 / 2 + shift, 0.0, 255.0)),
                static_cast<uint8_t>(x + y),
            };
            std::memcpy(&frame[static_cast<size_t>(y) * width + x], pixel, 4);
        }
    }
    return frame;
}

struct Settings {
    bool automatic;
    double mode;
    double strength;
};

f0r_instance_t make_instance(const Settings& settings, int width = kWidth, int height = kHeight) {
    f0r_instance_t instance = f0r_construct(width, height);
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
    double automatic = 0, fields = 1;
    f0r_get_param_value(instance, &automatic, kAutoParameter);
    f0r_get_param_value(instance, &fields, kFieldsParameter);
    EXPECT_EQ(automatic, 1.0);
    EXPECT_EQ(fields, 0.0);
    // The preset by name, every one of them; a name it does not know
    // changes nothing.
    f0r_param_info_t preset_info;
    f0r_get_param_info(&preset_info, kPresetParameter);
    EXPECT_STREQ(preset_info.name, "preset");
    EXPECT_EQ(preset_info.type, F0R_PARAM_STRING);
    f0r_param_string preset = nullptr;
    f0r_get_param_value(instance, &preset, kPresetParameter);
    EXPECT_STREQ(preset, "default");
    for (const char* chosen : {"fast", "best", "default"}) {
        for (const char* name : {chosen, "fastest", ""}) {
            f0r_param_string given = const_cast<char*>(name);
            f0r_set_param_value(instance, &given, kPresetParameter);
            f0r_get_param_value(instance, &preset, kPresetParameter);
            EXPECT_STREQ(preset, chosen) << "after " << name;
        }
    }
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

// A host that calls with null pointers or asks past the parameter list
// gets no crash and no effect; a null instance destroyed does not release
// the plug-in that a live instance still uses.
TEST(Frei0rInterface, NullArgumentsAndIndicesOutsideTheListDoNothing) {
    f0r_init();
    f0r_get_plugin_info(nullptr);
    f0r_get_param_info(nullptr, 0);
    for (int index : {-1, kParameterCount, 1000}) {
        f0r_param_info_t info{};
        f0r_get_param_info(&info, index);
        ASSERT_NE(info.name, nullptr) << index;
        ASSERT_NE(info.explanation, nullptr) << index;
        EXPECT_STREQ(info.name, "") << index;
    }

    const std::vector<uint32_t> denoised = run_alone(kLight, 0)[0];
    f0r_instance_t instance = make_instance(kLight);
    const std::vector<uint32_t> in = noisy_frame(0);
    std::vector<uint32_t> out(in.size(), 0x12345678);
    double value = 0.25;
    f0r_set_param_value(nullptr, &value, kStrengthParameter);
    f0r_set_param_value(instance, nullptr, kStrengthParameter);
    f0r_get_param_value(nullptr, &value, kStrengthParameter);
    f0r_get_param_value(instance, nullptr, kStrengthParameter);
    EXPECT_EQ(value, 0.25);
    f0r_update(nullptr, 0, in.data(), out.data());
    f0r_update(instance, 0, nullptr, out.data());
    EXPECT_EQ(out, std::vector<uint32_t>(in.size(), 0x12345678));
    f0r_update(instance, 0, in.data(), nullptr);
    f0r_destruct(nullptr);
    f0r_destruct(nullptr);

    f0r_update(instance, 0, in.data(), out.data());
    EXPECT_EQ(out, denoised);
    EXPECT_NE(out, in);
    f0r_destruct(instance);
    f0r_deinit();
}

// "best" adds the second pass to the automatic settings: the frames come
// out closer to the clean picture than with the default preset.
TEST(Frei0rParameters, TheBestPresetCleansFurther) {
    f0r_init();
    double error[2] = {0, 0};
    for (int best = 0; best < 2; ++best) {
        f0r_instance_t instance = make_instance(kAutomatic);
        if (best) {
            f0r_param_string name = const_cast<char*>("best");
            f0r_set_param_value(instance, &name, kPresetParameter);
        }
        const auto outputs = run(instance, 0);
        f0r_destruct(instance);
        for (int f = 0; f < kFrames; ++f) {
            const std::vector<uint32_t> clean = noisy_frame(f, kWidth, kHeight, true);
            for (size_t i = 0; i < clean.size(); ++i) {
                uint8_t a[4], b[4];
                std::memcpy(a, &clean[i], 4);
                std::memcpy(b, &outputs[static_cast<size_t>(f)][i], 4);
                for (int c = 0; c < 3; ++c) error[best] += (a[c] - b[c]) * (a[c] - b[c]);
            }
        }
    }
    // A fifth less squared error when it was written.
    EXPECT_LT(error[1], 0.9 * error[0]);
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

// R'G'B'A words of random bytes.
std::vector<uint32_t> random_pixels(std::mt19937& random, size_t count) {
    std::uniform_int_distribution<int> code(0, 255);
    std::vector<uint32_t> pixels(count);
    for (uint32_t& pixel : pixels) {
        const uint8_t bytes[4] = {uint8_t(code(random)), uint8_t(code(random)), uint8_t(code(random)),
                                  uint8_t(code(random))};
        std::memcpy(&pixel, bytes, 4);
    }
    return pixels;
}

// The plug-in's change of Y' lands on R', G' and B' alike: the Y' of the
// result is the intended one within the rounding of each, and alpha stays.
TEST(Frei0rColour, ChangeOfLumaMovesRgbAlike) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> change(-400, 400);
    const size_t pixels = 5000;
    const std::vector<uint32_t> in = random_pixels(random, pixels);
    std::vector<uint32_t> out(pixels);
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

// ZEVERIVE_VARIANT: the kernels it names run (x87 rounds differently from
// the SSE forms here), also in the host's own loops, and a name the
// plug-in cannot honour leaves the filter without instances rather than
// running other kernels.
TEST(Frei0rVariant, TheEnvironmentsVariantRunsOrNoInstanceIsMade) {
    f0r_init();
    const auto chosen = run_alone(kLight, 0);
    setenv("ZEVERIVE_VARIANT", "x87", 1);
    const auto x87 = run_alone(kLight, 0);
    EXPECT_FALSE(zeverive::luma::wide_loops_run());
    setenv("ZEVERIVE_VARIANT", "mmx", 1);
    EXPECT_EQ(f0r_construct(kWidth, kHeight), nullptr);
    unsetenv("ZEVERIVE_VARIANT");
    zeverive::request_variant(zeverive::kNoVariantRequest);
    EXPECT_NE(x87, chosen);
    EXPECT_EQ(run_alone(kLight, 0), chosen);
    EXPECT_EQ(zeverive::luma::wide_loops_run(), zeverive::usable_variants().chosen == zeverive::kVariantAvx2);
}

// With "fields" a frame is its two fields, every other row, each denoised
// as a frame of its own.
TEST(Frei0rFields, EachFieldIsAPictureOfItsOwn) {
    f0r_init();
    const std::vector<uint32_t> in = noisy_frame(3);
    const size_t row = kWidth;
    std::vector<uint32_t> frame_out(in.size()), fields_out(in.size()), woven(in.size());

    f0r_instance_t whole = make_instance(kLight);
    f0r_update(whole, 0, in.data(), frame_out.data());
    f0r_instance_t split = make_instance(kLight);
    double on = 1.0;
    f0r_set_param_value(split, &on, kFieldsParameter);
    f0r_update(split, 0, in.data(), fields_out.data());

    f0r_instance_t half = f0r_construct(kWidth, kHeight / 2);
    double automatic = 0.0, mode = kLight.mode, strength = kLight.strength;
    f0r_set_param_value(half, &automatic, kAutoParameter);
    f0r_set_param_value(half, &mode, kModeParameter);
    f0r_set_param_value(half, &strength, kStrengthParameter);
    std::vector<uint32_t> field(row * kHeight / 2), field_out(field.size());
    for (int parity = 0; parity < 2; ++parity) {
        for (int y = parity; y < kHeight; y += 2)
            std::copy_n(&in[y * row], row, &field[y / 2 * row]);
        f0r_update(half, 0, field.data(), field_out.data());
        for (int y = parity; y < kHeight; y += 2)
            std::copy_n(&field_out[y / 2 * row], row, &woven[y * row]);
    }
    EXPECT_EQ(fields_out, woven);
    EXPECT_NE(fields_out, frame_out);
    f0r_destruct(whole);
    f0r_destruct(split);
    f0r_destruct(half);
    f0r_deinit();
}

// A frame converts as each of its pixels alone does (a frame of one pixel
// takes the plain loops, a whole frame the wide ones where the processor
// has them): Y' codes, and the way back with changes that clamp, changes
// of every size and none, at gains on both sides of 1.
TEST(Frei0rColour, WholeFramesConvertAsEachPixelAlone) {
    std::mt19937 random(11);
    std::uniform_int_distribution<int> change(-3000, 3000);
    const size_t pixels = 4099;
    const std::vector<uint32_t> in = random_pixels(random, pixels);
    std::vector<uint32_t> out(pixels);
    for (int height : {480, 1080}) {
        for (int32_t gain : {zeverive::luma::kGainUnity, 217}) {
            SCOPED_TRACE(::testing::Message() << height << " lines, gain " << gain);
            const zeverive::luma::LevelScale scale = zeverive::luma::luma_scale(8, gain);
            RgbLuma colour;
            colour.read(in.data(), pixels, luma_weights(height));
            std::vector<YcPixel> host(pixels);
            colour.to_host(scale, host.data());
            for (size_t i = 0; i < pixels; ++i) {
                if (i % 3 != 0) host[i].y = static_cast<int16_t>(host[i].y + change(random));
            }
            colour.to_rgba(in.data(), host.data(), scale, false, out.data());
            for (size_t i = 0; i < pixels; ++i) {
                RgbLuma alone;
                alone.read(&in[i], 1, luma_weights(height));
                ASSERT_EQ(alone.codes()[0], colour.codes()[i]) << "pixel " << i;
                YcPixel pixel;
                alone.to_host(scale, &pixel);
                pixel.y = host[i].y;
                uint32_t word = 0;
                alone.to_rgba(&in[i], &pixel, scale, false, &word);
                ASSERT_EQ(word, out[i]) << "pixel " << i;
            }
        }
    }
}

// Each instance keeps its own settings and estimate though the instances
// share the plug-in's working states: interleaved frames, and frames from two
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

// A frame larger than the plug-in takes goes in tiles, spread over the
// plug-in's copies on threads of their own: any number of threads, with
// instances running at once from threads of their own, gives every byte
// that one thread gives.
TEST(Frei0rThreads, TiledFramesComeOutTheSameOnAnyNumberOfThreads) {
    constexpr int kBigWidth = 1733, kBigHeight = 901;  // 3 x 2 tiles, odd sides
    constexpr int kBigFrames = 2;
    const auto run_big = [&](const Settings& settings, int threads, int first_frame) {
        f0r_instance_t instance = make_instance(settings, kBigWidth, kBigHeight);
        double value = threads / static_cast<double>(kMostThreads);
        f0r_set_param_value(instance, &value, kThreadsParameter);
        std::vector<std::vector<uint32_t>> outputs;
        for (int i = 0; i < kBigFrames; ++i) {
            const std::vector<uint32_t> in = noisy_frame(first_frame + i, kBigWidth, kBigHeight);
            outputs.emplace_back(in.size());
            f0r_update(instance, i, in.data(), outputs.back().data());
        }
        f0r_destruct(instance);
        return outputs;
    };
    f0r_init();
    const auto light = run_big(kLight, 1, 0);
    const auto automatic = run_big(kAutomatic, 1, 20);
    ASSERT_NE(light[0], noisy_frame(0, kBigWidth, kBigHeight));
    EXPECT_EQ(run_big(kLight, 2, 0), light);
    EXPECT_EQ(run_big(kLight, 0, 0), light);  // every processor
    int mismatches[3] = {0, 0, 0};
    std::thread first([&] { mismatches[0] += run_big(kLight, 3, 0) != light; });
    std::thread second([&] { mismatches[1] += run_big(kAutomatic, 6, 20) != automatic; });
    std::thread third([&] { mismatches[2] += run_big(kAutomatic, 4, 20) != automatic; });
    first.join();
    second.join();
    third.join();
    EXPECT_EQ(mismatches[0] + mismatches[1] + mismatches[2], 0);

    // A variant forced on the filter reaches every copy: x87 on three
    // threads gives what it gives on one, not the chosen variant's tiles.
    setenv("ZEVERIVE_VARIANT", "x87", 1);
    const auto x87 = run_big(kLight, 1, 0);
    EXPECT_EQ(run_big(kLight, 3, 0), x87);
    unsetenv("ZEVERIVE_VARIANT");
    zeverive::request_variant(zeverive::kNoVariantRequest);
    EXPECT_NE(x87, light);
    f0r_deinit();
}

}  // namespace
