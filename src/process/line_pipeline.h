// One pass of the denoiser over a frame's rows or columns.
#pragma once

#include <cstdint>

#include "common/size_class.h"
#include "cpu/detect.h"
#include "cpu/kernel_table.h"
#include "host/records.h"
#include "host/working_state.h"
#include "process/mode.h"

namespace zeverive {

// What one pass does with the thresholds it is given: how many levels run
// and which edge threshold each level uses (level 1, the finest, first).
struct LevelPlan {
    int levels_run;
    int edge_threshold_index[kBandCount];
};

// Leading zero thresholds switch off the coarsest levels (at most
// levels - 1 of them). Level l uses edge threshold 4 - l, or 3 - l when
// both frame dimensions are within the small size class.
LevelPlan plan_levels(const FrameInfo& frame, const float thresholds[kBandCount], int levels);

// Everything a pass reads besides the frame's samples.
struct PassInputs {
    bool along_rows;
    Mode mode;
    Kernels kernels;
    LineBuffers buffers;
    ColumnSamples* column_block;        // kColumnBlockWidth columns, for the column pass
    float thresholds[kBandCount];       // shrink thresholds, coarsest band first
    float edge_thresholds[kBandCount];  // indexed by the plan's edge_threshold_index
    LevelPlan plan;
    int padded_length;                  // 416 or 832
    int32_t display_value;              // nonzero in a row pass: show coefficients instead
};

// Denoises every row (along_rows) or every column of the frame's luminance
// with the given inputs and nothing else.
void denoise_pass(const PassInputs& in, const FrameInfo& frame);

// The pass as the frame driver asks for it. `thresholds` are the four band
// thresholds, coarsest band first; `levels` is 3 or 4 and `padded_length`
// 416 or 832. In a row pass a nonzero `display_value` replaces each row by
// the view of its coefficients. Takes the mode and the edge thresholds from
// the working parameters and the buffers from the working state of
// initialise, once, and runs the pass on them.
void denoise_lines(bool along_rows, KernelVariant variant, const FrameInfo& frame, const float thresholds[kBandCount],
                   int levels, int padded_length, int32_t display_value);

}  // namespace zeverive
