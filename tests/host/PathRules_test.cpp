#include "core/PathRules.h"
#include "testkit/CodePages.h"

#include <gtest/gtest.h>

#include <string>

using namespace std::string_literals;

namespace zal {
namespace {

const MultiByteSettings SingleByte = testkit::SingleByte();
const MultiByteSettings Cp932 = testkit::CodePage932();

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

} // namespace
} // namespace zal
