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

#endif
