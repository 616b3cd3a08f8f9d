// One frei0r instance: its parameters, and what it keeps from frame to
// frame (the scenes and their noise estimates for the automatic settings,
// working memory).
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <utility>
#include <vector>

#include "host/records.h"
#include "luma/dct_wiener.h"
#include "luma/frame_pictures.h"
#include "luma/noise_estimator.h"
#include "luma/noise_model.h"
#include "luma/noise_profile.h"
#include "luma/presets.h"
#include "luma/scene_tracker.h"
#include "luma/tiling.h"
#include "luma/treatment.h"
#include "parameters.h"
#include "rgb_luma.h"

namespace zeverive::frei0r {

class Instance {
public:
    Instance(int width, int height);

    // In frei0r's terms: doubles from 0 to 1, booleans from 0.5 up; the
    // preset by its name, an unknown name leaving it as it was.
    void set_parameter(int index, double value);
    double parameter(int index) const;
    void set_text(int index, const char* text);
    const char* text(int index) const;

    void update(const uint32_t* in, uint32_t* out);
    size_t frame_bytes() const { return host_.size() * sizeof(uint32_t); }

private:
    // The threads a frame's work is shared among: the tiles, the
    // conversions, the guard and the estimate.
    int threads_in_use() const;
    // What the filter keeps of a scene: its estimate, from its first
    // frames as they come.
    struct Scene {
        luma::NoiseEstimator estimator;
        luma::NoiseProfile profile;
        int frames_read = 0;
        luma::NoiseModel model;
        int64_t last_used = 0;
    };

    // The settings for the next frame: the sliders as set, or with "auto",
    // those for the noise of its scene's frames so far.
    void choose_settings(const std::vector<float>& codes);
    // The frame itself, or with "fields" its two fields, top first.
    luma::FramePictures pictures() const;

    int width_;
    int height_;
    bool auto_settings_ = true;
    double amount_ = 1;
    luma::Preset preset_ = luma::Preset::kDefault;
    int32_t threads_ = 0;  // 0: every processor
    bool fields_ = false;
    std::array<int32_t, kSliderCount> set_sliders_;
    std::array<int32_t, kCheckboxCount> set_checkboxes_;

    HostFilter filter_;
    std::array<int32_t, kSliderCount> sliders_;
    std::array<int32_t, kCheckboxCount> checkboxes_;
    int32_t gain_ = luma::kGainUnity;

    // With "auto": the level the guard holds the change to.
    std::optional<double> guard_sigma_;

    luma::SceneTracker tracker_;
    std::map<int, Scene> scenes_;  // those the tracker may return to
    int64_t frames_ = 0;
    std::vector<float> field_codes_;
    luma::Treatment chosen_{};
    // With a stabiliser: host values by code, codes by host value, for the
    // noise-level function and gain they were made for (none: to be made).
    std::vector<int16_t> stabilised_host_;
    std::vector<double> stabilised_code_;
    std::optional<std::pair<luma::NoiseLevelFunction, int32_t>> stabilised_for_;
    luma::DctWiener second_pass_;

    LumaWeights weights_;
    RgbLuma colour_;
    std::vector<YcPixel> host_;
    luma::TileBuffers tiles_;
};

}  // namespace zeverive::frei0r
