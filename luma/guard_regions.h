// What the do-no-harm guard reads of a frame's change, region by region:
// the change (before less after) in units of at least a sixteenth of a
// code, and per region of kGuardRegion x kGuardRegion its count, sum, sum
// of squares and products at lags 1, 2 and 4 along rows and down columns
// (from every other row). The plain loops, and on x86-64 AVX2 twins:
// integer sums, so every figure the same.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zeverive::luma {

constexpr int kGuardRegion = 16;

struct RegionSums {
    int64_t count = 0;
    double sum = 0;
    double squares = 0;
    // Products at lags 1, 2 and 4, along rows [0] and down columns [1],
    // and how many of each.
    double along[2][3] = {};
    int64_t pairs[2][3] = {};
};

constexpr int kGuardLags[3] = {1, 2, 4};

// Regions across and down a plane of width x height.
inline int regions_across(int width) { return (width + kGuardRegion - 1) / kGuardRegion; }
inline int regions_down(int height) { return (height + kGuardRegion - 1) / kGuardRegion; }

// Reads the change of every region into `sums` (regions_across(width) *
// regions_down(height) of them, row by row), each sample's change shifted
// right by `shift`. `step` samples from one to the next in a row, rows one
// after the other (width * step samples each). Returns whether any sample
// changed at all.
bool read_regions(const uint8_t* before, const uint8_t* after, int width, int height, int shift,
                  std::vector<RegionSums>& sums);
bool read_regions(const uint16_t* before, const uint16_t* after, int width, int height, int shift,
                  std::vector<RegionSums>& sums);
bool read_regions(const int16_t* before, ptrdiff_t before_step, const int16_t* after, ptrdiff_t after_step,
                  int width, int height, int shift, std::vector<RegionSums>& sums);

#if defined(__x86_64__)
// The same, where the processor has AVX2 (luma::wide_loops_run()).
bool read_regions_avx2(const uint8_t* before, const uint8_t* after, int width, int height, int shift,
                       std::vector<RegionSums>& sums);
bool read_regions_avx2(const uint16_t* before, const uint16_t* after, int width, int height, int shift,
                       std::vector<RegionSums>& sums);
bool read_regions_avx2(const int16_t* before, ptrdiff_t before_step, const int16_t* after, ptrdiff_t after_step,
                       int width, int height, int shift, std::vector<RegionSums>& sums);
#endif

}  // namespace zeverive::luma
