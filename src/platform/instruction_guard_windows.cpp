// Guarded trial of one instruction on Windows. A vectored exception handler
// contains a fault raised at the trial's first instruction: it resumes at a
// bare `ret`, which returns to our caller as the trial itself would have,
// since the trial has pushed nothing yet.

#include <windows.h>

#include <cstdint>

#include "cpu/detect.h"

namespace zeverive {
namespace {

__attribute__((naked, noinline)) void return_from_trial() {
    __asm__("ret");
}

void (*volatile running_trial)();
volatile LONG trial_faulted;

LONG CALLBACK on_exception(EXCEPTION_POINTERS* info) {
    CONTEXT* context = info->ContextRecord;
    if (context->Eip != reinterpret_cast<uintptr_t>(running_trial)) return EXCEPTION_CONTINUE_SEARCH;
    trial_faulted = 1;
    context->Eip = reinterpret_cast<uintptr_t>(&return_from_trial);
    return EXCEPTION_CONTINUE_EXECUTION;
}

}  // namespace

bool instruction_runs(void (*trial)()) {
    trial_faulted = 0;
    running_trial = trial;
    PVOID handler = AddVectoredExceptionHandler(1, on_exception);
    trial();
    RemoveVectoredExceptionHandler(handler);
    running_trial = nullptr;
    return trial_faulted == 0;
}

}  // namespace zeverive
