// forward_transform and inverse_transform: x87, 3DNow! and SSE forms.

#include "kernels/transform.h"

#include "common/single_precision.h"
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

namespace {

// How far ahead of the read position the streams are prefetched: two cache
// lines, enough to hide a miss behind the two steps of one iteration.
constexpr int kPrefetchFloats = 32;

struct ForwardVectors {
    __m128 c0, c1, c2, c3;
};

ZEVERIVE_SSE_HELPER ForwardVectors forward_vectors() {
    return ForwardVectors{_mm_setr_ps(kH0, kH0, kG1, kG1), _mm_setr_ps(kH1, kH1, kG0, kG0),
                          _mm_setr_ps(kH2, kH2, kG3, kG3), _mm_setr_ps(kH3, kH3, kG2, kG2)};
}

// One step over x0..x5 (x0..x3 in `block`, x4 and x5 the first two lanes of
// `next`): (a_i, a_i+1, d_i, d_i+1), stored to dst[i], dst[i+1] and
// dst[half + i], dst[half + i + 1].
ZEVERIVE_SSE_HELPER void forward_step(const ForwardVectors& c, __m128 block, __m128 next, float* dst, int half,
                                      int i) {
    const __m128 upper = _mm_shuffle_ps(block, next, _MM_SHUFFLE(1, 0, 3, 2));  // x2 x3 x4 x5
    __m128 sum = _mm_mul_ps(_mm_shuffle_ps(block, block, _MM_SHUFFLE(3, 1, 2, 0)), c.c0);  // x0 x2 x1 x3
    sum = _mm_add_ps(sum, _mm_mul_ps(_mm_shuffle_ps(block, block, _MM_SHUFFLE(2, 0, 3, 1)), c.c1));  // x1 x3 x0 x2
    sum = _mm_add_ps(sum, _mm_mul_ps(_mm_shuffle_ps(upper, upper, _MM_SHUFFLE(3, 1, 2, 0)), c.c2));  // x2 x4 x3 x5
    sum = _mm_add_ps(sum, _mm_mul_ps(_mm_shuffle_ps(upper, upper, _MM_SHUFFLE(2, 0, 3, 1)), c.c3));  // x3 x5 x2 x4
    _mm_storel_pi(reinterpret_cast<__m64*>(dst + i), sum);
    _mm_storeh_pi(reinterpret_cast<__m64*>(dst + half + i), sum);
}

struct InverseVectors {
    __m128 a_cur, a_prev, d_cur, d_prev;
};

ZEVERIVE_SSE_HELPER InverseVectors inverse_vectors() {
    return InverseVectors{_mm_setr_ps(kH0, kH1, kH0, kH1), _mm_setr_ps(kH2, kH3, kH2, kH3),
                          _mm_setr_ps(kG0, kG1, kG0, kG1), _mm_setr_ps(kG2, kG3, kG2, kG3)};
}

// Two consecutive coefficients in the low lanes, one 8-byte read with no
// alignment demand.
ZEVERIVE_SSE_HELPER __m128 load_coefficient_pair(const float* p) {
    return _mm_loadl_pi(_mm_setzero_ps(), reinterpret_cast<const __m64*>(p));
}

// One step: pairs j and j+1, y[2j .. 2j+3], from the coefficient pairs
// (A[j], A[j+1]) and the previous (A[j-2], A[j-1]), likewise for D.
ZEVERIVE_SSE_HELPER __m128 inverse_step(const InverseVectors& c, __m128 a_prev, __m128 a, __m128 d_prev, __m128 d) {
    const __m128 a_now = _mm_unpacklo_ps(a, a);                                     // A[j] A[j] A[j+1] A[j+1]
    const __m128 a_before = _mm_shuffle_ps(a_prev, a, _MM_SHUFFLE(0, 0, 1, 1));    // A[p] A[p] A[j] A[j]
    const __m128 d_now = _mm_unpacklo_ps(d, d);
    const __m128 d_before = _mm_shuffle_ps(d_prev, d, _MM_SHUFFLE(0, 0, 1, 1));
    __m128 sum = _mm_mul_ps(a_now, c.a_cur);
    sum = _mm_add_ps(sum, _mm_mul_ps(a_before, c.a_prev));
    sum = _mm_add_ps(sum, _mm_mul_ps(d_now, c.d_cur));
    sum = _mm_add_ps(sum, _mm_mul_ps(d_before, c.d_prev));
    return sum;
}

}  // namespace

ZEVERIVE_TARGET_SSE void forward_transform_sse(const float* src, int length, float* dst) {
    const ForwardVectors c = forward_vectors();
    const int half = length / 2;
    __m128 block = _mm_load_ps(src);
    int s = 0;  // first sample of `block`
    for (int n = length / 8 - 1; n > 0; --n) {
        _mm_prefetch(reinterpret_cast<const char*>(src + s + kPrefetchFloats), _MM_HINT_NTA);
        const __m128 second = _mm_load_ps(src + s + 4);
        const __m128 third = _mm_load_ps(src + s + 8);
        forward_step(c, block, second, dst, half, s / 2);
        forward_step(c, second, third, dst, half, s / 2 + 2);
        block = third;
        s += 8;
    }
    const __m128 last = _mm_load_ps(src + s + 4);
    forward_step(c, block, last, dst, half, s / 2);
    // The final step wraps: its x4 and x5 are src[0] and src[1].
    forward_step(c, last, _mm_load_ps(src), dst, half, s / 2 + 2);
}

ZEVERIVE_TARGET_SSE void inverse_transform_sse(const float* approx, const float* detail, int half_length,
                                               float* dst) {
    const InverseVectors c = inverse_vectors();
    // The first step's previous pair is the last one.
    __m128 a = load_coefficient_pair(approx);
    __m128 d = load_coefficient_pair(detail);
    _mm_store_ps(dst, inverse_step(c, load_coefficient_pair(approx + half_length - 2), a,
                                   load_coefficient_pair(detail + half_length - 2), d));
    int j = 2;
    for (int n = half_length / 4 - 1; n > 0; --n) {
        _mm_prefetch(reinterpret_cast<const char*>(approx + j + kPrefetchFloats), _MM_HINT_NTA);
        _mm_prefetch(reinterpret_cast<const char*>(detail + j + kPrefetchFloats), _MM_HINT_NTA);
        const __m128 a1 = load_coefficient_pair(approx + j);
        const __m128 d1 = load_coefficient_pair(detail + j);
        const __m128 a2 = load_coefficient_pair(approx + j + 2);
        const __m128 d2 = load_coefficient_pair(detail + j + 2);
        _mm_store_ps(dst + 2 * j, inverse_step(c, a, a1, d, d1));
        _mm_store_ps(dst + 2 * j + 4, inverse_step(c, a1, a2, d1, d2));
        a = a2;
        d = d2;
        j += 4;
    }
    // j is now half_length - 2.
    _mm_store_ps(dst + 2 * j, inverse_step(c, a, load_coefficient_pair(approx + j), d,
                                           load_coefficient_pair(detail + j)));
}

}  // namespace zeverive
