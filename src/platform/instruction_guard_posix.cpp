// Guarded trial of one instruction on Linux: a SIGILL handler jumps back out
// of the trial, and the handler that was there before is restored.
//
// The kernel starts a signal handler with a fresh x87 state (64-bit
// precision) and a jump out of the handler keeps it, so the control word is
// put back afterwards: the scalar kernels depend on its 53-bit precision.

#include <csetjmp>
#include <csignal>
#include <cstdint>

#include "cpu/detect.h"
#include "platform/x87_precision.h"

namespace zeverive {
namespace {

sigjmp_buf* trial_landing;

void on_illegal_instruction(int) {
    siglongjmp(*trial_landing, 1);
}

}  // namespace

bool instruction_runs(void (*trial)()) {
    struct sigaction guard = {};
    struct sigaction previous = {};
    guard.sa_handler = on_illegal_instruction;
    sigemptyset(&guard.sa_mask);
    sigaction(SIGILL, &guard, &previous);

#if defined(__i386__)
    const uint16_t control = x87_control_word();
#endif
    sigjmp_buf landing;
    trial_landing = &landing;
    volatile bool ran = false;
    if (sigsetjmp(landing, 1) == 0) {
        trial();
        ran = true;
    }
#if defined(__i386__)
    set_x87_control_word(control);
#endif
    sigaction(SIGILL, &previous, nullptr);
    trial_landing = nullptr;
    return ran;
}

}  // namespace zeverive
