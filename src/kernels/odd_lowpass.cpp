// odd_lowpass_analysis and odd_lowpass_synthesis: scalar, shared by every
// processor variant.

#include "kernels/odd_lowpass.h"

#include "common/single_precision.h"
#include "kernels/avx2_target.h"
#include "kernels/transform.h"

namespace zeverive {

namespace {

// Exact products summed in double, rounded once to single: the same
// arithmetic as the x87 transform, so the two agree bit for bit.
inline float lowpass4(float x0, float x1, float x2, float x3) {
    return to_single(double(kH0) * x0 + double(kH1) * x1 + double(kH2) * x2 + double(kH3) * x3);
}

inline float lowpass2(float c0, float x0, float c1, float x1) {
    return to_single(double(c0) * x0 + double(c1) * x1);
}

}  // namespace

void odd_lowpass_analysis(const float* src, int length, float* dst) {
    const int half = length / 2;
    for (int i = 0; i < half - 2; ++i) {
        const float* x = src + 2 * i + 1;
        dst[i] = lowpass4(x[0], x[1], x[2], x[3]);
    }
    // The last two outputs reach past the end of the line and wrap.
    const float* tail = src + length - 3;
    dst[half - 2] = lowpass4(tail[0], tail[1], tail[2], src[0]);
    dst[half - 1] = lowpass4(tail[2], src[0], src[1], src[2]);
}

void odd_lowpass_synthesis(const float* approx, int half_length, float* dst) {
    const int last = half_length - 1;
    const int n = 2 * half_length;
    // Pair 0 takes its previous coefficient from the end.
    dst[1] = lowpass2(kH0, approx[0], kH2, approx[last]);
    dst[2] = lowpass2(kH1, approx[0], kH3, approx[last]);
    for (int j = 1; j < last; ++j) {
        dst[2 * j + 1] = lowpass2(kH0, approx[j], kH2, approx[j - 1]);
        dst[2 * j + 2] = lowpass2(kH1, approx[j], kH3, approx[j - 1]);
    }
    // The last pair's second sample wraps to the start.
    dst[n - 1] = lowpass2(kH0, approx[last], kH2, approx[last - 1]);
    dst[0] = lowpass2(kH1, approx[last], kH3, approx[last - 1]);
}

#if defined(__x86_64__)
// The same outputs eight (analysis) or four pairs (synthesis) at a time:
// each lane widens its samples to double, forms the products and sums in
// the order of lowpass4 and lowpass2, and rounds once to single, so every
// output is the plain form's. The compiler widened the plain loops only
// partly (the analysis reads every other sample); what no whole step
// covers, and the wrapping outputs, go through the plain code.

namespace {

struct WideLowpass {
    __m256d h0, h1, h2, h3;
};

ZEVERIVE_AVX2_HELPER WideLowpass wide_lowpass() {
    return WideLowpass{_mm256_set1_pd(kH0), _mm256_set1_pd(kH1), _mm256_set1_pd(kH2), _mm256_set1_pd(kH3)};
}

// ((h0 x0 + h1 x1) + h2 x2) + h3 x3 for four lanes, rounded to single.
ZEVERIVE_AVX2_HELPER __m128 lowpass4_lanes(const WideLowpass& c, __m128 x0, __m128 x1, __m128 x2, __m128 x3) {
    __m256d sum = _mm256_add_pd(_mm256_mul_pd(c.h0, _mm256_cvtps_pd(x0)), _mm256_mul_pd(c.h1, _mm256_cvtps_pd(x1)));
    sum = _mm256_add_pd(sum, _mm256_mul_pd(c.h2, _mm256_cvtps_pd(x2)));
    sum = _mm256_add_pd(sum, _mm256_mul_pd(c.h3, _mm256_cvtps_pd(x3)));
    return _mm256_cvtpd_ps(sum);
}

ZEVERIVE_AVX2_HELPER __m128 high_half(__m256 v) { return _mm256_extractf128_ps(v, 1); }

}  // namespace

ZEVERIVE_TARGET_AVX2 void odd_lowpass_analysis_avx2(const float* src, int length, float* dst) {
    const WideLowpass c = wide_lowpass();
    const int half = length / 2;
    int i = 0;
    // Outputs i..i+7 read src[2i+1 .. 2i+18], inside the line while they
    // stay clear of the two wrapping outputs.
    for (; i + 8 <= half - 2; i += 8) {
        const auto [x0, x1, x2, x3] = four_taps(src + 2 * i + 1);
        _mm_storeu_ps(dst + i, lowpass4_lanes(c, _mm256_castps256_ps128(x0), _mm256_castps256_ps128(x1),
                                              _mm256_castps256_ps128(x2), _mm256_castps256_ps128(x3)));
        _mm_storeu_ps(dst + i + 4, lowpass4_lanes(c, high_half(x0), high_half(x1), high_half(x2), high_half(x3)));
    }
    for (; i < half - 2; ++i) {
        const float* x = src + 2 * i + 1;
        dst[i] = lowpass4(x[0], x[1], x[2], x[3]);
    }
    const float* tail = src + length - 3;
    dst[half - 2] = lowpass4(tail[0], tail[1], tail[2], src[0]);
    dst[half - 1] = lowpass4(tail[2], src[0], src[1], src[2]);
}

ZEVERIVE_TARGET_AVX2 void odd_lowpass_synthesis_avx2(const float* approx, int half_length, float* dst) {
    const __m256d h0 = _mm256_set1_pd(kH0), h1 = _mm256_set1_pd(kH1);
    const __m256d h2 = _mm256_set1_pd(kH2), h3 = _mm256_set1_pd(kH3);
    const int last = half_length - 1;
    const int n = 2 * half_length;
    dst[1] = lowpass2(kH0, approx[0], kH2, approx[last]);
    dst[2] = lowpass2(kH1, approx[0], kH3, approx[last]);
    int j = 1;
    for (; j + 4 <= last; j += 4) {
        const __m256d a = _mm256_cvtps_pd(_mm_loadu_ps(approx + j));
        const __m256d p = _mm256_cvtps_pd(_mm_loadu_ps(approx + j - 1));
        const __m128 odd = _mm256_cvtpd_ps(_mm256_add_pd(_mm256_mul_pd(h0, a), _mm256_mul_pd(h2, p)));
        const __m128 even = _mm256_cvtpd_ps(_mm256_add_pd(_mm256_mul_pd(h1, a), _mm256_mul_pd(h3, p)));
        // dst[2j+1], dst[2j+2], ... dst[2j+8]
        _mm_storeu_ps(dst + 2 * j + 1, _mm_unpacklo_ps(odd, even));
        _mm_storeu_ps(dst + 2 * j + 5, _mm_unpackhi_ps(odd, even));
    }
    for (; j < last; ++j) {
        dst[2 * j + 1] = lowpass2(kH0, approx[j], kH2, approx[j - 1]);
        dst[2 * j + 2] = lowpass2(kH1, approx[j], kH3, approx[j - 1]);
    }
    dst[n - 1] = lowpass2(kH0, approx[last], kH2, approx[last - 1]);
    dst[0] = lowpass2(kH1, approx[last], kH3, approx[last - 1]);
}
#endif

}  // namespace zeverive
