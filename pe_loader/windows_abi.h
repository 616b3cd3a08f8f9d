// What the DLL's code sees of the system it believes it runs on: the
// records it reads or fills, at the offsets its compiler laid them out, and
// the constants it passes.
#pragma once

#include <cstddef>
#include <cstdint>

#define PE_STDCALL __attribute__((stdcall))

namespace pe_loader {

constexpr uint32_t kDllProcessDetach = 0;
constexpr uint32_t kDllProcessAttach = 1;

constexpr uint32_t kStatusIllegalInstruction = 0xC000001D;
constexpr int32_t kExceptionContinueExecution = -1;
constexpr int32_t kExceptionContinueSearch = 0;

constexpr uint32_t kContextI386 = 0x00010000;
constexpr uint32_t kContextControl = kContextI386 | 0x01;
constexpr uint32_t kContextInteger = kContextI386 | 0x02;
constexpr uint32_t kContextSegments = kContextI386 | 0x04;
constexpr uint32_t kContextFloatingPoint = kContextI386 | 0x08;

constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorModNotFound = 126;
constexpr uint32_t kErrorProcNotFound = 127;
constexpr uint32_t kErrorInvalidAddress = 487;

constexpr uint32_t kPageNoAccess = 0x01;
constexpr uint32_t kPageReadOnly = 0x02;
constexpr uint32_t kPageReadWrite = 0x04;
constexpr uint32_t kPageWriteCopy = 0x08;
constexpr uint32_t kPageExecute = 0x10;
constexpr uint32_t kPageExecuteRead = 0x20;
constexpr uint32_t kPageExecuteReadWrite = 0x40;
constexpr uint32_t kPageExecuteWriteCopy = 0x80;
constexpr uint32_t kMemCommit = 0x1000;
constexpr uint32_t kMemImage = 0x1000000;

constexpr int kTlsSlotCount = 64;

// The thread environment block that %fs points at. Only the fields below
// are given values; the rest reads as zero.
struct ThreadBlock {
    void* exception_list;  // end of the frame-based handler chain: 0xFFFFFFFF
    void* stack_base;
    void* stack_limit;
    uint8_t unused_0c[0x18 - 0x0c];
    ThreadBlock* self;
    uint8_t unused_1c[0x2c - 0x1c];
    void** thread_local_storage;  // implicit TLS: one block per module, by index
    void* process_block;
    uint32_t last_error;
    uint8_t unused_38[0xe10 - 0x38];
    void* tls_slots[kTlsSlotCount];  // TlsGetValue's slots
    uint8_t unused_f10[0x1000 - 0xf10];
};
static_assert(offsetof(ThreadBlock, self) == 0x18, "thread block layout");
static_assert(offsetof(ThreadBlock, thread_local_storage) == 0x2c, "thread block layout");
static_assert(offsetof(ThreadBlock, process_block) == 0x30, "thread block layout");
static_assert(offsetof(ThreadBlock, last_error) == 0x34, "thread block layout");
static_assert(offsetof(ThreadBlock, tls_slots) == 0xe10, "thread block layout");

struct ExceptionRecord {
    uint32_t code;
    uint32_t flags;
    ExceptionRecord* next;
    void* address;
    uint32_t parameter_count;
    uint32_t parameters[15];
};
static_assert(sizeof(ExceptionRecord) == 80, "exception record layout");

struct FloatingSaveArea {
    uint32_t control_word;
    uint32_t status_word;
    uint32_t tag_word;
    uint32_t error_offset;
    uint32_t error_selector;
    uint32_t data_offset;
    uint32_t data_selector;
    uint8_t registers[80];
    uint32_t cr0_npx_state;
};

struct Context {
    uint32_t flags;
    uint32_t debug_registers[6];
    FloatingSaveArea float_save;
    uint32_t gs, fs, es, ds;
    uint32_t edi, esi, ebx, edx, ecx, eax;
    uint32_t ebp, eip, cs, eflags, esp, ss;
    uint8_t extended_registers[512];
};
static_assert(offsetof(Context, float_save) == 28, "context layout");
static_assert(offsetof(Context, gs) == 140, "context layout");
static_assert(offsetof(Context, edi) == 156, "context layout");
static_assert(offsetof(Context, eax) == 176, "context layout");
static_assert(offsetof(Context, eip) == 184, "context layout");
static_assert(offsetof(Context, esp) == 196, "context layout");
static_assert(sizeof(Context) == 716, "context layout");

struct ExceptionPointers {
    ExceptionRecord* record;
    Context* context;
};

typedef int32_t(PE_STDCALL* VectoredHandler)(ExceptionPointers* info);

struct CriticalSection {
    void* debug_info;
    int32_t lock_count;
    int32_t recursion_count;
    uint32_t owning_thread;
    void* lock_semaphore;
    uint32_t spin_count;
};
static_assert(sizeof(CriticalSection) == 24, "critical section layout");

struct MemoryInformation {
    void* base;
    void* allocation_base;
    uint32_t allocation_protection;
    uint32_t region_size;
    uint32_t state;
    uint32_t protection;
    uint32_t type;
};
static_assert(sizeof(MemoryInformation) == 28, "memory information layout");

}  // namespace pe_loader
