// Working parameters derived from the host's sliders by settings_changed.
#pragma once

#include <cstdint>

#include "common/size_class.h"
#include "host/records.h"

namespace zeverive {

struct FilterParams {
    int32_t mode;                // the Mode slider as set; process/mode.h decodes it
    float strength;
    float vertical_factor;
    float row_thresholds[kBandCount];  // shrink thresholds, coarsest band first
    float column_thresholds[kBandCount];
    float edge_thresholds[kBandCount];  // one per level, coarsest first
};

// Process-wide, read by every frame; zero until settings_changed first runs.
extern FilterParams filter_params;

}  // namespace zeverive
