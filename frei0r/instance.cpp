#include "instance.h"

#include <cstdint>

#include "host/slider_index.h"
#include "luma/levels.h"
#include "shared_plugin.h"

namespace zeverive::frei0r {
namespace {

// Video-range codes at which the frame's R'G'B' clipped, which hides noise.
constexpr float kLowestCode = 16.0f;
constexpr float kHighestCode = 235.0f;
// The codes frei0r's 8-bit channels give, as the level mapping sees them.
constexpr int32_t kFullRangeCode = 255;

}  // namespace

Instance::Instance(int width, int height)
    : width_(width), height_(height), filter_(*GetFilterTable()), weights_(luma_weights(height)) {
    const FilterTable& table = *GetFilterTable();
    for (int i = 0; i < kSliderCount; ++i) set_sliders_[i] = table.slider_defaults[i];
    for (int i = 0; i < kCheckboxCount; ++i) set_checkboxes_[i] = table.checkbox_defaults[i];
    sliders_ = set_sliders_;
    checkboxes_ = set_checkboxes_;
    filter_.slider_values = sliders_.data();
    filter_.checkbox_values = checkboxes_.data();
    host_.resize(static_cast<size_t>(width) * static_cast<size_t>(height));
}

void Instance::set_parameter(int index, double value) {
    const FilterTable& table = *GetFilterTable();
    if (index == kAutoParameter) {
        auto_settings_ = bool_from_double(value);
    } else if (index >= kFirstSliderParameter && index < kCheckboxParameter) {
        const int slider = index - kFirstSliderParameter;
        set_sliders_[slider] =
            slider_from_double(value, table.slider_minimums[slider], table.slider_maximums[slider]);
    } else if (index == kCheckboxParameter) {
        set_checkboxes_[0] = bool_from_double(value) ? 1 : 0;
    }
}

void Instance::set_text(int index, const char* text) {
    if (index != kPresetParameter || !text) return;
    if (const std::optional<luma::Preset> preset = luma::preset_named(text)) preset_ = *preset;
}

const char* Instance::text(int index) const {
    return index == kPresetParameter ? luma::name_of(preset_) : "";
}

double Instance::parameter(int index) const {
    const FilterTable& table = *GetFilterTable();
    if (index == kAutoParameter) return auto_settings_ ? 1.0 : 0.0;
    if (index >= kFirstSliderParameter && index < kCheckboxParameter) {
        const int slider = index - kFirstSliderParameter;
        return slider_to_double(set_sliders_[slider], table.slider_minimums[slider], table.slider_maximums[slider]);
    }
    if (index == kCheckboxParameter) return set_checkboxes_[0] ? 1.0 : 0.0;
    return 0.0;
}

void Instance::choose_settings(const std::vector<float>& codes) {
    if (!auto_settings_) {
        sliders_ = set_sliders_;
        checkboxes_ = set_checkboxes_;
        gain_ = luma::kGainUnity;
        return;
    }
    // As `zeverive` reads a few frames of a clip, the filter reads the first
    // few it is given; a host may not give the rest in order, or at all.
    if (frames_estimated_ < luma::kNoiseSampleFrames) {
        estimator_.add_frame(codes.data(), width_, height_, kLowestCode, kHighestCode, &profile_);
        ++frames_estimated_;
        chosen_ = luma::treatment_for(luma::model_noise(estimator_, profile_), width_, height_, preset_);
        stabilised_host_.clear();
        stabilised_code_.clear();
        if (chosen_.stabiliser) {
            const luma::LevelScale scale = luma::luma_scale(8, chosen_.settings.gain);
            for (int32_t code = 0; code <= kFullRangeCode; ++code)
                stabilised_host_.push_back(luma::stabilised_code_to_host(scale, *chosen_.stabiliser, 8, code));
            for (int32_t host = INT16_MIN; host <= INT16_MAX; ++host)
                stabilised_code_.push_back(luma::stabilised_host_to_code(scale, *chosen_.stabiliser, 8, host));
        }
    }
    sliders_ = luma::sliders_within(chosen_.settings, *GetFilterTable());
    checkboxes_[0] = chosen_.settings.rows_x10 ? 1 : 0;
    gain_ = chosen_.settings.gain;
}

void Instance::update(const uint32_t* in, uint32_t* out) {
    colour_.read(in, host_.size(), weights_);
    choose_settings(colour_.codes());
    const bool automatic = auto_settings_;
    const luma::LevelScale scale = luma::luma_scale(8, gain_);
    const bool stabilised = automatic && !stabilised_host_.empty();
    if (stabilised) colour_.to_host(stabilised_host_, host_.data());
    else colour_.to_host(scale, host_.data());
    const bool second_pass = automatic && chosen_.second_pass;
    if (second_pass) second_pass_.keep_noisy(host_.data(), width_, height_);
    run_exclusively(filter_, [&] {
        luma::process_in_tiles(
            host_.data(), width_, height_, kMaxLineLength, luma::kTileOverlap,
            [&](FrameInfo& frame) { filter_.process_frame(&filter_, &frame); }, tiles_);
    });
    if (second_pass) second_pass_.refine(host_.data(), chosen_.second_pass_noise(gain_));
    if (stabilised) colour_.to_rgba(in, host_.data(), stabilised_code_, out);
    else colour_.to_rgba(in, host_.data(), scale, sliders_[kSliderDisplay] != 0, out);
}

}  // namespace zeverive::frei0r
