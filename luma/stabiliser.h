// A mapping of luma levels under which noise that grows with brightness
// has one strength everywhere, so that the plug-in's one threshold per band
// fits the shadows and the highlights alike.
//
// For noise of variance a Y + b (light's shot noise on a sensor's read
// noise) the mapping with slope proportional to 1 / sqrt(a Y + b) is the
// generalised Anscombe transform: V(Y) = (2 / a) sqrt(a Y + b), scaled.
// Here its slope is the deviation at the middle of the measured
// brightnesses over the deviation at Y, so that mid-tones keep their
// scale; beyond the measured brightnesses the noise-level function is held
// at its last value and the mapping goes on in a straight line. Black (8-bit
// code 16) stays where it is.
//
// The way back is the exact inverse, with the bias of the mapping taken
// out first: a curve bent downwards lowers the mean of noisy samples by
// half its curvature times the noise's variance, about
// deviation(mid) * a / (4 deviation(Y)) on the mapped scale, which a
// denoised picture carries; the unbiased inverse adds it back.
//
// All in 8-bit codes, as real numbers: the level mapping turns them into
// each depth's codes and the host's scale.
#pragma once

#include "luma/noise_profile.h"

namespace zeverive::luma {

class Stabiliser {
public:
    explicit Stabiliser(const NoiseLevelFunction& level);

    double forward(double code) const;
    double inverse(double value) const;
    double unbiased_inverse(double value) const;
    // The slope of forward at `code`: how much a block there is stretched.
    double slope(double code) const;
    // The noise-level function it was made for.
    const NoiseLevelFunction& level() const { return level_; }

private:
    // The mapping relative to `darkest_` before black is put back at 16.
    double from_darkest(double code) const;

    NoiseLevelFunction level_;
    double reference_;      // the deviation that keeps slope 1
    double dark_deviation_;
    double bright_deviation_;
    double bright_value_;   // from_darkest at the brightest
    double black_value_;    // from_darkest at 16
};

}  // namespace zeverive::luma
