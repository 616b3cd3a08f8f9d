// One pass over a frame: load, phase lines, decomposition with edge masks,
// band shrink, reconstruction and store, for every line; and denoise_lines,
// the one place that gathers a pass's inputs from the working parameters
// and the working state.

#include "process/line_pipeline.h"

#include <cstddef>
#include <cstring>

#include "host/filter_params.h"
#include "process/coefficient_display.h"

namespace zeverive {
namespace {

// A line's Y samples: a row of the frame's pixels, or one column of the
// gathered block.
struct SampleLine {
    int16_t* samples;
    int stride;
};

static_assert(kMaxPhases == kMaxPhaseLines, "the store takes every phase a mode has");

// The phase lines of a mode and the rotation (in samples) each one holds.
struct Phases {
    float* lines[kMaxPhases];
    int rotation[kMaxPhases];
    int count;
};

// The line rotated left by r samples lives in shift<r>.
float* LineBuffers::*const kRotatedLine[kMaxPhases] = {&LineBuffers::shift0, &LineBuffers::shift1,
                                                       &LineBuffers::shift2, &LineBuffers::shift3};

Phases phases_of(const ModeTraits& mode, const LineBuffers& b) {
    Phases phases = {};
    phases.count = mode.phase_count;
    for (int p = 0; p < mode.phase_count; ++p) {
        phases.rotation[p] = mode.rotation[p];
        phases.lines[p] = b.*kRotatedLine[mode.rotation[p]];
    }
    return phases;
}

// A pass's inputs with what follows from them for every line.
struct Pass {
    const PassInputs& in;
    const ModeTraits& mode;
    Phases phases;
    PhaseLines rebuilt;  // the same lines with their rotations, as the store reads them
    int n;               // samples per line
};

// dst[j] = src[(j + r) mod L]: the line's first samples come back after the
// appended zeros.
void rotate_left(const float* src, int r, int padded_length, float* dst) {
    std::memcpy(dst, src + r, sizeof(float) * (padded_length - r));
    std::memcpy(dst + padded_length - r, src, sizeof(float) * r);
}

// Every level of one phase line, from its padded samples in scratch. The
// levels alternate between the phase line and scratch instead of copying
// the line into scratch before each step: an odd level writes the phase
// line, an even one scratch, whose details are then moved to their place
// in the phase line (with the approximation, after the last level).
void decompose_phase(const Pass& pass, float* line) {
    const Kernels& k = pass.in.kernels;
    const LineBuffers& b = pass.in.buffers;
    const LevelPlan& plan = pass.in.plan;
    for (int level = 1; level <= plan.levels_run; ++level) {
        const int len = pass.in.padded_length >> (level - 1);
        const int half = len / 2;
        const float edge_threshold = pass.in.edge_thresholds[plan.edge_threshold_index[level - 1]];
        const bool into_line = level % 2 == 1;
        float* approx = into_line ? line : b.scratch;
        k.transform.forward(into_line ? b.scratch : line, len, approx);
        k.edge_mask.single(b.mask, half, approx, edge_threshold);
        if (!into_line) {
            const int from = level == plan.levels_run ? 0 : half;
            std::memcpy(line + from, b.scratch + from, sizeof(float) * (len - from));
        }
    }
}

// Each level decomposed in every phase, and the mask lowered by each. A
// phase's levels depend only on that phase, and the mask only ever goes
// from 1.0 to 0.0, so taking the phases one after the other gives what
// taking the levels one after the other would. The rotated phases are
// built straight into scratch, from the loaded line in shift0, which goes
// last.
void decompose(const Pass& pass) {
    const Kernels& k = pass.in.kernels;
    const LineBuffers& b = pass.in.buffers;
    const int L = pass.in.padded_length;
    if (pass.mode.pairs_shifted_lowpass) {
        const LevelPlan& plan = pass.in.plan;
        for (int level = 1; level <= plan.levels_run; ++level) {
            const int len = L >> (level - 1);
            const int half = len / 2;
            const float edge_threshold = pass.in.edge_thresholds[plan.edge_threshold_index[level - 1]];
            // Each level twice: in the line's own phase (into shift2) and
            // with its low-pass part moved by one sample (into shift0).
            k.transform.forward(b.shift0, len, b.shift2);
            k.odd_lowpass.synthesis(b.shift2, half, b.scratch);
            k.transform.forward(b.scratch, len, b.shift0);
            k.edge_mask.pair(b.mask, half, b.shift0, b.shift2, edge_threshold);
        }
        return;
    }
    for (int p = pass.phases.count - 1; p >= 0; --p) {
        rotate_left(b.shift0, pass.phases.rotation[p], L, b.scratch);
        decompose_phase(pass, pass.phases.lines[p]);
    }
}

void shrink_bands(const Pass& pass) {
    const ShrinkKernels& k = pass.in.kernels.shrink;
    const LineBuffers& b = pass.in.buffers;
    for (int band = 0; band < kBandCount; ++band) {
        const int start = kBandStart[band];
        const int end = 2 * start;
        const float threshold = pass.in.thresholds[band];
        switch (pass.mode.shrink) {
            case ShrinkForm::kShrinkBand: k.shrink_band(b.shift0, start, end, threshold, b.mask); break;
            case ShrinkForm::kShrinkBand2Phase:
                k.shrink_band_2phase(b.shift0, b.shift2, start, end, threshold, b.mask);
                break;
            case ShrinkForm::kShrinkBand4Phase:
                k.shrink_band_4phase(b.shift0, b.shift1, b.shift2, b.shift3, start, end, threshold, b.mask);
                break;
        }
    }
}

// Every level rebuilt, coarsest first; returns the lines the store reads.
// Mode 3 rebuilds into shift0. The other modes take the phases one after
// the other, each from its own line into two free buffers in turn instead
// of copying every level back: the first phase has scratch and the mask
// (which the shrink was the last to read), and each phase leaves its own
// line free for the next, while its rebuilt line stays where its last
// level wrote it.
PhaseLines reconstruct(const Pass& pass) {
    const Kernels& k = pass.in.kernels;
    const LineBuffers& b = pass.in.buffers;
    const int L = pass.in.padded_length;
    const int coarsest = L >> pass.in.plan.levels_run;
    if (pass.mode.pairs_shifted_lowpass) {
        for (int h = coarsest; h < L; h *= 2) {
            k.transform.inverse(b.shift0, b.shift0 + h, h, b.scratch);
            k.odd_lowpass.analysis(b.scratch, 2 * h, b.shift2);
            k.transform.inverse(b.shift2, b.shift2 + h, h, b.shift0);
        }
        return pass.rebuilt;
    }
    PhaseLines rebuilt = pass.rebuilt;
    float* free_lines[2] = {b.scratch, b.mask};
    for (int p = 0; p < pass.phases.count; ++p) {
        float* line = pass.phases.lines[p];
        const float* approx = line;
        int next = 0;
        for (int h = coarsest; h < L; h *= 2, next ^= 1) {
            k.transform.inverse(approx, line + h, h, free_lines[next]);
            approx = free_lines[next];
        }
        rebuilt.line[p] = approx;
        // The buffer the last level did not write, and this phase's own.
        free_lines[0] = free_lines[next];
        free_lines[1] = line;
    }
    return rebuilt;
}

// Load, phase lines, mask, decomposition and shrink of one line.
void analyse_line(const Pass& pass, const SampleLine& line) {
    const LineKernels& k = pass.in.kernels.line;
    const LineBuffers& b = pass.in.buffers;
    k.load(line.samples, line.stride, pass.n, pass.in.padded_length, b.shift0);
    k.fill(b.mask, pass.in.padded_length);
    decompose(pass);
    shrink_bands(pass);
}

// Phase p holds sample k at (k - rotation) mod L; the store averages them.
void rebuild_line(const Pass& pass, const SampleLine& line) {
    const PhaseLines rebuilt = reconstruct(pass);
    pass.in.kernels.line.store(rebuilt, pass.n, pass.in.padded_length, line.samples, line.stride);
}

// Columns are gathered into the column block a group at a time, row by
// row, and scattered back the same way once the group is done. Read one
// column at a time, consecutive samples lie a row pitch apart (4 KB and
// more), so every load and every store of a column touches another page; a
// group of 16 columns shares each row it reads, and 16 pixels (96 bytes) are
// at most three cache lines. Measured: 6 to 8 % of an 832x832 frame, within
// the noise at 720x480. Each column still goes alone through the same steps
// in the same order, and no column reads another's samples, so writing a
// group back after it is done gives the same frame.
void denoise_columns(const Pass& pass, const FrameInfo& frame) {
    const LineKernels& k = pass.in.kernels.line;
    ColumnSamples* block = pass.in.column_block;
    const ptrdiff_t pitch = static_cast<ptrdiff_t>(frame.row_pitch) * kPixelStride;
    for (int first = 0; first < frame.width; first += kColumnBlockWidth) {
        const int columns = frame.width - first < kColumnBlockWidth ? frame.width - first : kColumnBlockWidth;
        int16_t* y = &frame.frame_pixels[first].y;
        k.gather(y, pitch, pass.n, columns, block);
        for (int c = 0; c < columns; ++c) {
            const SampleLine line{block[c], 1};
            analyse_line(pass, line);
            rebuild_line(pass, line);
        }
        k.scatter(block, pass.n, columns, pitch, y);
    }
}

}  // namespace

LevelPlan plan_levels(const FrameInfo& frame, const float thresholds[kBandCount], int levels) {
    LevelPlan plan = {};
    int skipped = 0;
    while (skipped < levels - 1 && thresholds[skipped] == 0.0f) ++skipped;
    plan.levels_run = levels - skipped;
    const bool small_frame = frame.width <= kSmallLineLength && frame.height <= kSmallLineLength;
    for (int level = 1; level <= plan.levels_run; ++level)
        plan.edge_threshold_index[level - 1] = kBandCount - level - small_frame;
    return plan;
}

void denoise_pass(const PassInputs& in, const FrameInfo& frame) {
    const int line_count = in.along_rows ? frame.height : frame.width;
    if (line_count <= 0) return;

    const ModeTraits& mode = traits_of(in.mode);
    const bool denoises = mode.phase_count > 0;
    const Phases phases = phases_of(mode, in.buffers);
    PhaseLines rebuilt = {};
    rebuilt.count = phases.count;
    for (int p = 0; p < phases.count; ++p) {
        rebuilt.line[p] = phases.lines[p];
        rebuilt.rotation[p] = phases.rotation[p];
    }
    const Pass pass = {in, mode, phases, rebuilt, in.along_rows ? frame.width : frame.height};

    if (!in.along_rows) {
        // A column pass never shows coefficients, and with an unknown mode
        // it changes nothing.
        if (denoises) denoise_columns(pass, frame);
        return;
    }
    const bool display = in.display_value != 0;
    for (int i = 0; i < line_count; ++i) {
        YcPixel* row = frame.frame_pixels + static_cast<ptrdiff_t>(i) * frame.row_pitch;
        const SampleLine line{&row->y, kPixelStride};
        if (denoises) analyse_line(pass, line);
        if (display) {
            display_coefficients(in.buffers, in.mode, in.padded_length, in.display_value, row, pass.n);
        } else if (denoises) {
            rebuild_line(pass, line);
        }
    }
}

void denoise_lines(bool along_rows, KernelVariant variant, const FrameInfo& frame, const float thresholds[kBandCount],
                   int levels, int padded_length, int32_t display_value) {
    PassInputs in = {};
    in.along_rows = along_rows;
    in.mode = mode_of(filter_params.mode);
    in.kernels = kernels_for(variant);
    in.buffers = working_state.lines;
    in.column_block = working_state.column_block;
    std::memcpy(in.thresholds, thresholds, sizeof in.thresholds);
    std::memcpy(in.edge_thresholds, filter_params.edge_thresholds, sizeof in.edge_thresholds);
    in.plan = plan_levels(frame, thresholds, levels);
    in.padded_length = padded_length;
    in.display_value = display_value;
    denoise_pass(in, frame);
}

}  // namespace zeverive
