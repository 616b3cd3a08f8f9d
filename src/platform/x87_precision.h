// The scalar kernels round the way double arithmetic does; on the x87 unit
// that needs the precision control at 53 bits. At that precision a spill of
// a register to a double slot changes nothing, so the results do not depend
// on register allocation either.
#pragma once

#include <cstdint>

namespace zeverive {

constexpr uint16_t kX87PrecisionMask = 0x0300;
constexpr uint16_t kX87Precision53 = 0x0200;

inline uint16_t x87_control_word() {
    uint16_t control;
    __asm__ volatile("fnstcw %0" : "=m"(control));
    return control;
}

inline void set_x87_control_word(uint16_t control) {
    __asm__ volatile("fldcw %0" : : "m"(control));
}

// Sets the x87 precision control to 53 bits; no-op where the x87 unit does
// not do the arithmetic (x86-64).
void set_x87_double_precision();

}  // namespace zeverive
