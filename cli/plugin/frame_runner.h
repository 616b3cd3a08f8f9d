// What every frame goes through, in whichever process: its samples mapped
// to the host's scale, the plug-in (in tiles where the frame is larger than
// it holds), the way back to samples, and with automatic settings the
// guard on what was removed.
#pragma once

#include <cstdint>
#include <optional>

#include "formats/picture.h"
#include "host/records.h"
#include "luma/levels.h"
#include "luma/tiling.h"
#include "plugin/plugin_host.h"

namespace zeverive::cli {

// What is done to every frame of a run.
struct FrameWork {
    PictureFormat format;
    bool tile;            // frames larger than the plug-in holds go in tiles
    bool neutral_chroma;  // the coefficient display replaces the picture
};

// What a scene's frames are given; it may change from scene to scene.
struct FrameSettings {
    HostSettings host;
    int32_t gain = luma::kGainUnity;  // the level gain, thousandths
    // The noise level (8-bit codes) the guard holds the change to, or
    // nothing for settings given by hand, which are left as they act.
    std::optional<double> guard_sigma;
};

class FrameRunner {
public:
    // `session` was set up with `settings.host`.
    FrameRunner(PluginSession& session, const FrameWork& work, const FrameSettings& settings);
    // Settings for the frames to come.
    void change(const FrameSettings& settings);
    // `input` and `output` hold frame_bytes(format) bytes; `host` holds
    // width * height pixels and is left as the plug-in left it.
    void run(const uint8_t* input, YcPixel* host, uint8_t* output);

private:
    PluginSession& session_;
    FrameWork work_;
    FrameSettings settings_;
    luma::LevelMapping levels_;
    luma::TileBuffers buffers_;
};

}  // namespace zeverive::cli
