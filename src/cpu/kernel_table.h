// Where the kernels are chosen. The line pipeline reaches six operations
// through one table, each in the x87, 3DNow! and SSE forms (and AVX2 on
// x86-64); the table is filled at compile time and never written, and the
// variant chosen at initialise picks the column. The pipeline asks
// kernels_for once per pass and holds no processor knowledge: no processor
// test runs per line.
#pragma once

#include "cpu/detect.h"
#include "kernels/line_io.h"

namespace zeverive {

// The kernel families. Each member's type is the one declaration of that
// operation's signature; the table below and every caller reuse it.
struct TransformKernels {
    void (*forward)(const float* src, int length, float* dst);
    void (*inverse)(const float* approx, const float* detail, int half_length, float* dst);
};
struct ShrinkKernels {
    void (*shrink_band)(float* line, int start, int end, float threshold, const float* mask);
    void (*shrink_band_2phase)(float* line0, float* line1, int start, int end, float threshold, const float* mask);
    void (*shrink_band_4phase)(float* line0, float* line1, float* line2, float* line3, int start, int end,
                               float threshold, const float* mask);
};
struct EdgeMaskKernels {
    void (*single)(float* mask, int half, const float* line, float threshold);
    // Mode 3: outside the table; one scalar form, compiled a second time
    // for AVX2 where that variant runs.
    void (*pair)(float* mask, int half, const float* line_a, const float* line_b, float threshold);
};
// Mode 3's low-pass kernels moved by one sample: outside the table, like
// the pair mask.
struct OddLowpassKernels {
    void (*analysis)(const float* src, int length, float* dst);
    void (*synthesis)(const float* approx, int half_length, float* dst);
};

// The line pipeline's own loops (kernels/line_io.h): outside the table, one
// plain form for the variants every build shares and an AVX2 form.
struct LineKernels {
    decltype(&load_line) load;
    decltype(&store_line) store;
    decltype(&fill_mask) fill;
    decltype(&gather_columns) gather;
    decltype(&scatter_columns) scatter;
};

// Slot-major: the entry of slot s for variant v is pointer
// kVariantCount * s + v.
struct KernelTable {
    decltype(TransformKernels::forward) forward_transform[kVariantCount];           // slot 0
    decltype(TransformKernels::inverse) inverse_transform[kVariantCount];           // slot 1
    decltype(ShrinkKernels::shrink_band) shrink_band[kVariantCount];                // slot 2
    decltype(ShrinkKernels::shrink_band_4phase) shrink_band_4phase[kVariantCount];  // slot 3
    decltype(ShrinkKernels::shrink_band_2phase) shrink_band_2phase[kVariantCount];  // slot 4
    decltype(EdgeMaskKernels::single) edge_mask[kVariantCount];                     // slot 5
};
static_assert(sizeof(KernelTable) == 6 * kVariantCount * sizeof(void (*)()), "six slots of every variant");

extern const KernelTable kernel_table;

// A variant's forms of each family.
TransformKernels transform_kernels(KernelVariant v);
ShrinkKernels shrink_kernels(KernelVariant v);
EdgeMaskKernels edge_mask_kernels(KernelVariant v);
OddLowpassKernels odd_lowpass_kernels(KernelVariant v);
LineKernels line_kernels(KernelVariant v);

// Everything one pass calls.
struct Kernels {
    TransformKernels transform;
    ShrinkKernels shrink;
    EdgeMaskKernels edge_mask;
    OddLowpassKernels odd_lowpass;
    LineKernels line;
};
Kernels kernels_for(KernelVariant v);

}  // namespace zeverive
