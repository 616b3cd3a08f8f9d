// Hard thresholding of one detail band (kernel table slots 2, 3 and 4).
//
// shrink_band(line, start, end, threshold, mask)
// shrink_band_4phase(line0, line1, line2, line3, start, end, threshold, mask)
// shrink_band_2phase(line0, line1, start, end, threshold, mask)
//
// For every index i in [start, end) one decision covers all the lines: the
// coefficients at i are cleared together when the mask does not protect i
// and every line's coefficient is small; otherwise none changes. Nothing
// outside [start, end) and never the mask is written.
//
//   x87:   small means |x| < threshold (strict), tested line by line up to
//          the first large one; clearing multiplies by mask[i], so a mask
//          value other than 0.0 or 1.0 scales the coefficient.
//   3dnow, sse, avx2: small means -threshold <= x <= threshold
//          (inclusive); i is protected when mask[i] > 0; clearing stores
//          +0.0. Branch-free; 2 (3dnow), 4 (sse) or 8 (avx2, then 4 for the
//          rest of the band) elements per step. They agree everywhere.
//
// On the masks the system builds (0.0 and 1.0) the forms differ only where
// a coefficient equals +-threshold and none is larger: x87 keeps it, the
// SIMD forms clear it. A threshold of 0 changes nothing in any form (SIMD
// clears only coefficients that are already zero).
//
// Contract: start and end multiples of 4, end - start >= 4; for sse, the
// element at start of every line and of the mask on a 16-byte boundary, and
// sse_scratch (four aligned floats) allocated; avx2 needs no alignment and
// no scratch. Lines may not overlap each other or the mask. The sse form
// uses the shared scratch, so two calls must not run at once. The 3dnow
// form leaves the MMX state empty. Outside the contract: the SIMD forms
// test their step count before the first step, so an empty band writes
// nothing, and they handle whole groups of 2 or 4 only.
#pragma once

namespace zeverive {

void shrink_band_x87(float* line, int start, int end, float threshold, const float* mask);
void shrink_band_3dnow(float* line, int start, int end, float threshold, const float* mask);
void shrink_band_sse(float* line, int start, int end, float threshold, const float* mask);

void shrink_band_2phase_x87(float* line0, float* line1, int start, int end, float threshold,
                            const float* mask);
void shrink_band_2phase_3dnow(float* line0, float* line1, int start, int end, float threshold,
                              const float* mask);
void shrink_band_2phase_sse(float* line0, float* line1, int start, int end, float threshold,
                            const float* mask);

void shrink_band_4phase_x87(float* line0, float* line1, float* line2, float* line3, int start, int end,
                            float threshold, const float* mask);
void shrink_band_4phase_3dnow(float* line0, float* line1, float* line2, float* line3, int start, int end,
                              float threshold, const float* mask);
void shrink_band_4phase_sse(float* line0, float* line1, float* line2, float* line3, int start, int end,
                            float threshold, const float* mask);

#if defined(__x86_64__)
void shrink_band_avx2(float* line, int start, int end, float threshold, const float* mask);
void shrink_band_2phase_avx2(float* line0, float* line1, int start, int end, float threshold,
                             const float* mask);
void shrink_band_4phase_avx2(float* line0, float* line1, float* line2, float* line3, int start, int end,
                             float threshold, const float* mask);
#endif

}  // namespace zeverive
