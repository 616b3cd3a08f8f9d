#include "luma/noise_profile.h"

#include <algorithm>
#include <cmath>

namespace zeverive::luma {
namespace {

constexpr int kSide = kFlatBlockSide;
constexpr double kVideoBlack = 16;
constexpr double kVideoWhite = 236;  // the bins end just above 235
constexpr double kBinWidth = (kVideoWhite - kVideoBlack) / kBrightnessBins;
// Fewer blocks than this leave a bin's reading to chance; and a bin with
// few of the frame's blocks holds the few flat places of a brightness the
// picture shows mostly in texture, which its quietest blocks still show
// (a rocket's dark body read 8.2 codes where the noise had 3.7).
constexpr size_t kBinBlocks = 30;
constexpr double kBinShare = 0.02;
// The lower fifth of a chi-squared variable with 54 degrees of freedom
// (an 8x8 block less its 10-term surface), over 54: what the quietest fifth
// of pure-noise blocks reads as a share of the noise's variance.
constexpr double kLowerFifth = 0.8355;
// Lines for the correlation: 16 samples across two neighbouring blocks
// that are not far noisier than their bin's noise, beside two neighbours
// (above a pair side by side, left of a pair one above the other) no
// noisier than it. Choosing blocks by their own spread would choose their
// noise too: blocks that a smooth surface fits well hold noise that looks
// alike from row to row, and noise correlated along rows read as
// correlated along columns as well (0.24 at distance 1 where there is
// none). Letting in neighbours up to 1.6 times (as the estimate's spread
// does) let the fine texture of photographs read as correlation of white
// noise. Lines of 8 would do: a parabola takes 3 of their 8 samples, and
// undoing that multiplied the reading's error by up to 80; over 16 by 3.
constexpr int kLine = 2 * kSide;
constexpr double kQuietNeighbour = 1.0;
constexpr double kPlausibleBlock = 2.0;
// Fewer pairs than this read the correlation too loosely to use: the noise
// counts as white.
constexpr size_t kCorrelationMinPairs = 64;

int bin_of(double brightness) {
    const int bin = static_cast<int>(std::floor((brightness - kVideoBlack) / kBinWidth));
    return std::clamp(bin, 0, kBrightnessBins - 1);
}

// The lower fifth of `spreads` (reordered) over what pure noise reads there.
double quiet_variance(std::vector<float>& spreads) {
    if (spreads.size() < kBinBlocks) return 0.0;
    const auto fifth = spreads.begin() + static_cast<std::ptrdiff_t>(spreads.size() / 5);
    std::nth_element(spreads.begin(), fifth, spreads.end());
    return *fifth / kLowerFifth;
}

// Lines of 16 less their best fitting parabola: the projection that takes
// the parabola out, and what it does to noise of each correlation. Entry
// [d][k] of `effect` is the mean product of detrended samples d apart
// when the noise has unit correlation at distance k and none elsewhere;
// `undo` is its inverse.
struct Detrend {
    double keep[kLine][kLine];
    double undo[kCorrelationLags][kCorrelationLags];
};

Detrend make_detrend() {
    Detrend d{};
    double basis[3][kLine];
    for (int i = 0; i < kLine; ++i) {
        const double x = i - (kLine - 1) / 2.0;
        basis[0][i] = 1.0;
        basis[1][i] = x;
        basis[2][i] = x * x - (kLine * kLine - 1) / 12.0;  // less the mean of x^2, so the three are orthogonal
    }
    for (auto& b : basis) {
        double norm = 0;
        for (double v : b) norm += v * v;
        for (double& v : b) v /= std::sqrt(norm);
    }
    for (int i = 0; i < kLine; ++i) {
        for (int j = 0; j < kLine; ++j) {
            d.keep[i][j] = i == j ? 1.0 : 0.0;
            for (const auto& b : basis) d.keep[i][j] -= b[i] * b[j];
        }
    }
    // effect[d][k] = mean over i of (K T_k K)[i][i + d], K = keep, T_k the
    // pairs k apart.
    double effect[kCorrelationLags][2 * kCorrelationLags] = {};
    for (int k = 0; k < kCorrelationLags; ++k) {
        double kt[kLine][kLine] = {};  // K T_k
        for (int i = 0; i < kLine; ++i)
            for (int j = 0; j < kLine; ++j)
                if (std::abs(i - j) == k) {
                    for (int r = 0; r < kLine; ++r) kt[r][j] += d.keep[r][i];
                }
        for (int lag = 0; lag < kCorrelationLags; ++lag) {
            double sum = 0;
            for (int i = 0; i + lag < kLine; ++i)
                for (int m = 0; m < kLine; ++m) sum += kt[i][m] * d.keep[m][i + lag];
            effect[lag][k] = sum / (kLine - lag);
        }
    }
    // Invert by Gauss-Jordan elimination with partial pivoting.
    for (int r = 0; r < kCorrelationLags; ++r) effect[r][kCorrelationLags + r] = 1.0;
    for (int c = 0; c < kCorrelationLags; ++c) {
        int pivot = c;
        for (int r = c + 1; r < kCorrelationLags; ++r)
            if (std::fabs(effect[r][c]) > std::fabs(effect[pivot][c])) pivot = r;
        for (int k = 0; k < 2 * kCorrelationLags; ++k) std::swap(effect[c][k], effect[pivot][k]);
        const double lead = effect[c][c];
        for (int k = 0; k < 2 * kCorrelationLags; ++k) effect[c][k] /= lead;
        for (int r = 0; r < kCorrelationLags; ++r) {
            if (r == c) continue;
            const double factor = effect[r][c];
            for (int k = 0; k < 2 * kCorrelationLags; ++k) effect[r][k] -= factor * effect[c][k];
        }
    }
    for (int r = 0; r < kCorrelationLags; ++r)
        for (int c = 0; c < kCorrelationLags; ++c) d.undo[r][c] = effect[r][kCorrelationLags + c];
    return d;
}

const Detrend kDetrend = make_detrend();

// Adds the products of the detrended line's samples 0..3 apart.
void add_products(const float* line, int step, std::array<double, kCorrelationLags>& products) {
    double residual[kLine];
    for (int i = 0; i < kLine; ++i) {
        residual[i] = 0;
        for (int j = 0; j < kLine; ++j) residual[i] += kDetrend.keep[i][j] * line[j * step];
    }
    for (int lag = 0; lag < kCorrelationLags; ++lag)
        for (int i = 0; i + lag < kLine; ++i) products[lag] += residual[i] * residual[i + lag];
}

Correlation correlation_of(const std::array<double, kCorrelationLags>& products, size_t pairs) {
    Correlation result;
    if (pairs < kCorrelationMinPairs) return result;
    double means[kCorrelationLags];
    for (int lag = 0; lag < kCorrelationLags; ++lag)
        means[lag] = products[lag] / (static_cast<double>(pairs) * kSide * (kLine - lag));
    double covariance[kCorrelationLags] = {};
    for (int k = 0; k < kCorrelationLags; ++k)
        for (int lag = 0; lag < kCorrelationLags; ++lag) covariance[k] += kDetrend.undo[k][lag] * means[lag];
    if (covariance[0] <= 0) return result;
    for (int k = 1; k < kCorrelationLags; ++k) result.at[k] = std::clamp(covariance[k] / covariance[0], -1.0, 1.0);
    return result;
}

}  // namespace

double NoiseLevelFunction::variance(double code) const {
    return slope * std::clamp(code, darkest, brightest) + offset;
}

void NoiseProfile::read_frame(const FlatBlock* blocks, size_t count) {
    // This frame's noise per bin decides which blocks count as flat for the
    // correlation; the frame's samples are gone afterwards.
    std::array<std::vector<float>, kBrightnessBins> frame_spreads;
    std::vector<int> frame_bins(count);
    for (size_t b = 0; b < count; ++b) {
        double sum = 0;
        for (int y = 0; y < kSide; ++y)
            for (int x = 0; x < kSide; ++x) sum += blocks[b].samples[y * blocks[b].stride + x];
        const double brightness = sum / (kSide * kSide);
        brightness_.push_back(static_cast<uint8_t>(std::clamp(std::lround(brightness), 0L, 255L)));
        spreads_.push_back(blocks[b].spread);
        frame_bins[b] = bin_of(brightness);
        frame_spreads[static_cast<size_t>(frame_bins[b])].push_back(blocks[b].spread);
    }
    std::vector<float> all_spreads;
    for (const auto& spreads : frame_spreads) all_spreads.insert(all_spreads.end(), spreads.begin(), spreads.end());
    const double frame_noise = quiet_variance(all_spreads);
    std::array<double, kBrightnessBins> bin_noise;
    for (size_t bin = 0; bin < kBrightnessBins; ++bin) {
        const double noise = quiet_variance(frame_spreads[bin]);
        bin_noise[bin] = noise > 0 ? noise : frame_noise;
    }
    // Each block's place: quiet, plausible, or neither (or not there).
    enum Kind : uint8_t { kAbsent, kNoisy, kPlausible, kQuiet };
    int rows = 0, columns = 0;
    for (size_t b = 0; b < count; ++b) {
        rows = std::max(rows, blocks[b].row + 1);
        columns = std::max(columns, blocks[b].column + 1);
    }
    std::vector<Kind> kinds(static_cast<size_t>(rows) * static_cast<size_t>(columns), kAbsent);
    std::vector<const FlatBlock*> placed(kinds.size(), nullptr);
    for (size_t b = 0; b < count; ++b) {
        const double noise = bin_noise[static_cast<size_t>(frame_bins[b])];
        const size_t at = static_cast<size_t>(blocks[b].row) * columns + blocks[b].column;
        placed[at] = &blocks[b];
        kinds[at] = noise <= 0                                    ? kNoisy
                    : blocks[b].spread <= kQuietNeighbour * noise ? kQuiet
                    : blocks[b].spread <= kPlausibleBlock * noise ? kPlausible
                                                                  : kNoisy;
    }
    auto kind_at = [&](int row, int column) {
        if (row < 0 || column < 0 || row >= rows || column >= columns) return kAbsent;
        return kinds[static_cast<size_t>(row) * columns + column];
    };
    auto plausible = [&](int row, int column) { return kind_at(row, column) >= kPlausible; };
    auto quiet = [&](int row, int column) { return kind_at(row, column) == kQuiet; };
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column) {
            if (!plausible(row, column)) continue;
            const FlatBlock& block = *placed[static_cast<size_t>(row) * columns + column];
            if (plausible(row, column + 1) && quiet(row - 1, column) && quiet(row - 1, column + 1)) {
                for (int i = 0; i < kSide; ++i) add_products(block.samples + i * block.stride, 1, row_products_);
                ++row_pairs_;
            }
            if (plausible(row + 1, column) && quiet(row, column - 1) && quiet(row + 1, column - 1)) {
                for (int i = 0; i < kSide; ++i) add_products(block.samples + i, block.stride, column_products_);
                ++column_pairs_;
            }
        }
    }
}

std::array<BrightnessBin, kBrightnessBins> NoiseProfile::bins() const {
    std::array<std::vector<float>, kBrightnessBins> spreads;
    for (size_t i = 0; i < spreads_.size(); ++i) spreads[static_cast<size_t>(bin_of(brightness_[i]))].push_back(spreads_[i]);
    std::array<BrightnessBin, kBrightnessBins> result;
    for (size_t bin = 0; bin < kBrightnessBins; ++bin) {
        result[bin].brightness = kVideoBlack + (static_cast<double>(bin) + 0.5) * kBinWidth;
        result[bin].blocks = spreads[bin].size();
        const bool enough = static_cast<double>(spreads[bin].size()) >= kBinShare * static_cast<double>(spreads_.size());
        result[bin].variance = enough ? quiet_variance(spreads[bin]) : 0.0;
    }
    return result;
}

std::optional<NoiseLevelFunction> NoiseProfile::rising_level() const {
    // Least squares of variance on brightness, each bin weighted by its
    // blocks over its variance squared: a variance read from n blocks
    // errs in proportion to itself over the root of n.
    double sw = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
    double darkest = kVideoWhite, brightest = kVideoBlack;
    double darkest_variance = 0, brightest_variance = 0;
    int used = 0;
    for (const BrightnessBin& bin : bins()) {
        if (bin.variance <= 0) continue;
        if (used == 0) darkest_variance = bin.variance;
        brightest_variance = bin.variance;
        const double w = static_cast<double>(bin.blocks) / (bin.variance * bin.variance);
        sw += w;
        sx += w * bin.brightness;
        sy += w * bin.variance;
        sxx += w * bin.brightness * bin.brightness;
        sxy += w * bin.brightness * bin.variance;
        darkest = std::min(darkest, bin.brightness);
        brightest = std::max(brightest, bin.brightness);
        ++used;
    }
    if (used < 2) return std::nullopt;
    const double determinant = sw * sxx - sx * sx;
    if (determinant <= 0) return std::nullopt;
    NoiseLevelFunction level;
    level.slope = (sw * sxy - sx * sy) / determinant;
    level.offset = (sy - level.slope * sx) / sw;
    level.darkest = darkest;
    level.brightest = brightest;
    // Both the line and the outermost bins themselves must rise: texture
    // in the mid-tones can tilt the line where the ends agree.
    const double dark = level.variance(darkest);
    const double least_rise = kRisingRatio * kRisingRatio;
    if (level.slope <= 0 || dark <= 0 || level.variance(brightest) < least_rise * dark) return std::nullopt;
    if (brightest_variance < least_rise * darkest_variance) return std::nullopt;
    return level;
}

void NoiseProfile::merge(const NoiseProfile& other) {
    brightness_.insert(brightness_.end(), other.brightness_.begin(), other.brightness_.end());
    spreads_.insert(spreads_.end(), other.spreads_.begin(), other.spreads_.end());
    for (int lag = 0; lag < kCorrelationLags; ++lag) {
        row_products_[static_cast<size_t>(lag)] += other.row_products_[static_cast<size_t>(lag)];
        column_products_[static_cast<size_t>(lag)] += other.column_products_[static_cast<size_t>(lag)];
    }
    row_pairs_ += other.row_pairs_;
    column_pairs_ += other.column_pairs_;
}

Correlation NoiseProfile::along_rows() const {
    return correlation_of(row_products_, row_pairs_);
}

Correlation NoiseProfile::along_columns() const {
    return correlation_of(column_products_, column_pairs_);
}

}  // namespace zeverive::luma
