#include "workers.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <optional>
#include <string>

#include "failure.h"
#include "tiling.h"

namespace zeverive::cli {

void FrameRunner::run(YcPixel* frame, int width, int height) {
    if (tile_) {
        process_in_tiles(
            frame, width, height, kPluginMaxSide, kTileOverlap, [&](FrameInfo& info) { session_.process(info); },
            buffers_);
        return;
    }
    FrameInfo info{0, frame, 0, width, height, width};
    session_.process(info);
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

class InProcess : public FrameProcessor {
public:
    InProcess(const PluginLibrary& library, const HostSettings& settings, bool tile)
        : session_(std::in_place, library, settings), runner_(std::in_place, *session_, tile) {}

    size_t capacity() const override { return 1; }
    size_t in_flight() const override { return done_ ? 1 : 0; }

    // The caller's frame and the one it last took trade buffers, so no
    // frame-sized memory is allocated per frame.
    void submit(std::vector<YcPixel>& frame, int width, int height, int64_t) override {
        runner_->run(frame.data(), width, height);
        done_ = true;
        result_.swap(frame);
    }

    void take(std::vector<YcPixel>& frame) override {
        done_ = false;
        result_.swap(frame);
    }

    void finish() override {
        runner_.reset();
        session_.reset();
    }

private:
    std::optional<PluginSession> session_;
    std::optional<FrameRunner> runner_;
    std::vector<YcPixel> result_;
    bool done_ = false;
};

// The worker's end: set up, say whether that worked, then process the
// slots it is told about until the parent closes the pipe.
[[noreturn]] void worker_main(const PluginLibrary& library, const HostSettings& settings, bool tile, int jobs_fd,
                              int results_fd, YcPixel* slots, int width, int height) {
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

        FrameRunner runner(*session, tile);
        const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
        uint8_t slot;
        while (read_all(jobs_fd, &slot, 1)) {
            runner.run(slots + slot * pixels, width, height);
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

// Each worker owns two frame slots in memory shared with the parent, so a
// frame crosses between processes with one copy each way and a worker
// always has its next frame waiting while the parent writes out the last.
// Over the pipes go only one-byte slot numbers: "process this slot" and
// "this slot is done".
constexpr int kSlotsPerWorker = 2;

class ForkedWorkers : public FrameProcessor {
public:
    ForkedWorkers(const PluginLibrary& library, const HostSettings& settings, int jobs, bool tile,
                  std::string input_name, int width, int height)
        : input_name_(std::move(input_name)),
          width_(width),
          height_(height),
          slot_pixels_(static_cast<size_t>(width) * static_cast<size_t>(height)) {
        // Anything still buffered in stdio would otherwise be written again
        // by every child that flushes it.
        std::fflush(nullptr);
        for (int i = 0; i < jobs; ++i) start_worker(library, settings, tile);
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
    // caller takes before it submits beyond capacity, so the slot a frame
    // goes to is always one whose last frame has been taken.
    void submit(std::vector<YcPixel>& frame, int, int, int64_t frame_number) override {
        const size_t index = next_worker_;
        next_worker_ = (next_worker_ + 1) % workers_.size();
        Worker& worker = workers_[index];
        const uint8_t slot = worker.next_slot;
        worker.next_slot = static_cast<uint8_t>((slot + 1) % kSlotsPerWorker);
        std::copy(frame.begin(), frame.end(), slot_memory(worker, slot));
        bool sent = false;
        try {
            sent = write_all(worker.jobs_fd, &slot, 1);
        } catch (const IoError&) {
        }
        // A worker that has gone may still have returned earlier frames,
        // and another may have lost an earlier one: the loss is reported
        // when this frame's turn comes in take, so the first frame lost is
        // the one named.
        if (!sent) worker.gone = true;
        pending_.push_back({index, slot, frame_number});
    }

    void take(std::vector<YcPixel>& frame) override {
        const Pending job = pending_.front();
        pending_.pop_front();
        Worker& worker = workers_[job.worker];
        uint8_t done = 0xFF;
        bool received = false;
        try {
            received = !worker.gone && read_all(worker.results_fd, &done, 1);
        } catch (const IoError&) {
        }
        if (!received || done != job.slot) fail(worker, job.frame_number);
        const YcPixel* pixels = slot_memory(worker, job.slot);
        frame.assign(pixels, pixels + slot_pixels_);
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
        YcPixel* slots;  // kSlotsPerWorker frames, shared with the worker
        uint8_t next_slot;
        bool gone;  // it no longer takes frames
        bool waited;
        int status;
    };
    struct Pending {
        size_t worker;
        uint8_t slot;
        int64_t frame_number;
    };

    YcPixel* slot_memory(const Worker& worker, uint8_t slot) const { return worker.slots + slot * slot_pixels_; }

    static void close_fd(int& fd) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }

    void start_worker(const PluginLibrary& library, const HostSettings& settings, bool tile) {
        const size_t slot_bytes = kSlotsPerWorker * slot_pixels_ * sizeof(YcPixel);
        void* slots = mmap(nullptr, slot_bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (slots == MAP_FAILED) {
            stop_all();
            throw Failure(std::string("cannot start a worker process: ") + std::strerror(errno));
        }
        int jobs[2], results[2];
        if (pipe(jobs) != 0 || pipe(results) != 0) {
            const int error = errno;
            munmap(slots, slot_bytes);
            stop_all();
            throw Failure(std::string("cannot start a worker process: ") + std::strerror(error));
        }
        const pid_t pid = fork();
        if (pid < 0) {
            const int error = errno;
            for (int fd : {jobs[0], jobs[1], results[0], results[1]}) ::close(fd);
            munmap(slots, slot_bytes);
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
            worker_main(library, settings, tile, jobs[0], results[1], static_cast<YcPixel*>(slots), width_,
                        height_);
        }
        ::close(jobs[0]);
        ::close(results[1]);
        workers_.push_back({pid, jobs[1], results[0], static_cast<YcPixel*>(slots), 0, false, false, 0});
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
            if (worker.slots) munmap(worker.slots, kSlotsPerWorker * slot_pixels_ * sizeof(YcPixel));
            worker.slots = nullptr;
        }
    }

    std::string input_name_;
    int width_;
    int height_;
    size_t slot_pixels_;
    std::vector<Worker> workers_;
    std::deque<Pending> pending_;
    size_t next_worker_ = 0;
};

}  // namespace

std::unique_ptr<FrameProcessor> make_frame_processor(const PluginLibrary& library, const HostSettings& settings,
                                                     int jobs, bool tile, const std::string& input_name, int width,
                                                     int height) {
    if (jobs <= 1) return std::make_unique<InProcess>(library, settings, tile);
    return std::make_unique<ForkedWorkers>(library, settings, jobs, tile, input_name, width, height);
}

}  // namespace zeverive::cli
