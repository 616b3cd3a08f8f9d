// The filter's parameters as frei0r hosts see them: "auto" first, so that
// ffmpeg's positional list can switch it off with one value, then one per
// slider in the record's order, then the check box, then what is not the
// plug-in's: "fields" (frei0r frames carry no interlacing of their own),
// the preset of the automatic settings (a name), the threads a frame's
// tiles may use, and "amount" (more or less than the automatic settings,
// which keeps auto on).
//
// frei0r hands doubles from 0 to 1. A slider with range [min, max] takes
// min + round(x * (max - min)), x held within [0, 1], and reports its value
// v as (v - min) / (max - min); so 0 and 1 give the ends and a reported
// value, the default included, gives the same integer back. Booleans are
// on from 0.5. The amount, 0.25 to 4, is 4^(2x - 1): 0.5 is 1, and each
// quarter of the range doubles or halves it.
#pragma once

#include <cstdint>

#include "host/records.h"

namespace zeverive::frei0r {

constexpr int kAutoParameter = 0;
constexpr int kFirstSliderParameter = 1;
constexpr int kCheckboxParameter = kFirstSliderParameter + kSliderCount;
constexpr int kFieldsParameter = kCheckboxParameter + kCheckboxCount;
constexpr int kPresetParameter = kFieldsParameter + 1;
constexpr int kThreadsParameter = kPresetParameter + 1;
constexpr int kAmountParameter = kThreadsParameter + 1;
constexpr int kParameterCount = kAmountParameter + 1;

// "tile-threads" as a slider from 0 to this; 0 takes every processor. Not
// "threads": MLT reads a filter property of that name itself and cuts the
// frame into that many slices, each denoised alone.
constexpr int32_t kMostThreads = 64;

// The parameter's name and a line saying what it does; null for an index
// out of range. A parameter that stands for a range of numbers ends its
// line with "(MIN..MAX[ UNIT] from 0..1, default D)", which tools read to
// show it in its own units (the Kdenlive effect description); a string
// parameter that takes one of a few names ends it with "(NAME|NAME|...
// by name, default NAME)", which they read to offer the names.
const char* parameter_name(int index);
const char* parameter_explanation(int index);
// The parameter's frei0r type (F0R_PARAM_*).
int parameter_type(int index);

int32_t slider_from_double(double value, int32_t minimum, int32_t maximum);
double slider_to_double(int32_t value, int32_t minimum, int32_t maximum);
bool bool_from_double(double value);
double amount_from_double(double value);
double amount_to_double(double amount);

}  // namespace zeverive::frei0r
