// The kernel table: filled by the compiler, never written.

#include "cpu/kernel_table.h"

#include "kernels/edge_mask.h"
#include "kernels/shrink_band.h"
#include "kernels/transform.h"

namespace zeverive {

// Each slot lists its x87, 3DNow! and SSE forms in variant order.
const KernelTable kernel_table = {
    {forward_transform_x87, forward_transform_3dnow, forward_transform_sse},
    {inverse_transform_x87, inverse_transform_3dnow, inverse_transform_sse},
    {shrink_band_x87, shrink_band_3dnow, shrink_band_sse},
    {shrink_band_4phase_x87, shrink_band_4phase_3dnow, shrink_band_4phase_sse},
    {shrink_band_2phase_x87, shrink_band_2phase_3dnow, shrink_band_2phase_sse},
    {edge_mask_x87, edge_mask_3dnow, edge_mask_sse},
};

}  // namespace zeverive
