// The blend of overlapping tiles' results (luma/tiling.h): each pixel's
// weighted results summed in doubles, Y, Cb and Cr, and the sums rounded
// back to host samples. The plain loops, and on x86-64 AVX2 twins that do
// each pixel's operations as the plain ones do: the same bits.
#pragma once

#include "host/records.h"

namespace zeverive::luma {

// Adds row_weight * weights[x - origin] times each of pixel x's three
// samples of `result` to sums[3 * x ..], for x in [from, to); `first`
// starts the sums instead (0.0 + v is v, so they come out as if cleared
// first).
void blend_row(double* sums, const double* weights, int origin, double row_weight, const YcPixel* result, int from,
               int to, bool first);
// The sums of `count` pixels rounded to nearest, a half away from zero.
void store_sums(const double* sums, YcPixel* out, int count);

#if defined(__x86_64__)
// The same, where the processor has AVX2 (luma::wide_loops_run()).
void blend_row_avx2(double* sums, const double* weights, int origin, double row_weight, const YcPixel* result,
                    int from, int to, bool first);
void store_sums_avx2(const double* sums, YcPixel* out, int count);
#endif

}  // namespace zeverive::luma
