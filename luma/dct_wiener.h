// A second pass over a frame's luma: empirical Wiener shrinkage in
// overlapping 8x8 DCT blocks, with the plug-in's result as the pilot.
//
// The plug-in clears small wavelet coefficients line by line, one
// threshold per band for the whole frame; what it keeps is a good guess of
// where the picture's energy lies. Each block of the noisy frame is
// transformed, every coefficient is scaled by p^2 / (p^2 + n), p the
// pilot's coefficient and n the noise's variance there, and transformed
// back. Blocks start every kStride pixels both ways, so each pixel is
// rebuilt several times; the estimates are averaged with each block
// weighted by the inverse of the noise it lets through, which favours the
// blocks that smoothed most. The frame is mirrored at its borders, so
// border pixels are covered like the others.
//
// Floats throughout, in one fixed order of operations: the same frame
// gives the same bits on every x86-64 processor.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "host/records.h"

namespace zeverive::luma {

constexpr int kBlockSide = 8;
constexpr int kBlockCoefficients = kBlockSide * kBlockSide;

// The noise's variance in each coefficient of an 8x8 DCT block, vertical
// frequency major, on the scale of the frames the pass is given
// (noise_spectrum.h).
using BlockNoise = std::array<float, kBlockCoefficients>;

// Basis function k of the transform (orthonormal DCT-II) over the 8 samples.
std::array<float, kBlockSide> dct_basis(int k);

class DctWiener {
public:
    // The luma of `frame` before the plug-in changes it: the noisy picture,
    // its rows `pitch` pixels apart (a field's are two frame rows apart).
    void keep_noisy(const YcPixel* frame, int width, int height, int pitch);
    // Replaces the plug-in's luma in `frame` (the pilot) by the refined
    // picture; `frame` is the one keep_noisy was given.
    void refine(YcPixel* frame, const BlockNoise& noise);

private:
    // The luma of the picture at `frame`, its rows one after the other.
    void keep_luma(const YcPixel* frame, std::vector<int16_t>& luma) const;

    int width_ = 0;
    int height_ = 0;
    int pitch_ = 0;
    std::vector<int16_t> noisy_;
    std::vector<int16_t> pilot_;
    // Working memory, kept from frame to frame (see dct_wiener.cpp): the
    // 8 rows of a block row of both pictures, their column transforms, the
    // coefficients of every block of the row, what noise each block lets
    // through, the estimates before the column inverse and their weights,
    // and the sums of the rows not yet complete.
    std::vector<float> rows_;
    std::vector<float> noisy_columns_;
    std::vector<float> pilot_columns_;
    std::vector<float> noisy_blocks_;
    std::vector<float> pilot_blocks_;
    std::vector<float> passed_;
    std::vector<float> samples_;
    std::vector<float> estimate_columns_;
    std::vector<float> column_weights_;
    std::vector<float> sums_;
    std::vector<float> weights_;
};

}  // namespace zeverive::luma
