#include "settings/run_settings.h"

#include <cstdio>

#include "luma/auto_settings.h"
#include "luma/levels.h"
#include "luma/slider_names.h"

namespace zeverive::cli {

bool estimates_noise(const Options& options) {
    return options.auto_settings && !(options.sigma && options.white);
}

SceneSettings choose_settings(const Options& options, const FilterTable& table,
                              const std::optional<luma::NoiseEstimate>& estimate, double share) {
    SceneSettings scene;
    scene.frame.host = options.settings;
    scene.frame.gain = options.gain.value_or(luma::kGainUnity);
    if (!options.auto_settings) return scene;

    luma::NoiseEstimate noise;
    if (estimate) noise = *estimate;
    if (options.sigma) noise.sigma = *options.sigma;
    if (options.white) noise.smoothing = 0;
    noise.sigma *= options.amount * share;
    const luma::AutoSettings chosen = luma::settings_for_noise(noise);
    scene.frame.host.sliders = luma::sliders_within(chosen, table);
    scene.frame.host.checkboxes[0] = chosen.rows_x10 ? 1 : 0;
    scene.frame.gain = options.gain.value_or(chosen.gain);
    scene.frame.guard_sigma = noise.sigma;
    scene.sigma = noise.sigma;
    scene.smoothing = noise.smoothing;
    return scene;
}

std::string settings_as_options(const FrameSettings& settings) {
    char gain[16];
    std::snprintf(gain, sizeof gain, "%d.%03d", settings.gain / luma::kGainUnity, settings.gain % luma::kGainUnity);
    std::string text = std::string("--gain ") + gain;
    for (int i = 0; i < kSliderCount; ++i)
        text += std::string(" --") + luma::kSliderOptionNames[i] + " " + std::to_string(settings.host.sliders[i]);
    text += std::string(settings.host.checkboxes[0] ? " --" : " --no-") + luma::kCheckboxOptionName;
    return text;
}

}  // namespace zeverive::cli
