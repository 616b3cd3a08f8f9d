// The noise in a clip's luma, as a standard deviation in 8-bit codes, from
// a few of its frames.
//
// Frames are cut into 8x8 blocks and each block's spread around its best
// fitting cubic surface is taken. Blocks of pure noise spread like the
// noise; blocks with texture or edges spread more. Starting from the
// quietest tenth of the blocks, the blocks whose spread is plausible for
// the noise are kept, repeatedly, and their spread averaged: that is the
// flat-block spread. It counts noise of every grain, so noise that a camera
// or a codec smoothed still reads at its strength, but fine texture adds to
// it. The finest diagonal wavelet band over the quieter half of those
// blocks reads white noise closely and texture hardly at all, but noise
// after a 3x3 blur at about a third. So their ratio tells the two kinds of
// noise apart, and the estimate moves from the band's reading (white) to
// the spread's (smoothed) with it. Measured on 320x208 clips of six
// photographs (bench/estimates.py): white noise of 2 to 20 codes within
// -8 % and +11 %, smoothed noise of 5 and 10 within -3 % and +15 %; the
// spread alone read white noise 9-20 % high on the training clips, the
// band alone smoothed noise at about a third of its strength.
//
// No files and no options here: it takes planes and gives numbers.
#pragma once

#include <cstddef>
#include <vector>

#include "luma/flat_blocks.h"

namespace zeverive::luma {

// Frames the estimate reads: enough blocks for a steady figure at any
// usual size, few enough to cost little beside a run.
constexpr int kNoiseSampleFrames = 8;

struct NoiseEstimate {
    double sigma = 0;      // 8-bit codes
    double smoothing = 0;  // 0 white noise, 1 noise as smooth as after a 3x3 blur
    double fine_share = 1; // the finest band's reading over the flat-block spread
    size_t blocks = 0;     // blocks the estimate rests on
};

class NoiseEstimator {
public:
    // `luma` is width * height samples in 8-bit codes (any depth scaled to
    // them); samples at or beyond `lowest` and `highest` count as clipped,
    // and blocks holding one are left out, since clipping hides noise.
    // `also`, when given, reads the frame's blocks too.
    void add_frame(const float* luma, int width, int height, float lowest, float highest,
                   FlatBlockReader* also = nullptr);
    // With `gains`, every block's samples scaled by its gain, blocks in the
    // order they were read (the order a FlatBlockReader sees them): the
    // noise as it would read after a mapping of the levels that stretches
    // each block by its gain.
    NoiseEstimate estimate(const std::vector<float>* gains = nullptr) const;

private:
    // Per block: the spread around the fitted cubic, and the sum of the
    // magnitudes of the finest diagonal band's 16 coefficients (exact in
    // a double: they are floats within a narrow range of exponents). A
    // few bytes a block keep the sample of a large clip small.
    std::vector<float> variances_;
    std::vector<double> fine_sums_;
    std::vector<FlatBlock> frame_blocks_;
};

}  // namespace zeverive::luma
