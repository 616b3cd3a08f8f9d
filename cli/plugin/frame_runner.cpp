#include "plugin/frame_runner.h"

#include "common/size_class.h"
#include "luma/removal_guard.h"

namespace zeverive::cli {
namespace {

// The guard on the luma plane of a frame as the file stores it; the
// number of regions it backed off in.
int guard_luma(const PictureFormat& format, const uint8_t* input, uint8_t* output, double sigma) {
    if (format.sampling == luma::Sampling::kHost) {
        // Y of each YcPixel, little-endian as the machine is.
        return luma::guard_change(reinterpret_cast<const int16_t*>(input), 3, reinterpret_cast<int16_t*>(output), 3,
                           format.width, format.height, luma::kHostSpan / 219.0, sigma);
    }
    if (format.bit_depth > 8) {
        return luma::guard_change(reinterpret_cast<const uint16_t*>(input), reinterpret_cast<uint16_t*>(output),
                           format.width, format.height, static_cast<double>(1 << (format.bit_depth - 8)), sigma);
    }
    return luma::guard_change(input, output, format.width, format.height, 1.0, sigma);
}

}  // namespace

FrameRunner::FrameRunner(PluginSession& session, const FrameWork& work, const FrameSettings& settings)
    : FrameRunner(std::vector<PluginSession*>{&session}, work, settings) {}

FrameRunner::FrameRunner(std::vector<PluginSession*> sessions, const FrameWork& work, const FrameSettings& settings)
    : sessions_(std::move(sessions)),
      work_(work),
      settings_(settings),
      levels_(work.format, settings.gain, settings.stabiliser ? &*settings.stabiliser : nullptr) {}

void FrameRunner::change(const FrameSettings& settings) {
    if (settings.gain != settings_.gain || settings.stabiliser || settings_.stabiliser)
        levels_ = luma::LevelMapping(work_.format, settings.gain, settings.stabiliser ? &*settings.stabiliser : nullptr);
    for (PluginSession* session : sessions_) session->apply(settings.host);
    settings_ = settings;
}

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
        if (settings_.second_pass) second_pass_.keep_noisy(first, width, picture.rows, pitch);
        luma::process_in_tiles(
            first, width, picture.rows, pitch, kMaxLineLength, luma::kTileOverlap, static_cast<int>(sessions_.size()),
            [&](int lane, FrameInfo& info) { sessions_[lane]->process(info); }, buffers_);
        if (settings_.second_pass) second_pass_.refine(first, *settings_.second_pass);
    }
    levels_.to_samples(input, host, work_.neutral_chroma, output);
    // Where the guard backed off, the host frame shows the result too.
    if (settings_.guard_sigma && !work_.neutral_chroma &&
        guard_luma(work_.format, input, output, *settings_.guard_sigma) && keep_host)
        levels_.to_host(output, host, true);
}

}  // namespace zeverive::cli
