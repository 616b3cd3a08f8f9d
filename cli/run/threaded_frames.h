// Several jobs in this process: threads, each running frames through a
// copy of the built-in plug-in of its own (luma/plugin_copies.h).
#pragma once

#include <memory>
#include <string>

#include "run/frame_processor.h"

namespace zeverive::cli {

// Frames in flight held per thread.
constexpr int kSlotsPerThread = 2;

// Starts `jobs` threads: the first runs the built-in plug-in `library`,
// the others copies of it. Throws Failure when a copy cannot be loaded or
// a plug-in instance cannot be set up. A frame whose work failed is
// reported as a frame of `input_name`.
std::unique_ptr<FrameProcessor> run_threads(const PluginLibrary& library, const FrameSettings& settings, int jobs,
                                            const FrameWork& work, const std::string& input_name);

}  // namespace zeverive::cli
