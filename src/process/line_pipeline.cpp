// denoise_lines: load, phase lines, decomposition with edge masks, band
// shrink, reconstruction and store, for every line of one pass.

#include "process/line_pipeline.h"

#include <cstddef>
#include <cstring>

#include "cpu/kernel_table.h"
#include "host/filter_params.h"
#include "host/working_state.h"
#include "process/size_class.h"
#include "process/coefficient_display.h"
#include "process/sample_store.h"

namespace zeverive {
namespace {

constexpr int kBandCount = 4;
// Detail band k spans [kBandStart[k], 2 * kBandStart[k]), coarsest first.
constexpr int kBandStart[kBandCount] = {52, 104, 208, 416};
constexpr int kMaxPhases = 4;

// Columns are gathered into this block a group at a time, row by row, and
// scattered back the same way once the group is done. Read one column at a
// time, consecutive samples lie a row pitch apart (4 KB and more), so every
// load and every store of a column touches another page; a group of 16
// columns shares each row it reads, and 16 pixels (96 bytes) are at most
// three cache lines. Measured: 6 to 8 % of an 832x832 frame, within the
// noise at 720x480. Each column still goes alone through the same steps in
// the same order, and no column reads another's samples, so writing a group
// back after it is done gives the same frame. Static, like the rest of the
// working state: nothing is allocated per frame, and callbacks never
// overlap.
constexpr int kColumnBlock = 16;
alignas(64) int16_t column_block[kColumnBlock][kMaxLineLength];

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
    int count;
};

Phases phases_of(int32_t mode, const LineBuffers& b) {
    switch (mode) {
        case 1: return {{b.shift0, b.shift2}, 2};
        case 2: return {{b.shift0, b.shift1, b.shift2, b.shift3}, 4};
        default: return {{b.shift0}, 1};
    }
}

// The rotation of phase p in mode 1 is 2 samples, in mode 2 it is p.
int rotation_of(int32_t mode, int phase) {
    return mode == 1 ? 2 * phase : phase;
}

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

void decompose(const Kernels& k, int32_t mode, const LineBuffers& b, const Phases& phases,
               int padded_length, const LevelPlan& plan) {
    for (int level = 1; level <= plan.levels_run; ++level) {
        const int len = padded_length >> (level - 1);
        const int half = len / 2;
        const float edge_threshold = filter_params.edge_thresholds[plan.edge_threshold_index[level - 1]];
        if (mode == 3) {
            // Each level twice: in the line's own phase (into shift2) and
            // with its low-pass part moved by one sample (into shift0).
            k.transform.forward(b.shift0, len, b.shift2);
            k.odd_lowpass.synthesis(b.shift2, half, b.scratch);
            k.transform.forward(b.scratch, len, b.shift0);
            k.edge_mask.pair(b.mask, half, b.shift0, b.shift2, edge_threshold);
            continue;
        }
        for (int p = 0; p < phases.count; ++p) {
            float* line = phases.lines[p];
            std::memcpy(b.scratch, line, sizeof(float) * len);
            k.transform.forward(b.scratch, len, line);
            k.edge_mask.single(b.mask, half, line, edge_threshold);
        }
    }
}

void shrink_bands(const Kernels& k, int32_t mode, const LineBuffers& b, const float thresholds[kBandCount]) {
    for (int band = 0; band < kBandCount; ++band) {
        const int start = kBandStart[band];
        const int end = 2 * start;
        switch (mode) {
            case 0: k.shrink.one_phase(b.shift0, start, end, thresholds[band], b.mask); break;
            case 2:
                k.shrink.four_phase(b.shift0, b.shift1, b.shift2, b.shift3, start, end, thresholds[band], b.mask);
                break;
            default: k.shrink.two_phase(b.shift0, b.shift2, start, end, thresholds[band], b.mask); break;
        }
    }
}

void reconstruct(const Kernels& k, int32_t mode, const LineBuffers& b, const Phases& phases,
                 int padded_length, int levels_run) {
    for (int h = padded_length >> levels_run; h < padded_length; h *= 2) {
        if (mode == 3) {
            k.transform.inverse(b.shift0, b.shift0 + h, h, b.scratch);
            k.odd_lowpass.analysis(b.scratch, 2 * h, b.shift2);
            k.transform.inverse(b.shift2, b.shift2 + h, h, b.shift0);
            continue;
        }
        for (int p = 0; p < phases.count; ++p) {
            float* line = phases.lines[p];
            k.transform.inverse(line, line + h, h, b.scratch);
            std::memcpy(line, b.scratch, sizeof(float) * 2 * h);
        }
    }
}

// Phase p holds sample k at (k - rotation) mod L; the phases are averaged
// at double precision and truncated.
template <typename Line>
void store(int32_t mode, const Phases& phases, int padded_length, const Line& line, int n) {
    if (phases.count == 1) {
        // One phase (modes 0 and 3): 0.0 + v times 1.0 is v itself (-0.0
        // becomes +0.0, which truncates alike), so the value is truncated
        // straight from the float, without the double sum.
        const float* rebuilt = phases.lines[0];
        for (int k = 0; k < n; ++k) line.set(k, to_sample(rebuilt[k]));
        return;
    }
    const double weight = 1.0 / phases.count;  // 1, 0.5 or 0.25: exact
    for (int k = 0; k < n; ++k) {
        double sum = 0.0;
        for (int p = 0; p < phases.count; ++p) {
            int at = k - rotation_of(mode, p);
            if (at < 0) at += padded_length;
            sum += phases.lines[p][at];
        }
        line.set(k, to_sample(sum * weight));
    }
}

// Everything one pass needs besides the line itself.
struct Pass {
    Kernels kernels;
    int32_t mode;
    LineBuffers buffers;
    Phases phases;
    LevelPlan plan;
    const float* thresholds;
    int padded_length;
    int n;
};

// Steps 1 to 6 of one line: load, phase lines, mask, decomposition, shrink.
template <typename Line>
void analyse_line(const Pass& pass, const Line& line) {
    const LineBuffers& b = pass.buffers;
    const int L = pass.padded_length;
    load(line, pass.n, L, b.shift0);
    for (int p = 1; p < pass.phases.count; ++p)
        rotate_left(b.shift0, rotation_of(pass.mode, p), L, pass.phases.lines[p]);
    for (int j = 0; j < L; ++j) b.mask[j] = 1.0f;
    decompose(pass.kernels, pass.mode, b, pass.phases, L, pass.plan);
    shrink_bands(pass.kernels, pass.mode, b, pass.thresholds);
}

template <typename Line>
void rebuild_line(const Pass& pass, const Line& line) {
    reconstruct(pass.kernels, pass.mode, pass.buffers, pass.phases, pass.padded_length, pass.plan.levels_run);
    store(pass.mode, pass.phases, pass.padded_length, line, pass.n);
}

// The column pass, kColumnBlock columns at a time through column_block.
void denoise_columns(const Pass& pass, const FrameInfo& frame) {
    const int n = pass.n;
    const ptrdiff_t pitch = frame.row_pitch;
    for (int first = 0; first < frame.width; first += kColumnBlock) {
        const int columns = frame.width - first < kColumnBlock ? frame.width - first : kColumnBlock;
        const YcPixel* gather = frame.frame_pixels + first;
        for (int k = 0; k < n; ++k, gather += pitch) {
            for (int c = 0; c < columns; ++c) column_block[c][k] = gather[c].y;
        }
        for (int c = 0; c < columns; ++c) {
            const BlockLine line{column_block[c]};
            analyse_line(pass, line);
            rebuild_line(pass, line);
        }
        YcPixel* scatter = frame.frame_pixels + first;
        for (int k = 0; k < n; ++k, scatter += pitch) {
            for (int c = 0; c < columns; ++c) scatter[c].y = column_block[c][k];
        }
    }
}

}  // namespace

LevelPlan plan_levels(const FrameInfo& frame, const float thresholds[4], int levels) {
    LevelPlan plan = {};
    int skipped = 0;
    while (skipped < levels - 1 && thresholds[skipped] == 0.0f) ++skipped;
    plan.levels_run = levels - skipped;
    const bool small_frame = frame.width <= kSmallLineLength && frame.height <= kSmallLineLength;
    for (int level = 1; level <= plan.levels_run; ++level) plan.edge_threshold_index[level - 1] = 4 - level - small_frame;
    return plan;
}

void denoise_lines(bool along_rows, KernelVariant variant, const FrameInfo& frame, const float thresholds[4],
                   int levels, int padded_length, int32_t display_value) {
    const int line_count = along_rows ? frame.height : frame.width;
    if (line_count <= 0) return;

    const int32_t mode = filter_params.mode;
    const bool known_mode = mode >= 0 && mode <= 3;
    const bool display = along_rows && display_value != 0;
    const LineBuffers& b = working_state.lines;
    const Pass pass = {kernels_for(variant),
                       mode,
                       b,
                       phases_of(mode, b),
                       plan_levels(frame, thresholds, levels),
                       thresholds,
                       padded_length,
                       along_rows ? frame.width : frame.height};

    if (!along_rows) {
        // A column pass never shows coefficients, and with an unknown mode
        // it changes nothing.
        if (known_mode) denoise_columns(pass, frame);
        return;
    }
    for (int i = 0; i < line_count; ++i) {
        const RowLine line{frame.frame_pixels + static_cast<ptrdiff_t>(i) * frame.row_pitch};
        if (known_mode) analyse_line(pass, line);
        if (display) {
            display_coefficients(b, mode, padded_length, display_value, line.first, pass.n);
        } else if (known_mode) {
            rebuild_line(pass, line);
        }
    }
}

}  // namespace zeverive
