#include "luma/levels_avx2.h"

#include <cstring>

#include "kernels/pixel_lanes.h"
#include "luma/variant_request.h"

namespace zeverive::luma {

bool wide_loops_run() {
#if defined(__x86_64__)
    return variant_in_use() == kVariantAvx2;
#else
    return false;
#endif
}

#if defined(__x86_64__)

namespace {

constexpr int32_t kHostOffset = 32768;

// Eight 16-bit entries of `table` at the eight indexes, sign-extended to
// 32 bits (each read takes the entry and the one after it).
ZEVERIVE_AVX2_HELPER __m256i entries(const int16_t* table, __m256i indexes) {
    const __m256i pairs = _mm256_i32gather_epi32(reinterpret_cast<const int*>(table), indexes, 2);
    return _mm256_srai_epi32(_mm256_slli_epi32(pairs, 16), 16);
}

// Eight codes, or four (the rest of the register zero).
ZEVERIVE_AVX2_HELPER __m128i eight_codes(const uint8_t* codes) {
    return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(codes));
}
ZEVERIVE_AVX2_HELPER __m128i four_codes(const uint8_t* codes) {
    int32_t four;
    std::memcpy(&four, codes, sizeof four);
    return _mm_cvtsi32_si128(four);
}

// Eight 32-bit values as eight 16-bit ones, in order (all within range).
ZEVERIVE_AVX2_HELPER __m128i narrowed(__m256i values) {
    return _mm_packs_epi32(_mm256_castsi256_si128(values), _mm256_extracti128_si256(values, 1));
}

// The straight line of a scale in double: host = (code - origin) times
// kHostSpan * gain / (span * kGainUnity), rounded half away from zero.
// This gives code_to_host exactly for every 8-bit code: the quotient is
// never a half (its numerator (code - origin) 2^12 gain and denominator
// span 1000 would need an odd multiple of span 500, which the powers of
// two rule out for both scales at any gain), so it lies at least 1/(span
// 1000), above 4e-6, from one, while the two roundings of the product err
// by less than 1e-12.
struct Line {
    __m256i origin;
    __m256d slope;
};

ZEVERIVE_AVX2_HELPER Line line_of(LevelScale scale) {
    return {_mm256_set1_epi32(scale.origin),
            _mm256_set1_pd(static_cast<double>(kHostSpan) * scale.gain / (static_cast<double>(scale.span) * kGainUnity))};
}

ZEVERIVE_AVX2_HELPER __m128i on_line_four(__m128i offsets, __m256d slope) {
    const __m256d value = _mm256_mul_pd(_mm256_cvtepi32_pd(offsets), slope);
    const __m256d sign = _mm256_and_pd(value, _mm256_set1_pd(-0.0));
    const __m256d magnitude = _mm256_floor_pd(_mm256_add_pd(_mm256_andnot_pd(sign, value), _mm256_set1_pd(0.5)));
    return _mm256_cvttpd_epi32(_mm256_or_pd(magnitude, sign));
}

// The host values of the eight codes in the low bytes of `codes`, held
// within 16 bits as code_to_host holds them.
ZEVERIVE_AVX2_HELPER __m128i mapped(const Line& line, __m128i codes) {
    const __m256i offsets = _mm256_sub_epi32(_mm256_cvtepu8_epi32(codes), line.origin);
    return _mm_packs_epi32(on_line_four(_mm256_castsi256_si128(offsets), line.slope),
                           on_line_four(_mm256_extracti128_si256(offsets, 1), line.slope));
}

}  // namespace

ZEVERIVE_TARGET_AVX2 void host_row_from_8bit_avx2(const uint8_t* luma, const uint8_t* cb, const uint8_t* cr,
                                                  size_t width, int shift_x, LevelScale luma_scale,
                                                  LevelScale chroma_scale, YcPixel* row) {
    const Line luma_line = line_of(luma_scale), chroma_line = line_of(chroma_scale);
    int16_t* samples = &row->y;
    size_t x = 0;
    for (; x + 8 <= width; x += 8, samples += 8 * 3) {
        const __m128i y = mapped(luma_line, eight_codes(luma + x));
        __m128i u = _mm_setzero_si128(), v = _mm_setzero_si128();
        if (cb && shift_x == 0) {
            u = mapped(chroma_line, eight_codes(cb + x));
            v = mapped(chroma_line, eight_codes(cr + x));
        } else if (cb) {
            // Four chroma samples, each for two pixels; the row may end
            // right after them.
            const __m128i twice = _mm_setr_epi8(0, 1, 0, 1, 2, 3, 2, 3, 4, 5, 4, 5, 6, 7, 6, 7);
            u = _mm_shuffle_epi8(mapped(chroma_line, four_codes(cb + x / 2)), twice);
            v = _mm_shuffle_epi8(mapped(chroma_line, four_codes(cr + x / 2)), twice);
        }
        put_eight_pixels(y, u, v, samples);
    }
    for (; x < width; ++x) {
        row[x] = {code_to_host(luma_scale, luma[x]), cb ? code_to_host(chroma_scale, cb[x >> shift_x]) : int16_t{0},
                  cb ? code_to_host(chroma_scale, cr[x >> shift_x]) : int16_t{0}};
    }
}

ZEVERIVE_TARGET_AVX2 void codes_from_host_8bit_avx2(const YcPixel* host, size_t pixels,
                                                    const uint16_t* code_by_host, uint8_t* codes) {
    const int16_t* table = reinterpret_cast<const int16_t*>(code_by_host);
    const __m256i offset = _mm256_set1_epi32(kHostOffset);
    size_t i = 0;
    for (; i + 16 <= pixels; i += 16) {
        const int16_t* samples = &host[i].y;
        const __m256i low = _mm256_add_epi32(_mm256_cvtepi16_epi32(eight_y(samples)), offset);
        const __m256i high = _mm256_add_epi32(_mm256_cvtepi16_epi32(eight_y(samples + 8 * 3)), offset);
        // The codes are 0..255, so packing them changes none.
        const __m128i bytes = _mm_packus_epi16(narrowed(entries(table, low)), narrowed(entries(table, high)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(codes + i), bytes);
    }
    for (; i < pixels; ++i) codes[i] = static_cast<uint8_t>(code_by_host[host[i].y + kHostOffset]);
}

#endif

}  // namespace zeverive::luma
