// A forked child with an owner that reaps it, so no path out of the parent
// leaves a zombie behind.
#pragma once

#include <sys/types.h>

#include <string>

namespace zeverive::cli {

class ChildProcess {
public:
    explicit ChildProcess(pid_t pid) : pid_(pid) {}
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&&) = delete;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    // Waits for the child: whoever owns it makes sure, first, that it ends.
    ~ChildProcess();

    // Waits for the child to end, once; its status as waitpid gives it.
    int wait();

private:
    pid_t pid_;
    bool reaped_ = false;
    int status_ = 0;
};

// "exited with status 1", "was killed by signal 9 (Killed)".
std::string describe_exit(int status);

}  // namespace zeverive::cli
