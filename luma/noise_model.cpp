#include "luma/noise_model.h"

#include <array>

namespace zeverive::luma {

NoiseModel model_noise(const NoiseEstimator& estimator, const NoiseProfile& profile) {
    NoiseModel model;
    model.rows = profile.along_rows();
    model.columns = profile.along_columns();
    const std::optional<NoiseLevelFunction> level = profile.rising_level();
    if (!level) {
        model.estimate = estimator.estimate();
        return model;
    }
    model.stabiliser.emplace(*level);
    // Every block stretched as the stabiliser stretches its brightness,
    // read again the way the estimate reads: the noise the plug-in sees.
    std::array<float, 256> gains;
    for (size_t code = 0; code < gains.size(); ++code)
        gains[code] = static_cast<float>(model.stabiliser->slope(static_cast<double>(code)));
    model.estimate = estimator.estimate(gains);
    return model;
}

NoiseModel white_noise(double sigma) {
    NoiseModel model;
    model.estimate.sigma = sigma;
    return model;
}

}  // namespace zeverive::luma
