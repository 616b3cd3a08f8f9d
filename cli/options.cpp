#include "options.h"

#include <CLI/CLI.hpp>
#include <cstdlib>
#include <iostream>

#include "failure.h"
#include "host/slider_index.h"
#include "luma/levels.h"
#include "luma/processors.h"
#include "luma/slider_names.h"
#include "luma/variant_request.h"
#include "report/labels.h"
#include "whole_number.h"

namespace zeverive::cli {

namespace {

constexpr int kMaxJobs = 256;
constexpr double kMaxSigma = 100;
constexpr double kLeastAmount = 0.25;
constexpr double kMostAmount = 4;

std::optional<uint64_t> parse_unsigned(std::string_view text) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string_view digits = hex ? text.substr(2) : text;
    if (digits.size() > 16) return std::nullopt;
    return whole_number<uint64_t>(digits, hex ? 16 : 10);
}

std::optional<int64_t> parse_integer(const std::string& text) {
    if (!text.empty() && text[0] == '-') {
        const std::optional<uint64_t> magnitude = parse_unsigned(text.substr(1));
        if (!magnitude || *magnitude > (uint64_t{1} << 62)) return std::nullopt;
        return -static_cast<int64_t>(*magnitude);
    }
    const std::optional<uint64_t> value = parse_unsigned(text);
    if (!value || *value > (uint64_t{1} << 62)) return std::nullopt;
    return static_cast<int64_t>(*value);
}

// Slider values are plain decimal, as the host's slider shows them.
std::optional<int64_t> parse_decimal(std::string_view text) {
    const bool negative = !text.empty() && text[0] == '-';
    if (text.size() - (negative ? 1 : 0) > 10) return std::nullopt;
    return whole_number<int64_t>(text);
}

// An integer within a slider's range; the message names the slider by its
// label and gives the range.
CLI::Validator slider_range(const std::string& label, int32_t minimum, int32_t maximum) {
    const std::string range = std::to_string(minimum) + ".." + std::to_string(maximum);
    return CLI::Validator(
        [=](std::string& text) -> std::string {
            const std::optional<int64_t> value = parse_decimal(text);
            if (!value) return text + " is not a whole number; slider '" + label + "' takes " + range;
            if (*value >= minimum && *value <= maximum) return "";
            return text + " is outside the range of slider '" + label + "', " + range;
        },
        range);
}

const char* const kFooter = R"(Formats:
  YUV4MPEG2 (.y4m): 8, 9, 10, 12, 14 and 16 bits; 4:2:0 (any chroma siting), 4:2:2,
    4:4:4 and mono. The stream header and each FRAME line are copied to the
    output unchanged.
  Raw host frames (.yc): the plug-in's own pixels, signed 16-bit Y, Cb, Cr
    little-endian, row after row; needs --size.
  A file named .y4m or .yc is read as such; other names and pipes ("-") are
  YUV4MPEG2 when they start like it, raw host frames otherwise. The output
  has the input's format.

Levels: Y 16..235 becomes 0..4096 and Cb/Cr 16..240 become -2048..2048 on the
  plug-in's scale (higher depths alike, e.g. 10-bit Y 64..940). Only luma is
  denoised: chroma is copied unchanged, except with --display 1 or 2, which
  shows coefficients on neutral chroma. Samples the plug-in leaves alone come
  back bit for bit.

Settings: with no slider option the luma noise is estimated on the first
  frames of each scene (a new scene begins at a cut or where the noise
  changes) and the level gain, every slider and the check box are chosen
  for it, then printed on stderr as options to copy, with how sure the
  estimate is. --sigma gives the noise instead (its smoothing still comes
  from the estimate unless --white), --amount asks for more or less. What
  the run removes is held to what noise of that level allows. Noise that
  grows with brightness is stabilised by a curve on the way to the plug-in
  and back; --preset best adds a second pass over each frame, guided by the
  plug-in's result. Any slider option, or --no-auto, means the sliders as
  given, the rest at the plug-in's defaults, and gain 1 unless --gain says
  otherwise.

Interlacing: frames a YUV4MPEG2 stream marks as interlaced (It, Ib, and Im
  frames flagged so) are denoised field by field, each field a picture of its
  own; --fields and --frames override the stream.

Frames count from 0; those larger than 832x832 go in tiles. Output files
appear only when complete; devices, FIFOs, sockets and standard output are
written as the frames come. Exit status: 0 done, 1 failed, 2 bad command
line.

Environment: ZEVERIVE_VARIANT=x87|3dnow|sse|avx2 makes the built-in plug-in
  run those kernels instead of the ones it chooses (refused where the
  processor lacks them, and with --plugin, whose file chooses its own).)";

// GNU style: scripts and help2man read the name and version from the first
// line.
const char* const kVersion = "zeverive " ZEVERIVE_VERSION R"(
Copyright (C) 2026 the Zeverive developers.
License: MIT (the file LICENSE, installed as /usr/share/doc/zeverive/copyright).
This is free software: you are free to change and redistribute it.
There is NO WARRANTY, to the extent permitted by law.)";

}  // namespace

std::optional<WindowMessage> parse_message(const std::string& text) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos) return std::nullopt;
    const std::optional<uint64_t> number = parse_unsigned(text.substr(0, colon));
    const std::optional<int64_t> value = parse_integer(text.substr(colon + 1));
    if (!number || *number > 0xFFFFFFFFu || !value || *value < INT32_MIN || *value > 0xFFFFFFFFLL)
        return std::nullopt;
    return WindowMessage{static_cast<uint32_t>(*number), static_cast<uint32_t>(*value)};
}

std::optional<int32_t> parse_gain(const std::string& text) {
    const size_t point = text.find('.');
    const std::string whole = text.substr(0, point);
    const std::string fraction = point == std::string::npos ? "" : text.substr(point + 1);
    if (whole.size() > 1 || fraction.size() > 3 || (whole.empty() && fraction.empty())) return std::nullopt;
    const std::optional<uint32_t> units = whole.empty() ? 0 : whole_number<uint32_t>(whole);
    const std::optional<uint32_t> decimals = fraction.empty() ? 0 : whole_number<uint32_t>(fraction);
    if (!units || !decimals) return std::nullopt;
    static constexpr int32_t kPlaceValue[] = {1000, 100, 10, 1};
    const int32_t thousandths = static_cast<int32_t>(*units) * 1000 +
                                static_cast<int32_t>(*decimals) * kPlaceValue[fraction.size()];
    if (thousandths < luma::kMinGain || thousandths > luma::kGainUnity) return std::nullopt;
    return thousandths;
}

std::optional<FrameSize> parse_size(const std::string& text) {
    const size_t x = text.find('x');
    if (x == std::string::npos) return std::nullopt;
    const std::optional<uint64_t> width = parse_unsigned(text.substr(0, x));
    const std::optional<uint64_t> height = parse_unsigned(text.substr(x + 1));
    if (!width || !height || *width < 1 || *height < 1 || *width > kMaxFrameSide || *height > kMaxFrameSide)
        return std::nullopt;
    return FrameSize{static_cast<int>(*width), static_cast<int>(*height)};
}

std::optional<int64_t> parse_frame_number(const std::string& text) {
    if (text.size() > 18) return std::nullopt;
    const std::optional<uint64_t> number = whole_number<uint64_t>(text);
    if (!number) return std::nullopt;
    return static_cast<int64_t>(*number);
}

ParseResult parse_options(int argc, const char* const* argv, Options& options) {
    ParseResult result;

    // The record decides the slider options, so the plug-in comes first.
    {
        CLI::App first;
        first.set_help_flag();
        first.allow_extras();
        first.add_option("--plugin", options.plugin);
        try {
            first.parse(argc, argv);
        } catch (const CLI::ParseError&) {
            // Reported by the full parse below.
        }
    }
    result.library = std::make_unique<PluginLibrary>(options.plugin.empty() ? PluginLibrary::built_in()
                                                                            : PluginLibrary::load(options.plugin));
    const FilterTable& table = result.library->table();
    options.settings = default_settings(table);

    CLI::App app("Denoises the luminance of video with the Zeverive plug-in, driven through the same callbacks "
                 "a host editor uses.",
                 "zeverive");
    app.get_formatter()->column_width(34);
    app.footer(kFooter);
    app.set_version_flag("--version", kVersion, "print the version and the licence, and exit");
    app.add_option("INPUT", options.input, "video to denoise, or - for standard input")->type_name("");
    app.add_option("OUTPUT", options.output, "where to write the result, or - for standard output")->type_name("");

    std::string size_text;
    app.add_option("--size", size_text, "frame size of raw host frames (.yc)")
        ->type_name("WxH")
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                return parse_size(text) ? "" : "expected WIDTHxHEIGHT, each 1.." + std::to_string(kMaxFrameSide);
            },
            ""));
    options.jobs = luma::available_processors();
    // The default is described, not shown: the count is this machine's, and
    // the manual page is made on the build machine.
    std::string jobs_text;
    app.add_option("-j,--jobs", jobs_text,
                   "threads (or, with --plugin, worker processes), each with a plug-in instance of its own "
                   "(default: the processors available)")
        ->type_name("INT")
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                const std::optional<int64_t> jobs = parse_decimal(text);
                if (!jobs) return text + " is not a whole number; it takes 1.." + std::to_string(kMaxJobs);
                return *jobs >= 1 && *jobs <= kMaxJobs ? "" : text + " is outside 1.." + std::to_string(kMaxJobs);
            },
            ""));
    app.add_flag("--tile",
                 "frames larger than 832x832 go through the plug-in as overlapping tiles of at most 832x832, "
                 "blended (the default; accepted for older command lines)");
    auto* fields = app.add_flag("--fields", "denoise every frame as two fields, whatever the stream header says "
                                            "(in the header's field order, else top field first)");
    auto* frames = app.add_flag("--frames", "denoise every frame whole, even where the stream says it is interlaced");
    fields->excludes(frames);
    app.add_flag("-q,--quiet", options.quiet, "no progress line (it is shown only on a terminal anyway)");
    auto* preview = app.add_option("--preview", options.preview, "write one frame, input beside output, as a PNG")
                        ->type_name("FILE.png");
    std::string preview_frame_text;
    app.add_option("--preview-frame", preview_frame_text, "the frame --preview shows")
        ->type_name("N")
        ->default_str("0")
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                if (parse_frame_number(text)) return "";
                const bool digits = !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
                return digits ? text + " is past any clip's end" : text + " is not a frame number (0, 1, 2 ...)";
            },
            ""))
        ->needs(preview);
    app.add_option("--reference", options.reference,
                   "clean version of the input: prints the luma PSNR of input and output against it")
        ->type_name("CLEAN");
    app.add_option("--plugin", options.plugin,
                   std::string("load the plug-in from FILE, ") + kPluginFileKind + ", instead of the built-in one")
        ->type_name("FILE");
    app.add_flag("--list", options.list, "print the plug-in's record (name, sliders, check box) and exit");

    app.add_flag("--estimate", options.estimate,
                 "print the luma noise of each scene of INPUT and how sure it is (standard error), then that of "
                 "the whole input, a standard deviation in 8-bit codes, alone on standard output, and exit");
    std::string sigma_text;
    auto* sigma = app.add_option("--sigma", sigma_text,
                                 "the luma noise in 8-bit codes: the automatic settings take it instead of the estimate's")
                      ->type_name("SIGMA:0..100")
                      ->check(CLI::Validator(
                          [](std::string& text) -> std::string {
                              const std::optional<double> value = decimal_number(text);
                              if (!value) return text + " is not a number; the noise is 0 to 100 codes";
                              return *value >= 0 && *value <= kMaxSigma ? "" : text + " is outside 0..100";
                          },
                          ""));
    auto* white = app.add_flag("--white", options.white,
                               "the noise is white: the automatic settings take it so, instead of the smoothing the "
                               "estimate reads");
    std::string amount_text;
    auto* amount = app.add_option("--amount", amount_text,
                                  "a bit less (below 1) or more (above 1) denoising than the automatic settings: "
                                  "they are chosen for X times the noise")
                       ->type_name("X:0.25..4")
                       ->default_str("1")
                       ->check(CLI::Validator(
                           [](std::string& text) -> std::string {
                               const std::optional<double> value = decimal_number(text);
                               if (!value) return text + " is not a number; the amount is 0.25 to 4";
                               return *value >= kLeastAmount && *value <= kMostAmount ? "" : text + " is outside 0.25..4";
                           },
                           ""));
    bool no_auto = false;
    auto* no_auto_flag =
        app.add_flag("--no-auto", no_auto, "no automatic settings: the plug-in's defaults for the sliders not given");
    std::string preset_text;
    std::string preset_help = "which automatic settings:";
    std::string preset_names;
    for (int i = 0; i < luma::kPresetCount; ++i) {
        preset_help += std::string(i ? "; " : " ") + luma::kPresetNames[i].name + ", " + luma::kPresetNames[i].help;
        preset_names += std::string(i ? "|" : "") + luma::kPresetNames[i].name;
    }
    auto* preset = app.add_option("--preset", preset_text, preset_help)
                       ->type_name(preset_names)
                       ->default_str(luma::kPresetNames[0].name)
                       ->check(CLI::Validator(
                           [preset_names](std::string& text) -> std::string {
                               return luma::preset_named(text) ? "" : text + " is not a preset: " + preset_names;
                           },
                           ""));
    // These shape the automatic settings, which sliders given would
    // silently replace: given together, the command line is refused.
    const std::vector<CLI::Option*> automatic = {sigma, white, amount, preset};
    for (CLI::Option* option : automatic) option->excludes(no_auto_flag);
    std::string gain_text;
    app.add_option("--gain", gain_text,
                   "level gain: the plug-in sees luma scaled by G and every threshold acts 1/G times larger "
                   "(default: chosen with the automatic settings, else 1)")
        ->type_name("G:0.05..1")
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                if (parse_gain(text)) return "";
                return (decimal_number(text) ? text + ": expected" : text + " is not a number; expected") +
                       " a gain from 0.05 to 1, at most three decimals";
            },
            ""));

    std::vector<std::string> message_texts;
    app.add_option("--message", message_texts,
                   "send window message NUMBER with value word VALUE before the first frame, as a remote control "
                   "would (decimal or 0x hex; repeatable; values are not checked against the slider ranges)")
        ->type_name("NUMBER:VALUE")
        ->allow_extra_args(false)  // one message per --message; INPUT may follow
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                return parse_message(text) ? "" : "expected NUMBER:VALUE, decimal or 0x hexadecimal";
            },
            ""));

    // Kept as text and converted here, so that what the range check read
    // is exactly what the slider gets.
    std::array<std::string, kSliderCount> slider_texts;
    for (int i = 0; i < kSliderCount; ++i) {
        const std::string label = cp932_to_utf8(table.slider_labels[i]);
        auto* slider = app.add_option(std::string("--") + luma::kSliderOptionNames[i], slider_texts[i],
                                      label + ": " + luma::kSliderHelp[i]);
        for (CLI::Option* option : automatic) option->excludes(slider);
        slider->check(slider_range(label, table.slider_minimums[i], table.slider_maximums[i]))
            ->type_name("INT")
            ->default_str(std::to_string(options.settings.sliders[i]))
            ->group("Sliders");
    }
    bool checkbox = options.settings.checkboxes[kCheckboxFinestRowsX10] != 0;
    auto* checkbox_flag =
        app.add_flag(std::string("--") + luma::kCheckboxOptionName + ",!--no-" + luma::kCheckboxOptionName, checkbox,
                     cp932_to_utf8(table.checkbox_labels[kCheckboxFinestRowsX10]) + ": " + luma::kCheckboxHelp)
            ->group("Sliders");
    for (CLI::Option* option : automatic) option->excludes(checkbox_flag);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int status = app.exit(error);
        result.exit_status = status == 0 ? 0 : 2;
        return result;
    }
    if (options.estimate && options.input.empty()) {
        std::cerr << "zeverive: --estimate needs INPUT\nRun with --help for more information.\n";
        result.exit_status = 2;
        return result;
    }
    if (!options.list && !options.estimate && (options.input.empty() || options.output.empty())) {
        std::cerr << "zeverive: INPUT and OUTPUT are required\nRun with --help for more information.\n";
        result.exit_status = 2;
        return result;
    }
    if (!size_text.empty()) options.size = parse_size(size_text);
    if (!preview_frame_text.empty()) options.preview_frame = *parse_frame_number(preview_frame_text);
    options.jobs_chosen = !jobs_text.empty();
    if (fields->count() > 0) options.fields = FieldChoice::kFields;
    if (frames->count() > 0) options.fields = FieldChoice::kFrames;
    for (const std::string& text : message_texts) options.settings.messages.push_back(*parse_message(text));
    bool sliders_given = checkbox_flag->count() > 0;
    for (int i = 0; i < kSliderCount; ++i) {
        if (slider_texts[i].empty()) continue;
        options.settings.sliders[i] = static_cast<int32_t>(*parse_decimal(slider_texts[i]));
        sliders_given = true;
    }
    options.settings.checkboxes[kCheckboxFinestRowsX10] = checkbox ? 1 : 0;
    options.auto_settings = !sliders_given && !no_auto;
    if (!gain_text.empty()) options.gain = parse_gain(gain_text);
    if (!preset_text.empty()) options.preset = *luma::preset_named(preset_text);
    if (!sigma_text.empty()) options.sigma = decimal_number(sigma_text);
    if (!amount_text.empty()) options.amount = *decimal_number(amount_text);
    if (!jobs_text.empty()) options.jobs = static_cast<int>(*parse_decimal(jobs_text));

    if (const std::optional<std::string> variant = luma::variant_in_environment()) {
        const std::optional<std::string> problem =
            options.plugin.empty()
                ? luma::request_variant_named(*variant)
                : std::string(luma::kVariantVariable) + " chooses the kernels of the built-in plug-in only, and " +
                      options.plugin + " chooses its own: unset it to run --plugin";
        if (problem) {
            std::cerr << "zeverive: " << *problem << "\n";
            result.exit_status = 2;
        }
    }
    return result;
}

}  // namespace zeverive::cli
