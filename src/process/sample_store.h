// Rebuilt values back to host samples.
#pragma once

#include <cstdint>

namespace zeverive {

// Truncation toward zero, then the nearest representable sample: a very
// bright or very dark rebuilt value must not wrap to the other end of the
// range.
inline int16_t to_sample(double value) {
    if (value >= 32767.0) return 32767;
    if (value <= -32768.0) return -32768;
    return static_cast<int16_t>(value);
}

}  // namespace zeverive
