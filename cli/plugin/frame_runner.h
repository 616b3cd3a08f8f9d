// What every frame goes through, in whichever process: its samples mapped
// to the host's scale, the plug-in once for each of the frame's pictures
// (the frame, or its two fields), in tiles where a picture is larger than
// the plug-in holds, and the way back to samples.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "formats/picture.h"
#include "host/records.h"
#include "luma/dct_wiener.h"
#include "luma/frame_pictures.h"
#include "luma/levels.h"
#include "luma/tiling.h"
#include "plugin/plugin_host.h"

namespace zeverive::cli {

// What is done to every frame.
struct FrameWork {
    PictureFormat format;
    bool neutral_chroma;  // the coefficient display replaces the picture
    int32_t gain;         // the level gain, thousandths
    bool chroma_read;     // the plug-in may read Cb and Cr: a plug-in file, not the built-in one
    // The bend of the level mapping for noise that grows with brightness.
    std::optional<luma::Stabiliser> stabiliser = std::nullopt;
    // The noise the second pass takes out (--preset best), or none; each
    // of the frame's pictures goes through it on its own.
    std::optional<luma::BlockNoise> second_pass = std::nullopt;
};

class FrameRunner {
public:
    FrameRunner(PluginSession& session, const FrameWork& work);
    // A frame's tiles spread over the sessions, one thread each (each in a
    // copy of the plug-in of its own).
    FrameRunner(std::vector<PluginSession*> sessions, const FrameWork& work);
    // `input` and `output` hold frame_bytes(format) bytes; `host` holds
    // width * height pixels and is left as the plug-in left it; its chroma
    // is mapped only where the plug-in may read it or `keep_host` says the
    // host frame will be seen. `scan` says whether the frame is denoised
    // whole or field by field.
    void run(const uint8_t* input, luma::Scan scan, YcPixel* host, uint8_t* output, bool keep_host);

private:
    std::vector<PluginSession*> sessions_;
    FrameWork work_;
    luma::LevelMapping levels_;
    luma::TileBuffers buffers_;
    luma::DctWiener second_pass_;
};

}  // namespace zeverive::cli
