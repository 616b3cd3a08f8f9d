// What one 8x8 block of luma says about the noise in it.
//
// A block's spread around its best fitting cubic surface is noise, plus
// whatever texture the surface cannot follow. Before that spread counts as
// noise, the block must look like noise: a continuous spread with no
// direction and no period. A residual that repeats at one or two pixels
// (checkerboards, stripes, zone plates), that clusters in two levels
// (halftone, text, graphics), or a block whose values fall into two or
// three levels is structure, and the block is left out. What is left is
// held below what the block's quieter neighbour differences allow, which
// sparse sharp details (a few bright pixels on a flat ground) would
// otherwise inflate.
//
// The thresholds leave out two to four pure-noise blocks in a hundred,
// white or smoothed by a 3x3 blur, at any deviation from 1 to 20 codes; the
// reading of what remains is as before (bench/estimates.py reads white and
// smoothed noise within -3 % and +7 %).
#pragma once


namespace zeverive::luma {

constexpr int kNoiseBlock = 8;
constexpr int kNoiseBlockSamples = kNoiseBlock * kNoiseBlock;

struct BlockReading {
    float variance;  // spread around the cubic surface, per degree of freedom
    float fine;      // mean magnitude of the finest diagonal Haar band (16 values)
};

// `samples` is the block row by row, in 8-bit codes (any scale that keeps
// a code at 1: below half a code squared a block is flat and not tested).
// The reading, held by the neighbour differences, as if the block were
// noise ...
BlockReading measure_block(const float* samples);
// ... and whether it looks like noise. The tests cost more than the
// reading; callers that only use the quietest blocks test those.
bool looks_like_noise(const float* samples);

}  // namespace zeverive::luma
