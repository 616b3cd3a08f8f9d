#include "luma/slider_names.h"

namespace zeverive::luma {

const char* const kSliderOptionNames[kSliderCount] = {
    "mode", "edge-lv2", "edge-lv3", "edge-lv4", "edge-lv5", "nr2",
    "nr3",  "nr4",      "nr5h",     "strength", "vertical", "display",
};
const char* const kCheckboxOptionName = "nr5-rows-x10";

const char* const kSliderHelp[kSliderCount] = {
    "scheme: 0 one phase, 1 two phases, 2 four phases, 3 odd/even pairs",
    "edge threshold, level 2 (higher: fewer details count as edges)",
    "edge threshold, level 3",
    "edge threshold, level 4",
    "edge threshold, level 5",
    "noise threshold, coarsest detail band",
    "noise threshold, second detail band",
    "noise threshold, third detail band",
    "noise threshold, finest detail band",
    "strength in percent; scales every noise threshold",
    "pass along columns, in percent of the row thresholds; 0 skips it",
    "0 the denoised picture; 1, 2 the row coefficients as grey levels (1 from the line's start, 2 its middle)",
};
const char* const kCheckboxHelp = "the finest band's threshold along rows times 10";

const char* const kSliderUnits[kSliderCount] = {"", "", "", "", "", "", "", "", "", "%", "%", ""};

}  // namespace zeverive::luma
