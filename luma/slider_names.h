// The sliders and the check box in English, for the host program's options
// and the frei0r filter's parameters alike, so both name and explain them
// the same way.
#pragma once

#include "host/records.h"

namespace zeverive::luma {

// In the record's order.
extern const char* const kSliderOptionNames[kSliderCount];
extern const char* const kCheckboxOptionName;
// What each slider does; the label, range and default come from the record.
extern const char* const kSliderHelp[kSliderCount];
extern const char* const kCheckboxHelp;
// The unit a slider's value is in, empty for a plain number.
extern const char* const kSliderUnits[kSliderCount];

}  // namespace zeverive::luma
