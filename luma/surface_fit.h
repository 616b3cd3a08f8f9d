// An 8x8 block less its best fitting cubic surface: the ten terms x^i y^j
// (i + j <= 3), orthonormal over the block, projected out of the samples.
// The plain loop, and on x86-64 its AVX2 twin, which sums the ten
// projections side by side, each in the plain loop's order: the same bits.
#pragma once

#include "luma/noise_blocks.h"

namespace zeverive::luma {

constexpr int kSurfaceTerms = 10;

// Writes the block's kNoiseBlockSamples samples less the surface to `r`
// and returns the energy of what is left (the sum of its squares).
double surface_residual(const float* samples, double* r);

#if defined(__x86_64__)
// The same, where the processor has AVX2 (luma::wide_loops_run()).
double surface_residual_avx2(const float* samples, double* r);
#endif

}  // namespace zeverive::luma
