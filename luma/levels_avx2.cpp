#include "luma/levels_avx2.h"

#include "cpu/detect.h"
#include "kernels/pixel_lanes.h"

namespace zeverive::luma {

bool wide_loops_run() {
#if defined(__x86_64__)
    static const bool avx2 = read_processor_features().avx2;
    return avx2;
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

// Eight 32-bit values as eight 16-bit ones, in order (all within range).
ZEVERIVE_AVX2_HELPER __m128i narrowed(__m256i values) {
    return _mm_packs_epi32(_mm256_castsi256_si128(values), _mm256_extracti128_si256(values, 1));
}

// Eight codes' host values.
ZEVERIVE_AVX2_HELPER __m128i mapped(const int16_t* table, const uint8_t* codes) {
    const __m128i eight = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(codes));
    return narrowed(entries(table, _mm256_cvtepu8_epi32(eight)));
}

}  // namespace

ZEVERIVE_TARGET_AVX2 void host_row_from_8bit(const uint8_t* luma, const uint8_t* cb, const uint8_t* cr, size_t width,
                                             int shift_x, const int16_t* luma_host, const int16_t* chroma_host,
                                             YcPixel* row) {
    int16_t* samples = &row->y;
    size_t x = 0;
    for (; x + 8 <= width; x += 8, samples += 8 * 3) {
        const __m128i y = mapped(luma_host, luma + x);
        __m128i u = _mm_setzero_si128(), v = _mm_setzero_si128();
        if (cb && shift_x == 0) {
            u = mapped(chroma_host, cb + x);
            v = mapped(chroma_host, cr + x);
        } else if (cb) {
            // Four chroma samples, each for two pixels.
            const __m128i twice = _mm_setr_epi8(0, 1, 0, 1, 2, 3, 2, 3, 4, 5, 4, 5, 6, 7, 6, 7);
            u = _mm_shuffle_epi8(mapped(chroma_host, cb + x / 2), twice);
            v = _mm_shuffle_epi8(mapped(chroma_host, cr + x / 2), twice);
        }
        put_eight_pixels(y, u, v, samples);
    }
    for (; x < width; ++x) {
        row[x] = {luma_host[luma[x]], cb ? chroma_host[cb[x >> shift_x]] : int16_t{0},
                  cb ? chroma_host[cr[x >> shift_x]] : int16_t{0}};
    }
}

ZEVERIVE_TARGET_AVX2 void codes_from_host_8bit(const YcPixel* host, size_t pixels, const uint16_t* code_by_host,
                                               uint8_t* codes) {
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
