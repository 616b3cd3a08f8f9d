#include "luma/noise_estimator.h"

#include <algorithm>
#include <cmath>

namespace zeverive::luma {
namespace {

constexpr int kBlock = kFlatBlockSide;
// A cubic surface (10 terms) takes ten of the block's 64 degrees of
// freedom. A plane would leave the gentle curves and fine waves of real
// pictures in the residual, where they pass for noise.
constexpr int kDegree = 3;
constexpr double kResidualFreedom = kBlock * kBlock - 10;
// The mean of the lowest tenth of a chi-squared variable with 54 degrees
// of freedom, divided by 54: what the quietest tenth of pure-noise blocks
// reads as a share of the noise's variance.
constexpr double kQuietestTenth = 0.6911;
// Pure-noise blocks above 1.6 times the variance are one in 300 at 54
// degrees of freedom; what lies above is mostly texture.
constexpr double kPlausibleSpread = 1.6;
// The mean absolute value of a normal variable over its deviation. (A
// median would step with the codes: the band's values are halves.)
constexpr double kNormalMeanAbs = 0.7979;
// The finest band's reading over the flat-block spread on the training
// clips, median over sigma 3 to 25: white noise, and noise after a 3x3
// box blur.
constexpr double kWhiteShare = 0.90;
constexpr double kSmoothedShare = 0.49;
// What the surface leaves of noise after a 3x3 box blur, as a share of its
// deviation: the fit takes much of its coarse grain. sqrt(tr((I - H) C) /
// 54) for the blurred noise's covariance C and the surface's projection H.
constexpr double kSmoothedSpread = 0.668;

// Polynomials of degree 0 to 3 orthogonal over the offsets -3.5 .. 3.5, and
// their squared norms, so that a product of two of them, degrees adding up
// to at most 3, is one term of the surface.
struct Polynomials {
    double value[kDegree + 1][kBlock];
    double norm[kDegree + 1];
};

Polynomials make_polynomials() {
    Polynomials p{};
    for (int i = 0; i < kBlock; ++i) {
        const double x = i - 3.5;
        // 5.25 and 9.25: the mean of x^2, and sum x^4 / sum x^2, over the offsets.
        const double values[] = {1.0, x, x * x - 5.25, x * x * x - 9.25 * x};
        for (int d = 0; d <= kDegree; ++d) {
            p.value[d][i] = values[d];
            p.norm[d] += values[d] * values[d];
        }
    }
    return p;
}

const Polynomials kPolynomials = make_polynomials();

double mean_variance(const std::vector<float>& sorted, size_t count) {
    double sum = 0;
    for (size_t i = 0; i < count; ++i) sum += sorted[i];
    return count ? sum / static_cast<double>(count) : 0.0;
}

}  // namespace

void NoiseEstimator::add_frame(const float* luma, int width, int height, float lowest, float highest,
                               FlatBlockReader* also) {
    const Polynomials& p = kPolynomials;
    frame_blocks_.clear();
    for (int top = 0; top + kBlock <= height; top += kBlock) {
        for (int left = 0; left + kBlock <= width; left += kBlock) {
            // Projections on x^i y^j per row first, then down the rows.
            double by_row[kBlock][kDegree + 1] = {};
            double squares = 0;
            bool clipped = false;
            for (int y = 0; y < kBlock; ++y) {
                const float* row = luma + static_cast<size_t>(top + y) * static_cast<size_t>(width) + left;
                for (int x = 0; x < kBlock; ++x) {
                    clipped |= row[x] <= lowest || row[x] >= highest;
                    squares += static_cast<double>(row[x]) * row[x];
                    for (int i = 0; i <= kDegree; ++i) by_row[y][i] += row[x] * p.value[i][x];
                }
            }
            if (clipped) continue;
            double explained = 0;
            for (int i = 0; i <= kDegree; ++i) {
                for (int j = 0; i + j <= kDegree; ++j) {
                    double projection = 0;
                    for (int y = 0; y < kBlock; ++y) projection += by_row[y][i] * p.value[j][y];
                    explained += projection * projection / (p.norm[i] * p.norm[j]);
                }
            }
            variances_.push_back(static_cast<float>(std::max(0.0, squares - explained) / kResidualFreedom));
            if (also) {
                frame_blocks_.push_back({luma + static_cast<size_t>(top) * width + left, width, top / kBlock,
                                         left / kBlock, variances_.back()});
            }
            double fine_sum = 0;
            for (int y = 0; y < kBlock; y += 2) {
                const float* row = luma + static_cast<size_t>(top + y) * static_cast<size_t>(width) + left;
                const float* next = row + width;
                for (int x = 0; x < kBlock; x += 2) {
                    const float fine = (row[x] - row[x + 1] - next[x] + next[x + 1]) / 2;
                    fine_sum += std::fabs(fine);
                }
            }
            fine_sums_.push_back(fine_sum);
        }
    }
    if (also) also->read_frame(frame_blocks_.data(), frame_blocks_.size());
}

NoiseEstimate NoiseEstimator::estimate(const std::vector<float>* gains) const {
    NoiseEstimate result;
    if (variances_.empty()) return result;
    std::vector<float> scaled_variances;
    std::vector<double> scaled_fine_sums;
    if (gains) {
        scaled_variances = variances_;
        scaled_fine_sums = fine_sums_;
        for (size_t i = 0; i < scaled_variances.size(); ++i) {
            scaled_variances[i] *= (*gains)[i] * (*gains)[i];
            scaled_fine_sums[i] *= (*gains)[i];
        }
    }
    const std::vector<float>& block_variances = gains ? scaled_variances : variances_;
    const std::vector<double>& block_fine_sums = gains ? scaled_fine_sums : fine_sums_;
    std::vector<float> variances = block_variances;
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
    for (size_t i = 0; i < block_variances.size(); ++i) {
        if (block_variances[i] > limit) continue;
        sum += block_fine_sums[i];
        count += 16;
    }
    const double spread = std::sqrt(variance);
    const double fine = sum / static_cast<double>(count) / kNormalMeanAbs;
    result.fine_share = fine / spread;
    result.smoothing = std::clamp((kWhiteShare - result.fine_share) / (kWhiteShare - kSmoothedShare), 0.0, 1.0);
    result.sigma = (1 - result.smoothing) * fine + result.smoothing * spread / kSmoothedSpread;
    return result;
}

}  // namespace zeverive::luma
