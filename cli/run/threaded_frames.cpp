#include "run/threaded_frames.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <thread>
#include <vector>

#include "failure.h"
#include "formats/frame_bytes.h"
#include "run/frame_memory.h"
#include "run/mapped_memory.h"

namespace zeverive::cli {
namespace {

// Frames are handed out in the order they come to whichever thread is
// free, and taken back in the same order, so the output is in input order
// and identical to one thread's. Each slot holds a frame's samples as
// read and as to be written, and its host frame. A frame carries the
// settings current when it was submitted: a thread that takes it changes
// its copy of the plug-in to them first, so a new scene's settings reach
// every copy before its first frame in them.
class ThreadedFrames : public FrameProcessor {
public:
    ThreadedFrames(const PluginLibrary& library, const FrameSettings& settings, int jobs, const FrameWork& work,
                   std::string input_name)
        : input_name_(std::move(input_name)),
          settings_(std::make_shared<const FrameSettings>(settings)),
          samples_(addressable(whole_lines(frame_bytes(work.format)))),
          host_bytes_(addressable(whole_lines(host_frame_bytes(work.format)))),
          slots_(static_cast<size_t>(jobs) * kSlotsPerThread),
          memory_(slots_.size() * slot_bytes(), MappedMemory::Sharing::kPrivate) {
        // The built-in plug-in's session first: the copies take the kernel
        // variant it chose.
        sessions_.reserve(static_cast<size_t>(jobs));
        runners_.reserve(static_cast<size_t>(jobs));
        sessions_.emplace_back(std::make_unique<PluginSession>(library, settings.host));
        for (int i = 1; i < jobs; ++i) {
            copies_.push_back(PluginLibrary::copy_of_built_in());
            sessions_.emplace_back(std::make_unique<PluginSession>(copies_.back(), settings.host));
        }
        for (const std::unique_ptr<PluginSession>& session : sessions_) runners_.emplace_back(*session, work, settings);
        applied_.assign(runners_.size(), settings_);
        try {
            for (size_t i = 0; i < runners_.size(); ++i) threads_.emplace_back([this, i] { work_on(i); });
        } catch (const std::system_error& error) {
            stop();
            throw Failure(std::string("cannot start a thread: ") + error.what());
        }
    }

    ~ThreadedFrames() override { stop(); }

    size_t capacity() const override { return slots_.size(); }
    size_t in_flight() const override { return pending_.size(); }

    // Slots go round in turn; the caller takes the oldest before it asks
    // for a slot beyond capacity, so the next slot is always free.
    uint8_t* next_frame() override { return input(next_slot_); }

    void submit(int64_t frame_number, bool keep_host, luma::Scan scan) override {
        const size_t slot = next_slot_;
        next_slot_ = (next_slot_ + 1) % slots_.size();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            slots_[slot] = Slot{frame_number, keep_host, scan, settings_, false, nullptr, slot};
            queue_.push_back(slot);
        }
        pending_.push_back(slot);
        work_waiting_.notify_one();
    }

    void change_settings(const FrameSettings& settings) override {
        settings_ = std::make_shared<const FrameSettings>(settings);
    }

    // On the threads, as many at once as there are slots: with no frame in
    // flight every slot is free, and each trial reads the next frame's
    // input and writes a slot's host frame and output of its own. A thread
    // changes back to the run's settings with its next frame.
    void trials(const std::vector<FrameSettings>& settings, luma::Scan scan, const TrialResult& result) override {
        for (size_t first = 0; first < settings.size(); first += slots_.size()) {
            const size_t count = std::min(slots_.size(), settings.size() - first);
            const auto slot_of = [&](size_t i) { return (next_slot_ + i) % slots_.size(); };
            {
                std::lock_guard<std::mutex> lock(mutex_);
                for (size_t i = 0; i < count; ++i) {
                    slots_[slot_of(i)] = Slot{-1, false, scan, std::make_shared<const FrameSettings>(settings[first + i]),
                                              false, nullptr, next_slot_};
                    queue_.push_back(slot_of(i));
                }
            }
            work_waiting_.notify_all();
            std::unique_lock<std::mutex> lock(mutex_);
            for (size_t i = 0; i < count; ++i) frame_done_.wait(lock, [&] { return slots_[slot_of(i)].done; });
            for (size_t i = 0; i < count; ++i)
                if (slots_[slot_of(i)].error) std::rethrow_exception(slots_[slot_of(i)].error);
            lock.unlock();
            for (size_t i = 0; i < count; ++i) result(first + i, output(slot_of(i)));
        }
    }

    ProcessedFrame take() override {
        const size_t slot = pending_.front();
        pending_.pop_front();
        std::unique_lock<std::mutex> lock(mutex_);
        frame_done_.wait(lock, [&] { return slots_[slot].done; });
        if (slots_[slot].error) {
            try {
                std::rethrow_exception(slots_[slot].error);
            } catch (const std::bad_alloc&) {
                throw frame_failure(input_name_, slots_[slot].frame_number, "out of memory");
            } catch (const std::exception& error) {
                throw frame_failure(input_name_, slots_[slot].frame_number, error.what());
            }
        }
        return {input(slot), slots_[slot].keep_host ? host(slot) : nullptr, output(slot)};
    }

    void finish() override {
        stop();
        runners_.clear();
        sessions_.clear();
        copies_.clear();
    }

private:
    struct Slot {
        int64_t frame_number;
        bool keep_host;
        luma::Scan scan;
        std::shared_ptr<const FrameSettings> settings;
        bool done;
        std::exception_ptr error;
        size_t input;  // the slot whose input it reads: its own, or for a trial the next frame's
    };

    size_t slot_bytes() const { return 2 * samples_ + host_bytes_; }
    uint8_t* input(size_t slot) const { return memory_.data() + slot * slot_bytes(); }
    uint8_t* output(size_t slot) const { return input(slot) + samples_; }
    YcPixel* host(size_t slot) const { return reinterpret_cast<YcPixel*>(input(slot) + 2 * samples_); }

    void work_on(size_t thread) {
        FrameRunner& runner = runners_[thread];
        for (;;) {
            size_t slot, from;
            bool keep_host;
            luma::Scan scan;
            std::shared_ptr<const FrameSettings> settings;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                work_waiting_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
                if (queue_.empty()) return;
                slot = queue_.front();
                queue_.pop_front();
                from = slots_[slot].input;
                keep_host = slots_[slot].keep_host;
                scan = slots_[slot].scan;
                settings = slots_[slot].settings;
            }
            std::exception_ptr error;
            try {
                if (settings != applied_[thread]) {
                    runner.change(*settings);
                    applied_[thread] = std::move(settings);
                }
                runner.run(input(from), scan, host(slot), output(slot), keep_host);
            } catch (...) {
                error = std::current_exception();
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                slots_[slot].done = true;
                slots_[slot].error = error;
            }
            frame_done_.notify_all();
        }
    }

    // Lets the threads finish the frames queued, then ends them.
    void stop() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        work_waiting_.notify_all();
        for (std::thread& thread : threads_) thread.join();
        threads_.clear();
    }

    std::string input_name_;
    // The settings for frames submitted from now on, and those each
    // thread's runner last changed to (its own to touch, but for trial).
    std::shared_ptr<const FrameSettings> settings_;
    std::vector<std::shared_ptr<const FrameSettings>> applied_;
    size_t samples_;     // one frame's samples, whole cache lines
    size_t host_bytes_;  // one host frame, whole cache lines
    // Members go in reverse: the threads are joined in stop() before any of
    // this goes, the runners before their sessions, the sessions (finalise)
    // before the copies they run in.
    std::vector<PluginLibrary> copies_;
    std::vector<std::unique_ptr<PluginSession>> sessions_;
    std::vector<FrameRunner> runners_;
    std::vector<Slot> slots_;
    MappedMemory memory_;
    std::deque<size_t> pending_;  // submitted and not taken, oldest first
    size_t next_slot_ = 0;

    std::mutex mutex_;
    std::condition_variable work_waiting_;
    std::condition_variable frame_done_;
    std::deque<size_t> queue_;  // submitted and not started
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace

std::unique_ptr<FrameProcessor> run_threads(const PluginLibrary& library, const FrameSettings& settings, int jobs,
                                            const FrameWork& work, const std::string& input_name) {
    return std::make_unique<ThreadedFrames>(library, settings, jobs, work, input_name);
}

}  // namespace zeverive::cli
