// The coefficient display: a row shown as grey levels of its shrunk wavelet
// coefficients instead of being rebuilt.
#pragma once

#include <cstdint>

#include "host/records.h"
#include "host/working_state.h"
#include "process/mode.h"

namespace zeverive {

// Writes the view of one row's coefficients into its n pixels (stride 1).
// Value 2 centres the view in the padded line; any other nonzero value shows
// it from the start. Reads the phase lines that `mode` left in `lines`; an
// unknown mode left none, and its row's own samples go through the grey
// scale instead.
void display_coefficients(const LineBuffers& lines, Mode mode, int padded_length, int32_t display_value,
                          YcPixel* row, int n);

}  // namespace zeverive
