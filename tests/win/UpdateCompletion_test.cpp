#include "app/UpdateCompletion.h"
#include "app/UpdateFiles.h"
#include "app/UpdatePlan.h"
#include "base/Handles.h"
#include "base/Win32Error.h"
#include "testkit/FakeUpdateHost.h"
#include "tests/win/TestSupport.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace zal {
namespace {

using test::ListDirectory;
using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;
using Listing = std::map<std::string, std::string>;

std::string BinaryContent(std::size_t size) {
    std::string bytes(size, '\0');
    unsigned state = 12345;
    for (char& c : bytes) {
        state = state * 1103515245u + 12345u;
        c = static_cast<char>(state >> 23); // zeros and high bytes included
    }
    return bytes;
}

// A file held open without sharing, as a ZAL that is still exiting holds its own.
UniqueFile Hold(const std::string& path) {
    UniqueFile file(
        ::CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_TRUE(file) << path;
    return file;
}

class CompletionTest : public testing::Test {
protected:
    void SetUp() override { FHost.ExePath = FDir / "ZALUpdate.exe"; }

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
        FHost.Pauses.clear();
        CompleteUpdate(FHost);
    }

    // Runs the completion, expecting the replacement to fail: the error is the system's, with its text.
    Win32Error RunExpectingFailure(const std::string& argument) {
        try {
            Run(argument);
        } catch (const Win32Error& error) {
            EXPECT_NE(error.Code(), static_cast<unsigned long>(ERROR_SUCCESS));
            EXPECT_EQ(std::string(error.what()), SystemErrorText(error.Code()));
            return error;
        }
        ADD_FAILURE() << "no error for " << argument;
        return Win32Error(ERROR_SUCCESS);
    }

    // waits: how many times the completion waited for a held file first.
    void ExpectPausedAndClosed(std::size_t waits = 0) {
        std::vector<unsigned long> expected(waits, RetryIntervalMs);
        expected.push_back(UpdatePauseMs);
        EXPECT_EQ(FHost.Pauses, expected);
        EXPECT_EQ(FHost.Closes, 1);
    }

    void ExpectNeitherPauseNorClose(std::size_t waits = 0) {
        EXPECT_EQ(FHost.Pauses, std::vector<unsigned long>(waits, RetryIntervalMs));
        EXPECT_EQ(FHost.Closes, 0);
    }

    void ExpectUpdated() {
        EXPECT_EQ(test::Summary(ReadFileBytes(FDir / "ZAL.exe")), test::Summary(FNewZal));
        EXPECT_FALSE(test::PathExists(FDir / "ZAL.upd"));
    }

    TempDir FDir{"completion"};
    testkit::FakeUpdateHost FHost;
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
    // Nothing else is left behind in the directory.
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

// The old action deleted the staged copy even when the copy had failed, so a target still held by a
// running ZAL lost its update for good; and each step waited five seconds of its own, so the window froze
// for up to 25 s. Here the staged copy is held first, then the installed file: one budget covers both.
TEST_F(CompletionTest, RegressionHeldFilesLostTheUpdateAndFroze25Seconds) {
    ASSERT_NO_FATAL_FAILURE(LayOutBoth());
    Listing before = ListDirectory(FDir.Path());
    UniqueFile held = Hold(FDir / "ZAL.upd");
    FHost.WhilePaused = [&](std::size_t wait) {
        if (wait == 20) {
            held = Hold(FDir / "ZAL.exe");
        }
    };

    RunExpectingFailure("ZAL.exe");
    held.Reset();

    EXPECT_EQ(ListDirectory(FDir.Path()), before); // staged copy kept, installed file whole
    constexpr std::size_t budget = RetryLimitMs / RetryIntervalMs;
    ExpectNeitherPauseNorClose(budget);

    // Once the files are free, pressing again applies the update, and the wait starts afresh.
    FHost.WhilePaused = nullptr;
    Run("ZAL.exe");
    ExpectUpdated();
    ExpectPausedAndClosed();
}

// The installed file is let go while the tool waits: either the tool applies the staged copy itself, or
// another instance of the tool, pressed at the same time, applied it first and left nothing to do.
class CompletionAfterRelease : public CompletionTest, public testing::WithParamInterface<bool> {};

TEST_P(CompletionAfterRelease, AppliesTheUpdateOnceWithoutAnError) {
    const bool otherInstanceApplies = GetParam();
    ASSERT_NO_FATAL_FAILURE(LayOutBoth());
    UniqueFile held = Hold(FDir / "ZAL.exe");
    FHost.WhilePaused = [&](std::size_t wait) {
        if (wait == 3) {
            held.Reset();
            if (otherInstanceApplies) {
                ASSERT_TRUE(::MoveFileExA((FDir / "ZAL.upd").c_str(), (FDir / "ZAL.exe").c_str(),
                                          MOVEFILE_REPLACE_EXISTING));
            }
        }
    };
    EXPECT_NO_THROW(Run("ZAL.exe"));
    ExpectUpdated();
    ExpectPausedAndClosed(3);
}

INSTANTIATE_TEST_SUITE_P(ByWhom, CompletionAfterRelease, testing::Bool());

TEST_F(CompletionTest, ReadOnlyTargetFailsWithoutWaitingOrTouchingTheStagedCopy) {
    ASSERT_NO_FATAL_FAILURE(LayOutBoth());
    ASSERT_TRUE(::SetFileAttributesA((FDir / "ZAL.exe").c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(::SetFileAttributesA((FDir / "ZAL.upd").c_str(), FILE_ATTRIBUTE_READONLY));
    Listing before = ListDirectory(FDir.Path());
    const auto attributes = [&](const char* name) { return ::GetFileAttributesA((FDir / name).c_str()); };
    const DWORD installed = attributes("ZAL.exe");
    const DWORD staged = attributes("ZAL.upd");

    Win32Error error = RunExpectingFailure("ZAL.exe");

    EXPECT_EQ(error.Code(), static_cast<unsigned long>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(ListDirectory(FDir.Path()), before);
    EXPECT_EQ(attributes("ZAL.exe"), installed);
    EXPECT_EQ(attributes("ZAL.upd"), staged);
    ExpectNeitherPauseNorClose();
}

// The staged copy is the tool's own staging file. Its read-only bit used to travel with the copy onto the
// installed file, or stop the deletion of the staged copy, so that every press applied the update again and
// failed again.
TEST_F(CompletionTest, RegressionReadOnlyStagedCopyNeverFinished) {
    ASSERT_NO_FATAL_FAILURE(LayOutBoth());
    ASSERT_TRUE(::SetFileAttributesA((FDir / "ZAL.upd").c_str(), FILE_ATTRIBUTE_READONLY));
    Run("ZAL.exe");
    ExpectUpdated();
    EXPECT_EQ(::GetFileAttributesA((FDir / "ZAL.exe").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    ExpectPausedAndClosed();
}

// Wine can make no link that the system reports as one (its links are plain files to the programs it runs),
// so the check is tested on the attributes that a link on Windows has.
TEST(StagedCopyRefusalTest, OnlyALinkIsRefused) {
    struct {
        DWORD Attributes;
        DWORD Refusal;
    } cases[] = {
        {FILE_ATTRIBUTE_NORMAL, ERROR_SUCCESS},
        {FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN, ERROR_SUCCESS},
        {FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_REPARSE_POINT, ERROR_CANT_ACCESS_FILE},
        {FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_REPARSE_POINT, ERROR_CANT_ACCESS_FILE},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(StagedCopyRefusal(c.Attributes), c.Refusal) << c.Attributes;
    }
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

// The real pause looks at the window thread's queue, so that the system never takes the window for a hung
// one. Looking must take no message out of the queue and deliver none: the frozen window would react, and
// its button could be pressed again, in the middle of a press. Messages that another thread sends are left
// out: Windows delivers them only to a PeekMessageA asked to with PM_QS_SENDMESSAGE, Wine whatever it is
// asked.
TEST(SystemPauseTest, TakesAndDeliversNoMessage) {
    static int delivered = 0;
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = [](HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
        delivered += message == WM_APP ? 1 : 0;
        return ::DefWindowProcA(hwnd, message, wParam, lParam);
    };
    windowClass.hInstance = ::GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "ZalPauseTest";
    ASSERT_NE(::RegisterClassA(&windowClass), 0);
    HWND window = ::CreateWindowExA(0, windowClass.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    windowClass.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(::PostMessageA(window, WM_APP, 0, 0));

    SystemUpdateHost(nullptr).Pause(250);

    EXPECT_EQ(delivered, 0);
    MSG message;
    EXPECT_TRUE(::PeekMessageA(&message, window, WM_APP, WM_APP, PM_REMOVE))
        << "the posted message was taken";
    ::DestroyWindow(window);
    ::UnregisterClassA(windowClass.lpszClassName, windowClass.hInstance);
}

} // namespace
} // namespace zal
