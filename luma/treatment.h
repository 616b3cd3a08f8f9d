// Everything the automatic settings decide for a clip's noise: the
// plug-in's settings, the bend of the level mapping, and whether the second
// pass follows the plug-in's (--preset best). The program and the frei0r
// filter both take their automatic run from here.
#pragma once

#include <optional>

#include "luma/auto_settings.h"
#include "luma/dct_wiener.h"
#include "luma/noise_model.h"
#include "luma/presets.h"
#include "luma/stabiliser.h"

namespace zeverive::luma {

struct Treatment {
    AutoSettings settings;
    std::optional<Stabiliser> stabiliser;
    double sigma = 0;  // the noise the settings are for, codes, after the stabiliser
    bool second_pass = false;
    Correlation rows;
    Correlation columns;

    // The noise the second pass takes out, on the host's scale at `gain`.
    BlockNoise second_pass_noise(int32_t gain) const;
};

// For frames of width x height.
Treatment treatment_for(const NoiseModel& noise, int width, int height, Preset preset);

}  // namespace zeverive::luma
