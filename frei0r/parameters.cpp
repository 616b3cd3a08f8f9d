#include "parameters.h"

#include <array>
#include <cmath>
#include <string>

// The header declares the functions without C linkage of its own.
extern "C" {
#include <frei0r.h>
}

#include "luma/presets.h"
#include "luma/slider_names.h"

namespace zeverive::frei0r {
namespace {

struct Texts {
    std::array<std::string, kParameterCount> names;
    std::array<std::string, kParameterCount> explanations;
};

Texts make_texts() {
    const FilterTable& table = *GetFilterTable();
    Texts texts;
    texts.names[kAutoParameter] = "auto";
    texts.explanations[kAutoParameter] =
        "estimate the noise of each scene from its first frames and choose every setting, holding what is removed "
        "to that noise; the sliders apply when it is off (default on)";
    for (int i = 0; i < kSliderCount; ++i) {
        const int min = table.slider_minimums[i];
        const int max = table.slider_maximums[i];
        texts.names[kFirstSliderParameter + i] = luma::kSliderOptionNames[i];
        const std::string unit = *luma::kSliderUnits[i] ? std::string(" ") + luma::kSliderUnits[i] : "";
        texts.explanations[kFirstSliderParameter + i] =
            std::string(luma::kSliderHelp[i]) + " (" + std::to_string(min) + ".." + std::to_string(max) + unit +
            " from 0..1, default " + std::to_string(table.slider_defaults[i]) + ")";
    }
    texts.names[kCheckboxParameter] = luma::kCheckboxOptionName;
    texts.explanations[kCheckboxParameter] = std::string(luma::kCheckboxHelp) + " (default off)";
    texts.names[kFieldsParameter] = "fields";
    texts.explanations[kFieldsParameter] =
        "interlaced video: denoise each frame's two fields (every other row) as pictures of their own "
        "(default off)";
    texts.names[kPresetParameter] = "preset";
    std::string presets, names;
    for (int i = 0; i < luma::kPresetCount; ++i) {
        presets += std::string(i ? "; " : "") + luma::kPresetNames[i].name + ", " + luma::kPresetNames[i].help;
        names += std::string(i ? "|" : "") + luma::kPresetNames[i].name;
    }
    texts.explanations[kPresetParameter] = "the automatic settings' choice: " + presets + " (" + names +
                                           " by name, default " + luma::kPresetNames[0].name + ")";
    texts.names[kThreadsParameter] = "tile-threads";
    texts.explanations[kThreadsParameter] =
        "threads for the tiles of a frame larger than 832x832 and for each frame's conversions, 0 for every "
        "processor; the result is the same for any number (0.." + std::to_string(kMostThreads) + " from 0..1, default 0)";
    texts.names[kAmountParameter] = "amount";
    texts.explanations[kAmountParameter] =
        "with auto: settings for this many times the noise, 0.25 to 4 as 4^(2x-1) (0.5: as estimated; 0.25: half; "
        "0.75: twice)";
    return texts;
}

const Texts& texts() {
    static const Texts made = make_texts();
    return made;
}

}  // namespace

const char* parameter_name(int index) {
    if (index < 0 || index >= kParameterCount) return nullptr;
    return texts().names[index].c_str();
}

const char* parameter_explanation(int index) {
    if (index < 0 || index >= kParameterCount) return nullptr;
    return texts().explanations[index].c_str();
}

int parameter_type(int index) {
    if (index == kAutoParameter || index == kCheckboxParameter || index == kFieldsParameter) return F0R_PARAM_BOOL;
    if (index == kPresetParameter) return F0R_PARAM_STRING;
    return F0R_PARAM_DOUBLE;
}

int32_t slider_from_double(double value, int32_t minimum, int32_t maximum) {
    const double within = value >= 1.0 ? 1.0 : value > 0.0 ? value : 0.0;  // NaN too goes to 0
    return minimum + static_cast<int32_t>(std::lround(within * (maximum - minimum)));
}

double slider_to_double(int32_t value, int32_t minimum, int32_t maximum) {
    if (maximum == minimum) return 0.0;
    return static_cast<double>(value - minimum) / (maximum - minimum);
}

bool bool_from_double(double value) {
    return value >= 0.5;
}

double amount_from_double(double value) {
    const double within = value >= 1.0 ? 1.0 : value > 0.0 ? value : 0.0;  // NaN too goes to 0
    return std::pow(4.0, 2 * within - 1);
}

double amount_to_double(double amount) {
    return (std::log(amount) / std::log(4.0) + 1) / 2;
}

}  // namespace zeverive::frei0r
