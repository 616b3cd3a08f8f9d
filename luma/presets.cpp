#include "luma/presets.h"

namespace zeverive::luma {

const PresetName kPresetNames[] = {
    {Preset::kDefault, "default", "the best settings for the noise"},
    {Preset::kFast, "fast",
     "mode 3, 1.1 to 1.3 times as fast, still ahead of a wavelet threshold tuned by hand up to moderate noise"},
    {Preset::kBest, "best", "a second pass guided by the first: cleaner, about twice the time"},
};
const int kPresetCount = sizeof kPresetNames / sizeof kPresetNames[0];

std::optional<Preset> preset_named(std::string_view name) {
    for (const PresetName& entry : kPresetNames)
        if (name == entry.name) return entry.preset;
    return std::nullopt;
}

const char* name_of(Preset preset) {
    for (const PresetName& entry : kPresetNames)
        if (entry.preset == preset) return entry.name;
    return kPresetNames[0].name;
}

}  // namespace zeverive::luma
