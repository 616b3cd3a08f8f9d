// Buffered reading from a file, a pipe or memory, with the small look-ahead
// the format readers need (the stream's first bytes, a header line).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zeverive::cli {

class ByteInput {
public:
    // "-" is standard input. Throws Failure naming the file when it cannot
    // be opened.
    static std::unique_ptr<ByteInput> open(const std::string& path);
    // Reads `size` bytes at `data`, which must outlive the input.
    static std::unique_ptr<ByteInput> from_memory(const uint8_t* data, size_t size, std::string name);

    ~ByteInput();
    ByteInput(const ByteInput&) = delete;
    ByteInput& operator=(const ByteInput&) = delete;

    // How messages name this input: the path, or "standard input".
    const std::string& name() const { return name_; }
    // The total length in bytes when it is known in advance (regular files
    // and memory), so that progress can show the time left.
    std::optional<uint64_t> total_size() const { return total_size_; }

    // Up to `count` bytes ahead, without consuming them; fewer only at the
    // end of the input.
    std::string_view peek(size_t count);

    enum class Line { kRead, kEnd, kUnterminated, kTooLong };
    // Reads up to and including the next '\n', which is not stored.
    // kEnd: the input ended before any byte. kUnterminated: it ended inside
    // the line. kTooLong: no '\n' within `max_length` bytes.
    Line read_line(std::string& line, size_t max_length);

    // Reads up to `count` bytes; fewer only at the end of the input.
    size_t read(uint8_t* destination, size_t count);
    // Passes over up to `count` bytes, as read() would; a regular file
    // moves on without reading them.
    uint64_t skip(uint64_t count);

    // Bytes consumed so far.
    uint64_t position() const { return consumed_; }

private:
    ByteInput(int fd, bool owns_fd, std::string name);
    // Adds bytes to the buffer; false at the end of the input. Throws
    // IoError when the operating system refuses.
    bool fill();

    int fd_ = -1;
    bool owns_fd_ = false;
    std::string name_;
    std::optional<uint64_t> total_size_;
    std::vector<uint8_t> buffer_;
    size_t begin_ = 0;
    size_t end_ = 0;
    bool at_end_ = false;
    uint64_t consumed_ = 0;
};

}  // namespace zeverive::cli
