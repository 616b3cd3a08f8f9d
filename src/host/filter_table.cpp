// The registration record the host reads through GetFilterTable. It lies in
// writable static storage because the host's interface declares it so; the
// plug-in itself never writes it.

#include "host/callbacks.h"
#include "host/records.h"

namespace {

// Slider labels in code page 932. Labels 1 to 4 are half-width katakana
// ("ｴｯｼﾞLv2".."ｴｯｼﾞLv5"), 9 is "適用度%", 10 is "縦係数%", 11 is "展開値".
const char* const slider_labels[kSliderCount] = {
    "Mode",
    "\xB4\xAF\xBC\xDE" "Lv2",
    "\xB4\xAF\xBC\xDE" "Lv3",
    "\xB4\xAF\xBC\xDE" "Lv4",
    "\xB4\xAF\xBC\xDE" "Lv5",
    "Y-NR2",
    "Y-NR3",
    "Y-NR4",
    "Y-NR5H",
    "\x93\x4B\x97\x70\x93\x78%",
    "\x8F\x63\x8C\x57\x90\x94%",
    "\x93\x57\x8A\x4A\x92\x6C",
};

const int32_t slider_defaults[kSliderCount] = {3, 20, 30, 40, 50, 20, 30, 40, 50, 100, 100, 0};
const int32_t slider_minimums[kSliderCount] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const int32_t slider_maximums[kSliderCount] = {3, 150, 150, 150, 150, 100, 100, 100, 100, 200, 200, 2};

// "Y-NR5横のみ10倍": the finest row band's threshold times ten.
const char* const checkbox_labels[kCheckboxCount] = {"Y-NR5\x89\xA1\x82\xCC\x82\xDD" "10\x94\x7B"};
const int32_t checkbox_defaults[kCheckboxCount] = {0};

FilterTable filter_table = {
    0x00080000u,
    0,
    0,
    "Zeverive",
    kSliderCount,
    slider_labels,
    slider_defaults,
    slider_minimums,
    slider_maximums,
    kCheckboxCount,
    checkbox_labels,
    checkbox_defaults,
    process_frame,
    initialise,
    finalise,
    settings_changed,
    window_message,
    nullptr,
    nullptr,
    0,
    0,
    "Zeverive 1.0 - edge-preserving wavelet denoiser for video luminance",
    0,
    0,
    nullptr,
    {},
};

}  // namespace

extern "C" FilterTable* ZEVERIVE_CDECL GetFilterTable(void) {
    return &filter_table;
}
