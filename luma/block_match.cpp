#include "luma/block_match.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace zeverive::luma {
namespace {

constexpr int kCoarse = 4;           // samples per coarse cell, each way
constexpr int kCoarseReach = 4;      // coarse cells searched each way: 16 samples
constexpr int kCoarseWindow = 4;     // coarse cells compared each way, centred on the block
constexpr int kFineReach = 2;        // samples searched each way around the coarse choice (half a cell)
constexpr int kRingOuter = 16;       // the ring: 16x16 centred on the 8x8 block ...
constexpr int kRingInner = 10;       // ... less the 10x10 around it
constexpr int kRingOffset = (kRingOuter - 8) / 2;
constexpr int kInnerOffset = (kRingInner - 8) / 2;
constexpr int kRingSamples = kRingOuter * kRingOuter - kRingInner * kRingInner;

constexpr int kFarthest = kCoarse * kCoarseReach + kFineReach;
static_assert(kMatchMargin >= kRingOffset + kFarthest + 1,
              "the margin holds the ring at the farthest displacement, and the samples beside it for its gradient");
// A whole-pixel match is off by half a pixel at most; a little more room
// for texture the first order reads short.
constexpr double kLargestFraction = 0.75;

double coarse_difference(const MatchPicture& a, const MatchPicture& b, int cx, int cy, int dx, int dy) {
    double sum = 0;
    for (int y = 0; y < kCoarseWindow; ++y) {
        const float* ra = a.coarse_row(cy + y) + cx;
        const float* rb = b.coarse_row(cy + y + dy) + cx + dx;
        for (int x = 0; x < kCoarseWindow; ++x) sum += std::fabs(ra[x] - rb[x]);
    }
    return sum;
}

double ring_difference(const MatchPicture& a, const MatchPicture& b, int left, int top, int dx, int dy) {
    const int x0 = left - kRingOffset;
    const int y0 = top - kRingOffset;
    const int inner_first = kRingOffset - kInnerOffset;
    const int inner_last = inner_first + kRingInner;
    double sum = 0;
    for (int y = 0; y < kRingOuter; ++y) {
        const float* ra = a.row(y0 + y) + x0;
        const float* rb = b.row(y0 + y + dy) + x0 + dx;
        if (y < inner_first || y >= inner_last) {
            for (int x = 0; x < kRingOuter; ++x) sum += std::fabs(ra[x] - rb[x]);
        } else {
            for (int x = 0; x < inner_first; ++x) sum += std::fabs(ra[x] - rb[x]);
            for (int x = inner_last; x < kRingOuter; ++x) sum += std::fabs(ra[x] - rb[x]);
        }
    }
    return sum;
}

// Calls visit(x, y) for every sample of the ring around the block at
// (left, top).
template <typename Visit>
void for_ring(int left, int top, Visit visit) {
    const int first = kRingOffset - kInnerOffset;
    const int last = first + kRingInner;
    for (int y = 0; y < kRingOuter; ++y)
        for (int x = 0; x < kRingOuter; ++x)
            if (y < first || y >= last || x < first || x >= last) visit(left - kRingOffset + x, top - kRingOffset + y);
}

// Central differences.
void gradient(const MatchPicture& picture, int x, int y, double& gx, double& gy) {
    gx = 0.5 * (picture.row(y)[x + 1] - picture.row(y)[x - 1]);
    gy = 0.5 * (picture.row(y + 1)[x] - picture.row(y - 1)[x]);
}

}  // namespace

MatchPicture::MatchPicture(const float* samples, int width, int height)
    : width_(width),
      height_(height),
      samples_(samples, samples + static_cast<size_t>(width) * height),
      coarse_width_(width / kCoarse),
      coarse_height_(height / kCoarse),
      coarse_(static_cast<size_t>(coarse_width_) * coarse_height_) {
    for (int cy = 0; cy < coarse_height_; ++cy) {
        for (int cx = 0; cx < coarse_width_; ++cx) {
            float sum = 0;
            for (int y = 0; y < kCoarse; ++y) {
                const float* r = row(cy * kCoarse + y) + cx * kCoarse;
                for (int x = 0; x < kCoarse; ++x) sum += r[x];
            }
            coarse_[static_cast<size_t>(cy) * coarse_width_ + cx] = sum / (kCoarse * kCoarse);
        }
    }
}

std::optional<Offset> match_block(const MatchPicture& picture, const MatchPicture& other, int left, int top,
                                  const std::vector<Offset>& neighbours) {
    if (left < kMatchMargin || top < kMatchMargin || left + 8 + kMatchMargin > picture.width() ||
        top + 8 + kMatchMargin > picture.height())
        return std::nullopt;

    // Coarse cells of the window around the block; the margin keeps the
    // window and its farthest displacement inside the coarse picture.
    const int cx = (left + 4) / kCoarse - kCoarseWindow / 2;
    const int cy = (top + 4) / kCoarse - kCoarseWindow / 2;
    int best_cx = 0, best_cy = 0;
    double best = std::numeric_limits<double>::infinity();
    for (int dy = -kCoarseReach; dy <= kCoarseReach; ++dy) {
        if (cy + dy < 0 || cy + dy + kCoarseWindow > other.coarse_height()) continue;
        for (int dx = -kCoarseReach; dx <= kCoarseReach; ++dx) {
            if (cx + dx < 0 || cx + dx + kCoarseWindow > other.coarse_width()) continue;
            const double d = coarse_difference(picture, other, cx, cy, dx, dy);
            if (d < best) {
                best = d;
                best_cx = dx;
                best_cy = dy;
            }
        }
    }

    Offset chosen{0, 0};
    best = std::numeric_limits<double>::infinity();
    // The searches overlap (on a still picture all of them lie around no
    // motion); a displacement read once cannot win again.
    std::array<bool, (2 * kFarthest + 1) * (2 * kFarthest + 1)> read{};
    auto search = [&](Offset around, int reach) {
        for (int dy = around.dy - reach; dy <= around.dy + reach; ++dy) {
            for (int dx = around.dx - reach; dx <= around.dx + reach; ++dx) {
                if (std::abs(dx) > kFarthest || std::abs(dy) > kFarthest) continue;
                bool& done = read[static_cast<size_t>((dy + kFarthest) * (2 * kFarthest + 1) + dx + kFarthest)];
                if (done) continue;
                done = true;
                const double d = ring_difference(picture, other, left, top, dx, dy);
                if (d < best) {
                    best = d;
                    chosen = {dx, dy, 0};
                }
            }
        }
    };
    search({kCoarse * best_cx, kCoarse * best_cy}, kFineReach);
    search({0, 0}, 1);
    for (const Offset& neighbour : neighbours) search(neighbour, 1);
    chosen.ring = static_cast<float>(best / kRingSamples);
    return chosen;
}

float Fraction::sample(const MatchPicture& other, int x, int y) const {
    double gx, gy;
    gradient(other, x, y, gx, gy);
    return static_cast<float>(other.row(y)[x] + dx * gx + dy * gy);
}

std::optional<Fraction> fraction_of_pixel(const MatchPicture& picture, const MatchPicture& other, int left, int top,
                                          const Offset& to) {
    // Least squares of the ring's difference on the gradient.
    double xx = 0, xy = 0, yy = 0, xd = 0, yd = 0, dd = 0;
    for_ring(left, top, [&](int x, int y) {
        double gx, gy;
        gradient(other, x + to.dx, y + to.dy, gx, gy);
        const double d = picture.row(y)[x] - other.row(y + to.dy)[x + to.dx];
        xx += gx * gx;
        xy += gx * gy;
        yy += gy * gy;
        xd += gx * d;
        yd += gy * d;
        dd += d * d;
    });
    const double det = xx * yy - xy * xy;
    if (det <= 0 || dd <= 0) return std::nullopt;
    Fraction f;
    f.dx = std::clamp((yy * xd - xy * yd) / det, -kLargestFraction, kLargestFraction);
    f.dy = std::clamp((xx * yd - xy * xd) / det, -kLargestFraction, kLargestFraction);
    double left_over = 0, absolute = 0;
    for_ring(left, top, [&](int x, int y) {
        const double d = picture.row(y)[x] - f.sample(other, x + to.dx, y + to.dy);
        left_over += d * d;
        absolute += std::fabs(d);
    });
    if (left_over > (1 - kFractionEvidence) * dd) return std::nullopt;
    f.ring = static_cast<float>(absolute / kRingSamples);
    return f;
}

std::optional<Offset> GridMatcher::match(int column, int left, int top) {
    if (column == 0 && !first_row_) above_.swap(row_);
    first_row_ = false;
    const size_t at = static_cast<size_t>(column);
    std::vector<Offset> neighbours;
    if (at > 0 && row_[at - 1]) neighbours.push_back(*row_[at - 1]);
    if (above_[at]) neighbours.push_back(*above_[at]);
    row_[at] = match_block(picture_, other_, left, top, neighbours);
    return row_[at];
}

}  // namespace zeverive::luma
