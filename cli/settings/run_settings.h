// What a run gives the plug-in: the options' sliders, or the automatic
// settings for the clip's noise, and the level gain.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "formats/picture.h"
#include "luma/dct_wiener.h"
#include "luma/presets.h"
#include "luma/stabiliser.h"
#include "plugin/plugin_host.h"
#include "settings/noise_sample.h"

namespace zeverive::cli {

// What the command line asks of the settings.
struct SettingsRequest {
    // The sliders and check box as given, the others at the record's
    // defaults; the automatic settings replace them unless a slider option
    // or --no-auto was given.
    HostSettings settings;
    bool auto_settings = true;
    std::optional<double> sigma;  // the noise, given instead of estimated
    std::optional<int32_t> gain;  // the level gain in thousandths
    luma::Preset preset = luma::Preset::kDefault;  // which automatic settings
};

struct RunSettings {
    HostSettings settings;
    int32_t gain = 0;                  // thousandths
    std::optional<NoiseSample> noise;  // when it was estimated
    // The level mapping's bend for noise that grows with brightness.
    std::optional<luma::Stabiliser> stabiliser;
    // The noise the settings were chosen for, in codes (after the
    // stabiliser where there is one).
    double sigma = 0;
    // The noise the second pass of --preset best takes out, on the host's
    // scale at the run's gain; none without that pass.
    std::optional<luma::BlockNoise> second_pass;
};

// `sample_noise` is called only when the automatic settings need an
// estimate (no --sigma). Automatic sliders are held within the record's
// ranges, for plug-ins built with other ones.
RunSettings choose_settings(const SettingsRequest& request, const FilterTable& table, const PictureFormat& format,
                            const std::function<NoiseSample()>& sample_noise);

// The chosen settings as options that give them again.
std::string settings_as_options(const RunSettings& run);

}  // namespace zeverive::cli
