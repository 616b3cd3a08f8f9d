// forward_transform and inverse_transform: x87, 3DNow! and SSE forms.

#include "kernels/transform.h"

#include "common/single_precision.h"
#include "kernels/avx2_target.h"
#include "kernels/sse_target.h"
#include "kernels/two_lane.h"

namespace zeverive {

// ---------------------------------------------------------------- x87 ---

namespace {

// One output: the four products are exact in double, summed in double and
// rounded to single once.
inline float sum4(float c0, float x0, float c1, float x1, float c2, float x2, float c3, float x3) {
    return to_single(double(c0) * x0 + double(c1) * x1 + double(c2) * x2 + double(c3) * x3);
}

}  // namespace

void forward_transform_x87(const float* src, int length, float* dst) {
    const int half = length / 2;
    for (int i = 0; i < half - 1; ++i) {
        const float* x = src + 2 * i;
        dst[i] = sum4(kH0, x[0], kH1, x[1], kH2, x[2], kH3, x[3]);
        dst[half + i] = sum4(kG0, x[0], kG1, x[1], kG2, x[2], kG3, x[3]);
    }
    // The last pair wraps to the start of the line.
    const float x0 = src[length - 2], x1 = src[length - 1], x2 = src[0], x3 = src[1];
    dst[half - 1] = sum4(kH0, x0, kH1, x1, kH2, x2, kH3, x3);
    dst[length - 1] = sum4(kG0, x0, kG1, x1, kG2, x2, kG3, x3);
}

void inverse_transform_x87(const float* approx, const float* detail, int half_length, float* dst) {
    // The first pair's previous coefficients are the last ones.
    const int last = half_length - 1;
    dst[0] = sum4(kH0, approx[0], kH2, approx[last], kG0, detail[0], kG2, detail[last]);
    dst[1] = sum4(kH1, approx[0], kH3, approx[last], kG1, detail[0], kG3, detail[last]);
    for (int j = 1; j < half_length; ++j) {
        dst[2 * j] = sum4(kH0, approx[j], kH2, approx[j - 1], kG0, detail[j], kG2, detail[j - 1]);
        dst[2 * j + 1] = sum4(kH1, approx[j], kH3, approx[j - 1], kG1, detail[j], kG3, detail[j - 1]);
    }
}

// -------------------------------------------------------------- 3DNow! ---
// Each input sample goes into both lanes and meets a (low-pass, high-pass)
// coefficient pair, so one packed operation yields an approximation and a
// detail (forward) or an even and an odd sample (inverse).

namespace {

// (h_k, g_k): the forward's pair for sample 2i + k.
alignas(8) const float kForwardPairs[4][2] = {{kH0, kG0}, {kH1, kG1}, {kH2, kG2}, {kH3, kG3}};
// (h0, h1), (g0, g1) meet A[j], D[j]; (h2, h3), (g2, g3) meet A[p], D[p].
alignas(8) const float kInverseCurrent[2][2] = {{kH0, kH1}, {kG0, kG1}};
alignas(8) const float kInversePrevious[2][2] = {{kH2, kH3}, {kG2, kG3}};

}  // namespace

ZEVERIVE_TARGET_3DNOW void forward_transform_3dnow(const float* src, int length, float* dst) {
    empty_mmx_state();
    const Pair c0 = pair_load(kForwardPairs[0]);
    const Pair c1 = pair_load(kForwardPairs[1]);
    const Pair c2 = pair_load(kForwardPairs[2]);
    const Pair c3 = pair_load(kForwardPairs[3]);
    const int half = length / 2;
    for (int i = 0; i < half - 1; ++i) {
        const float* x = src + 2 * i;
        Pair sum = pair_mul(pair_splat(x + 0), c0);
        sum = pair_add(sum, pair_mul(pair_splat(x + 1), c1));
        sum = pair_add(sum, pair_mul(pair_splat(x + 2), c2));
        sum = pair_add(sum, pair_mul(pair_splat(x + 3), c3));
        pair_store_lo(dst + i, sum);
        pair_store_hi(dst + half + i, sum);
    }
    Pair sum = pair_mul(pair_splat(src + length - 2), c0);
    sum = pair_add(sum, pair_mul(pair_splat(src + length - 1), c1));
    sum = pair_add(sum, pair_mul(pair_splat(src + 0), c2));
    sum = pair_add(sum, pair_mul(pair_splat(src + 1), c3));
    pair_store_lo(dst + half - 1, sum);
    pair_store_hi(dst + length - 1, sum);
    empty_mmx_state();
}

ZEVERIVE_TARGET_3DNOW void inverse_transform_3dnow(const float* approx, const float* detail, int half_length,
                                                   float* dst) {
    empty_mmx_state();
    const Pair ca = pair_load(kInverseCurrent[0]);
    const Pair cd = pair_load(kInverseCurrent[1]);
    const Pair pa = pair_load(kInversePrevious[0]);
    const Pair pd = pair_load(kInversePrevious[1]);
    const int last = half_length - 1;
    Pair sum = pair_mul(pair_splat(approx + 0), ca);
    sum = pair_add(sum, pair_mul(pair_splat(detail + 0), cd));
    sum = pair_add(sum, pair_mul(pair_splat(approx + last), pa));
    sum = pair_add(sum, pair_mul(pair_splat(detail + last), pd));
    pair_store(dst, sum);
    for (int j = 1; j < half_length; ++j) {
        Pair y = pair_mul(pair_splat(approx + j), ca);
        y = pair_add(y, pair_mul(pair_splat(detail + j), cd));
        y = pair_add(y, pair_mul(pair_splat(approx + j - 1), pa));
        y = pair_add(y, pair_mul(pair_splat(detail + j - 1), pd));
        pair_store(dst + 2 * j, y);
    }
    empty_mmx_state();
}

// ----------------------------------------------------------------- SSE ---
// Every output is the sum of its four products, each product and each
// partial sum rounded to single, added in this order, which defines the SSE
// results:
//   a_i = ((h0 x0 + h1 x1) + h2 x2) + h3 x3
//   d_i = ((g1 x1 + g0 x0) + g3 x3) + g2 x2
//   y[2j]   = ((h0 A[j] + h2 A[p]) + g0 D[j]) + g2 D[p]
//   y[2j+1] = ((h1 A[j] + h3 A[p]) + g1 D[j]) + g3 D[p]
// The loops compute four approximations and four details (forward), or
// four even and four odd samples (inverse), per group of four lanes, so
// each vector holds one kind of output and is stored whole, with no
// shuffle per product. Eight samples (forward) or four pairs (inverse) per
// loop iteration.

namespace {

// Each filter coefficient in all four lanes; the forward and the inverse
// groups both read them.
struct FilterVectors {
    __m128 h0, h1, h2, h3, g0, g1, g2, g3;
};

ZEVERIVE_SSE_HELPER FilterVectors filter_vectors() {
    return FilterVectors{_mm_set1_ps(kH0), _mm_set1_ps(kH1), _mm_set1_ps(kH2), _mm_set1_ps(kH3),
                         _mm_set1_ps(kG0), _mm_set1_ps(kG1), _mm_set1_ps(kG2), _mm_set1_ps(kG3)};
}

// Ten samples x0..x9 (x0..x7 in `low` and `high`, x6..x9 in
// `shifted_high`) give a_i..a_i+3 and d_i..d_i+3 for i = s/2, stored to
// dst[i] and dst[half + i].
ZEVERIVE_SSE_HELPER void forward_group(const FilterVectors& c, __m128 low, __m128 high, __m128 shifted_high,
                                       float* dst, int half, int i) {
    const __m128 shifted_low = _mm_shuffle_ps(low, high, _MM_SHUFFLE(1, 0, 3, 2));           // x2 x3 x4 x5
    const __m128 x0 = _mm_shuffle_ps(low, high, _MM_SHUFFLE(2, 0, 2, 0));                    // x0 x2 x4 x6
    const __m128 x1 = _mm_shuffle_ps(low, high, _MM_SHUFFLE(3, 1, 3, 1));                    // x1 x3 x5 x7
    const __m128 x2 = _mm_shuffle_ps(shifted_low, shifted_high, _MM_SHUFFLE(2, 0, 2, 0));    // x2 x4 x6 x8
    const __m128 x3 = _mm_shuffle_ps(shifted_low, shifted_high, _MM_SHUFFLE(3, 1, 3, 1));    // x3 x5 x7 x9
    __m128 a = _mm_add_ps(_mm_mul_ps(x0, c.h0), _mm_mul_ps(x1, c.h1));
    a = _mm_add_ps(a, _mm_mul_ps(x2, c.h2));
    a = _mm_add_ps(a, _mm_mul_ps(x3, c.h3));
    __m128 d = _mm_add_ps(_mm_mul_ps(x1, c.g1), _mm_mul_ps(x0, c.g0));
    d = _mm_add_ps(d, _mm_mul_ps(x3, c.g3));
    d = _mm_add_ps(d, _mm_mul_ps(x2, c.g2));
    _mm_storeu_ps(dst + i, a);
    _mm_storeu_ps(dst + half + i, d);
}

// Pairs j..j+3 from A[j..j+3], their previous coefficients A[p] and the
// same for D: y[2j .. 2j+7], stored as two aligned blocks.
ZEVERIVE_SSE_HELPER void inverse_group(const FilterVectors& c, __m128 a, __m128 a_prev, __m128 d, __m128 d_prev,
                                       float* dst) {
    __m128 even = _mm_add_ps(_mm_mul_ps(a, c.h0), _mm_mul_ps(a_prev, c.h2));
    even = _mm_add_ps(even, _mm_mul_ps(d, c.g0));
    even = _mm_add_ps(even, _mm_mul_ps(d_prev, c.g2));
    __m128 odd = _mm_add_ps(_mm_mul_ps(a, c.h1), _mm_mul_ps(a_prev, c.h3));
    odd = _mm_add_ps(odd, _mm_mul_ps(d, c.g1));
    odd = _mm_add_ps(odd, _mm_mul_ps(d_prev, c.g3));
    _mm_store_ps(dst, _mm_unpacklo_ps(even, odd));
    _mm_store_ps(dst + 4, _mm_unpackhi_ps(even, odd));
}

// The group of samples s..s+9, none of them wrapping.
ZEVERIVE_SSE_HELPER void forward_group_at(const FilterVectors& c, const float* src, int s, float* dst, int half) {
    forward_group(c, _mm_load_ps(src + s), _mm_load_ps(src + s + 4), _mm_loadu_ps(src + s + 6), dst, half, s / 2);
}

// The last group of a line: its x8 and x9 wrap to src[0] and src[1].
ZEVERIVE_SSE_HELPER void forward_last_group(const FilterVectors& c, const float* src, int s, float* dst, int half) {
    const __m128 high = _mm_load_ps(src + s + 4);
    const __m128 wrap = _mm_shuffle_ps(high, _mm_load_ps(src), _MM_SHUFFLE(1, 0, 3, 2));  // x6 x7 src0 src1
    forward_group(c, _mm_load_ps(src + s), high, wrap, dst, half, s / 2);
}

// (p[-1], p[0], p[1], p[2]) for the first group, whose p[-1] is the last
// coefficient: `head` is p[0..3].
ZEVERIVE_SSE_HELPER __m128 previous_of_first(__m128 head, const float* last) {
    const __m128 wrap = _mm_shuffle_ps(_mm_load_ss(last), head, _MM_SHUFFLE(0, 0, 0, 0));  // p[m-1] p[m-1] p0 p0
    return _mm_shuffle_ps(wrap, head, _MM_SHUFFLE(2, 1, 2, 0));                            // p[m-1] p0 p1 p2
}

// Pairs j..j+3, j >= 4.
ZEVERIVE_SSE_HELPER void inverse_group_at(const FilterVectors& c, const float* approx, const float* detail, int j,
                                          float* dst) {
    inverse_group(c, _mm_loadu_ps(approx + j), _mm_loadu_ps(approx + j - 1), _mm_loadu_ps(detail + j),
                  _mm_loadu_ps(detail + j - 1), dst + 2 * j);
}

// Pairs 0..3: the first previous pair is the last one.
ZEVERIVE_SSE_HELPER void inverse_first_group(const FilterVectors& c, const float* approx, const float* detail,
                                             int half_length, float* dst) {
    const __m128 a = _mm_loadu_ps(approx);
    const __m128 d = _mm_loadu_ps(detail);
    inverse_group(c, a, previous_of_first(a, approx + half_length - 1), d,
                  previous_of_first(d, detail + half_length - 1), dst);
}

}  // namespace

ZEVERIVE_TARGET_SSE void forward_transform_sse(const float* src, int length, float* dst) {
    const FilterVectors c = filter_vectors();
    const int half = length / 2;
    int s = 0;  // first sample of the group
    for (int n = length / 8 - 1; n > 0; --n, s += 8) forward_group_at(c, src, s, dst, half);
    forward_last_group(c, src, s, dst, half);
}

ZEVERIVE_TARGET_SSE void inverse_transform_sse(const float* approx, const float* detail, int half_length,
                                               float* dst) {
    const FilterVectors c = filter_vectors();
    inverse_first_group(c, approx, detail, half_length, dst);
    for (int j = 4; j < half_length; j += 4) inverse_group_at(c, approx, detail, j, dst);
}

// ---------------------------------------------------------------- AVX2 ---
// The SSE groups twice as wide: each lane gets the same products, added in
// the same order, so every output bit is SSE's. A forward step takes 16
// samples (eight approximations and eight details), an inverse step eight
// pairs. What does not fill a wide step (the forward's wrapping last group,
// an odd group left over, the inverse's first group with its wrapped
// previous pair and a remainder of four pairs) goes through the SSE groups,
// which this function's target compiles with the same arithmetic.

#if defined(__x86_64__)

namespace {

struct WideVectors {
    __m256 h0, h1, h2, h3, g0, g1, g2, g3;
};

ZEVERIVE_AVX2_HELPER WideVectors wide_vectors() {
    return WideVectors{_mm256_set1_ps(kH0), _mm256_set1_ps(kH1), _mm256_set1_ps(kH2), _mm256_set1_ps(kH3),
                       _mm256_set1_ps(kG0), _mm256_set1_ps(kG1), _mm256_set1_ps(kG2), _mm256_set1_ps(kG3)};
}

// a_i..a_i+7 and d_i..d_i+7 for i = s/2 from src[s .. s+17].
ZEVERIVE_AVX2_HELPER void forward_wide_group(const WideVectors& c, const float* x, float* dst, int half, int i) {
    const auto [x0, x1, x2, x3] = four_taps(x);
    __m256 a = _mm256_add_ps(_mm256_mul_ps(x0, c.h0), _mm256_mul_ps(x1, c.h1));
    a = _mm256_add_ps(a, _mm256_mul_ps(x2, c.h2));
    a = _mm256_add_ps(a, _mm256_mul_ps(x3, c.h3));
    __m256 d = _mm256_add_ps(_mm256_mul_ps(x1, c.g1), _mm256_mul_ps(x0, c.g0));
    d = _mm256_add_ps(d, _mm256_mul_ps(x3, c.g3));
    d = _mm256_add_ps(d, _mm256_mul_ps(x2, c.g2));
    _mm256_storeu_ps(dst + i, a);
    _mm256_storeu_ps(dst + half + i, d);
}

// Pairs j..j+7: y[2j .. 2j+15].
ZEVERIVE_AVX2_HELPER void inverse_wide_group(const WideVectors& c, const float* approx, const float* detail, int j,
                                             float* dst) {
    const __m256 a = _mm256_loadu_ps(approx + j), a_prev = _mm256_loadu_ps(approx + j - 1);
    const __m256 d = _mm256_loadu_ps(detail + j), d_prev = _mm256_loadu_ps(detail + j - 1);
    __m256 even = _mm256_add_ps(_mm256_mul_ps(a, c.h0), _mm256_mul_ps(a_prev, c.h2));
    even = _mm256_add_ps(even, _mm256_mul_ps(d, c.g0));
    even = _mm256_add_ps(even, _mm256_mul_ps(d_prev, c.g2));
    __m256 odd = _mm256_add_ps(_mm256_mul_ps(a, c.h1), _mm256_mul_ps(a_prev, c.h3));
    odd = _mm256_add_ps(odd, _mm256_mul_ps(d, c.g1));
    odd = _mm256_add_ps(odd, _mm256_mul_ps(d_prev, c.g3));
    // In-lane interleaving gives pairs (0, 1 | 4, 5) and (2, 3 | 6, 7).
    const __m256 first = _mm256_unpacklo_ps(even, odd), second = _mm256_unpackhi_ps(even, odd);
    _mm256_storeu_ps(dst + 2 * j, _mm256_permute2f128_ps(first, second, 0x20));
    _mm256_storeu_ps(dst + 2 * j + 8, _mm256_permute2f128_ps(first, second, 0x31));
}

}  // namespace

ZEVERIVE_TARGET_AVX2 void forward_transform_avx2(const float* src, int length, float* dst) {
    const WideVectors c = wide_vectors();
    const FilterVectors narrow = filter_vectors();
    const int half = length / 2;
    // Groups of eight samples that do not wrap: all but the last.
    int groups = length / 8 - 1;
    int s = 0;
    for (; groups >= 2; groups -= 2, s += 16) forward_wide_group(c, src + s, dst, half, s / 2);
    if (groups == 1) {
        forward_group_at(narrow, src, s, dst, half);
        s += 8;
    }
    forward_last_group(narrow, src, s, dst, half);
}

ZEVERIVE_TARGET_AVX2 void inverse_transform_avx2(const float* approx, const float* detail, int half_length,
                                                 float* dst) {
    const WideVectors c = wide_vectors();
    const FilterVectors narrow = filter_vectors();
    inverse_first_group(narrow, approx, detail, half_length, dst);
    int j = 4;
    for (; j + 8 <= half_length; j += 8) inverse_wide_group(c, approx, detail, j, dst);
    if (j < half_length) inverse_group_at(narrow, approx, detail, j, dst);
}

#endif

}  // namespace zeverive
