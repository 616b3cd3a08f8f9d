#include "run/workers.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <optional>
#include <string>

#include "failure.h"
#include "formats/frame_bytes.h"
#include "run/frame_memory.h"
#include "run/tiling.h"

namespace zeverive::cli {

FrameRunner::FrameRunner(PluginSession& session, const FrameWork& work)
    : session_(session), work_(work), levels_(work.format, work.gain) {}

void FrameRunner::run(const uint8_t* input, YcPixel* host, uint8_t* output) {
    const PictureFormat& format = work_.format;
    levels_.to_host(input, host);
    if (work_.tile) {
        process_in_tiles(
            host, format.width, format.height, kMaxLineLength, kTileOverlap,
            [&](FrameInfo& info) { session_.process(info); }, buffers_);
    } else {
        FrameInfo info{0, host, 0, format.width, format.height, format.width};
        session_.process(info);
    }
    levels_.to_samples(input, host, work_.neutral_chroma, output);
}

namespace {

// Whole transfers over a pipe. False when the other end has gone (end of
// input, or EPIPE on output); other errors throw IoError.
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

// Memory for frames, mapped rather than allocated: it is taken from the
// system page by page as it is first written, and reserves nothing before,
// so a header promising huge frames costs nothing until their data arrives
// and large frames need only the memory they use. Shared memory is seen by
// both processes after a fork.
uint8_t* map_frame_memory(size_t bytes, bool shared) {
    void* memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                        (shared ? MAP_SHARED : MAP_PRIVATE) | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (memory == MAP_FAILED) throw Failure(std::string("cannot map memory for frames: ") + std::strerror(errno));
    return static_cast<uint8_t*>(memory);
}

class InProcess : public FrameProcessor {
public:
    InProcess(const PluginLibrary& library, const HostSettings& settings, const FrameWork& work)
        : session_(std::in_place, library, settings),
          runner_(std::in_place, *session_, work),
          samples_(addressable(whole_lines(frame_bytes(work.format)))),
          bytes_(addressable(frame_memory(work.format, 1))),
          memory_(map_frame_memory(bytes_, false)) {}

    ~InProcess() override { munmap(memory_, bytes_); }

    size_t capacity() const override { return 1; }
    size_t in_flight() const override { return done_ ? 1 : 0; }

    uint8_t* next_frame() override { return input(); }

    void submit(int64_t, bool keep_host) override {
        runner_->run(input(), host(), output());
        kept_ = keep_host;
        done_ = true;
    }

    ProcessedFrame take() override {
        done_ = false;
        return {input(), kept_ ? host() : nullptr, output()};
    }

    void finish() override {
        runner_.reset();
        session_.reset();
    }

private:
    uint8_t* input() const { return memory_; }
    uint8_t* output() const { return memory_ + samples_; }
    YcPixel* host() const { return reinterpret_cast<YcPixel*>(memory_ + 2 * samples_); }

    std::optional<PluginSession> session_;
    std::optional<FrameRunner> runner_;
    size_t samples_;
    size_t bytes_;
    uint8_t* memory_;
    bool kept_ = false;
    bool done_ = false;
};

// Each worker owns three frame slots in memory shared with the parent: the
// parent reads frames into them and writes the results from them, and a
// worker has a frame waiting while the parent writes out one result and
// reads in the next frame. A slot holds the frame's samples as read and as
// to be written; the host frame stays in the worker's own memory, except
// for a frame the parent asks to see, whose host frame goes to a shared
// area after the slots. Over the pipes go only one-byte jobs, "process
// this slot" (with kKeepHost for the frame to be seen), and the slot
// numbers back, "this slot is done".
constexpr uint8_t kKeepHost = 0x80;

struct WorkerMemory {
    explicit WorkerMemory(const PictureFormat& format)
        : samples(addressable(whole_lines(frame_bytes(format)))),
          kept_host(kSlotsPerWorker * 2 * samples),
          total(addressable(worker_shared_bytes(format))) {}
    uint8_t* input(uint8_t* memory, uint8_t slot) const { return memory + slot * 2 * samples; }
    uint8_t* output(uint8_t* memory, uint8_t slot) const { return input(memory, slot) + samples; }
    YcPixel* host(uint8_t* memory) const { return reinterpret_cast<YcPixel*>(memory + kept_host); }

    size_t samples;    // one frame's samples, whole cache lines
    size_t kept_host;  // offset of the shared host frame
    size_t total;
};

// The worker's end: set up, say whether that worked, then process the
// slots it is told about until the parent closes the pipe.
[[noreturn]] void worker_main(const PluginLibrary& library, const HostSettings& settings, const FrameWork& work,
                              int jobs_fd, int results_fd, uint8_t* shared) {
    int status = 0;
    try {
        std::optional<PluginSession> session;
        try {
            session.emplace(library, settings);
        } catch (const Failure& failure) {
            const std::string message = failure.what();
            const uint8_t ready = 0;
            const uint32_t length = static_cast<uint32_t>(message.size());
            write_all(results_fd, &ready, 1);
            write_all(results_fd, &length, sizeof length);
            write_all(results_fd, message.data(), message.size());
            _exit(1);
        }
        const uint8_t ready = 1;
        if (!write_all(results_fd, &ready, 1)) _exit(1);

        FrameRunner runner(*session, work);
        const WorkerMemory layout(work.format);
        auto* own_host = reinterpret_cast<YcPixel*>(map_frame_memory(addressable(host_frame_bytes(work.format)), false));
        uint8_t job;
        while (read_all(jobs_fd, &job, 1)) {
            const uint8_t slot = job & ~kKeepHost;
            YcPixel* host = (job & kKeepHost) ? layout.host(shared) : own_host;
            runner.run(layout.input(shared, slot), host, layout.output(shared, slot));
            if (!write_all(results_fd, &slot, 1)) {
                status = 1;
                break;
            }
        }
    } catch (...) {
        status = 1;
    }
    // _exit, not exit: the parent's buffered output and atexit handlers
    // belong to the parent.
    _exit(status);
}

std::string describe_exit(int status) {
    if (WIFSIGNALED(status)) {
        const int signal_number = WTERMSIG(status);
        return "was killed by signal " + std::to_string(signal_number) + " (" + strsignal(signal_number) + ")";
    }
    if (WIFEXITED(status)) return "exited with status " + std::to_string(WEXITSTATUS(status));
    return "ended";
}

class ForkedWorkers : public FrameProcessor {
public:
    ForkedWorkers(const PluginLibrary& library, const HostSettings& settings, int jobs, const FrameWork& work,
                  std::string input_name)
        : input_name_(std::move(input_name)), layout_(work.format) {
        // Anything still buffered in stdio would otherwise be written again
        // by every child that flushes it.
        std::fflush(nullptr);
        for (int i = 0; i < jobs; ++i) start_worker(library, settings, work);
        for (Worker& worker : workers_) {
            uint8_t ready = 0;
            bool answered = false;
            try {
                answered = read_all(worker.results_fd, &ready, 1);
            } catch (const IoError&) {
            }
            if (answered && ready == 1) continue;
            std::string message = library.name() + ": a worker process could not start";
            uint32_t length = 0;
            if (answered && read_all(worker.results_fd, &length, sizeof length) && length < 4096) {
                std::string text(length, '\0');
                if (read_all(worker.results_fd, text.data(), length)) message = text;
            }
            stop_all();
            throw Failure(message);
        }
    }

    ~ForkedWorkers() override { stop_all(); }

    size_t capacity() const override { return workers_.size() * kSlotsPerWorker; }
    size_t in_flight() const override { return pending_.size(); }

    // Frames go to the workers in turn and come back oldest first; the
    // caller takes before it asks for a buffer beyond capacity, so the slot
    // a frame goes to is always one whose last frame has been taken.
    uint8_t* next_frame() override {
        const Worker& worker = workers_[next_worker_];
        return layout_.input(worker.shared, worker.next_slot);
    }

    void submit(int64_t frame_number, bool keep_host) override {
        const size_t index = next_worker_;
        next_worker_ = (next_worker_ + 1) % workers_.size();
        Worker& worker = workers_[index];
        const uint8_t slot = worker.next_slot;
        worker.next_slot = static_cast<uint8_t>((slot + 1) % kSlotsPerWorker);
        const uint8_t job = keep_host ? slot | kKeepHost : slot;
        bool sent = false;
        try {
            sent = write_all(worker.jobs_fd, &job, 1);
        } catch (const IoError&) {
        }
        // A worker that has gone may still have returned earlier frames,
        // and another may have lost an earlier one: the loss is reported
        // when this frame's turn comes in take, so the first frame lost is
        // the one named.
        pending_.push_back({index, slot, keep_host, sent, frame_number});
    }

    ProcessedFrame take() override {
        const Pending job = pending_.front();
        pending_.pop_front();
        Worker& worker = workers_[job.worker];
        uint8_t done = 0xFF;
        bool received = false;
        try {
            // Results of frames sent before the worker went are still in
            // the pipe and are taken.
            received = job.sent && read_all(worker.results_fd, &done, 1);
        } catch (const IoError&) {
        }
        if (!received || done != job.slot) fail(worker, job.frame_number);
        return {layout_.input(worker.shared, job.slot), job.keep_host ? layout_.host(worker.shared) : nullptr,
                layout_.output(worker.shared, job.slot)};
    }

    void finish() override {
        for (Worker& worker : workers_) close_fd(worker.jobs_fd);
        std::string problem;
        for (Worker& worker : workers_) {
            const int status = wait_for(worker);
            if (problem.empty() && !(WIFEXITED(status) && WEXITSTATUS(status) == 0))
                problem = input_name_ + ": a worker process " + describe_exit(status) + " while finishing";
        }
        stop_all();
        if (!problem.empty()) throw Failure(problem);
    }

private:
    struct Worker {
        pid_t pid;
        int jobs_fd;
        int results_fd;
        uint8_t* shared;  // laid out as WorkerMemory
        uint8_t next_slot;
        bool waited;
        int status;
    };
    struct Pending {
        size_t worker;
        uint8_t slot;
        bool keep_host;
        bool sent;  // the worker took the job
        int64_t frame_number;
    };


    static void close_fd(int& fd) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }

    void start_worker(const PluginLibrary& library, const HostSettings& settings, const FrameWork& work) {
        uint8_t* shared;
        try {
            shared = map_frame_memory(layout_.total, true);
        } catch (const Failure&) {
            stop_all();
            throw;
        }
        int jobs[2], results[2];
        if (pipe(jobs) != 0 || pipe(results) != 0) {
            const int error = errno;
            munmap(shared, layout_.total);
            stop_all();
            throw Failure(std::string("cannot start a worker process: ") + std::strerror(error));
        }
        const pid_t pid = fork();
        if (pid < 0) {
            const int error = errno;
            for (int fd : {jobs[0], jobs[1], results[0], results[1]}) ::close(fd);
            munmap(shared, layout_.total);
            stop_all();
            throw Failure(std::string("cannot start a worker process: ") + std::strerror(error));
        }
        if (pid == 0) {
            // The other workers' pipes stay with the parent, or a worker
            // would never see its siblings' end of input.
            for (Worker& other : workers_) {
                ::close(other.jobs_fd);
                ::close(other.results_fd);
            }
            ::close(jobs[1]);
            ::close(results[0]);
            worker_main(library, settings, work, jobs[0], results[1], shared);
        }
        ::close(jobs[0]);
        ::close(results[1]);
        workers_.push_back({pid, jobs[1], results[0], shared, 0, false, 0});
    }

    int wait_for(Worker& worker) {
        if (!worker.waited) {
            while (waitpid(worker.pid, &worker.status, 0) < 0 && errno == EINTR) {
            }
            worker.waited = true;
        }
        return worker.status;
    }

    [[noreturn]] void fail(Worker& worker, int64_t frame_number) {
        close_fd(worker.jobs_fd);
        close_fd(worker.results_fd);
        const int status = wait_for(worker);
        stop_all();
        throw frame_failure(input_name_, frame_number, "the worker process " + describe_exit(status));
    }

    // Closing both pipes ends an idle worker at once and a busy one as soon
    // as it reports its frame done.
    void stop_all() {
        for (Worker& worker : workers_) {
            close_fd(worker.jobs_fd);
            close_fd(worker.results_fd);
        }
        for (Worker& worker : workers_) {
            wait_for(worker);
            if (worker.shared) munmap(worker.shared, layout_.total);
            worker.shared = nullptr;
        }
    }

    std::string input_name_;
    WorkerMemory layout_;
    std::vector<Worker> workers_;
    std::deque<Pending> pending_;
    size_t next_worker_ = 0;
};

}  // namespace

std::unique_ptr<FrameProcessor> make_frame_processor(const PluginLibrary& library, const HostSettings& settings,
                                                     int jobs, const FrameWork& work, const std::string& input_name) {
    if (jobs <= 1) return std::make_unique<InProcess>(library, settings, work);
    return std::make_unique<ForkedWorkers>(library, settings, jobs, work, input_name);
}

}  // namespace zeverive::cli
