#include "run/mapped_memory.h"

#include <sys/mman.h>

#include <new>

namespace zeverive::cli {

MappedMemory::MappedMemory(size_t bytes, Sharing sharing) : bytes_(bytes) {
    const int visibility = sharing == Sharing::kShared ? MAP_SHARED : MAP_PRIVATE;
    void* memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, visibility | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (memory == MAP_FAILED) throw std::bad_alloc();
    data_ = static_cast<uint8_t*>(memory);
}

MappedMemory::~MappedMemory() {
    if (data_) munmap(data_, bytes_);
}

}  // namespace zeverive::cli
