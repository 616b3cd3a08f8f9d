// Mode 3's low-pass kernels against their definition through the x87
// transforms: the analysis is the forward transform of the line moved left
// by one sample, the synthesis the inverse transform with zero details
// moved right by one.

#include "cpu/kernel_table.h"
#include "families.h"

namespace zeverive {
namespace check {
namespace {

std::string describe(int index, float got, float expected) {
    char text[160];
    std::snprintf(text, sizeof text, "index %d: got %.9g, x87 transform %.9g", index, got, expected);
    return text;
}

void check_analysis(Checker& c, int length) {
    const int half = length / 2;
    for (int round = 0; round < c.rounds(); ++round) {
        KernelCase k(c, "odd_lowpass_analysis", length, round, length);
        GuardedLine src(length);
        fill_line(k.random(), src.data(), length, kSpreads[round % 5]);
        k.reads(src);
        k.writes(half);
        std::vector<float> moved(length), full(length);
        for (int t = 0; t < length; ++t) moved[t] = src[(t + 1) % length];
        transform_kernels(kVariantX87).forward(moved.data(), length, full.data());
        k.run([](KernelVariant v) { return odd_lowpass_kernels(v).analysis; },
              [&](auto analysis, float* const* out) { analysis(src.data(), length, out[0]); },
              [&](KernelVariant v, const Lines& got) {
                  const GuardedLine& dst = *got[0];
                  for (int i = 0; i < half; ++i) {
                      if (bits_of(dst[i]) != bits_of(full[i])) {
                          k.fail(v, describe(i, dst[i], full[i]));
                          return;
                      }
                  }
              });
    }
}

void check_synthesis(Checker& c, int half) {
    const int length = 2 * half;
    for (int round = 0; round < c.rounds(); ++round) {
        KernelCase k(c, "odd_lowpass_synthesis", half, round, half);
        GuardedLine approx(half);
        fill_line(k.random(), approx.data(), half, kSpreads[round % 5]);
        k.reads(approx);
        k.writes(length);
        std::vector<float> zeros(half, 0.0f), rebuilt(length);
        transform_kernels(kVariantX87).inverse(approx.data(), zeros.data(), half, rebuilt.data());
        k.run([](KernelVariant v) { return odd_lowpass_kernels(v).synthesis; },
              [&](auto synthesis, float* const* out) { synthesis(approx.data(), half, out[0]); },
              [&](KernelVariant v, const Lines& got) {
                  const GuardedLine& dst = *got[0];
                  // Adding the zero details can only change the sign of a zero.
                  for (int t = 0; t < length; ++t) {
                      const int i = (t + 1) % length;
                      if (dst[i] != rebuilt[t]) {
                          k.fail(v, describe(i, dst[i], rebuilt[t]));
                          return;
                      }
                  }
              });
    }
}

}  // namespace

void check_odd_lowpass(Checker& c) {
    if (c.selected("odd_lowpass_analysis"))
        for (int n : kForwardLengths) check_analysis(c, n);
    if (c.selected("odd_lowpass_synthesis"))
        for (int h : kHalfLengths) check_synthesis(c, h);
}

}  // namespace check
}  // namespace zeverive
