// Typed numbers: the syntax and the 32-bit range of the integer conversion.
#include "listio/errors.h"
#include "maintenance/int_conv.h"

#include <gtest/gtest.h>

namespace {

TEST(IntConversion, FollowsTheSyntaxAndRange) {
    const std::pair<std::string_view, int32_t> accepted[] = {
        {"1000", 1000},
        {" 50", 50},
        {"   -7", -7},
        {"+12", 12},
        {"-0", 0},
        {"007", 7},
        {"$10", 16},
        {"$ff", 255},
        {"x1A", 26},
        {"X1a", 26},
        {"0x10", 16},
        {"0XfF", 255},
        {"  $10", 16},
        {"2147483647", INT32_MAX},
        {"-2147483648", INT32_MIN},
        {"$FFFFFFFF", -1}, // hexadecimal text is a 32-bit pattern
        {"$000000000010", 16},
    };
    for (const auto& [text, value] : accepted) {
        auto got = vq::tryStrToInt(text);
        ASSERT_TRUE(got.has_value()) << "'" << text << "'";
        EXPECT_EQ(*got, value) << "'" << text << "'";
    }
    const std::string_view refused[] = {
        "2147483648",
        "-2147483649",
        "99999999999999999999",
        "$100000000",
        "50 ",
        "",
        "   ",
        "abc",
        "\t5",
        "-",
        "+",
        "$",
        "0x",
        "x",
        "-$10",
        "+0x10",
        "00x10",
        "$1G",
        "1e3",
        "1,000",
        "１０",
        std::string_view("5\0", 2),
    };
    for (std::string_view text : refused)
        EXPECT_FALSE(vq::tryStrToInt(text)) << "'" << text << "'";
}

TEST(IntConversion, RefusalNamesTheTypedText) {
    for (const char* text : {"abc", " 50 ", ""}) {
        try {
            vq::strToInt(text);
            ADD_FAILURE() << "'" << text << "' was accepted";
        } catch (const vq::EConvertError& e) {
            EXPECT_EQ(e.message(), std::string("'") + text + "' is not a valid integer value");
        }
    }
}

} // namespace
