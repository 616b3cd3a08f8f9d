// Where the format writers send their bytes: an output file or, in tests,
// memory.
#pragma once

#include <cstddef>
#include <string>

namespace zeverive::cli {

class ByteSink {
public:
    virtual ~ByteSink() = default;
    // Writes all `size` bytes or throws IoError (the caller names the file
    // and the frame).
    virtual void write(const void* data, size_t size) = 0;
};

class StringSink : public ByteSink {
public:
    void write(const void* data, size_t size) override {
        bytes.append(static_cast<const char*>(data), size);
    }
    std::string bytes;
};

}  // namespace zeverive::cli
