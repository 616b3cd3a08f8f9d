#include "run/output_file.h"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>

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

std::string system_error(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// The file a path finally names: symbolic links followed, also to a target
// that does not exist yet, which the output then creates.
std::string resolve_links(const std::string& path) {
    std::string current = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat info {};
        if (lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return current;
        std::string link(PATH_MAX, '\0');
        const ssize_t length = readlink(current.c_str(), link.data(), link.size());
        if (length <= 0) return current;
        link.resize(static_cast<size_t>(length));
        const size_t slash = current.rfind('/');
        if (link[0] != '/' && slash != std::string::npos) link = current.substr(0, slash + 1) + link;
        current = link;
    }
    throw Failure(path + ": cannot write: too many levels of symbolic links");
}

std::string directory_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash + 1);
}

std::optional<struct stat> regular_file_status(const std::string& path) {
    struct stat info {};
    const int result = path == "-" ? fstat(STDIN_FILENO, &info) : stat(path.c_str(), &info);
    if (result != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
    return info;
}

// The input among `inputs` that `output` (a regular file) is, or nothing.
std::optional<std::string> input_that_is(const struct stat& output, const std::vector<std::string>& inputs) {
    for (const std::string& input : inputs) {
        const std::optional<struct stat> info = regular_file_status(input);
        if (info && info->st_dev == output.st_dev && info->st_ino == output.st_ino) return input;
    }
    return std::nullopt;
}

// A hidden name beside `target` that fits the directory's limit on name
// length however long the target's own name is: ".NAME.partial-XXXXXX",
// NAME shortened as needed.
std::string temporary_pattern(const std::string& target) {
    static const std::string suffix = ".partial-XXXXXX";
    const size_t slash = target.rfind('/');
    const std::string directory = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    const long limit = pathconf(directory_of(target).c_str(), _PC_NAME_MAX);
    const size_t name_max = limit > 0 ? static_cast<size_t>(limit) : NAME_MAX;
    // Where not even the suffix fits, creating the temporary fails and says so.
    const size_t room = name_max > 1 + suffix.size() ? name_max - 1 - suffix.size() : 0;
    if (base.size() > room) base.resize(room);
    return directory + "." + base + suffix;
}

// Fills the XXXXXX at the end of `pattern` with letters that differ from
// call to call.
std::string fill_pattern(std::string pattern) {
    static const char letters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    static unsigned long counter = 0;
    struct timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    unsigned long value = static_cast<unsigned long>(now.tv_nsec) ^ (static_cast<unsigned long>(getpid()) << 20) ^
                          (++counter * 2654435761u);
    for (size_t i = pattern.size() - 6; i < pattern.size(); ++i) {
        pattern[i] = letters[value % 36];
        value /= 36;
    }
    return pattern;
}

int connect_socket(const std::string& path) {
    struct sockaddr_un address {};
    if (path.size() >= sizeof address.sun_path) {
        errno = ENAMETOOLONG;
        return -1;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (connect(fd, reinterpret_cast<const struct sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

}  // namespace

bool same_file(const std::string& a, const std::string& b) {
    const std::optional<struct stat> first = regular_file_status(a);
    const std::optional<struct stat> second = regular_file_status(b);
    return first && second && first->st_dev == second->st_dev && first->st_ino == second->st_ino;
}

bool OutputFile::same_target(const OutputFile& other) const {
    if (direct_ || other.direct_) return false;
    const std::string name = target_.substr(target_.rfind('/') + 1);
    if (name != other.target_.substr(other.target_.rfind('/') + 1)) return false;
    struct stat directory {}, other_directory {};
    return stat(directory_of(target_).c_str(), &directory) == 0 &&
           stat(directory_of(other.target_).c_str(), &other_directory) == 0 &&
           directory.st_dev == other_directory.st_dev && directory.st_ino == other_directory.st_ino;
}

void remove_temporaries_on_signals() {
    owner_pid = getpid();
    struct sigaction action {};
    action.sa_handler = on_fatal_signal;
    sigemptyset(&action.sa_mask);
    // The faults too: a plug-in that crashes in this process must not
    // leave the temporary behind either. A signal that already has a
    // handler, or is ignored, stays as it is: a plug-in loader may be
    // handling the plug-in's own faults there.
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) {
        struct sigaction current {};
        if (sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
            sigaction(signal_number, &action, nullptr);
    }
}

OutputFile::OutputFile(const std::string& path, const std::vector<std::string>& inputs, const std::string& role)
    : name_(path == "-" ? "standard output" : path) {
    buffer_.reserve(kBufferBytes);
    const std::string refusal = ": this is an input file; the " + role + " needs another name";
    if (path == "-") {
        if (isatty(STDOUT_FILENO)) throw Failure("standard output is a terminal; give an output file or a pipe");
        struct stat info {};
        if (fstat(STDOUT_FILENO, &info) == 0 && S_ISREG(info.st_mode)) {
            if (const std::optional<std::string> input = input_that_is(info, inputs))
                throw Failure("standard output is the input file " + (*input == "-" ? "on standard input" : *input) +
                              "; the " + role + " needs another place");
        }
        fd_ = STDOUT_FILENO;
        direct_ = true;
        return;
    }
    for (const std::string& input : inputs) {
        if (input == path) throw Failure(path + refusal);
    }
    target_ = resolve_links(path);
    struct stat info {};
    if (stat(target_.c_str(), &info) != 0) {
        open_temporary(target_, false);
        return;
    }
    if (S_ISDIR(info.st_mode)) throw Failure(path + ": cannot write: it is a directory");
    if (const std::optional<std::string> input = S_ISREG(info.st_mode) ? input_that_is(info, inputs) : std::nullopt) {
        if (*input == "-") throw Failure(path + ": standard input is this file; the " + role + " needs another name");
        throw Failure(path + refusal);
    }
    if (access(target_.c_str(), W_OK) != 0) throw Failure(system_error(path + ": cannot write"));
    if (S_ISREG(info.st_mode)) {
        open_temporary(target_, true);
        // The replacement is what the file was: owner first, since a
        // change of owner clears the set-user-ID and set-group-ID bits.
        // Only root may give it another owner, and only a member another
        // group; otherwise it is the user's, like any new file.
        if (fchown(fd_, info.st_uid, info.st_gid) != 0) (void)!fchown(fd_, static_cast<uid_t>(-1), info.st_gid);
        fchmod(fd_, info.st_mode & 07777);
        return;
    }
    open_direct(target_);
}

void OutputFile::open_direct(const std::string& target) {
    struct stat info {};
    stat(target.c_str(), &info);
    fd_ = S_ISSOCK(info.st_mode) ? connect_socket(target) : ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (fd_ < 0) throw Failure(system_error(name_ + ": cannot write"));
    direct_ = true;
}

void OutputFile::open_temporary(const std::string& target, bool replaces) {
    const mode_t mask = umask(0);
    umask(mask);
    const mode_t mode = 0666 & ~mask;
    // Without a name the file cannot outlive the process; it is linked in
    // through /proc at the end, so that must work too.
    fd_ = ::open(directory_of(target).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    if (fd_ >= 0 && access(("/proc/self/fd/" + std::to_string(fd_)).c_str(), F_OK) == 0) {
        anonymous_ = true;
        return;
    }
    if (fd_ >= 0) ::close(fd_);
    std::string pattern = temporary_pattern(target);
    fd_ = mkostemp(pattern.data(), O_CLOEXEC);
    if (fd_ < 0) throw Failure(system_error(name_ + (replaces ? ": cannot replace" : ": cannot create")));
    temporary_ = pattern;
    register_temporary(temporary_);
    // mkostemp makes the file private; a new file gets the usual
    // permissions.
    fchmod(fd_, mode);
}

OutputFile::~OutputFile() {
    if (committed_) return;
    if (fd_ >= 0 && fd_ != STDOUT_FILENO) ::close(fd_);
    if (!temporary_.empty()) {
        unlink(temporary_.c_str());
        unregister_temporary(temporary_);
    }
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
            throw IoError(system_error("cannot write"));
        }
        bytes += done;
        left -= static_cast<size_t>(done);
    }
    buffer_.clear();
}

void OutputFile::link_into_place() {
    // A name cannot be given to a nameless file over an existing one, so
    // it gets a hidden name of its own first and is then renamed; only
    // in that moment does a name exist that a kill could leave behind.
    const std::string proc_path = "/proc/self/fd/" + std::to_string(fd_);
    const std::string pattern = temporary_pattern(target_);
    for (;;) {
        temporary_ = fill_pattern(pattern);
        if (linkat(AT_FDCWD, proc_path.c_str(), AT_FDCWD, temporary_.c_str(), AT_SYMLINK_FOLLOW) == 0) break;
        if (errno != EEXIST) {
            temporary_.clear();
            throw Failure(system_error(name_ + ": cannot move the finished file into place"));
        }
    }
    register_temporary(temporary_);
}

void OutputFile::commit() {
    try {
        flush();
    } catch (const IoError& error) {
        throw Failure(name_ + ": " + error.what());
    }
    if (direct_) {
        const int fd = fd_;
        fd_ = -1;
        if (fd != STDOUT_FILENO && ::close(fd) != 0) throw Failure(system_error(name_ + ": cannot write"));
        committed_ = true;
        return;
    }
    if (anonymous_) link_into_place();
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) throw Failure(system_error(name_ + ": cannot write"));
    if (rename(temporary_.c_str(), target_.c_str()) != 0)
        throw Failure(system_error(name_ + ": cannot move the finished file into place"));
    committed_ = true;
    unregister_temporary(temporary_);
}

}  // namespace zeverive::cli
