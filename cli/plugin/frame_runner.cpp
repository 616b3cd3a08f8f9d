#include "plugin/frame_runner.h"

#include "common/size_class.h"

namespace zeverive::cli {

FrameRunner::FrameRunner(PluginSession& session, const FrameWork& work) : FrameRunner({&session}, work) {}

FrameRunner::FrameRunner(std::vector<PluginSession*> sessions, const FrameWork& work)
    : sessions_(std::move(sessions)), work_(work), levels_(work.format, work.gain) {}

void FrameRunner::run(const uint8_t* input, YcPixel* host, uint8_t* output, bool keep_host) {
    const PictureFormat& format = work_.format;
    // The built-in plug-in reads only Y, and the program writes the
    // original chroma (or neutral chroma under the coefficient display).
    levels_.to_host(input, host, work_.chroma_read || keep_host);
    if (work_.tile) {
        luma::process_in_tiles(
            host, format.width, format.height, kMaxLineLength, luma::kTileOverlap, static_cast<int>(sessions_.size()),
            [&](int lane, FrameInfo& info) { sessions_[lane]->process(info); }, buffers_);
    } else {
        FrameInfo info{0, host, 0, format.width, format.height, format.width};
        sessions_[0]->process(info);
    }
    levels_.to_samples(input, host, work_.neutral_chroma, output);
}

}  // namespace zeverive::cli
