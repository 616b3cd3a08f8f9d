// The coefficient display: a row shown as grey levels of its shrunk wavelet
// coefficients instead of being rebuilt.
#pragma once

#include <cstdint>

#include "host/records.h"
#include "host/working_state.h"

namespace zeverive {

// Writes the view of one row's coefficients into its n pixels (stride 1).
// Value 2 centres the view in the padded line; any other nonzero value shows
// it from the start. Reads the phase lines that `mode` left in `lines`.
void display_coefficients(const LineBuffers& lines, int32_t mode, int padded_length, int32_t display_value,
                          YcPixel* row, int n);

}  // namespace zeverive
