#include "run/in_process.h"

#include <memory>
#include <optional>
#include <vector>

#include "formats/frame_bytes.h"
#include "run/frame_memory.h"
#include "run/mapped_memory.h"

namespace zeverive::cli {
namespace {

class InProcess : public FrameProcessor {
public:
    InProcess(const PluginLibrary& library, const FrameSettings& settings, const FrameWork& work, int lanes)
        : settings_(settings),
          samples_(addressable(whole_lines(frame_bytes(work.format)))),
          memory_(addressable(frame_memory(work.format, 1)), MappedMemory::Sharing::kPrivate) {
        // The built-in plug-in's session first: the copies take the kernel
        // variant it chose.
        sessions_.push_back(std::make_unique<PluginSession>(library, settings.host));
#if defined(ZEVERIVE_PLUGIN_COPIES)
        copies_.reserve(static_cast<size_t>(lanes));
        for (int i = 1; i < lanes; ++i) {
            copies_.push_back(PluginLibrary::copy_of_built_in());
            sessions_.push_back(std::make_unique<PluginSession>(copies_.back(), settings.host));
        }
#endif
        std::vector<PluginSession*> sessions;
        for (const std::unique_ptr<PluginSession>& session : sessions_) sessions.push_back(session.get());
        runner_.emplace(std::move(sessions), work, settings);
    }

    size_t capacity() const override { return 1; }
    size_t in_flight() const override { return done_ ? 1 : 0; }

    uint8_t* next_frame() override { return input(); }

    void submit(int64_t, bool keep_host, luma::Scan scan) override {
        runner_->run(input(), scan, host(), output(), keep_host);
        kept_ = keep_host;
        done_ = true;
    }

    void change_settings(const FrameSettings& settings) override {
        runner_->change(settings);
        settings_ = settings;
    }

    void trials(const std::vector<FrameSettings>& settings, luma::Scan scan, const TrialResult& result) override {
        for (size_t i = 0; i < settings.size(); ++i) {
            runner_->change(settings[i]);
            runner_->run(input(), scan, host(), output(), false);
            result(i, output());
        }
        runner_->change(settings_);
    }

    ProcessedFrame take() override {
        done_ = false;
        return {input(), kept_ ? host() : nullptr, output()};
    }

    void finish() override {
        runner_.reset();
        sessions_.clear();
        copies_.clear();
    }

private:
    uint8_t* input() const { return memory_.data(); }
    uint8_t* output() const { return memory_.data() + samples_; }
    YcPixel* host() const { return reinterpret_cast<YcPixel*>(memory_.data() + 2 * samples_); }

    FrameSettings settings_;
    size_t samples_;
    MappedMemory memory_;
    // Members go in reverse: the runner, then the sessions (finalise), then
    // the copies they run in.
    std::vector<PluginLibrary> copies_;
    std::vector<std::unique_ptr<PluginSession>> sessions_;
    std::optional<FrameRunner> runner_;
    bool kept_ = false;
    bool done_ = false;
};

}  // namespace

std::unique_ptr<FrameProcessor> process_here(const PluginLibrary& library, const FrameSettings& settings,
                                             const FrameWork& work, int lanes) {
    return std::make_unique<InProcess>(library, settings, work, lanes);
}

}  // namespace zeverive::cli
