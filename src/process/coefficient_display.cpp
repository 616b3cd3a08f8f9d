#include "process/coefficient_display.h"

#include <cmath>

namespace zeverive {
namespace {

constexpr int kCentredView = 2;
constexpr double kGreyPerUnit = 256.0;
constexpr int kBrightest = 4095;
constexpr double kSaturatedMagnitude = 16.0;
constexpr double kDarkest = -32768.0;

// Positions before the line's start or past its padded end read as 0.0
// rather than whatever memory lies there: a centred view of a row one
// sample shorter than the padded line starts at -1, and mode 3 pairs the
// last position with the one after it.
float coefficient_at(const float* line, int position, int padded_length) {
    if (position < 0 || position >= padded_length) return 0.0f;
    return line[position];
}

// Grey level of a truncated coefficient magnitude: 256 per unit up to 15,
// white from 16 on. Only an unknown mode passes negative values (its own
// samples); those stop at the bottom of the sample range instead of wrapping.
int16_t grey_level(double magnitude) {
    if (magnitude >= kSaturatedMagnitude) return kBrightest;
    return static_cast<int16_t>(std::fmax(kGreyPerUnit * magnitude, kDarkest));
}

// The truncated coefficient magnitude shown at position q: the phases
// averaged at one position in modes 1 and 2, the two decompositions'
// magnitudes in mode 3.
double magnitude_at(const LineBuffers& lines, Mode mode, int q, int L, int16_t sample) {
    switch (mode) {
        case Mode::kSinglePhase:
            return std::fabs(std::trunc(static_cast<double>(coefficient_at(lines.shift0, q, L))));
        case Mode::kTwoPhaseAverage:
            return std::fabs(std::trunc(
                (static_cast<double>(coefficient_at(lines.shift0, q, L)) + coefficient_at(lines.shift2, q, L)) * 0.5));
        case Mode::kFourPhaseAverage:
            return std::fabs(std::trunc((static_cast<double>(coefficient_at(lines.shift0, q, L)) +
                                         coefficient_at(lines.shift3, q, L) + coefficient_at(lines.shift2, q, L) +
                                         coefficient_at(lines.shift1, q, L)) * 0.25));
        case Mode::kShiftedLowpass:
            // The low-pass-shifted decomposition sits one position on.
            return std::trunc((std::fabs(static_cast<double>(coefficient_at(lines.shift2, q, L))) +
                               std::fabs(coefficient_at(lines.shift0, q + 1, L))) * 0.5);
        case Mode::kUnknown:
            break;
    }
    // No coefficients exist for an unknown mode: the sample itself goes
    // through the grey scale.
    return sample;
}

}  // namespace

void display_coefficients(const LineBuffers& lines, Mode mode, int padded_length, int32_t display_value,
                          YcPixel* row, int n) {
    const int offset = (display_value == kCentredView && padded_length > n) ? (padded_length - n) / 2 - 1 : 0;
    for (int k = 0; k < n; ++k) {
        row[k].y = grey_level(magnitude_at(lines, mode, offset + k, padded_length, row[k].y));
        row[k].cb = 0;
        row[k].cr = 0;
    }
}

}  // namespace zeverive
