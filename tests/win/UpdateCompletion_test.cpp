#include "app/UpdateCompletion.h"
#include "app/ProgramImage_win.h"
#include "app/UpdateFiles.h"
#include "app/VirtualStore.h"
#include "core/UpdatePlan.h"
#include "base/Handles.h"
#include "base/Win32Error.h"
#include "testkit/FakeUpdateHost.h"
#include "testkit/ProgramMaker.h"
#include "tests/win/TestSupport.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace zal {
namespace {

using test::ListDirectory;
using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;
using Listing = std::map<std::string, std::string>;

using testkit::MakeProgram;

// Access lists as SDDL, "$USER" for this process's user: an installed program that everybody may run, and a
// staged copy that only its writer may use.
constexpr const char* EveryoneRuns = "D:(A;;FA;;;SY)(A;;FA;;;$USER)(A;;0x1200a9;;;WD)";
constexpr const char* OnlyItsWriter = "D:P(A;;FA;;;$USER)";
// Owners as Windows keeps them: an installed program owned by Administrators, as an elevated installer
// leaves it, and a staged copy owned by the user whom ZAL runs as.
constexpr const char* Administrators = "S-1-5-32-544";
constexpr const char* ZalUser = "S-1-5-21-1-2-3-1001";

std::string NewZal() {
    return MakeProgram({.Size = 300 * 1024, .Variant = 2});
}

std::string NewGlimae() {
    return MakeProgram({.Kind = ImageKind::Library, .Size = 100 * 1024, .Variant = 3});
}

// The demo's stand-in for ZAL, signed at build time with a throwaway certificate.
std::string SignedProgram() {
    std::string bytes = ReadFileBytes(test::BuildTreePath(ZAL_SIGNED_FIXTURE));
    EXPECT_GT(bytes.size(), 4096u) << "no signed program at " << ZAL_SIGNED_FIXTURE;
    return bytes;
}

// A file held open without sharing, as a ZAL that is still exiting holds its own; or sharing deletion, as
// Windows holds a running program's image, which may then be renamed but not replaced.
UniqueFile Hold(const std::string& path, DWORD share = 0) {
    UniqueFile file(::CreateFileA(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_TRUE(file) << path;
    return file;
}

class CompletionTest : public testing::Test {
protected:
    void SetUp() override { FHost.ExePath = FDir / "ZALUpdate.exe"; }

    // The installed program's access rules and owner, and the staged copy's, where they differ.
    void GiveSecurity(const char* stagedRules) {
        ASSERT_NO_FATAL_FAILURE(test::SetAccessRules(FDir / "ZAL.exe", EveryoneRuns));
        ASSERT_NO_FATAL_FAILURE(test::SetAccessRules(FDir / "ZAL.upd", stagedRules));
        FHost.Files.GiveOwner(FDir / "ZAL.exe", Administrators);
        FHost.Files.GiveOwner(FDir / "ZAL.upd", ZalUser);
    }

    // A typical installation: both installed files and both staged copies.
    void LayOutBoth() {
        ASSERT_NO_FATAL_FAILURE(WriteFileBytes(FDir / "ZALUpdate.exe", "tool"));
        ASSERT_NO_FATAL_FAILURE(WriteFileBytes(FDir / "ZAL.exe", "old zal"));
        ASSERT_NO_FATAL_FAILURE(WriteFileBytes(FDir / "ZAL.upd", FNewZal));
        ASSERT_NO_FATAL_FAILURE(WriteFileBytes(FDir / "Glimae.dll", "old glimae"));
        ASSERT_NO_FATAL_FAILURE(WriteFileBytes(FDir / "Glimae.upd", NewGlimae()));
    }

    void Run(const std::string& argument) {
        FHost.Argument = argument;
        FHost.Pauses.clear();
        CompleteUpdate(FHost);
    }

    // Runs the completion, expecting the replacement to fail: the error is the system's, with its text, in
    // which the staged copy's name stands for the file the system's text speaks of.
    Win32Error RunExpectingFailure(const std::string& argument, const char* staged = "ZAL.upd") {
        try {
            Run(argument);
        } catch (const Win32Error& error) {
            EXPECT_NE(error.Code(), static_cast<unsigned long>(ERROR_SUCCESS));
            EXPECT_EQ(std::string(error.what()), FillInsert(SystemErrorText(error.Code()), staged));
            EXPECT_EQ(std::string(error.what()).find('%'), std::string::npos) << error.what();
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
    const std::string FNewZal = NewZal();
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
    ASSERT_NO_FATAL_FAILURE(WriteFileBytes(FDir / "ZAL.upd", FNewZal));
    Listing otherBefore = ListDirectory(other.Path());

    Run(other / "zal.EXE");

    EXPECT_EQ(ListDirectory(other.Path()), otherBefore);
    EXPECT_EQ(ListDirectory(FDir.Path()), (Listing{{"ZAL.exe", test::Summary(FNewZal)}}));
    ExpectPausedAndClosed();
}

TEST_F(CompletionTest, MissingStagedCopyIsNoError) {
    ASSERT_NO_FATAL_FAILURE(WriteFileBytes(FDir / "ZAL.exe", "old zal"));
    ASSERT_NO_FATAL_FAILURE(WriteFileBytes(FDir / "Glimae.upd", NewGlimae()));
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

// Every one of these staged copies used to be renamed over a working ZAL.exe, which then no longer started,
// and the update was gone with the staged copy. Each is refused at once, without waiting, since waiting
// cannot mend it: both files stay as they were, attributes included, and the window stays open.
struct RefusalCase {
    const char* Name;
    const char* Argument;
    const char* Staged;
    std::function<std::string()> Content;
    DWORD Code;
    bool ReadOnly = false;
};

class CompletionRefuses : public CompletionTest, public testing::WithParamInterface<RefusalCase> {};

TEST_P(CompletionRefuses, RegressionBrokenStagedCopyWasInstalled) {
    const RefusalCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(LayOutBoth());
    ASSERT_NO_FATAL_FAILURE(WriteFileBytes(FDir / c.Staged, c.Content()));
    if (c.ReadOnly) {
        ASSERT_TRUE(::SetFileAttributesA((FDir / c.Staged).c_str(), FILE_ATTRIBUTE_READONLY));
    }
    Listing before = ListDirectory(FDir.Path());
    const DWORD attributes = ::GetFileAttributesA((FDir / c.Staged).c_str());

    Win32Error error = RunExpectingFailure(c.Argument, c.Staged);

    EXPECT_EQ(error.Code(), c.Code);
    EXPECT_EQ(ListDirectory(FDir.Path()), before);
    EXPECT_EQ(::GetFileAttributesA((FDir / c.Staged).c_str()), attributes);
    ExpectNeitherPauseNorClose();
}

std::string FlippedSignedByte() {
    std::string bytes = SignedProgram();
    bytes[0x600] = static_cast<char>(bytes[0x600] ^ 0x01); // in the code, which the signature covers
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Table, CompletionRefuses,
    testing::Values(
        RefusalCase{"Empty", "ZAL.exe", "ZAL.upd", [] { return std::string(); }, ERROR_BAD_EXE_FORMAT, true},
        RefusalCase{"CutInHalf", "ZAL.exe", "ZAL.upd", [] { return NewZal().substr(0, 150 * 1024); },
                    ERROR_BAD_EXE_FORMAT},
        RefusalCase{"HeadersOnly", "ZAL.exe", "ZAL.upd", [] { return NewZal().substr(0, 1024); },
                    ERROR_BAD_EXE_FORMAT},
        RefusalCase{"Text", "ZAL.exe", "ZAL.upd", [] { return std::string("ZAL version 2\r\n"); },
                    ERROR_BAD_EXE_FORMAT},
        RefusalCase{"LibraryForTheProgram", "ZAL.exe", "ZAL.upd", NewGlimae, ERROR_BAD_EXE_FORMAT},
        RefusalCase{"ProgramForTheLibrary", "Glimae.dll", "Glimae.upd", NewZal, ERROR_BAD_EXE_FORMAT},
        RefusalCase{"SignedCutShort", "ZAL.exe", "ZAL.upd",
                    [] {
                        std::string bytes = SignedProgram();
                        return bytes.substr(0, bytes.size() - 100);
                    },
                    ERROR_BAD_EXE_FORMAT},
        RefusalCase{"SignedWithOneByteChanged", "ZAL.exe", "ZAL.upd", FlippedSignedByte, ERROR_FILE_CORRUPT,
                    true}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(CompletionTest, WholeSignedCopyIsApplied) {
    ASSERT_NO_FATAL_FAILURE(LayOutBoth());
    const std::string signedProgram = SignedProgram();
    ASSERT_NO_FATAL_FAILURE(WriteFileBytes(FDir / "ZAL.upd", signedProgram));
    Run("ZAL.exe");
    EXPECT_EQ(test::Summary(ReadFileBytes(FDir / "ZAL.exe")), test::Summary(signedProgram));
    EXPECT_FALSE(test::PathExists(FDir / "ZAL.upd"));
    ExpectPausedAndClosed();
}

TEST_F(CompletionTest, RegressionStagedCopyWithZeroedTimeStampIgnored) {
    ASSERT_NO_FATAL_FAILURE(WriteFileBytes(FDir / "ZAL.exe", "old zal"));
    ASSERT_NO_FATAL_FAILURE(WriteFileBytes(FDir / "ZAL.upd", FNewZal));
    {
        UniqueFile file(::CreateFileA((FDir / "ZAL.upd").c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(file);
        FILETIME epoch{0xD53E8000u, 0x019DB1DEu}; // 1970-01-01 00:00 UTC
        ASSERT_TRUE(::SetFileTime(file.Get(), nullptr, nullptr, &epoch));
    }
    Run("ZAL.exe");
    EXPECT_EQ(ListDirectory(FDir.Path()), (Listing{{"ZAL.exe", test::Summary(FNewZal)}}));
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

    Win32Error error = RunExpectingFailure("ZAL.exe", "ZAL.exe");
    held.Reset();

    EXPECT_EQ(error.Code(), static_cast<unsigned long>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(ListDirectory(FDir.Path()), before); // staged copy kept, installed file whole
    constexpr std::size_t budget = RetryLimitMs / RetryIntervalMs;
    ExpectNeitherPauseNorClose(budget);

    // Once the files are free, pressing again applies the update, and the wait starts afresh.
    FHost.WhilePaused = nullptr;
    Run("ZAL.exe");
    ExpectUpdated();
    ExpectPausedAndClosed();
}

// The installed file is let go while the tool waits. Then the tool applies the staged copy itself; or
// another instance of the tool, pressed at the same time, applied it first and left nothing to do; or the
// staged copy was taken away (by ZAL, or by an antivirus), which the tool used to take for the other
// instance's work, closing as if updated while the old program stayed.
enum class Meanwhile { Nothing, OtherInstanceApplies, StagedCopyRemoved };

class CompletionAfterRelease : public CompletionTest, public testing::WithParamInterface<Meanwhile> {};

TEST_P(CompletionAfterRelease, AppliesTheUpdateOnceOrSaysItIsGone) {
    const Meanwhile meanwhile = GetParam();
    ASSERT_NO_FATAL_FAILURE(LayOutBoth());
    UniqueFile held = Hold(FDir / "ZAL.exe");
    FHost.WhilePaused = [&](std::size_t wait) {
        if (wait == 3) {
            held.Reset();
            if (meanwhile == Meanwhile::OtherInstanceApplies) {
                ASSERT_TRUE(::MoveFileExA((FDir / "ZAL.upd").c_str(), (FDir / "ZAL.exe").c_str(),
                                          MOVEFILE_REPLACE_EXISTING));
            } else if (meanwhile == Meanwhile::StagedCopyRemoved) {
                ASSERT_TRUE(::DeleteFileA((FDir / "ZAL.upd").c_str()));
            }
        }
    };
    if (meanwhile != Meanwhile::StagedCopyRemoved) {
        EXPECT_NO_THROW(Run("ZAL.exe"));
        ExpectUpdated();
        ExpectPausedAndClosed(3);
        return;
    }
    Win32Error error = RunExpectingFailure("ZAL.exe");
    EXPECT_EQ(error.Code(), static_cast<unsigned long>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(ReadFileBytes(FDir / "ZAL.exe"), "old zal");
    ExpectNeitherPauseNorClose(3);
}

INSTANTIATE_TEST_SUITE_P(Table, CompletionAfterRelease,
                         testing::Values(Meanwhile::Nothing, Meanwhile::OtherInstanceApplies,
                                         Meanwhile::StagedCopyRemoved));

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

// A staged copy that somebody holds when the wait runs out stays as it was, read-only bit, access rules and
// owner included, and the box says that a file is in use. Windows refuses in two ways: a file held without
// sharing deletion refuses to be opened with a sharing violation; a rename over a file held open, or over a
// running program, is refused with ERROR_ACCESS_DENIED, whose text sent the user to his rights instead of to
// the program that holds the file. And where Windows checks access before sharing, the read-only bit of a
// held staged copy used to be cleared by name, and was lost when the copy turned out to be held.
struct HeldCase {
    const char* Name;
    const char* Held;  // the file somebody holds
    DWORD Share;       // how it is held
    bool WindowsOrder; // the file system checks access before sharing
};

class CompletionWaitsForAHeldFile : public CompletionTest, public testing::WithParamInterface<HeldCase> {};

TEST_P(CompletionWaitsForAHeldFile, KeepsTheStagedCopyAsItWasAndSaysTheFileIsInUse) {
    const HeldCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(LayOutBoth());
    ASSERT_NO_FATAL_FAILURE(GiveSecurity(OnlyItsWriter));
    ASSERT_TRUE(::SetFileAttributesA((FDir / "ZAL.upd").c_str(), FILE_ATTRIBUTE_READONLY));
    const std::string rules = test::AccessRules(FDir / "ZAL.upd");
    Listing before = ListDirectory(FDir.Path());
    FHost.Files.AccessBeforeSharing = c.WindowsOrder;
    UniqueFile held = Hold(FDir / c.Held, FILE_SHARE_READ | c.Share);

    Win32Error error = RunExpectingFailure("ZAL.exe", c.Held);
    held.Reset();

    EXPECT_EQ(error.Code(), static_cast<unsigned long>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(ListDirectory(FDir.Path()), before);
    EXPECT_NE(::GetFileAttributesA((FDir / "ZAL.upd").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_EQ(test::AccessRules(FDir / "ZAL.upd"), rules);
    EXPECT_EQ(FHost.Files.OwnerOf(FDir / "ZAL.upd"), ZalUser);
    ExpectNeitherPauseNorClose(RetryLimitMs / RetryIntervalMs);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CompletionWaitsForAHeldFile,
    testing::Values(
        HeldCase{"RegressionRenameOverAHeldTargetShownAsAccessDenied", "ZAL.exe", FILE_SHARE_DELETE, false},
        HeldCase{"HeldTargetWindowsOrder", "ZAL.exe", FILE_SHARE_DELETE, true},
        HeldCase{"StagedCopyHeld", "ZAL.upd", 0, false},
        HeldCase{"RegressionHeldStagedCopyLostItsReadOnlyBit", "ZAL.upd", 0, true},
        HeldCase{"HeldStagedCopyThatSharesDeletionKeepsItsBit", "ZAL.upd", FILE_SHARE_DELETE, true}),
    [](const auto& info) { return std::string(info.param.Name); });

// The staged copy takes the installed file's access rules, and where the tool may its owner: a rename
// carries the staged copy's own, so a staged copy that only its writer may read left a ZAL.exe that no other
// user could start, one that everybody may write left a ZAL.exe that everybody could change, and its
// owner, who may always change the rules, could give himself any right on ZAL.exe. Each right is asked for
// only where it is needed: the staged copy used to be opened for WRITE_DAC whatever its rules, so that
// where the tool may write the file but not change its rules (a network share with "Change", an NTFS folder
// with "Modify") every press failed; and that refusal, or any refused open of a copy that was not
// read-only, passed for success, and the press went on to fail with "The handle is invalid." A refusal
// leaves everything as it was. Where the tool may not give the owner, or may not put the copy's own back,
// the copy keeps its own and the update goes on.
struct RightsCase {
    const char* Name;
    const char* StagedRules; // nullptr: the installed file's own
    DWORD Refused;           // rights the tool is refused on every file
    bool ReadOnly = false;   // the staged copy is read-only
    DWORD Error = ERROR_SUCCESS;
    const char* Unnameable = "";        // an owner the tool may not name
    const char* Owner = Administrators; // the owner that ZAL.exe has after the update
};

class CompletionTakesTheRulesAndOwner : public CompletionTest,
                                        public testing::WithParamInterface<RightsCase> {};

TEST_P(CompletionTakesTheRulesAndOwner, AskingOnlyForTheRightsItNeeds) {
    const RightsCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(LayOutBoth());
    ASSERT_NO_FATAL_FAILURE(GiveSecurity(c.StagedRules ? c.StagedRules : EveryoneRuns));
    if (c.ReadOnly) {
        ASSERT_TRUE(::SetFileAttributesA((FDir / "ZAL.upd").c_str(), FILE_ATTRIBUTE_READONLY));
    }
    const std::string installedRules = test::AccessRules(FDir / "ZAL.exe");
    const std::string stagedRules = test::AccessRules(FDir / "ZAL.upd");
    if (!c.ReadOnly) { // Wine shows a read-only file's rules without the rights to write it
        ASSERT_EQ(stagedRules == installedRules, c.StagedRules == nullptr) << stagedRules;
    }
    const DWORD attributes = ::GetFileAttributesA((FDir / "ZAL.upd").c_str());
    Listing before = ListDirectory(FDir.Path());
    FHost.Files.RefusedRights = c.Refused;
    FHost.Files.Unnameable = {c.Unnameable};

    if (c.Error == ERROR_SUCCESS) {
        Run("ZAL.exe");
        ExpectUpdated();
        EXPECT_EQ(test::AccessRules(FDir / "ZAL.exe"), installedRules);
        EXPECT_EQ(FHost.Files.OwnerOf(FDir / "ZAL.exe"), c.Owner);
        ExpectPausedAndClosed();
        return;
    }
    Win32Error error = RunExpectingFailure("ZAL.exe");
    EXPECT_EQ(error.Code(), c.Error);
    EXPECT_EQ(ListDirectory(FDir.Path()), before);
    EXPECT_EQ(::GetFileAttributesA((FDir / "ZAL.upd").c_str()), attributes);
    EXPECT_EQ(test::AccessRules(FDir / "ZAL.upd"), stagedRules);
    EXPECT_EQ(FHost.Files.OwnerOf(FDir / "ZAL.upd"), ZalUser);
    ExpectNeitherPauseNorClose();
}

INSTANTIATE_TEST_SUITE_P(
    Table, CompletionTakesTheRulesAndOwner,
    testing::Values(
        RightsCase{"RegressionInstalledFileTookTheStagedCopysRules", OnlyItsWriter, 0},
        RightsCase{"EveryoneMayWriteTheStagedCopy", "D:(A;;FA;;;WD)", 0},
        RightsCase{"RegressionInstalledFileTookTheStagedCopysOwner", nullptr, 0},
        RightsCase{"RegressionWriteDacAskedForWithTheRulesAlike", nullptr, WRITE_DAC},
        RightsCase{"OtherRulesWithoutWriteDac", OnlyItsWriter, WRITE_DAC, false, ERROR_ACCESS_DENIED},
        RightsCase{"RegressionRefusedOpenPassedForSuccess", nullptr, FILE_WRITE_DATA, false,
                   ERROR_ACCESS_DENIED},
        RightsCase{"RegressionReadOnlyBitLostWithTheOpenRefused", nullptr, FILE_WRITE_DATA, true,
                   ERROR_ACCESS_DENIED},
        RightsCase{"WithoutWriteOwnerTheCopyKeepsItsOwner", OnlyItsWriter, WRITE_OWNER, false, ERROR_SUCCESS,
                   "", ZalUser},
        RightsCase{"InstalledOwnerTheToolMayNotName", nullptr, 0, false, ERROR_SUCCESS, Administrators,
                   ZalUser},
        RightsCase{"CopysOwnerTheToolCouldNotPutBack", nullptr, 0, false, ERROR_SUCCESS, ZalUser, ZalUser}),
    [](const auto& info) { return std::string(info.param.Name); });

// Two instances pressed at once, and other programs that act on the staged copy while the tool works on it.
// "The other instance" is played by the test: it holds the staged copy, and renames it into place when the
// tool looks or waits.
class CompletionRaces : public CompletionTest {
protected:
    // Holds the staged copy as an instance of the tool that is checking it would: nobody else may write it.
    void HoldStagedCopy() {
        FOther = UniqueFile(::CreateFileA((FDir / "ZAL.upd").c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(FOther);
    }

    // The other instance renames the staged copy over the installed file and lets go of it.
    void OtherInstanceInstalls() {
        ASSERT_TRUE(
            ::MoveFileExA((FDir / "ZAL.upd").c_str(), (FDir / "ZAL.exe").c_str(), MOVEFILE_REPLACE_EXISTING));
        FOther.Reset();
    }

    UniqueFile FOther;
};

// The instance that found the staged copy held by the other put its read-only bit back, on the file the
// other then installed: ZAL.exe became read-only, and every later update was refused. Here the other
// instance takes the read-only copy (clearing its bit, as it must to write it) just after this one looked
// at it.
TEST_F(CompletionRaces, RegressionReadOnlyBitPutBackOnTheCopyAnotherInstanceInstalled) {
    ASSERT_NO_FATAL_FAILURE(LayOutBoth());
    const std::string staged = FDir / "ZAL.upd";
    ASSERT_TRUE(::SetFileAttributesA(staged.c_str(), FILE_ATTRIBUTE_READONLY));
    FHost.AfterLookUp = [&](const std::string& path) {
        if (path == staged && !FOther) {
            ASSERT_TRUE(::SetFileAttributesA(staged.c_str(), FILE_ATTRIBUTE_NORMAL));
            HoldStagedCopy();
        }
    };
    FHost.WhilePaused = [&](std::size_t wait) {
        if (wait == 1) {
            OtherInstanceInstalls();
        }
    };

    EXPECT_NO_THROW(Run("ZAL.exe"));

    ExpectUpdated();
    EXPECT_EQ(::GetFileAttributesA((FDir / "ZAL.exe").c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
    ExpectPausedAndClosed(1);
}

// Whether the staged copy is there and what it looked like came from two lookups; when the other instance
// installed it in between, this one reported "file not found" for an update that went in.
TEST_F(CompletionRaces, RegressionUpdateTheOtherInstanceInstalledReportedAsAnError) {
    ASSERT_NO_FATAL_FAILURE(LayOutBoth());
    bool installed = false;
    FHost.AfterLookUp = [&](const std::string& path) {
        if (path == FDir / "ZAL.upd" && !installed) {
            installed = true;
            OtherInstanceInstalls();
        }
    };

    EXPECT_NO_THROW(Run("ZAL.exe"));

    EXPECT_TRUE(installed);
    ExpectUpdated();
    ExpectPausedAndClosed();
}

// The staged copy was checked through a handle that let others rename it, and then renamed by its name: a
// program could move the checked file away and put other bytes, or a link, under the staged name in
// between, and those were installed. While the tool holds it (here: while it asks which machines run), the
// checked copy can be neither written nor moved away.
TEST_F(CompletionRaces, RegressionBytesPutUnderTheStagedNameAfterTheCheckWereInstalled) {
    ASSERT_NO_FATAL_FAILURE(LayOutBoth());
    const std::string staged = FDir / "ZAL.upd";
    std::vector<DWORD> attempts;
    FHost.Runs = [&](std::uint16_t machine) {
        UniqueFile writer(::CreateFileA(staged.c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
        attempts.push_back(writer ? ERROR_SUCCESS : ::GetLastError());
        const bool moved = ::MoveFileExA(staged.c_str(), (FDir / "aside").c_str(), 0);
        attempts.push_back(moved ? ERROR_SUCCESS : ::GetLastError());
        if (moved) {
            WriteFileBytes(staged, "not what was checked");
        }
        return SystemRunsMachine(machine);
    };

    Run("ZAL.exe");

    EXPECT_EQ(attempts, std::vector<DWORD>(2, ERROR_SHARING_VIOLATION));
    ExpectUpdated();
    EXPECT_FALSE(test::PathExists(FDir / "aside"));
}

// A virtualised process's writes under Program Files go to the VirtualStore, and the tool closed as if it
// had updated. When virtualisation cannot be switched off, the press fails before it looks at any file.
TEST_F(CompletionTest, NothingIsTouchedWhileWritesCouldGoToTheVirtualStore) {
    ASSERT_NO_FATAL_FAILURE(LayOutBoth());
    Listing before = ListDirectory(FDir.Path());
    FHost.VirtualStore = ERROR_ACCESS_DENIED;
    int lookups = 0;
    FHost.AfterLookUp = [&](const std::string&) { ++lookups; };

    Win32Error error = RunExpectingFailure("ZAL.exe");

    EXPECT_EQ(error.Code(), static_cast<unsigned long>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(lookups, 0);
    EXPECT_EQ(ListDirectory(FDir.Path()), before);
    ExpectNeitherPauseNorClose();
}

class FakeToken final : public ITokenVirtualization {
public:
    FakeToken(unsigned long query, bool enabled, unsigned long disable)
        : FQuery(query), FEnabled(enabled), FDisable(disable) {}
    unsigned long Query(bool& enabled) override {
        enabled = FEnabled;
        return FQuery;
    }
    unsigned long Disable() override {
        ++Disables;
        return FDisable;
    }
    int Disables = 0;

private:
    unsigned long FQuery;
    bool FEnabled;
    unsigned long FDisable;
};

TEST(KeepOutOfVirtualStoreTest, ClearsTheFlagOrFails) {
    struct {
        unsigned long Query;
        bool Enabled;
        unsigned long Disable;
        unsigned long Result;
        int Disables;
    } cases[] = {
        {ERROR_SUCCESS, false, ERROR_ACCESS_DENIED, ERROR_SUCCESS, 0},      // not virtualised
        {ERROR_SUCCESS, true, ERROR_SUCCESS, ERROR_SUCCESS, 1},             // switched off
        {ERROR_SUCCESS, true, ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, 1}, // may not switch it off
        {ERROR_INVALID_PARAMETER, true, ERROR_ACCESS_DENIED, ERROR_SUCCESS,
         0},                                                                // no such flag: no VirtualStore
        {ERROR_ACCESS_DENIED, true, ERROR_SUCCESS, ERROR_ACCESS_DENIED, 0}, // cannot tell: nothing written
    };
    for (const auto& c : cases) {
        FakeToken token(c.Query, c.Enabled, c.Disable);
        EXPECT_EQ(KeepOutOfVirtualStore(token), c.Result) << c.Query << " " << c.Enabled << " " << c.Disable;
        EXPECT_EQ(token.Disables, c.Disables);
    }
    EXPECT_EQ(KeepOutOfVirtualStore(), static_cast<unsigned long>(ERROR_SUCCESS)); // Wine virtualises nothing
}

// ERROR_ACCESS_DENIED was waited for whenever both names were plain files, so a tool that simply may not
// write there froze for five seconds before it said so. Only a file somebody holds is worth the wait; when
// the wait runs out, the box says that the file is in use. A rename refused over a file held open, or over a
// running program, used to say "Access is denied.", which sent the user to his rights instead of to ZAL.
TEST(WorthWaitingTest, OnlyWhatAnotherProcessHoldsWhichIsThenSaidToBeInUse) {
    constexpr ReplaceStep installed = ReplaceStep::Installed;
    constexpr ReplaceStep staged = ReplaceStep::Staged;
    constexpr ReplaceStep rename = ReplaceStep::Rename;
    constexpr DWORD noWait = ERROR_SUCCESS;
    struct {
        ReplaceOutcome Outcome;
        DWORD Shown; // what the box says when the wait runs out; noWait: not waited for
    } cases[] = {
        {{ERROR_SHARING_VIOLATION, installed, {}}, ERROR_SHARING_VIOLATION},
        {{ERROR_SHARING_VIOLATION, staged, {}}, ERROR_SHARING_VIOLATION},
        {{ERROR_SHARING_VIOLATION, rename, {}}, ERROR_SHARING_VIOLATION},
        {{ERROR_LOCK_VIOLATION, staged, {}}, ERROR_LOCK_VIOLATION},
        {{ERROR_USER_MAPPED_FILE, rename, {}}, ERROR_USER_MAPPED_FILE},
        // A refused rename: a running program's image, or a file somebody holds, is let go in the end.
        {{ERROR_ACCESS_DENIED, rename, ERROR_SUCCESS}, ERROR_SHARING_VIOLATION},
        {{ERROR_ACCESS_DENIED, rename, ERROR_SHARING_VIOLATION}, ERROR_SHARING_VIOLATION},
        // ... but not a file the tool may not delete at all, nor one that nobody probed.
        {{ERROR_ACCESS_DENIED, rename, ERROR_ACCESS_DENIED}, noWait},
        {{ERROR_ACCESS_DENIED, rename, ERROR_FILE_NOT_FOUND}, noWait},
        {{ERROR_ACCESS_DENIED, rename, {}}, noWait},
        // Refused before the rename: a read-only installed file, a staged copy the tool may not open.
        {{ERROR_ACCESS_DENIED, installed, {}}, noWait},
        {{ERROR_ACCESS_DENIED, staged, {}}, noWait},
        {{ERROR_FILE_NOT_FOUND, staged, {}}, noWait},
        {{ERROR_BAD_EXE_FORMAT, staged, {}}, noWait},
        {{ERROR_CANT_ACCESS_FILE, staged, {}}, noWait},
        {{ERROR_DISK_FULL, rename, {}}, noWait},
    };
    for (const auto& c : cases) {
        const ReplaceOutcome& outcome = c.Outcome;
        const std::string row = std::to_string(outcome.Error) + " at step " +
                                std::to_string(static_cast<int>(outcome.At)) + " probe " +
                                (outcome.DeleteProbe ? std::to_string(*outcome.DeleteProbe) : "none");
        EXPECT_EQ(WorthWaiting(outcome), c.Shown != noWait) << row;
        if (c.Shown != noWait) {
            EXPECT_EQ(HeldFileError(outcome), c.Shown) << row;
        }
    }
}

// Wine can make no link that the system reports as one (its links are plain files to the programs it runs),
// nor any other reparse point, so the decision is tested on what FindFirstFileA reports on Windows.
TEST(StagedCopyRefusalTest, OnlyALinkIsRefused) {
    constexpr DWORD reparse = FILE_ATTRIBUTE_REPARSE_POINT;
    struct {
        DWORD Attributes;
        DWORD Tag;
        DWORD Refusal;
    } cases[] = {
        {FILE_ATTRIBUTE_NORMAL, 0, ERROR_SUCCESS},
        {FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN, 0, ERROR_SUCCESS},
        // Without the attribute the tag field means nothing.
        {FILE_ATTRIBUTE_ARCHIVE, IO_REPARSE_TAG_SYMLINK, ERROR_SUCCESS},
        {FILE_ATTRIBUTE_ARCHIVE | reparse, IO_REPARSE_TAG_SYMLINK, ERROR_CANT_ACCESS_FILE},
        {FILE_ATTRIBUTE_READONLY | reparse, IO_REPARSE_TAG_SYMLINK, ERROR_CANT_ACCESS_FILE},
        {reparse, IO_REPARSE_TAG_MOUNT_POINT, ERROR_CANT_ACCESS_FILE},
        {reparse, 0xA000001D, ERROR_CANT_ACCESS_FILE}, // IO_REPARSE_TAG_LX_SYMLINK
        // Deduplicated files, compressed system files and cloud placeholders hold their own content.
        {FILE_ATTRIBUTE_ARCHIVE | reparse, 0x80000013, ERROR_SUCCESS}, // IO_REPARSE_TAG_DEDUP
        {reparse, 0x80000017, ERROR_SUCCESS},                          // IO_REPARSE_TAG_WOF
        {reparse | FILE_ATTRIBUTE_OFFLINE, 0x9000601A, ERROR_SUCCESS}, // IO_REPARSE_TAG_CLOUD_6
        {reparse, 0x8000001B, ERROR_SUCCESS},                          // IO_REPARSE_TAG_APPEXECLINK
    };
    for (const auto& c : cases) {
        EXPECT_EQ(StagedCopyRefusal(c.Attributes, c.Tag), c.Refusal)
            << std::hex << c.Attributes << " " << c.Tag;
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
    ASSERT_NO_FATAL_FAILURE(WriteFileBytes(deep + "ZAL.upd", FNewZal));
    FHost.ExePath = deep + "ZALUpdate.exe";
    try {
        Run("ZAL.exe");
        EXPECT_EQ(test::Summary(ReadFileBytes(deep + "ZAL.exe")), test::Summary(FNewZal));
        EXPECT_FALSE(test::PathExists(deep + "ZAL.upd"));
    } catch (const Win32Error& error) {
        EXPECT_EQ(error.Code(), static_cast<unsigned long>(ERROR_FILENAME_EXCED_RANGE)) << error.what();
        EXPECT_EQ(ReadFileBytes(deep + "ZAL.exe"), "old zal");
        EXPECT_EQ(test::Summary(ReadFileBytes(deep + "ZAL.upd")), test::Summary(FNewZal));
        ExpectNeitherPauseNorClose();
    }
}

// Without a directory the names would be relative to the current directory: nothing may be touched there.
TEST_F(CompletionTest, OwnPathWithoutDirectoryTouchesNoFile) {
    ASSERT_NO_FATAL_FAILURE(WriteFileBytes(FDir / "ZAL.upd", FNewZal));
    Listing before = ListDirectory(FDir.Path());
    char saved[MAX_PATH + 1] = {};
    ASSERT_NE(::GetCurrentDirectoryA(sizeof saved, saved), 0u);
    ASSERT_TRUE(::SetCurrentDirectoryA(FDir.Path().c_str()));
    FHost.ExePath = "ZALUpdate.exe";

    try {
        Run("ZAL.exe");
        ADD_FAILURE() << "no error for an own path without directory";
    } catch (const Win32Error& error) {
        EXPECT_EQ(error.Code(), static_cast<unsigned long>(ERROR_BAD_PATHNAME));
    }

    ::SetCurrentDirectoryA(saved);
    EXPECT_EQ(ListDirectory(FDir.Path()), before);
    ExpectNeitherPauseNorClose();
}

// The real pause looks at the window thread's queue, so that the system never takes the window for a hung
// one. Looking must take no message out of the queue and deliver none: the frozen window would react, and
// its button could be pressed again, in the middle of a press. Messages that another thread sends are left
// out: Windows delivers them only to a PeekMessageA asked to with PM_QS_SENDMESSAGE, Wine whatever it is
// asked.
int appMessagesDelivered = 0;

LRESULT CALLBACK CountingWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    appMessagesDelivered += message == WM_APP ? 1 : 0;
    return ::DefWindowProcA(hwnd, message, wParam, lParam);
}

TEST(SystemPauseTest, TakesAndDeliversNoMessage) {
    appMessagesDelivered = 0;
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = CountingWindowProc;
    windowClass.hInstance = ::GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "ZalPauseTest";
    ASSERT_NE(::RegisterClassA(&windowClass), 0);
    HWND window = ::CreateWindowExA(0, windowClass.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                    windowClass.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(::PostMessageA(window, WM_APP, 0, 0));

    SystemUpdateHost(nullptr).Pause(250);

    EXPECT_EQ(appMessagesDelivered, 0);
    MSG message;
    EXPECT_TRUE(::PeekMessageA(&message, window, WM_APP, WM_APP, PM_REMOVE))
        << "the posted message was taken";
    ::DestroyWindow(window);
    ::UnregisterClassA(windowClass.lpszClassName, windowClass.hInstance);
}

} // namespace
} // namespace zal
