// Edge masks from second differences of the approximation coefficients.
//
// edge_mask(mask, half, line, threshold)            kernel table slot 5
// edge_mask_pair(mask, half, line_a, line_b, threshold)   scalar, mode 3
//
// For each centre j = 1 .. half - 2, d(j) = 2 line[j] - line[j-1] -
// line[j+1] decides mask[half + j], the entry of the j-th detail of the new
// band: a smooth centre clears it to 0.0, an edge leaves it alone. Entries
// are only ever lowered; mask[half] and mask[2 half - 1] (centres 0 and
// half - 1) and everything outside [half, 2 half) are never written. Only
// line[0, half) is read.
//
//   x87:   d in double, rounded once to single; cleared when |d| is strictly
//          below the threshold, by storing 0.0.
//   3dnow, sse, avx2: d in single precision at every step ((l[j] + l[j]) -
//          l[j-1]) - l[j+1]; the entry is multiplied by 1.0 where d >
//          threshold or d < -threshold and by 0.0 otherwise (|d| equal to
//          the threshold clears; threshold 0 clears where d is 0). Two
//          centres per step, branch-free (sse takes two steps at a time in
//          full vectors where it can, avx2 four; every lane computes alone,
//          so the entries are the same).
//   edge_mask_pair: clears only where both lines are smooth by the x87
//          test, so an edge in either line protects the position; one form
//          for every variant.
//
// Because of the different rounding of d, decisions of the SIMD forms and
// x87 may also differ where |d| lies within a few single-precision ulps of
// the threshold.
//
// Contract: half even, >= 4, and for x87 and edge_mask_pair at most
// kEdgeMaskMaxHalf (they widen the lines into arrays of that size on the
// stack); the lines hold half values, the mask 2 half;
// no alignment needed; the mask overlaps no line. The 3dnow form leaves the
// MMX state empty. Outside the contract: the SIMD forms run half/2 - 1
// steps, tested before the first, so a half below 4 changes nothing and an
// odd half leaves its last centre untested.
#pragma once

#include "common/size_class.h"

namespace zeverive {

// Half the longest line the pipeline decomposes.
constexpr int kEdgeMaskMaxHalf = kMaxLineLength / 2;

void edge_mask_x87(float* mask, int half, const float* line, float threshold);
void edge_mask_3dnow(float* mask, int half, const float* line, float threshold);
void edge_mask_sse(float* mask, int half, const float* line, float threshold);

void edge_mask_pair(float* mask, int half, const float* line_a, const float* line_b, float threshold);

#if defined(__x86_64__)
void edge_mask_avx2(float* mask, int half, const float* line, float threshold);
// edge_mask_pair compiled for AVX2: the same double arithmetic per centre,
// so the same entries.
void edge_mask_pair_avx2(float* mask, int half, const float* line_a, const float* line_b, float threshold);
#endif

}  // namespace zeverive
