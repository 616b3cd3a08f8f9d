#include "plugin/frame_runner.h"

#include "common/size_class.h"

namespace zeverive::cli {

FrameRunner::FrameRunner(PluginSession& session, const FrameWork& work) : FrameRunner({&session}, work) {}

FrameRunner::FrameRunner(std::vector<PluginSession*> sessions, const FrameWork& work)
    : sessions_(std::move(sessions)),
      work_(work),
      levels_(work.format, work.gain, work.stabiliser ? &*work.stabiliser : nullptr) {}

void FrameRunner::run(const uint8_t* input, luma::Scan scan, YcPixel* host, uint8_t* output, bool keep_host) {
    const int width = work_.format.width;
    // The built-in plug-in reads only Y, and the program writes the
    // original chroma (or neutral chroma under the coefficient display).
    levels_.to_host(input, host, work_.chroma_read || keep_host);
    // A field is every other row of the frame: the plug-in reads it in
    // place through the row pitch.
    for (const luma::FramePicture& picture : luma::FramePictures(scan, work_.format.height)) {
        YcPixel* first = host + static_cast<size_t>(picture.first_row) * width;
        const int pitch = picture.row_step * width;
        if (work_.second_pass) second_pass_.keep_noisy(first, width, picture.rows, pitch);
        luma::process_in_tiles(
            first, width, picture.rows, pitch, kMaxLineLength, luma::kTileOverlap, static_cast<int>(sessions_.size()),
            [&](int lane, FrameInfo& info) { sessions_[lane]->process(info); }, buffers_);
        if (work_.second_pass) second_pass_.refine(first, *work_.second_pass);
    }
    levels_.to_samples(input, host, work_.neutral_chroma, output);
}

}  // namespace zeverive::cli
