// The plug-in runs in this process, one frame at a time; a frame's tiles
// may be spread over threads, each with a copy of the built-in plug-in.
#pragma once

#include <memory>

#include "run/frame_processor.h"

namespace zeverive::cli {

// `lanes` threads for the tiles, the first with `library`, the others
// with copies of it (only where copies can be made: otherwise 1). Throws
// Failure if a plug-in instance or a copy cannot be set up.
std::unique_ptr<FrameProcessor> process_here(const PluginLibrary& library, const FrameSettings& settings,
                                             const FrameWork& work, int lanes = 1);

}  // namespace zeverive::cli
