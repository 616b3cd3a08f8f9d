// Loaded with LD_PRELOAD, stands in for a file system without nameless
// files: every open with O_TMPFILE fails as it does there, so the program
// takes its named temporaries. Where ZEVERIVE_TEST_STOP names a signal,
// the process sends it to itself the moment such a temporary is created,
// as a stop from outside could come.
#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace {

int open_without_tmpfile(int directory, const char* path, int flags, va_list arguments) {
    const bool nameless = (flags & O_TMPFILE) == O_TMPFILE;
    const mode_t mode = (flags & O_CREAT) || nameless ? va_arg(arguments, mode_t) : 0;
    if (nameless) {
        errno = EOPNOTSUPP;
        return -1;
    }
    const int fd = static_cast<int>(syscall(SYS_openat, directory, path, flags, mode));
    const char* stop = std::getenv("ZEVERIVE_TEST_STOP");
    if (fd >= 0 && stop && (flags & O_EXCL) && std::strstr(path, ".partial-")) kill(getpid(), std::atoi(stop));
    return fd;
}

}  // namespace

#define EXPORTED extern "C" __attribute__((visibility("default")))

EXPORTED int open(const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const int fd = open_without_tmpfile(AT_FDCWD, path, flags, arguments);
    va_end(arguments);
    return fd;
}

EXPORTED int openat(int directory, const char* path, int flags, ...) {
    va_list arguments;
    va_start(arguments, flags);
    const int fd = open_without_tmpfile(directory, path, flags, arguments);
    va_end(arguments);
    return fd;
}

// The same functions under the names of the large-file interface.
EXPORTED int open64(const char* path, int flags, ...) __attribute__((alias("open")));
EXPORTED int openat64(int directory, const char* path, int flags, ...) __attribute__((alias("openat")));
