// One pass over a frame: load, phase lines, decomposition with edge masks,
// band shrink, reconstruction and store, for every line; and denoise_lines,
// the one place that gathers a pass's inputs from the working parameters
// and the working state.

#include "process/line_pipeline.h"

#include <cstddef>
#include <cstring>

#include "host/filter_params.h"
#include "process/coefficient_display.h"
#include "process/sample_store.h"

namespace zeverive {
namespace {

// Where a line's Y samples live: a row of the frame, or one column of the
// gathered block.
struct RowLine {
    YcPixel* first;
    float sample(int k) const { return first[k].y; }
    void set(int k, int16_t y) const { first[k].y = y; }
};
struct BlockLine {
    int16_t* samples;
    float sample(int k) const { return samples[k]; }
    void set(int k, int16_t y) const { samples[k] = y; }
};

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
    int n;  // samples per line
};

template <typename Line>
void load(const Line& line, int n, int padded_length, float* dst) {
    for (int k = 0; k < n; ++k) dst[k] = line.sample(k);
    std::memset(dst + n, 0, sizeof(float) * (padded_length - n));
}

// dst[j] = src[(j + r) mod L]: the line's first samples come back after the
// appended zeros.
void rotate_left(const float* src, int r, int padded_length, float* dst) {
    std::memcpy(dst, src + r, sizeof(float) * (padded_length - r));
    std::memcpy(dst + padded_length - r, src, sizeof(float) * r);
}

void decompose(const Pass& pass) {
    const Kernels& k = pass.in.kernels;
    const LineBuffers& b = pass.in.buffers;
    const LevelPlan& plan = pass.in.plan;
    for (int level = 1; level <= plan.levels_run; ++level) {
        const int len = pass.in.padded_length >> (level - 1);
        const int half = len / 2;
        const float edge_threshold = pass.in.edge_thresholds[plan.edge_threshold_index[level - 1]];
        if (pass.mode.pairs_shifted_lowpass) {
            // Each level twice: in the line's own phase (into shift2) and
            // with its low-pass part moved by one sample (into shift0).
            k.transform.forward(b.shift0, len, b.shift2);
            k.odd_lowpass.synthesis(b.shift2, half, b.scratch);
            k.transform.forward(b.scratch, len, b.shift0);
            k.edge_mask.pair(b.mask, half, b.shift0, b.shift2, edge_threshold);
            continue;
        }
        for (int p = 0; p < pass.phases.count; ++p) {
            float* line = pass.phases.lines[p];
            std::memcpy(b.scratch, line, sizeof(float) * len);
            k.transform.forward(b.scratch, len, line);
            k.edge_mask.single(b.mask, half, line, edge_threshold);
        }
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

void reconstruct(const Pass& pass) {
    const Kernels& k = pass.in.kernels;
    const LineBuffers& b = pass.in.buffers;
    const int L = pass.in.padded_length;
    for (int h = L >> pass.in.plan.levels_run; h < L; h *= 2) {
        if (pass.mode.pairs_shifted_lowpass) {
            k.transform.inverse(b.shift0, b.shift0 + h, h, b.scratch);
            k.odd_lowpass.analysis(b.scratch, 2 * h, b.shift2);
            k.transform.inverse(b.shift2, b.shift2 + h, h, b.shift0);
            continue;
        }
        for (int p = 0; p < pass.phases.count; ++p) {
            float* line = pass.phases.lines[p];
            k.transform.inverse(line, line + h, h, b.scratch);
            std::memcpy(line, b.scratch, sizeof(float) * 2 * h);
        }
    }
}

// Phase p holds sample k at (k - rotation) mod L; the phases are averaged
// at double precision and truncated.
template <typename Line>
void store(const Pass& pass, const Line& line) {
    const Phases& phases = pass.phases;
    if (phases.count == 1) {
        // One phase: 0.0 + v times 1.0 is v itself (-0.0 becomes +0.0,
        // which truncates alike), so the value is truncated straight from
        // the float, without the double sum.
        const float* rebuilt = phases.lines[0];
        for (int k = 0; k < pass.n; ++k) line.set(k, to_sample(rebuilt[k]));
        return;
    }
    const double weight = 1.0 / phases.count;  // 0.5 or 0.25: exact
    for (int k = 0; k < pass.n; ++k) {
        double sum = 0.0;
        for (int p = 0; p < phases.count; ++p) {
            int at = k - phases.rotation[p];
            if (at < 0) at += pass.in.padded_length;
            sum += phases.lines[p][at];
        }
        line.set(k, to_sample(sum * weight));
    }
}

// Load, phase lines, mask, decomposition and shrink of one line.
template <typename Line>
void analyse_line(const Pass& pass, const Line& line) {
    const LineBuffers& b = pass.in.buffers;
    const int L = pass.in.padded_length;
    load(line, pass.n, L, b.shift0);
    for (int p = 1; p < pass.phases.count; ++p) rotate_left(b.shift0, pass.phases.rotation[p], L, pass.phases.lines[p]);
    for (int j = 0; j < L; ++j) b.mask[j] = 1.0f;
    decompose(pass);
    shrink_bands(pass);
}

template <typename Line>
void rebuild_line(const Pass& pass, const Line& line) {
    reconstruct(pass);
    store(pass, line);
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
    ColumnSamples* block = pass.in.column_block;
    const int n = pass.n;
    const ptrdiff_t pitch = frame.row_pitch;
    for (int first = 0; first < frame.width; first += kColumnBlockWidth) {
        const int columns = frame.width - first < kColumnBlockWidth ? frame.width - first : kColumnBlockWidth;
        const YcPixel* gather = frame.frame_pixels + first;
        for (int k = 0; k < n; ++k, gather += pitch) {
            for (int c = 0; c < columns; ++c) block[c][k] = gather[c].y;
        }
        for (int c = 0; c < columns; ++c) {
            const BlockLine line{block[c]};
            analyse_line(pass, line);
            rebuild_line(pass, line);
        }
        YcPixel* scatter = frame.frame_pixels + first;
        for (int k = 0; k < n; ++k, scatter += pitch) {
            for (int c = 0; c < columns; ++c) scatter[c].y = block[c][k];
        }
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
    const Pass pass = {in, mode, phases_of(mode, in.buffers), in.along_rows ? frame.width : frame.height};

    if (!in.along_rows) {
        // A column pass never shows coefficients, and with an unknown mode
        // it changes nothing.
        if (denoises) denoise_columns(pass, frame);
        return;
    }
    const bool display = in.display_value != 0;
    for (int i = 0; i < line_count; ++i) {
        const RowLine line{frame.frame_pixels + static_cast<ptrdiff_t>(i) * frame.row_pitch};
        if (denoises) analyse_line(pass, line);
        if (display) {
            display_coefficients(in.buffers, in.mode, in.padded_length, in.display_value, line.first, pass.n);
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
