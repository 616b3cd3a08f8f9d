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
    : session_(session), work_(work), settings_(settings), levels_(work.format, settings.gain) {}

void FrameRunner::change(const FrameSettings& settings) {
    if (settings.gain != settings_.gain) levels_ = luma::LevelMapping(work_.format, settings.gain);
    session_.apply(settings.host);
    settings_ = settings;
}

void FrameRunner::run(const uint8_t* input, YcPixel* host, uint8_t* output) {
    const PictureFormat& format = work_.format;
    levels_.to_host(input, host);
    if (work_.tile) {
        luma::process_in_tiles(
            host, format.width, format.height, kMaxLineLength, luma::kTileOverlap,
            [&](FrameInfo& info) { session_.process(info); }, buffers_);
    } else {
        FrameInfo info{0, host, 0, format.width, format.height, format.width};
        session_.process(info);
    }
    levels_.to_samples(input, host, work_.neutral_chroma, output);
    // Where the guard backed off, the host frame shows the result too.
    if (settings_.guard_sigma && !work_.neutral_chroma && guard_luma(format, input, output, *settings_.guard_sigma))
        levels_.to_host(output, host);
}

}  // namespace zeverive::cli
