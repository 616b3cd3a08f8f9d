#include "output_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "failure.h"

namespace zeverive::cli {
namespace {

constexpr size_t kBufferBytes = 1 << 20;

// Temporary names for the signal handler, which may only use what is
// async-signal-safe: fixed storage and unlink.
constexpr int kMaxTemporaries = 4;
constexpr size_t kMaxPath = 4096;
char temporaries[kMaxTemporaries][kMaxPath];
volatile sig_atomic_t temporary_in_use[kMaxTemporaries];
// Forked workers inherit the handler; only the process that made the
// files removes them.
pid_t owner_pid = 0;

void register_temporary(const std::string& path) {
    if (path.size() >= kMaxPath) return;
    for (int i = 0; i < kMaxTemporaries; ++i) {
        if (temporary_in_use[i]) continue;
        std::memcpy(temporaries[i], path.c_str(), path.size() + 1);
        temporary_in_use[i] = 1;
        return;
    }
}

void unregister_temporary(const std::string& path) {
    for (int i = 0; i < kMaxTemporaries; ++i) {
        if (temporary_in_use[i] && path == temporaries[i]) temporary_in_use[i] = 0;
    }
}

void on_fatal_signal(int signal_number) {
    if (getpid() == owner_pid) {
        for (int i = 0; i < kMaxTemporaries; ++i) {
            if (temporary_in_use[i]) unlink(temporaries[i]);
        }
        if (signal_number != SIGINT && signal_number != SIGTERM && signal_number != SIGHUP) {
            static const char message[] = "zeverive: crashed; no output was written\n";
            ssize_t ignored = write(STDERR_FILENO, message, sizeof message - 1);
            (void)ignored;
        }
    }
    signal(signal_number, SIG_DFL);
    raise(signal_number);
}

}  // namespace

bool same_file(const std::string& a, const std::string& b) {
    struct stat first {}, second {};
    if (stat(a.c_str(), &first) != 0 || stat(b.c_str(), &second) != 0) return false;
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

void remove_temporaries_on_signals() {
    owner_pid = getpid();
    struct sigaction action {};
    action.sa_handler = on_fatal_signal;
    sigemptyset(&action.sa_mask);
    // The faults too: a plug-in that crashes in this process must not
    // leave the temporary behind either.
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT})
        sigaction(signal_number, &action, nullptr);
}

OutputFile::OutputFile(const std::string& path, const std::vector<std::string>& must_not_replace)
    : path_(path), name_(path == "-" ? "standard output" : path) {
    buffer_.reserve(kBufferBytes);
    if (path == "-") {
        if (isatty(STDOUT_FILENO)) throw Failure("standard output is a terminal; give an output file or a pipe");
        fd_ = STDOUT_FILENO;
        return;
    }
    for (const std::string& input : must_not_replace) {
        if (input != "-" && (input == path || same_file(input, path)))
            throw Failure(path + ": this is an input file; the output needs another name");
    }
    struct stat info {};
    if (stat(path.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) throw Failure(path + ": cannot write: it is a directory");
        if (access(path.c_str(), W_OK) != 0) throw Failure(path + ": cannot write: " + std::strerror(errno));
    }

    const size_t slash = path.rfind('/');
    const std::string directory = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string pattern = directory + "." + base + ".partial-XXXXXX";
    fd_ = mkostemp(pattern.data(), O_CLOEXEC);
    if (fd_ < 0) throw Failure(path + ": cannot create: " + std::strerror(errno));
    temporary_ = pattern;
    register_temporary(temporary_);
    // mkostemp makes the file private; the finished file gets the usual
    // permissions.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd_, 0666 & ~mask);
}

OutputFile::~OutputFile() {
    if (temporary_.empty() || committed_) return;
    ::close(fd_);
    unlink(temporary_.c_str());
    unregister_temporary(temporary_);
}

void OutputFile::write(const void* data, size_t size) {
    if (buffer_.size() + size > kBufferBytes) flush();
    if (size >= kBufferBytes) {
        buffer_.assign(static_cast<const char*>(data), static_cast<const char*>(data) + size);
        flush();
        return;
    }
    buffer_.insert(buffer_.end(), static_cast<const char*>(data), static_cast<const char*>(data) + size);
}

void OutputFile::flush() {
    const char* bytes = buffer_.data();
    size_t left = buffer_.size();
    while (left > 0) {
        const ssize_t done = ::write(fd_, bytes, left);
        if (done < 0) {
            if (errno == EINTR) continue;
            throw Failure(name_ + ": cannot write: " + std::strerror(errno));
        }
        bytes += done;
        left -= static_cast<size_t>(done);
    }
    buffer_.clear();
}

void OutputFile::commit() {
    flush();
    if (temporary_.empty()) return;
    if (::close(fd_) != 0) {
        fd_ = -1;
        throw Failure(name_ + ": cannot write: " + std::strerror(errno));
    }
    fd_ = -1;
    if (rename(temporary_.c_str(), path_.c_str()) != 0)
        throw Failure(name_ + ": cannot move the finished file into place: " + std::strerror(errno));
    committed_ = true;
    unregister_temporary(temporary_);
}

}  // namespace zeverive::cli
