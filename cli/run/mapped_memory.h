// Memory for frames, mapped rather than allocated: it is taken from the
// system page by page as it is first written, and reserves nothing before,
// so a header promising huge frames costs nothing until their data arrives
// and large frames need only the memory they use. Shared memory is seen by
// both processes after a fork.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zeverive::cli {

// Unmaps its memory when it goes.
class MappedMemory {
public:
    enum class Sharing { kPrivate, kShared };
    // Throws std::bad_alloc when the system refuses, as any allocation
    // does; the caller names the file and frame.
    MappedMemory(size_t bytes, Sharing sharing);
    MappedMemory(MappedMemory&& other) noexcept : data_(other.data_), bytes_(other.bytes_) { other.data_ = nullptr; }
    MappedMemory& operator=(MappedMemory&&) = delete;
    MappedMemory(const MappedMemory&) = delete;
    MappedMemory& operator=(const MappedMemory&) = delete;
    ~MappedMemory();

    uint8_t* data() const { return data_; }

private:
    uint8_t* data_;
    size_t bytes_;
};

}  // namespace zeverive::cli
