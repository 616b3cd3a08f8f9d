#include "noise_estimator.h"

#include <algorithm>
#include <cmath>

namespace zeverive::cli {
namespace {

constexpr int kBlock = 8;
// Sum of the squared offsets from a block's centre along one axis, over
// the whole block: 8 * 2 * (0.5^2 + 1.5^2 + 2.5^2 + 3.5^2).
constexpr double kAxisMoment = 336.0;
// A plane takes three of the block's 64 degrees of freedom.
constexpr double kResidualFreedom = kBlock * kBlock - 3;
// The mean of the lowest tenth of a chi-squared variable with 61 degrees
// of freedom, divided by 61: what the quietest tenth of pure-noise blocks
// reads as a share of the noise's variance.
constexpr double kQuietestTenth = 0.7077;
// Pure-noise blocks above twice the variance are rarer than one in a
// million at 61 degrees of freedom; smoothed noise, with fewer effective
// degrees, still falls below it nearly always.
constexpr double kPlausibleSpread = 2.0;
// The mean absolute value of a normal variable over its deviation. (A
// median would step with the codes: the band's values are halves.)
constexpr double kNormalMeanAbs = 0.7979;
// The finest band's reading over the flat-block spread on the training
// clips, median over sigma 3 to 25: white noise, and noise after a 3x3
// box blur.
constexpr double kWhiteShare = 0.85;
constexpr double kSmoothedShare = 0.37;

double mean_variance(const std::vector<float>& sorted, size_t count) {
    double sum = 0;
    for (size_t i = 0; i < count; ++i) sum += sorted[i];
    return count ? sum / static_cast<double>(count) : 0.0;
}

}  // namespace

void NoiseEstimator::add_frame(const float* luma, int width, int height, float lowest, float highest) {
    for (int top = 0; top + kBlock <= height; top += kBlock) {
        for (int left = 0; left + kBlock <= width; left += kBlock) {
            double sum = 0, sum_x = 0, sum_y = 0;
            bool clipped = false;
            for (int y = 0; y < kBlock; ++y) {
                const float* row = luma + static_cast<size_t>(top + y) * static_cast<size_t>(width) + left;
                for (int x = 0; x < kBlock; ++x) {
                    const double value = row[x];
                    clipped |= row[x] <= lowest || row[x] >= highest;
                    sum += value;
                    sum_x += (x - 3.5) * value;
                    sum_y += (y - 3.5) * value;
                }
            }
            if (clipped) continue;
            const double mean = sum / (kBlock * kBlock);
            double squares = 0;
            Block block{};
            for (int y = 0; y < kBlock; ++y) {
                const float* row = luma + static_cast<size_t>(top + y) * static_cast<size_t>(width) + left;
                for (int x = 0; x < kBlock; ++x) squares += (row[x] - mean) * (row[x] - mean);
            }
            for (int y = 0; y < kBlock; y += 2) {
                const float* row = luma + static_cast<size_t>(top + y) * static_cast<size_t>(width) + left;
                const float* next = row + width;
                for (int x = 0; x < kBlock; x += 2)
                    block.fine[(y / 2) * 4 + x / 2] = (row[x] - row[x + 1] - next[x] + next[x + 1]) / 2;
            }
            // What the plane explains leaves the residual.
            const double residual = squares - (sum_x * sum_x + sum_y * sum_y) / kAxisMoment;
            block.variance = static_cast<float>(std::max(0.0, residual) / kResidualFreedom);
            blocks_.push_back(block);
        }
    }
}

NoiseEstimate NoiseEstimator::estimate() const {
    NoiseEstimate result;
    if (blocks_.empty()) return result;
    std::vector<float> variances(blocks_.size());
    for (size_t i = 0; i < blocks_.size(); ++i) variances[i] = blocks_[i].variance;
    std::sort(variances.begin(), variances.end());

    const size_t tenth = std::max<size_t>(1, variances.size() / 10);
    double variance = mean_variance(variances, tenth) / kQuietestTenth;
    size_t kept = tenth;
    for (int round = 0; round < 20 && variance > 0; ++round) {
        const auto limit = static_cast<float>(kPlausibleSpread * variance);
        const size_t now_kept = static_cast<size_t>(std::upper_bound(variances.begin(), variances.end(), limit) -
                                                    variances.begin());
        const double now = mean_variance(variances, now_kept);
        const bool settled = now_kept == kept;
        kept = now_kept;
        variance = now;
        if (settled) break;
    }
    result.blocks = kept;
    if (variance <= 0) return result;

    // The quieter half of the plausible blocks.
    const float limit = variances[kept / 2];
    double sum = 0;
    size_t count = 0;
    for (const Block& block : blocks_) {
        if (block.variance > limit) continue;
        for (float value : block.fine) sum += std::fabs(value);
        count += 16;
    }
    const double spread = std::sqrt(variance);
    const double fine = sum / static_cast<double>(count) / kNormalMeanAbs;
    result.fine_share = fine / spread;
    result.smoothing = std::clamp((kWhiteShare - result.fine_share) / (kWhiteShare - kSmoothedShare), 0.0, 1.0);
    result.sigma = (1 - result.smoothing) * fine + result.smoothing * spread;
    return result;
}

}  // namespace zeverive::cli
