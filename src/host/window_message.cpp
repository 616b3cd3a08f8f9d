// Remote slider control: messages 2024 to 2031 carry slider values packed
// into their value word, as two unsigned 16-bit halves or, for the mode, the
// whole word.

#include "host/callbacks.h"
#include "host/slider_index.h"

namespace {

constexpr uint32_t kSetMode = 2024;
constexpr uint32_t kSetEdgeLv3AndLv4 = 2026;
constexpr uint32_t kSetEdgeLv5AndNr2 = 2027;
constexpr uint32_t kSetNr3AndNr4 = 2029;
constexpr uint32_t kSetNr5hAndStrength = 2030;
constexpr uint32_t kSetStrength = 2031;

}  // namespace

extern "C" int32_t ZEVERIVE_CDECL window_message(void*, uint32_t message, uintptr_t, intptr_t value_word,
                                                 void*, HostFilter* filter) {
    // A record without its slider array cannot take a value; nothing
    // else this message would do makes sense without it.
    if (!filter || !filter->slider_values) return 0;
    const uint32_t word = static_cast<uint32_t>(value_word);
    const int32_t low = static_cast<int32_t>(word & 0xFFFFu);
    const int32_t high = static_cast<int32_t>(word >> 16);
    int32_t* sliders = filter->slider_values;

    bool notify_host = false;
    bool recompute = false;
    switch (message) {
        case kSetMode:
            sliders[kSliderMode] = static_cast<int32_t>(word);
            notify_host = true;
            break;
        case kSetEdgeLv3AndLv4:
            sliders[kSliderEdgeFirst + 1] = low;
            sliders[kSliderEdgeFirst + 2] = high;
            break;
        case kSetEdgeLv5AndNr2:
            sliders[kSliderEdgeFirst + 3] = low;
            sliders[kSliderShrinkFirst] = high;
            notify_host = recompute = true;
            break;
        case kSetNr3AndNr4:
            sliders[kSliderShrinkFirst + 1] = low;
            sliders[kSliderShrinkFirst + 2] = high;
            break;
        case kSetNr5hAndStrength:
            sliders[kSliderShrinkFirst + 3] = low;
            sliders[kSliderStrength] = high;
            break;
        case kSetStrength:
            sliders[kSliderStrength] = low;
            notify_host = recompute = true;
            break;
        default:
            break;
    }
    // The host's service is a courtesy whose result is never used; a host
    // that offers no table, or no entry 21, simply is not told.
    if (notify_host && filter->host_services && filter->host_services[kHostServiceAfterRemoteChange])
        filter->host_services[kHostServiceAfterRemoteChange](filter);
    if (recompute && filter->settings_changed) filter->settings_changed(filter);
    return 0;
}
