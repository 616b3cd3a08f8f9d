#include "luma/noise_blocks.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "luma/levels_avx2.h"
#include "luma/surface_fit.h"

namespace zeverive::luma {
namespace {

// By the AVX2 loop where it runs.
double cubic_residual(const float* samples, double* r) {
#if defined(__x86_64__)
    if (wide_loops_run()) return surface_residual_avx2(samples, r);
#endif
    return surface_residual(samples, r);
}

constexpr int kB = kNoiseBlock;
constexpr int kN = kNoiseBlockSamples;
// A cubic surface has ten terms; they take ten of the block's 64 degrees
// of freedom. A plane would leave the gentle curves of real pictures in
// the residual.
constexpr double kResidualFreedom = kN - kSurfaceTerms;

// Below this spread (codes squared) a block is flat: rounding to codes is
// all it holds, and it counts as it reads, without the tests for structure.
constexpr double kFlat = 0.5;
// Neighbour correlations of the residual: noise after a 3x3 blur reaches
// about 0.6 at one pixel and 0.3 at two, in both directions or, blurred
// along rows only (analogue captures), in one; the fit itself pulls white
// noise a little below zero. Outside these bounds the residual has a period
// or a direction. Each is measured on 56 or 48 products, so the bounds leave
// room for the scatter of one block.
constexpr double kLowestLag1 = -0.45;
constexpr double kHighestLag1 = 0.9;
constexpr double kLowestLag2 = -0.5;
constexpr double kHighestLag2 = 0.75;
constexpr double kMostLag1Difference = 0.8;
// Within-group spread over total spread, splitting the sorted values at
// their widest gap (two groups) or two widest gaps (three groups). Noise
// keeps most of its spread within the groups; a residual split into two
// clusters, or samples in two or three levels, keep almost none. A smooth
// ramp split in three keeps a ninth, well above the bound.
constexpr double kResidualTwoGroups = 0.3;
constexpr double kLevelsTwoGroups = 0.15;
constexpr double kLevelsThreeGroups = 0.05;
// The quieter half of the 112 neighbour differences, scaled so that white
// noise reads its deviation; a block may hold at most this much noise
// times kRobustRoom. (Noise smoothed by a 3x3 blur reads 0.58 of its
// deviation here and 0.66 in the spread, so the room leaves it alone too.)
constexpr double kQuieterHalfDifference = 0.462;
constexpr double kRobustRoom = 2.5;
// The finest band's mean magnitude over the spread for white noise, at
// the cap.
constexpr double kFineAtCap = 0.8;


// Within-group sum of squares over the total, the sorted values split at
// their `splits` widest gaps.
double within_groups(const std::array<double, kN>& sorted, int splits) {
    std::array<int, 2> cuts{kN, kN};  // a group ends after index cut
    std::array<double, 2> widest{-1, -1};
    for (int i = 0; i + 1 < kN; ++i) {
        const double gap = sorted[i + 1] - sorted[i];
        if (gap > widest[0]) {
            widest[1] = widest[0];
            cuts[1] = cuts[0];
            widest[0] = gap;
            cuts[0] = i;
        } else if (splits > 1 && gap > widest[1]) {
            widest[1] = gap;
            cuts[1] = i;
        }
    }
    if (splits == 1) cuts[1] = kN;
    std::sort(cuts.begin(), cuts.end());
    double within = 0, sum = 0, squares = 0;
    int count = 0, group = 0;
    for (int i = 0; i < kN; ++i) {
        sum += sorted[i];
        squares += sorted[i] * sorted[i];
        ++count;
        if (i == cuts[group] || i == kN - 1) {
            within += squares - sum * sum / count;
            sum = squares = 0;
            count = 0;
            if (group < 1) ++group;
        }
    }
    double mean = 0, total = 0;
    for (double v : sorted) mean += v;
    mean /= kN;
    for (double v : sorted) total += (v - mean) * (v - mean);
    return total > 0 ? within / total : 1.0;
}

bool has_period_or_direction(const std::array<double, kN>& r, double energy) {
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    for (int y = 0; y < kB; ++y) {
        for (int x = 0; x < kB; ++x) {
            const double v = r[y * kB + x];
            if (x + 1 < kB) x1 += v * r[y * kB + x + 1];
            if (x + 2 < kB) x2 += v * r[y * kB + x + 2];
            if (y + 1 < kB) y1 += v * r[(y + 1) * kB + x];
            if (y + 2 < kB) y2 += v * r[(y + 2) * kB + x];
        }
    }
    // Per product, over the mean square.
    const double per = kN / energy;
    x1 *= per / 56;
    y1 *= per / 56;
    x2 *= per / 48;
    y2 *= per / 48;
    return x1 < kLowestLag1 || y1 < kLowestLag1 || x1 > kHighestLag1 || y1 > kHighestLag1 || x2 < kLowestLag2 ||
           y2 < kLowestLag2 || x2 > kHighestLag2 || y2 > kHighestLag2 || std::fabs(x1 - y1) > kMostLag1Difference;
}


}  // namespace

BlockReading measure_block(const float* samples) {
    std::array<double, kN> r;
    double variance = cubic_residual(samples, r.data()) / kResidualFreedom;

    double fine = 0;
    for (int y = 0; y < kB; y += 2) {
        const float* row = samples + y * kB;
        const float* next = row + kB;
        for (int x = 0; x < kB; x += 2) fine += std::fabs((row[x] - row[x + 1] - next[x] + next[x + 1]) / 2);
    }
    fine /= kN / 4;

    std::array<float, 2 * kB * (kB - 1)> differences;
    size_t n = 0;
    for (int y = 0; y < kB; ++y) {
        for (int x = 0; x < kB; ++x) {
            const float v = samples[y * kB + x];
            if (x + 1 < kB) differences[n++] = std::fabs(samples[y * kB + x + 1] - v);
            if (y + 1 < kB) differences[n++] = std::fabs(samples[(y + 1) * kB + x] - v);
        }
    }
    const size_t half = differences.size() / 2;
    std::nth_element(differences.begin(), differences.begin() + half, differences.end());
    double quieter = 0;
    for (size_t i = 0; i < half; ++i) quieter += differences[i];
    const double robust = kRobustRoom * quieter / half / kQuieterHalfDifference;
    variance = std::min(variance, robust * robust);
    fine = std::min(fine, kFineAtCap * robust);
    return BlockReading{static_cast<float>(variance), static_cast<float>(fine)};
}

bool looks_like_noise(const float* samples) {
    std::array<double, kN> r;
    const double energy = cubic_residual(samples, r.data());
    if (energy / kResidualFreedom <= kFlat) return true;
    if (has_period_or_direction(r, energy)) return false;
    std::array<double, kN> sorted = r;
    std::sort(sorted.begin(), sorted.end());
    if (within_groups(sorted, 1) < kResidualTwoGroups) return false;
    for (int i = 0; i < kN; ++i) sorted[i] = samples[i];
    std::sort(sorted.begin(), sorted.end());
    return within_groups(sorted, 1) >= kLevelsTwoGroups && within_groups(sorted, 2) >= kLevelsThreeGroups;
}

}  // namespace zeverive::luma
