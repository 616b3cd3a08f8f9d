#include "plugin/frame_runner.h"

#include "common/size_class.h"

namespace zeverive::cli {

FrameRunner::FrameRunner(PluginSession& session, const FrameWork& work)
    : session_(session), work_(work), levels_(work.format, work.gain) {}

void FrameRunner::run(const uint8_t* input, luma::Scan scan, YcPixel* host, uint8_t* output) {
    const int width = work_.format.width;
    levels_.to_host(input, host);
    // A field is every other row of the frame: the plug-in reads it in
    // place through the row pitch.
    for (const luma::FramePicture& picture : luma::FramePictures(scan, work_.format.height)) {
        luma::process_in_tiles(
            host + static_cast<size_t>(picture.first_row) * width, width, picture.rows, picture.row_step * width,
            kMaxLineLength, luma::kTileOverlap, [&](FrameInfo& info) { session_.process(info); }, buffers_);
    }
    levels_.to_samples(input, host, work_.neutral_chroma, output);
}

}  // namespace zeverive::cli
