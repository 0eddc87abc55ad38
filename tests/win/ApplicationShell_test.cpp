// Starts the shell program as its own process, as the program that starts the tool would, and watches a
// start-up that fails: the error box, and the exit code that the starting program relies on. How the running
// tool closes, minimises, maximises and ends with the session is checked in-process (UiForm_test,
// ApplicationWindow_test) and on the tool itself (tests/e2e).
#include "base/Win32Error.h"
#include "testkit/ErrorBoxWatcher.h"
#include "ui/ErrorBox.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

using zal::testkit::ErrorBoxSeen;
using zal::testkit::ErrorBoxWatcher;

constexpr const char* Title = "Atualiza\xE7\xE3o do ZAL";
// A generous bound for a slow machine; reaching it is a failure, never a measurement.
constexpr DWORD PatienceMs = 60000;

std::string ProgramDirectory() {
    char path[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string directory = path;
    return directory.substr(0, directory.rfind('\\') + 1);
}

// An error outside the message loop used to leave the entry point and end the process through
// std::terminate, with an exit code that the program starting the tool does not expect.
TEST(ApplicationShell, RegressionStartUpFailureCrashed) {
    // What the system answers for the class name that the shell program cannot register.
    std::string name(300, 'F');
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = ::DefWindowProcA;
    windowClass.hInstance = ::GetModuleHandleA(nullptr);
    windowClass.lpszClassName = name.c_str();
    ASSERT_EQ(::RegisterClassA(&windowClass), 0);
    DWORD refused = ::GetLastError();
    ASSERT_NE(refused, static_cast<DWORD>(ERROR_SUCCESS));

    ErrorBoxWatcher watcher(nullptr);
    std::string commandLine = "\"" + ProgramDirectory() + "UiShellApp.exe\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(::CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                                 &startup, &process));
    // It ends once the watcher has pressed OK.
    bool ended = ::WaitForSingleObject(process.hProcess, PatienceMs) == WAIT_OBJECT_0;
    if (!ended) {
        ::TerminateProcess(process.hProcess, 99);
    }
    DWORD code = STILL_ACTIVE;
    ::GetExitCodeProcess(process.hProcess, &code);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    EXPECT_TRUE(ended);
    EXPECT_EQ(code, 0u);
    const ErrorBoxSeen& seen = watcher.Stop();
    ASSERT_TRUE(seen.Found);
    EXPECT_EQ(seen.Caption, Title);
    EXPECT_EQ(seen.Text, zal::ErrorBoxText(zal::SystemErrorText(refused)));
    EXPECT_TRUE(seen.OkButton);
}

} // namespace
