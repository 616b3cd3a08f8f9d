// settings_changed: sliders to FilterParams.
//
// The hosts that run this plug-in have always seen these thresholds to the
// last bit, so the order and precision of every product is part of the
// contract: percentages are stored as floats, the shrink threshold's
// intermediate product is kept at double precision, everything else is a
// single-precision product.

#include "common/single_precision.h"
#include "host/callbacks.h"
#include "host/filter_params.h"
#include "host/slider_index.h"

namespace zeverive {

FilterParams filter_params;

namespace {

const float kPercent = 0.01f;              // 0x3C23D70A
const float kSliderToShrink = 0.8192f;     // 0x3F51B717
const float kSliderToEdge = 3.0f;
const float kRowsOnlyFactor = 10.0f;

static_assert(kShrinkSliderCount == kBandCount && kEdgeSliderCount == kBandCount,
              "one noise slider and one edge slider per detail band");

// IEEE single-precision product of two floats: the exact product fits a
// double, so rounding it once gives the same bits as a float multiply.
float single_product(float a, float b) {
    return to_single(static_cast<double>(a) * b);
}

float as_single(int32_t value) {
    return to_single(static_cast<double>(value));
}

}  // namespace
}  // namespace zeverive

extern "C" int32_t ZEVERIVE_CDECL settings_changed(HostFilter* filter) {
    using namespace zeverive;
    // Without the host's arrays the parameters stay as they were.
    if (!filter || !filter->slider_values || !filter->checkbox_values) return 1;
    const int32_t* sliders = filter->slider_values;
    FilterParams& p = filter_params;

    p.strength = single_product(as_single(sliders[kSliderStrength]), kPercent);
    for (int i = 0; i < kShrinkSliderCount; ++i) {
        // Wide intermediate: rounding slider x 0.8192 to single first would
        // change about a quarter of the results.
        const double wide = static_cast<double>(sliders[kSliderShrinkFirst + i]) * kSliderToShrink;
        p.row_thresholds[i] = to_single(wide * p.strength);
    }
    p.vertical_factor = single_product(as_single(sliders[kSliderVertical]), kPercent);
    for (int i = 0; i < kBandCount; ++i) {
        p.column_thresholds[i] = single_product(p.vertical_factor, p.row_thresholds[i]);
    }
    if (filter->checkbox_values[kCheckboxFinestRowsX10] == 1) {
        p.row_thresholds[3] = single_product(p.row_thresholds[3], kRowsOnlyFactor);
    }
    for (int i = 0; i < kEdgeSliderCount; ++i) {
        p.edge_thresholds[i] = single_product(as_single(sliders[kSliderEdgeFirst + i]), kSliderToEdge);
    }
    p.mode = sliders[kSliderMode];
    return 1;
}
