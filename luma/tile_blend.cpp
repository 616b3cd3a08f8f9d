#include "luma/tile_blend.h"

#include <cstdint>

#include "kernels/avx2_target.h"

namespace zeverive::luma {
namespace {

static_assert(sizeof(YcPixel) == 3 * sizeof(int16_t), "a host pixel is its three samples");

// std::lround, inline: the library call took a sixth of a tiled run. The
// truncation and the remainder are exact for sums of this size, and a
// remainder of a half rounds away from zero, as lround does.
ZEVERIVE_KERNEL_BODY int16_t round_to_nearest(double x) {
    const int whole = static_cast<int>(x);
    const double rest = x - static_cast<double>(whole);
    return static_cast<int16_t>(whole + static_cast<int>(rest >= 0.5) - static_cast<int>(rest <= -0.5));
}

ZEVERIVE_KERNEL_BODY void blend_pixels(double* sums, const double* weights, int origin, double row_weight,
                                       const YcPixel* result, int from, int to, bool first) {
    if (first) {
        for (int x = from; x < to; ++x) {
            const double weight = row_weight * weights[x - origin];
            sums[3 * x] = weight * result[x].y;
            sums[3 * x + 1] = weight * result[x].cb;
            sums[3 * x + 2] = weight * result[x].cr;
        }
    } else {
        for (int x = from; x < to; ++x) {
            const double weight = row_weight * weights[x - origin];
            sums[3 * x] += weight * result[x].y;
            sums[3 * x + 1] += weight * result[x].cb;
            sums[3 * x + 2] += weight * result[x].cr;
        }
    }
}

ZEVERIVE_KERNEL_BODY void round_samples(const double* sums, int16_t* samples, int from, int to) {
    for (int i = from; i < to; ++i) samples[i] = round_to_nearest(sums[i]);
}

}  // namespace

void blend_row(double* sums, const double* weights, int origin, double row_weight, const YcPixel* result, int from,
               int to, bool first) {
    blend_pixels(sums, weights, origin, row_weight, result, from, to, first);
}

void store_sums(const double* sums, YcPixel* out, int count) {
    round_samples(sums, &out->y, 0, 3 * count);
}

#if defined(__x86_64__)

// Four pixels at a time: their twelve samples widened to doubles in three
// registers, each times its pixel's weight, spread to match.
ZEVERIVE_TARGET_AVX2 void blend_row_avx2(double* sums, const double* weights, int origin, double row_weight,
                                         const YcPixel* result, int from, int to, bool first) {
    const __m256d row = _mm256_set1_pd(row_weight);
    int x = from;
    for (; x + 4 <= to; x += 4) {
        const __m256d w = _mm256_mul_pd(row, _mm256_loadu_pd(weights + (x - origin)));
        const int16_t* samples = &result[x].y;
        const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples));
        const __m128i high = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(samples + 8));
        const __m256d products[3] = {
            _mm256_mul_pd(_mm256_permute4x64_pd(w, _MM_SHUFFLE(1, 0, 0, 0)),
                          _mm256_cvtepi32_pd(_mm_cvtepi16_epi32(low))),
            _mm256_mul_pd(_mm256_permute4x64_pd(w, _MM_SHUFFLE(2, 2, 1, 1)),
                          _mm256_cvtepi32_pd(_mm_cvtepi16_epi32(_mm_srli_si128(low, 8)))),
            _mm256_mul_pd(_mm256_permute4x64_pd(w, _MM_SHUFFLE(3, 3, 3, 2)),
                          _mm256_cvtepi32_pd(_mm_cvtepi16_epi32(high)))};
        double* out = sums + 3 * x;
        for (int i = 0; i < 3; ++i) {
            const __m256d sum = first ? products[i] : _mm256_add_pd(_mm256_loadu_pd(out + 4 * i), products[i]);
            _mm256_storeu_pd(out + 4 * i, sum);
        }
    }
    blend_pixels(sums, weights, origin, row_weight, result, x, to, first);
}

namespace {

// Four sums rounded as round_to_nearest does: truncated, the remainder's
// side read as 0 or 1 each way.
ZEVERIVE_AVX2_HELPER __m128i four_rounded(const double* four) {
    const __m256d x = _mm256_loadu_pd(four);
    const __m128i whole = _mm256_cvttpd_epi32(x);
    const __m256d rest = _mm256_sub_pd(x, _mm256_cvtepi32_pd(whole));
    const __m256d one = _mm256_set1_pd(1.0);
    const __m256d step = _mm256_sub_pd(_mm256_and_pd(_mm256_cmp_pd(rest, _mm256_set1_pd(0.5), _CMP_GE_OQ), one),
                                       _mm256_and_pd(_mm256_cmp_pd(rest, _mm256_set1_pd(-0.5), _CMP_LE_OQ), one));
    return _mm_add_epi32(whole, _mm256_cvttpd_epi32(step));
}

}  // namespace

// Eight samples at a time, packed to 16 bits (every sum lies within a host
// sample's range).
ZEVERIVE_TARGET_AVX2 void store_sums_avx2(const double* sums, YcPixel* out, int count) {
    int16_t* samples = &out->y;
    const int total = 3 * count;
    int i = 0;
    for (; i + 8 <= total; i += 8) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(samples + i),
                         _mm_packs_epi32(four_rounded(sums + i), four_rounded(sums + i + 4)));
    }
    round_samples(sums, samples, i, total);
}

#endif

}  // namespace zeverive::luma
