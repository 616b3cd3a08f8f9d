#include "platform/x87_precision.h"

#include <cstdint>

namespace zeverive {

void set_x87_double_precision() {
#if defined(__i386__)
    constexpr uint16_t kPrecisionMask = 0x0300;
    constexpr uint16_t kPrecision53 = 0x0200;
    uint16_t control;
    __asm__ volatile("fnstcw %0" : "=m"(control));
    control = static_cast<uint16_t>((control & ~kPrecisionMask) | kPrecision53);
    __asm__ volatile("fldcw %0" : : "m"(control));
#endif
}

}  // namespace zeverive

#if defined(__i386__) && !defined(_WIN32)
// The Linux library's start-up; the DLL does the same in DllMain.
__attribute__((constructor)) static void set_precision_at_load() {
    zeverive::set_x87_double_precision();
}
#endif
