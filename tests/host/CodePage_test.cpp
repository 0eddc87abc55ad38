#include "core/CodePage.h"

#include <gtest/gtest.h>

#include <string>

using namespace std::string_literals;

namespace zal {
namespace {

TEST(ParseCodePage, AcceptsOnlyPlainDecimalDigits) {
    const struct {
        std::string text;
        unsigned expected;
    } cases[] = {
        {"932", 932},
        {"1252", 1252},
        {"0", 0},
        {"00932", 932},
        {"4294967295", 4294967295u},
        {"932\0"s, 932},
        {"", 7},
        {"abc", 7},
        {"-1", 7},
        {"+932", 7},
        {" 932", 7},
        {"932 ", 7},
        {"932x", 7},
        {"0x3A4", 7},
        {"4294967296", 7},
        {"99999999999999999999", 7},
        {"\0"s + "932", 7},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseCodePage(c.text, 7), c.expected) << testing::PrintToString(c.text);
    }
}

} // namespace
} // namespace zal
