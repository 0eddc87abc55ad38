#include "core/UpdatePlan.h"
#include "testkit/CodePages.h"

#include <gtest/gtest.h>

#include <optional>

namespace zal {
namespace {

using testkit::CodePage932;
using testkit::SingleByte;

struct MatchCase {
    const char* Argument;
    bool NamesZal;
    bool NamesGlimae;
};

class ArgumentMatching : public testing::TestWithParam<MatchCase> {};

TEST_P(ArgumentMatching, ArgumentNamesAtMostTheRightTarget) {
    const MatchCase& c = GetParam();
    EXPECT_EQ(ArgumentNamesTarget(c.Argument, UpdateTargets[0].Name, SingleByte()), c.NamesZal);
    EXPECT_EQ(ArgumentNamesTarget(c.Argument, UpdateTargets[1].Name, SingleByte()), c.NamesGlimae);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ArgumentMatching,
    testing::Values(MatchCase{"ZAL.exe", true, false}, MatchCase{"Glimae.dll", false, true},
                    MatchCase{"zal.EXE", true, false}, MatchCase{"C:\\Other\\zal.EXE", true, false},
                    MatchCase{"D:ZAL.exe", true, false},
                    MatchCase{"\\\\server\\share\\GLIMAE.DLL", false, true}, MatchCase{"", false, false},
                    MatchCase{"ZAL", false, false}, MatchCase{"ZAL.exe.bak", false, false},
                    MatchCase{"ZAL.exe ", false, false}, MatchCase{" ZAL.exe", false, false},
                    MatchCase{"ZAL.upd", false, false}, MatchCase{"D:/Apps/ZAL.exe", false, false},
                    MatchCase{"C:\\Apps\\", false, false}, MatchCase{"Glimae.dll\\", false, false}));

TEST(ArgumentMatching, OnlyAsciiLettersAreFolded) {
    // 0xC9 and 0xE9 are E-acute in upper and lower case in Windows-1252; they are different bytes.
    EXPECT_TRUE(ArgumentNamesTarget("CAF\xE9.EXE", "Caf\xE9.exe", SingleByte()));
    EXPECT_FALSE(ArgumentNamesTarget("CAF\xC9.EXE", "Caf\xE9.exe", SingleByte()));
}

TEST(ArgumentMatching, TrailByteBackslashIsNotADirectoryDelimiter) {
    // 0x83 0x5C is one character in code page 932, so the argument has no directory part there.
    EXPECT_TRUE(ArgumentNamesTarget("\x83\\ZAL.exe", "ZAL.exe", SingleByte()));
    EXPECT_FALSE(ArgumentNamesTarget("\x83\\ZAL.exe", "ZAL.exe", CodePage932()));
    EXPECT_TRUE(ArgumentNamesTarget("C:\\\x83\\\\ZAL.exe", "ZAL.exe", CodePage932()));
}

const UpdateTarget& Zal = UpdateTargets[0];
const UpdateTarget& Glimae = UpdateTargets[1];

struct PathsCase {
    const char* OwnExePath;
    UpdateTarget Target;
    const char* Staged;
    const char* Installed;
};

class StagedPathsTable : public testing::TestWithParam<PathsCase> {};

TEST_P(StagedPathsTable, PathsLieInTheToolsOwnDirectory) {
    const PathsCase& c = GetParam();
    std::optional<StagedPaths> paths = StagedPathsFor(c.OwnExePath, c.Target, SingleByte());
    ASSERT_TRUE(paths);
    EXPECT_EQ(paths->Staged, c.Staged);
    EXPECT_EQ(paths->Installed, c.Installed);
}

INSTANTIATE_TEST_SUITE_P(
    Table, StagedPathsTable,
    testing::Values(PathsCase{"C:\\Tools\\ZALUpdate.exe", Zal, "C:\\Tools\\ZAL.upd", "C:\\Tools\\ZAL.exe"},
                    PathsCase{"C:\\Tools\\ZALUpdate.exe", Glimae, "C:\\Tools\\Glimae.upd",
                              "C:\\Tools\\Glimae.dll"},
                    PathsCase{"C:\\a.b\\ZALUpdate.exe", Zal, "C:\\a.b\\ZAL.upd", "C:\\a.b\\ZAL.exe"},
                    PathsCase{"\\\\srv\\share\\Z\\ZALUpdate.exe", Zal, "\\\\srv\\share\\Z\\ZAL.upd",
                              "\\\\srv\\share\\Z\\ZAL.exe"},
                    PathsCase{"C:\\ZALUpdate.exe", Zal, "C:\\ZAL.upd", "C:\\ZAL.exe"}));

TEST(StagedPathsTable, TrailByteBackslashDoesNotEndTheDirectory) {
    // In code page 932 "\x83\x5C" is a letter of the file name, so the directory ends at "Apps\".
    std::optional<StagedPaths> mb = StagedPathsFor("C:\\Apps\\\x83\\Tool.exe", Zal, CodePage932());
    ASSERT_TRUE(mb);
    EXPECT_EQ(mb->Staged, "C:\\Apps\\ZAL.upd");
    EXPECT_EQ(mb->Directory, "C:\\Apps\\");
    std::optional<StagedPaths> sb = StagedPathsFor("C:\\Apps\\\x83\\Tool.exe", Zal, SingleByte());
    ASSERT_TRUE(sb);
    EXPECT_EQ(sb->Staged, "C:\\Apps\\\x83\\ZAL.upd");
}

// Names built from a path without a directory would be relative to the current directory, which is
// somebody else's folder.
TEST(StagedPathsTable, RefusesAnOwnPathWithoutDirectory) {
    for (const char* path : {"", "ZALUpdate.exe", "D:ZALUpdate.exe", "\x83\\ZALUpdate.exe"}) {
        EXPECT_FALSE(StagedPathsFor(path, Zal, CodePage932())) << path;
    }
}

} // namespace
} // namespace zal
