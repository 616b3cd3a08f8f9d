#include "settings/run_settings.h"

#include <algorithm>
#include <cstdio>

#include "host/slider_index.h"
#include "luma/levels.h"
#include "luma/slider_names.h"
#include "luma/treatment.h"

namespace zeverive::cli {

bool estimates_noise(const SettingsRequest& request) {
    return request.auto_settings && !(request.sigma && request.white);
}

namespace {

// The guard reads the file's samples, where noise that grows with
// brightness is strongest in the highlights: it is held to the level there,
// the stabilised level over the curve's least slope.
double guard_level(double sigma, const std::optional<luma::Stabiliser>& stabiliser) {
    if (!stabiliser) return sigma;
    double level = sigma;
    for (int code = 16; code <= 235; ++code) level = std::max(level, sigma / stabiliser->slope(code));
    return level;
}

}  // namespace

SceneSettings choose_settings(const SettingsRequest& request, const FilterTable& table, const PictureFormat& format,
                              const std::optional<luma::NoiseModel>& estimate, double share) {
    SceneSettings scene;
    scene.frame.host = request.settings;
    scene.frame.gain = request.gain.value_or(luma::kGainUnity);
    if (!request.auto_settings) return scene;

    luma::NoiseModel noise;
    if (estimate) noise = *estimate;
    if (request.sigma) {
        noise.estimate.sigma = *request.sigma;
        noise.stabiliser.reset();
    }
    if (request.white) {
        noise.estimate.smoothing = 0;
        noise.rows = {};
        noise.columns = {};
    }
    noise.estimate.sigma *= request.amount * share;
    const luma::Treatment treatment = luma::treatment_for(noise, format.width, format.height, request.preset);
    scene.frame.host.sliders = luma::sliders_within(treatment.settings, table);
    scene.frame.host.checkboxes[kCheckboxFinestRowsX10] = treatment.settings.rows_x10 ? 1 : 0;
    scene.frame.gain = request.gain.value_or(treatment.settings.gain);
    scene.frame.guard_sigma = guard_level(noise.estimate.sigma, treatment.stabiliser);
    scene.frame.stabiliser = treatment.stabiliser;
    if (treatment.second_pass) scene.frame.second_pass = treatment.second_pass_noise(scene.frame.gain);
    scene.sigma = noise.estimate.sigma;
    scene.smoothing = noise.estimate.smoothing;
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
