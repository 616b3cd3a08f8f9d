// shrink_band, shrink_band_2phase and shrink_band_4phase: x87, 3DNow! and
// SSE forms.

#include "kernels/shrink_band.h"

#include <cmath>
#include <utility>

#include "kernels/avx2_target.h"
#include "kernels/sse_scratch.h"
#include "kernels/sse_target.h"
#include "kernels/two_lane.h"

namespace zeverive {

// ---------------------------------------------------------------- x87 ---
// Strict test, line by line up to the first large coefficient; a position
// where all are small is multiplied by its mask value.
//
// The loops decide without branching: on noisy bands small and large
// coefficients are about equally likely, so a branch per position is often
// mispredicted (measured on whole frames: 6 % of a four-phase x87 frame,
// the other modes within 2 %). Testing every line instead of stopping at
// the first large one changes nothing (the tests have no effect of their
// own), and a position that stays is written back as it was.

void shrink_band_x87(float* line, int start, int end, float threshold, const float* mask) {
    for (int i = start; i < end; ++i) {
        const float x = line[i];
        const float shrunk = mask[i] * x;
        line[i] = std::fabs(x) < threshold ? shrunk : x;
    }
}

void shrink_band_2phase_x87(float* line0, float* line1, int start, int end, float threshold,
                            const float* mask) {
    for (int i = start; i < end; ++i) {
        const float x0 = line0[i], x1 = line1[i];
        const float m = mask[i];
        const float shrunk0 = m * x0, shrunk1 = m * x1;
        const bool small = (std::fabs(x0) < threshold) & (std::fabs(x1) < threshold);
        line0[i] = small ? shrunk0 : x0;
        line1[i] = small ? shrunk1 : x1;
    }
}

void shrink_band_4phase_x87(float* line0, float* line1, float* line2, float* line3, int start, int end,
                            float threshold, const float* mask) {
    for (int i = start; i < end; ++i) {
        const float x0 = line0[i], x1 = line1[i], x2 = line2[i], x3 = line3[i];
        const float m = mask[i];
        const float shrunk0 = m * x0, shrunk1 = m * x1, shrunk2 = m * x2, shrunk3 = m * x3;
        const bool small = (std::fabs(x0) < threshold) & (std::fabs(x1) < threshold) &
                           (std::fabs(x2) < threshold) & (std::fabs(x3) < threshold);
        line0[i] = small ? shrunk0 : x0;
        line1[i] = small ? shrunk1 : x1;
        line2[i] = small ? shrunk2 : x2;
        line3[i] = small ? shrunk3 : x3;
    }
}

// -------------------------------------------------------------- 3DNow! ---
// keep = mask > 0, or any coefficient outside [-threshold, threshold]; the
// stored value is the coefficient ANDed with keep, so a cleared position
// gets +0.0. Two elements per step, whole pairs only.

namespace {

// All-ones in the lanes whose coefficient lies outside [-t, t].
ZEVERIVE_PAIR_OP Pair outside(Pair x, Pair t, Pair minus_t) {
    return pair_or(pair_cmpgt(x, t), pair_cmpgt(minus_t, x));
}

// Two or four phase lines, one decision for all of them. The one-line form
// stays written out, as does x87's every form: from a template the compiler
// schedules them differently, and each form keeps the instructions it was
// measured and checked with.
template <size_t... kLine>
ZEVERIVE_PAIR_OP void shrink_lines_3dnow(float* const (&lines)[sizeof...(kLine)], std::index_sequence<kLine...>,
                                         int start, int end, float threshold, const float* mask) {
    empty_mmx_state();
    const Pair zero = pair_zero();
    const Pair t = pair_splat(&threshold);
    const Pair minus_t = pair_sub(zero, t);
    for (int i = start, n = (end - start) / 2; n > 0; --n, i += 2) {
        const Pair x[] = {pair_load(lines[kLine] + i)...};
        Pair keep = pair_cmpgt(pair_load(mask + i), zero);
        ((keep = pair_or(keep, outside(x[kLine], t, minus_t))), ...);
        (pair_store(lines[kLine] + i, pair_and(x[kLine], keep)), ...);
    }
    empty_mmx_state();
}

}  // namespace

ZEVERIVE_TARGET_3DNOW void shrink_band_3dnow(float* line, int start, int end, float threshold,
                                             const float* mask) {
    empty_mmx_state();
    const Pair zero = pair_zero();
    const Pair t = pair_splat(&threshold);
    const Pair minus_t = pair_sub(zero, t);
    for (int i = start, n = (end - start) / 2; n > 0; --n, i += 2) {
        const Pair x = pair_load(line + i);
        const Pair keep = pair_or(pair_cmpgt(pair_load(mask + i), zero), outside(x, t, minus_t));
        pair_store(line + i, pair_and(x, keep));
    }
    empty_mmx_state();
}

ZEVERIVE_TARGET_3DNOW void shrink_band_2phase_3dnow(float* line0, float* line1, int start, int end,
                                                    float threshold, const float* mask) {
    float* const lines[] = {line0, line1};
    shrink_lines_3dnow(lines, std::make_index_sequence<2>(), start, end, threshold, mask);
}

ZEVERIVE_TARGET_3DNOW void shrink_band_4phase_3dnow(float* line0, float* line1, float* line2, float* line3,
                                                    int start, int end, float threshold, const float* mask) {
    float* const lines[] = {line0, line1, line2, line3};
    shrink_lines_3dnow(lines, std::make_index_sequence<4>(), start, end, threshold, mask);
}

// ----------------------------------------------------------------- SSE ---
// The same decision as 3DNow!, four elements per step with aligned loads
// and stores. The stores are ordinary ones: the inverse transform reads the
// band again at once, and a streaming store (MOVNTPS) sends it to memory
// first; on one machine of our kind that doubled the frame time.

namespace {

struct Bounds {
    __m128 zero, t, minus_t;
};

// The threshold goes through the four floats of the shared scratch and
// comes back as one aligned vector.
ZEVERIVE_SSE_HELPER Bounds threshold_bounds(float threshold) {
    float* scratch = sse_scratch;
    scratch[0] = threshold;
    scratch[1] = threshold;
    scratch[2] = threshold;
    scratch[3] = threshold;
    const __m128 zero = _mm_setzero_ps();
    const __m128 t = _mm_load_ps(scratch);
    return Bounds{zero, t, _mm_sub_ps(zero, t)};
}

ZEVERIVE_SSE_HELPER __m128 outside(const Bounds& b, __m128 x) {
    return _mm_or_ps(_mm_cmpgt_ps(x, b.t), _mm_cmplt_ps(x, b.minus_t));
}

// Two or four phase lines, as the 3DNow! template.
template <size_t... kLine>
ZEVERIVE_SSE_HELPER void shrink_lines_sse(float* const (&lines)[sizeof...(kLine)], std::index_sequence<kLine...>,
                                          int start, int end, float threshold, const float* mask) {
    const Bounds b = threshold_bounds(threshold);
    for (int i = start, n = (end - start) / 4; n > 0; --n, i += 4) {
        const __m128 x[] = {_mm_load_ps(lines[kLine] + i)...};
        __m128 keep = _mm_cmpgt_ps(_mm_load_ps(mask + i), b.zero);
        ((keep = _mm_or_ps(keep, outside(b, x[kLine]))), ...);
        (_mm_store_ps(lines[kLine] + i, _mm_and_ps(x[kLine], keep)), ...);
    }
}

}  // namespace

ZEVERIVE_TARGET_SSE void shrink_band_sse(float* line, int start, int end, float threshold, const float* mask) {
    const Bounds b = threshold_bounds(threshold);
    for (int i = start, n = (end - start) / 4; n > 0; --n, i += 4) {
        const __m128 x = _mm_load_ps(line + i);
        const __m128 keep = _mm_or_ps(_mm_cmpgt_ps(_mm_load_ps(mask + i), b.zero), outside(b, x));
        _mm_store_ps(line + i, _mm_and_ps(x, keep));
    }
}

ZEVERIVE_TARGET_SSE void shrink_band_2phase_sse(float* line0, float* line1, int start, int end, float threshold,
                                                const float* mask) {
    float* const lines[] = {line0, line1};
    shrink_lines_sse(lines, std::make_index_sequence<2>(), start, end, threshold, mask);
}

ZEVERIVE_TARGET_SSE void shrink_band_4phase_sse(float* line0, float* line1, float* line2, float* line3, int start,
                                                int end, float threshold, const float* mask) {
    float* const lines[] = {line0, line1, line2, line3};
    shrink_lines_sse(lines, std::make_index_sequence<4>(), start, end, threshold, mask);
}

// ---------------------------------------------------------------- AVX2 ---
// The SSE decision eight elements per step; each lane compares and masks
// alone, so every output bit is SSE's. Bands start on 16-byte boundaries
// only, hence unaligned loads and stores; a band of 4 modulo 8 elements ends
// with one four-lane step in the SSE arithmetic. The threshold needs no
// scratch: broadcasting it gives the same vector.

#if defined(__x86_64__)

namespace {

struct WideBounds {
    __m256 zero, t, minus_t;
};

ZEVERIVE_AVX2_HELPER WideBounds wide_bounds(float threshold) {
    const __m256 zero = _mm256_setzero_ps();
    const __m256 t = _mm256_set1_ps(threshold);
    return WideBounds{zero, t, _mm256_sub_ps(zero, t)};
}

ZEVERIVE_AVX2_HELPER __m256 outside(const WideBounds& b, __m256 x) {
    return _mm256_or_ps(_mm256_cmp_ps(x, b.t, _CMP_GT_OQ), _mm256_cmp_ps(x, b.minus_t, _CMP_LT_OQ));
}

ZEVERIVE_AVX2_HELPER __m256 protected_by(const WideBounds& b, const float* mask) {
    return _mm256_cmp_ps(_mm256_loadu_ps(mask), b.zero, _CMP_GT_OQ);
}

// The last four elements of a band, as the SSE form treats them.
ZEVERIVE_AVX2_HELPER Bounds narrow(const WideBounds& b) {
    return Bounds{_mm256_castps256_ps128(b.zero), _mm256_castps256_ps128(b.t), _mm256_castps256_ps128(b.minus_t)};
}

template <int kLines>
ZEVERIVE_AVX2_HELPER void shrink_lines_avx2(float* const (&lines)[kLines], int start, int end, float threshold,
                                            const float* mask) {
    const WideBounds b = wide_bounds(threshold);
    int i = start;
    for (int n = (end - start) / 8; n > 0; --n, i += 8) {
        __m256 x[kLines];
        for (int k = 0; k < kLines; ++k) x[k] = _mm256_loadu_ps(lines[k] + i);
        __m256 keep = protected_by(b, mask + i);
        for (int k = 0; k < kLines; ++k) keep = _mm256_or_ps(keep, outside(b, x[k]));
        for (int k = 0; k < kLines; ++k) _mm256_storeu_ps(lines[k] + i, _mm256_and_ps(x[k], keep));
    }
    if ((end - i) >= 4) {
        const Bounds n = narrow(b);
        __m128 x[kLines];
        for (int k = 0; k < kLines; ++k) x[k] = _mm_loadu_ps(lines[k] + i);
        __m128 keep = _mm_cmpgt_ps(_mm_loadu_ps(mask + i), n.zero);
        for (int k = 0; k < kLines; ++k) keep = _mm_or_ps(keep, outside(n, x[k]));
        for (int k = 0; k < kLines; ++k) _mm_storeu_ps(lines[k] + i, _mm_and_ps(x[k], keep));
    }
}

}  // namespace

ZEVERIVE_TARGET_AVX2 void shrink_band_avx2(float* line, int start, int end, float threshold, const float* mask) {
    float* const lines[1] = {line};
    shrink_lines_avx2(lines, start, end, threshold, mask);
}

ZEVERIVE_TARGET_AVX2 void shrink_band_2phase_avx2(float* line0, float* line1, int start, int end, float threshold,
                                                  const float* mask) {
    float* const lines[2] = {line0, line1};
    shrink_lines_avx2(lines, start, end, threshold, mask);
}

ZEVERIVE_TARGET_AVX2 void shrink_band_4phase_avx2(float* line0, float* line1, float* line2, float* line3, int start,
                                                  int end, float threshold, const float* mask) {
    float* const lines[4] = {line0, line1, line2, line3};
    shrink_lines_avx2(lines, start, end, threshold, mask);
}

#endif

}  // namespace zeverive
