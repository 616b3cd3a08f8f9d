#include "run/posix_io.h"

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "failure.h"

namespace zeverive::cli {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        reset();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

void UniqueFd::reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

std::optional<Pipe> open_pipe() {
    int ends[2];
    if (::pipe(ends) != 0) return std::nullopt;
    return Pipe{UniqueFd(ends[0]), UniqueFd(ends[1])};
}

bool read_all(int fd, void* data, size_t size) {
    auto* bytes = static_cast<uint8_t*>(data);
    while (size > 0) {
        const ssize_t got = ::read(fd, bytes, size);
        if (got > 0) {
            bytes += got;
            size -= static_cast<size_t>(got);
        } else if (got == 0) {
            return false;
        } else if (errno != EINTR) {
            throw IoError(std::strerror(errno));
        }
    }
    return true;
}

bool write_all(int fd, const void* data, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t done = ::write(fd, bytes, size);
        if (done > 0) {
            bytes += done;
            size -= static_cast<size_t>(done);
        } else if (done < 0 && errno == EPIPE) {
            return false;
        } else if (done < 0 && errno != EINTR) {
            throw IoError(std::strerror(errno));
        }
    }
    return true;
}

}  // namespace zeverive::cli
