// One level of the Daubechies-4 wavelet transform with periodic extension,
// in the three processor forms reached through the kernel table (slots 0
// and 1).
//
// forward_transform(src, length, dst)
//   dst[i] = a_i and dst[length/2 + i] = d_i for i < length/2, where
//   a_i = h0 x[2i] + h1 x[2i+1] + h2 x[2i+2] + h3 x[2i+3] and d_i likewise
//   with g0..g3; indexes modulo length (only the last pair wraps).
//
// inverse_transform(approx, detail, half_length, dst)
//   The transpose: dst[2j] = h0 A[j] + h2 A[p] + g0 D[j] + g2 D[p] and
//   dst[2j+1] = h1 A[j] + h3 A[p] + g1 D[j] + g3 D[p], p = j - 1 (m - 1 for
//   j = 0). Undoes forward_transform up to rounding.
//
// Contract (the caller's duty; nothing is checked):
//                     x87            3dnow          sse, avx2
//   forward length    even, >= 2     even, >= 4     multiple of 8, >= 16
//   forward alignment none           none           src on 16 bytes
//   inverse half      >= 1           >= 2           multiple of 4, >= 8
//   inverse alignment none           none           dst on 16 bytes
//   dst never overlaps an input; approx and detail may be the two halves of
//   one line. The pipeline's sizes (832..104, halves 416..52) and 16-byte
//   aligned line buffers meet every column.
//
// Precision. x87 sums the four products in double and rounds once to
// single. 3dnow and sse round every product and every partial sum to single
// and add in their own order, so they are not bit-identical to x87: with
// S = sum |c_k x_k| of an output's four terms and u = 2^-24, each SIMD
// output lies within 7u*S of the exact value (four product roundings, three
// sum roundings, each at most u times a magnitude <= S) and the x87 output
// within u*S + 3*2^-53*S, so the forms differ by at most about 8u*S. The
// checker allows 10u*S, the margin covering second-order terms, plus a few
// smallest denormals where results underflow. Each form gives the same bits
// on the x86-64 and the i386 build, and avx2 (x86-64 only) the same bits as
// sse: eight lanes, each with sse's products in sse's order.
//
// The 3dnow forms leave the MMX state empty (FEMMS on entry and exit).
#pragma once

namespace zeverive {

// The filter pair, each the exact coefficient rounded to single precision:
// h_k = ((1 + sqrt3), (3 + sqrt3), (3 - sqrt3), (1 - sqrt3)) / (4 sqrt2) and
// g_k = (-1)^k h_(3-k).
constexpr float kH0 = 0x1.ee8dd4p-2f;   // 0.48296291, bits 0x3ef746ea
constexpr float kH1 = 0x1.ac4bdep-1f;   // 0.83651632, bits 0x3f5625ef
constexpr float kH2 = 0x1.cb0bf0p-3f;   // 0.22414386, bits 0x3e6585f8
constexpr float kH3 = -0x1.0907dcp-3f;  // -0.12940952, bits 0xbe0483ee
constexpr float kG0 = kH3;
constexpr float kG1 = -kH2;
constexpr float kG2 = kH1;
constexpr float kG3 = -kH0;

void forward_transform_x87(const float* src, int length, float* dst);
void forward_transform_3dnow(const float* src, int length, float* dst);
void forward_transform_sse(const float* src, int length, float* dst);

void inverse_transform_x87(const float* approx, const float* detail, int half_length, float* dst);
void inverse_transform_3dnow(const float* approx, const float* detail, int half_length, float* dst);
void inverse_transform_sse(const float* approx, const float* detail, int half_length, float* dst);

#if defined(__x86_64__)
void forward_transform_avx2(const float* src, int length, float* dst);
void inverse_transform_avx2(const float* approx, const float* detail, int half_length, float* dst);
#endif

}  // namespace zeverive
