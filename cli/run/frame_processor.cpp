#include "run/frame_processor.h"

#include "failure.h"
#include "run/forked_workers.h"
#include "run/in_process.h"
#if defined(ZEVERIVE_PLUGIN_COPIES)
#include "run/threaded_frames.h"
#endif

namespace zeverive::cli {

bool plugin_copies_available() {
#if defined(ZEVERIVE_PLUGIN_COPIES)
    return true;
#else
    return false;
#endif
}

std::unique_ptr<FrameProcessor> make_frame_processor(const PluginLibrary& library, const FrameSettings& settings,
                                                     int jobs, int threads, const FrameWork& work,
                                                     const std::string& input_name) {
#if defined(ZEVERIVE_PLUGIN_COPIES)
    // Threads where copies of the plug-in can be made: they share the
    // program's memory and need no copies of frames between processes. A
    // plug-in file, which might not bear being loaded twice, gets
    // processes, and so does a system that refuses the copies. Frames in
    // flight keep the threads busier than one frame's tiles, whose blend
    // and level mapping run on one thread; they go to the tiles only where
    // memory holds one frame.
    if (library.built_in_plugin() && threads > 1) {
        try {
            if (jobs < threads) return process_here(library, settings, work, threads);
            if (jobs > 1) return run_threads(library, settings, jobs, work, input_name);
        } catch (const Failure&) {
        }
    }
#endif
    if (jobs <= 1) return process_here(library, settings, work);
    return fork_workers(library, settings, jobs, work, input_name);
}

}  // namespace zeverive::cli
