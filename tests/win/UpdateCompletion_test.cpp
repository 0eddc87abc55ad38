#include "app/UpdateCompletion.h"
#include "app/UpdatePlan.h"
#include "tests/win/TestSupport.h"
#include "ui/Error.h"
#include "ui/Handles.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace zal {
namespace {

using test::ListDirectory;
using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;
using Listing = std::map<std::string, std::string>;

// Stands in for the window and the process: a chosen argument 1, a temporary directory as the tool's own,
// and a record of the pause and the close request.
class FakeHost : public IUpdateHost {
public:
    std::string Argument;
    std::string ExePath;
    MultiByteSettings Mb;
    std::vector<unsigned long> Pauses;
    int Closes = 0;

    std::string Argument1() override { return Argument; }
    std::string OwnExePath() override { return ExePath; }
    const MultiByteSettings& MultiByte() override { return Mb; }
    void Pause(unsigned long milliseconds) override { Pauses.push_back(milliseconds); }
    void RequestClose() override { ++Closes; }
};

std::string BinaryContent(std::size_t size) {
    std::string bytes(size, '\0');
    unsigned state = 12345;
    for (char& c : bytes) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 23); // zeros and high bytes included
    }
    return bytes;
}

class CompletionTest : public testing::Test {
protected:
    void SetUp() override {
        FHost.ExePath = FDir / "ZALUpdate.exe";
        FRetry.IntervalMs = 10;
        FRetry.LimitMs = 300;
        FRetry.Wait = [this](unsigned long ms) {
            ++FWaits;
            ::Sleep(ms);
        };
    }

    // A typical installation: both installed files and both staged copies.
    void LayOutBoth() {
        ASSERT_NO_FATAL_FAILURE(WriteFileBytes(FDir / "ZALUpdate.exe", "tool"));
        ASSERT_NO_FATAL_FAILURE(WriteFileBytes(FDir / "ZAL.exe", "old zal"));
        ASSERT_NO_FATAL_FAILURE(WriteFileBytes(FDir / "ZAL.upd", FNewZal));
        ASSERT_NO_FATAL_FAILURE(WriteFileBytes(FDir / "Glimae.dll", "old glimae"));
        ASSERT_NO_FATAL_FAILURE(WriteFileBytes(FDir / "Glimae.upd", "new glimae"));
    }

    void Run(const std::string& argument) {
        FHost.Argument = argument;
        CompleteUpdate(FHost, FRetry);
    }

    // Runs the completion, expecting the replacement to fail: the error is the system's, with its text.
    Win32Error RunExpectingFailure(const std::string& argument) {
        try {
            Run(argument);
        } catch (const Win32Error& error) {
            return error;
        }
        ADD_FAILURE() << "no error for " << argument;
        return Win32Error(ERROR_SUCCESS);
    }

    void ExpectPausedAndClosed() {
        EXPECT_EQ(FHost.Pauses, std::vector<unsigned long>{3000});
        EXPECT_EQ(FHost.Closes, 1);
    }

    void ExpectNeitherPauseNorClose() {
        EXPECT_TRUE(FHost.Pauses.empty());
        EXPECT_EQ(FHost.Closes, 0);
    }

    std::string TemporaryName(std::string_view target) {
        std::string path = StagedPathsFor(FHost.ExePath, target, FHost.Mb).Temporary;
        return path.substr(FDir.Path().size());
    }

    TempDir FDir{"completion"};
    FakeHost FHost;
    RetryPolicy FRetry;
    int FWaits = 0;
    const std::string FNewZal = BinaryContent(300 * 1024);
};

struct MatchCase {
    const char* Argument;
    const char* Updated;   // the target that gets its staged copy
    const char* Unchanged; // the other target's staged copy, which stays
};

class CompletionMatches : public CompletionTest, public testing::WithParamInterface<MatchCase> {};

TEST_P(CompletionMatches, ReplacesOnlyTheNamedTarget) {
    ASSERT_NO_FATAL_FAILURE(LayOutBoth());
    Listing expected = ListDirectory(FDir.Path());
    std::string updated = GetParam().Updated;
    std::string staged = ReplaceExtension(updated, ".upd", {});
    expected[updated] = expected[staged];
    expected.erase(staged);

    Run(GetParam().Argument);

    EXPECT_EQ(ListDirectory(FDir.Path()), expected);
    EXPECT_TRUE(test::PathExists(FDir / GetParam().Unchanged));
    ExpectPausedAndClosed();
}

INSTANTIATE_TEST_SUITE_P(Table, CompletionMatches,
                         testing::Values(MatchCase{"ZAL.exe", "ZAL.exe", "Glimae.upd"},
                                         MatchCase{"zal.EXE", "ZAL.exe", "Glimae.upd"},
                                         MatchCase{"C:\\Other\\zal.EXE", "ZAL.exe", "Glimae.upd"},
                                         MatchCase{"Glimae.dll", "Glimae.dll", "ZAL.upd"},
                                         MatchCase{"X:\\GLIMAE.DLL", "Glimae.dll", "ZAL.upd"}));

class CompletionIgnores : public CompletionTest, public testing::WithParamInterface<const char*> {};

TEST_P(CompletionIgnores, ChangesNothingButStillPausesAndCloses) {
    ASSERT_NO_FATAL_FAILURE(LayOutBoth());
    Listing before = ListDirectory(FDir.Path());
    Run(GetParam());
    EXPECT_EQ(ListDirectory(FDir.Path()), before);
    ExpectPausedAndClosed();
}

// Only A to Z are folded, so "ZAL.\xC9XE" (E acute) names nothing.
INSTANTIATE_TEST_SUITE_P(Table, CompletionIgnores,
                         testing::Values("", "ZAL", "ZAL.exe.bak", "ZAL.exe ", "ZAL.upd", "ZAL.\xC9XE",
                                         "D:/Apps/ZAL.exe", "ZALUpdate.exe", "Glimae"));

// The directory given with the argument is never used, even when it holds a staged copy of its own.
TEST_F(CompletionTest, ArgumentsDirectoryIsNeverTouched) {
    TempDir other("other");
    ASSERT_NO_FATAL_FAILURE(WriteFileBytes(other / "ZAL.exe", "other old"));
    ASSERT_NO_FATAL_FAILURE(WriteFileBytes(other / "ZAL.upd", "other new"));
    ASSERT_NO_FATAL_FAILURE(WriteFileBytes(FDir / "ZAL.upd", "own new"));
    Listing otherBefore = ListDirectory(other.Path());

    Run(other / "zal.EXE");

    EXPECT_EQ(ListDirectory(other.Path()), otherBefore);
    EXPECT_EQ(ListDirectory(FDir.Path()), (Listing{{"ZAL.exe", "own new"}}));
    ExpectPausedAndClosed();
}

TEST_F(CompletionTest, MissingStagedCopyIsNoError) {
    ASSERT_NO_FATAL_FAILURE(WriteFileBytes(FDir / "ZAL.exe", "old zal"));
    ASSERT_NO_FATAL_FAILURE(WriteFileBytes(FDir / "Glimae.upd", "new glimae"));
    Listing before = ListDirectory(FDir.Path());
    Run("ZAL.exe");
    EXPECT_EQ(ListDirectory(FDir.Path()), before);
    ExpectPausedAndClosed();
}

TEST_F(CompletionTest, MissingTargetIsCreated) {
    ASSERT_NO_FATAL_FAILURE(WriteFileBytes(FDir / "ZAL.upd", FNewZal));
    Run("ZAL.exe");
    EXPECT_EQ(ListDirectory(FDir.Path()), (Listing{{"ZAL.exe", test::Summary(FNewZal)}}));
    ExpectPausedAndClosed();
}

TEST_F(CompletionTest, EmptyStagedCopyIsAValidUpdate) {
    ASSERT_NO_FATAL_FAILURE(WriteFileBytes(FDir / "ZAL.exe", "old zal"));
    ASSERT_NO_FATAL_FAILURE(WriteFileBytes(FDir / "ZAL.upd", ""));
    Run("ZAL.exe");
    EXPECT_EQ(ListDirectory(FDir.Path()), (Listing{{"ZAL.exe", ""}}));
    ExpectPausedAndClosed();
}

TEST_F(CompletionTest, RegressionStagedCopyWithZeroedTimeStampIgnored) {
    ASSERT_NO_FATAL_FAILURE(WriteFileBytes(FDir / "ZAL.exe", "old zal"));
    ASSERT_NO_FATAL_FAILURE(WriteFileBytes(FDir / "ZAL.upd", "new zal"));
    {
        UniqueFile file(::CreateFileA((FDir / "ZAL.upd").c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(file);
        FILETIME epoch{0xD53E8000u, 0x019DB1DEu}; // 1970-01-01 00:00 UTC
        ASSERT_TRUE(::SetFileTime(file.Get(), nullptr, nullptr, &epoch));
    }
    Run("ZAL.exe");
    EXPECT_EQ(ListDirectory(FDir.Path()), (Listing{{"ZAL.exe", "new zal"}}));
}

TEST_F(CompletionTest, StagedNameThatIsADirectoryIsSkipped) {
    ASSERT_NO_FATAL_FAILURE(WriteFileBytes(FDir / "ZAL.exe", "old zal"));
    ASSERT_NO_FATAL_FAILURE(test::MakeDirectory(FDir / "ZAL.upd"));
    Listing before = ListDirectory(FDir.Path());
    Run("ZAL.exe");
    EXPECT_EQ(ListDirectory(FDir.Path()), before);
    ExpectPausedAndClosed();
}

// A run killed between the copy and the rename leaves its temporary file; the next run for that target
// clears it away, whether or not there is anything to apply.
TEST_F(CompletionTest, TemporaryFileOfAKilledRunIsRemoved) {
    std::string temporary = FDir / TemporaryName("ZAL.exe");
    ASSERT_NO_FATAL_FAILURE(WriteFileBytes(FDir / "ZAL.exe", "old zal"));
    ASSERT_NO_FATAL_FAILURE(WriteFileBytes(temporary, "half written"));
    ASSERT_TRUE(::SetFileAttributesA(temporary.c_str(), FILE_ATTRIBUTE_READONLY));
    Run("ZAL.exe");
    EXPECT_EQ(ListDirectory(FDir.Path()), (Listing{{"ZAL.exe", "old zal"}}));

    ASSERT_NO_FATAL_FAILURE(WriteFileBytes(temporary, "half written"));
    ASSERT_NO_FATAL_FAILURE(WriteFileBytes(FDir / "ZAL.upd", "new zal"));
    Run("ZAL.exe");
    EXPECT_EQ(ListDirectory(FDir.Path()), (Listing{{"ZAL.exe", "new zal"}}));
}

// The old action deleted the staged copy even when the copy had failed, so a target still held by a
// running ZAL lost its update for good.
TEST_F(CompletionTest, RegressionHeldTargetLostTheUpdate) {
    ASSERT_NO_FATAL_FAILURE(LayOutBoth());
    Listing before = ListDirectory(FDir.Path());
    UniqueFile held(::CreateFileA((FDir / "ZAL.exe").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held);

    Win32Error error = RunExpectingFailure("ZAL.exe");
    held.Reset();

    EXPECT_NE(error.Code(), static_cast<unsigned long>(ERROR_SUCCESS));
    EXPECT_STRNE(error.what(), "");
    EXPECT_EQ(std::string(error.what()), SystemErrorText(error.Code()));
    EXPECT_EQ(ListDirectory(FDir.Path()), before); // staged copy kept, target whole, no temporary file
    ExpectNeitherPauseNorClose();
    // Held all along: waited in steps over the whole window, and no longer.
    EXPECT_EQ(FWaits, 30);

    // Once the file is free, pressing again applies the update.
    Run("ZAL.exe");
    EXPECT_EQ(test::Summary(ReadFileBytes(FDir / "ZAL.exe")), test::Summary(FNewZal));
    EXPECT_FALSE(test::PathExists(FDir / "ZAL.upd"));
    ExpectPausedAndClosed();
}

TEST_F(CompletionTest, TargetReleasedWithinTheWaitIsReplaced) {
    ASSERT_NO_FATAL_FAILURE(LayOutBoth());
    FRetry.IntervalMs = 20;
    FRetry.LimitMs = 20000;
    HANDLE held = ::CreateFileA((FDir / "ZAL.exe").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    // ZAL exiting: its handle goes away a moment after the button is pressed.
    std::thread exiting([held] {
        ::Sleep(300);
        ::CloseHandle(held);
    });
    EXPECT_NO_THROW(Run("ZAL.exe"));
    exiting.join();

    EXPECT_GT(FWaits, 0);
    EXPECT_EQ(test::Summary(ReadFileBytes(FDir / "ZAL.exe")), test::Summary(FNewZal));
    EXPECT_FALSE(test::PathExists(FDir / "ZAL.upd"));
    EXPECT_FALSE(test::PathExists(FDir / TemporaryName("ZAL.exe")));
    ExpectPausedAndClosed();
}

TEST_F(CompletionTest, ReadOnlyTargetFailsWithoutWaiting) {
    ASSERT_NO_FATAL_FAILURE(LayOutBoth());
    ASSERT_TRUE(::SetFileAttributesA((FDir / "ZAL.exe").c_str(), FILE_ATTRIBUTE_READONLY));
    Listing before = ListDirectory(FDir.Path());

    Win32Error error = RunExpectingFailure("ZAL.exe");

    EXPECT_EQ(error.Code(), static_cast<unsigned long>(ERROR_ACCESS_DENIED));
    EXPECT_STRNE(error.what(), "");
    EXPECT_EQ(FWaits, 0);
    EXPECT_EQ(ListDirectory(FDir.Path()), before);
    EXPECT_NE(::GetFileAttributesA((FDir / "ZAL.exe").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    ExpectNeitherPauseNorClose();
}

TEST_F(CompletionTest, StagedCopyHeldWithoutSharingIsKept) {
    ASSERT_NO_FATAL_FAILURE(LayOutBoth());
    Listing before = ListDirectory(FDir.Path());
    UniqueFile held(::CreateFileA((FDir / "ZAL.upd").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held);
    Win32Error error = RunExpectingFailure("ZAL.exe");
    held.Reset();
    EXPECT_STRNE(error.what(), "");
    EXPECT_EQ(ListDirectory(FDir.Path()), before);
    ExpectNeitherPauseNorClose();
}

// The update is in place but the staged copy cannot go; that is reported rather than passed over, since a
// staged copy left behind would be applied again by a later run, over whatever is installed by then.
TEST_F(CompletionTest, StagedCopyThatCannotBeRemovedIsReportedAfterTheUpdate) {
    ASSERT_NO_FATAL_FAILURE(LayOutBoth());
    UniqueFile reader(::CreateFileA((FDir / "ZAL.upd").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(reader);

    Win32Error error = RunExpectingFailure("ZAL.exe");
    reader.Reset();

    EXPECT_STRNE(error.what(), "");
    EXPECT_EQ(test::Summary(ReadFileBytes(FDir / "ZAL.exe")), test::Summary(FNewZal));
    EXPECT_EQ(test::Summary(ReadFileBytes(FDir / "ZAL.upd")), test::Summary(FNewZal));
    EXPECT_FALSE(test::PathExists(FDir / TemporaryName("ZAL.exe")));
    ExpectNeitherPauseNorClose();

    // Pressing again applies the same content once more, which is harmless, and removes the staged copy.
    Run("ZAL.exe");
    EXPECT_EQ(test::Summary(ReadFileBytes(FDir / "ZAL.exe")), test::Summary(FNewZal));
    EXPECT_FALSE(test::PathExists(FDir / "ZAL.upd"));
    ExpectPausedAndClosed();
}

// The copy takes over the staged file's attributes. A read-only staged copy must not leave a read-only
// installed file, which would block the next update; the staged copy itself is not ours to unprotect.
TEST_F(CompletionTest, ReadOnlyStagedCopyIsAppliedWithoutItsReadOnlyBit) {
    ASSERT_NO_FATAL_FAILURE(LayOutBoth());
    ASSERT_TRUE(::SetFileAttributesA((FDir / "ZAL.upd").c_str(), FILE_ATTRIBUTE_READONLY));

    Win32Error error = RunExpectingFailure("ZAL.exe");

    EXPECT_EQ(error.Code(), static_cast<unsigned long>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(FWaits, 0);
    EXPECT_EQ(test::Summary(ReadFileBytes(FDir / "ZAL.exe")), test::Summary(FNewZal));
    EXPECT_EQ(::GetFileAttributesA((FDir / "ZAL.exe").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_TRUE(test::PathExists(FDir / "ZAL.upd"));
    EXPECT_FALSE(test::PathExists(FDir / TemporaryName("ZAL.exe")));
    ExpectNeitherPauseNorClose();
}

// A staged copy that the ANSI calls cannot reach (its directory is deeper than MAX_PATH) used to be taken
// for "no update", and the tool closed as if all were done. Either the update is applied, or the failure is
// reported with the staged copy kept.
TEST_F(CompletionTest, RegressionStagedCopyInDeepDirectorySilentlySkipped) {
    std::string deep = FDir.Path();
    while (deep.size() < 300) {
        deep += "a-rather-long-directory-name-for-the-test\\";
        ASSERT_NO_FATAL_FAILURE(test::MakeDirectory(deep));
    }
    ASSERT_NO_FATAL_FAILURE(WriteFileBytes(deep + "ZAL.exe", "old zal"));
    ASSERT_NO_FATAL_FAILURE(WriteFileBytes(deep + "ZAL.upd", "new zal"));
    FHost.ExePath = deep + "ZALUpdate.exe";
    try {
        Run("ZAL.exe");
        EXPECT_EQ(ReadFileBytes(deep + "ZAL.exe"), "new zal");
        EXPECT_FALSE(test::PathExists(deep + "ZAL.upd"));
    } catch (const Win32Error& error) {
        EXPECT_EQ(error.Code(), static_cast<unsigned long>(ERROR_FILENAME_EXCED_RANGE)) << error.what();
        EXPECT_EQ(ReadFileBytes(deep + "ZAL.exe"), "old zal");
        EXPECT_EQ(ReadFileBytes(deep + "ZAL.upd"), "new zal");
        ExpectNeitherPauseNorClose();
    }
}

// Without a directory the names would be relative to the current directory: nothing may be touched there.
TEST_F(CompletionTest, OwnPathWithoutDirectoryTouchesNoFile) {
    ASSERT_NO_FATAL_FAILURE(WriteFileBytes(FDir / "ZAL.upd", "new zal"));
    Listing before = ListDirectory(FDir.Path());
    char saved[MAX_PATH + 1] = {};
    ASSERT_NE(::GetCurrentDirectoryA(sizeof saved, saved), 0u);
    ASSERT_TRUE(::SetCurrentDirectoryA(FDir.Path().c_str()));
    FHost.ExePath = "ZALUpdate.exe";

    EXPECT_THROW(Run("ZAL.exe"), std::invalid_argument);

    ::SetCurrentDirectoryA(saved);
    EXPECT_EQ(ListDirectory(FDir.Path()), before);
    ExpectNeitherPauseNorClose();
}

} // namespace
} // namespace zal
