// One job: the plug-in runs in this process, one frame at a time.
#pragma once

#include <memory>

#include "run/frame_processor.h"

namespace zeverive::cli {

// Throws Failure if the plug-in instance cannot be set up.
std::unique_ptr<FrameProcessor> process_here(const PluginLibrary& library, const FrameSettings& settings,
                                             const FrameWork& work);

}  // namespace zeverive::cli
