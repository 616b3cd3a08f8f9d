// The denoising schemes the "Mode" slider selects, and what each one does
// with a line. The slider's raw value is decoded once per pass (mode_of);
// the line pipeline and the coefficient display read the traits below and
// nothing else about the mode.
#pragma once

#include <cstdint>

namespace zeverive {

enum class Mode {
    kSinglePhase,       // slider 0: the line alone
    kTwoPhaseAverage,   // slider 1: the line and the line rotated by 2, averaged
    kFourPhaseAverage,  // slider 2: the line rotated by 0, 1, 2 and 3, averaged
    kShiftedLowpass,    // slider 3: every level decomposed twice, once with its
                        // low-pass part moved by one sample, shrunk jointly
    kUnknown,           // any other value: no line is denoised
};

// Any value outside 0..3 is kUnknown.
inline Mode mode_of(int32_t slider_value) {
    return slider_value >= 0 && slider_value <= 3 ? static_cast<Mode>(slider_value) : Mode::kUnknown;
}

// Which shrink kernel decides a mode's bands, and over which lines:
// shrink_band the one line (shift0), shrink_band_2phase shift0 with shift2,
// shrink_band_4phase all four rotations.
enum class ShrinkForm { kShrinkBand, kShrinkBand2Phase, kShrinkBand4Phase };

constexpr int kMaxPhases = 4;

// Phase p of a mode is the padded line rotated left by rotation[p] samples
// and lives in the buffer shift<rotation[p]>; the rebuilt phases are
// averaged. A mode that pairs shifted low-pass decompositions has one phase
// (shift0, which ends up holding the rebuilt line) and decomposes each
// level a second time into shift2.
struct ModeTraits {
    int phase_count;  // 0: the mode denoises nothing
    int rotation[kMaxPhases];
    bool pairs_shifted_lowpass;
    ShrinkForm shrink;
};

inline const ModeTraits& traits_of(Mode mode) {
    static constexpr ModeTraits kTraits[] = {
        {1, {0}, false, ShrinkForm::kShrinkBand},
        {2, {0, 2}, false, ShrinkForm::kShrinkBand2Phase},
        {4, {0, 1, 2, 3}, false, ShrinkForm::kShrinkBand4Phase},
        {1, {0}, true, ShrinkForm::kShrinkBand2Phase},
        {0, {}, false, ShrinkForm::kShrinkBand},
    };
    return kTraits[static_cast<int>(mode)];
}

}  // namespace zeverive
