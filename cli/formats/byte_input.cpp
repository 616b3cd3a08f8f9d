#include "formats/byte_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "failure.h"

namespace zeverive::cli {
namespace {

constexpr size_t kChunk = 1 << 16;

}  // namespace

std::unique_ptr<ByteInput> ByteInput::open(const std::string& path) {
    if (path == "-") return std::unique_ptr<ByteInput>(new ByteInput(STDIN_FILENO, false, "standard input"));
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw Failure(path + ": cannot open: " + std::strerror(errno));
    struct stat info {};
    if (fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
        ::close(fd);
        throw Failure(path + ": cannot read: it is a directory");
    }
    auto input = std::unique_ptr<ByteInput>(new ByteInput(fd, true, path));
    if (S_ISREG(info.st_mode)) input->total_size_ = static_cast<uint64_t>(info.st_size);
    return input;
}

std::unique_ptr<ByteInput> ByteInput::from_memory(const uint8_t* data, size_t size, std::string name) {
    auto input = std::unique_ptr<ByteInput>(new ByteInput(-1, false, std::move(name)));
    input->buffer_.assign(data, data + size);
    input->end_ = size;
    input->at_end_ = true;
    input->total_size_ = size;
    return input;
}

ByteInput::ByteInput(int fd, bool owns_fd, std::string name) : fd_(fd), owns_fd_(owns_fd), name_(std::move(name)) {}

ByteInput::~ByteInput() {
    if (owns_fd_) ::close(fd_);
}

bool ByteInput::fill() {
    if (at_end_) return false;
    // Keep unread bytes at the front so the buffer never grows past what a
    // look-ahead asked for plus one chunk.
    if (begin_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    if (buffer_.size() < end_ + kChunk) buffer_.resize(end_ + kChunk);
    for (;;) {
        const ssize_t got = ::read(fd_, buffer_.data() + end_, kChunk);
        if (got > 0) {
            end_ += static_cast<size_t>(got);
            return true;
        }
        if (got == 0) {
            at_end_ = true;
            return false;
        }
        if (errno == EINTR) continue;
        throw IoError(std::string("cannot read: ") + std::strerror(errno));
    }
}

std::string_view ByteInput::peek(size_t count) {
    while (end_ - begin_ < count && fill()) {
    }
    return std::string_view(reinterpret_cast<const char*>(buffer_.data() + begin_),
                            std::min(count, end_ - begin_));
}

ByteInput::Line ByteInput::read_line(std::string& line, size_t max_length) {
    line.clear();
    size_t scanned = 0;
    for (;;) {
        const auto* start = buffer_.data() + begin_;
        const size_t available = end_ - begin_;
        const size_t limit = std::min(available, max_length + 1);
        const void* newline = scanned < limit ? std::memchr(start + scanned, '\n', limit - scanned) : nullptr;
        if (newline) {
            const size_t length = static_cast<const uint8_t*>(newline) - start;
            line.assign(reinterpret_cast<const char*>(start), length);
            begin_ += length + 1;
            consumed_ += length + 1;
            return Line::kRead;
        }
        scanned = limit;
        if (available > max_length) return Line::kTooLong;
        if (!fill()) {
            if (end_ == begin_) return Line::kEnd;
            line.assign(reinterpret_cast<const char*>(buffer_.data() + begin_), end_ - begin_);
            consumed_ += end_ - begin_;
            begin_ = end_;
            return Line::kUnterminated;
        }
    }
}

uint64_t ByteInput::skip(uint64_t count) {
    const size_t buffered = static_cast<size_t>(std::min<uint64_t>(count, end_ - begin_));
    begin_ += buffered;
    consumed_ += buffered;
    uint64_t done = buffered;
    if (done < count && total_size_ && fd_ >= 0 && !at_end_) {
        const off_t here = ::lseek(fd_, 0, SEEK_CUR);
        if (here >= 0) {
            const uint64_t left = *total_size_ > static_cast<uint64_t>(here) ? *total_size_ - here : 0;
            const uint64_t step = std::min(count - done, left);
            if (::lseek(fd_, static_cast<off_t>(step), SEEK_CUR) >= 0) {
                done += step;
                consumed_ += step;
            }
        }
    }
    std::vector<uint8_t> scratch;
    while (done < count) {
        scratch.resize(static_cast<size_t>(std::min<uint64_t>(count - done, kChunk)));
        const size_t got = read(scratch.data(), scratch.size());
        if (got == 0) break;
        done += got;
    }
    return done;
}

size_t ByteInput::read(uint8_t* destination, size_t count) {
    size_t done = 0;
    while (done < count) {
        if (begin_ == end_) {
            // Large reads bypass the buffer.
            if (at_end_) break;
            if (count - done >= kChunk && fd_ >= 0) {
                const ssize_t got = ::read(fd_, destination + done, count - done);
                if (got > 0) {
                    done += static_cast<size_t>(got);
                    consumed_ += static_cast<size_t>(got);
                    continue;
                }
                if (got == 0) {
                    at_end_ = true;
                    break;
                }
                if (errno == EINTR) continue;
                throw IoError(std::string("cannot read: ") + std::strerror(errno));
            }
            if (!fill()) break;
            continue;
        }
        const size_t take = std::min(count - done, end_ - begin_);
        std::memcpy(destination + done, buffer_.data() + begin_, take);
        begin_ += take;
        done += take;
        consumed_ += take;
    }
    return done;
}

}  // namespace zeverive::cli
