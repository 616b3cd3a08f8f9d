// Command-line pieces that stand alone: message and size syntax, and the
// record's labels decoded from code page 932.

#include <gtest/gtest.h>

#include "labels.h"
#include "options.h"

namespace zeverive::cli {
namespace {

TEST(Options, MessagesTakeDecimalOrHexAndA32BitValueWord) {
    const auto check = [](const std::string& text, uint32_t number, uint32_t value) {
        const std::optional<WindowMessage> message = parse_message(text);
        ASSERT_TRUE(message) << text;
        EXPECT_EQ(message->number, number) << text;
        EXPECT_EQ(message->value, value) << text;
    };
    check("2030:0x00320014", 2030, 0x00320014);
    check("0x7EF:100", 2031, 100);
    check("2024:4294967295", 2024, 0xFFFFFFFF);
    check("2024:-1", 2024, 0xFFFFFFFF);
    check("2024:-2147483648", 2024, 0x80000000);
    check("2026:0XFFFF0000", 2026, 0xFFFF0000);
    // Leading zeros are decimal, not octal.
    check("2030:010", 2030, 10);
    for (const char* bad : {"", "2030", ":5", "2030:", "2030:abc", "x:1", "2030:4294967296", "2030:-2147483649",
                            "-1:5", "2030:0x", "2030:1:2", "4294967296:1"}) {
        EXPECT_FALSE(parse_message(bad)) << bad;
    }
}

TEST(Options, SizesAreWidthByHeightWithinTheLimits) {
    const std::optional<FrameSize> size = parse_size("720x480");
    ASSERT_TRUE(size);
    EXPECT_EQ(size->width, 720);
    EXPECT_EQ(size->height, 480);
    EXPECT_TRUE(parse_size("1x1"));
    EXPECT_TRUE(parse_size("16384x16384"));
    for (const char* bad : {"0x480", "720x0", "720", "720x", "x480", "16385x1", "-1x5", "7 20x480", "720X480"})
        EXPECT_FALSE(parse_size(bad)) << bad;
}

TEST(Labels, CodePage932BecomesUtf8) {
    // Half-width katakana are single bytes in CP932.
    EXPECT_EQ(cp932_to_utf8("\xB4\xAF\xBC\xDE" "Lv2"), "\uFF74\uFF6F\uFF7C\uFF9ELv2");
    EXPECT_EQ(cp932_to_utf8("\x93\x4B\x97\x70\x93\x78%"), "適用度%");
    EXPECT_EQ(cp932_to_utf8("Y-NR5\x89\xA1\x82\xCC\x82\xDD" "10\x94\x7B"), "Y-NR5横のみ10倍");
    EXPECT_EQ(cp932_to_utf8("Mode"), "Mode");
    EXPECT_EQ(cp932_to_utf8(""), "");
    // A lead byte without its trail byte is shown, not dropped.
    EXPECT_EQ(cp932_to_utf8("ab\x93"), "ab\\x93");
}

}  // namespace
}  // namespace zeverive::cli
