// The transforms: the x87 form against the formula in double, every other
// form against the x87 form within single-precision rounding.

#include <cmath>

#include "cpu/kernel_table.h"
#include "families.h"

namespace zeverive {
namespace check {
namespace {

std::string describe(int index, float got, double expected, double bound, const char* against) {
    char text[200];
    std::snprintf(text, sizeof text, "index %d: got %.9g, %s %.9g, difference %.3g, bound %.3g", index, got, against,
                  expected, std::fabs(got - expected), bound);
    return text;
}

// The x87 form rounds once after a double sum: within u of the value and
// the sum's 3 * 2^-53 of the magnitude. Every other form lies within the
// tolerance of kernel_cases.h of the x87 form.
void judge_transform(KernelCase& k, KernelVariant v, const Lines& got, const Reference& ref) {
    const GuardedLine& out = *got[0];
    long failures = 0;
    for (int i = 0; i < out.size() && failures < 3; ++i) {
        if (v == kVariantX87) {
            const double bound = 0x1p-24 * std::fabs(ref.value[i]) + 0x1p-51 * ref.magnitude[i] + 0x1p-150;
            if (!(std::fabs(double(out[i]) - ref.value[i]) <= bound)) {
                ++failures;
                k.fail(v, describe(i, out[i], ref.value[i], bound, "formula"));
            }
        } else {
            const float x87 = (*k.outputs(kVariantX87)[0])[i];
            const double bound = transform_tolerance(ref.magnitude[i]);
            if (!(std::fabs(double(out[i]) - x87) <= bound)) {
                ++failures;
                k.fail(v, describe(i, out[i], x87, bound, "x87"));
            }
        }
    }
}

void check_forward(Checker& c, int length) {
    for (int round = 0; round < c.rounds(); ++round) {
        KernelCase k(c, "forward_transform", length, round, length);
        GuardedLine src(length);
        fill_line(k.random(), src.data(), length, kSpreads[round % 5]);
        k.reads(src);
        k.writes(length);
        const Reference ref = forward_reference(src.data(), length);
        k.run([](KernelVariant v) { return transform_kernels(v).forward; },
              [&](auto forward, float* const* out) { forward(src.data(), length, out[0]); },
              [&](KernelVariant v, const Lines& got) { judge_transform(k, v, got, ref); });
    }
}

void check_inverse(Checker& c, int half) {
    for (int round = 0; round < c.rounds(); ++round) {
        KernelCase k(c, "inverse_transform", half, round, 2 * half);
        // Both halves in one line, as the pipeline passes them.
        GuardedLine coefficients(2 * half);
        fill_line(k.random(), coefficients.data(), 2 * half, kSpreads[round % 5]);
        k.reads(coefficients);
        k.writes(2 * half);
        const float* approx = coefficients.data();
        const float* detail = coefficients.data() + half;
        const Reference ref = inverse_reference(approx, detail, half);
        k.run([](KernelVariant v) { return transform_kernels(v).inverse; },
              [&](auto inverse, float* const* out) { inverse(approx, detail, half, out[0]); },
              [&](KernelVariant v, const Lines& got) { judge_transform(k, v, got, ref); });
    }
}

}  // namespace

void check_transforms(Checker& c) {
    if (c.selected("forward_transform"))
        for (int n : kForwardLengths) check_forward(c, n);
    if (c.selected("inverse_transform"))
        for (int h : kHalfLengths) check_inverse(c, h);
}

}  // namespace check
}  // namespace zeverive
