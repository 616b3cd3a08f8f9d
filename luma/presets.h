// Named points on the speed/quality curve of the automatic settings. One
// choice for both front ends: the program's --preset and the frei0r
// filter's "preset" parameter read their names and meanings here.
#pragma once

#include <optional>
#include <string_view>

namespace zeverive::luma {

enum class Preset {
    kDefault,  // the best the plug-in gives for the noise
    kFast,     // the fastest settings that still beat the wavelet peer tuned by hand
    kBest,     // a second pass after the plug-in's, guided by it (dct_wiener.h)
};

struct PresetName {
    Preset preset;
    const char* name;
    const char* help;
};

// Every preset, the default first.
extern const PresetName kPresetNames[];
extern const int kPresetCount;

std::optional<Preset> preset_named(std::string_view name);
const char* name_of(Preset preset);

}  // namespace zeverive::luma
