#include "support/test_host.h"

#include <cstring>

namespace zeverive_test {
namespace {

int32_t ZEVERIVE_CDECL record_host_service(HostFilter*) {
    TestHost::calls().push_back("host_service_21");
    return 1;
}

int32_t ZEVERIVE_CDECL record_settings_changed(HostFilter* filter) {
    TestHost::calls().push_back("settings_changed");
    return reinterpret_cast<TestHost*>(filter)->plugin_settings_changed(filter);
}

}  // namespace

std::vector<std::string>& TestHost::calls() {
    static std::vector<std::string> log;
    return log;
}

TestHost::TestHost(const FilterTable* table) : services(), plugin_settings_changed(table->settings_changed) {
    std::memcpy(&filter, table, sizeof filter);
    std::memcpy(sliders, table->slider_defaults, sizeof sliders);
    std::memcpy(checkbox, table->checkbox_defaults, sizeof checkbox);
    filter.slider_values = sliders;
    filter.checkbox_values = checkbox;
    services[kHostServiceAfterRemoteChange] = record_host_service;
    filter.host_services = services;
    filter.settings_changed = record_settings_changed;
    calls().clear();
    apply();
    calls().clear();
}

void TestHost::set_slider(int index, int32_t value) {
    sliders[index] = value;
    apply();
}

void TestHost::apply() {
    filter.settings_changed(&filter);
}

TestFrame::TestFrame(int width, int height, int row_pitch)
    : pixels(static_cast<size_t>(row_pitch > 0 ? row_pitch : width) * (height > 0 ? height : 1), YcPixel{0, 0, 0}) {
    info = FrameInfo{};
    info.frame_pixels = pixels.data();
    info.width = width;
    info.height = height;
    info.row_pitch = row_pitch > 0 ? row_pitch : width;
}

}  // namespace zeverive_test
