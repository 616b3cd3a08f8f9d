// How the frame driver sizes each pass.
#pragma once

#include "common/size_class.h"

namespace zeverive {

// Padded length, levels and band thresholds of a pass over lines of
// `line_length` samples. Lines up to kSmallLineLength samples decompose over
// three levels; the finest band of a long line does not exist for them, so
// its threshold is 0.0 for that pass alone (the derived parameters keep
// theirs for the next large frame).
struct SizeClass {
    int padded_length;
    int levels;
    float thresholds[kBandCount];
};
SizeClass size_class_of(int line_length, const float derived[kBandCount]);

}  // namespace zeverive
