// edge_mask in x87, 3DNow! and SSE forms, and the scalar edge_mask_pair.

#include "kernels/edge_mask.h"

#include <cmath>

#include "common/single_precision.h"
#include "kernels/sse_target.h"
#include "kernels/two_lane.h"

namespace zeverive {

// ---------------------------------------------------------------- x87 ---

namespace {

// |2 line[j] - line[j-1] - line[j+1]|, formed in double and rounded once.
inline float second_difference_magnitude(const float* line, int j) {
    const double d = (2.0 * line[j] - line[j - 1]) - line[j + 1];
    return std::fabs(to_single(d));
}

}  // namespace

void edge_mask_x87(float* mask, int half, const float* line, float threshold) {
    float* band = mask + half;
    for (int j = 1; j < half - 1; ++j) {
        if (second_difference_magnitude(line, j) < threshold) band[j] = 0.0f;
    }
}

void edge_mask_pair(float* mask, int half, const float* line_a, const float* line_b, float threshold) {
    float* band = mask + half;
    for (int j = 1; j < half - 1; ++j) {
        // line_b is looked at only where line_a is smooth.
        if (second_difference_magnitude(line_a, j) < threshold &&
            second_difference_magnitude(line_b, j) < threshold) {
            band[j] = 0.0f;
        }
    }
}

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
// The same two centres per step, in the low two lanes with 8-byte loads and
// stores, so the SSE form walks the line exactly as the 3DNow! form does.

namespace {

ZEVERIVE_SSE_HELPER __m128 load_two(const float* p) {
    return _mm_loadl_pi(_mm_setzero_ps(), reinterpret_cast<const __m64*>(p));
}

}  // namespace

ZEVERIVE_TARGET_SSE void edge_mask_sse(float* mask, int half, const float* line, float threshold) {
    const __m128 t = _mm_set1_ps(threshold);
    const __m128 minus_t = _mm_sub_ps(_mm_setzero_ps(), t);
    const __m128 one = _mm_set1_ps(1.0f);
    float* band = mask + half;
    for (int j = 1, n = half / 2 - 1; n > 0; --n, j += 2) {
        const __m128 centre = load_two(line + j);
        __m128 d = _mm_add_ps(centre, centre);
        d = _mm_sub_ps(d, load_two(line + j - 1));
        d = _mm_sub_ps(d, load_two(line + j + 1));
        const __m128 edge = _mm_or_ps(_mm_cmpgt_ps(d, t), _mm_cmplt_ps(d, minus_t));
        const __m128 entry = _mm_mul_ps(load_two(band + j), _mm_and_ps(edge, one));
        _mm_storel_pi(reinterpret_cast<__m64*>(band + j), entry);
    }
}

}  // namespace zeverive
