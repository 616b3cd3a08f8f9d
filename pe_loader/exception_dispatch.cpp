#include "exception_dispatch.h"

#include <signal.h>
#include <ucontext.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <list>
#include <utility>
#include <vector>

#include "call_guard.h"

namespace pe_loader {
namespace {

struct Registration {
    VectoredHandler handler;
};

std::list<Registration>& registrations() {
    static std::list<Registration> handlers;
    return handlers;
}

// The mappings of the loaded images, [begin, end).
std::vector<std::pair<const uint8_t*, const uint8_t*>>& image_ranges() {
    static std::vector<std::pair<const uint8_t*, const uint8_t*>> ranges;
    return ranges;
}

bool inside_an_image(uint32_t eip) {
    const auto* code = reinterpret_cast<const uint8_t*>(eip);
    for (const auto& [begin, end] : image_ranges())
        if (code >= begin && code < end) return true;
    return false;
}

void say(const char* text) {
    const ssize_t ignored = write(STDERR_FILENO, text, std::strlen(text));
    (void)ignored;
}

Context context_of(const mcontext_t& machine) {
    Context context = {};
    context.flags = kContextControl | kContextInteger | kContextSegments;
    const greg_t* r = machine.gregs;
    context.gs = r[REG_GS], context.fs = r[REG_FS], context.es = r[REG_ES], context.ds = r[REG_DS];
    context.edi = r[REG_EDI], context.esi = r[REG_ESI], context.ebx = r[REG_EBX], context.edx = r[REG_EDX];
    context.ecx = r[REG_ECX], context.eax = r[REG_EAX], context.ebp = r[REG_EBP], context.eip = r[REG_EIP];
    context.cs = r[REG_CS], context.eflags = r[REG_EFL], context.esp = r[REG_ESP], context.ss = r[REG_SS];
    if (machine.fpregs) {
        // The kernel's x87 save area has the same layout as the first seven
        // words and the register stack of FLOATING_SAVE_AREA.
        const auto* words = reinterpret_cast<const uint32_t*>(machine.fpregs);
        context.float_save.control_word = words[0];
        context.float_save.status_word = words[1];
        context.float_save.tag_word = words[2];
        context.float_save.error_offset = words[3];
        context.float_save.error_selector = words[4];
        context.float_save.data_offset = words[5];
        context.float_save.data_selector = words[6];
        std::memcpy(context.float_save.registers, machine.fpregs->_st, sizeof context.float_save.registers);
        context.flags |= kContextFloatingPoint;
    }
    return context;
}

// The handler may move Eip and change the general registers; segments and
// the x87 state stay as the fault left them.
void resume_with(mcontext_t& machine, const Context& context) {
    greg_t* r = machine.gregs;
    r[REG_EDI] = context.edi, r[REG_ESI] = context.esi, r[REG_EBX] = context.ebx, r[REG_EDX] = context.edx;
    r[REG_ECX] = context.ecx, r[REG_EAX] = context.eax, r[REG_EBP] = context.ebp, r[REG_EIP] = context.eip;
    r[REG_EFL] = context.eflags, r[REG_ESP] = context.esp;
}

// Leaves the signal to its default action: returning re-executes the
// instruction, which then ends the process as it would have without us.
void give_up(const char* why, uint32_t eip) {
    report_guarded_fault(SIGILL, eip);
    char text[160];
    std::snprintf(text, sizeof text, "pe_loader: illegal instruction at 0x%08x %s\n", eip, why);
    say(text);
    signal(SIGILL, SIG_DFL);
}

void on_illegal_instruction(int, siginfo_t*, void* raw) {
    mcontext_t& machine = static_cast<ucontext_t*>(raw)->uc_mcontext;
    const auto eip = static_cast<uint32_t>(machine.gregs[REG_EIP]);
    if (!inside_an_image(eip)) return give_up("outside the loaded DLLs", eip);

    ExceptionRecord record = {};
    record.code = kStatusIllegalInstruction;
    record.address = reinterpret_cast<void*>(eip);
    Context context = context_of(machine);
    ExceptionPointers pointers = {&record, &context};
    for (const Registration& registration : registrations()) {
        if (registration.handler(&pointers) == kExceptionContinueExecution) return resume_with(machine, context);
    }
    give_up("in a DLL, and no vectored handler took it", eip);
}

}  // namespace

void* add_vectored_handler(bool first, VectoredHandler handler) {
    auto& handlers = registrations();
    auto where = handlers.insert(first ? handlers.begin() : handlers.end(), Registration{handler});
    return &*where;
}

bool remove_vectored_handler(void* handle) {
    auto& handlers = registrations();
    for (auto it = handlers.begin(); it != handlers.end(); ++it) {
        if (&*it == handle) {
            handlers.erase(it);
            return true;
        }
    }
    return false;
}

void dispatch_faults_in(const uint8_t* begin, const uint8_t* end) {
    static bool installed = false;
    image_ranges().emplace_back(begin, end);
    if (installed) return;
    struct sigaction action = {};
    action.sa_sigaction = on_illegal_instruction;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    sigaction(SIGILL, &action, nullptr);
    installed = true;
}

void forget_image(const uint8_t* begin, const uint8_t* end) {
    auto& ranges = image_ranges();
    ranges.erase(std::remove(ranges.begin(), ranges.end(), std::make_pair(begin, end)), ranges.end());
    registrations().remove_if([&](const Registration& registration) {
        const auto* code = reinterpret_cast<const uint8_t*>(registration.handler);
        return code >= begin && code < end;
    });
}

}  // namespace pe_loader
