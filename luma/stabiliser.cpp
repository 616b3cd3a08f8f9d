#include "luma/stabiliser.h"

#include <algorithm>
#include <cmath>

namespace zeverive::luma {
namespace {

constexpr double kVideoBlack = 16;

}  // namespace

Stabiliser::Stabiliser(const NoiseLevelFunction& level)
    : level_(level),
      reference_(std::sqrt(level.variance((level.darkest + level.brightest) / 2))),
      dark_deviation_(std::sqrt(level.variance(level.darkest))),
      bright_deviation_(std::sqrt(level.variance(level.brightest))),
      bright_value_(reference_ * 2 / level.slope * (bright_deviation_ - dark_deviation_)),
      black_value_(from_darkest(kVideoBlack)) {}

// The integral of reference / deviation from the darkest brightness:
// reference (2 / a) (sqrt(a Y + b) - sqrt(a darkest + b)) within the
// measured brightnesses, straight lines beyond.
double Stabiliser::from_darkest(double code) const {
    if (code <= level_.darkest) return (code - level_.darkest) * reference_ / dark_deviation_;
    if (code >= level_.brightest) return bright_value_ + (code - level_.brightest) * reference_ / bright_deviation_;
    return reference_ * 2 / level_.slope * (std::sqrt(level_.variance(code)) - dark_deviation_);
}

double Stabiliser::forward(double code) const {
    return kVideoBlack + from_darkest(code) - black_value_;
}

double Stabiliser::inverse(double value) const {
    const double along = value - kVideoBlack + black_value_;
    if (along <= 0) return level_.darkest + along * dark_deviation_ / reference_;
    if (along >= bright_value_) return level_.brightest + (along - bright_value_) * bright_deviation_ / reference_;
    const double deviation = along * level_.slope / (2 * reference_) + dark_deviation_;
    return (deviation * deviation - level_.offset) / level_.slope;
}

double Stabiliser::unbiased_inverse(double value) const {
    const double deviation = std::sqrt(level_.variance(inverse(value)));
    return inverse(value + reference_ * level_.slope / (4 * deviation));
}

double Stabiliser::slope(double code) const {
    return reference_ / std::sqrt(level_.variance(code));
}

}  // namespace zeverive::luma
