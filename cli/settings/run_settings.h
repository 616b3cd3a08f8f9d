// What a run gives the plug-in: the options' sliders, or the automatic
// settings for each scene's noise, and the level gain.
#pragma once

#include <optional>
#include <string>

#include "formats/picture.h"
#include "luma/noise_model.h"
#include "luma/presets.h"
#include "plugin/frame_runner.h"
#include "plugin/plugin_host.h"

namespace zeverive::cli {

// What the command line asks of the settings.
struct SettingsRequest {
    // The sliders and check box as given, the others at the record's
    // defaults; the automatic settings replace them unless a slider option
    // or --no-auto was given.
    HostSettings settings;
    bool auto_settings = true;
    std::optional<double> sigma;  // the noise, given instead of estimated
    bool white = false;           // the noise is white, whatever the estimate's smoothing
    double amount = 1;            // times the noise level the automatic settings are chosen for
    std::optional<int32_t> gain;  // the level gain in thousandths
    luma::Preset preset = luma::Preset::kDefault;  // which automatic settings
};

// Whether the run's settings follow an estimate of each scene's noise:
// automatic settings, unless --sigma and --white leave nothing to read.
bool estimates_noise(const SettingsRequest& request);

struct SceneSettings {
    FrameSettings frame;
    // With automatic settings, the noise the rule was applied to (--amount
    // included; after the stabiliser where there is one) and its smoothing.
    std::optional<double> sigma;
    double smoothing = 0;
};

// The settings for a scene of frames in `format` whose noise reads `noise`
// (nothing when the run estimates no noise), chosen for `share` of its
// level (the scene check's), by the request's preset: the sliders, the
// gain, the stabilising curve where the noise grows with brightness
// (not with --sigma, which gives one level for every brightness) and the
// second pass of --preset best. Automatic sliders are held within the
// record's ranges, for plug-ins built with other ones.
SceneSettings choose_settings(const SettingsRequest& request, const FilterTable& table, const PictureFormat& format,
                              const std::optional<luma::NoiseModel>& noise, double share = 1);

// The chosen settings as options that give them again.
std::string settings_as_options(const FrameSettings& settings);

}  // namespace zeverive::cli
