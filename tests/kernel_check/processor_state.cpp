#include "processor_state.h"

#include <csetjmp>
#include <csignal>
#include <cstring>

#include "kernels/sse_target.h"

namespace zeverive {
namespace check {
namespace {

sigjmp_buf landing;
volatile sig_atomic_t armed = 0;

void on_illegal_instruction(int signal_number) {
    if (armed) siglongjmp(landing, 1);
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

}  // namespace

// FNSTENV masks every exception as a side effect; FLDENV puts the
// environment back.
uint16_t x87_tag_word() {
    struct {
        unsigned char bytes[28];
    } env;
    __asm__ volatile("fnstenv %0\n\tfldenv %0" : "+m"(env));
    uint16_t tag;
    std::memcpy(&tag, env.bytes + 8, sizeof tag);
    return tag;
}

// The low six bits are sticky exception flags that any floating-point code
// may set, so they are left out.
ZEVERIVE_TARGET_SSE uint32_t read_mxcsr_control() { return _mm_getcsr() & ~0x3fu; }
ZEVERIVE_TARGET_SSE void write_mxcsr(uint32_t value) { _mm_setcsr(value); }

void install_illegal_instruction_guard() {
    struct sigaction guard = {};
    guard.sa_handler = on_illegal_instruction;
    sigemptyset(&guard.sa_mask);
    sigaction(SIGILL, &guard, nullptr);
}

bool run_guarded(const std::function<void()>& call) {
    armed = 1;
    if (sigsetjmp(landing, 1) != 0) {
        armed = 0;
        return false;
    }
    call();
    armed = 0;
    return true;
}

}  // namespace check
}  // namespace zeverive
