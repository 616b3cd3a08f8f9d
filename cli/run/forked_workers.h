// Several jobs: forked worker processes, each with its own plug-in
// instance, fed frames through memory shared with this process.
#pragma once

#include <memory>
#include <string>

#include "run/frame_processor.h"

namespace zeverive::cli {

// Starts `jobs` workers and waits until each has set up its plug-in
// instance. Throws Failure, with no worker left behind, when one cannot
// start. A frame lost with its worker is reported as a frame of
// `input_name`.
std::unique_ptr<FrameProcessor> fork_workers(const PluginLibrary& library, const FrameSettings& settings, int jobs,
                                             const FrameWork& work, const std::string& input_name);

}  // namespace zeverive::cli
