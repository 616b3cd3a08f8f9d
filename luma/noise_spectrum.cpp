#include "luma/noise_spectrum.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "common/size_class.h"

namespace zeverive::luma {
namespace {

// The Daubechies-4 filters as exact numbers: (1 + sqrt 3) / (4 sqrt 2) ...
struct Filters {
    double low[4];
    double high[4];
};

Filters make_filters() {
    const double s3 = std::sqrt(3.0);
    const double scale = 4 * std::sqrt(2.0);
    Filters f{{(1 + s3) / scale, (3 + s3) / scale, (3 - s3) / scale, (1 - s3) / scale}, {}};
    for (int k = 0; k < 4; ++k) f.high[k] = (k % 2 ? -1 : 1) * f.low[3 - k];
    return f;
}

// The detail filter of `level` (1 the finest) as one filter on the line:
// the low-pass of every level above it, spread out, then its high-pass.
std::vector<double> detail_filter(int level) {
    static const Filters filters = make_filters();
    std::vector<double> filter{1.0};
    for (int l = 1; l <= level; ++l) {
        const int spread = 1 << (l - 1);
        const double* taps = l == level ? filters.high : filters.low;
        std::vector<double> next(filter.size() + 3 * static_cast<size_t>(spread), 0.0);
        for (size_t i = 0; i < filter.size(); ++i)
            for (int t = 0; t < 4; ++t) next[i + static_cast<size_t>(t * spread)] += filter[i] * taps[t];
        filter = next;
    }
    return filter;
}

// A correlation read from few blocks need not belong to any noise: the
// variance it gives a filter may come out near nothing or below. No band
// or coefficient is taken to hold less than this share of the noise's
// variance (a 3x3 box blur leaves the finest band a quarter).
constexpr double kLeastShare = 0.05;

// sum_d c(|d|) sum_n f(n) f(n + d), |d| < kCorrelationLags, for a filter
// of unit energy.
template <typename Filter>
double variance_through(const Filter& filter, size_t length, const Correlation& along) {
    double variance = 0;
    for (int d = -(kCorrelationLags - 1); d < kCorrelationLags; ++d) {
        double sum = 0;
        for (size_t n = 0; n < length; ++n) {
            const long m = static_cast<long>(n) + d;
            if (m >= 0 && m < static_cast<long>(length)) sum += filter[n] * filter[static_cast<size_t>(m)];
        }
        variance += along.at[static_cast<size_t>(std::abs(d))] * sum;
    }
    return std::max(variance, kLeastShare);
}

}  // namespace

std::array<double, kShrinkSliderCount> band_deviations(const Correlation& along, int line_length) {
    const int levels = line_length > kSmallLineLength ? kBandCount : kBandCount - 1;
    std::array<double, kShrinkSliderCount> result{};
    // Threshold k governs the band of level `levels - k`, finest at level 1.
    for (int k = 0; k < kShrinkSliderCount; ++k) {
        const int level = std::max(levels - k, 1);
        const std::vector<double> filter = detail_filter(level);
        result[static_cast<size_t>(k)] = std::sqrt(variance_through(filter, filter.size(), along));
    }
    return result;
}

std::array<double, kShrinkSliderCount> band_deviations(const Correlation& rows, const Correlation& columns, int width,
                                                      int height) {
    const std::array<double, kShrinkSliderCount> along_rows = band_deviations(rows, width);
    const std::array<double, kShrinkSliderCount> along_columns = band_deviations(columns, height);
    std::array<double, kShrinkSliderCount> result{};
    for (size_t k = 0; k < result.size(); ++k) result[k] = (along_rows[k] + along_columns[k]) / 2;
    return result;
}

BlockNoise block_noise(const Correlation& rows, const Correlation& columns, double deviation) {
    std::array<double, kBlockSide> vertical{};
    std::array<double, kBlockSide> horizontal{};
    for (int k = 0; k < kBlockSide; ++k) {
        const std::array<float, kBlockSide> basis = dct_basis(k);
        vertical[static_cast<size_t>(k)] = variance_through(basis, basis.size(), columns);
        horizontal[static_cast<size_t>(k)] = variance_through(basis, basis.size(), rows);
    }
    BlockNoise noise;
    for (int k = 0; k < kBlockSide; ++k)
        for (int l = 0; l < kBlockSide; ++l)
            noise[static_cast<size_t>(k * kBlockSide + l)] = static_cast<float>(
                deviation * deviation * vertical[static_cast<size_t>(k)] * horizontal[static_cast<size_t>(l)]);
    return noise;
}

}  // namespace zeverive::luma
