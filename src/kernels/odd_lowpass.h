// The low-pass branch of one Daubechies-4 level moved by one sample: the
// two scalar kernels of mode 3, called directly for every processor
// variant (there is no packed form).
//
// odd_lowpass_analysis(src, length, dst)
//   dst[i] = h0 x[2i+1] + h1 x[2i+2] + h2 x[2i+3] + h3 x[2i+4], indexes
//   modulo length: the approximation half of forward_transform applied to
//   the line rotated left by one sample. length even, >= 4; dst gets
//   length/2 values.
//
// odd_lowpass_synthesis(approx, half_length, dst)
//   dst[(2j+1) mod N] = h0 A[j] + h2 A[p], dst[(2j+2) mod N] = h1 A[j] +
//   h3 A[p], N = 2 half_length, p = j - 1 (half_length - 1 for j = 0): the
//   inverse transform of approx with zero details, rotated right by one.
//   half_length >= 2; dst gets N values. Analysis undoes synthesis up to
//   rounding.
//
// Neither output overlaps its input; no alignment is needed. Products are
// summed in double and rounded once to single, as in forward_transform_x87,
// so the analysis equals that kernel on the rotated line bit for bit.
#pragma once

namespace zeverive {

void odd_lowpass_analysis(const float* src, int length, float* dst);
void odd_lowpass_synthesis(const float* approx, int half_length, float* dst);

#if defined(__x86_64__)
// The same kernels for AVX2: four doubles to a register, each lane with
// the plain form's products, sums and one rounding, so every output equals
// the plain form's.
void odd_lowpass_analysis_avx2(const float* src, int length, float* dst);
void odd_lowpass_synthesis_avx2(const float* approx, int half_length, float* dst);
#endif

}  // namespace zeverive
