#include "ui/Application.h"

#include "base/Win32Error.h"
#include "base/WindowBinding.h"
#include "ui/ErrorBox.h"
#include "ui/Graphics.h"

#include <objbase.h>

#include <algorithm>
#include <cstring>

namespace zal {

TApplication* Application = nullptr;

namespace {

constexpr DWORD ApplicationWindowStyle =
    WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr const char* ApplicationClassName = "TApplication";
// The keyboard messages that the dialog-key filter sees: WM_KEYDOWN up to the last one before WM_UNICHAR.
constexpr UINT LastFilteredKeyMessage = 0x108;

bool IsVersion4OrLater() {
    return LOBYTE(LOWORD(::GetVersion())) >= 4;
}

// The first window text, never seen: the executable's name without extension, capitalised as "Zalupdate".
std::string PlaceholderTitle() {
    char path[MAX_PATH + 1] = {};
    DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    path[std::min<DWORD>(length, MAX_PATH)] = '\0';
    ::OemToCharA(path, path);
    char* name = std::strrchr(path, '\\');
    name = name ? name + 1 : path;
    if (char* dot = std::strchr(name, '.')) {
        *dot = '\0';
    }
    if (*name) {
        ::CharLowerA(::CharNextA(name));
    }
    return name;
}

} // namespace

TApplication::TApplication() : TComponent(nullptr) {
    if (Application) {
        throw std::logic_error("there is one application object per process");
    }
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    ::GetStartupInfoA(&startup);
    FShowCommand = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWDEFAULT;
    ScreenPixelsPerInch();
    FTaskbarCreated = ::RegisterWindowMessageA("TaskbarCreated");
    CreateHandle();
    Application = this;
    SetExceptionHandler([] {
        if (Application) {
            Application->HandleException();
        }
    });
}

TApplication::~TApplication() {
    Finish();
    SetExceptionHandler(nullptr);
    Application = nullptr;
}

void TApplication::CreateHandle() {
    HINSTANCE instance = ::GetModuleHandleA(nullptr);
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
    windowClass.lpszClassName = ApplicationClassName;
    if (!::RegisterClassA(&windowClass) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        ThrowLastError(WindowSystemUnavailable);
    }
    FTitle = PlaceholderTitle();
    HWND window = ::CreateWindowExA(0, ApplicationClassName, FTitle.c_str(), ApplicationWindowStyle,
                                    ::GetSystemMetrics(SM_CXSCREEN) / 2, ::GetSystemMetrics(SM_CYSCREEN) / 2,
                                    0, 0, nullptr, nullptr, instance, this);
    if (!window) {
        ThrowLastError(WindowSystemUnavailable);
    }
    FHandle = window;
    bool version4 = IsVersion4OrLater();
    if (version4) {
        // A test program may have no icon resource; the window then keeps the system's default.
        FIcon = ::LoadIconA(instance, "MAINICON");
        if (FIcon) {
            ::SendMessageA(FHandle, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(FIcon));
            ::SetClassLongPtrA(FHandle, GCLP_HICON, reinterpret_cast<LONG_PTR>(FIcon));
        }
    }
    // This is the taskbar button's menu: Restore, Minimize and Close are all that make sense there.
    HMENU menu = ::GetSystemMenu(FHandle, FALSE);
    ::DeleteMenu(menu, SC_MAXIMIZE, MF_BYCOMMAND);
    ::DeleteMenu(menu, SC_SIZE, MF_BYCOMMAND);
    if (version4) {
        ::DeleteMenu(menu, SC_MOVE, MF_BYCOMMAND);
    }
}

LRESULT CALLBACK TApplication::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DispatchToObject(window, message, wParam, lParam, &TApplication::FHandle, &TApplication::WndProc,
                            [](HWND) { return &::DefWindowProcA; });
}

LRESULT TApplication::WndProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CLOSE:
        WMClose();
        return 0;
    case WM_ENDSESSION:
        WMEndSession(wParam);
        return 0;
    case WM_SYSCOMMAND:
        if (WMSysCommand(wParam)) {
            return 0;
        }
        break;
    case WM_SETFOCUS:
        if (WMSetFocus()) {
            return 0;
        }
        break;
    case WM_WININICHANGE:
        SettingsChanged();
        break;
    default:
        if (message == FTaskbarCreated && FTaskbarCreated != 0) {
            SettingsChanged();
        }
        break;
    }
    return ::DefWindowProcA(FHandle, message, wParam, lParam);
}

// The taskbar button's Close: the main form's one close operation, never a bare DestroyWindow.
void TApplication::WMClose() {
    if (FMainForm) {
        FMainForm->Close();
    }
}

// The user is logged off: the loop ends at its next test, without the close operation.
void TApplication::WMEndSession(WPARAM ending) {
    if (ending) {
        FTerminated = true;
    }
}

// Minimise and restore from the taskbar button act on the whole tool; true when handled.
bool TApplication::WMSysCommand(WPARAM command) {
    switch (command & 0xFFF0) {
    case SC_MINIMIZE:
        Minimize();
        return true;
    case SC_RESTORE:
        Restore();
        return true;
    }
    return false;
}

// Activated through the taskbar button: the keys belong to the main form. True when it took them.
bool TApplication::WMSetFocus() {
    if (FMainForm && FMainForm->Visible() && ::IsWindowEnabled(FMainForm->Handle())) {
        ::SetFocus(FMainForm->Handle());
        return true;
    }
    return false;
}

void TApplication::SettingsChanged() {
    if (OnSettingsChange) {
        OnSettingsChange();
    }
}

void TApplication::Initialize() {
    if (!FComInitialized) {
        FComInitialized = SUCCEEDED(::CoInitialize(nullptr));
    }
}

std::string TApplication::Title() const {
    if (!FHandle) {
        return FTitle;
    }
    char text[256] = {};
    int length = ::GetWindowTextA(FHandle, text, sizeof text);
    return std::string(text, static_cast<size_t>(std::max(length, 0)));
}

void TApplication::SetTitle(std::string_view title) {
    FTitle = std::string(title);
    if (FHandle && Title() != FTitle) {
        ::SetWindowTextA(FHandle, FTitle.c_str());
    }
}

int TApplication::Run() {
    if (FMainForm) {
        if (FShowCommand == SW_SHOWMAXIMIZED) {
            FMainForm->SetWindowState(wsMaximized);
        } else if (FShowCommand == SW_SHOWMINNOACTIVE) {
            FMainForm->SetWindowState(wsMinimized);
        }
        if (FMainForm->WindowState() == wsMinimized) {
            Minimize();
        } else {
            FMainForm->Show();
        }
        while (!FTerminated) {
            HandleMessage();
        }
    }
    return Finish();
}

int TApplication::Finish() {
    if (!FFinished) {
        FFinished = true;
        if (FHandle) {
            ::ShowOwnedPopups(FHandle, FALSE);
        }
        DestroyComponents();
        if (FHandle) {
            ::DestroyWindow(FHandle);
            FHandle = nullptr;
        }
        if (FComInitialized) {
            ::CoUninitialize();
            FComInitialized = false;
        }
    }
    return 0;
}

void TApplication::Terminate() {
    ::PostQuitMessage(0);
}

void TApplication::HandleMessage() {
    if (!ProcessMessage() && !FTerminated) {
        // The idle step: no hints and no idle handler here, so there is nothing to do but wait.
        ::WaitMessage();
    }
}

bool TApplication::ProcessMessage() {
    MSG message;
    if (!::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        return false;
    }
    if (message.message == WM_QUIT) {
        FTerminated = true;
        return true;
    }
    try {
        if (!IsKeyMessage(message)) {
            ::TranslateMessage(&message);
            ::DispatchMessageA(&message);
        }
    } catch (...) {
        HandleCurrentException();
    }
    return true;
}

bool TApplication::IsKeyMessage(const MSG& message) {
    if (message.message < WM_KEYDOWN || message.message > LastFilteredKeyMessage) {
        return false;
    }
    HWND target = ::GetCapture();
    if (!target) {
        target = message.hwnd;
    }
    // The nearest window of this layer that contains the target, then the form it sits on.
    TWinControl* control = nullptr;
    for (HWND window = target; window && !control;) {
        control = TWinControl::FromHandle(window);
        window = (::GetWindowLongPtrA(window, GWL_STYLE) & WS_CHILD) ? ::GetParent(window) : nullptr;
    }
    TControl* top = control;
    while (top && top->Parent()) {
        top = top->Parent();
    }
    auto* form = dynamic_cast<TForm*>(top);
    return form && form->DialogKey(control, message);
}

void TApplication::HandleException() {
    if (const char* message = CurrentErrorMessage()) {
        ShowException(message);
    }
}

void TApplication::ShowException(std::string_view message) {
    ShowApplicationErrorBox(FHandle, Title(), message);
}

void TApplication::Minimize() {
    if (!FHandle || ::IsIconic(FHandle)) {
        return;
    }
    if (FMainForm) {
        // The minimising animation starts from where the main form is, or would be.
        ::SetWindowPos(FHandle, FMainForm->Handle(), FMainForm->Left(), FMainForm->Top(), FMainForm->Width(),
                       0, SWP_SHOWWINDOW);
    }
    ::DefWindowProcA(FHandle, WM_SYSCOMMAND, SC_MINIMIZE, 0);
}

// Only a minimised tool is restored: for a window that is not, the system's restore would show and activate
// the zero-sized application window, hidden as it is.
void TApplication::Restore() {
    if (!FHandle || !::IsIconic(FHandle)) {
        return;
    }
    ::DefWindowProcA(FHandle, WM_SYSCOMMAND, SC_RESTORE, 0);
    ::SetWindowPos(FHandle, nullptr, ::GetSystemMetrics(SM_CXSCREEN) / 2, ::GetSystemMetrics(SM_CYSCREEN) / 2,
                   0, 0, SWP_NOZORDER | SWP_NOACTIVATE);
    if (FMainForm && FMainForm->WindowState() == wsMinimized && !FMainForm->Visible()) {
        FMainForm->SetWindowState(wsNormal);
        FMainForm->Show();
    }
}

void TApplication::UpdateVisible() {
    if (!FHandle) {
        return;
    }
    bool wanted = std::any_of(FForms.begin(), FForms.end(), [](TForm* form) { return form->Visible(); });
    bool actual = ::IsWindowVisible(FHandle) != FALSE;
    // Someone else showed or hid the window since the rule last acted: leave it as they did.
    if (wanted != FShownByRule && actual == FShownByRule) {
        ::SetWindowPos(FHandle, nullptr, 0, 0, 0, 0,
                       SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE |
                           (wanted ? SWP_SHOWWINDOW : SWP_HIDEWINDOW));
        FShownByRule = wanted;
    }
}

void TApplication::AddForm(TForm* form) {
    FForms.push_back(form);
}

void TApplication::RemoveForm(TForm* form) {
    FForms.erase(std::remove(FForms.begin(), FForms.end(), form), FForms.end());
    if (FMainForm == form) {
        FMainForm = nullptr;
    }
    if (FLastActiveForm == form) {
        FLastActiveForm = nullptr;
    }
}

} // namespace zal
