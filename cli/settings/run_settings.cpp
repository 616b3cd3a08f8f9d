#include "settings/run_settings.h"

#include <cstdio>

#include "host/slider_index.h"
#include "luma/auto_settings.h"
#include "luma/levels.h"
#include "luma/slider_names.h"

namespace zeverive::cli {

bool estimates_noise(const SettingsRequest& request) {
    return request.auto_settings && !(request.sigma && request.white);
}

SceneSettings choose_settings(const SettingsRequest& request, const FilterTable& table,
                              const std::optional<luma::NoiseEstimate>& estimate, double share) {
    SceneSettings scene;
    scene.frame.host = request.settings;
    scene.frame.gain = request.gain.value_or(luma::kGainUnity);
    if (!request.auto_settings) return scene;

    luma::NoiseEstimate noise;
    if (estimate) noise = *estimate;
    if (request.sigma) noise.sigma = *request.sigma;
    if (request.white) noise.smoothing = 0;
    noise.sigma *= request.amount * share;
    const luma::AutoSettings chosen = luma::settings_for_noise(noise, request.preset);
    scene.frame.host.sliders = luma::sliders_within(chosen, table);
    scene.frame.host.checkboxes[kCheckboxFinestRowsX10] = chosen.rows_x10 ? 1 : 0;
    scene.frame.gain = request.gain.value_or(chosen.gain);
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
    text += std::string(settings.host.checkboxes[kCheckboxFinestRowsX10] ? " --" : " --no-") + luma::kCheckboxOptionName;
    return text;
}

}  // namespace zeverive::cli
