#include "luma/block_match.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "luma/levels_avx2.h"
#include "luma/match_sums.h"

namespace zeverive::luma {
namespace {

constexpr int kCoarse = 4;                  // samples per coarse cell, each way
constexpr int kCoarseReach = 4;             // coarse cells searched each way: 16 samples
constexpr int kCoarseWindow = kMatchWindow;  // coarse cells compared each way, centred on the block
constexpr int kFineReach = 2;               // samples searched each way around the coarse choice (half a cell)
// The ring (luma/match_sums.h): 16x16 centred on the 8x8 block, less the
// 10x10 around it.
constexpr int kRingOffset = (kRingOuter - 8) / 2;
constexpr int kInnerOffset = (kRingInner - 8) / 2;

constexpr int kFarthest = kCoarse * kCoarseReach + kFineReach;
static_assert(kMatchMargin >= kRingOffset + kFarthest + 1,
              "the margin holds the ring at the farthest displacement, and the samples beside it for its gradient");
// A whole-pixel match is off by half a pixel at most; a little more room
// for texture the first order reads short.
constexpr double kLargestFraction = 0.75;

// The sums of absolute differences, four displacements at once: by the
// AVX2 loops where they run.
struct MatchSums {
    void (*ring)(const float*, ptrdiff_t, const float*, ptrdiff_t, double*);
    void (*window)(const float*, ptrdiff_t, const float*, ptrdiff_t, double*);
};

MatchSums match_sums() {
#if defined(__x86_64__)
    if (wide_loops_run()) return {ring_sums_avx2, window_sums_avx2};
#endif
    return {ring_sums, window_sums};
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

MatchPicture::MatchPicture(const float* samples, int width, int height) : MatchPicture(samples, width, height, width) {}

MatchPicture::MatchPicture(const float* samples, int width, int height, ptrdiff_t stride)
    : width_(width),
      height_(height),
      samples_(static_cast<size_t>(width) * height),
      coarse_width_(width / kCoarse),
      coarse_height_(height / kCoarse),
      coarse_(static_cast<size_t>(coarse_width_) * coarse_height_) {
    for (int y = 0; y < height; ++y)
        std::copy_n(samples + y * stride, width, samples_.data() + static_cast<size_t>(y) * width);
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
    const MatchSums sums = match_sums();
    const ptrdiff_t coarse_stride = picture.coarse_row(1) - picture.coarse_row(0);
    const ptrdiff_t other_coarse_stride = other.coarse_row(1) - other.coarse_row(0);
    for (int dy = -kCoarseReach; dy <= kCoarseReach; ++dy) {
        if (cy + dy < 0 || cy + dy + kCoarseWindow > other.coarse_height()) continue;
        // Four displacements at a time, the last four again for the rest:
        // the margin keeps each within the coarse picture.
        double row[2 * kCoarseReach + 1];
        for (int first = -kCoarseReach;; first += 4) {
            first = std::min(first, kCoarseReach - 3);
            sums.window(picture.coarse_row(cy) + cx, coarse_stride, other.coarse_row(cy + dy) + cx + first,
                        other_coarse_stride, &row[first + kCoarseReach]);
            if (first == kCoarseReach - 3) break;
        }
        for (int dx = -kCoarseReach; dx <= kCoarseReach; ++dx) {
            if (cx + dx < 0 || cx + dx + kCoarseWindow > other.coarse_width()) continue;
            const double d = row[dx + kCoarseReach];
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
    // The rings' sums come four displacements along a row at a time (the
    // last four of the row where fewer are left), kept for the searches
    // after.
    constexpr int kSide = 2 * kFarthest + 1;
    std::array<bool, kSide * kSide> read{}, summed{};
    std::array<double, kSide * kSide> ring;
    const ptrdiff_t stride = picture.row(1) - picture.row(0);
    const ptrdiff_t other_stride = other.row(1) - other.row(0);
    const float* ring_corner = picture.row(top - kRingOffset) + left - kRingOffset;
    const auto ring_at = [&](int dx, int dy) {
        const size_t at = static_cast<size_t>((dy + kFarthest) * kSide + dx + kFarthest);
        if (!summed[at]) {
            const int first = std::min(dx, kFarthest - 3);
            const size_t from = at - static_cast<size_t>(dx - first);
            sums.ring(ring_corner, stride, other.row(top - kRingOffset + dy) + left - kRingOffset + first,
                      other_stride, &ring[from]);
            for (size_t i = from; i < from + 4; ++i) summed[i] = true;
        }
        return ring[at];
    };
    auto search = [&](Offset around, int reach) {
        for (int dy = around.dy - reach; dy <= around.dy + reach; ++dy) {
            for (int dx = around.dx - reach; dx <= around.dx + reach; ++dx) {
                if (std::abs(dx) > kFarthest || std::abs(dy) > kFarthest) continue;
                bool& done = read[static_cast<size_t>((dy + kFarthest) * kSide + dx + kFarthest)];
                if (done) continue;
                done = true;
                const double d = ring_at(dx, dy);
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
