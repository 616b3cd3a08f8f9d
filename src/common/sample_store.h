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

// The same for a float: both bounds are floats exactly, so every float
// gives what to_sample(double(value)) gives. Written as selects, so the
// compiler can do several samples at once.
inline int16_t to_sample(float value) {
    const float clamped = value >= 32767.0f ? 32767.0f : value <= -32768.0f ? -32768.0f : value;
    return static_cast<int16_t>(static_cast<int32_t>(clamped));
}

}  // namespace zeverive
