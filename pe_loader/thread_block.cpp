#include "thread_block.h"

#include <asm/ldt.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

#include "load_error.h"

namespace pe_loader {
namespace {

ThreadBlock* installed;
void* module_tls[kTlsSlotCount];

// Code reads the process block through the thread block; it gets a page of
// zeros, which says "nothing special" for every field it might look at.
constexpr size_t kProcessBlockSize = 4096;

void record_stack_bounds(ThreadBlock& block) {
    pthread_attr_t attributes;
    void* lowest = nullptr;
    size_t size = 0;
    if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
        pthread_attr_getstack(&attributes, &lowest, &size);
        pthread_attr_destroy(&attributes);
    }
    block.stack_limit = lowest;
    block.stack_base = static_cast<char*>(lowest) + size;
}

// A GDT entry of the thread-local kind, covering the block's page, and
// %fs loaded with its selector. glibc's i386 TLS uses %gs, so %fs is free.
void load_segment(ThreadBlock* block) {
    user_desc descriptor = {};
    descriptor.entry_number = static_cast<unsigned>(-1);
    descriptor.base_addr = reinterpret_cast<uintptr_t>(block);
    descriptor.limit = sizeof(ThreadBlock) - 1;
    descriptor.seg_32bit = 1;
    descriptor.useable = 1;
    if (syscall(SYS_set_thread_area, &descriptor) != 0)
        throw LoadError(std::string("cannot give the DLL a thread block: set_thread_area: ") + std::strerror(errno));
    const uint16_t selector = static_cast<uint16_t>(descriptor.entry_number * 8 + 3);
    __asm__ volatile("movw %0, %%fs" : : "r"(selector));
}

}  // namespace

ThreadBlock& thread_block() {
    if (installed) return *installed;
    void* memory = mmap(nullptr, sizeof(ThreadBlock) + kProcessBlockSize, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) throw LoadError("cannot allocate the DLL's thread block");
    auto* block = new (memory) ThreadBlock{};
    block->exception_list = reinterpret_cast<void*>(~uintptr_t{0});
    record_stack_bounds(*block);
    block->self = block;
    block->thread_local_storage = module_tls;
    block->process_block = static_cast<char*>(memory) + sizeof(ThreadBlock);
    load_segment(block);
    installed = block;
    return *block;
}

int claim_tls_index(void* data) {
    for (int index = 0; index < kTlsSlotCount; ++index) {
        if (!module_tls[index]) {
            module_tls[index] = data;
            return index;
        }
    }
    return -1;
}

void release_tls_index(int index) {
    module_tls[index] = nullptr;
}

}  // namespace pe_loader
