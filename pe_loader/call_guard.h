// While the loader runs a DLL's code for itself (its start-up code: TLS
// callbacks and entry point, at process attach and detach; or an export
// the host calls once, such as GetFilterTable), a fault there still ends
// the process, as it would under Windows: the loader cannot undo what the
// DLL's code did. But first one line on stderr says that the DLL's code
// crashed, which DLL, in what, and where, so that it is not taken for a
// fault of the loader.
#pragma once

#include <signal.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace pe_loader {

class CallGuard {
public:
    // For the DLL `path` mapped at `base`, `size` bytes; `what` names the
    // code in the line: "its start-up code (process attach)", "its
    // GetFilterTable".
    CallGuard(const std::string& path, const uint8_t* base, size_t size, const std::string& what);
    ~CallGuard();
    CallGuard(const CallGuard&) = delete;
    CallGuard& operator=(const CallGuard&) = delete;

private:
    static constexpr int kSignalCount = 4;  // SIGSEGV, SIGBUS, SIGFPE, SIGABRT
    struct sigaction previous_[kSignalCount];
};

// Writes the running guard's line for a fault at `eip`; nothing when no
// guarded call is running. The illegal-instruction dispatch, which owns
// SIGILL, calls it before it gives the signal up.
void report_guarded_fault(int signal_number, uint32_t eip);

}  // namespace pe_loader
