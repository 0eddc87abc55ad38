#pragma once
// Finds the error box that a window of this or another process owns, reads it and presses OK. Meant to run
// on a helper thread while the window's thread sits in the box's modal loop.
#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace zal::testkit {

struct ErrorBoxSeen {
    bool Found = false;
    std::string Caption;
    std::string Text;
    int Buttons = 0;        // push buttons in the box
    bool OkButton = false;  // one of them is IDOK
    bool ErrorIcon = false; // the icon static shows the system's stop icon
};

inline std::string WindowText(HWND window) {
    char text[1024] = {};
    int length = ::GetWindowTextA(window, text, sizeof text);
    return std::string(text, length > 0 ? static_cast<size_t>(length) : 0);
}

inline std::string ClassOf(HWND window) {
    char name[256] = {};
    ::GetClassNameA(window, name, sizeof name);
    return name;
}

struct BoxSearch {
    HWND Owner;
    HWND Box;
};

// Enumeration callbacks are stdcall on 32 bits, which a lambda cannot be.
inline BOOL CALLBACK MatchOwnedBox(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<BoxSearch*>(data);
    if (::GetWindow(window, GW_OWNER) == search->Owner && ClassOf(window) == "#32770") {
        search->Box = window;
        return FALSE;
    }
    return TRUE;
}

// The message box owned by owner, or null.
inline HWND FindOwnedBox(HWND owner) {
    BoxSearch search{owner, nullptr};
    ::EnumWindows(MatchOwnedBox, reinterpret_cast<LPARAM>(&search));
    return search.Box;
}

inline BOOL CALLBACK ReadBoxChild(HWND child, LPARAM data) {
    auto* seen = reinterpret_cast<ErrorBoxSeen*>(data);
    std::string name = ClassOf(child);
    LONG_PTR style = ::GetWindowLongPtrA(child, GWL_STYLE);
    if (::lstrcmpiA(name.c_str(), "Static") == 0) {
        if ((style & SS_TYPEMASK) == SS_ICON) {
            HICON shown = reinterpret_cast<HICON>(::SendMessageA(child, STM_GETICON, 0, 0));
            seen->ErrorIcon = shown && shown == ::LoadIconA(nullptr, IDI_HAND);
        } else if (seen->Text.empty()) {
            seen->Text = WindowText(child);
        }
    } else if (::lstrcmpiA(name.c_str(), "Button") == 0 && ::IsWindowVisible(child)) {
        ++seen->Buttons;
        seen->OkButton = seen->OkButton || ::GetDlgCtrlID(child) == IDOK;
    }
    return TRUE;
}

inline ErrorBoxSeen ReadBox(HWND box) {
    ErrorBoxSeen seen;
    seen.Found = true;
    seen.Caption = WindowText(box);
    ::EnumChildWindows(box, ReadBoxChild, reinterpret_cast<LPARAM>(&seen));
    return seen;
}

// Watches on its own thread until the box owned by owner appears (then reads it, runs whileOpen and presses
// OK) or until Stop().
class ErrorBoxWatcher {
public:
    explicit ErrorBoxWatcher(HWND owner, std::function<void(HWND box)> whileOpen = {})
        : FThread([this, owner, whileOpen] {
              while (!FStop) {
                  // Visible only once the dialog has made its text and buttons.
                  if (HWND box = FindOwnedBox(owner); box && ::IsWindowVisible(box)) {
                      FSeen = ReadBox(box);
                      FFound = true;
                      if (whileOpen) {
                          whileOpen(box);
                      }
                      ::PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
                      return;
                  }
                  ::Sleep(20);
              }
          }) {}
    ErrorBoxWatcher(const ErrorBoxWatcher&) = delete;
    ErrorBoxWatcher& operator=(const ErrorBoxWatcher&) = delete;
    ~ErrorBoxWatcher() { Stop(); }

    // Whether the box has been found (and read); it is closed a moment later.
    bool Found() const noexcept { return FFound; }

    // Ends the watch and returns what was seen.
    const ErrorBoxSeen& Stop() {
        FStop = true;
        if (FThread.joinable()) {
            FThread.join();
        }
        return FSeen;
    }

private:
    std::atomic<bool> FStop{false};
    std::atomic<bool> FFound{false};
    ErrorBoxSeen FSeen;
    std::thread FThread;
};

} // namespace zal::testkit
