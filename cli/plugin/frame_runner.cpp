#include "plugin/frame_runner.h"

#include "common/size_class.h"

namespace zeverive::cli {

FrameRunner::FrameRunner(PluginSession& session, const FrameWork& work)
    : session_(session), work_(work), levels_(work.format, work.gain, work.stabiliser ? &*work.stabiliser : nullptr) {}

void FrameRunner::run(const uint8_t* input, YcPixel* host, uint8_t* output) {
    const PictureFormat& format = work_.format;
    levels_.to_host(input, host);
    if (work_.second_pass) second_pass_.keep_noisy(host, format.width, format.height);
    if (work_.tile) {
        luma::process_in_tiles(
            host, format.width, format.height, kMaxLineLength, luma::kTileOverlap,
            [&](FrameInfo& info) { session_.process(info); }, buffers_);
    } else {
        FrameInfo info{0, host, 0, format.width, format.height, format.width};
        session_.process(info);
    }
    if (work_.second_pass) second_pass_.refine(host, *work_.second_pass);
    levels_.to_samples(input, host, work_.neutral_chroma, output);
}

}  // namespace zeverive::cli
