// Rounding a wide intermediate to single precision exactly once.
//
// On x86-64 a cast from double to float rounds. On the i386 build the
// compiler keeps x87 values at register precision and may reuse an unrounded
// register after a store, so the rounding is forced through memory there.
// With the x87 precision control at 53 bits (set at library start-up), every
// double computed in a register equals the one SSE2 computes, so both builds
// round the same values.
#pragma once

namespace zeverive {

inline float to_single(double value) {
#if defined(__i386__) && !defined(__SSE2_MATH__)
    volatile float stored = static_cast<float>(value);
    return stored;
#else
    return static_cast<float>(value);
#endif
}

}  // namespace zeverive
