// A minimal host for the tests: a filter record as the host would hand it to
// the callbacks, with slider and check-box values the test owns and a
// host-services table that records its calls.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/callbacks.h"
#include "host/records.h"
#include "host/slider_index.h"

namespace zeverive_test {

struct TestHost {
    FilterTable filter;  // first: the callbacks find the host from the record they are given
    int32_t sliders[kSliderCount];
    int32_t checkbox[kCheckboxCount];
    HostService services[32];
    // Every call that leaves the plug-in towards the host, in order.
    static std::vector<std::string>& calls();

    // Hosts the plug-in whose record is given: the one linked in by default,
    // or another build's (zeverive.auf through the PE loader).
    explicit TestHost(const FilterTable* record = GetFilterTable());
    // Sets one slider and recomputes the parameters, as the host does.
    void set_slider(int index, int32_t value);
    void apply();

    SettingsChangedCallback plugin_settings_changed;
};

// A frame of YcPixels with a row pitch that may exceed the width.
struct TestFrame {
    std::vector<YcPixel> pixels;
    FrameInfo info;

    TestFrame(int width, int height, int row_pitch = 0);
    YcPixel& at(int x, int y) { return pixels[static_cast<size_t>(y) * info.row_pitch + x]; }
    const YcPixel& at(int x, int y) const { return pixels[static_cast<size_t>(y) * info.row_pitch + x]; }
    TestFrame(const TestFrame& other) : pixels(other.pixels), info(other.info) { info.frame_pixels = pixels.data(); }
    TestFrame& operator=(const TestFrame& other) {
        pixels = other.pixels;
        info = other.info;
        info.frame_pixels = pixels.data();
        return *this;
    }
};

}  // namespace zeverive_test
