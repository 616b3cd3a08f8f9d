#include "run/in_process.h"

#include <optional>

#include "formats/frame_bytes.h"
#include "run/frame_memory.h"
#include "run/mapped_memory.h"

namespace zeverive::cli {
namespace {

class InProcess : public FrameProcessor {
public:
    InProcess(const PluginLibrary& library, const FrameSettings& settings, const FrameWork& work)
        : session_(std::in_place, library, settings.host),
          runner_(std::in_place, *session_, work, settings),
          settings_(settings),
          samples_(addressable(whole_lines(frame_bytes(work.format)))),
          memory_(addressable(frame_memory(work.format, 1)), MappedMemory::Sharing::kPrivate) {}

    size_t capacity() const override { return 1; }
    size_t in_flight() const override { return done_ ? 1 : 0; }

    uint8_t* next_frame() override { return input(); }

    void submit(int64_t, bool keep_host) override {
        runner_->run(input(), host(), output());
        kept_ = keep_host;
        done_ = true;
    }

    void change_settings(const FrameSettings& settings) override {
        runner_->change(settings);
        settings_ = settings;
    }

    const uint8_t* trial(const FrameSettings& settings) override {
        runner_->change(settings);
        runner_->run(input(), host(), output());
        runner_->change(settings_);
        return output();
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
    uint8_t* input() const { return memory_.data(); }
    uint8_t* output() const { return memory_.data() + samples_; }
    YcPixel* host() const { return reinterpret_cast<YcPixel*>(memory_.data() + 2 * samples_); }

    std::optional<PluginSession> session_;
    std::optional<FrameRunner> runner_;
    FrameSettings settings_;
    size_t samples_;
    MappedMemory memory_;
    bool kept_ = false;
    bool done_ = false;
};

}  // namespace

std::unique_ptr<FrameProcessor> process_here(const PluginLibrary& library, const FrameSettings& settings,
                                             const FrameWork& work) {
    return std::make_unique<InProcess>(library, settings, work);
}

}  // namespace zeverive::cli
