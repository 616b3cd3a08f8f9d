#include "settings/run_settings.h"

#include <cstdio>

#include "host/slider_index.h"
#include "luma/auto_settings.h"
#include "luma/levels.h"
#include "luma/slider_names.h"

namespace zeverive::cli {

RunSettings choose_settings(const SettingsRequest& request, const FilterTable& table,
                            const std::function<NoiseSample()>& sample_noise) {
    RunSettings run{request.settings, request.gain.value_or(luma::kGainUnity), std::nullopt};
    if (!request.auto_settings) return run;

    luma::NoiseEstimate noise;
    if (request.sigma) {
        noise.sigma = *request.sigma;
    } else {
        run.noise = sample_noise();
        noise = run.noise->estimate;
    }
    const luma::AutoSettings chosen = luma::settings_for_noise(noise, request.preset);
    run.settings.sliders = luma::sliders_within(chosen, table);
    run.settings.checkboxes[kCheckboxFinestRowsX10] = chosen.rows_x10 ? 1 : 0;
    run.gain = request.gain.value_or(chosen.gain);
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
