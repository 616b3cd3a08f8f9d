// AVX2 helpers for the host's pixels (Y, Cb, Cr, 16 bits each), shared by
// the line pipeline's loops and the front ends' level mapping. x86-64 only;
// inlined into AVX2 functions, so nothing here is callable on its own.
#pragma once

#include <cstdint>

#include "kernels/avx2_target.h"

#if defined(__x86_64__)

namespace zeverive {

// Eight pixels' Y from the 24 samples at `pixels` (Y, Cb, Cr each): the
// three 16-byte loads hold Y 0-2, 3-5 and 6-7, which one byte shuffle
// each moves to their places and the others clear.
ZEVERIVE_AVX2_HELPER __m128i eight_y(const int16_t* pixels) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + 8));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + 16));
    const __m128i from_a = _mm_setr_epi8(0, 1, 6, 7, 12, 13, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m128i from_b = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, 2, 3, 8, 9, 14, 15, -1, -1, -1, -1);
    const __m128i from_c = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 4, 5, 10, 11);
    return _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a, from_a), _mm_shuffle_epi8(b, from_b)),
                        _mm_shuffle_epi8(c, from_c));
}

// The reverse: eight Y values into the 24 samples at `pixels`, Cb and Cr
// written back as they were.
ZEVERIVE_AVX2_HELPER void put_eight_y(__m128i y, int16_t* pixels) {
    __m128i* at = reinterpret_cast<__m128i*>(pixels);
    const __m128i to_a = _mm_setr_epi8(0, 1, -1, -1, -1, -1, 2, 3, -1, -1, -1, -1, 4, 5, -1, -1);
    const __m128i to_b = _mm_setr_epi8(-1, -1, 6, 7, -1, -1, -1, -1, 8, 9, -1, -1, -1, -1, 10, 11);
    const __m128i to_c = _mm_setr_epi8(-1, -1, -1, -1, 12, 13, -1, -1, -1, -1, 14, 15, -1, -1, -1, -1);
    _mm_storeu_si128(at, _mm_blend_epi16(_mm_loadu_si128(at), _mm_shuffle_epi8(y, to_a), 0x49));
    _mm_storeu_si128(at + 1, _mm_blend_epi16(_mm_loadu_si128(at + 1), _mm_shuffle_epi8(y, to_b), 0x92));
    _mm_storeu_si128(at + 2, _mm_blend_epi16(_mm_loadu_si128(at + 2), _mm_shuffle_epi8(y, to_c), 0x24));
}

// Sixteen bytes taken from three registers, one byte shuffle each.
ZEVERIVE_AVX2_HELPER __m128i from_three(__m128i a, __m128i from_a, __m128i b, __m128i from_b, __m128i c,
                                        __m128i from_c) {
    return _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a, from_a), _mm_shuffle_epi8(b, from_b)),
                        _mm_shuffle_epi8(c, from_c));
}

// Eight pixels from eight values of each channel: the 24 samples at
// `pixels`, Y, Cb, Cr in turn.
ZEVERIVE_AVX2_HELPER void put_eight_pixels(__m128i y, __m128i cb, __m128i cr, int16_t* pixels) {
    __m128i* at = reinterpret_cast<__m128i*>(pixels);
    // y0 cb0 cr0 y1 cb1 cr1 y2 cb2
    _mm_storeu_si128(at, from_three(y, _mm_setr_epi8(0, 1, -1, -1, -1, -1, 2, 3, -1, -1, -1, -1, 4, 5, -1, -1),
                                    cb, _mm_setr_epi8(-1, -1, 0, 1, -1, -1, -1, -1, 2, 3, -1, -1, -1, -1, 4, 5),
                                    cr, _mm_setr_epi8(-1, -1, -1, -1, 0, 1, -1, -1, -1, -1, 2, 3, -1, -1, -1, -1)));
    // cr2 y3 cb3 cr3 y4 cb4 cr4 y5
    _mm_storeu_si128(at + 1, from_three(y, _mm_setr_epi8(-1, -1, 6, 7, -1, -1, -1, -1, 8, 9, -1, -1, -1, -1, 10, 11),
                                        cb, _mm_setr_epi8(-1, -1, -1, -1, 6, 7, -1, -1, -1, -1, 8, 9, -1, -1, -1, -1),
                                        cr, _mm_setr_epi8(4, 5, -1, -1, -1, -1, 6, 7, -1, -1, -1, -1, 8, 9, -1, -1)));
    // cb5 cr5 y6 cb6 cr6 y7 cb7 cr7
    _mm_storeu_si128(at + 2, from_three(y, _mm_setr_epi8(-1, -1, -1, -1, 12, 13, -1, -1, -1, -1, 14, 15, -1, -1, -1, -1),
                                        cb, _mm_setr_epi8(10, 11, -1, -1, -1, -1, 12, 13, -1, -1, -1, -1, 14, 15, -1, -1),
                                        cr, _mm_setr_epi8(-1, -1, 10, 11, -1, -1, -1, -1, 12, 13, -1, -1, -1, -1, 14, 15)));
}

}  // namespace zeverive

#endif
