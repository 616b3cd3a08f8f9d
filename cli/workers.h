// Frames through the plug-in, one process or several.
//
// The plug-in keeps its working state process-wide and takes no locks, so
// parallel work needs separate processes: each worker is forked, sets up
// its own plug-in instance, and takes whole frames from the parent. Frames
// are handed out in turn and their results taken back in the same order,
// which keeps the output in input order and identical to a single process.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/records.h"
#include "plugin_host.h"
#include "tiling.h"

namespace zeverive::cli {

// What every frame goes through, in whichever process: the plug-in, in
// tiles when `tile` is set and the frame is larger than the plug-in holds.
class FrameRunner {
public:
    FrameRunner(PluginSession& session, bool tile) : session_(session), tile_(tile) {}
    void run(YcPixel* frame, int width, int height);

private:
    PluginSession& session_;
    bool tile_;
    TileBuffers buffers_;
};

class FrameProcessor {
public:
    virtual ~FrameProcessor() = default;
    // Frames that may be submitted before the oldest must be taken.
    virtual size_t capacity() const = 0;
    virtual size_t in_flight() const = 0;
    // Hands over a frame; `frame_number` only names it in messages.
    virtual void submit(std::vector<YcPixel>& frame, int width, int height, int64_t frame_number) = 0;
    // The oldest frame submitted, processed.
    virtual void take(std::vector<YcPixel>& frame) = 0;
    // Ends the plug-in instances (finalise); throws Failure if one of them
    // did not end cleanly.
    virtual void finish() = 0;
};

// `jobs` 1 runs the plug-in in this process; more fork that many workers,
// for frames of `width` x `height`. Throws Failure if a plug-in instance
// cannot be set up. A frame lost with its worker is reported as a frame of
// `input_name`.
std::unique_ptr<FrameProcessor> make_frame_processor(const PluginLibrary& library, const HostSettings& settings,
                                                     int jobs, bool tile, const std::string& input_name, int width,
                                                     int height);

}  // namespace zeverive::cli
