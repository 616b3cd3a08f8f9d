// The table through which the line pipeline reaches the kernels: six
// operations, each in the x87, 3DNow! and SSE forms (and AVX2 on x86-64). It is filled at compile
// time and never written; the variant chosen at initialise picks the column,
// so no processor test runs per line.
#pragma once

#include "cpu/detect.h"

namespace zeverive {

typedef void (*ForwardTransformFn)(const float* src, int length, float* dst);
typedef void (*InverseTransformFn)(const float* approx, const float* detail, int half_length, float* dst);
typedef void (*ShrinkBandFn)(float* line, int start, int end, float threshold, const float* mask);
typedef void (*ShrinkBand4PhaseFn)(float* line0, float* line1, float* line2, float* line3, int start,
                                   int end, float threshold, const float* mask);
typedef void (*ShrinkBand2PhaseFn)(float* line0, float* line1, int start, int end, float threshold,
                                   const float* mask);
typedef void (*EdgeMaskFn)(float* mask, int half, const float* line, float threshold);

// Slot-major: the entry of slot s for variant v is pointer
// kVariantCount * s + v.
struct KernelTable {
    ForwardTransformFn forward_transform[kVariantCount];    // slot 0
    InverseTransformFn inverse_transform[kVariantCount];    // slot 1
    ShrinkBandFn shrink_band[kVariantCount];                // slot 2
    ShrinkBand4PhaseFn shrink_band_4phase[kVariantCount];   // slot 3
    ShrinkBand2PhaseFn shrink_band_2phase[kVariantCount];   // slot 4
    EdgeMaskFn edge_mask[kVariantCount];                    // slot 5
};
static_assert(sizeof(KernelTable) == 6 * kVariantCount * sizeof(void (*)()), "six slots of every variant");

extern const KernelTable kernel_table;

}  // namespace zeverive
