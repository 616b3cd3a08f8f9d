// Whether denoising a picture brought it closer to its scene, measured
// without a clean picture: against the next picture of the scene, whose
// noise is its own.
//
// For a block matched into the next picture, the mean square of a result
// less the next picture is the result's own error plus the next picture's
// noise, and the noise is the same whatever the result. So among trial
// results for one picture, the one nearest the next picture is the one
// nearest the clean picture, and one no nearer than the input took out
// picture along with the noise, or more than the noise. Where the scene
// moves by a fraction of a pixel, the next picture at a whole-pixel match
// differs from the clean picture by texture that smoothing shrinks, which
// would favour smoothing; so such a block's match is moved on by the
// fraction its surroundings tell (to first order). Only blocks whose
// surroundings then agree with the next picture as well as noise of the
// estimated level allows take part; a scene where too few do cannot be
// checked this way (misregistered()).
#pragma once

#include <cstddef>
#include <vector>

#include "luma/noise_estimator.h"

namespace zeverive::luma {

class ResultCheck {
public:
    // `picture` is the picture the trials denoise, `next` the next picture
    // of its scene (or any other picture of it, taken alike), both whole
    // planes of one size, read in their noise_window; `sigma` the scene's
    // noise in 8-bit codes.
    ResultCheck(const LumaPlane& picture, const LumaPlane& next, double sigma);

    // Whether enough blocks were matched well to tell results apart.
    bool usable() const { return blocks_ >= kFewestBlocks; }
    // Whether the pictures hold enough blocks, but too few of them matched
    // well: motion the matching does not follow.
    bool misregistered() const { return !usable() && matched_ >= kFewestBlocks; }

    // The mean square difference from the next picture, per sample, of
    // `result` (the picture after a trial, a whole plane like `picture`)
    // less that of the picture itself: below zero when the result is
    // nearer the scene than the input was.
    double change_from_input(const LumaPlane& result) const;
    // The input's own mean square difference from the next picture.
    double input_distance() const { return input_distance_; }

    static constexpr size_t kFewestBlocks = 64;

private:
    double distance(const float* samples, int width) const;

    Window window_;
    std::vector<int> lefts_;      // of the matched blocks, within the plane
    std::vector<int> tops_;
    std::vector<float> targets_;  // the next picture's samples at each block's match, 64 a block
    size_t blocks_ = 0;   // matched well, taking part
    size_t matched_ = 0;  // matched at all
    double input_distance_ = 0;
};

}  // namespace zeverive::luma
