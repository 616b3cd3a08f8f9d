#include "luma/result_check.h"

#include <algorithm>
#include <optional>

#include "luma/block_match.h"

namespace zeverive::luma {
namespace {

constexpr int kB = 8;
// Every other block each way, as the estimate matches them.
constexpr int kStep = 16;
// A block takes part when its ring differs from the next picture by at
// most this much more than noise alone would, and half a code for
// rounding.
constexpr double kRingRoom = 1.3;
constexpr double kNoiseRing = 1.1284;  // 2 / sqrt(pi)

bool clipped(const float* row, int width, int left, int top, const LumaPlane& plane) {
    for (int y = 0; y < kB; ++y)
        for (int x = 0; x < kB; ++x) {
            const float v = row[static_cast<size_t>(top + y) * width + left + x];
            if (v <= plane.lowest || v >= plane.highest) return true;
        }
    return false;
}

}  // namespace

ResultCheck::ResultCheck(const LumaPlane& picture, const LumaPlane& next, double sigma)
    : window_(noise_window(picture.width, picture.height)) {
    const double agreeing = kRingRoom * kNoiseRing * sigma + 0.5;
    const MatchPicture own = window_picture(picture);
    const MatchPicture other = window_picture(next);
    const int room = own.width() - 2 * kMatchMargin - kB;
    const int columns = room >= 0 ? room / kStep + 1 : 0;
    GridMatcher matcher(own, other, columns);
    for (int top = kMatchMargin; top + kB + kMatchMargin <= own.height(); top += kStep) {
        for (int column = 0; column < columns; ++column) {
            const int left = kMatchMargin + column * kStep;
            const std::optional<Offset> to = matcher.match(column, left, top);
            if (!to) continue;
            // Clipping hides noise on either side.
            if (clipped(own.row(0), own.width(), left, top, picture) ||
                clipped(other.row(0), other.width(), left + to->dx, top + to->dy, next))
                continue;
            ++matched_;
            const std::optional<Fraction> fraction = fraction_of_pixel(own, other, left, top, *to);
            if ((fraction ? fraction->ring : to->ring) > agreeing) continue;
            lefts_.push_back(window_.left + left);
            tops_.push_back(window_.top + top);
            for (int y = 0; y < kB; ++y) {
                for (int x = 0; x < kB; ++x) {
                    const int at_x = left + to->dx + x;
                    const int at_y = top + to->dy + y;
                    targets_.push_back(fraction ? fraction->sample(other, at_x, at_y) : other.row(at_y)[at_x]);
                }
            }
            ++blocks_;
        }
    }
    if (usable()) input_distance_ = distance(picture.samples, picture.width);
}

double ResultCheck::distance(const float* samples, int width) const {
    double sum = 0;
    const float* target = targets_.data();
    for (size_t b = 0; b < blocks_; ++b) {
        for (int y = 0; y < kB; ++y) {
            const float* row = samples + static_cast<size_t>(tops_[b] + y) * width + lefts_[b];
            for (int x = 0; x < kB; ++x, ++target) sum += (row[x] - *target) * (row[x] - *target);
        }
    }
    return sum / static_cast<double>(blocks_ * kB * kB);
}

double ResultCheck::change_from_input(const LumaPlane& result) const {
    return distance(result.samples, result.width) - input_distance_;
}

}  // namespace zeverive::luma
