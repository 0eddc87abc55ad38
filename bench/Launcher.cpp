// bench_launcher [--timeout-ms MS] RUNS NAME=PROGRAM [NAME=PROGRAM...]
// Starts each program RUNS times, taking turns, and measures from outside how long it takes from
// CreateProcessA to its first paint, then reads its peak memory and closes it with WM_CLOSE. Nothing in the
// measured program knows it is measured. The programs may be 32-bit ones started from this 64-bit
// launcher. MS (default 30000) bounds the wait for the first paint and the wait for the exit each, for a
// start under emulation that takes about a minute. One line per run:
//   run NAME INDEX visible=MS painted=MS shown=MS peak_ws_kb=KB peak_commit_kb=KB modules=N wintrust=0|1
//       exit=CODE
// visible: its main window (the first visible top-level window of the process with a non-empty area)
// exists and is visible; painted: that window and every visible window inside it have an empty update
// region again, so each has had its WM_PAINT; shown: the screen shows, at a point of the client area, the
// colour that the window settles on (read back once it has settled); modules: the DLLs loaded by then, and
// whether wintrust.dll is one of them (modules=-1 where the system does not list them: Wine 8 refuses a
// 64-bit process the list of a 32-bit one, with ERROR_NOACCESS).
#include "bench/BenchSupport.h"

#include <psapi.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace {

using zal::bench::Painted;
using zal::bench::Stopwatch;

struct WindowSearch {
    DWORD ProcessId;
    HWND Found;
};

BOOL CALLBACK MatchMainWindow(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<WindowSearch*>(data);
    DWORD processId = 0;
    ::GetWindowThreadProcessId(window, &processId);
    RECT rect;
    if (processId == search->ProcessId && ::IsWindowVisible(window) && ::GetWindowRect(window, &rect) &&
        rect.right > rect.left && rect.bottom > rect.top) {
        search->Found = window;
        return FALSE;
    }
    return TRUE;
}

HWND FindMainWindow(DWORD processId) {
    WindowSearch search{processId, nullptr};
    ::EnumWindows(MatchMainWindow, reinterpret_cast<LPARAM>(&search));
    return search.Found;
}

// A point of the client area that no control covers in either program: near the left edge, half way down.
COLORREF ScreenPixel(HWND window) {
    POINT point{8, 40};
    ::ClientToScreen(window, &point);
    HDC screen = ::GetDC(nullptr);
    COLORREF colour = ::GetPixel(screen, point.x, point.y);
    ::ReleaseDC(nullptr, screen);
    return colour;
}

struct RunResult {
    double Visible = -1;
    double Painted = -1;
    double Shown = -1;
    SIZE_T PeakWorkingSet = 0;
    SIZE_T PeakCommit = 0;
    int Modules = -1;      // DLLs loaded once the program has painted; -1 where they cannot be listed
    bool Wintrust = false; // wintrust.dll among them
    DWORD ExitCode = 0xFFFFFFFF;
    std::string Error;
};

RunResult RunOnce(const std::string& program, double timeoutMs) {
    RunResult result;
    std::string directory = program.substr(0, program.find_last_of("\\/:") + 1);
    std::string commandLine = "\"" + program + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};

    Stopwatch clock;
    if (!::CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          directory.empty() ? nullptr : directory.c_str(), &startup, &process)) {
        result.Error = "CreateProcessA failed: " + std::to_string(::GetLastError());
        return result;
    }

    constexpr double SettleMs = 300; // the screen is watched this long after the paint
    HWND window = nullptr;
    std::vector<std::pair<double, COLORREF>> pixels;
    while (clock.Milliseconds() < timeoutMs) {
        if (!window) {
            window = FindMainWindow(process.dwProcessId);
            if (window) {
                result.Visible = clock.Milliseconds();
            }
        }
        if (window) {
            const double now = clock.Milliseconds();
            pixels.emplace_back(now, ScreenPixel(window));
            if (result.Painted < 0 && Painted(window)) {
                result.Painted = clock.Milliseconds();
            }
            if (result.Painted >= 0 && now - result.Painted > SettleMs) {
                break;
            }
        }
        if (::WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0) {
            result.Error = "the program ended before it painted";
            break;
        }
        ::Sleep(1);
    }
    if (result.Painted < 0 && result.Error.empty()) {
        result.Error = "no paint within the time limit";
    }
    if (!pixels.empty()) {
        // The first sample from which on the screen kept the colour it settled on.
        const COLORREF settled = pixels.back().second;
        std::size_t first = pixels.size() - 1;
        while (first > 0 && pixels[first - 1].second == settled) {
            --first;
        }
        result.Shown = pixels[first].first;
    }

    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (::GetProcessMemoryInfo(process.hProcess, &counters, sizeof counters)) {
        result.PeakWorkingSet = counters.PeakWorkingSetSize;
        result.PeakCommit = counters.PeakPagefileUsage;
    }

    // What the start-up loaded: the signature check's wintrust.dll is to come only with a signed update.
    // LIST_MODULES_ALL: on Windows a 64-bit launcher sees only the 64-bit modules of a 32-bit program
    // without it.
    HMODULE modules[1024];
    DWORD needed = 0;
    if (::EnumProcessModulesEx(process.hProcess, modules, sizeof modules, &needed, LIST_MODULES_ALL)) {
        result.Modules = static_cast<int>(std::min<DWORD>(needed, sizeof modules) / sizeof(HMODULE));
        for (int k = 0; k < result.Modules; ++k) {
            char name[MAX_PATH] = {};
            if (::GetModuleBaseNameA(process.hProcess, modules[k], name, sizeof name) &&
                ::lstrcmpiA(name, "wintrust.dll") == 0) {
                result.Wintrust = true;
            }
        }
    }

    if (window) {
        ::PostMessageA(window, WM_CLOSE, 0, 0);
    }
    if (::WaitForSingleObject(process.hProcess, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0) {
        ::TerminateProcess(process.hProcess, 0xDEAD);
        ::WaitForSingleObject(process.hProcess, 5000);
        if (result.Error.empty()) {
            result.Error = "WM_CLOSE did not end the program";
        }
    }
    ::GetExitCodeProcess(process.hProcess, &result.ExitCode);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return result;
}

} // namespace

int main(int argc, char** argv) {
    int first = 1;
    double timeoutMs = 30000;
    if (argc > 2 && std::string(argv[1]) == "--timeout-ms") {
        timeoutMs = std::atof(argv[2]);
        first = 3;
    }
    if (argc < first + 2 || timeoutMs <= 0) {
        std::fprintf(stderr, "usage: bench_launcher [--timeout-ms MS] RUNS NAME=PROGRAM [NAME=PROGRAM...]\n");
        return 2;
    }
    const int runs = std::atoi(argv[first]);
    std::vector<std::pair<std::string, std::string>> programs;
    for (int k = first + 1; k < argc; ++k) {
        std::string arg = argv[k];
        const std::size_t equals = arg.find('=');
        if (equals == std::string::npos) {
            std::fprintf(stderr, "bench_launcher: %s is not NAME=PROGRAM\n", argv[k]);
            return 2;
        }
        programs.emplace_back(arg.substr(0, equals), arg.substr(equals + 1));
    }

    int failures = 0;
    for (int run = 0; run < runs; ++run) {
        // Turns alternate which program goes first, so neither always follows the other's exit.
        for (std::size_t k = 0; k < programs.size(); ++k) {
            const auto& [name, program] = programs[(k + static_cast<std::size_t>(run)) % programs.size()];
            RunResult r = RunOnce(program, timeoutMs);
            std::printf("run %s %d visible=%.2f painted=%.2f shown=%.2f peak_ws_kb=%llu peak_commit_kb=%llu "
                        "modules=%d wintrust=%d exit=%lu%s%s\n",
                        name.c_str(), run, r.Visible, r.Painted, r.Shown,
                        static_cast<unsigned long long>(r.PeakWorkingSet / 1024),
                        static_cast<unsigned long long>(r.PeakCommit / 1024), r.Modules, r.Wintrust ? 1 : 0,
                        r.ExitCode, r.Error.empty() ? "" : " error=", r.Error.c_str());
            std::fflush(stdout);
            failures += r.Error.empty() ? 0 : 1;
        }
    }
    return failures == 0 ? 0 : 1;
}
