// odd_lowpass_analysis and odd_lowpass_synthesis: scalar, shared by every
// processor variant.

#include "kernels/odd_lowpass.h"

#include "common/single_precision.h"
#include "kernels/avx2_target.h"
#include "kernels/transform.h"

namespace zeverive {

namespace {

// Exact products summed in double, rounded once to single: the same
// arithmetic as the x87 transform, so the two agree bit for bit.
ZEVERIVE_KERNEL_BODY float lowpass4(float x0, float x1, float x2, float x3) {
    return to_single(double(kH0) * x0 + double(kH1) * x1 + double(kH2) * x2 + double(kH3) * x3);
}

ZEVERIVE_KERNEL_BODY float lowpass2(float c0, float x0, float c1, float x1) {
    return to_single(double(c0) * x0 + double(c1) * x1);
}

ZEVERIVE_KERNEL_BODY void analysis_body(const float* src, int length, float* dst) {
    const int half = length / 2;
    for (int i = 0; i < half - 2; ++i) {
        const float* x = src + 2 * i + 1;
        dst[i] = lowpass4(x[0], x[1], x[2], x[3]);
    }
    // The last two outputs reach past the end of the line and wrap.
    const float* tail = src + length - 3;
    dst[half - 2] = lowpass4(tail[0], tail[1], tail[2], src[0]);
    dst[half - 1] = lowpass4(tail[2], src[0], src[1], src[2]);
}

ZEVERIVE_KERNEL_BODY void synthesis_body(const float* approx, int half_length, float* dst) {
    const int last = half_length - 1;
    const int n = 2 * half_length;
    // Pair 0 takes its previous coefficient from the end.
    dst[1] = lowpass2(kH0, approx[0], kH2, approx[last]);
    dst[2] = lowpass2(kH1, approx[0], kH3, approx[last]);
    for (int j = 1; j < last; ++j) {
        dst[2 * j + 1] = lowpass2(kH0, approx[j], kH2, approx[j - 1]);
        dst[2 * j + 2] = lowpass2(kH1, approx[j], kH3, approx[j - 1]);
    }
    // The last pair's second sample wraps to the start.
    dst[n - 1] = lowpass2(kH0, approx[last], kH2, approx[last - 1]);
    dst[0] = lowpass2(kH1, approx[last], kH3, approx[last - 1]);
}

}  // namespace

void odd_lowpass_analysis(const float* src, int length, float* dst) {
    analysis_body(src, length, dst);
}

void odd_lowpass_synthesis(const float* approx, int half_length, float* dst) {
    synthesis_body(approx, half_length, dst);
}

#if defined(__x86_64__)
ZEVERIVE_TARGET_AVX2 void odd_lowpass_analysis_avx2(const float* src, int length, float* dst) {
    analysis_body(src, length, dst);
}

ZEVERIVE_TARGET_AVX2 void odd_lowpass_synthesis_avx2(const float* approx, int half_length, float* dst) {
    synthesis_body(approx, half_length, dst);
}
#endif

}  // namespace zeverive
