#include "luma/auto_settings.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "host/slider_index.h"
#include "luma/levels.h"

namespace zeverive::luma {
namespace {

// One calibrated noise level: the estimated sigma of its training clips,
// the fitted scale and the best discrete choices there.
struct Knot {
    double sigma;
    double scale;
    int32_t mode;
    int32_t edge;
};

#include "luma/auto_settings_table.inc"

constexpr int32_t kNoiseThresholds[kShrinkSliderCount] = {40, 60, 80, 100};
constexpr int32_t kFastNoiseThresholds[kShrinkSliderCount] = {40, 60, 100, 100};
constexpr int32_t kShiftedLowpassMode = 3;
constexpr int32_t kFullStrength = 200;
constexpr int32_t kVertical = 100;

// The scale at `sigma` from the knots, linear in log sigma between them.
// Below the first it falls in a straight line to nothing at what a clean
// clip reads (rounding to codes and fine texture), so that clean video is
// left alone; above the last it goes on in proportion to sigma.
template <size_t N>
double scale_at(const Knot (&knots)[N], double sigma) {
    if (sigma <= kCleanSigma) return 0.0;
    if (sigma <= knots[0].sigma) return knots[0].scale * (sigma - kCleanSigma) / (knots[0].sigma - kCleanSigma);
    if (sigma >= knots[N - 1].sigma) return knots[N - 1].scale * sigma / knots[N - 1].sigma;
    size_t upper = 1;
    while (knots[upper].sigma < sigma) ++upper;
    const Knot& a = knots[upper - 1];
    const Knot& b = knots[upper];
    const double along = std::log(sigma / a.sigma) / std::log(b.sigma / a.sigma);
    return std::exp(std::log(a.scale) + along * (std::log(b.scale) - std::log(a.scale)));
}

template <size_t N>
const Knot& nearest(const Knot (&knots)[N], double sigma) {
    const double at = std::log(std::max(sigma, 1e-3));
    return *std::min_element(std::begin(knots), std::end(knots), [&](const Knot& a, const Knot& b) {
        return std::fabs(std::log(a.sigma) - at) < std::fabs(std::log(b.sigma) - at);
    });
}

// The profile for the noise in each band: 40/60/80/100 for white noise,
// each band's share of the noise (its deviation over the largest) raised to
// the estimate's smoothing. This is the blend in log threshold that the
// scale makes between the two rows of knots, band by band.
std::array<int32_t, kShrinkSliderCount> noise_thresholds(const std::array<double, kShrinkSliderCount>& bands,
                                                         double smoothed) {
    const double most = *std::max_element(bands.begin(), bands.end());
    std::array<int32_t, kShrinkSliderCount> thresholds;
    for (size_t band = 0; band < bands.size(); ++band) {
        const double share = most > 0 ? std::pow(bands[band] / most, smoothed) : 1.0;
        thresholds[band] = static_cast<int32_t>(std::lround(kNoiseThresholds[band] * share));
    }
    return thresholds;
}

// Everything but the noise thresholds.
template <size_t N>
AutoSettings settings_from(const Knot (&white_knots)[N], const Knot (&smoothed_knots)[N], const NoiseEstimate& noise) {
    const double sigma = std::max(noise.sigma, 0.0);
    const double smoothed = noise.smoothing;
    const double white = scale_at(white_knots, sigma);
    const double smooth = scale_at(smoothed_knots, sigma);
    const double scale = white <= 0 || smooth <= 0
                             ? (1 - smoothed) * white + smoothed * smooth
                             : std::exp((1 - smoothed) * std::log(white) + smoothed * std::log(smooth));
    const Knot& choice = smoothed < 0.5 ? nearest(white_knots, sigma) : nearest(smoothed_knots, sigma);

    AutoSettings settings{};
    const double gain = scale > 1 ? kGainUnity / scale : kGainUnity;
    settings.gain = std::clamp(static_cast<int32_t>(std::lround(gain)), kMinGain, kGainUnity);
    settings.sliders[kSliderMode] = choice.mode;
    for (int level = 0; level < kEdgeSliderCount; ++level) settings.sliders[kSliderEdgeFirst + level] = choice.edge;
    settings.sliders[kSliderStrength] = static_cast<int32_t>(std::lround(kFullStrength * std::min(scale, 1.0)));
    settings.sliders[kSliderVertical] = kVertical;
    settings.sliders[kSliderDisplay] = 0;
    settings.rows_x10 = false;
    return settings;
}

}  // namespace

AutoSettings settings_for_noise(const NoiseEstimate& noise, Preset preset,
                                const std::array<double, kShrinkSliderCount>& bands) {
    if (preset == Preset::kFast) {
        AutoSettings settings = settings_from(kFastWhiteKnots, kFastSmoothedKnots, noise);
        const bool fast_thresholds = settings.sliders[kSliderMode] == kShiftedLowpassMode;
        for (int band = 0; band < kShrinkSliderCount; ++band)
            settings.sliders[kSliderShrinkFirst + band] =
                (fast_thresholds ? kFastNoiseThresholds : kNoiseThresholds)[band];
        return settings;
    }
    AutoSettings settings = settings_from(kWhiteKnots, kSmoothedKnots, noise);
    const std::array<int32_t, kShrinkSliderCount> thresholds = noise_thresholds(bands, noise.smoothing);
    for (int band = 0; band < kShrinkSliderCount; ++band)
        settings.sliders[kSliderShrinkFirst + band] = thresholds[static_cast<size_t>(band)];
    return settings;
}

std::array<int32_t, kSliderCount> sliders_within(const AutoSettings& chosen, const FilterTable& table) {
    std::array<int32_t, kSliderCount> sliders;
    for (int i = 0; i < kSliderCount; ++i)
        sliders[i] = std::clamp(chosen.sliders[i], table.slider_minimums[i], table.slider_maximums[i]);
    return sliders;
}

}  // namespace zeverive::luma
