#include "call_guard.h"

#include <ucontext.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace pe_loader {
namespace {

constexpr int kGuardedSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGABRT};

// What the signal handler needs, fixed before the DLL's code runs: the handler
// may only do what is async-signal-safe.
const uint8_t* guarded_base = nullptr;
uint32_t guarded_size = 0;
char guarded_prefix[512];

// `value` in hexadecimal with "0x", written at `out`; the end.
char* put_hex(char* out, uint32_t value) {
    *out++ = '0';
    *out++ = 'x';
    for (int shift = 28; shift >= 0; shift -= 4) *out++ = "0123456789abcdef"[(value >> shift) & 15];
    return out;
}

char* put_text(char* out, const char* text) {
    const size_t length = std::strlen(text);
    std::memcpy(out, text, length);
    return out + length;
}

const char* signal_name(int signal_number) {
    switch (signal_number) {
    case SIGSEGV: return "segmentation fault";
    case SIGBUS: return "bus error";
    case SIGFPE: return "arithmetic fault";
    case SIGABRT: return "abort";
    case SIGILL: return "illegal instruction";
    default: return "signal";
    }
}

void on_fault(int signal_number, siginfo_t*, void* raw) {
    report_guarded_fault(signal_number,
                          static_cast<uint32_t>(static_cast<ucontext_t*>(raw)->uc_mcontext.gregs[REG_EIP]));
    // The default action, as if there had been no guard: pending until
    // the handler returns, then it ends the process.
    signal(signal_number, SIG_DFL);
    raise(signal_number);
}

}  // namespace

void report_guarded_fault(int signal_number, uint32_t eip) {
    if (!guarded_base) return;
    char line[sizeof guarded_prefix + 128];
    char* out = put_text(line, guarded_prefix);
    out = put_text(out, signal_name(signal_number));
    out = put_text(out, " at ");
    out = put_hex(out, eip);
    const uint32_t rva = eip - static_cast<uint32_t>(reinterpret_cast<uintptr_t>(guarded_base));
    if (rva < guarded_size) {
        out = put_text(out, " (RVA ");
        out = put_hex(out, rva);
        out = put_text(out, " of the DLL)\n");
    } else {
        out = put_text(out, " (outside the DLL: in a function it called, or where it jumped)\n");
    }
    const ssize_t ignored = write(STDERR_FILENO, line, static_cast<size_t>(out - line));
    (void)ignored;
}

CallGuard::CallGuard(const std::string& path, const uint8_t* base, size_t size, const std::string& what) {
    const std::string prefix = "pe_loader: " + path + ": crashed in " + what + ": ";
    const size_t length = std::min(prefix.size(), sizeof guarded_prefix - 1);
    std::memcpy(guarded_prefix, prefix.data(), length);
    guarded_prefix[length] = '\0';
    guarded_size = static_cast<uint32_t>(size);
    guarded_base = base;
    struct sigaction action {};
    action.sa_sigaction = on_fault;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < kSignalCount; ++i) sigaction(kGuardedSignals[i], &action, &previous_[i]);
}

CallGuard::~CallGuard() {
    for (int i = 0; i < kSignalCount; ++i) sigaction(kGuardedSignals[i], &previous_[i], nullptr);
    guarded_base = nullptr;
}

}  // namespace pe_loader
