// The registration record as the host reads it.

#include <gtest/gtest.h>

#include <string>

#include "host/records.h"
#include "host/slider_index.h"

namespace {

TEST(FilterTable, SameRecordOnEveryCallWithItsFixedWords) {
    const FilterTable* table = GetFilterTable();
    ASSERT_EQ(table, GetFilterTable());
    EXPECT_EQ(table->flags, 0x00080000u);
    EXPECT_EQ(table->host_field_2, 0u);
    EXPECT_EQ(table->host_field_3, 0u);
    EXPECT_STREQ(table->display_name, "Zeverive");
    EXPECT_EQ(table->slider_count, 12);
    EXPECT_EQ(table->checkbox_count, 1);
    EXPECT_EQ(table->slider_values, nullptr);
    EXPECT_EQ(table->checkbox_values, nullptr);
    EXPECT_EQ(table->host_field_20, 0u);
    EXPECT_EQ(table->host_field_21, 0u);
    EXPECT_EQ(table->host_field_23, 0u);
    EXPECT_EQ(table->host_field_24, 0u);
    EXPECT_EQ(table->host_services, nullptr);
    for (uint32_t word : table->host_fields_26_to_35) EXPECT_EQ(word, 0u);
    EXPECT_NE(table->process_frame, nullptr);
    EXPECT_NE(table->initialise, nullptr);
    EXPECT_NE(table->finalise, nullptr);
    EXPECT_NE(table->settings_changed, nullptr);
    EXPECT_NE(table->window_message, nullptr);
}

TEST(FilterTable, InformationIsOneLineOfAsciiNamingTheFilter) {
    const std::string info = GetFilterTable()->information;
    EXPECT_NE(info.find("Zeverive"), std::string::npos);
    for (unsigned char c : info) {
        EXPECT_GE(c, 0x20);
        EXPECT_LT(c, 0x7F);
    }
}

TEST(FilterTable, SliderLabelsAreTheirCodePage932Bytes) {
    const char* const expected[kSliderCount] = {
        "Mode",
        "\xB4\xAF\xBC\xDE\x4C\x76\x32",
        "\xB4\xAF\xBC\xDE\x4C\x76\x33",
        "\xB4\xAF\xBC\xDE\x4C\x76\x34",
        "\xB4\xAF\xBC\xDE\x4C\x76\x35",
        "Y-NR2",
        "Y-NR3",
        "Y-NR4",
        "Y-NR5H",
        "\x93\x4B\x97\x70\x93\x78\x25",
        "\x8F\x63\x8C\x57\x90\x94\x25",
        "\x93\x57\x8A\x4A\x92\x6C",
    };
    const FilterTable* table = GetFilterTable();
    for (int i = 0; i < 12; ++i) {
        EXPECT_STREQ(table->slider_labels[i], expected[i]) << "slider " << i;
    }
    EXPECT_STREQ(table->checkbox_labels[kCheckboxFinestRowsX10], "\x59\x2D\x4E\x52\x35\x89\xA1\x82\xCC\x82\xDD\x31\x30\x94\x7B");
}

TEST(FilterTable, SliderRangesAndDefaults) {
    const int32_t defaults[kSliderCount] = {3, 20, 30, 40, 50, 20, 30, 40, 50, 100, 100, 0};
    const int32_t maximums[kSliderCount] = {3, 150, 150, 150, 150, 100, 100, 100, 100, 200, 200, 2};
    const FilterTable* table = GetFilterTable();
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(table->slider_defaults[i], defaults[i]) << "slider " << i;
        EXPECT_EQ(table->slider_minimums[i], 0) << "slider " << i;
        EXPECT_EQ(table->slider_maximums[i], maximums[i]) << "slider " << i;
    }
    EXPECT_EQ(table->checkbox_defaults[kCheckboxFinestRowsX10], 0);
}

}  // namespace
