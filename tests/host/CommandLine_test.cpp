#include "core/CommandLine.h"
#include "testkit/CodePages.h"

#include <gtest/gtest.h>

#include <string>

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

} // namespace
} // namespace zal
