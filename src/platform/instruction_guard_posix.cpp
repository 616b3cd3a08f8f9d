// Guarded trial of one instruction on Linux: a SIGILL handler jumps back out
// of the trial, and the handler that was there before is restored.

#include <csetjmp>
#include <csignal>

#include "cpu/detect.h"

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

    sigjmp_buf landing;
    trial_landing = &landing;
    volatile bool ran = false;
    if (sigsetjmp(landing, 1) == 0) {
        trial();
        ran = true;
    }
    sigaction(SIGILL, &previous, nullptr);
    trial_landing = nullptr;
    return ran;
}

}  // namespace zeverive
