// What a run gives the plug-in: the options' sliders, or the automatic
// settings for each scene's noise, and the level gain.
#pragma once

#include <optional>
#include <string>

#include "luma/noise_estimator.h"
#include "options.h"
#include "plugin/frame_runner.h"

namespace zeverive::cli {

// Whether the run's settings follow an estimate of each scene's noise:
// automatic settings, unless --sigma and --white leave nothing to read.
bool estimates_noise(const Options& options);

struct SceneSettings {
    FrameSettings frame;
    // With automatic settings, the noise the rule was applied to (--amount
    // included) and its smoothing.
    std::optional<double> sigma;
    double smoothing = 0;
};

// The settings for a scene whose noise reads `estimate` (nothing when the
// run estimates no noise), chosen for `share` of its level (the scene
// check's). Automatic sliders are held within the record's ranges, for
// plug-ins built with other ones.
SceneSettings choose_settings(const Options& options, const FilterTable& table,
                              const std::optional<luma::NoiseEstimate>& estimate, double share = 1);

// The chosen settings as options that give them again.
std::string settings_as_options(const FrameSettings& settings);

}  // namespace zeverive::cli
