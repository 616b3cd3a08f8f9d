// edge_mask in x87, 3DNow! and SSE forms, and the scalar edge_mask_pair.

#include "kernels/edge_mask.h"

#include <cmath>

#include "common/single_precision.h"
#include "kernels/avx2_target.h"
#include "kernels/sse_target.h"
#include "kernels/two_lane.h"

namespace zeverive {

// ---------------------------------------------------------------- x87 ---

namespace {

// The approximations of one level, widened to double once each; a centre
// then reads its three neighbours as doubles instead of converting each
// sample three times (a fifth of edge_mask_pair's time).
struct WideLine {
    double value[kEdgeMaskMaxHalf];
    ZEVERIVE_KERNEL_BODY WideLine(const float* line, int half) {
        for (int j = 0; j < half; ++j) value[j] = line[j];
    }
    // 2 line[j] - line[j-1] - line[j+1], formed in double.
    ZEVERIVE_KERNEL_BODY double second_difference(int j) const {
        return (2.0 * value[j] - value[j - 1]) - value[j + 1];
    }
};

ZEVERIVE_KERNEL_BODY void edge_mask_pair_body(float* mask, int half, const float* line_a, const float* line_b,
                                              float threshold) {
    const double bound = single_rounding_bound(threshold);
    const WideLine wide_a(line_a, half), wide_b(line_b, half);
    float* band = mask + half;
    for (int j = 1; j < half - 1; ++j) {
        // Cleared only where both lines are smooth.
        const bool smooth = (std::fabs(wide_a.second_difference(j)) < bound) &
                            (std::fabs(wide_b.second_difference(j)) < bound);
        band[j] = smooth ? 0.0f : band[j];
    }
}

}  // namespace

// A centre is smooth when its second difference, rounded once to single,
// is below the threshold in magnitude. The loops compare the double with
// single_rounding_bound(threshold) instead, which decides alike for every
// value and spares a conversion per centre.
//
// Both loops decide without a branch: on noisy lines an edge and a smooth
// centre are about equally likely, and a mispredicted branch per centre cost
// more than the arithmetic (edge_mask_pair took over half of a mode-3 frame
// with branches). An untouched entry is written back as it was, and a
// second difference that decides nothing is simply not used, so the entries
// come out as with the early exit. Without the branch the x86-64 compiler
// also vectorises the double arithmetic, which stays the same per centre.

void edge_mask_x87(float* mask, int half, const float* line, float threshold) {
    const double bound = single_rounding_bound(threshold);
    const WideLine wide(line, half);
    float* band = mask + half;
    for (int j = 1; j < half - 1; ++j) {
        const bool smooth = std::fabs(wide.second_difference(j)) < bound;
        band[j] = smooth ? 0.0f : band[j];
    }
}

void edge_mask_pair(float* mask, int half, const float* line_a, const float* line_b, float threshold) {
    edge_mask_pair_body(mask, half, line_a, line_b, threshold);
}

#if defined(__x86_64__)
ZEVERIVE_TARGET_AVX2 void edge_mask_pair_avx2(float* mask, int half, const float* line_a, const float* line_b,
                                              float threshold) {
    edge_mask_pair_body(mask, half, line_a, line_b, threshold);
}
#endif

// -------------------------------------------------------------- 3DNow! ---
// Two centres per step. The comparison masks ANDed with 1.0 give a factor
// of 1.0 at an edge and 0.0 elsewhere, and the entry is multiplied by it.

namespace {

const float kOne = 1.0f;

}  // namespace

ZEVERIVE_TARGET_3DNOW void edge_mask_3dnow(float* mask, int half, const float* line, float threshold) {
    empty_mmx_state();
    const Pair t = pair_splat(&threshold);
    const Pair minus_t = pair_sub(pair_zero(), t);
    const Pair one = pair_splat(&kOne);
    float* band = mask + half;
    for (int j = 1, n = half / 2 - 1; n > 0; --n, j += 2) {
        const Pair centre = pair_load(line + j);
        Pair d = pair_add(centre, centre);
        d = pair_sub(d, pair_load(line + j - 1));
        d = pair_sub(d, pair_load(line + j + 1));
        const Pair edge = pair_or(pair_cmpgt(d, t), pair_cmpgt(minus_t, d));
        pair_store(band + j, pair_mul(pair_load(band + j), pair_and(edge, one)));
    }
    empty_mmx_state();
}

// ----------------------------------------------------------------- SSE ---
// The same per-centre arithmetic as 3DNow!, each lane on its own, so the
// centres come out the same whether a step holds two or four of them: the
// loop takes four centres per step with full vectors (two-lane steps left
// half of every vector idle; the mask took a fifth of a mode-2 frame)
// and ends with a two-centre step for the remainder. It covers the same
// half/2 - 1 pairs of centres as the 3DNow! form, tested before the first.

namespace {

ZEVERIVE_SSE_HELPER __m128 load_two(const float* p) {
    return _mm_loadl_pi(_mm_setzero_ps(), reinterpret_cast<const __m64*>(p));
}

// The mask entries of the centres in `centre`'s lanes, given their
// neighbours: multiplied by 1.0 at an edge, by 0.0 where smooth.
ZEVERIVE_SSE_HELPER __m128 masked(__m128 entry, __m128 centre, __m128 left, __m128 right, __m128 t, __m128 minus_t,
                                  __m128 one) {
    __m128 d = _mm_add_ps(centre, centre);
    d = _mm_sub_ps(d, left);
    d = _mm_sub_ps(d, right);
    const __m128 edge = _mm_or_ps(_mm_cmpgt_ps(d, t), _mm_cmplt_ps(d, minus_t));
    return _mm_mul_ps(entry, _mm_and_ps(edge, one));
}

// `pairs` pairs of centres from centre j on: four centres per step, then
// two for an odd pair left over.
ZEVERIVE_SSE_HELPER void edge_mask_steps(float* band, const float* line, int j, int pairs, __m128 t, __m128 minus_t,
                                         __m128 one) {
    for (; pairs >= 2; pairs -= 2, j += 4) {
        const __m128 entry = masked(_mm_loadu_ps(band + j), _mm_loadu_ps(line + j), _mm_loadu_ps(line + j - 1),
                                    _mm_loadu_ps(line + j + 1), t, minus_t, one);
        _mm_storeu_ps(band + j, entry);
    }
    if (pairs == 1) {
        const __m128 entry = masked(load_two(band + j), load_two(line + j), load_two(line + j - 1),
                                    load_two(line + j + 1), t, minus_t, one);
        _mm_storel_pi(reinterpret_cast<__m64*>(band + j), entry);
    }
}

}  // namespace

ZEVERIVE_TARGET_SSE void edge_mask_sse(float* mask, int half, const float* line, float threshold) {
    const __m128 t = _mm_set1_ps(threshold);
    const __m128 minus_t = _mm_sub_ps(_mm_setzero_ps(), t);
    edge_mask_steps(mask + half, line, 1, half / 2 - 1, t, minus_t, _mm_set1_ps(1.0f));
}

// ---------------------------------------------------------------- AVX2 ---
// The SSE arithmetic eight centres per step; each lane on its own, so the
// entries are SSE's. The rest of the centres goes through the SSE steps
// (four, then two), compiled here with the same arithmetic.

#if defined(__x86_64__)

ZEVERIVE_TARGET_AVX2 void edge_mask_avx2(float* mask, int half, const float* line, float threshold) {
    const __m256 t = _mm256_set1_ps(threshold);
    const __m256 minus_t = _mm256_sub_ps(_mm256_setzero_ps(), t);
    const __m256 one = _mm256_set1_ps(1.0f);
    float* band = mask + half;
    int pairs = half / 2 - 1;
    int j = 1;
    for (; pairs >= 4; pairs -= 4, j += 8) {
        __m256 d = _mm256_loadu_ps(line + j);
        d = _mm256_add_ps(d, d);
        d = _mm256_sub_ps(d, _mm256_loadu_ps(line + j - 1));
        d = _mm256_sub_ps(d, _mm256_loadu_ps(line + j + 1));
        const __m256 edge = _mm256_or_ps(_mm256_cmp_ps(d, t, _CMP_GT_OQ), _mm256_cmp_ps(d, minus_t, _CMP_LT_OQ));
        _mm256_storeu_ps(band + j, _mm256_mul_ps(_mm256_loadu_ps(band + j), _mm256_and_ps(edge, one)));
    }
    edge_mask_steps(band, line, j, pairs, _mm256_castps256_ps128(t), _mm256_castps256_ps128(minus_t),
                    _mm256_castps256_ps128(one));
}

#endif

}  // namespace zeverive
