#include "ui/WinControl.h"

#include "base/Win32Error.h"
#include "base/WindowBinding.h"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace zal {

namespace {

// A class this layer registered, and the procedure that handles what this layer does not: DefWindowProcA,
// or the system class's own procedure for a superclass.
struct RegisteredClass {
    std::string Name;
    WNDPROC Base;
};

// A handful of classes at most, one per kind of window, so a list searched in order does.
std::vector<RegisteredClass>& RegisteredClasses() {
    static std::vector<RegisteredClass> classes;
    return classes;
}

// The base procedure of the class this layer registered under name; null for a class it did not register.
WNDPROC RegisteredBase(std::string_view name) {
    for (const RegisteredClass& registered : RegisteredClasses()) {
        if (registered.Name == name) {
            return registered.Base;
        }
    }
    return nullptr;
}

// Messages that arrive before WM_NCCREATE binds the object, or after the object has let go of its window,
// still need the class's own procedure; a superclassed button keeps its state that way.
WNDPROC BaseProcedure(HWND window) {
    char name[256];
    if (::GetClassNameA(window, name, sizeof name) > 0) {
        if (WNDPROC base = RegisteredBase(name)) {
            return base;
        }
    }
    return ::DefWindowProcA;
}

} // namespace

TWinControl::TWinControl(TComponent* owner) : TControl(owner) {}

TWinControl::~TWinControl() {
    if (FHandle) {
        ReleaseFocus();
        // The derived parts of this object are gone: the window's last messages go to its class only.
        HWND window = std::exchange(FHandle, nullptr);
        ::SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        ::DestroyWindow(window);
    }
    for (TControl* control : FControls) {
        control->FParent = nullptr;
    }
    FControls.clear();
    FTabList.clear();
}

RECT TWinControl::ClientRect() const {
    return RECT{0, 0, Width(), Height()};
}

HWND TWinControl::Handle() {
    if (!FHandle) {
        CreateHandle();
    }
    return FHandle;
}

void TWinControl::ReleaseFocus() {
    HWND focus = ::GetFocus();
    if (!Parent() || !focus || (focus != FHandle && !::IsChild(FHandle, focus))) {
        return;
    }
    // The system would hand the focus to the parent panel, which is no tab stop; the form takes it instead,
    // having forgotten this control, so the next activation focuses the first tab stop.
    Parent()->ControlRemoved(this);
    ::SetFocus(::GetAncestor(FHandle, GA_ROOT));
}

void TWinControl::DestroyHandle() {
    if (FHandle) {
        ReleaseFocus();
        ::DestroyWindow(FHandle);
        FHandle = nullptr; // WM_NCDESTROY has cleared it already unless the call failed
    }
}

const char* TWinControl::WindowClassName() const {
    return "TWinControl";
}

void TWinControl::CreateParams(TCreateParams& params) {
    params.Style = WS_CHILD | WS_CLIPSIBLINGS;
    if (FVisible) {
        params.Style |= WS_VISIBLE;
    }
    if (FTabStop) {
        params.Style |= WS_TABSTOP;
    }
    params.X = Left();
    params.Y = Top();
    params.Width = Width();
    params.Height = Height();
}

WNDPROC TWinControl::RegisterWindowClass(const TCreateParams& params) {
    const char* name = WindowClassName();
    if (WNDPROC registered = RegisteredBase(name)) {
        return registered;
    }
    WNDCLASSA windowClass{};
    WNDPROC base = ::DefWindowProcA;
    if (const char* baseName = BaseClassName()) {
        // A superclass keeps everything of the system class but its name and procedure, so a manifest
        // that asks for common controls version 6 still gives it the themed look.
        if (!::GetClassInfoA(nullptr, baseName, &windowClass)) {
            ThrowLastError(ERROR_CANNOT_FIND_WND_CLASS);
        }
        base = windowClass.lpfnWndProc;
        windowClass.style &= ~CS_GLOBALCLASS;
    } else {
        windowClass.style = params.ClassStyle;
        windowClass.hCursor = ::LoadCursorA(nullptr, params.Cursor);
        windowClass.hbrBackground = params.Background;
    }
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = ::GetModuleHandleA(nullptr);
    windowClass.lpszClassName = name;
    if (!::RegisterClassA(&windowClass) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        ThrowLastError(WindowSystemUnavailable);
    }
    RegisteredClasses().push_back({name, base});
    return base;
}

void TWinControl::CreateHandle() {
    TCreateParams params;
    CreateParams(params);
    HWND parent = Parent() ? Parent()->Handle() : params.WndParent;
    // Making the parent's window makes its children's, this one's included; a second would be left behind,
    // still bound to this object after it is gone.
    if (FHandle) {
        return;
    }
    if ((params.Style & WS_CHILD) && !parent) {
        throw std::logic_error("a child control needs a parent before it has a window");
    }
    FDefWndProc = RegisterWindowClass(params);
    HWND window = ::CreateWindowExA(params.ExStyle, WindowClassName(), FCaption.c_str(), params.Style,
                                    params.X, params.Y, params.Width, params.Height, parent, nullptr,
                                    ::GetModuleHandleA(nullptr), this);
    if (!window) {
        ThrowLastError(WindowSystemUnavailable);
    }
    FHandle = window;
    for (TWinControl* child : FTabList) {
        child->Handle();
    }
    HandleCreated();
    AlignControls();
}

LRESULT CALLBACK TWinControl::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DispatchToObject(window, message, wParam, lParam, &TWinControl::FHandle, &TWinControl::WndProc,
                            BaseProcedure);
}

LRESULT TWinControl::WndProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
        return WMPaint();
    case WM_PRINTCLIENT:
        PaintTo(reinterpret_cast<HDC>(wParam));
        return 0;
    case WM_ERASEBKGND:
        if (EraseBackground(reinterpret_cast<HDC>(wParam))) {
            return 1;
        }
        break;
    case WM_SIZE:
        return WMSize(wParam, lParam);
    case WM_MOVE:
        UpdateBoundsFromWindow();
        break;
    case WM_COMMAND:
        return WMCommand(wParam, lParam);
    case WM_SETFOCUS:
        FocusChanged(this);
        break;
    }
    return DefaultHandler(message, wParam, lParam);
}

LRESULT TWinControl::DefaultHandler(UINT message, WPARAM wParam, LPARAM lParam) {
    return ::CallWindowProcA(FDefWndProc ? FDefWndProc : ::DefWindowProcA, FHandle, message, wParam, lParam);
}

LRESULT TWinControl::WMPaint() {
    PaintScope paint(FHandle);
    PaintTo(paint.DC());
    return 0;
}

LRESULT TWinControl::WMSize(WPARAM wParam, LPARAM lParam) {
    UpdateBoundsFromWindow();
    AlignControls();
    return DefaultHandler(WM_SIZE, wParam, lParam);
}

LRESULT TWinControl::WMCommand(WPARAM wParam, LPARAM lParam) {
    HWND child = reinterpret_cast<HWND>(lParam);
    if (child) {
        for (TWinControl* control : FTabList) {
            if (control->FHandle == child) {
                control->CommandNotify(HIWORD(wParam));
                return 0;
            }
        }
    }
    return DefaultHandler(WM_COMMAND, wParam, lParam);
}

void TWinControl::CommandNotify(WORD) {}

void TWinControl::FocusChanged(TWinControl* control) {
    if (Parent()) {
        Parent()->FocusChanged(control);
    }
}

void TWinControl::ControlRemoved(TControl* control) {
    if (Parent()) {
        Parent()->ControlRemoved(control);
    }
}

void TWinControl::UpdateBoundsFromWindow() {
    if (!FHandle || ::IsIconic(FHandle)) {
        return;
    }
    RECT rect;
    ::GetWindowRect(FHandle, &rect);
    if (::GetWindowLongPtrA(FHandle, GWL_STYLE) & WS_CHILD) {
        ::MapWindowPoints(HWND_DESKTOP, ::GetParent(FHandle), reinterpret_cast<POINT*>(&rect), 2);
    }
    SetBoundsFields(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
}

void TWinControl::PaintTo(HDC dc) {
    {
        TCanvas canvas(dc);
        canvas.Font().Assign(Font());
        Paint(canvas);
    }
    for (TControl* control : FControls) {
        if (!control->Visible() || dynamic_cast<TWinControl*>(control)) {
            continue;
        }
        int saved = ::SaveDC(dc);
        ::OffsetViewportOrgEx(dc, control->Left(), control->Top(), nullptr);
        ::IntersectClipRect(dc, 0, 0, control->Width(), control->Height());
        {
            TCanvas canvas(dc);
            canvas.Font().Assign(control->Font());
            control->Paint(canvas);
        }
        ::RestoreDC(dc, saved);
    }
}

void TWinControl::Paint(TCanvas&) {}

void TWinControl::FontChanged() {
    TControl::FontChanged();
    for (TControl* control : FControls) {
        control->ParentFontChanged();
    }
}

bool TWinControl::EraseBackground(HDC) {
    return false;
}

void TWinControl::SetCaption(std::string_view caption) {
    if (FCaption != caption) {
        FCaption = std::string(caption);
        if (FHandle) {
            ::SetWindowTextA(FHandle, FCaption.c_str());
        }
    }
}

void TWinControl::SetTabStop(bool tabStop) {
    if (FTabStop != tabStop) {
        FTabStop = tabStop;
        if (FHandle) {
            LONG_PTR style = ::GetWindowLongPtrA(FHandle, GWL_STYLE);
            ::SetWindowLongPtrA(FHandle, GWL_STYLE, tabStop ? (style | WS_TABSTOP) : (style & ~WS_TABSTOP));
        }
    }
}

int TWinControl::TabOrder() const {
    if (!Parent()) {
        return -1;
    }
    const auto& list = Parent()->FTabList;
    return static_cast<int>(std::find(list.begin(), list.end(), this) - list.begin());
}

void TWinControl::SetTabOrder(int order) {
    if (!Parent()) {
        return;
    }
    auto& list = Parent()->FTabList;
    list.erase(std::find(list.begin(), list.end(), this));
    order = std::clamp(order, 0, static_cast<int>(list.size()));
    list.insert(list.begin() + order, this);
}

void TWinControl::AppendTabList(std::vector<TWinControl*>& list) const {
    for (TWinControl* control : FTabList) {
        list.push_back(control);
        control->AppendTabList(list);
    }
}

bool TWinControl::CanFocus() const noexcept {
    for (const TControl* control = this; control; control = control->Parent()) {
        if (!control->Visible()) {
            return false;
        }
    }
    return true;
}

void TWinControl::SetFocus() {
    ::SetFocus(Handle());
}

void TWinControl::SetBounds(int left, int top, int width, int height) {
    if (left == Left() && top == Top() && width == Width() && height == Height()) {
        return;
    }
    SetBoundsFields(left, top, width, height);
    if (FHandle) {
        // WM_SIZE realigns the children.
        ::SetWindowPos(FHandle, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    } else {
        AlignControls();
    }
}

void TWinControl::SetVisible(bool visible) {
    if (FVisible != visible) {
        FVisible = visible;
        if (FHandle) {
            ::ShowWindow(FHandle, visible ? SW_SHOW : SW_HIDE);
        }
    }
}

void TWinControl::Invalidate() {
    if (FHandle) {
        ::InvalidateRect(FHandle, nullptr, TRUE);
    }
}

void TWinControl::ChangeScale(int m, int d) {
    if (m == d) {
        return;
    }
    TControl::ChangeScale(m, d);
    for (TControl* control : FControls) {
        control->ChangeScale(m, d);
    }
}

void TWinControl::AlignControls() {
    RECT client = ClientRect();
    for (TControl* control : FControls) {
        if (control->Align() == alClient && control->Visible()) {
            control->SetBounds(client.left, client.top, client.right - client.left,
                               client.bottom - client.top);
        }
    }
}

void TWinControl::InsertControl(TControl* control) {
    FControls.push_back(control);
    control->FParent = this;
    if (auto* windowed = dynamic_cast<TWinControl*>(control)) {
        FTabList.push_back(windowed);
        if (FHandle) {
            windowed->Handle();
        }
    }
    if (control->Align() != alNone) {
        AlignControls();
    }
}

void TWinControl::RemoveControl(TControl* control) {
    FControls.erase(std::remove(FControls.begin(), FControls.end(), control), FControls.end());
    if (auto* windowed = dynamic_cast<TWinControl*>(control)) {
        FTabList.erase(std::remove(FTabList.begin(), FTabList.end(), windowed), FTabList.end());
        // A child window cannot outlive its parent's; a new parent makes a new one.
        windowed->DestroyHandle();
    }
    control->FParent = nullptr;
    ControlRemoved(control);
}

TWinControl* TWinControl::FromHandle(HWND window) noexcept {
    DWORD process = 0;
    if (!window || !::GetWindowThreadProcessId(window, &process) || process != ::GetCurrentProcessId()) {
        return nullptr;
    }
    if (::GetWindowLongPtrA(window, GWLP_WNDPROC) != reinterpret_cast<LONG_PTR>(&WindowProc)) {
        return nullptr;
    }
    return reinterpret_cast<TWinControl*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
}

} // namespace zal
