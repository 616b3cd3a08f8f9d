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

}  // namespace

void display_coefficients(const LineBuffers& lines, int32_t mode, int padded_length, int32_t display_value,
                          YcPixel* row, int n) {
    const int offset = (display_value == kCentredView && padded_length > n) ? (padded_length - n) / 2 - 1 : 0;
    const int L = padded_length;
    for (int k = 0; k < n; ++k) {
        const int q = offset + k;
        double magnitude;
        switch (mode) {
            case 0:
                magnitude = std::fabs(std::trunc(static_cast<double>(coefficient_at(lines.shift0, q, L))));
                break;
            case 1: {
                const double mean = (static_cast<double>(coefficient_at(lines.shift0, q, L)) +
                                     coefficient_at(lines.shift2, q, L)) * 0.5;
                magnitude = std::fabs(std::trunc(mean));
                break;
            }
            case 2: {
                const double mean = (static_cast<double>(coefficient_at(lines.shift0, q, L)) +
                                     coefficient_at(lines.shift3, q, L) + coefficient_at(lines.shift2, q, L) +
                                     coefficient_at(lines.shift1, q, L)) * 0.25;
                magnitude = std::fabs(std::trunc(mean));
                break;
            }
            case 3:
                // The low-pass-shifted decomposition sits one position on.
                magnitude = std::trunc((std::fabs(static_cast<double>(coefficient_at(lines.shift2, q, L))) +
                                        std::fabs(coefficient_at(lines.shift0, q + 1, L))) * 0.5);
                break;
            default:
                // No coefficients exist for an unknown mode: the sample
                // itself goes through the grey scale.
                magnitude = row[k].y;
                break;
        }
        row[k].y = grey_level(magnitude);
        row[k].cb = 0;
        row[k].cr = 0;
    }
}

}  // namespace zeverive
