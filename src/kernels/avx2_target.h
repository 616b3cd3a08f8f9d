// Marks a function of the AVX2 forms, which exist on x86-64 only. The
// baseline x86-64 build has SSE2 and nothing newer, so only these functions
// are compiled for AVX2, and they run only where initialise found it.
#pragma once

// The body of a scalar kernel, compiled into its plain function and, on
// x86-64, into an AVX2 twin, where the compiler may widen the loops over
// doubles: four to a register instead of two, each lane with the same
// operations, so the same bits. Always inlined, so each copy is compiled
// for its own function's target.
#define ZEVERIVE_KERNEL_BODY inline __attribute__((always_inline))

#if defined(__x86_64__)

#include <immintrin.h>

#define ZEVERIVE_TARGET_AVX2 __attribute__((target("avx2")))
// Helpers inside an AVX2 kernel: inlined, so nothing compiled for AVX2 is
// callable from elsewhere.
#define ZEVERIVE_AVX2_HELPER inline __attribute__((always_inline, target("avx2")))

namespace zeverive {

// p[0], p[2], .. p[14] (kSelector 2,0,2,0) or p[1], p[3], .. p[15]
// (3,1,3,1) of p[0..7] in `low` and p[8..15] in `high`, in order: the
// in-lane shuffle leaves the 64-bit quarters as (0..3, 8..11, 4..7, 12..15),
// and the permutation puts them back in line.
template <int kSelector>
ZEVERIVE_AVX2_HELPER __m256 every_other(__m256 low, __m256 high) {
    const __m256 picked = _mm256_shuffle_ps(low, high, kSelector);
    return _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(picked), _MM_SHUFFLE(3, 1, 2, 0)));
}

// The four taps of eight outputs that each read x[2k .. 2k+3], k = 0..7:
// tap t holds x[2k + t] in lane k. Reads x[0..17].
struct FourTaps {
    __m256 x0, x1, x2, x3;
};

ZEVERIVE_AVX2_HELPER FourTaps four_taps(const float* x) {
    const __m256 low = _mm256_loadu_ps(x), high = _mm256_loadu_ps(x + 8);
    const __m256 shifted_low = _mm256_loadu_ps(x + 2), shifted_high = _mm256_loadu_ps(x + 10);
    return FourTaps{every_other<_MM_SHUFFLE(2, 0, 2, 0)>(low, high), every_other<_MM_SHUFFLE(3, 1, 3, 1)>(low, high),
                    every_other<_MM_SHUFFLE(2, 0, 2, 0)>(shifted_low, shifted_high),
                    every_other<_MM_SHUFFLE(3, 1, 3, 1)>(shifted_low, shifted_high)};
}

}  // namespace zeverive

#endif
