// What every frame goes through, in whichever process: its samples mapped
// to the host's scale (through the stabilising curve where the scene has
// one), the plug-in once for each of the frame's pictures (the frame, or
// its two fields), in tiles where a picture is larger than the plug-in
// holds, the second pass of --preset best on each picture, the way back to
// samples, and with automatic settings the guard on what the whole chain
// removed.
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

// What is done to every frame of a run.
struct FrameWork {
    PictureFormat format;
    bool neutral_chroma;  // the coefficient display replaces the picture
    bool chroma_read;     // the plug-in may read Cb and Cr: a plug-in file, not the built-in one
};

// What a scene's frames are given; it may change from scene to scene.
struct FrameSettings {
    HostSettings host;
    int32_t gain = luma::kGainUnity;  // the level gain, thousandths
    // The noise level (8-bit codes) the guard holds the change to, or
    // nothing for settings given by hand, which are left as they act.
    std::optional<double> guard_sigma = std::nullopt;
    // The bend of the level mapping for noise that grows with brightness.
    std::optional<luma::Stabiliser> stabiliser = std::nullopt;
    // The noise the second pass takes out (--preset best), or none; each
    // of the frame's pictures goes through it on its own.
    std::optional<luma::BlockNoise> second_pass = std::nullopt;
};

class FrameRunner {
public:
    // `session` was set up with `settings.host`.
    FrameRunner(PluginSession& session, const FrameWork& work, const FrameSettings& settings);
    // A frame's tiles spread over the sessions, one thread each (each in a
    // copy of the plug-in of its own), all set up with `settings.host`.
    FrameRunner(std::vector<PluginSession*> sessions, const FrameWork& work, const FrameSettings& settings);
    // Settings for the frames to come, in every session.
    void change(const FrameSettings& settings);
    // `input` and `output` hold frame_bytes(format) bytes; `host` holds
    // width * height pixels and is left as the plug-in left it; its chroma
    // is mapped only where the plug-in may read it or `keep_host` says the
    // host frame will be seen. `scan` says whether the frame is denoised
    // whole or field by field.
    void run(const uint8_t* input, luma::Scan scan, YcPixel* host, uint8_t* output, bool keep_host);

private:
    std::vector<PluginSession*> sessions_;
    FrameWork work_;
    FrameSettings settings_;
    luma::LevelMapping levels_;
    luma::TileBuffers buffers_;
    luma::DctWiener second_pass_;
};

}  // namespace zeverive::cli
