#include "luma/removal_guard.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "luma/guard_regions.h"
#include "luma/levels_avx2.h"
#include "luma/shared_work.h"

namespace zeverive::luma {
namespace {

constexpr int kR = kGuardRegion;
// Whatever the level, a change of one code here and there is rounding.
constexpr double kLeastLimit = 1.0;
// Below this spread (codes) a region's change is too small to carry a
// pattern worth a decision.
constexpr double kLeastPatterned = 1.0;

bool periodic(const RegionSums& s) {
    const double mean = s.sum / static_cast<double>(s.count);
    const double variance = s.squares / static_cast<double>(s.count) - mean * mean;
    if (variance <= 0) return false;
    for (int axis = 0; axis < 2; ++axis) {
        double rho[3];
        for (int k = 0; k < 3; ++k) {
            rho[k] = s.pairs[axis][k] ? (s.along[axis][k] / static_cast<double>(s.pairs[axis][k]) - mean * mean) / variance
                                       : 0.0;
        }
        // A period of two samples (a checkerboard, 1-pixel stripes): every
        // other sample alike, neighbours opposite. Of four (2-pixel
        // stripes): opposite at two. A smooth change, alike at every lag,
        // is not a period.
        if ((rho[1] > kMostPeriodic && rho[0] < 0) || rho[1] < -kMostPeriodic ||
            (rho[2] > kMostPeriodic && rho[1] < 0))
            return true;
    }
    return false;
}

// The regions' sums, by the AVX2 loops where they run.
bool read_changes(const uint8_t* before, ptrdiff_t, const uint8_t* after, ptrdiff_t, int width, int height, int shift,
                  std::vector<RegionSums>& sums) {
#if defined(__x86_64__)
    if (wide_loops_run()) return read_regions_avx2(before, after, width, height, shift, sums);
#endif
    return read_regions(before, after, width, height, shift, sums);
}

bool read_changes(const uint16_t* before, ptrdiff_t, const uint16_t* after, ptrdiff_t, int width, int height,
                  int shift, std::vector<RegionSums>& sums) {
#if defined(__x86_64__)
    if (wide_loops_run()) return read_regions_avx2(before, after, width, height, shift, sums);
#endif
    return read_regions(before, after, width, height, shift, sums);
}

bool read_changes(const int16_t* before, ptrdiff_t before_step, const int16_t* after, ptrdiff_t after_step,
                  int width, int height, int shift, std::vector<RegionSums>& sums) {
#if defined(__x86_64__)
    if (wide_loops_run()) return read_regions_avx2(before, before_step, after, after_step, width, height, shift, sums);
#endif
    return read_regions(before, before_step, after, after_step, width, height, shift, sums);
}

// The sums of every region, the rows of regions shared among `lanes`
// threads: each reads a strip of whole regions on its own, and the strips'
// sums follow each other as the whole plane's would.
template <typename Sample>
bool read_strips(const Sample* before, ptrdiff_t before_step, const Sample* after, ptrdiff_t after_step, int width,
                 int height, int shift, int lanes, std::vector<RegionSums>& sums) {
    const size_t down = static_cast<size_t>(regions_down(height));
    std::vector<std::vector<RegionSums>> strips(static_cast<size_t>(std::max(lanes, 1)));
    std::vector<char> changed(strips.size(), 0);
    share_work(lanes, down, 1, [&](size_t part, size_t from, size_t to) {
        const int first = static_cast<int>(from) * kR;
        const int rows = std::min(height, static_cast<int>(to) * kR) - first;
        const size_t offset = static_cast<size_t>(first) * width;
        changed[part] = read_changes(before + offset * before_step, before_step, after + offset * after_step,
                                     after_step, width, rows, shift, strips[part]);
    });
    sums = std::move(strips[0]);
    for (size_t i = 1; i < strips.size(); ++i) sums.insert(sums.end(), strips[i].begin(), strips[i].end());
    return std::find(changed.begin(), changed.end(), 1) != changed.end();
}

template <typename Sample>
int guard(const Sample* before, ptrdiff_t before_step, Sample* after, ptrdiff_t after_step, int width, int height,
          double units_per_code, double sigma, int lanes = 1) {
    if (width <= 0 || height <= 0) return 0;
    const int across = regions_across(width);
    const int down = regions_down(height);
    // Samples finer than a sixteenth of a code are read in sixteenths (14
    // and 16 bits), and a change is held within 128 codes of them: a
    // region's sums of products then fit 32 bits.
    int shift = 0;
    while ((units_per_code / (1 << shift)) > 16) ++shift;
    std::vector<RegionSums> sums;
    const bool changed = read_strips(before, before_step, after, after_step, width, height, shift, lanes, sums);
    if (!changed) return 0;

    const double unit = units_per_code / (1 << shift);
    const double limit = std::max(kMostRemoved * sigma, kLeastLimit) * unit;
    std::vector<double> share(sums.size(), 1.0);
    int backed_off = 0;
    for (size_t i = 0; i < sums.size(); ++i) {
        const RegionSums& s = sums[i];
        const double spread = std::sqrt(s.squares / static_cast<double>(s.count));
        if (spread > limit) share[i] = limit / spread;
        if (spread > kLeastPatterned * unit && periodic(s)) share[i] = 0;
        backed_off += share[i] < 1;
    }
    if (backed_off == 0) return 0;

    // The share at a sample, bilinear between region centres, held at the
    // outer centres beyond them.
    auto position = [](int at, int regions, int& lower, double& along) {
        const double centre = (at + 0.5) / kR - 0.5;
        lower = std::clamp(static_cast<int>(std::floor(centre)), 0, std::max(0, regions - 2));
        along = regions > 1 ? std::clamp(centre - lower, 0.0, 1.0) : 0.0;
    };
    for (int y = 0; y < height; ++y) {
        int ry;
        double fy;
        position(y, down, ry, fy);
        const int ry2 = std::min(ry + 1, down - 1);
        for (int x = 0; x < width; ++x) {
            int rx;
            double fx;
            position(x, across, rx, fx);
            const int rx2 = std::min(rx + 1, across - 1);
            const double top = share[static_cast<size_t>(ry) * across + rx] * (1 - fx) +
                               share[static_cast<size_t>(ry) * across + rx2] * fx;
            const double bottom = share[static_cast<size_t>(ry2) * across + rx] * (1 - fx) +
                                  share[static_cast<size_t>(ry2) * across + rx2] * fx;
            const double kept = top * (1 - fy) + bottom * fy;
            if (kept >= 1) continue;
            const size_t i = static_cast<size_t>(y) * width + x;
            const int32_t from = before[i * before_step];
            const int32_t change = static_cast<int32_t>(after[i * after_step]) - from;
            after[i * after_step] = static_cast<Sample>(from + std::lround(kept * change));
        }
    }
    return backed_off;
}

}  // namespace

int guard_change(const uint8_t* before, uint8_t* after, int width, int height, double units_per_code, double sigma) {
    return guard(before, 1, after, 1, width, height, units_per_code, sigma);
}

int guard_change(const uint16_t* before, uint16_t* after, int width, int height, double units_per_code,
                 double sigma) {
    return guard(before, 1, after, 1, width, height, units_per_code, sigma);
}

int guard_change(const int16_t* before, ptrdiff_t before_step, int16_t* after, ptrdiff_t after_step, int width,
                 int height, double units_per_code, double sigma, int lanes) {
    return guard(before, before_step, after, after_step, width, height, units_per_code, sigma, lanes);
}

}  // namespace zeverive::luma
