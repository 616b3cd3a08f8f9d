#include "instance.h"

#include <algorithm>
#include <cstdint>

#include "host/slider_index.h"
#include "luma/levels.h"
#include "luma/processors.h"
#include "luma/removal_guard.h"
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
    } else if (index == kAmountParameter) {
        amount_ = amount_from_double(value);
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
    if (index == kAmountParameter) return amount_to_double(amount_);
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
        guard_sigma_.reset();
        return;
    }
    // As `zeverive` reads a few frames of each scene, the filter reads the
    // first few of each scene it is given, and the frame's settings come
    // from its scene's frames so far: a host may not give the rest in
    // order, or at all, and cannot wait for them. With "fields" each field
    // is a picture of its own, compared with the fields of its parity.
    const luma::FramePictures frame_pictures = pictures();
    std::optional<luma::ScenePlacement> placed;
    const luma::FramePicture* picture = frame_pictures.begin();
    luma::for_each_picture(codes.data(), width_, frame_pictures, field_codes_, [&](const float* samples, int rows) {
        const luma::LumaPlane plane{samples, width_, rows, kLowestCode, kHighestCode};
        placed = luma::frame_placement(placed, tracker_.add_picture(plane, static_cast<int>((picture++)->parity)));
    });
    Scene& scene = scenes_[placed->scene];
    scene.last_used = frames_++;
    if (scene.frames_read < luma::kNoiseSamplePictures) {
        picture = frame_pictures.begin();
        luma::for_each_picture(codes.data(), width_, frame_pictures, field_codes_, [&](const float* samples, int rows) {
            const luma::LumaPlane plane{samples, width_, rows, kLowestCode, kHighestCode};
            scene.estimator.add_picture(plane, static_cast<int>((picture++)->parity), &scene.profile, threads_in_use());
        });
        ++scene.frames_read;
        scene.model = luma::model_noise(scene.estimator, scene.profile);
    }
    // Only scenes the tracker can return to are worth keeping.
    while (scenes_.size() > luma::SceneTracker::kRecentScenes) {
        auto oldest = scenes_.begin();
        for (auto i = scenes_.begin(); i != scenes_.end(); ++i)
            if (i->second.last_used < oldest->second.last_used) oldest = i;
        scenes_.erase(oldest);
    }
    luma::NoiseModel noise = scene.model;
    noise.estimate.sigma *= amount_;
    // The preset is chosen again every frame, so that one set after the
    // scene's first frames still applies.
    chosen_ = luma::treatment_for(noise, width_, height_, preset_);
    sliders_ = luma::sliders_within(chosen_.settings, *GetFilterTable());
    checkboxes_[kCheckboxFinestRowsX10] = chosen_.settings.rows_x10 ? 1 : 0;
    gain_ = chosen_.settings.gain;
    // The guard reads the host frame, on the stabilised scale where there
    // is one: the noise has one level there.
    guard_sigma_ = noise.estimate.sigma;
    if (!chosen_.stabiliser) {
        stabilised_host_.clear();
        stabilised_code_.clear();
        stabilised_for_.reset();
        return;
    }
    const luma::NoiseLevelFunction& level = chosen_.stabiliser->level();
    if (stabilised_for_ && stabilised_for_->second == gain_ && stabilised_for_->first.slope == level.slope &&
        stabilised_for_->first.offset == level.offset && stabilised_for_->first.darkest == level.darkest &&
        stabilised_for_->first.brightest == level.brightest)
        return;
    const luma::LevelScale scale = luma::luma_scale(8, gain_);
    stabilised_host_.clear();
    stabilised_code_.clear();
    for (int32_t code = 0; code <= kFullRangeCode; ++code)
        stabilised_host_.push_back(luma::stabilised_code_to_host(scale, *chosen_.stabiliser, 8, code));
    for (int32_t host = INT16_MIN; host <= INT16_MAX; ++host)
        stabilised_code_.push_back(luma::stabilised_host_to_code(scale, *chosen_.stabiliser, 8, host));
    stabilised_for_.emplace(level, gain_);
}

int Instance::threads_in_use() const {
    return threads_ > 0 ? threads_ : luma::available_processors();
}

void Instance::update(const uint32_t* in, uint32_t* out) {
    const int threads = threads_in_use();
    colour_.set_lanes(threads);
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
    if (guard_sigma_) {
        const double host_per_code = static_cast<double>(luma::kHostSpan) * gain_ / (luma::kGainUnity * 219.0);
        luma::guard_change(colour_.before().data(), 1, &host_[0].y, 3, width_, height_, host_per_code, *guard_sigma_,
                           threads);
    }
    if (stabilised) colour_.to_rgba(in, host_.data(), stabilised_code_, out);
    else colour_.to_rgba(in, host_.data(), scale, sliders_[kSliderDisplay] != 0, out);
}

}  // namespace zeverive::frei0r
