#include "run/frame_processor.h"

#include "run/forked_workers.h"
#include "run/in_process.h"

namespace zeverive::cli {

std::unique_ptr<FrameProcessor> make_frame_processor(const PluginLibrary& library, const FrameSettings& settings,
                                                     int jobs, const FrameWork& work, const std::string& input_name) {
    if (jobs <= 1) return process_here(library, settings, work);
    return fork_workers(library, settings, jobs, work, input_name);
}

}  // namespace zeverive::cli
