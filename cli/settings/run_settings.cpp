#include "settings/run_settings.h"

#include <cstdio>

#include "luma/levels.h"
#include "luma/treatment.h"

namespace zeverive::cli {

RunSettings choose_settings(const Options& options, const FilterTable& table, const PictureFormat& format,
                            const std::function<NoiseSample()>& sample_noise) {
    RunSettings run;
    run.settings = options.settings;
    run.gain = options.gain.value_or(luma::kGainUnity);
    if (!options.auto_settings) return run;

    luma::NoiseModel noise;
    if (options.sigma) {
        noise = luma::white_noise(*options.sigma);
    } else {
        run.noise = sample_noise();
        noise = run.noise->model;
    }
    const luma::Treatment treatment = luma::treatment_for(noise, format.width, format.height, options.preset);
    run.settings.sliders = luma::sliders_within(treatment.settings, table);
    run.settings.checkboxes[0] = treatment.settings.rows_x10 ? 1 : 0;
    run.gain = options.gain.value_or(treatment.settings.gain);
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
    text += std::string(run.settings.checkboxes[0] ? " --" : " --no-") + luma::kCheckboxOptionName;
    return text;
}

}  // namespace zeverive::cli
