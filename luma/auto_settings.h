// The settings chosen for a noise estimate: the level gain, every slider
// and the check box.
//
// White noise gets the noise thresholds 40/60/80/100 (coarsest to finest
// band); noise that the estimate finds smoothed gets each band's threshold
// in proportion to the noise measured in that band (noise_spectrum.h),
// scaled so that none rises above its white-noise value, and noise in
// between a blend of the two. One edge threshold serves all levels. What
// changes with the noise is how strongly they act, the scale t: at t <= 1
// the strength is 200 t percent at gain 1, above it the strength is 200
// and the gain 1/t, which makes every threshold t times what the sliders
// reach. The check
// box stays off (it changed nothing in the calibration's modes). The
// scale, the mode and the edge threshold come from a table that
// bench/calibrate.sh fits to a grid search on training clips, one row of
// knots for white noise and one for noise smoothed by a 3x3 blur; the
// estimate's smoothing says how far between them a clip lies.
//
// The fast preset has tables of its own, from the same calibration over
// mode 3 with the noise thresholds 40/60/100/100, which suit that mode
// better; where mode 3 would not beat a tuned wavelet peer the table holds
// the default's mode 2 knot, with the white-noise thresholds 40/60/80/100.
//
// No files and no options here: a noise estimate in, settings out.
#pragma once

#include <array>
#include <cstdint>

#include "host/records.h"
#include "host/slider_index.h"
#include "luma/noise_estimator.h"
#include "luma/presets.h"

namespace zeverive::luma {

struct AutoSettings {
    int32_t gain;  // thousandths, as LevelScale takes it
    std::array<int32_t, kSliderCount> sliders;
    bool rows_x10;
};

// `bands`: the noise's deviation in the band each noise threshold governs
// over its deviation in the picture, coarsest first; 1 for white noise.
// The fast preset keeps its own fixed thresholds whatever the bands.
AutoSettings settings_for_noise(const NoiseEstimate& noise, Preset preset = Preset::kDefault,
                                const std::array<double, kShrinkSliderCount>& bands = {1, 1, 1, 1});

// The chosen sliders held within the record's ranges, for plug-ins built
// with other ones.
std::array<int32_t, kSliderCount> sliders_within(const AutoSettings& chosen, const FilterTable& table);

}  // namespace zeverive::luma
