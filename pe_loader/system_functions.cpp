#include "system_functions.h"

#include <strings.h>
#include <unistd.h>

#include <cstdint>
#include <ctime>

#include "exception_dispatch.h"
#include "pe_image.h"
#include "thread_block.h"
#include "windows_abi.h"

#define FROM_DLL PE_STDCALL __attribute__((force_align_arg_pointer))

namespace pe_loader {
namespace {

void set_last_error(uint32_t error) {
    thread_block().last_error = error;
}

FROM_DLL uint32_t get_last_error() {
    return thread_block().last_error;
}

FROM_DLL void* add_vectored_exception_handler(uint32_t first, VectoredHandler handler) {
    return add_vectored_handler(first != 0, handler);
}

FROM_DLL uint32_t remove_vectored_exception_handler(void* handle) {
    return remove_vectored_handler(handle) ? 1 : 0;
}

// One thread runs the DLL, so a critical section never waits: it only
// counts how often its owner has entered it.
FROM_DLL void initialize_critical_section(CriticalSection* section) {
    *section = CriticalSection{nullptr, -1, 0, 0, nullptr, 0};
}

FROM_DLL void delete_critical_section(CriticalSection*) {}

FROM_DLL void enter_critical_section(CriticalSection* section) {
    ++section->lock_count;
    ++section->recursion_count;
    section->owning_thread = static_cast<uint32_t>(gettid());
}

FROM_DLL void leave_critical_section(CriticalSection* section) {
    --section->lock_count;
    if (--section->recursion_count == 0) section->owning_thread = 0;
}

FROM_DLL void* tls_get_value(uint32_t index) {
    if (index >= kTlsSlotCount) {
        set_last_error(kErrorInvalidParameter);
        return nullptr;
    }
    set_last_error(0);
    return thread_block().tls_slots[index];
}

// The DLL's runtime looks for helper DLLs of its compiler (shared unwinder,
// thread library); it links everything in, so "not there" is the answer.
FROM_DLL void* load_library(const char*) {
    set_last_error(kErrorModNotFound);
    return nullptr;
}

FROM_DLL void* get_module_handle(const char* name) {
    LoadedImage* image = name ? LoadedImage::named(name) : nullptr;
    if (!image) {
        set_last_error(kErrorModNotFound);
        return nullptr;
    }
    return image->base();
}

FROM_DLL int32_t free_library(void* module) {
    if (!LoadedImage::at(module)) {
        set_last_error(kErrorInvalidHandle);
        return 0;
    }
    return 1;
}

FROM_DLL void* get_proc_address(void* module, const char* name) {
    LoadedImage* image = LoadedImage::at(module);
    const uintptr_t ordinal = reinterpret_cast<uintptr_t>(name);
    void* function = !image          ? nullptr
                     : ordinal < 0x10000 ? image->export_by_ordinal(static_cast<uint32_t>(ordinal))
                                         : image->export_by_name(name);
    if (!function) set_last_error(kErrorProcNotFound);
    return function;
}

FROM_DLL void sleep_for(uint32_t milliseconds) {
    const timespec duration = {static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000};
    nanosleep(&duration, nullptr);
}

// Only the DLLs' own pages are known; the DLL's runtime asks about nothing else.
FROM_DLL uint32_t virtual_query(const void* address, MemoryInformation* information, uint32_t length) {
    LoadedImage* image = LoadedImage::containing(address);
    if (!image || length < sizeof(MemoryInformation)) {
        set_last_error(kErrorInvalidParameter);
        return 0;
    }
    const uintptr_t page = reinterpret_cast<uintptr_t>(address) & ~uintptr_t{4095};
    information->base = reinterpret_cast<void*>(page);
    information->allocation_base = image->base();
    information->allocation_protection = kPageExecuteWriteCopy;
    information->region_size = image->region_size(information->base);
    information->state = kMemCommit;
    information->protection = image->page_protection(information->base);
    information->type = kMemImage;
    return sizeof(MemoryInformation);
}

FROM_DLL int32_t virtual_protect(void* address, uint32_t size, uint32_t protection, uint32_t* previous) {
    LoadedImage* image = LoadedImage::containing(address);
    if (!image) {
        set_last_error(kErrorInvalidAddress);
        return 0;
    }
    if (!image->change_protection(address, size, protection, previous)) {
        set_last_error(kErrorInvalidParameter);
        return 0;
    }
    return 1;
}

}  // namespace

const std::vector<Import>& system_functions() {
    static const std::vector<Import> table = {
        {"AddVectoredExceptionHandler", reinterpret_cast<const void*>(&add_vectored_exception_handler)},
        {"RemoveVectoredExceptionHandler", reinterpret_cast<const void*>(&remove_vectored_exception_handler)},
        {"InitializeCriticalSection", reinterpret_cast<const void*>(&initialize_critical_section)},
        {"DeleteCriticalSection", reinterpret_cast<const void*>(&delete_critical_section)},
        {"EnterCriticalSection", reinterpret_cast<const void*>(&enter_critical_section)},
        {"LeaveCriticalSection", reinterpret_cast<const void*>(&leave_critical_section)},
        {"TlsGetValue", reinterpret_cast<const void*>(&tls_get_value)},
        {"GetLastError", reinterpret_cast<const void*>(&get_last_error)},
        {"LoadLibraryA", reinterpret_cast<const void*>(&load_library)},
        {"GetModuleHandleA", reinterpret_cast<const void*>(&get_module_handle)},
        {"FreeLibrary", reinterpret_cast<const void*>(&free_library)},
        {"GetProcAddress", reinterpret_cast<const void*>(&get_proc_address)},
        {"Sleep", reinterpret_cast<const void*>(&sleep_for)},
        {"VirtualQuery", reinterpret_cast<const void*>(&virtual_query)},
        {"VirtualProtect", reinterpret_cast<const void*>(&virtual_protect)},
    };
    return table;
}

}  // namespace pe_loader
