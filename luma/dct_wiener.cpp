#include "luma/dct_wiener.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace zeverive::luma {
namespace {

constexpr int kSide = kBlockSide;
// Blocks start every 3 pixels: each pixel is rebuilt from 7 to 9 blocks.
// Every 4 pixels (4 blocks) costs two thirds as much and gives about
// 0.1 dB less; every 2 pixels twice as much for 0.1 dB more.
constexpr int kStride = 3;
// The mirrored margin: a block may start this far before the first pixel.
constexpr int kMargin = kSide - 1;

// cos(m pi / 16) for m = 0..8; the rest follow by symmetry. Written out so
// that the transform's constants do not depend on a mathematical library.
constexpr double kCosines[9] = {1.0,
                                0.98078528040323044913,
                                0.92387953251128675613,
                                0.83146961230254523708,
                                0.70710678118654752440,
                                0.55557023301960222474,
                                0.38268343236508977173,
                                0.19509032201612826785,
                                0.0};

double cos_sixteenths(int m) {
    m %= 32;
    if (m > 16) m = 32 - m;
    return m <= 8 ? kCosines[m] : -kCosines[16 - m];
}

// The orthonormal DCT-II: coefficient k of samples x[n] is
// sum_n basis[k][n] x[n]; its transpose is the inverse.
struct Dct {
    float basis[kSide][kSide];
};

Dct make_dct() {
    Dct dct{};
    for (int k = 0; k < kSide; ++k) {
        const double scale = k == 0 ? 0.35355339059327376220 : 0.5;  // sqrt(1/8), sqrt(2/8)
        for (int n = 0; n < kSide; ++n) dct.basis[k][n] = static_cast<float>(scale * cos_sixteenths((2 * n + 1) * k));
    }
    return dct;
}

const Dct kDct = make_dct();

// Index `i` of a line of `n` samples mirrored about its first and last
// sample (..., 2, 1, 0, 1, 2, ..., n-1, n-2, ...), for any i.
int mirrored(int i, int n) {
    if (n == 1) return 0;
    const int period = 2 * (n - 1);
    i %= period;
    if (i < 0) i += period;
    return i < n ? i : period - i;
}

// out[i] = sum of factors[t] * in[t][i] over the 8 lines, added in that
// order; added to what out holds when `add` is set. One pass over memory
// for the 8 products.
void weighted_sum(float* __restrict out, const float* const (&in)[kSide], const float (&factors)[kSide], int count,
                  bool add) {
    const float *__restrict in0 = in[0], *__restrict in1 = in[1], *__restrict in2 = in[2], *__restrict in3 = in[3];
    const float *__restrict in4 = in[4], *__restrict in5 = in[5], *__restrict in6 = in[6], *__restrict in7 = in[7];
    for (int i = 0; i < count; ++i) {
        const float sum = factors[0] * in0[i] + factors[1] * in1[i] + factors[2] * in2[i] + factors[3] * in3[i] +
                          factors[4] * in4[i] + factors[5] * in5[i] + factors[6] * in6[i] + factors[7] * in7[i];
        out[i] = add ? out[i] + sum : sum;
    }
}

}  // namespace

std::array<float, kBlockSide> dct_basis(int k) {
    std::array<float, kBlockSide> basis;
    for (int n = 0; n < kSide; ++n) basis[static_cast<size_t>(n)] = kDct.basis[k][n];
    return basis;
}

// Lines are kept in phases: the samples of a padded row at x = i * kStride
// + m form phase m, so the sample at offset j of the block at b (which
// starts at b * kStride) is item b + j / kStride of phase j % kStride. Each
// step is then a loop over every block of a block row at once, over
// neighbouring memory.
void DctWiener::keep_noisy(const YcPixel* frame, int width, int height, int pitch) {
    width_ = width;
    height_ = height;
    pitch_ = pitch;
    keep_luma(frame, noisy_);
}

void DctWiener::keep_luma(const YcPixel* frame, std::vector<int16_t>& luma) const {
    luma.resize(static_cast<size_t>(width_) * static_cast<size_t>(height_));
    for (int y = 0; y < height_; ++y) {
        const YcPixel* row = frame + static_cast<size_t>(y) * static_cast<size_t>(pitch_);
        int16_t* kept = luma.data() + static_cast<size_t>(y) * static_cast<size_t>(width_);
        for (int x = 0; x < width_; ++x) kept[x] = row[x].y;
    }
}

void DctWiener::refine(YcPixel* frame, const BlockNoise& noise) {
    const int width = width_;
    const int height = height_;
    const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
    if (pixels == 0) return;
    keep_luma(frame, pilot_);

    const int padded_width = width + 2 * kMargin;
    const int padded_height = height + 2 * kMargin;
    const int blocks = (padded_width - kSide) / kStride + 1;  // per block row
    const int items = (padded_width + kStride - 1) / kStride;  // per phase
    const size_t line = static_cast<size_t>(kStride) * static_cast<size_t>(items);  // one row in phases
    const size_t coefficients = static_cast<size_t>(blocks);

    rows_.assign(2 * kSide * line, 0.0f);
    noisy_columns_.assign(kSide * line, 0.0f);
    pilot_columns_.assign(kSide * line, 0.0f);
    estimate_columns_.resize(kSide * line);
    column_weights_.resize(line);
    noisy_blocks_.resize(kBlockCoefficients * coefficients);
    pilot_blocks_.resize(kBlockCoefficients * coefficients);
    passed_.resize(coefficients);
    samples_.resize(kSide * coefficients);
    sums_.assign(kSide * line, 0.0f);
    weights_.assign(kSide * line, 0.0f);

    // A block that lets no noise through (a pilot of zeros) still counts
    // as letting through the least of one coefficient's.
    const float least_noise = *std::min_element(noise.begin(), noise.end());

    // Where each padded column comes from, and where it goes in phases.
    std::vector<int> sources(static_cast<size_t>(padded_width));
    std::vector<size_t> places(static_cast<size_t>(padded_width));
    for (int x = 0; x < padded_width; ++x) {
        sources[static_cast<size_t>(x)] = mirrored(x - kMargin, width);
        places[static_cast<size_t>(x)] = static_cast<size_t>(x % kStride) * items + static_cast<size_t>(x / kStride);
    }
    auto phase_of = [&](float* lines, int k, int j) {
        return lines + static_cast<size_t>(k) * line + static_cast<size_t>(j % kStride) * items + j / kStride;
    };

    // Writes the padded rows [from, to) that no later block row reaches.
    auto finish_rows = [&](int from, int to) {
        for (int padded_y = from; padded_y < to; ++padded_y) {
            float* sum = sums_.data() + static_cast<size_t>(padded_y % kSide) * line;
            float* weight = weights_.data() + static_cast<size_t>(padded_y % kSide) * line;
            const int y = padded_y - kMargin;
            if (y >= 0 && y < height) {
                YcPixel* row = frame + static_cast<size_t>(y) * static_cast<size_t>(pitch_);
                for (int x = 0; x < width; ++x) {
                    const size_t at = places[static_cast<size_t>(x + kMargin)];
                    const long value = std::lrint(sum[at] / weight[at]);
                    row[x].y = static_cast<int16_t>(std::clamp<long>(value, std::numeric_limits<int16_t>::min(),
                                                                     std::numeric_limits<int16_t>::max()));
                }
            }
            std::fill(sum, sum + line, 0.0f);
            std::fill(weight, weight + line, 0.0f);
        }
    };

    for (int y0 = 0; y0 + kSide <= padded_height; y0 += kStride) {
        // The block row's 8 rows of both pictures, mirrored both ways.
        for (int r = 0; r < kSide; ++r) {
            const size_t source = static_cast<size_t>(mirrored(y0 + r - kMargin, height)) * width;
            float* noisy_row = rows_.data() + static_cast<size_t>(r) * line;
            float* pilot_row = noisy_row + kSide * line;
            for (int x = 0; x < padded_width; ++x) {
                const size_t from = source + static_cast<size_t>(sources[static_cast<size_t>(x)]);
                noisy_row[places[static_cast<size_t>(x)]] = noisy_[from];
                pilot_row[places[static_cast<size_t>(x)]] = pilot_[from];
            }
        }
        // Down the columns.
        for (int k = 0; k < kSide; ++k) {
            const float* noisy_rows[kSide];
            const float* pilot_rows[kSide];
            for (int r = 0; r < kSide; ++r) {
                noisy_rows[r] = rows_.data() + r * line;
                pilot_rows[r] = rows_.data() + (kSide + r) * line;
            }
            weighted_sum(noisy_columns_.data() + k * line, noisy_rows, kDct.basis[k], static_cast<int>(line), false);
            weighted_sum(pilot_columns_.data() + k * line, pilot_rows, kDct.basis[k], static_cast<int>(line), false);
        }
        // Along the rows, every block at once: coefficient (k, l) of block b
        // at blocks[(k * 8 + l) * count + b].
        for (int k = 0; k < kSide; ++k) {
            const float* noisy_phases[kSide];
            const float* pilot_phases[kSide];
            for (int j = 0; j < kSide; ++j) {
                noisy_phases[j] = phase_of(noisy_columns_.data(), k, j);
                pilot_phases[j] = phase_of(pilot_columns_.data(), k, j);
            }
            for (int l = 0; l < kSide; ++l) {
                const size_t c = static_cast<size_t>(k * kSide + l) * coefficients;
                weighted_sum(noisy_blocks_.data() + c, noisy_phases, kDct.basis[l], blocks, false);
                weighted_sum(pilot_blocks_.data() + c, pilot_phases, kDct.basis[l], blocks, false);
            }
        }
        // The Wiener gains, and what noise each block lets through.
        std::fill(passed_.begin(), passed_.end(), 0.0f);
        for (int c = 0; c < kBlockCoefficients; ++c) {
            const float n = noise[static_cast<size_t>(c)];
            float* __restrict noisy_c = noisy_blocks_.data() + static_cast<size_t>(c) * coefficients;
            const float* __restrict pilot_c = pilot_blocks_.data() + static_cast<size_t>(c) * coefficients;
            float* __restrict passed = passed_.data();
            for (int b = 0; b < blocks; ++b) {
                const float p = pilot_c[b] * pilot_c[b];
                const float gain = p / (p + n);
                noisy_c[b] *= gain;
                passed[b] += gain * gain * n;
            }
        }
        // Each block weighted by the inverse of that noise; the weights go
        // into the coefficients before the way back, which is linear.
        float* __restrict block_weights = passed_.data();
        for (int b = 0; b < blocks; ++b) block_weights[b] = 1.0f / std::max(block_weights[b], least_noise);
        for (int c = 0; c < kBlockCoefficients; ++c) {
            float* __restrict noisy_c = noisy_blocks_.data() + static_cast<size_t>(c) * coefficients;
            for (int b = 0; b < blocks; ++b) noisy_c[b] *= block_weights[b];
        }
        // Back along the rows, each block added to the block row's columns:
        // sample j of every block first, then into its phase.
        std::fill(estimate_columns_.begin(), estimate_columns_.end(), 0.0f);
        std::fill(column_weights_.begin(), column_weights_.end(), 0.0f);
        for (int k = 0; k < kSide; ++k) {
            const float* block_coefficients[kSide];
            for (int l = 0; l < kSide; ++l)
                block_coefficients[l] = noisy_blocks_.data() + static_cast<size_t>(k * kSide + l) * coefficients;
            for (int j = 0; j < kSide; ++j) {
                float factors[kSide];
                for (int l = 0; l < kSide; ++l) factors[l] = kDct.basis[l][j];
                weighted_sum(samples_.data() + static_cast<size_t>(j) * coefficients, block_coefficients, factors,
                             blocks, false);
            }
            for (int j = 0; j < kSide; ++j) {
                float* __restrict out = phase_of(estimate_columns_.data(), k, j);
                const float* __restrict in = samples_.data() + static_cast<size_t>(j) * coefficients;
                for (int b = 0; b < blocks; ++b) out[b] += in[b];
            }
        }
        for (int j = 0; j < kSide; ++j) {
            float* __restrict out = phase_of(column_weights_.data(), 0, j);
            for (int b = 0; b < blocks; ++b) out[b] += block_weights[b];
        }
        // Back down the columns, into the sums of the rows they cover.
        const float* estimates[kSide];
        for (int k = 0; k < kSide; ++k) estimates[k] = estimate_columns_.data() + k * line;
        for (int r = 0; r < kSide; ++r) {
            float* __restrict sum = sums_.data() + static_cast<size_t>((y0 + r) % kSide) * line;
            float* __restrict weight = weights_.data() + static_cast<size_t>((y0 + r) % kSide) * line;
            float factors[kSide];
            for (int k = 0; k < kSide; ++k) factors[k] = kDct.basis[k][r];
            weighted_sum(sum, estimates, factors, static_cast<int>(line), true);
            const float* __restrict column_weights = column_weights_.data();
            for (size_t x = 0; x < line; ++x) weight[x] += column_weights[x];
        }
        const bool last = y0 + kStride + kSide > padded_height;
        finish_rows(y0, last ? y0 + kSide : y0 + kStride);
    }
}

}  // namespace zeverive::luma
