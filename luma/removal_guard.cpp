#include "luma/removal_guard.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace zeverive::luma {
namespace {

constexpr int kR = kGuardRegion;
// Whatever the level, a change of one code here and there is rounding.
constexpr double kLeastLimit = 1.0;
// Below this spread (codes) a region's change is too small to carry a
// pattern worth a decision.
constexpr double kLeastPatterned = 1.0;

struct RegionSums {
    int64_t count = 0;
    double sum = 0;
    double squares = 0;
    // Products at lags 1, 2 and 4, along rows and along columns, and how
    // many of each.
    double along[2][3] = {};
    int64_t pairs[2][3] = {};
};

constexpr int kLags[3] = {1, 2, 4};
// A change is read as at most this many units of at least a sixteenth of
// a code (128 codes): a region's 256 products still sum within 32 bits.
constexpr int32_t kLargestChange = 2047;

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

template <typename Sample>
int guard(const Sample* before, ptrdiff_t before_step, Sample* after, ptrdiff_t after_step, int width, int height,
          double units_per_code, double sigma) {
    if (width <= 0 || height <= 0) return 0;
    const int across = (width + kR - 1) / kR;
    const int down = (height + kR - 1) / kR;
    std::vector<RegionSums> sums(static_cast<size_t>(across) * down);
    // Samples finer than a sixteenth of a code are read in sixteenths (14
    // and 16 bits), and a change is held within kLargestChange of them: a
    // region's sums of products then fit 32 bits.
    int shift = 0;
    while ((units_per_code / (1 << shift)) > 16) ++shift;
    // One band of kR rows of the change at a time, each row followed by
    // zeros for the lags that reach past the frame's edge.
    const int stride = width + kLags[2];
    std::vector<int16_t> band(static_cast<size_t>(kR) * stride, 0);
    bool changed = false;
    for (int ry = 0; ry < down; ++ry) {
        const int rows = std::min(kR, height - ry * kR);
        for (int y = 0; y < rows; ++y) {
            const size_t row = static_cast<size_t>(ry * kR + y) * width;
            int16_t* out = band.data() + static_cast<size_t>(y) * stride;
            int32_t any = 0;
            if (before_step == 1 && after_step == 1) {
                // The planes of files: contiguous, which the compiler widens.
                const Sample* b = before + row;
                const Sample* a = after + row;
                for (int x = 0; x < width; ++x) {
                    const int32_t d = static_cast<int32_t>(b[x]) - static_cast<int32_t>(a[x]);
                    out[x] = static_cast<int16_t>(std::clamp(d >> shift, -kLargestChange, kLargestChange));
                    any |= d;
                }
            } else {
                for (int x = 0; x < width; ++x) {
                    const int32_t d = static_cast<int32_t>(before[(row + x) * before_step]) -
                                      static_cast<int32_t>(after[(row + x) * after_step]);
                    out[x] = static_cast<int16_t>(std::clamp(d >> shift, -kLargestChange, kLargestChange));
                    any |= d;
                }
            }
            changed |= any != 0;
        }
        for (int rx = 0; rx < across; ++rx) {
            RegionSums& s = sums[static_cast<size_t>(ry) * across + rx];
            const int x0 = rx * kR;
            const int count = std::min(kR, width - x0);
            // Products of 16-bit values summed in 32 bits: the dot products
            // the compiler widens best.
            int32_t sum = 0, squares = 0, along[3] = {}, down_column[3] = {};
            for (int y = 0; y < rows; ++y) {
                const int16_t* d = band.data() + static_cast<size_t>(y) * stride + x0;
                for (int x = 0; x < count; ++x) {
                    sum += d[x];
                    squares += d[x] * d[x];
                }
                // The correlations from every other row are plenty.
                if (y % 2) continue;
                for (int k = 0; k < 3; ++k) {
                    const int16_t* right = d + kLags[k];
                    int32_t products = 0;
                    for (int x = 0; x < count; ++x) products += d[x] * right[x];
                    along[k] += products;
                    if (y + kLags[k] >= rows) continue;
                    const int16_t* below = d + static_cast<size_t>(kLags[k]) * stride;
                    products = 0;
                    for (int x = 0; x < count; ++x) products += d[x] * below[x];
                    down_column[k] += products;
                }
            }
            s.count = static_cast<int64_t>(rows) * count;
            s.sum = sum;
            s.squares = squares;
            for (int k = 0; k < 3; ++k) {
                s.along[0][k] = along[k];
                const int64_t even_rows = (rows + 1) / 2;
                s.pairs[0][k] = even_rows * std::max(0, std::min(count, width - kLags[k] - x0));
                s.along[1][k] = down_column[k];
                s.pairs[1][k] = static_cast<int64_t>((std::max(0, rows - kLags[k]) + 1) / 2) * count;
            }
        }
    }
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
                 int height, double units_per_code, double sigma) {
    return guard(before, before_step, after, after_step, width, height, units_per_code, sigma);
}

}  // namespace zeverive::luma
