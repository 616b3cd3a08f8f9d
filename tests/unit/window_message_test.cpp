// Remote slider messages: which sliders each message writes, and what it
// calls afterwards, in which order.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/callbacks.h"
#include "host/filter_params.h"
#include "support/test_host.h"

namespace {

using zeverive_test::TestHost;
using Calls = std::vector<std::string>;

int32_t send(TestHost& host, uint32_t message, uint32_t value_word) {
    return host.filter.window_message(nullptr, message, 0, static_cast<intptr_t>(static_cast<int32_t>(value_word)),
                                      nullptr, &host.filter);
}

struct MessageCase {
    uint32_t message;
    uint32_t value_word;
    std::vector<std::pair<int, int32_t>> writes;
    Calls calls;
};

TEST(WindowMessage, EachMessageWritesItsSlidersThenCallsTheHostThenRecomputes) {
    const Calls both = {"host_service_21", "settings_changed"};
    const MessageCase cases[] = {
        {2024, 0x00000002u, {{kSliderMode, 2}}, {"host_service_21"}},
        {2024, 0x80000001u, {{kSliderMode, static_cast<int32_t>(0x80000001u)}}, {"host_service_21"}},
        {2025, 0x00050006u, {}, {}},
        {2026, 0xFFFF0000u, {{kSliderEdgeFirst + 1, 0}, {kSliderEdgeFirst + 2, 65535}}, {}},
        {2027, 0x0011000Cu, {{kSliderEdgeFirst + 3, 12}, {kSliderShrinkFirst, 17}}, both},
        {2028, 0x00050006u, {}, {}},
        {2029, 0x00630001u, {{kSliderShrinkFirst + 1, 1}, {kSliderShrinkFirst + 2, 99}}, {}},
        {2030, 0x00320014u, {{kSliderShrinkFirst + 3, 20}, {kSliderStrength, 50}}, {}},
        {2031, 0x00070064u, {{kSliderStrength, 100}}, both},
        {2023, 0x00010001u, {}, {}},
        {2032, 0x00010001u, {}, {}},
    };
    for (const MessageCase& c : cases) {
        TestHost host;
        int32_t expected[kSliderCount];
        std::copy(host.sliders, host.sliders + kSliderCount, expected);
        for (const auto& [slider, value] : c.writes) expected[slider] = value;

        EXPECT_EQ(send(host, c.message, c.value_word), 0) << c.message;
        for (int i = 0; i < kSliderCount; ++i) EXPECT_EQ(host.sliders[i], expected[i]) << c.message << " slider " << i;
        EXPECT_EQ(TestHost::calls(), c.calls) << c.message;
    }
}

// A host without the services table, or without entry 21, is not called,
// but the sliders are still written and the parameters recomputed.
TEST(WindowMessage, AHostWithoutServicesIsNotCalled) {
    TestHost host;
    host.filter.host_services = nullptr;
    EXPECT_EQ(send(host, 2031, 0x00000032u), 0);
    EXPECT_EQ(host.sliders[kSliderStrength], 50);
    EXPECT_EQ(TestHost::calls(), Calls{"settings_changed"});
}

TEST(WindowMessage, AHostWithoutEntry21IsNotCalled) {
    TestHost host;
    host.services[kHostServiceAfterRemoteChange] = nullptr;
    EXPECT_EQ(send(host, 2024, 2u), 0);
    EXPECT_EQ(host.sliders[kSliderMode], 2);
    EXPECT_EQ(TestHost::calls(), Calls{});
}

// A record without its slider array, or no record at all, changes nothing.
TEST(WindowMessage, ARecordWithoutSlidersCallsNothing) {
    TestHost host;
    host.filter.slider_values = nullptr;
    EXPECT_EQ(send(host, 2027, 0x00140032u), 0);
    EXPECT_EQ(TestHost::calls(), Calls{});
}

TEST(WindowMessage, NoRecordCallsNothing) {
    TestHost host;
    EXPECT_EQ(host.filter.window_message(nullptr, 2031, 0, 5, nullptr, nullptr), 0);
    EXPECT_EQ(TestHost::calls(), Calls{});
}

TEST(SettingsChanged, WithoutTheHostsArraysTheParametersStayAsTheyWere) {
    TestHost host;
    const float before = zeverive::filter_params.row_thresholds[0];
    host.sliders[kSliderStrength] = 0;
    host.filter.checkbox_values = nullptr;
    EXPECT_EQ(settings_changed(&host.filter), 1);
    host.filter.checkbox_values = host.checkbox;
    host.filter.slider_values = nullptr;
    EXPECT_EQ(settings_changed(&host.filter), 1);
    EXPECT_EQ(settings_changed(nullptr), 1);
    EXPECT_EQ(zeverive::filter_params.row_thresholds[0], before);
}

TEST(WindowMessage, StrengthFromTheLowHalfTakesEffectAtOnce) {
    TestHost host;
    send(host, 2031, 0x00070032u);  // strength 50; the high half is ignored
    EXPECT_EQ(host.sliders[kSliderStrength], 50);
    EXPECT_FLOAT_EQ(zeverive::filter_params.strength, 0.5f);
    EXPECT_FLOAT_EQ(zeverive::filter_params.row_thresholds[0], 20 * 0.8192f * 0.5f);
}

TEST(WindowMessage, ValuesWaitForTheNextRecomputation) {
    TestHost host;
    send(host, 2030, 0x00000000u);  // slider 8 and strength 0: not applied yet
    EXPECT_GT(zeverive::filter_params.row_thresholds[0], 0.0f);
    send(host, 2027, 0x00140032u);  // applies everything written so far
    EXPECT_EQ(zeverive::filter_params.row_thresholds[0], 0.0f);
    EXPECT_EQ(zeverive::filter_params.edge_thresholds[3], 150.0f);
}

}  // namespace
