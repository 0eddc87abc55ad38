#include "app/FileNames.h"
#include "testkit/CodePages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <utility>
#include <vector>

using namespace std::string_literals;

namespace zal {
namespace {

const MultiByteSettings SingleByte = testkit::SingleByte();
const MultiByteSettings Cp932 = testkit::CodePage932();

struct ArgCase {
    std::string line;
    int n;
    std::string singleByte; // the argument with every byte a character of its own
    std::string multiByte;  // the argument with Cp932Like's double-byte characters
};

TEST(CommandLineArg, ReadsWordsInBothModes) {
    const ArgCase cases[] = {
        {"tool.exe", 1, "", ""},
        {"tool.exe   \t ", 1, "", ""},
        {"", 1, "", ""},
        {"tool.exe ZAL.exe", 1, "ZAL.exe", "ZAL.exe"},
        {"tool.exe\tZAL.exe\r\n", 1, "ZAL.exe", "ZAL.exe"},
        {"  tool.exe   a  b c", 3, "c", "c"},
        {"tool.exe a b c", 4, "", ""},
        {"tool.exe a", 0, "", ""},
        {"tool.exe a", -1, "", ""},
        {"ZAL.exe", 1, "", ""},
        {"\"C:\\Program Files\\tool.exe\" ZAL.exe", 1, "ZAL.exe", "ZAL.exe"},
        {"tool.exe \"D:\\Program Files\\App\\ZAL.exe\"", 1, "D:\\Program Files\\App\\ZAL.exe",
         "D:\\Program Files\\App\\ZAL.exe"},
        {"tool.exe ab\"x y\"z", 1, "abx yz", "abx yz"},
        {"tool.exe a\"\"b", 1, "ab", "ab"},
        {"tool.exe \"unclosed to the end", 1, "unclosed to the end", "unclosed to the end"},
        {"tool.exe \"unclosed to the end", 2, "", ""},
        {"tool.exe a \"", 2, "", ""},
        {"tool.exe \"\" ZAL.exe", 1, "ZAL.exe", "ZAL.exe"},
        {"tool.exe \"\"\"\" x", 1, "x", "x"},
        {"tool.exe \"\"", 1, "", ""},
        {"tool.exe \"\"\" x", 1, " x", " x"},
        {"tool.exe \" \" x", 1, " ", " "},
        {"tool.exe \" \" x", 2, "x", "x"},
        {"tool.exe back\\slash\\\" x", 1, "back\\slash\\ x", "back\\slash\\ x"},
        {"tool.exe \xC0\xE9t\xE9\x7F x", 1, "\xC0\xE9t\xE9\x7F", "\xC0\xE9t\xE9\x7F"},
        {"tool.exe\0ZAL.exe"s, 1, "", ""},
        {"tool.exe a\0b"s, 1, "a", "a"},
        // A lead byte takes the next byte with it, whatever that byte is.
        {"tool.exe \x95\x5C\\x", 1, "\x95\x5C\\x", "\x95\x5C\\x"},
        {"tool.exe \x81\" x", 1, "\x81 x", "\x81\""},
        {"tool.exe \x81\" x", 2, "", "x"},
        {"tool.exe \"\x81\" x\" y", 1, "\x81", "\x81\" x"},
        {"tool.exe \"\x81\" x\" y", 2, "x y", "y"},
        {"tool.exe \x81 x", 1, "\x81", "\x81 x"},
        {"tool.exe \x81 x", 2, "x", ""},
        {"\x81\tZAL.exe", 1, "ZAL.exe", ""},
        // ...but not past the end of the line.
        {"tool.exe \x81", 1, "\x81", "\x81"},
        {"tool.exe \"\x81", 1, "\x81", "\x81"},
        {"tool.exe \x81\0x"s, 1, "\x81", "\x81"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.line) + " n=" + std::to_string(c.n));
        EXPECT_EQ(CommandLineArg(c.line, c.n, SingleByte), c.singleByte);
        EXPECT_EQ(CommandLineArg(c.line, c.n, Cp932), c.multiByte);
    }
}

TEST(CommandLineArg, EveryControlByteSeparatesLikeABlank) {
    for (int c = 0x01; c <= 0x20; ++c) {
        const std::string line = "tool.exe"s + char(c) + "ZAL.exe" + char(c);
        EXPECT_EQ(CommandLineArg(line, 1, SingleByte), "ZAL.exe") << "byte " << c;
    }
    EXPECT_EQ(CommandLineArg("tool.exe \x21!", 1, SingleByte), "!!");
}

TEST(CommandLineArg, HasNoLengthLimit) {
    const std::string longWord(1 << 20, 'w');
    EXPECT_EQ(CommandLineArg("tool.exe " + longWord + " x", 1, SingleByte), longWord);
    const std::string quoted = longWord + " " + longWord;
    EXPECT_EQ(CommandLineArg("tool.exe \"" + quoted + "\"", 1, Cp932), quoted);

    std::string manyWords = "tool.exe";
    for (int k = 1; k <= 20000; ++k) {
        manyWords += " w" + std::to_string(k);
    }
    EXPECT_EQ(CommandLineArg(manyWords, 20000, SingleByte), "w20000");
    EXPECT_EQ(CommandLineArg(manyWords, 20001, SingleByte), "");
}

TEST(LastSeparatorIndex, PassesOverSecondBytesInMultiByteMode) {
    const struct {
        std::string s;
        std::size_t singleByte, multiByte;
    } cases[] = {
        {"", 0, 0},
        {"tool.exe", 0, 0},
        {"D:\\Apps\\Tool\\tool.exe", 13, 13},
        {"a\\", 2, 2},
        {"\\", 1, 1},
        {"\x95\\", 2, 0},
        {"C:\\Dir\x95\\tool.exe", 8, 3},
        {"C:\\Dir\x95\\\\tool.exe", 9, 9},
        {"\x95\x95\\", 3, 3},
        {"\\\x95\x95\x95\\", 5, 1},
        {"\\\xE0\x95\x41\x95\\", 6, 1},
        {"\\\x81\\\x81\\", 5, 1},
        {"a\x95:b", 3, 0},
        {"a\\\0b"s, 2, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.s));
        EXPECT_EQ(LastSeparatorIndex("\\:", c.s, SingleByte), c.singleByte);
        EXPECT_EQ(LastSeparatorIndex("\\:", c.s, Cp932), c.multiByte);
    }
    // A NUL is never a delimiter, even when the set names it.
    EXPECT_EQ(LastSeparatorIndex("\0\\"s, "a\\b\0"s, SingleByte), 2u);
}

TEST(PathParts, SplitAtTheLastRealDelimiter) {
    const struct {
        std::string path;
        const MultiByteSettings& mb;
        std::string directory, fileName;
    } cases[] = {
        {"D:\\Apps\\Tool\\tool.exe", SingleByte, "D:\\Apps\\Tool\\", "tool.exe"},
        {"D:ZAL.exe", SingleByte, "D:", "ZAL.exe"},
        {"D:/Apps/ZAL.exe", SingleByte, "D:", "/Apps/ZAL.exe"},
        {"Apps/ZAL.exe", SingleByte, "", "Apps/ZAL.exe"},
        {"ZAL.exe", SingleByte, "", "ZAL.exe"},
        {"C:\\dir\\", SingleByte, "C:\\dir\\", ""},
        {"", SingleByte, "", ""},
        {"\\\\server\\share\\x", SingleByte, "\\\\server\\share\\", "x"},
        // A directory whose name ends in 0x95 0x5C: the tool lies in it, not beside it.
        {"C:\\\x95\\\\tool.exe", Cp932, "C:\\\x95\\\\", "tool.exe"},
        {"C:\\App\\\x95\\.exe", Cp932, "C:\\App\\", "\x95\\.exe"},
        {"C:\\App\\\x95\\.exe", SingleByte, "C:\\App\\\x95\\", ".exe"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.path));
        EXPECT_EQ(DirectoryPart(c.path, c.mb), c.directory);
        EXPECT_EQ(FileNamePart(c.path, c.mb), c.fileName);
    }
}

TEST(WithoutLongPathPrefix, GivesThePathTheRulesRead) {
    const struct {
        const char* path;
        const char* plain;
    } cases[] = {
        {"\\\\?\\C:\\Program Files\\ZAL\\ZALUpdate.exe", "C:\\Program Files\\ZAL\\ZALUpdate.exe"},
        {"\\\\?\\UNC\\server\\share\\ZAL\\ZALUpdate.exe", "\\\\server\\share\\ZAL\\ZALUpdate.exe"},
        {"\\\\?\\unc\\server\\share\\x.exe", "\\\\server\\share\\x.exe"},
        // A directory named UNC on drive C: is no share.
        {"\\\\?\\C:\\UNC\\x.exe", "C:\\UNC\\x.exe"},
        {"\\\\?\\UNCA\\x.exe", "UNCA\\x.exe"},
        {"C:\\ZAL\\ZALUpdate.exe", "C:\\ZAL\\ZALUpdate.exe"},
        {"\\\\server\\share\\x.exe", "\\\\server\\share\\x.exe"},
        {"\\\\.\\C:\\x.exe", "\\\\.\\C:\\x.exe"},
        {"\\\\?", "\\\\?"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WithoutLongPathPrefix(c.path), c.plain) << c.path;
    }
}

TEST(ReplaceExtension, ReplacesOnlyTheLastExtensionOfTheName) {
    const struct {
        std::string name;
        const MultiByteSettings& mb;
        std::string expected;
    } cases[] = {
        {"ZAL.exe", SingleByte, "ZAL.upd"},
        {"Glimae.dll", SingleByte, "Glimae.upd"},
        {"ZAL", SingleByte, "ZAL.upd"},
        {"D:\\a.b\\name", SingleByte, "D:\\a.b\\name.upd"},
        {"D:a.b", SingleByte, "D:a.upd"},
        {"x.y:name", SingleByte, "x.y:name.upd"},
        {"dir.x/name", SingleByte, "dir.upd"},
        {"name.", SingleByte, "name.upd"},
        {".cfg", SingleByte, ".upd"},
        {"a.b.d", SingleByte, "a.b.upd"},
        {"", SingleByte, ".upd"},
        {"a.b\x95\\", Cp932, "a.upd"},
        {"a.b\x95\\", SingleByte, "a.b\x95\\.upd"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ReplaceExtension(c.name, ".upd", c.mb), c.expected) << testing::PrintToString(c.name);
    }
}

TEST(AsciiLower, FoldsOnlyAToZ) {
    EXPECT_EQ(AsciiLower("ABCDEFGHIJKLMNOPQRSTUVWXYZ"), "abcdefghijklmnopqrstuvwxyz");
    EXPECT_EQ(AsciiLower("ZAL.EXE\0\xC0\x95Z"s), "zal.exe\0\xC0\x95z"s);
    // Every other byte stays: the neighbours of A to Z, the lower case, and the accented capitals of the
    // code page (C0 to DE), which a locale-aware lowering would change.
    std::string others;
    for (int c = 0; c < 256; ++c) {
        if (c < 'A' || c > 'Z') {
            others += static_cast<char>(c);
        }
    }
    ASSERT_EQ(others.size(), 230u);
    EXPECT_EQ(AsciiLower(others), others);
}

TEST(SameBytes, ComparesLengthAndEveryByte) {
    EXPECT_TRUE(SameBytes("", ""));
    EXPECT_TRUE(SameBytes("zal.exe", "zal.exe"));
    EXPECT_FALSE(SameBytes("zal.exe ", "zal.exe"));
    EXPECT_FALSE(SameBytes("zal.exe.bak", "zal.exe"));
    EXPECT_FALSE(SameBytes("ZAL.exe", "zal.exe"));
    EXPECT_FALSE(SameBytes("a\0b"s, "a\0c"s));
}

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
