// Frames through the plug-in, one process or several.
//
// The plug-in keeps its working state process-wide and takes no locks, so
// parallel work needs separate processes: each worker is forked, sets up
// its own plug-in instance, and takes whole frames from the parent as the
// file stores them: the workers decode, map and encode, and the parent only
// reads and writes. Frames are handed out in turn and their results taken
// back in the same order, which keeps the output in input order and
// identical to a single process.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/records.h"
#include "plugin/frame_runner.h"
#include "plugin/plugin_host.h"

namespace zeverive::cli {

// A frame the plug-in is done with: its samples as read, the host frame
// the plug-in left (only when asked for on submitting, else null), and the
// samples to write.
struct ProcessedFrame {
    const uint8_t* input;
    const YcPixel* host;
    const uint8_t* output;
};

// Frames go in through buffers the processor owns, so that the caller reads
// each frame straight to where it is processed; in worker processes those
// buffers are memory shared with this one, and no frame is copied on its
// way between them.
class FrameProcessor {
public:
    virtual ~FrameProcessor() = default;
    // Frames that may be submitted before the oldest must be taken.
    virtual size_t capacity() const = 0;
    virtual size_t in_flight() const = 0;
    // Where the next frame's samples go, frame_bytes(format) bytes; only
    // while fewer than capacity() frames are in flight.
    virtual uint8_t* next_frame() = 0;
    // Hands over the frame read into next_frame(); `frame_number` only
    // names it in messages, `keep_host` asks for its host frame in take(),
    // `scan` says whether it is denoised whole or field by field.
    virtual void submit(int64_t frame_number, bool keep_host, luma::Scan scan) = 0;
    // Settings for the frames submitted from now on (a new scene's).
    virtual void change_settings(const FrameSettings& settings) = 0;
    // Runs the frame read into next_frame() once with each of `settings`
    // and hands `result` each run's samples as they would be written, in
    // the order of `settings` (readable during that call only); the frame
    // stays to be submitted, in the settings last changed to. Only with no
    // frame in flight. Several threads run the trials at once.
    using TrialResult = std::function<void(size_t trial, const uint8_t* samples)>;
    virtual void trials(const std::vector<FrameSettings>& settings, luma::Scan scan, const TrialResult& result) = 0;
    // The oldest frame submitted; readable until the next call to
    // next_frame().
    virtual ProcessedFrame take() = 0;
    // Ends the plug-in instances (finalise); throws Failure if one of them
    // did not end cleanly.
    virtual void finish() = 0;
};

// `jobs` frames in flight: 1 runs the plug-in in this process; more run
// threads, each with a copy of the built-in plug-in, or fork that many
// workers for a plug-in file (or where copies cannot be made). With
// `threads` above `jobs` (tiled frames that do not fit in memory `threads`
// times over), one frame is in flight and its tiles share the threads.
// Throws Failure if a plug-in instance cannot be set up. A frame lost with
// its worker is reported as a frame of `input_name`.
std::unique_ptr<FrameProcessor> make_frame_processor(const PluginLibrary& library, const FrameSettings& settings,
                                                     int jobs, int threads, const FrameWork& work,
                                                     const std::string& input_name);

// Whether this build can run threads on copies of the built-in plug-in.
bool plugin_copies_available();

}  // namespace zeverive::cli
