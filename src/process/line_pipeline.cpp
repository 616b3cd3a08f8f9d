// denoise_lines: load, phase lines, decomposition with edge masks, band
// shrink, reconstruction and store, for every line of one pass.

#include "process/line_pipeline.h"

#include <cstddef>
#include <cstring>

#include "cpu/kernel_table.h"
#include "host/filter_params.h"
#include "host/working_state.h"
#include "kernels/edge_mask.h"
#include "kernels/odd_lowpass.h"
#include "process/coefficient_display.h"
#include "process/sample_store.h"

namespace zeverive {
namespace {

constexpr int kSmallLength = 416;
constexpr int kBandCount = 4;
// Detail band k spans [kBandStart[k], 2 * kBandStart[k]), coarsest first.
constexpr int kBandStart[kBandCount] = {52, 104, 208, 416};
constexpr int kMaxPhases = 4;

// One line of the frame: pixel k is first[k * stride].
struct FrameLine {
    YcPixel* first;
    ptrdiff_t stride;
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

void load(const FrameLine& line, int n, int padded_length, float* dst) {
    for (int k = 0; k < n; ++k) dst[k] = line.first[k * line.stride].y;
    std::memset(dst + n, 0, sizeof(float) * (padded_length - n));
}

// dst[j] = src[(j + r) mod L]: the line's first samples come back after the
// appended zeros.
void rotate_left(const float* src, int r, int padded_length, float* dst) {
    std::memcpy(dst, src + r, sizeof(float) * (padded_length - r));
    std::memcpy(dst + padded_length - r, src, sizeof(float) * r);
}

struct PassKernels {
    ForwardTransformFn forward;
    InverseTransformFn inverse;
    ShrinkBandFn shrink;
    ShrinkBand4PhaseFn shrink_4phase;
    ShrinkBand2PhaseFn shrink_2phase;
    EdgeMaskFn edge_mask;
};

PassKernels kernels_for(KernelVariant v) {
    const KernelTable& t = kernel_table;
    return {t.forward_transform[v],  t.inverse_transform[v],  t.shrink_band[v],
            t.shrink_band_4phase[v], t.shrink_band_2phase[v], t.edge_mask[v]};
}

void decompose(const PassKernels& k, int32_t mode, const LineBuffers& b, const Phases& phases,
               int padded_length, const LevelPlan& plan) {
    for (int level = 1; level <= plan.levels_run; ++level) {
        const int len = padded_length >> (level - 1);
        const int half = len / 2;
        const float edge_threshold = filter_params.edge_thresholds[plan.edge_threshold_index[level - 1]];
        if (mode == 3) {
            // Each level twice: in the line's own phase (into shift2) and
            // with its low-pass part moved by one sample (into shift0).
            k.forward(b.shift0, len, b.shift2);
            odd_lowpass_synthesis(b.shift2, half, b.scratch);
            k.forward(b.scratch, len, b.shift0);
            edge_mask_pair(b.mask, half, b.shift0, b.shift2, edge_threshold);
            continue;
        }
        for (int p = 0; p < phases.count; ++p) {
            float* line = phases.lines[p];
            std::memcpy(b.scratch, line, sizeof(float) * len);
            k.forward(b.scratch, len, line);
            k.edge_mask(b.mask, half, line, edge_threshold);
        }
    }
}

void shrink_bands(const PassKernels& k, int32_t mode, const LineBuffers& b, const float thresholds[kBandCount]) {
    for (int band = 0; band < kBandCount; ++band) {
        const int start = kBandStart[band];
        const int end = 2 * start;
        switch (mode) {
            case 0: k.shrink(b.shift0, start, end, thresholds[band], b.mask); break;
            case 2:
                k.shrink_4phase(b.shift0, b.shift1, b.shift2, b.shift3, start, end, thresholds[band], b.mask);
                break;
            default: k.shrink_2phase(b.shift0, b.shift2, start, end, thresholds[band], b.mask); break;
        }
    }
}

void reconstruct(const PassKernels& k, int32_t mode, const LineBuffers& b, const Phases& phases,
                 int padded_length, int levels_run) {
    for (int h = padded_length >> levels_run; h < padded_length; h *= 2) {
        if (mode == 3) {
            k.inverse(b.shift0, b.shift0 + h, h, b.scratch);
            odd_lowpass_analysis(b.scratch, 2 * h, b.shift2);
            k.inverse(b.shift2, b.shift2 + h, h, b.shift0);
            continue;
        }
        for (int p = 0; p < phases.count; ++p) {
            float* line = phases.lines[p];
            k.inverse(line, line + h, h, b.scratch);
            std::memcpy(line, b.scratch, sizeof(float) * 2 * h);
        }
    }
}

// Phase p holds sample k at (k - rotation) mod L; the phases are averaged
// at double precision and truncated.
void store(int32_t mode, const Phases& phases, int padded_length, const FrameLine& line, int n) {
    const double weight = 1.0 / phases.count;  // 1, 0.5 or 0.25: exact
    for (int k = 0; k < n; ++k) {
        double sum = 0.0;
        for (int p = 0; p < phases.count; ++p) {
            int at = k - rotation_of(mode, p);
            if (at < 0) at += padded_length;
            sum += phases.lines[p][at];
        }
        line.first[k * line.stride].y = to_sample(sum * weight);
    }
}

}  // namespace

LevelPlan plan_levels(const FrameInfo& frame, const float thresholds[4], int levels) {
    LevelPlan plan = {};
    int skipped = 0;
    while (skipped < levels - 1 && thresholds[skipped] == 0.0f) ++skipped;
    plan.levels_run = levels - skipped;
    const bool small_frame = frame.width <= kSmallLength && frame.height <= kSmallLength;
    for (int level = 1; level <= plan.levels_run; ++level) plan.edge_threshold_index[level - 1] = 4 - level - small_frame;
    return plan;
}

void denoise_lines(bool along_rows, KernelVariant variant, const FrameInfo& frame, const float thresholds[4],
                   int levels, int padded_length, int32_t display_value) {
    const int line_count = along_rows ? frame.height : frame.width;
    if (line_count <= 0) return;
    const int n = along_rows ? frame.width : frame.height;

    const int32_t mode = filter_params.mode;
    const bool known_mode = mode >= 0 && mode <= 3;
    const bool display = along_rows && display_value != 0;
    const LineBuffers& b = working_state.lines;
    const PassKernels k = kernels_for(variant);
    const Phases phases = phases_of(mode, b);
    const LevelPlan plan = plan_levels(frame, thresholds, levels);
    const int L = padded_length;

    for (int i = 0; i < line_count; ++i) {
        const FrameLine line = along_rows ? FrameLine{frame.frame_pixels + static_cast<ptrdiff_t>(i) * frame.row_pitch, 1}
                                          : FrameLine{frame.frame_pixels + i, frame.row_pitch};
        if (known_mode) {
            load(line, n, L, b.shift0);
            for (int p = 1; p < phases.count; ++p) rotate_left(b.shift0, rotation_of(mode, p), L, phases.lines[p]);
            for (int j = 0; j < L; ++j) b.mask[j] = 1.0f;
            decompose(k, mode, b, phases, L, plan);
            shrink_bands(k, mode, b, thresholds);
        }
        if (display) {
            display_coefficients(b, mode, L, display_value, line.first, n);
        } else if (known_mode) {
            reconstruct(k, mode, b, phases, L, plan.levels_run);
            store(mode, phases, L, line, n);
        }
    }
}

}  // namespace zeverive
