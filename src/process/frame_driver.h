// How the frame driver sizes each pass.
#pragma once

namespace zeverive {

// Padded length, levels and band thresholds of a pass over lines of
// `line_length` samples. Lines up to 416 samples pad to 416 and decompose
// over three levels; the finest band of an 832-sample line does not exist
// for them, so its threshold is 0.0 for that pass alone (the derived
// parameters keep theirs for the next large frame).
struct SizeClass {
    int padded_length;
    int levels;
    float thresholds[4];
};
SizeClass size_class_of(int line_length, const float derived[4]);

}  // namespace zeverive
