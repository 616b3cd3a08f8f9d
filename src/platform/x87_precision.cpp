#include "platform/x87_precision.h"

namespace zeverive {

void set_x87_double_precision() {
#if defined(__i386__)
    set_x87_control_word(static_cast<uint16_t>((x87_control_word() & ~kX87PrecisionMask) | kX87Precision53));
#endif
}

}  // namespace zeverive

#if defined(__i386__) && !defined(_WIN32)
// The Linux library's start-up; the DLL does the same in DllMain.
__attribute__((constructor)) static void set_precision_at_load() {
    zeverive::set_x87_double_precision();
}
#endif
