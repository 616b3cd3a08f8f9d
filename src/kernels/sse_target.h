// Marks a function that uses SSE intrinsics. The i386 baseline has no SSE,
// so only these functions are compiled for it.
#pragma once

#include <xmmintrin.h>

#if defined(__i386__)
// The host calls in with the 4-byte stack alignment of the 32-bit Windows
// convention; realigning on entry keeps any 16-byte spill of a vector valid.
#define ZEVERIVE_TARGET_SSE __attribute__((target("sse"), force_align_arg_pointer))
#else
#define ZEVERIVE_TARGET_SSE __attribute__((target("sse")))
#endif

// Helpers inside an SSE kernel: inlined, so nothing compiled for SSE is
// callable from elsewhere.
#define ZEVERIVE_SSE_HELPER inline __attribute__((always_inline, target("sse")))
