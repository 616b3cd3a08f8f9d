// Two single-precision lanes: the register model of the 3DNow! kernels.
//
// The 3DNow! kernels are written once, against this small layer. On the
// i386 build each operation is one 3DNow! or MMX instruction on a 64-bit
// MMX register. On x86-64, where no processor executes 3DNow!, the same
// kernel source runs over a plain pair of floats, one single-precision
// operation per lane, so that both builds produce the same bits:
//
// - pfadd, pfsub and pfmul round every result to single precision, to
//   nearest even, and keep denormals (measured on the emulator that runs
//   the i386 build); a float operation on x86-64 does the same.
// - pfcmpgt yields an all-ones or all-zero 32-bit mask per lane; the
//   portable layer builds the same bit patterns.
// - AND/OR act on the bit patterns, so a mask ANDed with a value keeps the
//   value or gives +0.0 exactly.
//
// Values never leave the layer through a float variable: on i386 that would
// put them on the x87 stack, which shares its registers with MMX.
#pragma once

#include <cstdint>
#include <cstring>

#if defined(__i386__)
#include <mm3dnow.h>
#endif

// Marks a function whose body uses this layer. On i386 it enables the 3DNow!
// instructions for that function only; the rest of the file stays at the
// baseline processor.
#if defined(__i386__)
#define ZEVERIVE_TARGET_3DNOW __attribute__((target("3dnow")))
#else
#define ZEVERIVE_TARGET_3DNOW
#endif

// The layer's operations are always inlined, so no copy compiled for 3DNow!
// exists as a separate function that baseline code could end up calling.
#define ZEVERIVE_PAIR_OP static inline __attribute__((always_inline)) ZEVERIVE_TARGET_3DNOW

namespace zeverive {

#if defined(__i386__)

typedef __m64 Pair;

// FEMMS: leaves the shared x87/MMX register file empty, so x87 code may run
// right after (or before) a 3DNow! kernel.
ZEVERIVE_PAIR_OP void empty_mmx_state() { _m_femms(); }

ZEVERIVE_PAIR_OP Pair pair_load(const float* p) { return *reinterpret_cast<const __m64_u*>(p); }
ZEVERIVE_PAIR_OP void pair_store(float* p, Pair v) { *reinterpret_cast<__m64_u*>(p) = v; }

ZEVERIVE_PAIR_OP void pair_store_lo(float* p, Pair v) {
    const int32_t bits = _mm_cvtsi64_si32(v);
    std::memcpy(p, &bits, sizeof bits);
}
ZEVERIVE_PAIR_OP void pair_store_hi(float* p, Pair v) {
    const int32_t bits = _mm_cvtsi64_si32(_mm_unpackhi_pi32(v, v));
    std::memcpy(p, &bits, sizeof bits);
}

// *p in both lanes, moved as bits through an integer register.
ZEVERIVE_PAIR_OP Pair pair_splat(const float* p) {
    int32_t bits;
    std::memcpy(&bits, p, sizeof bits);
    const __m64 low = _mm_cvtsi32_si64(bits);
    return _mm_unpacklo_pi32(low, low);
}

ZEVERIVE_PAIR_OP Pair pair_zero() { return _mm_setzero_si64(); }
ZEVERIVE_PAIR_OP Pair pair_add(Pair a, Pair b) { return _m_pfadd(a, b); }
ZEVERIVE_PAIR_OP Pair pair_sub(Pair a, Pair b) { return _m_pfsub(a, b); }
ZEVERIVE_PAIR_OP Pair pair_mul(Pair a, Pair b) { return _m_pfmul(a, b); }
ZEVERIVE_PAIR_OP Pair pair_cmpgt(Pair a, Pair b) { return _m_pfcmpgt(a, b); }
ZEVERIVE_PAIR_OP Pair pair_and(Pair a, Pair b) { return _mm_and_si64(a, b); }
ZEVERIVE_PAIR_OP Pair pair_or(Pair a, Pair b) { return _mm_or_si64(a, b); }

#else

struct Pair {
    float lane[2];
};

ZEVERIVE_PAIR_OP void empty_mmx_state() {}

ZEVERIVE_PAIR_OP Pair pair_load(const float* p) { return Pair{{p[0], p[1]}}; }
ZEVERIVE_PAIR_OP void pair_store(float* p, Pair v) {
    p[0] = v.lane[0];
    p[1] = v.lane[1];
}
ZEVERIVE_PAIR_OP void pair_store_lo(float* p, Pair v) { *p = v.lane[0]; }
ZEVERIVE_PAIR_OP void pair_store_hi(float* p, Pair v) { *p = v.lane[1]; }
ZEVERIVE_PAIR_OP Pair pair_splat(const float* p) { return Pair{{*p, *p}}; }
ZEVERIVE_PAIR_OP Pair pair_zero() { return Pair{{0.0f, 0.0f}}; }

ZEVERIVE_PAIR_OP Pair pair_add(Pair a, Pair b) { return Pair{{a.lane[0] + b.lane[0], a.lane[1] + b.lane[1]}}; }
ZEVERIVE_PAIR_OP Pair pair_sub(Pair a, Pair b) { return Pair{{a.lane[0] - b.lane[0], a.lane[1] - b.lane[1]}}; }
ZEVERIVE_PAIR_OP Pair pair_mul(Pair a, Pair b) { return Pair{{a.lane[0] * b.lane[0], a.lane[1] * b.lane[1]}}; }

ZEVERIVE_PAIR_OP float lane_from_bits(uint32_t bits) {
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}
ZEVERIVE_PAIR_OP uint32_t lane_bits(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

ZEVERIVE_PAIR_OP Pair pair_cmpgt(Pair a, Pair b) {
    return Pair{{lane_from_bits(a.lane[0] > b.lane[0] ? 0xffffffffu : 0u),
                 lane_from_bits(a.lane[1] > b.lane[1] ? 0xffffffffu : 0u)}};
}
ZEVERIVE_PAIR_OP Pair pair_and(Pair a, Pair b) {
    return Pair{{lane_from_bits(lane_bits(a.lane[0]) & lane_bits(b.lane[0])),
                 lane_from_bits(lane_bits(a.lane[1]) & lane_bits(b.lane[1]))}};
}
ZEVERIVE_PAIR_OP Pair pair_or(Pair a, Pair b) {
    return Pair{{lane_from_bits(lane_bits(a.lane[0]) | lane_bits(b.lane[0])),
                 lane_from_bits(lane_bits(a.lane[1]) | lane_bits(b.lane[1]))}};
}

#endif

}  // namespace zeverive
