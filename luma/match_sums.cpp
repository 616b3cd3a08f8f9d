#include "luma/match_sums.h"

#include <cmath>

#include "kernels/avx2_target.h"

namespace zeverive::luma {
namespace {

// The rows of the ring that cross its hole, and the columns of the hole.
constexpr int kHoleFirst = (kRingOuter - kRingInner) / 2;
constexpr int kHoleEnd = kHoleFirst + kRingInner;

}  // namespace

void ring_sums(const float* a, ptrdiff_t a_stride, const float* b, ptrdiff_t b_stride, double sums[4]) {
    double lanes[4] = {0, 0, 0, 0};
    for (int k = 0; k < 4; ++k) {
        for (int y = 0; y < kRingOuter; ++y) {
            const float* ra = a + y * a_stride;
            const float* rb = b + y * b_stride + k;
            if (y < kHoleFirst || y >= kHoleEnd) {
                for (int x = 0; x < kRingOuter; ++x) lanes[k] += std::fabs(ra[x] - rb[x]);
            } else {
                for (int x = 0; x < kHoleFirst; ++x) lanes[k] += std::fabs(ra[x] - rb[x]);
                for (int x = kHoleEnd; x < kRingOuter; ++x) lanes[k] += std::fabs(ra[x] - rb[x]);
            }
        }
    }
    for (int k = 0; k < 4; ++k) sums[k] = lanes[k];
}

void window_sums(const float* a, ptrdiff_t a_stride, const float* b, ptrdiff_t b_stride, double sums[4]) {
    for (int k = 0; k < 4; ++k) {
        double sum = 0;
        for (int y = 0; y < kMatchWindow; ++y) {
            const float* ra = a + y * a_stride;
            const float* rb = b + y * b_stride + k;
            for (int x = 0; x < kMatchWindow; ++x) sum += std::fabs(ra[x] - rb[x]);
        }
        sums[k] = sum;
    }
}

#if defined(__x86_64__)

namespace {

// Lane k of the sums takes |a[x] - b[x + k]|, the difference in floats
// widened to a double, as the plain loops add it.
ZEVERIVE_AVX2_HELPER __m256d add_sample(__m256d sums, const float* a, const float* b) {
    const __m128 difference = _mm_sub_ps(_mm_set1_ps(*a), _mm_loadu_ps(b));
    return _mm256_add_pd(sums, _mm256_cvtps_pd(_mm_andnot_ps(_mm_set1_ps(-0.0f), difference)));
}

}  // namespace

ZEVERIVE_TARGET_AVX2 void ring_sums_avx2(const float* a, ptrdiff_t a_stride, const float* b, ptrdiff_t b_stride,
                                         double sums[4]) {
    __m256d lanes = _mm256_setzero_pd();
    for (int y = 0; y < kRingOuter; ++y) {
        const float* ra = a + y * a_stride;
        const float* rb = b + y * b_stride;
        if (y < kHoleFirst || y >= kHoleEnd) {
            for (int x = 0; x < kRingOuter; ++x) lanes = add_sample(lanes, ra + x, rb + x);
        } else {
            for (int x = 0; x < kHoleFirst; ++x) lanes = add_sample(lanes, ra + x, rb + x);
            for (int x = kHoleEnd; x < kRingOuter; ++x) lanes = add_sample(lanes, ra + x, rb + x);
        }
    }
    _mm256_storeu_pd(sums, lanes);
}

ZEVERIVE_TARGET_AVX2 void window_sums_avx2(const float* a, ptrdiff_t a_stride, const float* b, ptrdiff_t b_stride,
                                           double sums[4]) {
    __m256d lanes = _mm256_setzero_pd();
    for (int y = 0; y < kMatchWindow; ++y)
        for (int x = 0; x < kMatchWindow; ++x) lanes = add_sample(lanes, a + y * a_stride + x, b + y * b_stride + x);
    _mm256_storeu_pd(sums, lanes);
}

#endif

}  // namespace zeverive::luma
