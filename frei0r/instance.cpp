#include "instance.h"

#include "host/slider_index.h"
#include "luma/removal_guard.h"
#include "shared_plugin.h"

namespace zeverive::frei0r {
namespace {

// Video-range codes at which the frame's R'G'B' clipped, which hides noise.
constexpr float kLowestCode = 16.0f;
constexpr float kHighestCode = 235.0f;

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
        set_checkboxes_[0] = bool_from_double(value) ? 1 : 0;
    }
}

double Instance::parameter(int index) const {
    const FilterTable& table = *GetFilterTable();
    if (index == kAutoParameter) return auto_settings_ ? 1.0 : 0.0;
    if (index >= kFirstSliderParameter && index < kCheckboxParameter) {
        const int slider = index - kFirstSliderParameter;
        return slider_to_double(set_sliders_[slider], table.slider_minimums[slider], table.slider_maximums[slider]);
    }
    if (index == kCheckboxParameter) return set_checkboxes_[0] ? 1.0 : 0.0;
    if (index == kAmountParameter) return amount_to_double(amount_);
    return 0.0;
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
    // order, or at all, and cannot wait for them.
    const luma::LumaPlane plane{codes.data(), width_, height_, kLowestCode, kHighestCode};
    const luma::ScenePlacement placement = tracker_.add_picture(plane);
    Scene& scene = scenes_[placement.scene];
    scene.last_used = frames_++;
    if (scene.pictures < luma::kNoiseSamplePictures) {
        scene.estimator.add_picture(plane);
        ++scene.pictures;
        scene.estimate = scene.estimator.estimate();
    }
    // Only scenes the tracker can return to are worth keeping.
    while (scenes_.size() > luma::SceneTracker::kRecentScenes) {
        auto oldest = scenes_.begin();
        for (auto i = scenes_.begin(); i != scenes_.end(); ++i)
            if (i->second.last_used < oldest->second.last_used) oldest = i;
        scenes_.erase(oldest);
    }
    luma::NoiseEstimate noise = scene.estimate;
    noise.sigma *= amount_;
    const luma::AutoSettings chosen = luma::settings_for_noise(noise);
    sliders_ = luma::sliders_within(chosen, *GetFilterTable());
    checkboxes_[0] = chosen.rows_x10 ? 1 : 0;
    gain_ = chosen.gain;
    guard_sigma_ = noise.sigma;
}

void Instance::update(const uint32_t* in, uint32_t* out) {
    colour_.read(in, host_.size(), weights_);
    choose_settings(colour_.codes());
    const luma::LevelScale scale = luma::luma_scale(8, gain_);
    colour_.to_host(scale, host_.data());
    run_exclusively(filter_, [&] {
        luma::process_in_tiles(
            host_.data(), width_, height_, kMaxLineLength, luma::kTileOverlap,
            [&](FrameInfo& frame) { filter_.process_frame(&filter_, &frame); }, tiles_);
    });
    if (guard_sigma_) {
        const double host_per_code = static_cast<double>(luma::kHostSpan) * gain_ / (luma::kGainUnity * 219.0);
        luma::guard_change(colour_.before().data(), 1, &host_[0].y, 3, width_, height_, host_per_code, *guard_sigma_);
    }
    colour_.to_rgba(in, host_.data(), scale, sliders_[kSliderDisplay] != 0, out);
}

}  // namespace zeverive::frei0r
