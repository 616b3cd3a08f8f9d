#include "settings/run_settings.h"

#include <cstdio>

#include "host/slider_index.h"
#include "luma/levels.h"
#include "luma/slider_names.h"
#include "luma/treatment.h"

namespace zeverive::cli {

RunSettings choose_settings(const SettingsRequest& request, const FilterTable& table, const PictureFormat& format,
                            const std::function<NoiseSample()>& sample_noise) {
    RunSettings run;
    run.settings = request.settings;
    run.gain = request.gain.value_or(luma::kGainUnity);
    if (!request.auto_settings) return run;

    luma::NoiseModel noise;
    if (request.sigma) {
        noise = luma::white_noise(*request.sigma);
    } else {
        run.noise = sample_noise();
        noise = run.noise->model;
    }
    const luma::Treatment treatment = luma::treatment_for(noise, format.width, format.height, request.preset);
    run.settings.sliders = luma::sliders_within(treatment.settings, table);
    run.settings.checkboxes[kCheckboxFinestRowsX10] = treatment.settings.rows_x10 ? 1 : 0;
    run.gain = request.gain.value_or(treatment.settings.gain);
    run.stabiliser = treatment.stabiliser;
    run.sigma = treatment.sigma;
    if (treatment.second_pass) run.second_pass = treatment.second_pass_noise(run.gain);
    return run;
}

std::string settings_as_options(const RunSettings& run) {
    char gain[16];
    std::snprintf(gain, sizeof gain, "%d.%03d", run.gain / luma::kGainUnity, run.gain % luma::kGainUnity);
    std::string text = std::string("--gain ") + gain;
    for (int i = 0; i < kSliderCount; ++i)
        text += std::string(" --") + luma::kSliderOptionNames[i] + " " + std::to_string(run.settings.sliders[i]);
    text += std::string(run.settings.checkboxes[kCheckboxFinestRowsX10] ? " --" : " --no-") + luma::kCheckboxOptionName;
    return text;
}

}  // namespace zeverive::cli
