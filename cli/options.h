// The command line. Slider options take their defaults and ranges from the
// plug-in's record, so a build with other values needs no change here.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "formats/field_choice.h"
#include "formats/video_io.h"
#include "luma/slider_names.h"
#include "plugin/plugin_host.h"
#include "settings/run_settings.h"

namespace zeverive::cli {

// The command line: the settings it asks for, and the files and the run.
struct Options : SettingsRequest {
    std::string input;
    std::string output;
    std::optional<FrameSize> size;
    int jobs = 1;
    bool jobs_chosen = false;  // given on the command line, not the default
    FieldChoice fields = FieldChoice::kAsTheStreamSays;
    bool quiet = false;
    bool list = false;
    std::string preview;
    int64_t preview_frame = 0;
    std::string reference;
    std::string plugin;
    bool estimate = false;  // print the noise estimate and stop
};

// "NUMBER:VALUE", each decimal or 0x hexadecimal; VALUE may also be a
// negative 32-bit number, taken as its two's complement word.
std::optional<WindowMessage> parse_message(const std::string& text);
// Plain decimal digits, 0 up to 18 digits (more than any clip holds).
std::optional<int64_t> parse_frame_number(const std::string& text);
// A level gain from 0.05 to 1 with at most three decimals, in thousandths.
std::optional<int32_t> parse_gain(const std::string& text);
// "WxH", both at least 1 and at most the largest side accepted.
std::optional<FrameSize> parse_size(const std::string& text);

// What parsing decided: go on with `options` and `library`, or stop with
// `exit_status` (after --help, or a usage error already reported).
struct ParseResult {
    std::optional<int> exit_status;
    std::unique_ptr<PluginLibrary> library;
};

// Reads --plugin first, loads the record (built in or from the file), then
// the whole command line against it. Throws Failure when the plug-in
// cannot be loaded.
ParseResult parse_options(int argc, const char* const* argv, Options& options);

}  // namespace zeverive::cli
