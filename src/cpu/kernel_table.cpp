// The kernel table: filled by the compiler, never written.

#include "cpu/kernel_table.h"

#include "kernels/edge_mask.h"
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

}  // namespace zeverive
