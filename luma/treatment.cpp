#include "luma/treatment.h"

#include "luma/levels.h"
#include "luma/noise_spectrum.h"

namespace zeverive::luma {

BlockNoise Treatment::second_pass_noise(int32_t gain) const {
    return block_noise(rows, columns, sigma * host_units_per_code(luma_scale(8, gain)));
}

Treatment treatment_for(const NoiseModel& noise, int width, int height, Preset preset) {
    Treatment treatment;
    treatment.settings =
        settings_for_noise(noise.estimate, preset, band_deviations(noise.rows, noise.columns, width, height));
    treatment.stabiliser = noise.stabiliser;
    treatment.sigma = noise.estimate.sigma;
    // Without noise there is nothing for the second pass to weigh.
    treatment.second_pass = preset == Preset::kBest && treatment.sigma > 0;
    treatment.rows = noise.rows;
    treatment.columns = noise.columns;
    return treatment;
}

}  // namespace zeverive::luma
