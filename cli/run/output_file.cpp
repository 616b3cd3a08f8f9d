#include "run/output_file.h"

#include <fcntl.h>
#include <limits.h>
#include <linux/capability.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <optional>
#include <regex>

#include "failure.h"

namespace zeverive::cli {
namespace {

constexpr size_t kBufferBytes = 1 << 20;

// Temporary names, each in its held directory, for the signal handler,
// which may only use what is async-signal-safe: fixed storage and unlinkat.
constexpr int kMaxTemporaries = 4;
constexpr size_t kMaxName = NAME_MAX + 1;
char temporaries[kMaxTemporaries][kMaxName];
int temporary_directories[kMaxTemporaries];
volatile sig_atomic_t temporary_in_use[kMaxTemporaries];
// Forked workers inherit the handler; only the process that made the
// files removes them.
pid_t owner_pid = 0;
// A stop (SIGINT, SIGTERM, SIGHUP) that comes, on any thread, between a
// temporary's creation and its registration would leave the file behind:
// it waits, and is raised again once the file is registered.
std::atomic<int> naming_temporary{0};
std::atomic<int> waiting_stop{0};

// While one lives, a temporary is being named and a stop waits.
class NamingTemporary {
public:
    NamingTemporary() { naming_temporary.store(1); }
    ~NamingTemporary() {
        naming_temporary.store(0);
        if (const int stop = waiting_stop.exchange(0)) raise(stop);
    }
    NamingTemporary(const NamingTemporary&) = delete;
    NamingTemporary& operator=(const NamingTemporary&) = delete;
};

void register_temporary(int directory, const std::string& name) {
    if (name.size() >= kMaxName) return;
    for (int i = 0; i < kMaxTemporaries; ++i) {
        if (temporary_in_use[i]) continue;
        std::memcpy(temporaries[i], name.c_str(), name.size() + 1);
        temporary_directories[i] = directory;
        temporary_in_use[i] = 1;
        return;
    }
}

void unregister_temporary(int directory, const std::string& name) {
    for (int i = 0; i < kMaxTemporaries; ++i) {
        if (temporary_in_use[i] && temporary_directories[i] == directory && name == temporaries[i])
            temporary_in_use[i] = 0;
    }
}

void on_fatal_signal(int signal_number) {
    const bool stop = signal_number == SIGINT || signal_number == SIGTERM || signal_number == SIGHUP;
    if (stop && getpid() == owner_pid) {
        // Stored before the test, as the namer clears its flag before it
        // looks: one of the two always sees the other.
        waiting_stop.store(signal_number);
        if (naming_temporary.load()) return;
    }
    if (getpid() == owner_pid) {
        for (int i = 0; i < kMaxTemporaries; ++i) {
            if (temporary_in_use[i]) unlinkat(temporary_directories[i], temporaries[i], 0);
        }
        if (!stop) {
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

// The open descriptor a path names, as /dev/fd/N, /proc/self/fd/N or
// /proc/PID/fd/N with this process's PID (and /dev/stdout, a link to
// one of these) do. Their links lead to what the descriptor has open,
// often no file at all ("pipe:[1234]"), so they are not followed.
std::optional<int> descriptor_named(const std::string& path) {
    static const std::regex descriptor_path("/+(dev|proc/+(self|thread-self|[0-9]+))/+fd/+([0-9]{1,9})");
    std::smatch match;
    if (!std::regex_match(path, match, descriptor_path)) return std::nullopt;
    const std::string process = match[2];
    if (!process.empty() && process != "self" && process != "thread-self" && process != std::to_string(getpid()))
        return std::nullopt;
    return std::stoi(match[3]);
}

// The file a path finally names: symbolic links followed, also to a target
// that does not exist yet, which the output then creates. A link chain
// that reaches an open descriptor ends there.
std::string resolve_links(const std::string& path) {
    std::string current = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat info {};
        if (descriptor_named(current) || lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return current;
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

// A hidden name beside `base` in `directory` that fits the directory's
// limit on name length however long the target's own name is:
// ".NAME.partial-XXXXXX", NAME shortened as needed.
std::string temporary_pattern(int directory, std::string base) {
    static const std::string suffix = ".partial-XXXXXX";
    const long limit = fpathconf(directory, _PC_NAME_MAX);
    const size_t name_max = limit > 0 ? static_cast<size_t>(limit) : NAME_MAX;
    // Where not even the suffix fits, creating the temporary fails and says so.
    const size_t room = name_max > 1 + suffix.size() ? name_max - 1 - suffix.size() : 0;
    if (base.size() > room) base.resize(room);
    return "." + base + suffix;
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

// Whether this process may rename over, or remove, files of other users
// in a sticky directory (CAP_FOWNER).
bool may_override_ownership() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, data) != 0) return false;
    return (data[CAP_TO_INDEX(CAP_FOWNER)].effective & CAP_TO_MASK(CAP_FOWNER)) != 0;
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
    if (direct_ || other.direct_ || base_ != other.base_) return false;
    struct stat directory {}, other_directory {};
    return fstat(directory_, &directory) == 0 && fstat(other.directory_, &other_directory) == 0 &&
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
    if (path == "-") {
        open_descriptor(STDOUT_FILENO, inputs, role);
        return;
    }
    for (const std::string& input : inputs) {
        if (input == path) throw Failure(path + ": this is an input file; the " + role + " needs another name");
    }
    target_ = resolve_links(path);
    if (const std::optional<int> descriptor = descriptor_named(target_)) {
        open_descriptor(*descriptor, inputs, role);
        return;
    }
    open_in_directory(inputs, role);
}

// Standard output, or another descriptor the caller opened: written as it
// is, never replaced, and never one of the inputs.
void OutputFile::open_descriptor(int fd, const std::vector<std::string>& inputs, const std::string& role) {
    const std::string what = fd == STDOUT_FILENO ? "standard output" : name_;
    struct stat info {};
    if (fstat(fd, &info) != 0) throw Failure(system_error(name_ + ": cannot write"));
    if (isatty(fd)) throw Failure(what + " is a terminal; give an output file or a pipe");
    if (const std::optional<std::string> input = S_ISREG(info.st_mode) ? input_that_is(info, inputs) : std::nullopt) {
        throw Failure(what + " is the input file " + (*input == "-" ? "on standard input" : *input) + "; the " + role +
                      " needs another place");
    }
    direct_ = true;
    if (fd == STDOUT_FILENO) {
        fd_ = fd;
        return;
    }
    // A descriptor of its own, so that closing it at the end leaves the
    // caller's open.
    fd_ = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (fd_ < 0) throw Failure(system_error(name_ + ": cannot write"));
    owns_fd_ = true;
}

void OutputFile::open_in_directory(const std::vector<std::string>& inputs, const std::string& role) {
    const size_t slash = target_.rfind('/');
    base_ = slash == std::string::npos ? target_ : target_.substr(slash + 1);
    // A name that can only be a directory ("out/", "..") has no file name
    // to give a finished file.
    if (base_.empty() || base_ == "." || base_ == "..") {
        struct stat info {};
        if (stat(target_.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
            throw Failure(name_ + ": cannot write: it is a directory");
        throw Failure(system_error(name_ + ": cannot create"));
    }
    directory_ = ::open(directory_of(target_).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (directory_ < 0) throw Failure(system_error(name_ + ": cannot create"));
    struct stat info {};
    if (fstatat(directory_, base_.c_str(), &info, 0) != 0) {
        open_temporary(false);
        return;
    }
    if (S_ISDIR(info.st_mode)) throw Failure(name_ + ": cannot write: it is a directory");
    if (const std::optional<std::string> input = S_ISREG(info.st_mode) ? input_that_is(info, inputs) : std::nullopt) {
        if (*input == "-") throw Failure(name_ + ": standard input is this file; the " + role + " needs another name");
        throw Failure(name_ + ": this is an input file; the " + role + " needs another name");
    }
    if (faccessat(directory_, base_.c_str(), W_OK, 0) != 0) throw Failure(system_error(name_ + ": cannot write"));
    if (!S_ISREG(info.st_mode)) {
        open_direct(target_);
        return;
    }
    // In a sticky directory (such as /tmp) only the file's owner, the
    // directory's owner or a process with CAP_FOWNER may rename over it:
    // known now rather than after the last frame.
    struct stat directory {};
    if (fstat(directory_, &directory) == 0 && (directory.st_mode & S_ISVTX) && info.st_uid != geteuid() &&
        directory.st_uid != geteuid() && !may_override_ownership()) {
        throw Failure(name_ + ": cannot replace: it belongs to another user in a directory where only its owner "
                              "may replace it (sticky)");
    }
    open_temporary(true);
    // The replacement is what the file was: owner first, since a change of
    // owner clears the set-user-ID and set-group-ID bits. Only root may
    // give it another owner, and only a member another group; otherwise it
    // is the user's, like any new file.
    if (fchown(fd_, info.st_uid, info.st_gid) != 0) (void)!fchown(fd_, static_cast<uid_t>(-1), info.st_gid);
    fchmod(fd_, info.st_mode & 07777);
}

void OutputFile::open_direct(const std::string& target) {
    struct stat info {};
    stat(target.c_str(), &info);
    fd_ = S_ISSOCK(info.st_mode) ? connect_socket(target) : ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (fd_ < 0) throw Failure(system_error(name_ + ": cannot write"));
    direct_ = true;
    owns_fd_ = true;
}

void OutputFile::open_temporary(bool replaces) {
    const mode_t mask = umask(0);
    umask(mask);
    const mode_t mode = 0666 & ~mask;
    owns_fd_ = true;
    // Without a name the file cannot outlive the process; it is linked in
    // through /proc at the end, so that must work too.
    fd_ = ::openat(directory_, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    if (fd_ >= 0 && access(("/proc/self/fd/" + std::to_string(fd_)).c_str(), F_OK) == 0) {
        anonymous_ = true;
        return;
    }
    if (fd_ >= 0) ::close(fd_);
    const std::string pattern = temporary_pattern(directory_, base_);
    const NamingTemporary naming;
    for (int tries = 0; tries < 100; ++tries) {
        const std::string name = fill_pattern(pattern);
        // Private until it is complete; a new file gets the usual
        // permissions below.
        fd_ = ::openat(directory_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd_ >= 0) {
            temporary_ = name;
            break;
        }
        if (errno != EEXIST) break;
    }
    if (fd_ < 0) throw Failure(system_error(name_ + (replaces ? ": cannot replace" : ": cannot create")));
    register_temporary(directory_, temporary_);
    fchmod(fd_, mode);
}

OutputFile::~OutputFile() {
    if (!committed_) {
        if (fd_ >= 0 && owns_fd_) ::close(fd_);
        if (!temporary_.empty()) {
            unlinkat(directory_, temporary_.c_str(), 0);
            unregister_temporary(directory_, temporary_);
        }
    }
    if (directory_ >= 0) ::close(directory_);
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
    const std::string pattern = temporary_pattern(directory_, base_);
    const NamingTemporary naming;
    for (;;) {
        temporary_ = fill_pattern(pattern);
        if (linkat(AT_FDCWD, proc_path.c_str(), directory_, temporary_.c_str(), AT_SYMLINK_FOLLOW) == 0) break;
        if (errno != EEXIST) {
            temporary_.clear();
            throw Failure(system_error(name_ + ": cannot move the finished file into place"));
        }
    }
    register_temporary(directory_, temporary_);
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
        if (owns_fd_ && ::close(fd) != 0) throw Failure(system_error(name_ + ": cannot write"));
        committed_ = true;
        return;
    }
    if (anonymous_) link_into_place();
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) throw Failure(system_error(name_ + ": cannot write"));
    if (renameat(directory_, temporary_.c_str(), directory_, base_.c_str()) != 0)
        throw Failure(system_error(name_ + ": cannot move the finished file into place"));
    committed_ = true;
    unregister_temporary(directory_, temporary_);
}

}  // namespace zeverive::cli
