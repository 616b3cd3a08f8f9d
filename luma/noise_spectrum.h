// How correlated noise spreads over the transforms that act on it: the
// plug-in's wavelet bands along a line, and the coefficients of the second
// pass's 8x8 DCT blocks.
//
// A line's noise with correlation c(d) at distance d (none beyond 3) puts
// variance sum_d c(d) A(d) into a band whose filter has autocorrelation
// A; for white noise that is the noise's own variance in every band of an
// orthonormal transform. After a 3x3 box blur (c = 1, 2/3, 1/3) the
// plug-in's bands read 0.50, 1.00, 1.47 and 1.65 of the deviation, finest
// to coarsest: the blur moves the noise into the coarser bands.
#pragma once

#include <array>

#include "host/slider_index.h"
#include "luma/dct_wiener.h"
#include "luma/noise_profile.h"

namespace zeverive::luma {

// The noise's deviation in the band each noise threshold governs (coarsest
// first, as the sliders go), over its deviation in the picture, for a pass
// over lines of `line_length` samples. A threshold whose band such lines
// lack gets the finest band's figure.
std::array<double, kShrinkSliderCount> band_deviations(const Correlation& along, int line_length);

// The same for both passes over a frame: the mean of the rows' and the
// columns' figures.
std::array<double, kShrinkSliderCount> band_deviations(const Correlation& rows, const Correlation& columns, int width,
                                                      int height);

// The noise's variance in every coefficient of an 8x8 DCT block, for noise
// of `deviation` with these correlations (taken as a product of the two).
BlockNoise block_noise(const Correlation& rows, const Correlation& columns, double deviation);

}  // namespace zeverive::luma
