#include "run/child_process.h"

#include <sys/wait.h>

#include <cerrno>
#include <cstring>

namespace zeverive::cli {

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(other.pid_), reaped_(other.reaped_), status_(other.status_) {
    other.reaped_ = true;
}

ChildProcess::~ChildProcess() {
    wait();
}

int ChildProcess::wait() {
    if (!reaped_) {
        while (waitpid(pid_, &status_, 0) < 0 && errno == EINTR) {
        }
        reaped_ = true;
    }
    return status_;
}

std::string describe_exit(int status) {
    if (WIFSIGNALED(status)) {
        const int signal_number = WTERMSIG(status);
        return "was killed by signal " + std::to_string(signal_number) + " (" + strsignal(signal_number) + ")";
    }
    if (WIFEXITED(status)) return "exited with status " + std::to_string(WEXITSTATUS(status));
    return "ended";
}

}  // namespace zeverive::cli
