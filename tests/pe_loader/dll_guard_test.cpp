// The DLL's instruction guard through the loader's exception dispatch. On a
// processor without SSE the DLL's own XORPS trial faults inside the DLL;
// its vectored handler must get the fault and resume where it intends.
#include <gtest/gtest.h>

#include "dll_under_test.h"
#include "pe_loader/imports.h"
#include "pe_loader/windows_abi.h"

namespace pe_loader_test {
namespace {

// The guard's functions have internal linkage; the DLL's symbol table still
// names them.
void* dll_function(const char* name) {
    void* function = dll().symbol(name);
    if (!function) ADD_FAILURE() << dll_path() << " has no symbol " << name;
    return function;
}

TEST(DllGuard, SseTrialResultMatchesTheProcessor) {
    auto sse_runs = reinterpret_cast<bool (*)()>(dll_function("__ZN8zeverive8sse_runsEv"));
    ASSERT_NE(sse_runs, nullptr);
    // Twice: the first fault must leave the handler list and the stack as
    // they were.
    EXPECT_EQ(sse_runs(), processor_has_sse());
    EXPECT_EQ(sse_runs(), processor_has_sse());
}

pe_loader::ExceptionRecord seen_record;
pe_loader::Context seen_context;

// Steps over the faulting XORPS (3 bytes) to the trial's RET and changes
// EAX, so the test sees that the context went back into the registers.
int32_t PE_STDCALL step_over(pe_loader::ExceptionPointers* info) {
    seen_record = *info->record;
    seen_context = *info->context;
    info->context->eip += 3;
    info->context->eax = 0x600df00d;
    return pe_loader::kExceptionContinueExecution;
}

typedef void* (PE_STDCALL* AddHandler)(uint32_t first, pe_loader::VectoredHandler handler);
typedef uint32_t (PE_STDCALL* RemoveHandler)(void* handle);

TEST(DllGuard, HandlerSeesTheFaultAndResumesAtItsEip) {
    if (processor_has_sse()) GTEST_SKIP() << "XORPS runs on this processor; the fault is checked on models without SSE";
    void* trial = dll_function("__ZN8zeverive12_GLOBAL__N_111xorps_trialEv");
    ASSERT_NE(trial, nullptr);
    auto add = reinterpret_cast<AddHandler>(pe_loader::find_import("KERNEL32.dll", "AddVectoredExceptionHandler"));
    auto remove = reinterpret_cast<RemoveHandler>(pe_loader::find_import("KERNEL32.dll", "RemoveVectoredExceptionHandler"));
    void* handle = add(1, step_over);

    uint32_t eax, ecx, edx, esi, edi;
    volatile uint32_t marker = 0;
    __asm__ volatile("call *%[trial]"
                     : "=a"(eax), "=c"(ecx), "=d"(edx), "=S"(esi), "=D"(edi)
                     : [trial] "m"(trial), "a"(0x11111111), "c"(0x22222222), "d"(0x33333333), "S"(0x44444444),
                       "D"(0x55555555)
                     : "memory", "cc");
    EXPECT_EQ(remove(handle), 1u);

    EXPECT_EQ(seen_record.code, pe_loader::kStatusIllegalInstruction);
    EXPECT_EQ(seen_record.address, trial);
    EXPECT_EQ(seen_context.eip, reinterpret_cast<uintptr_t>(trial));
    EXPECT_EQ(seen_context.eax, 0x11111111u);
    EXPECT_EQ(seen_context.ecx, 0x22222222u);
    EXPECT_EQ(seen_context.edx, 0x33333333u);
    EXPECT_EQ(seen_context.esi, 0x44444444u);
    EXPECT_EQ(seen_context.edi, 0x55555555u);
    // The call pushed its return address just below this frame's locals.
    const auto frame = reinterpret_cast<uintptr_t>(&marker);
    EXPECT_LT(seen_context.esp, frame);
    EXPECT_LT(frame - seen_context.esp, 4096u);
    EXPECT_EQ(eax, 0x600df00du);
    EXPECT_EQ(esi, 0x44444444u);
    EXPECT_EQ(edi, 0x55555555u);
}

}  // namespace
}  // namespace pe_loader_test
