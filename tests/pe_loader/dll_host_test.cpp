// zeverive.auf driven as the host editor drives it, against the same
// plug-in built for i386 Linux and linked into this program: the record,
// denoised frames, remote messages and the floating-point state.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dll_under_test.h"
#include "host/callbacks.h"
#include "platform/x87_precision.h"
#include "support/synthetic_frames.h"
#include "support/test_host.h"

namespace pe_loader_test {
namespace {

using zeverive_test::TestFrame;
using zeverive_test::TestHost;
using zeverive::set_x87_control_word;
using zeverive::x87_control_word;

std::vector<int32_t> words(const int32_t* values, int count) {
    return std::vector<int32_t>(values, values + count);
}

TEST(DllRecord, EqualsTheLinuxBuildsFieldByField) {
    const FilterTable& dll_table = *dll_record();
    const FilterTable& linux_table = *GetFilterTable();
    EXPECT_EQ(dll_table.flags, linux_table.flags);
    EXPECT_EQ(dll_table.host_field_2, linux_table.host_field_2);
    EXPECT_EQ(dll_table.host_field_3, linux_table.host_field_3);
    EXPECT_STREQ(dll_table.display_name, linux_table.display_name);
    ASSERT_EQ(dll_table.slider_count, linux_table.slider_count);
    for (int i = 0; i < kSliderCount; ++i) EXPECT_STREQ(dll_table.slider_labels[i], linux_table.slider_labels[i]) << i;
    EXPECT_EQ(words(dll_table.slider_defaults, kSliderCount), words(linux_table.slider_defaults, kSliderCount));
    EXPECT_EQ(words(dll_table.slider_minimums, kSliderCount), words(linux_table.slider_minimums, kSliderCount));
    EXPECT_EQ(words(dll_table.slider_maximums, kSliderCount), words(linux_table.slider_maximums, kSliderCount));
    ASSERT_EQ(dll_table.checkbox_count, linux_table.checkbox_count);
    EXPECT_STREQ(dll_table.checkbox_labels[0], linux_table.checkbox_labels[0]);
    EXPECT_EQ(dll_table.checkbox_defaults[0], linux_table.checkbox_defaults[0]);
    for (const void* callback : {reinterpret_cast<const void*>(dll_table.process_frame),
                                 reinterpret_cast<const void*>(dll_table.initialise),
                                 reinterpret_cast<const void*>(dll_table.finalise),
                                 reinterpret_cast<const void*>(dll_table.settings_changed),
                                 reinterpret_cast<const void*>(dll_table.window_message)}) {
        EXPECT_TRUE(dll().contains(callback)) << callback;
    }
    EXPECT_EQ(dll_table.slider_values, nullptr);
    EXPECT_EQ(dll_table.checkbox_values, nullptr);
    EXPECT_EQ(dll_table.host_field_20, linux_table.host_field_20);
    EXPECT_EQ(dll_table.host_field_21, linux_table.host_field_21);
    EXPECT_STREQ(dll_table.information, linux_table.information);
    EXPECT_EQ(dll_table.host_field_23, linux_table.host_field_23);
    EXPECT_EQ(dll_table.host_field_24, linux_table.host_field_24);
    EXPECT_EQ(dll_table.host_services, nullptr);
    EXPECT_EQ(0, std::memcmp(dll_table.host_fields_26_to_35, linux_table.host_fields_26_to_35,
                             sizeof dll_table.host_fields_26_to_35));
}

struct FrameCase {
    int width, height;
    int mode, display, checkbox, vertical;
};

std::string describe(const FrameCase& c) {
    return std::to_string(c.width) + "x" + std::to_string(c.height) + " mode " + std::to_string(c.mode) + " display " +
           std::to_string(c.display) + " check box " + std::to_string(c.checkbox) + " vertical " +
           std::to_string(c.vertical);
}

TestFrame denoised_by(const FilterTable* record, const FrameCase& c) {
    TestHost host(record);
    host.sliders[kSliderMode] = c.mode;
    host.sliders[kSliderVertical] = c.vertical;
    host.sliders[kSliderDisplay] = c.display;
    host.checkbox[0] = c.checkbox;
    host.apply();
    TestFrame frame(c.width, c.height);
    zeverive_test::fill_smooth(frame);
    zeverive_test::add_noise(frame, 40, static_cast<uint32_t>(c.width * 7 + c.height + c.mode));
    host.filter.process_frame(&host.filter, &frame.info);
    return frame;
}

// Lines of 416 samples or fewer are padded to 416, longer ones to 832, and
// frames beyond 832 come back unchanged: the cases sit on both sides of each
// limit, across rows and columns, thin so that qemu gets through them fast.
TEST(DllFrames, ByteIdenticalToTheLinuxBuild) {
    std::vector<FrameCase> cases;
    for (int mode = 0; mode < 4; ++mode) {
        for (const auto& [w, h] : {std::pair{417, 8}, std::pair{8, 417}, std::pair{64, 48}})
            cases.push_back({w, h, mode, 0, 0, 100});
    }
    for (const auto& [w, h] : {std::pair{416, 8}, std::pair{8, 416}, std::pair{832, 8}, std::pair{8, 832},
                               std::pair{833, 8}, std::pair{8, 833}})
        cases.push_back({w, h, 3, 0, 0, 100});
    for (const FrameCase& c : {FrameCase{417, 8, 3, 1, 0, 100}, FrameCase{417, 8, 2, 2, 0, 100},
                               FrameCase{416, 8, 3, 0, 1, 100}, FrameCase{64, 48, 1, 0, 1, 0}})
        cases.push_back(c);

    ASSERT_NE(dll_record()->initialise(), 0);
    ASSERT_NE(GetFilterTable()->initialise(), 0);
    for (const FrameCase& c : cases) {
        const TestFrame from_dll = denoised_by(dll_record(), c);
        const TestFrame from_linux = denoised_by(GetFilterTable(), c);
        size_t first_difference = 0;
        while (first_difference < from_dll.pixels.size() &&
               std::memcmp(&from_dll.pixels[first_difference], &from_linux.pixels[first_difference], sizeof(YcPixel)) == 0)
            ++first_difference;
        EXPECT_EQ(first_difference, from_dll.pixels.size())
            << describe(c) << ": first difference at pixel " << first_difference;
        if (c.width > 832 || c.height > 832) {
            TestFrame input(c.width, c.height);
            zeverive_test::fill_smooth(input);
            zeverive_test::add_noise(input, 40, static_cast<uint32_t>(c.width * 7 + c.height + c.mode));
            EXPECT_EQ(0, std::memcmp(input.pixels.data(), from_dll.pixels.data(), input.pixels.size() * sizeof(YcPixel)))
                << describe(c) << ": changed";
        }
    }
    dll_record()->finalise();
    GetFilterTable()->finalise();
}

HostFilter* expected_filter;
std::vector<std::string>* service_log;

int32_t ZEVERIVE_CDECL service_21(HostFilter* filter) {
    service_log->push_back(filter == expected_filter ? "service 21" : "service 21 with another record");
    return 0;
}

int32_t ZEVERIVE_CDECL service_other(HostFilter*) {
    service_log->push_back("another service");
    return 0;
}

struct MessageRun {
    std::vector<std::string> calls;
    std::vector<int32_t> sliders;
};

MessageRun run_messages(const FilterTable* record) {
    const std::vector<std::pair<uint32_t, uint32_t>> messages = {
        {2024, 0x80000003}, {2025, 7},          {2026, 0xFFFF0000}, {2027, 0x00280032}, {2028, 1},
        {2029, 0x00050006}, {2030, 0x00320014}, {2031, 0x00070064}, {2023, 1},          {2032, 1}};
    TestHost host(record);
    for (HostService& service : host.services) service = service_other;
    host.services[kHostServiceAfterRemoteChange] = service_21;
    MessageRun run;
    expected_filter = &host.filter;
    service_log = &TestHost::calls();
    TestHost::calls().clear();
    for (const auto& [number, value] : messages) {
        const int32_t result = host.filter.window_message(nullptr, number, 0, static_cast<int32_t>(value), nullptr,
                                                          &host.filter);
        TestHost::calls().push_back(std::to_string(number) + " returned " + std::to_string(result));
    }
    run.calls = TestHost::calls();
    run.sliders = words(host.sliders, kSliderCount);
    return run;
}

TEST(DllMessages, ReachHostServiceTwentyOneAndTheSliders) {
    const MessageRun from_dll = run_messages(dll_record());
    const std::vector<std::string> expected = {
        "service 21",       "2024 returned 0", "2025 returned 0", "2026 returned 0",
        "service 21",       "settings_changed", "2027 returned 0", "2028 returned 0",
        "2029 returned 0",  "2030 returned 0", "service 21",      "settings_changed",
        "2031 returned 0",  "2023 returned 0", "2032 returned 0"};
    EXPECT_EQ(from_dll.calls, expected);
    const MessageRun from_linux = run_messages(GetFilterTable());
    EXPECT_EQ(from_dll.sliders, from_linux.sliders);
}

uint32_t mxcsr() {
    uint32_t value;
    __asm__ volatile("stmxcsr %0" : "=m"(value));
    return value;
}

void set_mxcsr(uint32_t value) {
    __asm__ volatile("ldmxcsr %0" : : "m"(value));
}

TEST(DllFloatingPoint, EntrySetsDoublePrecision) {
    const uint16_t before = x87_control_word();
    set_x87_control_word(0x037f);  // the processor's default: 64-bit precision
    const auto second_copy = pe_loader::load_dll(dll_path());
    const uint16_t after_entry = x87_control_word();
    set_x87_control_word(before);
    EXPECT_EQ(after_entry, 0x027f) << std::hex << after_entry;
}

// Unusual settings on purpose (rounding toward zero, every MXCSR flag
// already raised), so that any change the DLL makes shows.
TEST(DllFloatingPoint, CallbacksLeaveTheCallersControlWords) {
    const uint16_t saved_control = x87_control_word();
    const uint16_t control = 0x0e7f;
    set_x87_control_word(control);
    const bool sse = processor_has_sse();
    const uint32_t saved_mxcsr = sse ? mxcsr() : 0;
    const uint32_t chosen_mxcsr = 0x7fbf;
    if (sse) set_mxcsr(chosen_mxcsr);

    const FilterTable* record = dll_record();
    std::vector<std::string> changed;
    auto check = [&](const char* after) {
        if (x87_control_word() != control) changed.push_back(std::string("x87 control word after ") + after);
        if (sse && mxcsr() != chosen_mxcsr) changed.push_back(std::string("MXCSR after ") + after);
    };
    record->initialise();
    check("initialise");
    TestHost host(record);
    check("settings_changed");
    TestFrame frame(417, 8);
    zeverive_test::fill_smooth(frame);
    zeverive_test::add_noise(frame, 40, 1);
    host.filter.process_frame(&host.filter, &frame.info);
    check("process_frame");
    record->finalise();
    check("finalise");

    if (sse) set_mxcsr(saved_mxcsr);
    set_x87_control_word(saved_control);
    EXPECT_TRUE(changed.empty()) << changed.front();
    if (!sse) std::printf("MXCSR: not checked, this processor has no SSE\n");
}

}  // namespace
}  // namespace pe_loader_test
