// Rounding a wide intermediate to single precision exactly once.
//
// On x86-64 a cast from double to float rounds. On the i386 build the
// compiler keeps x87 values at register precision and may reuse an unrounded
// register after a store, so the rounding is forced through memory there.
// With the x87 precision control at 53 bits (set at library start-up), every
// double computed in a register equals the one SSE2 computes, so both builds
// round the same values.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace zeverive {

inline float to_single(double value) {
#if defined(__i386__) && !defined(__SSE2_MATH__)
    volatile float stored = static_cast<float>(value);
    return stored;
#else
    return static_cast<float>(value);
#endif
}

// For x >= 0: to_single(x) < threshold exactly when x < the returned bound.
// Lets a kernel that rounds a double to single only to compare it with a
// float threshold compare the double instead, with the same outcome for
// every x. Rounding is monotonic, so to_single(x) < t means to_single(x) is
// at most p, the float just below t, which holds for x below the midpoint of
// p and t (exact in double), and at the midpoint itself only when the tie
// goes to p, that is when p's significand is even. A threshold that is not
// positive (or NaN) is never exceeded from below: the bound is 0.
inline double single_rounding_bound(float threshold) {
    if (!(threshold > 0.0f)) return 0.0;
    const float below = std::nextafter(threshold, 0.0f);
    double midpoint;
    if (threshold == std::numeric_limits<float>::infinity()) {
        // Everything short of rounding up to infinity: half an ulp of the
        // largest float above it.
        midpoint = double(below) + std::ldexp(1.0, 103);
    } else {
        midpoint = (double(below) + double(threshold)) / 2;
    }
    float significand_source = below;
    uint32_t bits;
    std::memcpy(&bits, &significand_source, sizeof bits);
    const bool tie_goes_below = (bits & 1u) == 0;
    return tie_goes_below ? std::nextafter(midpoint, std::numeric_limits<double>::infinity()) : midpoint;
}

}  // namespace zeverive
