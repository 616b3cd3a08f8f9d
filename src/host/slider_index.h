// Where each slider and the check box live in the host's arrays. The plug-in, the host
// program and the tests all index the array through these names.
#pragma once

#include "host/records.h"

enum SliderIndex : int {
    kSliderMode = 0,         // the scheme, see process/mode.h
    kSliderEdgeFirst = 1,    // the four edge thresholds ("Lv2".."Lv5")
    kSliderShrinkFirst = 5,  // noise thresholds of the four detail bands, coarsest first
    kSliderStrength = 9,     // percent; scales every noise threshold
    kSliderVertical = 10,    // percent of the row thresholds for the column pass; 0 skips it
    kSliderDisplay = 11,     // 0 the picture, 1 and 2 the coefficient view
};
// The one check box: the finest band's threshold along rows times 10.
enum CheckboxIndex : int {
    kCheckboxFinestRowsX10 = 0,
};
static_assert(kCheckboxFinestRowsX10 + 1 == kCheckboxCount, "one check box");

constexpr int kEdgeSliderCount = 4;
constexpr int kShrinkSliderCount = 4;
static_assert(kSliderShrinkFirst == kSliderEdgeFirst + kEdgeSliderCount, "edge sliders, then noise sliders");
static_assert(kSliderDisplay + 1 == kSliderCount, "the display slider is the last");
