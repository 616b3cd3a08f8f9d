#include "rgb_luma_avx2.h"

#include "kernels/pixel_lanes.h"

#if defined(__x86_64__)

namespace zeverive::frei0r {
namespace {

// One byte of each of eight words, as 32-bit integers.
ZEVERIVE_AVX2_HELPER __m256i channel(__m256i words, int shift) {
    return _mm256_and_si256(_mm256_srli_epi32(words, shift), _mm256_set1_epi32(0xFF));
}

// lround for four doubles well within 32 bits: truncated, then one more
// step away from zero where the rest is at least a half.
ZEVERIVE_AVX2_HELPER __m256d rounded(__m256d x) {
    const __m256d whole = _mm256_round_pd(x, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
    const __m256d rest = _mm256_sub_pd(x, whole);
    const __m256d up = _mm256_and_pd(_mm256_cmp_pd(rest, _mm256_set1_pd(0.5), _CMP_GE_OQ), _mm256_set1_pd(1.0));
    const __m256d down = _mm256_and_pd(_mm256_cmp_pd(rest, _mm256_set1_pd(-0.5), _CMP_LE_OQ), _mm256_set1_pd(1.0));
    return _mm256_sub_pd(_mm256_add_pd(whole, up), down);
}

// Four channel values plus their deltas, rounded and clamped to a byte.
ZEVERIVE_AVX2_HELPER __m128i moved_four(__m128i values, __m256d delta) {
    const __m256d x = _mm256_add_pd(_mm256_cvtepi32_pd(values), delta);
    return _mm256_cvttpd_epi32(_mm256_min_pd(_mm256_max_pd(rounded(x), _mm256_setzero_pd()), _mm256_set1_pd(255.0)));
}

// One channel of eight pixels moved, as 32-bit integers.
ZEVERIVE_AVX2_HELPER __m256i moved(__m256i channel_values, __m256d delta_low, __m256d delta_high) {
    return _mm256_set_m128i(moved_four(_mm256_extracti128_si256(channel_values, 1), delta_high),
                            moved_four(_mm256_castsi256_si128(channel_values), delta_low));
}

}  // namespace

// kVideoBlack + full * 219 / (255 * 65536), rounded, for full = the
// weighted sum of R', G' and B' (at most 255 * 65536): with the half added,
// full * 219 + 255 * 32768 stays below 2^32, and the division goes by
// 65536, then by 255 as (v * 257 + 257) >> 16, exact for every v below
// 65535.
ZEVERIVE_TARGET_AVX2 size_t video_lumas_avx2(const uint32_t* rgba, size_t pixels, LumaWeights weights, float* codes) {
    const __m256i wr = _mm256_set1_epi32(weights.r), wg = _mm256_set1_epi32(weights.g),
                  wb = _mm256_set1_epi32(weights.b);
    size_t i = 0;
    for (; i + 8 <= pixels; i += 8) {
        const __m256i words = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rgba + i));
        const __m256i full = _mm256_add_epi32(
            _mm256_add_epi32(_mm256_mullo_epi32(channel(words, 0), wr), _mm256_mullo_epi32(channel(words, 8), wg)),
            _mm256_mullo_epi32(channel(words, 16), wb));
        const __m256i scaled =
            _mm256_add_epi32(_mm256_mullo_epi32(full, _mm256_set1_epi32(219)), _mm256_set1_epi32(255 * 32768));
        const __m256i v = _mm256_srli_epi32(scaled, 16);
        const __m256i quotient = _mm256_srli_epi32(_mm256_mullo_epi32(_mm256_add_epi32(v, _mm256_set1_epi32(1)),
                                                                      _mm256_set1_epi32(257)),
                                                   16);
        const __m256i code = _mm256_add_epi32(quotient, _mm256_set1_epi32(16));
        _mm256_storeu_ps(codes + i, _mm256_cvtepi32_ps(code));
    }
    return i;
}

ZEVERIVE_TARGET_AVX2 size_t changed_rgba_avx2(const uint32_t* in, const YcPixel* host, const int16_t* before,
                                              size_t pixels, double per_host, uint32_t* out) {
    const __m256d step = _mm256_set1_pd(per_host);
    size_t i = 0;
    for (; i + 8 <= pixels; i += 8) {
        const __m128i after = eight_y(&host[i].y);
        const __m128i old = _mm_loadu_si128(reinterpret_cast<const __m128i*>(before + i));
        const __m256i words = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + i));
        const __m128i change = _mm_sub_epi16(after, old);
        if (_mm_testz_si128(change, change)) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), words);
            continue;
        }
        const __m256i change32 = _mm256_sub_epi32(_mm256_cvtepi16_epi32(after), _mm256_cvtepi16_epi32(old));
        const __m256d delta_low = _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_castsi256_si128(change32)), step);
        const __m256d delta_high = _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_extracti128_si256(change32, 1)), step);
        __m256i result = _mm256_and_si256(words, _mm256_set1_epi32(static_cast<int>(0xFF000000u)));
        for (int shift = 0; shift < 24; shift += 8) {
            const __m256i value = moved(channel(words, shift), delta_low, delta_high);
            result = _mm256_or_si256(result, _mm256_sll_epi32(value, _mm_cvtsi32_si128(shift)));
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), result);
    }
    return i;
}

}  // namespace zeverive::frei0r

#endif
