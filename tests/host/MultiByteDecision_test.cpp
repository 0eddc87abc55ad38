#include "core/MultiByte.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <utility>
#include <vector>

namespace zal {
namespace {

using Ranges = std::vector<std::pair<int, int>>;

std::array<unsigned char, 12> RangeBytes(const Ranges& ranges) {
    std::array<unsigned char, 12> bytes{};
    for (std::size_t k = 0; k < ranges.size(); ++k) {
        bytes[2 * k] = static_cast<unsigned char>(ranges[k].first);
        bytes[2 * k + 1] = static_cast<unsigned char>(ranges[k].second);
    }
    return bytes;
}

TEST(DecideMultiByteSettings, FollowsPlatformLanguageAndCodePageRanges) {
    const Ranges cp932 = {{0x81, 0x9F}, {0xE0, 0xFC}};
    const struct {
        bool isNT;
        unsigned locale;
        bool dbcsEnabled;
        Ranges ranges;
        bool mode;
        Ranges expectedSet;
    } cases[] = {
        {true, 0x0411, false, cp932, true, cp932},
        {true, 0x00010411, false, cp932, true, cp932},
        {true, 0x0409, false, cp932, false, {}},
        {true, 0, false, cp932, false, {}},
        {true, 0x0416, true, cp932, false, {}},
        {true, 0x0807, false, cp932, false, {}},
        {true, 0x0419, false, {}, false, {}},
        {true, 0x0804, false, {{0x81, 0xFE}}, true, {{0x81, 0xFE}}},
        {true, 0x0412, false, {{0x80, 0xFF}}, true, {{0x80, 0xFF}}},
        {true, 0x0411, false, {{0x9F, 0x81}, {0xE0, 0xFC}}, true, {{0xE0, 0xFC}}},
        {true, 0x0411, false, {{0x81, 0x9F}, {0, 0}, {0xE0, 0xFC}}, true, {{0x81, 0x9F}}},
        {true,
         0x0411,
         false,
         {{1, 1}, {3, 3}, {5, 5}, {7, 7}, {9, 9}, {11, 11}},
         true,
         {{1, 1}, {3, 3}, {5, 5}, {7, 7}, {9, 9}, {11, 11}}},
        {false, 0x0411, false, cp932, false, {}},
        {false, 0x0409, true, cp932, true, cp932},
        {false, 0x0411, true, {}, true, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "NT=" << c.isNT << " locale=" << std::hex << c.locale);
        LocaleFacts facts;
        facts.IsNT = c.isNT;
        facts.ThreadLocale = c.locale;
        facts.DbcsEnabled = c.dbcsEnabled;
        facts.LeadByteRanges = RangeBytes(c.ranges);
        std::array<bool, 256> expected{};
        for (const auto& [first, last] : c.expectedSet) {
            for (int b = first; b <= last; ++b) {
                expected[b] = true;
            }
        }
        const MultiByteSettings mb = DecideMultiByteSettings(facts);
        EXPECT_EQ(mb.MultiByteMode, c.mode);
        EXPECT_EQ(mb.LeadByteSet, expected);
    }
}

// Given a code page with lead bytes, the locales of western languages still stay single-byte on NT, and
// every other language, listed or not, takes the code page's lead bytes.
TEST(DecideMultiByteSettings, WesternLanguagesStaySingleByteOnNT) {
    const struct {
        unsigned Locale;
        const char* Name;
        bool MultiByte;
    } cases[] = {
        {0x0416, "Portuguese (Brazil)", false},
        {0x0816, "Portuguese (Portugal)", false},
        {0x0409, "English (US)", false},
        {0x0809, "English (UK)", false},
        {0x0407, "German", false},
        {0x040C, "French", false},
        {0x0C0A, "Spanish", false},
        {0x0410, "Italian", false},
        {0x0413, "Dutch", false},
        {0x041D, "Swedish", false},
        {0x0406, "Danish", false},
        {0x040B, "Finnish", false},
        {0x0414, "Norwegian", false},
        {0x0400, "neutral", false},
        {0x0411, "Japanese", true},
        {0x0804, "Chinese (PRC)", true},
        {0x0412, "Korean", true},
        {0x0419, "Russian", true},
        {0x0415, "Polish", true},
        {0x0408, "Greek", true},
        {0x041F, "Turkish", true},
        {0x040E, "Hungarian", true},
    };
    LocaleFacts facts;
    facts.LeadByteRanges = RangeBytes({{0x81, 0x9F}});
    for (const auto& c : cases) {
        facts.ThreadLocale = c.Locale;
        EXPECT_EQ(DecideMultiByteSettings(facts).MultiByteMode, c.MultiByte) << c.Name;
    }
}

} // namespace
} // namespace zal
