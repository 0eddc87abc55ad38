#include "app/ProcessInputs.h"
#include "app/UpdateCompletion.h"
#include "app/UpdateFiles.h"
#include "base/Handles.h"
#include "base/Win32Error.h"
#include "tests/win/TestSupport.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace zal {
namespace {

using test::PathExists;
using test::ReadFileBytes;
using test::TempDir;
using test::WriteFileBytes;

FILETIME FileTimeOf(WORD year, WORD month, WORD day) {
    SYSTEMTIME when{};
    when.wYear = year;
    when.wMonth = month;
    when.wDay = day;
    when.wHour = 12;
    FILETIME result{};
    EXPECT_TRUE(::SystemTimeToFileTime(&when, &result)) << year;
    return result;
}

void SetLastWriteTime(const std::string& path, const FILETIME& when) {
    UniqueFile file(::CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file) << path;
    ASSERT_TRUE(::SetFileTime(file.Get(), nullptr, nullptr, &when));
}

class LookUpTest : public testing::Test {
protected:
    TempDir FDir{"present"};
};

TEST_F(LookUpTest, DirectoryAndMissingNameAreNoFiles) {
    ASSERT_TRUE(::CreateDirectoryA((FDir / "ZAL.upd").c_str(), nullptr));
    const FileEntry directory = LookUp(FDir / "ZAL.upd");
    EXPECT_TRUE(directory.Exists && directory.Directory);
    EXPECT_FALSE(directory.IsFile());
    EXPECT_FALSE(LookUp(FDir / "Glimae.upd").Exists);
    EXPECT_FALSE(LookUp(FDir / "no such dir\\ZAL.upd").Exists);
}

TEST_F(LookUpTest, AttributesDoNotMatter) {
    struct {
        const char* Name;
        DWORD Attributes;
    } cases[] = {{"plain.upd", FILE_ATTRIBUTE_NORMAL},
                 {"readonly.upd", FILE_ATTRIBUTE_READONLY},
                 {"hidden.upd", FILE_ATTRIBUTE_HIDDEN},
                 {"system.upd", FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE}};
    for (const auto& c : cases) {
        std::string path = FDir / c.Name;
        ASSERT_NO_FATAL_FAILURE(WriteFileBytes(path, "x"));
        ASSERT_TRUE(::SetFileAttributesA(path.c_str(), c.Attributes));
        EXPECT_TRUE(LookUp(path).IsFile()) << c.Name;
    }
}

// Build pipelines zero time stamps (1970) or set them far ahead; the old rule took such a staged copy for
// "no update", and the update silently never applied.
TEST_F(LookUpTest, RegressionTimeStampOutsideDosRangeHidFile) {
    struct {
        WORD Year;
        WORD Month;
        WORD Day;
    } stamps[] = {{1970, 1, 1}, {1979, 12, 31}, {1980, 1, 2}, {2107, 12, 30}, {2108, 1, 1}, {2200, 6, 1}};
    for (const auto& s : stamps) {
        std::string path = FDir / ("stamp" + std::to_string(s.Year) + ".upd");
        ASSERT_NO_FATAL_FAILURE(WriteFileBytes(path, "x"));
        ASSERT_NO_FATAL_FAILURE(SetLastWriteTime(path, FileTimeOf(s.Year, s.Month, s.Day)));
        WIN32_FILE_ATTRIBUTE_DATA data{};
        ASSERT_TRUE(::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data));
        FILETIME expected = FileTimeOf(s.Year, s.Month, s.Day);
        ASSERT_EQ(data.ftLastWriteTime.dwHighDateTime, expected.dwHighDateTime)
            << "stamp not set: " << s.Year;
        const FileEntry entry = LookUp(path);
        EXPECT_TRUE(entry.IsFile()) << s.Year;
        EXPECT_EQ(entry.LastWrite,
                  static_cast<unsigned long long>(expected.dwHighDateTime) << 32 | expected.dwLowDateTime)
            << s.Year;
    }
}

TEST_F(LookUpTest, OnlyTheSearchedNameCounts) {
    ASSERT_NO_FATAL_FAILURE(WriteFileBytes(FDir / "ZAL.upd.bak", "x"));
    ASSERT_NO_FATAL_FAILURE(WriteFileBytes(FDir / "XZAL.upd", "x"));
    EXPECT_FALSE(LookUp(FDir / "ZAL.upd").Exists);
    // The file system folds case, so the staged copy may be written in any case.
    ASSERT_NO_FATAL_FAILURE(WriteFileBytes(FDir / "zal.UPD", "x"));
    EXPECT_TRUE(LookUp(FDir / "ZAL.upd").IsFile());
}

// The rename takes the staged copy's size and last-write time along: that is how the tool tells an update
// that another instance installed. A file written anew has a stamp of its own.
TEST_F(LookUpTest, StampTravelsWithARename) {
    ASSERT_NO_FATAL_FAILURE(WriteFileBytes(FDir / "ZAL.upd", "new content"));
    ASSERT_NO_FATAL_FAILURE(SetLastWriteTime(FDir / "ZAL.upd", FileTimeOf(2020, 5, 6)));
    const FileEntry staged = LookUp(FDir / "ZAL.upd");
    EXPECT_EQ(staged.Size, 11u);
    ASSERT_TRUE(::MoveFileExA((FDir / "ZAL.upd").c_str(), (FDir / "ZAL.exe").c_str(), 0));
    EXPECT_TRUE(LookUp(FDir / "ZAL.exe").SameStamp(staged));
    ASSERT_NO_FATAL_FAILURE(WriteFileBytes(FDir / "ZAL.exe", "new content"));
    EXPECT_FALSE(LookUp(FDir / "ZAL.exe").SameStamp(staged));
    EXPECT_FALSE(FileEntry{}.SameStamp(FileEntry{}));
}

TEST(OwnExePathTest, IsThisProgramsFullPath) {
    char expected[MAX_PATH + 1] = {};
    DWORD length = ::GetModuleFileNameA(nullptr, expected, sizeof expected);
    ASSERT_GT(length, 0u);
    ASSERT_LT(length, sizeof expected);
    EXPECT_EQ(OwnExePath(), std::string(expected, length));
    EXPECT_EQ(SystemUpdateHost(nullptr).OwnExePath(), std::string(expected, length));
}

// Windows gives a program started through a "\\?\" path that path back as its own (Wine strips the prefix,
// so the paths are given here as Windows would give them). The update used to be impossible then, since the
// "?" was taken for a name the code page cannot spell.
TEST(OwnExePathTest, RegressionLongPathPrefixMadeTheUpdateImpossible) {
    const struct {
        const char* ModulePath;
        const char* Own;
    } cases[] = {
        {"\\\\?\\C:\\Program Files\\ZAL\\ZALUpdate.exe", "C:\\Program Files\\ZAL\\ZALUpdate.exe"},
        {"\\\\?\\UNC\\server\\share\\ZAL\\ZALUpdate.exe", "\\\\server\\share\\ZAL\\ZALUpdate.exe"},
        {"C:\\ZAL\\ZALUpdate.exe", "C:\\ZAL\\ZALUpdate.exe"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(OwnExePathFrom(c.ModulePath), c.Own) << c.ModulePath;
    }
    // What is left after the prefix still has to name a real file in a directory.
    for (const char* refused :
         {"\\\\?\\C:\\Z?L\\ZALUpdate.exe", "\\\\?\\ZALUpdate.exe", "C:\\Z*\\ZALUpdate.exe"}) {
        EXPECT_THROW(OwnExePathFrom(refused), Win32Error) << refused;
    }
}

TEST(SystemUpdateHostTest, CloseRequestReachesTheCallback) {
    int closes = 0;
    SystemUpdateHost host([&] { ++closes; });
    host.RequestClose();
    EXPECT_EQ(closes, 1);
    SystemUpdateHost nobody(nullptr);
    EXPECT_NO_THROW(nobody.RequestClose());
}

// Started by the command-line test below with ZAL_CHILD_REPORT set, this program writes what the bindings
// see into that file and exits before any test runs. ZAL_CHILD_THREAD_LOCALE, when set, is the thread locale
// (hexadecimal) that the child takes before it decides its multi-byte settings.
struct ChildReport {
    ChildReport() {
        const char* report = std::getenv("ZAL_CHILD_REPORT");
        if (report == nullptr) {
            return;
        }
        if (const char* locale = std::getenv("ZAL_CHILD_THREAD_LOCALE")) {
            ::SetThreadLocale(std::strtoul(locale, nullptr, 16));
        }
        DecideCurrentMultiByteSettings();
        std::string text = "arg1=" + CommandLineArg(1) + "\n";
        text += "arg2=" + CommandLineArg(2) + "\n";
        text += "host=" + SystemUpdateHost(nullptr).Argument1() + "\n";
        text += "path=" + OwnExePath() + "\n";
        text += std::string("paths multi-byte=") + (CurrentMultiByteSettings().MultiByteMode ? "yes" : "no");
        UniqueFile file(
            ::CreateFileA(report, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        ::WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        file.Reset();
        ::ExitProcess(0);
    }
} childReport;

std::string ThisExePath() {
    char path[MAX_PATH + 1] = {};
    DWORD length = ::GetModuleFileNameA(nullptr, path, sizeof path);
    return std::string(path, length);
}

// Runs this program again with commandLine (and threadLocale, when not empty) and returns what it reports.
std::string RunChild(const std::string& commandLine, const std::string& reportPath,
                     const std::string& threadLocale) {
    std::string line = commandLine;
    ::SetEnvironmentVariableA("ZAL_CHILD_REPORT", reportPath.c_str());
    ::SetEnvironmentVariableA("ZAL_CHILD_THREAD_LOCALE",
                              threadLocale.empty() ? nullptr : threadLocale.c_str());
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    BOOL started = ::CreateProcessA(ThisExePath().c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                    nullptr, &startup, &process);
    DWORD error = ::GetLastError();
    ::SetEnvironmentVariableA("ZAL_CHILD_REPORT", nullptr);
    ::SetEnvironmentVariableA("ZAL_CHILD_THREAD_LOCALE", nullptr);
    if (!started) {
        ADD_FAILURE() << "CreateProcessA failed with " << error;
        return {};
    }
    UniqueFile processHandle(process.hProcess);
    UniqueFile threadHandle(process.hThread);
    EXPECT_EQ(::WaitForSingleObject(process.hProcess, 120000), WAIT_OBJECT_0);
    DWORD exitCode = 1;
    ::GetExitCodeProcess(process.hProcess, &exitCode);
    EXPECT_EQ(exitCode, 0u);
    return ReadFileBytes(reportPath);
}

// The system writes the command line in its ANSI code page (1252 here) and steps it with that page's lead
// bytes. A thread locale with another code page used to be read into the stepping: under Japanese (0x0411)
// "\xE9" took the closing quote as its second byte, and the argument ran on into the next one. File paths
// keep following the thread's locale.
TEST(CommandLineBinding, ArgumentsComeFromTheProcessCommandLine) {
    ASSERT_EQ(::GetACP(), 1252u);
    TempDir dir("child");
    std::string exe = ThisExePath();
    struct {
        std::string CommandLine;
        std::string ThreadLocale;
        std::string Expected;
    } cases[] = {
        {"\"" + exe + "\" \"D:\\Program Files\\App\\ZAL.exe\" next", "",
         "arg1=D:\\Program Files\\App\\ZAL.exe\narg2=next\nhost=D:\\Program Files\\App\\ZAL.exe\n"},
        {"tool.exe\tGlimae.dll", "", "arg1=Glimae.dll\narg2=\nhost=Glimae.dll\n"},
        {"tool.exe \"\" ZAL.exe", "", "arg1=ZAL.exe\narg2=\nhost=ZAL.exe\n"},
        {"ZAL.exe", "", "arg1=\narg2=\nhost=\n"},
        {"tool.exe \"caf\xE9\" next", "0411", "arg1=caf\xE9\narg2=next\nhost=caf\xE9\n"},
    };
    for (const auto& c : cases) {
        std::string report = RunChild(c.CommandLine, dir / "report.txt", c.ThreadLocale);
        std::string multiByte = c.ThreadLocale.empty() ? "no" : "yes";
        EXPECT_EQ(report, c.Expected + "path=" + exe + "\npaths multi-byte=" + multiByte) << c.CommandLine;
    }
}

// The old fixed 261-byte buffer cut a longer path, and names built from the cut path pointed at some other
// directory. Wine cannot start a process from such a path, so a copy of this program is loaded as a module
// from a directory deeper than MAX_PATH, and its path is read with the same growing buffer.
TEST(ModuleFilePathTest, RegressionPathCutAtMaxPath) {
    TempDir dir("longpath");
    std::string deep = dir.Path();
    while (deep.size() < 600) {
        deep += "a-rather-long-directory-name-for-the-test\\";
        ASSERT_NO_FATAL_FAILURE(test::MakeDirectory(deep));
    }
    std::string copy = deep + "ZALUpdate-copy.exe";
    ASSERT_TRUE(
        ::CopyFileW(test::ExtendedPath(ThisExePath()).c_str(), test::ExtendedPath(copy).c_str(), FALSE))
        << ::GetLastError();
    HMODULE module = ::LoadLibraryW(test::ExtendedPath(copy).c_str());
    ASSERT_NE(module, nullptr) << ::GetLastError();
    std::string path;
    EXPECT_NO_THROW(path = ModuleFilePath(module));
    ::FreeLibrary(module);
    EXPECT_EQ(path, copy);
    EXPECT_EQ(DirectoryPart(path, {}), deep);
}

TEST(ModuleFilePathTest, UnknownModuleIsAnError) {
    // An address that is no module: the system cannot tell a path, and the caller must not guess one.
    HMODULE bogus = reinterpret_cast<HMODULE>(static_cast<std::uintptr_t>(0x10));
    EXPECT_THROW(ModuleFilePath(bogus), Win32Error);
}

} // namespace
} // namespace zal
