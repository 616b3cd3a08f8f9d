// Working parameters derived from the host's sliders by settings_changed.
#pragma once

#include <cstdint>

#include "host/records.h"

namespace zeverive {

struct FilterParams {
    int32_t mode;                // the Mode slider as set; process/mode.h decodes it
    float strength;
    float vertical_factor;
    float row_thresholds[4];     // shrink thresholds, coarsest band first
    float column_thresholds[4];
    float edge_thresholds[4];
};

// Process-wide, read by every frame; zero until settings_changed first runs.
extern FilterParams filter_params;

}  // namespace zeverive
