// Typed numbers: the syntax and the 32-bit range of the integer conversion.
#include "listio/errors.h"
#include "maintenance/int_conv.h"

#include <gtest/gtest.h>

namespace {

struct Case {
    std::string_view text;
    bool valid;
    int32_t value;
};

const Case kCases[] = {
    {"1000", true, 1000},
    {" 50", true, 50},
    {"   -7", true, -7},
    {"+12", true, 12},
    {"-0", true, 0},
    {"007", true, 7},
    {"$10", true, 16},
    {"$ff", true, 255},
    {"x1A", true, 26},
    {"X1a", true, 26},
    {"0x10", true, 16},
    {"0XfF", true, 255},
    {"  $10", true, 16},
    {"2147483647", true, 2147483647},
    {"-2147483648", true, INT32_MIN},
    {"$7FFFFFFF", true, 2147483647},
    {"$FFFFFFFF", true, -1},     // a 32-bit pattern
    {"$000000000010", true, 16}, // leading zeros do not count against the range
    {"2147483648", false, 0},
    {"-2147483649", false, 0},
    {"99999999999999999999", false, 0},
    {"$100000000", false, 0},
    {"50 ", false, 0},
    {"", false, 0},
    {"   ", false, 0},
    {"abc", false, 0},
    {"\t5", false, 0}, // only spaces may lead
    {"-", false, 0},
    {"+", false, 0},
    {"$", false, 0},
    {"0x", false, 0},
    {"x", false, 0},
    {"-$10", false, 0}, // a sign belongs to decimal numbers only
    {"+0x10", false, 0},
    {"00x10", false, 0},
    {"$1G", false, 0},
    {"1e3", false, 0},
    {"1,000", false, 0},
    {"１０", false, 0},                     // full-width digits
    {std::string_view("5\0", 2), false, 0}, // a NUL is no digit
};

TEST(IntConversion, FollowsTheSyntaxAndRange) {
    for (const Case& c : kCases) {
        auto got = vq::tryStrToInt(c.text);
        EXPECT_EQ(got.has_value(), c.valid) << "'" << c.text << "'";
        if (got && c.valid) {
            EXPECT_EQ(*got, c.value) << "'" << c.text << "'";
        }
    }
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
    EXPECT_EQ(vq::strToInt(" $10"), 16);
}

} // namespace
