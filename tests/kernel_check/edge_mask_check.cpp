// The edge masks: the single-line forms judged against the x87 form, which
// keeps an entry whose second difference is exactly the threshold where
// the SIMD forms clear it; the mode-3 pair mask against its definition,
// what both single-line x87 masks clear.

#include <cmath>

#include "cpu/kernel_table.h"
#include "families.h"

namespace zeverive {
namespace check {
namespace {

float edge_threshold(Random& random, int round) {
    static const float kTypical[] = {0.0f, 150.0f, 120.0f, 90.0f, 60.0f, 16.384f};
    return round < 6 ? kTypical[round] : std::fabs(random.fixed(9, 2));
}

// Approximation coefficients with flat stretches (d = 0), spikes, and
// centres whose second difference is exactly +-threshold.
void fill_edge_line(Random& random, float* line, int half, float t, bool fractional) {
    for (int j = 0; j < half; ++j) {
        if (j > 0 && random.chance(3)) {
            line[j] = line[j - 1];
        } else {
            line[j] = fractional ? random.fixed(14, 6) : float(random.below(4096));
        }
    }
    for (int j = 1; j + 1 < half; ++j) {
        if (!random.chance(4)) continue;
        const double wanted = random.chance(2) ? t : -t;
        const double next = 2.0 * line[j] - line[j - 1] - wanted;
        const float rounded = static_cast<float>(next);
        if (2.0 * line[j] - line[j - 1] - rounded == wanted) line[j + 1] = rounded;
    }
}

// How x87 and SIMD decide at centre j. When every single-precision step of
// SIMD is exact and |d| equals the threshold, x87 must keep the entry and
// SIMD must clear it. Otherwise they may differ only where |d| is so close
// to the threshold that the SIMD steps ((2a - b) rounded, then - c rounded:
// at most 2u(2|a| + |b| + |c|)) and x87's one rounding (u|d|) land on
// different sides; everywhere else they must agree.
enum class EdgeCentre { kMustAgree, kAtThreshold, kNearThreshold };

EdgeCentre classify_centre(const float* line, int j, float t) {
    const double a = line[j], b = line[j - 1], c = line[j + 1];
    const double first = 2.0 * a - b;
    const double d = first - c;
    const bool exact_in_single = double(float(first)) == first && double(float(d)) == d;
    if (exact_in_single && std::fabs(d) == t) return EdgeCentre::kAtThreshold;
    const double slack = 3.0 * 0x1p-24 * (2.0 * std::fabs(a) + std::fabs(b) + std::fabs(c)) + 0x1p-149;
    return std::fabs(std::fabs(d) - t) <= slack ? EdgeCentre::kNearThreshold : EdgeCentre::kMustAgree;
}

void judge_single(KernelCase& k, KernelVariant v, const GuardedLine& mask, const GuardedLine& line,
                  const std::vector<float>& start, float t) {
    const int half = line.size();
    long bad = 0;
    // A form only lowers entries of the inner part of the level's mask.
    for (int i = 0; i < mask.size(); ++i) {
        const bool inner = i > half && i < 2 * half - 1;
        const bool lowered_or_kept = mask[i] == start[i] || (inner && mask[i] == 0.0f);
        if (!lowered_or_kept && bad++ < 3)
            k.fail(v, "entry " + std::to_string(i) + " changed from " + std::to_string(start[i]) + " to " +
                          std::to_string(mask[i]));
    }
    if (v == kVariantX87) return;
    const GuardedLine& x87 = *k.outputs(kVariantX87)[0];
    for (int j = 1; j < half - 1; ++j) {
        const int i = half + j;
        const bool same = bits_of(mask[i]) == bits_of(x87[i]);
        bool right = same;
        switch (classify_centre(line.data(), j, t)) {
            case EdgeCentre::kMustAgree: break;
            case EdgeCentre::kAtThreshold:
                right = x87[i] == start[i] && mask[i] == 0.0f;
                if (right && !same) ++k.tally(v).at_threshold;
                break;
            case EdgeCentre::kNearThreshold:
                right = true;
                if (!same) ++k.tally(v).rounding;
                break;
        }
        if (!right && bad++ < 3)
            k.fail(v, "centre " + std::to_string(j) + ": entry " + std::to_string(mask[i]) + ", x87 " +
                          std::to_string(x87[i]) + ", threshold " + std::to_string(t));
    }
}

void check_single(Checker& c, int half) {
    for (int round = 0; round < c.rounds(); ++round) {
        KernelCase k(c, "edge_mask", half, round, half);
        const float t = edge_threshold(k.random(), round);
        GuardedLine line(half);
        fill_edge_line(k.random(), line.data(), half, t, round % 2 == 1);
        k.reads(line);
        // Earlier phase lines of the level may already have cleared entries.
        std::vector<float> start(2 * half + 16);
        for (float& m : start) m = k.random().chance(5) ? 0.0f : 1.0f;
        k.writes(static_cast<int>(start.size()), start.data());
        k.run([](KernelVariant v) { return edge_mask_kernels(v).single; },
              [&](auto single, float* const* out) { single(out[0], half, line.data(), t); },
              [&](KernelVariant v, const Lines& got) { judge_single(k, v, *got[0], line, start, t); });
    }
}

void check_pair(Checker& c, int half) {
    for (int round = 0; round < c.rounds(); ++round) {
        KernelCase k(c, "edge_mask_pair", half, round, 2 * half);
        const float t = edge_threshold(k.random(), round);
        GuardedLine a(half), b(half);
        fill_edge_line(k.random(), a.data(), half, t, round % 2 == 1);
        fill_edge_line(k.random(), b.data(), half, t, round % 3 == 1);
        k.reads(a);
        k.reads(b);
        std::vector<float> start(2 * half);
        for (float& m : start) m = k.random().chance(5) ? 0.0f : 1.0f;
        k.writes(2 * half, start.data());
        std::vector<float> only_a(start), only_b(start);
        const auto x87_single = edge_mask_kernels(kVariantX87).single;
        x87_single(only_a.data(), half, a.data(), t);
        x87_single(only_b.data(), half, b.data(), t);
        k.run([](KernelVariant v) { return edge_mask_kernels(v).pair; },
              [&](auto pair, float* const* out) { pair(out[0], half, a.data(), b.data(), t); },
              [&](KernelVariant v, const Lines& got) {
                  const GuardedLine& mask = *got[0];
                  for (int i = 0; i < 2 * half; ++i) {
                      const float expected = std::fmax(only_a[i], only_b[i]);
                      if (mask[i] != expected) {
                          k.fail(v, "index " + std::to_string(i) + ": got " + std::to_string(mask[i]) +
                                        ", both x87 masks " + std::to_string(expected));
                          return;
                      }
                  }
              });
    }
}

}  // namespace

void check_edge_masks(Checker& c) {
    if (c.selected("edge_mask"))
        for (int h : kHalfLengths) check_single(c, h);
    if (c.selected("edge_mask_pair"))
        for (int h : kHalfLengths) check_pair(c, h);
}

}  // namespace check
}  // namespace zeverive
