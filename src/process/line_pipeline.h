// One pass of the denoiser over a frame's rows or columns.
#pragma once

#include <cstdint>

#include "cpu/detect.h"
#include "host/records.h"

namespace zeverive {

// Denoises every row (along_rows) or every column of the frame's luminance.
// `thresholds` are the four band thresholds, coarsest band first; `levels`
// is 3 or 4 and `padded_length` 416 or 832, chosen by the frame driver. In a
// row pass a nonzero `display_value` replaces each row by the view of its
// coefficients. Needs the working buffers of initialise.
// What one pass does with the thresholds it is given: how many levels run
// and which edge threshold each level uses (level 1, the finest, first).
struct LevelPlan {
    int levels_run;
    int edge_threshold_index[4];
};

// Leading zero thresholds switch off the coarsest levels (at most
// levels - 1 of them). Level l uses edge threshold 4 - l, or 3 - l when
// both frame dimensions are within the small size class.
LevelPlan plan_levels(const FrameInfo& frame, const float thresholds[4], int levels);

void denoise_lines(bool along_rows, KernelVariant variant, const FrameInfo& frame, const float thresholds[4],
                   int levels, int padded_length, int32_t display_value);

}  // namespace zeverive
