// What every frame goes through, in whichever process: its samples mapped
// to the host's scale, the plug-in (in tiles where the frame is larger than
// it holds), and the way back to samples.
#pragma once

#include <cstdint>
#include <vector>

#include "formats/picture.h"
#include "host/records.h"
#include "luma/levels.h"
#include "luma/tiling.h"
#include "plugin/plugin_host.h"

namespace zeverive::cli {

// What is done to every frame.
struct FrameWork {
    PictureFormat format;
    bool tile;            // frames larger than the plug-in holds go in tiles
    bool neutral_chroma;  // the coefficient display replaces the picture
    int32_t gain;         // the level gain, thousandths
};

class FrameRunner {
public:
    FrameRunner(PluginSession& session, const FrameWork& work);
    // A frame's tiles spread over the sessions, one thread each (each in a
    // copy of the plug-in of its own).
    FrameRunner(std::vector<PluginSession*> sessions, const FrameWork& work);
    // `input` and `output` hold frame_bytes(format) bytes; `host` holds
    // width * height pixels and is left as the plug-in left it.
    void run(const uint8_t* input, YcPixel* host, uint8_t* output);

private:
    std::vector<PluginSession*> sessions_;
    FrameWork work_;
    luma::LevelMapping levels_;
    luma::TileBuffers buffers_;
};

}  // namespace zeverive::cli
