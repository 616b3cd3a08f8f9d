// The block matcher's sums of absolute differences, four displacements
// along a row at once: lane k compares `a` with `b + k`. Each lane adds
// its float differences into a double in the order one displacement's sum
// takes (row by row, left to right), so the plain loops and their AVX2
// twins give the same bits.
#pragma once

#include <cstddef>

namespace zeverive::luma {

// The ring: kRingOuter x kRingOuter samples less the kRingInner x
// kRingInner centred in it. `a` and `b` point at the top left of the
// outer square, rows `a_stride` and `b_stride` apart; b[3 + kRingOuter -
// 1] is read on every row.
constexpr int kRingOuter = 16;
constexpr int kRingInner = 10;
constexpr int kRingSamples = kRingOuter * kRingOuter - kRingInner * kRingInner;
void ring_sums(const float* a, ptrdiff_t a_stride, const float* b, ptrdiff_t b_stride, double sums[4]);

// A square of kMatchWindow x kMatchWindow (the coarse search's window of
// 4x4 means).
constexpr int kMatchWindow = 4;
void window_sums(const float* a, ptrdiff_t a_stride, const float* b, ptrdiff_t b_stride, double sums[4]);

#if defined(__x86_64__)
// The same, where the processor has AVX2 (luma::wide_loops_run()).
void ring_sums_avx2(const float* a, ptrdiff_t a_stride, const float* b, ptrdiff_t b_stride, double sums[4]);
void window_sums_avx2(const float* a, ptrdiff_t a_stride, const float* b, ptrdiff_t b_stride, double sums[4]);
#endif

}  // namespace zeverive::luma
