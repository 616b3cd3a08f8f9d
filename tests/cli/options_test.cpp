// Command-line pieces that stand alone: message, size and gain syntax,
// which settings a run takes, and the record's labels decoded from code
// page 932.

#include <gtest/gtest.h>

#include "host/slider_index.h"
#include "luma/levels.h"
#include "options.h"
#include "report/labels.h"
#include "settings/run_settings.h"

namespace zeverive::cli {
namespace {

TEST(Options, MessagesTakeDecimalOrHexAndA32BitValueWord) {
    const auto check = [](const std::string& text, uint32_t number, uint32_t value) {
        const std::optional<WindowMessage> message = parse_message(text);
        ASSERT_TRUE(message) << text;
        EXPECT_EQ(message->number, number) << text;
        EXPECT_EQ(message->value, value) << text;
    };
    check("2030:0x00320014", 2030, 0x00320014);
    check("0x7EF:100", 2031, 100);
    check("2024:4294967295", 2024, 0xFFFFFFFF);
    check("2024:-1", 2024, 0xFFFFFFFF);
    check("2024:-2147483648", 2024, 0x80000000);
    check("2026:0XFFFF0000", 2026, 0xFFFF0000);
    // Leading zeros are decimal, not octal.
    check("2030:010", 2030, 10);
    for (const char* bad : {"", "2030", ":5", "2030:", "2030:abc", "x:1", "2030:4294967296", "2030:-2147483649",
                            "-1:5", "2030:0x", "2030:1:2", "4294967296:1"}) {
        EXPECT_FALSE(parse_message(bad)) << bad;
    }
}

TEST(Options, SizesAreWidthByHeightWithinTheLimits) {
    const std::optional<FrameSize> size = parse_size("720x480");
    ASSERT_TRUE(size);
    EXPECT_EQ(size->width, 720);
    EXPECT_EQ(size->height, 480);
    EXPECT_TRUE(parse_size("1x1"));
    EXPECT_TRUE(parse_size("16384x16384"));
    for (const char* bad : {"0x480", "720x0", "720", "720x", "x480", "16385x1", "-1x5", "7 20x480", "720X480"})
        EXPECT_FALSE(parse_size(bad)) << bad;
}

TEST(Options, GainsRunFromATwentiethToOneInThousandths) {
    EXPECT_EQ(parse_gain("1"), luma::kGainUnity);
    EXPECT_EQ(parse_gain("1.000"), luma::kGainUnity);
    EXPECT_EQ(parse_gain("0.5"), 500);
    EXPECT_EQ(parse_gain(".333"), 333);
    EXPECT_EQ(parse_gain("0.05"), luma::kMinGain);
    for (const char* bad : {"", ".", "0.049", "1.001", "2", "0.1234", "-0.5", "0,5", "1e-1", "10"})
        EXPECT_EQ(parse_gain(bad), std::nullopt) << bad;
}

// What a command line chooses for a scene whose noise reads 10 codes (of
// `smoothing`): the settings, whether the run estimates the noise at all,
// and the record's defaults to compare with.
struct Chosen {
    FrameSettings chosen;
    bool estimates = false;
    HostSettings defaults;
};

std::optional<int> parse_status(std::vector<const char*> args) {
    args.insert(args.begin(), "zeverive");
    args.insert(args.end(), {"in.y4m", "out.y4m"});
    Options options;
    return parse_options(static_cast<int>(args.size()), args.data(), options).exit_status;
}

Chosen choose_with(std::vector<const char*> args, double smoothing = 0) {
    args.insert(args.begin(), "zeverive");
    args.insert(args.end(), {"in.y4m", "out.y4m"});
    Options options;
    const ParseResult parsed = parse_options(static_cast<int>(args.size()), args.data(), options);
    EXPECT_FALSE(parsed.exit_status);
    Chosen run;
    run.defaults = default_settings(parsed.library->table());
    run.estimates = estimates_noise(options);
    luma::NoiseModel estimate = luma::white_noise(10);
    estimate.estimate.smoothing = smoothing;
    run.chosen = choose_settings(options, parsed.library->table(), PictureFormat{720, 480},
                                 run.estimates ? std::optional<luma::NoiseModel>(estimate) : std::nullopt)
                     .frame;
    return run;
}

bool same(const FrameSettings& a, const FrameSettings& b) {
    return a.host.sliders == b.host.sliders && a.host.checkboxes == b.host.checkboxes && a.gain == b.gain &&
           a.guard_sigma == b.guard_sigma;
}

// No slider option: the automatic settings for the estimate, or for
// --sigma; either way the guard holds what is removed to that noise.
TEST(Options, WithoutSlidersTheSettingsComeFromTheNoise) {
    const Chosen automatic = choose_with({});
    EXPECT_TRUE(automatic.estimates);
    EXPECT_LT(automatic.chosen.gain, 500);  // noise of 10 codes is beyond the sliders' reach at gain 1
    EXPECT_NE(automatic.chosen.host.sliders, automatic.defaults.sliders);
    EXPECT_EQ(automatic.chosen.guard_sigma, 10.0);

    EXPECT_TRUE(same(choose_with({"--sigma", "10"}).chosen, automatic.chosen));
    EXPECT_EQ(choose_with({"--sigma", "0"}).chosen.host.sliders[kSliderStrength], 0);  // no noise: strength 0

    // The fast preset: its own choice for the same noise, in mode 3.
    const Chosen fast = choose_with({"--preset", "fast"});
    EXPECT_TRUE(fast.estimates);
    EXPECT_EQ(fast.chosen.host.sliders[kSliderMode], 3);
    EXPECT_TRUE(same(choose_with({"--preset", "default"}).chosen, automatic.chosen));
}

// --amount scales the noise the rule is applied to; --sigma takes the
// estimate's smoothing unless --white, and only both together leave
// nothing to estimate.
TEST(Options, AmountAndWhiteShapeTheAutomaticSettings) {
    EXPECT_TRUE(same(choose_with({"--amount", "2"}).chosen, choose_with({"--sigma", "20"}).chosen));
    EXPECT_TRUE(same(choose_with({"--amount", "0.5"}).chosen, choose_with({"--sigma", "5"}).chosen));
    EXPECT_TRUE(same(choose_with({"--preset", "fast", "--amount", "2"}).chosen,
                     choose_with({"--preset", "fast", "--sigma", "20"}).chosen));

    const Chosen smoothed = choose_with({}, 1.0);
    EXPECT_FALSE(same(smoothed.chosen, choose_with({}).chosen));  // smoothed noise has settings of its own
    EXPECT_TRUE(same(choose_with({"--sigma", "10"}, 1.0).chosen, smoothed.chosen));
    const Chosen white = choose_with({"--sigma", "10", "--white"}, 1.0);
    EXPECT_FALSE(white.estimates);
    EXPECT_TRUE(same(white.chosen, choose_with({}).chosen));
    EXPECT_TRUE(same(choose_with({"--white"}, 1.0).chosen, choose_with({}).chosen));

    for (const char* bad : {"0.24", "4.01", "0", "x", "nan", "0x1"}) EXPECT_EQ(parse_status({"--amount", bad}), 2) << bad;
}

TEST(Options, AGainGivenWithoutSlidersKeepsTheAutomaticSliders) {
    const Chosen own_gain = choose_with({"--gain", "0.8"});
    EXPECT_EQ(own_gain.chosen.gain, 800);
    EXPECT_EQ(own_gain.chosen.host.sliders, choose_with({}).chosen.host.sliders);
}

// A slider option or --no-auto: the sliders as given, the others the
// record's defaults, gain 1 unless --gain, and nothing guarded: settings
// given by hand act as they always did.
TEST(Options, ASliderOptionMeansTheDefaultsForTheRestAtGainOne) {
    for (const std::vector<const char*>& manual :
         {std::vector<const char*>{"--nr3", "77"}, {"--no-nr5-rows-x10"}, {"--no-auto"}}) {
        const Chosen run = choose_with(manual);
        EXPECT_FALSE(run.estimates);
        EXPECT_EQ(run.chosen.gain, luma::kGainUnity);
        EXPECT_FALSE(run.chosen.guard_sigma);
        HostSettings expected = run.defaults;
        if (std::string(manual[0]) == "--nr3") expected.sliders[kSliderShrinkFirst + 1] = 77;
        EXPECT_EQ(run.chosen.host.sliders, expected.sliders) << manual[0];
        EXPECT_EQ(run.chosen.host.checkboxes, expected.checkboxes) << manual[0];
    }
    const Chosen manual_gain = choose_with({"--strength", "150", "--gain", "0.25"});
    EXPECT_EQ(manual_gain.chosen.gain, 250);
    EXPECT_EQ(manual_gain.chosen.host.sliders[kSliderStrength], 150);
}

// What shapes the automatic settings (a noise figure, --amount, --white, a
// preset), given with sliders that would silently replace them, makes the
// command line refused; so does a preset of another name.
TEST(Options, AutomaticOptionsWithSliderOptionsAreRefused) {
    for (const std::vector<const char*>& automatic :
         {std::vector<const char*>{"--sigma", "5"}, {"--amount", "2"}, {"--white"}, {"--preset", "fast"},
          {"--preset", "best"}, {"--preset", "default"}}) {
        for (const std::vector<const char*>& manual :
             {std::vector<const char*>{"--nr3", "77"}, {"--no-nr5-rows-x10"}, {"--no-auto"}}) {
            std::vector<const char*> args = automatic;
            args.insert(args.end(), manual.begin(), manual.end());
            EXPECT_EQ(parse_status(args), 2) << automatic[0] << " " << manual[0];
        }
    }
    EXPECT_EQ(parse_status({"--preset", "quick"}), 2);
    EXPECT_EQ(parse_status({"--preset", "fast", "--sigma", "5"}), std::nullopt);
}

TEST(Options, ThePrintedSettingsGiveTheSameSettingsBack) {
    const Chosen automatic = choose_with({});
    std::vector<std::string> words;
    const std::string text = settings_as_options(automatic.chosen);
    for (size_t start = 0, end; start < text.size(); start = end + 1) {
        end = std::min(text.find(' ', start), text.size());
        words.push_back(text.substr(start, end - start));
    }
    std::vector<const char*> again;
    for (const std::string& word : words) again.push_back(word.c_str());
    const Chosen copied = choose_with(again);
    EXPECT_EQ(copied.chosen.host.sliders, automatic.chosen.host.sliders);
    EXPECT_EQ(copied.chosen.host.checkboxes, automatic.chosen.host.checkboxes);
    EXPECT_EQ(copied.chosen.gain, automatic.chosen.gain);
}

TEST(Labels, CodePage932BecomesUtf8) {
    // Half-width katakana are single bytes in CP932.
    EXPECT_EQ(cp932_to_utf8("\xB4\xAF\xBC\xDE" "Lv2"), "\uFF74\uFF6F\uFF7C\uFF9ELv2");
    EXPECT_EQ(cp932_to_utf8("\x93\x4B\x97\x70\x93\x78%"), "適用度%");
    EXPECT_EQ(cp932_to_utf8("Y-NR5\x89\xA1\x82\xCC\x82\xDD" "10\x94\x7B"), "Y-NR5横のみ10倍");
    EXPECT_EQ(cp932_to_utf8("Mode"), "Mode");
    EXPECT_EQ(cp932_to_utf8(""), "");
    // A lead byte without its trail byte is shown, not dropped.
    EXPECT_EQ(cp932_to_utf8("ab\x93"), "ab\\x93");
}

}  // namespace
}  // namespace zeverive::cli
