// Descriptors with an owner, and whole transfers over pipes.
#pragma once

#include <cstddef>
#include <optional>

namespace zeverive::cli {

// Closes its descriptor when it goes, so no path out of a function leaks one.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return fd_; }
    void reset();

private:
    int fd_ = -1;
};

struct Pipe {
    UniqueFd read_end;
    UniqueFd write_end;
};

// Nothing, with errno set, when the system refuses.
std::optional<Pipe> open_pipe();

// False when the other end has gone (end of input, or EPIPE on output);
// other errors throw IoError.
bool read_all(int fd, void* data, size_t size);
bool write_all(int fd, const void* data, size_t size);

}  // namespace zeverive::cli
