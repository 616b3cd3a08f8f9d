// The kernel table, filled by the compiler and never written, and the one
// place that turns a variant into the forms a pass calls.

#include "cpu/kernel_table.h"

#include "kernels/edge_mask.h"
#include "kernels/odd_lowpass.h"
#include "kernels/shrink_band.h"
#include "kernels/transform.h"

namespace zeverive {

// Each slot lists its x87, 3DNow! and SSE forms in variant order, and on
// x86-64 the AVX2 form after them.
#if defined(__x86_64__)
#define ZEVERIVE_AND_AVX2(form) , form
#else
#define ZEVERIVE_AND_AVX2(form)
#endif

const KernelTable kernel_table = {
    {forward_transform_x87, forward_transform_3dnow, forward_transform_sse ZEVERIVE_AND_AVX2(forward_transform_avx2)},
    {inverse_transform_x87, inverse_transform_3dnow, inverse_transform_sse ZEVERIVE_AND_AVX2(inverse_transform_avx2)},
    {shrink_band_x87, shrink_band_3dnow, shrink_band_sse ZEVERIVE_AND_AVX2(shrink_band_avx2)},
    {shrink_band_4phase_x87, shrink_band_4phase_3dnow,
     shrink_band_4phase_sse ZEVERIVE_AND_AVX2(shrink_band_4phase_avx2)},
    {shrink_band_2phase_x87, shrink_band_2phase_3dnow,
     shrink_band_2phase_sse ZEVERIVE_AND_AVX2(shrink_band_2phase_avx2)},
    {edge_mask_x87, edge_mask_3dnow, edge_mask_sse ZEVERIVE_AND_AVX2(edge_mask_avx2)},
};

TransformKernels transform_kernels(KernelVariant v) {
    return {kernel_table.forward_transform[v], kernel_table.inverse_transform[v]};
}

ShrinkKernels shrink_kernels(KernelVariant v) {
    return {kernel_table.shrink_band[v], kernel_table.shrink_band_2phase[v], kernel_table.shrink_band_4phase[v]};
}

// The mode-3 kernels have one form for the variants every build shares;
// the AVX2 variant gets the same arithmetic compiled for its registers.
EdgeMaskKernels edge_mask_kernels(KernelVariant v) {
    EdgeMaskKernels k = {kernel_table.edge_mask[v], edge_mask_pair};
#if defined(__x86_64__)
    if (v == kVariantAvx2) k.pair = edge_mask_pair_avx2;
#endif
    return k;
}

OddLowpassKernels odd_lowpass_kernels([[maybe_unused]] KernelVariant v) {
    OddLowpassKernels k = {odd_lowpass_analysis, odd_lowpass_synthesis};
#if defined(__x86_64__)
    if (v == kVariantAvx2) k = {odd_lowpass_analysis_avx2, odd_lowpass_synthesis_avx2};
#endif
    return k;
}

LineKernels line_kernels([[maybe_unused]] KernelVariant v) {
    LineKernels k = {load_line, store_line, fill_mask, gather_columns, scatter_columns};
#if defined(__x86_64__)
    if (v == kVariantAvx2)
        k = {load_line_avx2, store_line_avx2, fill_mask_avx2, gather_columns_avx2, scatter_columns_avx2};
#endif
    return k;
}

Kernels kernels_for(KernelVariant v) {
    return {transform_kernels(v), shrink_kernels(v), edge_mask_kernels(v), odd_lowpass_kernels(v), line_kernels(v)};
}

}  // namespace zeverive
