// The noise of a clip beyond one figure: how strong it is at each
// brightness (the noise-level function) and how it is correlated between
// neighbouring samples along rows and along columns. Both are read from
// the blocks of the noise estimate that look like noise (flat_blocks.h),
// per scene as the estimate is.
//
// Level. Blocks fall into eight bins of brightness over the video range;
// in each bin with enough blocks (30, and a fiftieth of all) the noise's
// variance is the lower fifth of the blocks' spreads over what the lower
// fifth of pure noise reads (the quietest blocks are the ones without
// texture). A straight line through the bins' variances, weighted by how
// many blocks each holds, is the noise-level function, variance = slope *
// Y + offset; beyond the bins it stays at the value of the nearest. It
// counts as rising when the line's deviation at the brightest bin is at
// least kRisingRatio times that at the darkest, and so are the two bins'
// own readings: on white noise of 3 to 20 codes over ten photographs one
// frame read a line of at most 1.12 (texture in the mid-tones tilted one
// further, with ends that agree), on noise growing from 3 to 9 codes from
// black to white 1.28 to 2.76 (bench/noise_profile.py measures it).
//
// Correlation. Across pairs of neighbouring flat blocks (chosen by their
// neighbours), each row of 16 samples (and each column) less its best
// fitting parabola gives products of samples 0 to 3 apart; the parabola
// takes part of the noise with it, which a 4x4 system undoes, so that
// white noise reads as uncorrelated and noise after a 3x3 box blur as 2/3
// and 1/3 at distances 1 and 2.
//
// No files and no options here: blocks in, figures out.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "luma/flat_blocks.h"

namespace zeverive::luma {

constexpr int kBrightnessBins = 8;
constexpr int kCorrelationLags = 4;  // distances 0 to 3
constexpr double kRisingRatio = 1.2;

// The noise's correlation at distances 0 to 3 over its variance (at[0] 1).
struct Correlation {
    std::array<double, kCorrelationLags> at{1.0, 0.0, 0.0, 0.0};
};

// variance = slope * Y + offset, Y in 8-bit codes held within
// [darkest, brightest]: the noise-level function where it rises.
struct NoiseLevelFunction {
    double slope;
    double offset;
    double darkest;
    double brightest;

    double variance(double code) const;
};

struct BrightnessBin {
    double brightness;  // the bin's middle, 8-bit codes
    size_t blocks;
    double variance;    // 0 where too few blocks tell
};

class NoiseProfile : public FlatBlockReader {
public:
    void read_frame(const FlatBlock* blocks, size_t count) override;

    std::array<BrightnessBin, kBrightnessBins> bins() const;
    // The noise-level function, when it rises by kRisingRatio or more.
    std::optional<NoiseLevelFunction> rising_level() const;
    // Adds `other`'s blocks, for one profile over several scenes.
    void merge(const NoiseProfile& other);

    Correlation along_rows() const;
    Correlation along_columns() const;

private:
    // Every block: its brightness and spread; five bytes a block keep the
    // sample of a large clip small.
    std::vector<uint8_t> brightness_;
    std::vector<float> spreads_;
    // Sums of products of detrended samples at distances 0..3, over the
    // pairs of blocks read.
    std::array<double, kCorrelationLags> row_products_{};
    std::array<double, kCorrelationLags> column_products_{};
    size_t row_pairs_ = 0;
    size_t column_pairs_ = 0;
};

}  // namespace zeverive::luma
