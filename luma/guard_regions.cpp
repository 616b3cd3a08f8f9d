#include "luma/guard_regions.h"

#include <algorithm>

#include "kernels/avx2_target.h"

namespace zeverive::luma {
namespace {

constexpr int kR = kGuardRegion;
// A change is read as at most this many units of at least a sixteenth of
// a code (128 codes): a region's 256 products still sum within 32 bits.
constexpr int32_t kLargestChange = 2047;

// Steps from one sample to the next, known to the compiler ...
template <ptrdiff_t kBefore, ptrdiff_t kAfter>
struct FixedSteps {
    static constexpr ptrdiff_t before = kBefore;
    static constexpr ptrdiff_t after = kAfter;
};
// ... or not.
struct GivenSteps {
    ptrdiff_t before;
    ptrdiff_t after;
};

// One row of the change, clipped; whether any sample changed at all.
template <typename Steps, typename Sample>
ZEVERIVE_KERNEL_BODY int32_t change_row(const Sample* before, const Sample* after, Steps steps, int width, int shift,
                                        int16_t* out) {
    int32_t any = 0;
    for (int x = 0; x < width; ++x) {
        const int32_t d = static_cast<int32_t>(before[x * steps.before]) - static_cast<int32_t>(after[x * steps.after]);
        out[x] = static_cast<int16_t>(std::clamp(d >> shift, -kLargestChange, kLargestChange));
        any |= d;
    }
    return any;
}

// One band of kR rows of the change at a time in `band` (kR rows of
// width + 4, the last four zero for the lags that reach past the frame's
// edge), then its regions' sums.
template <typename Sample>
ZEVERIVE_KERNEL_BODY bool read_regions_body(const Sample* before, ptrdiff_t before_step, const Sample* after,
                                            ptrdiff_t after_step, int width, int height, int shift, int16_t* band,
                                            RegionSums* sums) {
    const int across = regions_across(width);
    const int down = regions_down(height);
    const int stride = width + kGuardLags[2];
    bool changed = false;
    for (int ry = 0; ry < down; ++ry) {
        const int rows = std::min(kR, height - ry * kR);
        for (int y = 0; y < rows; ++y) {
            int16_t* out = band + static_cast<size_t>(y) * stride;
            const size_t first = static_cast<size_t>(ry * kR + y) * width;
            // The layouts the guard is given, with their steps known to the
            // compiler: planes of files, and a plane against host pixels'
            // Y (every third sample) or host pixels against host pixels.
            int32_t any;
            const Sample* b = before + first * before_step;
            const Sample* a = after + first * after_step;
            if (before_step == 1 && after_step == 1) {
                any = change_row(b, a, FixedSteps<1, 1>{}, width, shift, out);
            } else if (before_step == 1 && after_step == 3) {
                any = change_row(b, a, FixedSteps<1, 3>{}, width, shift, out);
            } else if (before_step == 3 && after_step == 3) {
                any = change_row(b, a, FixedSteps<3, 3>{}, width, shift, out);
            } else {
                any = change_row(b, a, GivenSteps{before_step, after_step}, width, shift, out);
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
                const int16_t* d = band + static_cast<size_t>(y) * stride + x0;
                for (int x = 0; x < count; ++x) {
                    sum += d[x];
                    squares += d[x] * d[x];
                }
                // The correlations from every other row are plenty.
                if (y % 2) continue;
                for (int k = 0; k < 3; ++k) {
                    const int16_t* right = d + kGuardLags[k];
                    int32_t products = 0;
                    for (int x = 0; x < count; ++x) products += d[x] * right[x];
                    along[k] += products;
                    if (y + kGuardLags[k] >= rows) continue;
                    const int16_t* below = d + static_cast<size_t>(kGuardLags[k]) * stride;
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
                s.pairs[0][k] = even_rows * std::max(0, std::min(count, width - kGuardLags[k] - x0));
                s.along[1][k] = down_column[k];
                s.pairs[1][k] = static_cast<int64_t>((std::max(0, rows - kGuardLags[k]) + 1) / 2) * count;
            }
        }
    }
    return changed;
}

// The band, zeroed (its last four samples a row stay so), and the sums,
// one per region.
std::vector<int16_t> band_for(int width, int height, std::vector<RegionSums>& sums) {
    sums.assign(static_cast<size_t>(regions_across(width)) * regions_down(height), RegionSums{});
    return std::vector<int16_t>(static_cast<size_t>(kR) * (width + kGuardLags[2]), 0);
}

}  // namespace

bool read_regions(const uint8_t* before, const uint8_t* after, int width, int height, int shift,
                  std::vector<RegionSums>& sums) {
    std::vector<int16_t> band = band_for(width, height, sums);
    return read_regions_body(before, 1, after, 1, width, height, shift, band.data(), sums.data());
}

bool read_regions(const uint16_t* before, const uint16_t* after, int width, int height, int shift,
                  std::vector<RegionSums>& sums) {
    std::vector<int16_t> band = band_for(width, height, sums);
    return read_regions_body(before, 1, after, 1, width, height, shift, band.data(), sums.data());
}

bool read_regions(const int16_t* before, ptrdiff_t before_step, const int16_t* after, ptrdiff_t after_step,
                  int width, int height, int shift, std::vector<RegionSums>& sums) {
    std::vector<int16_t> band = band_for(width, height, sums);
    return read_regions_body(before, before_step, after, after_step, width, height, shift, band.data(),
                             sums.data());
}

#if defined(__x86_64__)

ZEVERIVE_TARGET_AVX2 bool read_regions_avx2(const uint8_t* before, const uint8_t* after, int width, int height,
                                            int shift, std::vector<RegionSums>& sums) {
    std::vector<int16_t> band = band_for(width, height, sums);
    return read_regions_body(before, 1, after, 1, width, height, shift, band.data(), sums.data());
}

ZEVERIVE_TARGET_AVX2 bool read_regions_avx2(const uint16_t* before, const uint16_t* after, int width, int height,
                                            int shift, std::vector<RegionSums>& sums) {
    std::vector<int16_t> band = band_for(width, height, sums);
    return read_regions_body(before, 1, after, 1, width, height, shift, band.data(), sums.data());
}

ZEVERIVE_TARGET_AVX2 bool read_regions_avx2(const int16_t* before, ptrdiff_t before_step, const int16_t* after,
                                            ptrdiff_t after_step, int width, int height, int shift,
                                            std::vector<RegionSums>& sums) {
    std::vector<int16_t> band = band_for(width, height, sums);
    return read_regions_body(before, before_step, after, after_step, width, height, shift, band.data(),
                             sums.data());
}

#endif

}  // namespace zeverive::luma
