#include "instance.h"

#include <algorithm>
#include <cstdint>

#include "host/slider_index.h"
#include "luma/levels.h"
#include "luma/processors.h"
#include "plugin_states.h"

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
        set_checkboxes_[kCheckboxFinestRowsX10] = bool_from_double(value) ? 1 : 0;
    } else if (index == kFieldsParameter) {
        fields_ = bool_from_double(value);
    } else if (index == kThreadsParameter) {
        threads_ = slider_from_double(value, 0, kMostThreads);
    }
}

double Instance::parameter(int index) const {
    const FilterTable& table = *GetFilterTable();
    if (index == kAutoParameter) return auto_settings_ ? 1.0 : 0.0;
    if (index >= kFirstSliderParameter && index < kCheckboxParameter) {
        const int slider = index - kFirstSliderParameter;
        return slider_to_double(set_sliders_[slider], table.slider_minimums[slider], table.slider_maximums[slider]);
    }
    if (index == kCheckboxParameter) return set_checkboxes_[kCheckboxFinestRowsX10] ? 1.0 : 0.0;
    if (index == kFieldsParameter) return fields_ ? 1.0 : 0.0;
    if (index == kThreadsParameter) return slider_to_double(threads_, 0, kMostThreads);
    return 0.0;
}

void Instance::set_text(int index, const char* text) {
    if (index != kPresetParameter || !text) return;
    if (const std::optional<luma::Preset> preset = luma::preset_named(text)) preset_ = *preset;
}

const char* Instance::text(int index) const {
    return index == kPresetParameter ? luma::name_of(preset_) : "";
}

luma::FramePictures Instance::pictures() const {
    return luma::FramePictures(fields_ ? luma::Scan::kTopFieldFirst : luma::Scan::kProgressive, height_);
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
        luma::for_each_picture(codes.data(), width_, pictures(), field_codes_, [&](const float* picture, int rows) {
            estimator_.add_frame(picture, width_, rows, kLowestCode, kHighestCode, &profile_);
        });
        ++frames_estimated_;
        model_ = luma::model_noise(estimator_, profile_);
        stabilised_gain_.reset();
    }
    chosen_ = luma::treatment_for(model_, width_, height_, preset_);
    sliders_ = luma::sliders_within(chosen_.settings, *GetFilterTable());
    checkboxes_[kCheckboxFinestRowsX10] = chosen_.settings.rows_x10 ? 1 : 0;
    gain_ = chosen_.settings.gain;
    if (!chosen_.stabiliser) {
        stabilised_host_.clear();
        stabilised_code_.clear();
        stabilised_gain_.reset();
    } else if (stabilised_gain_ != gain_) {
        const luma::LevelScale scale = luma::luma_scale(8, gain_);
        stabilised_host_.clear();
        stabilised_code_.clear();
        for (int32_t code = 0; code <= kFullRangeCode; ++code)
            stabilised_host_.push_back(luma::stabilised_code_to_host(scale, *chosen_.stabiliser, 8, code));
        for (int32_t host = INT16_MIN; host <= INT16_MAX; ++host)
            stabilised_code_.push_back(luma::stabilised_host_to_code(scale, *chosen_.stabiliser, 8, host));
        stabilised_gain_ = gain_;
    }
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
    // A picture's tiles go to as many of the plug-in's states at once as
    // the threads allow; each state takes this instance's settings first.
    const luma::FramePictures frame_pictures = pictures();
    size_t tiles = 1;
    for (const luma::FramePicture& picture : frame_pictures)
        tiles = std::max(tiles, luma::tile_count(width_, picture.rows, kMaxLineLength, luma::kTileOverlap));
    const int threads = threads_ > 0 ? threads_ : luma::available_processors();
    std::vector<BorrowedState> states = borrow_states(static_cast<int>(std::min<size_t>(tiles, threads)));
    for (BorrowedState& state : states) state.apply(filter_);
    // Each picture is a picture of its own to the second pass too.
    for (const luma::FramePicture& picture : frame_pictures) {
        YcPixel* first = host_.data() + static_cast<size_t>(picture.first_row) * width_;
        const int pitch = picture.row_step * width_;
        if (second_pass) second_pass_.keep_noisy(first, width_, picture.rows, pitch);
        luma::process_in_tiles(
            first, width_, picture.rows, pitch, kMaxLineLength, luma::kTileOverlap, static_cast<int>(states.size()),
            [&](int lane, FrameInfo& frame) { states[lane].process(filter_, frame); }, tiles_);
        if (second_pass) second_pass_.refine(first, chosen_.second_pass_noise(gain_));
    }
    if (stabilised) colour_.to_rgba(in, host_.data(), stabilised_code_, out);
    else colour_.to_rgba(in, host_.data(), scale, sliders_[kSliderDisplay] != 0, out);
}

}  // namespace zeverive::frei0r
