// Loaded with LD_PRELOAD, stands in for a file system without nameless
// files: every open with O_TMPFILE fails as it does there, so the program
// takes its named temporaries.
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>

namespace {

int open_without_tmpfile(int directory, const char* path, int flags, va_list arguments) {
    const bool nameless = (flags & O_TMPFILE) == O_TMPFILE;
    const mode_t mode = (flags & O_CREAT) || nameless ? va_arg(arguments, mode_t) : 0;
    if (nameless) {
        errno = EOPNOTSUPP;
        return -1;
    }
    return static_cast<int>(syscall(SYS_openat, directory, path, flags, mode));
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
