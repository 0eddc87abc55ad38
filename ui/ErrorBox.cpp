#include "ui/ErrorBox.h"

#include "base/Win32Error.h"
#include "ui/Monitor.h"

#include <vector>

namespace zal {

namespace {

struct ThreadWindows {
    std::vector<HWND> Disabled;
};

BOOL CALLBACK DisableWindow(HWND window, LPARAM data) {
    if (::IsWindowVisible(window) && ::IsWindowEnabled(window)) {
        reinterpret_cast<ThreadWindows*>(data)->Disabled.push_back(window);
        ::EnableWindow(window, FALSE);
    }
    return TRUE;
}

} // namespace

std::string ErrorBoxText(std::string_view message) {
    std::string text(message);
    if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') {
        text += '.';
    }
    return text;
}

void ShowErrorBox(HWND owner, std::string_view caption, std::string_view message) {
    ::MessageBoxA(owner, ErrorBoxText(message).c_str(), std::string(caption).c_str(), MB_OK | MB_ICONERROR);
}

void ShowApplicationErrorBox(HWND application, std::string_view caption, std::string_view message) {
    if (HWND capture = ::GetCapture()) {
        ::SendMessageA(capture, WM_CANCELMODE, 0, 0);
    }
    HWND active = ::GetActiveWindow();
    // The box opens over the application window; bring that to the monitor the user is looking at.
    RECT home{};
    bool moved = false;
    if (active && application) {
        RECT theirs = MonitorAreaOf(active);
        RECT ours = MonitorAreaOf(application);
        if (!::EqualRect(&theirs, &ours)) {
            ::GetWindowRect(application, &home);
            POINT centre = CentredIn(theirs, 0, 0);
            ::SetWindowPos(application, nullptr, centre.x, centre.y, 0, 0,
                           SWP_NOSIZE | SWP_NOZORDER | SWP_NOREDRAW | SWP_NOACTIVATE);
            moved = true;
        }
    }
    ThreadWindows windows;
    ::EnumThreadWindows(::GetCurrentThreadId(), DisableWindow, reinterpret_cast<LPARAM>(&windows));
    HWND focus = ::GetFocus();

    ShowErrorBox(application, caption, message);

    for (HWND window : windows.Disabled) {
        ::EnableWindow(window, TRUE);
    }
    if (moved && ::IsWindow(application)) {
        ::SetWindowPos(application, nullptr, home.left, home.top, 0, 0,
                       SWP_NOSIZE | SWP_NOZORDER | SWP_NOREDRAW | SWP_NOACTIVATE);
    }
    if (active && ::IsWindow(active)) {
        ::SetActiveWindow(active);
    }
    if (focus && ::IsWindow(focus)) {
        ::SetFocus(focus);
    }
}

int RunApplication(std::string_view caption, const std::function<int()>& body) noexcept {
    // The application object, and with it its window, is gone by the time an error gets here: the box
    // stands on its own.
    const auto show = [caption](std::string_view message) noexcept {
        try {
            ShowErrorBox(nullptr, caption, message);
        } catch (...) {
            // Not even the box could be shown; the exit code is all that is left to get right.
        }
    };
    try {
        return body();
    } catch (...) {
        if (const char* message = CurrentErrorMessage()) {
            show(message);
        }
    }
    return 0;
}

} // namespace zal
