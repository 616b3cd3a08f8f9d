#include "run/forked_workers.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <optional>
#include <string_view>
#include <vector>

#include "failure.h"
#include "formats/frame_bytes.h"
#include "run/child_process.h"
#include "run/frame_memory.h"
#include "run/mapped_memory.h"
#include "run/posix_io.h"
#include "run/worker_protocol.h"

namespace zeverive::cli {
namespace {

// Each worker owns three frame slots in memory shared with the parent: the
// parent reads frames into them and writes the results from them, and a
// worker has a frame waiting while the parent writes out one result and
// reads in the next frame. A slot holds the frame's samples as read and as
// to be written; the host frame stays in the worker's own memory, except
// for a frame the parent asks to see, whose host frame goes to a shared
// area after the slots.
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

// A scene's settings as the parent sends them: the sliders, the check
// boxes, the gain, the guard's level, the stabiliser's noise-level function
// and the second pass's noise (each after a byte saying whether there is
// one), in the machine's byte order (both ends are one program). The
// remote messages stay those the worker started with.
std::string settings_record(const FrameSettings& settings) {
    std::string record;
    auto put = [&](const void* data, size_t bytes) { record.append(static_cast<const char*>(data), bytes); };
    put(settings.host.sliders.data(), sizeof settings.host.sliders);
    put(settings.host.checkboxes.data(), sizeof settings.host.checkboxes);
    put(&settings.gain, sizeof settings.gain);
    const double guard = settings.guard_sigma.value_or(-1.0);
    put(&guard, sizeof guard);
    const uint8_t bent = settings.stabiliser ? 1 : 0;
    put(&bent, 1);
    const luma::NoiseLevelFunction level = bent ? settings.stabiliser->level() : luma::NoiseLevelFunction{};
    put(&level, sizeof level);
    const uint8_t second = settings.second_pass ? 1 : 0;
    put(&second, 1);
    const luma::BlockNoise noise = settings.second_pass.value_or(luma::BlockNoise{});
    put(noise.data(), sizeof noise);
    return record;
}

std::optional<FrameSettings> settings_from(const std::string& record, const FrameSettings& started) {
    FrameSettings settings = started;
    double guard;
    uint8_t bent, second;
    luma::NoiseLevelFunction level;
    luma::BlockNoise noise;
    if (record.size() != sizeof settings.host.sliders + sizeof settings.host.checkboxes + sizeof settings.gain +
                             sizeof guard + 1 + sizeof level + 1 + sizeof noise)
        return std::nullopt;
    const char* at = record.data();
    auto take = [&](void* data, size_t bytes) {
        std::memcpy(data, at, bytes);
        at += bytes;
    };
    take(settings.host.sliders.data(), sizeof settings.host.sliders);
    take(settings.host.checkboxes.data(), sizeof settings.host.checkboxes);
    take(&settings.gain, sizeof settings.gain);
    take(&guard, sizeof guard);
    take(&bent, 1);
    take(&level, sizeof level);
    take(&second, 1);
    take(noise.data(), sizeof noise);
    settings.guard_sigma = guard < 0 ? std::nullopt : std::optional<double>(guard);
    settings.stabiliser.reset();
    if (bent) settings.stabiliser.emplace(level);
    settings.second_pass.reset();
    if (second) settings.second_pass = noise;
    return settings;
}

// The worker's end: set up, say whether that worked, then process the
// slots it is told about, in the settings it is told, until the parent
// closes the jobs pipe.
[[noreturn]] void worker_main(const PluginLibrary& library, const FrameSettings& settings, const FrameWork& work,
                              int jobs_fd, int results_fd, uint8_t* shared) {
    int status = 0;
    // Nothing may leave this function but _exit: an exception would unwind
    // into the parent's code, running on in the child. Anything thrown ends
    // the worker with status 1, which the parent reports.
    try {
        std::optional<PluginSession> session;
        try {
            session.emplace(library, settings.host);
        } catch (const Failure& failure) {
            send_message(results_fd, {MessageKind::kCannotStart}, failure.what());
            _exit(1);
        }
        if (!send_message(results_fd, {MessageKind::kReady})) _exit(1);

        FrameRunner runner(*session, work, settings);
        const WorkerMemory layout(work.format);
        const MappedMemory own_host(addressable(host_frame_bytes(work.format)), MappedMemory::Sharing::kPrivate);
        while (const std::optional<Received> job = receive_message(jobs_fd)) {
            const Message& order = job->message;
            if (order.kind == MessageKind::kSettings) {
                const std::optional<FrameSettings> next = settings_from(job->text, settings);
                if (!next) {
                    status = 1;
                    break;
                }
                runner.change(*next);
                continue;
            }
            if (order.kind != MessageKind::kProcess || order.slot >= kSlotsPerWorker) {
                status = 1;
                break;
            }
            YcPixel* host = order.keep_host ? layout.host(shared) : reinterpret_cast<YcPixel*>(own_host.data());
            runner.run(layout.input(shared, order.slot), order.scan, host, layout.output(shared, order.slot),
                       order.keep_host);
            if (!send_message(results_fd, {MessageKind::kDone, order.slot})) {
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

class ForkedWorkers : public FrameProcessor {
public:
    ForkedWorkers(const PluginLibrary& library, const FrameSettings& settings, int jobs, const FrameWork& work,
                  std::string input_name)
        : input_name_(std::move(input_name)), layout_(work.format) {
        // Anything still buffered in stdio would otherwise be written again
        // by every child that flushes it.
        std::fflush(nullptr);
        for (int i = 0; i < jobs; ++i) start_worker(library, settings, work);
        for (Worker& worker : workers_) {
            const std::optional<Received> answer = receive_from(worker);
            if (answer && answer->message.kind == MessageKind::kReady) continue;
            if (answer && answer->message.kind == MessageKind::kCannotStart) throw Failure(answer->text);
            throw Failure(library.name() + ": a worker process could not start");
        }
    }

    // Closing every pipe first ends an idle worker at once and a busy one
    // as soon as it reports its frame done, all of them together; each is
    // then reaped by its owner.
    ~ForkedWorkers() override {
        for (Worker& worker : workers_) worker.close_pipes();
    }

    size_t capacity() const override { return workers_.size() * kSlotsPerWorker; }
    size_t in_flight() const override { return pending_.size(); }

    // Frames go to the workers in turn and come back oldest first; the
    // caller takes before it asks for a buffer beyond capacity, so the slot
    // a frame goes to is always one whose last frame has been taken.
    uint8_t* next_frame() override {
        const Worker& worker = workers_[next_worker_];
        return layout_.input(worker.shared.data(), worker.next_slot);
    }

    void change_settings(const FrameSettings& settings) override {
        settings_ = settings_record(settings);
        ++generation_;
    }

    // One after the other, on the worker that takes the next frame, in its
    // slot.
    void trials(const std::vector<FrameSettings>& settings, luma::Scan scan, const TrialResult& result) override {
        Worker& worker = workers_[next_worker_];
        const uint8_t slot = worker.next_slot;
        // The worker is sent the run's settings again with its next frame.
        worker.generation = -1;
        for (size_t i = 0; i < settings.size(); ++i) {
            if (!send_to(worker, {MessageKind::kSettings}, settings_record(settings[i])) ||
                !send_to(worker, {MessageKind::kProcess, slot, false, scan}))
                lost(worker, next_number_);
            const std::optional<Received> done = receive_from(worker);
            if (!done || done->message.kind != MessageKind::kDone || done->message.slot != slot)
                lost(worker, next_number_);
            result(i, layout_.output(worker.shared.data(), slot));
        }
    }

    void submit(int64_t frame_number, bool keep_host, luma::Scan scan) override {
        next_number_ = frame_number + 1;
        const size_t index = next_worker_;
        next_worker_ = (next_worker_ + 1) % workers_.size();
        Worker& worker = workers_[index];
        const uint8_t slot = worker.next_slot;
        worker.next_slot = static_cast<uint8_t>((slot + 1) % kSlotsPerWorker);
        // A worker hears of new settings just before its first frame in
        // them; its pipe keeps the order.
        bool sent = true;
        if (worker.generation != generation_) {
            sent = send_to(worker, {MessageKind::kSettings}, settings_);
            worker.generation = generation_;
        }
        sent = sent && send_to(worker, {MessageKind::kProcess, slot, keep_host, scan});
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
        // Results of frames sent before the worker went are still in the
        // pipe and are taken.
        const std::optional<Received> done = job.sent ? receive_from(worker) : std::nullopt;
        if (!done || done->message.kind != MessageKind::kDone || done->message.slot != job.slot)
            lost(worker, job.frame_number);
        uint8_t* shared = worker.shared.data();
        return {layout_.input(shared, job.slot), job.keep_host ? layout_.host(shared) : nullptr,
                layout_.output(shared, job.slot)};
    }

    void finish() override {
        for (Worker& worker : workers_) worker.jobs.reset();
        std::string problem;
        for (Worker& worker : workers_) {
            const int status = worker.process.wait();
            if (problem.empty() && !(WIFEXITED(status) && WEXITSTATUS(status) == 0))
                problem = input_name_ + ": a worker process " + describe_exit(status) + " while finishing";
        }
        if (!problem.empty()) throw Failure(problem);
    }

private:
    // Members go in reverse: the memory and the pipes first, then the
    // process is reaped, which its closed pipes have ended.
    struct Worker {
        ChildProcess process;
        UniqueFd jobs;     // the parent's end, written
        UniqueFd results;  // the parent's end, read
        MappedMemory shared;  // laid out as WorkerMemory
        uint8_t next_slot = 0;
        int generation = 0;   // of the settings it was last sent

        void close_pipes() {
            jobs.reset();
            results.reset();
        }
    };
    struct Pending {
        size_t worker;
        uint8_t slot;
        bool keep_host;
        bool sent;  // the worker took the job
        int64_t frame_number;
    };

    void start_worker(const PluginLibrary& library, const FrameSettings& settings, const FrameWork& work) {
        MappedMemory shared(layout_.total, MappedMemory::Sharing::kShared);
        std::optional<Pipe> jobs = open_pipe();
        std::optional<Pipe> results = jobs ? open_pipe() : std::nullopt;
        const pid_t pid = results ? fork() : -1;
        if (pid < 0) {
            const int error = errno;
            throw Failure(std::string("cannot start a worker process: ") + std::strerror(error));
        }
        if (pid == 0) {
            // The other workers' pipes stay with the parent, or a worker
            // would never see its siblings' end of input.
            for (Worker& other : workers_) other.close_pipes();
            jobs->write_end.reset();
            results->read_end.reset();
            worker_main(library, settings, work, jobs->read_end.get(), results->write_end.get(), shared.data());
        }
        workers_.push_back({ChildProcess(pid), std::move(jobs->write_end), std::move(results->read_end),
                            std::move(shared)});
    }

    [[noreturn]] void lost(Worker& worker, int64_t frame_number) {
        worker.close_pipes();
        const int status = worker.process.wait();
        throw frame_failure(input_name_, frame_number, "the worker process " + describe_exit(status));
    }

    // Any error on a worker's pipe means what its end means: the worker is
    // lost, and the caller reports it.
    static std::optional<Received> receive_from(const Worker& worker) {
        try {
            return receive_message(worker.results.get());
        } catch (const IoError&) {
            return std::nullopt;
        }
    }
    static bool send_to(const Worker& worker, const Message& message, std::string_view text = {}) {
        try {
            return send_message(worker.jobs.get(), message, text);
        } catch (const IoError&) {
            return false;
        }
    }

    std::string input_name_;
    WorkerMemory layout_;
    std::vector<Worker> workers_;
    std::deque<Pending> pending_;
    size_t next_worker_ = 0;
    std::string settings_;  // the latest settings' record
    int64_t next_number_ = 0;  // the number of the frame to be submitted next, for messages
    int generation_ = 0;    // changes of settings so far
};

}  // namespace

std::unique_ptr<FrameProcessor> fork_workers(const PluginLibrary& library, const FrameSettings& settings, int jobs,
                                             const FrameWork& work, const std::string& input_name) {
    return std::make_unique<ForkedWorkers>(library, settings, jobs, work, input_name);
}

}  // namespace zeverive::cli
