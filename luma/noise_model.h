// What the automatic settings and the second pass know of a clip's noise:
// the estimate, a stabiliser where the noise grows with brightness (and
// then the estimate as the noise reads after it), and the noise's
// correlation along rows and columns.
#pragma once

#include <optional>

#include "luma/noise_estimator.h"
#include "luma/noise_profile.h"
#include "luma/stabiliser.h"

namespace zeverive::luma {

struct NoiseModel {
    // The noise on the scale the plug-in works on: after the stabiliser
    // where there is one.
    NoiseEstimate estimate;
    std::optional<Stabiliser> stabiliser;
    Correlation rows;
    Correlation columns;
};

// From an estimator and a profile that read the same frames (the profile
// as the estimator's FlatBlockReader).
NoiseModel model_noise(const NoiseEstimator& estimator, const NoiseProfile& profile);

// Noise of `sigma` codes, white, as --sigma gives it.
NoiseModel white_noise(double sigma);

}  // namespace zeverive::luma
