#include "ui/Form.h"

#include "ui/Application.h"
#include "ui/Monitor.h"
#include "core/Scaling.h"

#include <stdexcept>

namespace zal {

namespace {

int ShowCommandFor(TWindowState state) {
    switch (state) {
    case wsMinimized:
        return SW_SHOWMINNOACTIVE;
    case wsMaximized:
        return SW_SHOWMAXIMIZED;
    case wsNormal:
        break;
    }
    return SW_SHOWNORMAL;
}

bool KeyDown(int key) {
    return ::GetKeyState(key) < 0;
}

} // namespace

TForm::TForm(TComponent* owner) : TWinControl(owner) {
    FVisible = false;
    SetBounds(0, 0, 320, 240);
    SetClientSize(312, 213);
    if (Application) {
        Application->AddForm(this);
    }
}

TForm::~TForm() {
    // While the whole object still exists, so the last messages of the window and its children find it.
    DestroyHandle();
    if (Application) {
        Application->RemoveForm(this);
    }
}

void TForm::SetBorderStyle(TFormBorderStyle style) {
    if (HandleAllocated()) {
        throw std::logic_error("the border style is fixed once the window exists");
    }
    FBorderStyle = style;
    SetClientSize(FClientWidth, FClientHeight);
}

void TForm::CreateParams(TCreateParams& params) {
    params.Style = WS_CAPTION | WS_SYSMENU | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
    params.ExStyle = 0;
    if (FBorderStyle == bsToolWindow) {
        params.ExStyle = WS_EX_TOOLWINDOW;
    } else {
        params.Style |= WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
    }
    params.X = Left();
    params.Y = Top();
    params.Width = Width();
    params.Height = Height();
    params.WndParent = Application ? Application->Handle() : nullptr;
    params.ClassStyle = CS_DBLCLKS;
}

void TForm::HandleCreated() {
    HICON icon = Application ? Application->Icon() : nullptr;
    if (icon && LOBYTE(LOWORD(::GetVersion())) >= 4) {
        ::SendMessageA(Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    }
}

void TForm::SetClientSize(int width, int height) {
    FClientWidth = width;
    FClientHeight = height;
    RECT outer{0, 0, width, height};
    if (HandleAllocated() && !::IsIconic(Handle())) {
        // The frame the system actually drew, which is what the client area is measured against.
        RECT window;
        RECT client;
        ::GetWindowRect(Handle(), &window);
        ::GetClientRect(Handle(), &client);
        outer.right += (window.right - window.left) - client.right;
        outer.bottom += (window.bottom - window.top) - client.bottom;
    } else {
        TCreateParams params;
        CreateParams(params);
        ::AdjustWindowRectEx(&outer, params.Style, FALSE, params.ExStyle);
    }
    SetBounds(Left(), Top(), outer.right - outer.left, outer.bottom - outer.top);
}

RECT TForm::ClientRect() const {
    return RECT{0, 0, FClientWidth, FClientHeight};
}

void TForm::SetWindowState(TWindowState state) {
    if (FWindowState != state) {
        FWindowState = state;
        if (FVisible && HandleAllocated()) {
            ::ShowWindow(Handle(), ShowCommandFor(state));
        }
    }
}

void TForm::SetVisible(bool visible) {
    if (visible == FVisible) {
        return;
    }
    if (visible) {
        ShowStep();
        return;
    }
    FVisible = false;
    if (HandleAllocated()) {
        ::ShowWindow(Handle(), SW_HIDE);
    }
    if (Application) {
        Application->UpdateVisible();
    }
}

void TForm::ShowStep() {
    HWND window = Handle();
    FVisible = true;
    if (Application) {
        Application->UpdateVisible();
    }
    if (FPosition == poScreenCenter) {
        int x = CenteredOrigin(::GetSystemMetrics(SM_CXSCREEN), Width());
        int y = CenteredOrigin(::GetSystemMetrics(SM_CYSCREEN), Height());
        SetBounds(x, y, Width(), Height());
        // A tool that was already active on another monitor keeps its windows there.
        TForm* active = Application ? Application->LastActiveForm() : nullptr;
        if (active && active != this && active->HandleAllocated()) {
            RECT theirs = MonitorAreaOf(active->Handle());
            RECT ours = MonitorAreaOf(window);
            if (!::EqualRect(&theirs, &ours)) {
                POINT origin = CentredIn(theirs, Width(), Height());
                SetBounds(origin.x, origin.y, Width(), Height());
            }
        }
        FPosition = poDesigned;
    }
    ::ShowWindow(window, ShowCommandFor(FWindowState));
}

void TForm::Close() {
    if (!CloseQuery()) {
        return;
    }
    TCloseAction action = caHide;
    if (OnClose) {
        OnClose(this, action);
    }
    if (action == caNone) {
        return;
    }
    if (Application && Application->MainForm() == this) {
        Application->Terminate();
    } else {
        Hide();
    }
}

LRESULT TForm::WndProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CLOSE:
        Close();
        return 0;
    case WM_QUERYENDSESSION:
        return CloseQuery() ? TRUE : FALSE;
    case WM_ACTIVATE:
        return WMActivate(wParam, lParam);
    case WM_SETFOCUS:
        if (WMSetFocus()) {
            return 0;
        }
        break;
    case WM_SIZE:
        WMSize(wParam, lParam);
        break;
    }
    return TWinControl::WndProc(message, wParam, lParam);
}

// The form itself takes the focus only to hand it on to the control that last had it. True when it did.
bool TForm::WMSetFocus() {
    if (FActiveControl && FActiveControl->CanFocus()) {
        FActiveControl->SetFocus();
        return true;
    }
    return false;
}

// The state follows what the user or the system did to the window; a minimised window keeps the client
// size it will have again.
void TForm::WMSize(WPARAM kind, LPARAM size) {
    if (FVisible) {
        FWindowState = kind == SIZE_MINIMIZED ? wsMinimized : kind == SIZE_MAXIMIZED ? wsMaximized : wsNormal;
    }
    if (kind != SIZE_MINIMIZED) {
        FClientWidth = LOWORD(size);
        FClientHeight = HIWORD(size);
    }
}

LRESULT TForm::WMActivate(WPARAM wParam, LPARAM lParam) {
    if (LOWORD(wParam) == WA_INACTIVE) {
        return DefaultHandler(WM_ACTIVATE, wParam, lParam);
    }
    if (Application) {
        Application->FormActivated(this);
    }
    if (HIWORD(wParam) == 0) {
        FocusActiveOrFirst();
    }
    return 0;
}

void TForm::FocusActiveOrFirst() {
    if (FActiveControl && FActiveControl->CanFocus()) {
        FActiveControl->SetFocus();
        return;
    }
    SelectNext(nullptr, true);
    if (!FActiveControl) {
        ::SetFocus(Handle());
    }
}

void TForm::FocusChanged(TWinControl* control) {
    if (control != this) {
        FActiveControl = control;
    }
}

void TForm::ControlRemoved(TControl* control) {
    if (FActiveControl && FActiveControl->IsWithin(control)) {
        FActiveControl = nullptr;
    }
}

void TForm::SelectNext(TWinControl* current, bool forward) {
    std::vector<TWinControl*> list;
    AppendTabList(list);
    size_t count = list.size();
    if (count == 0) {
        return;
    }
    size_t start = forward ? count - 1 : 0;
    for (size_t i = 0; i < count; ++i) {
        if (list[i] == current) {
            start = i;
        }
    }
    for (size_t step = 1; step <= count; ++step) {
        TWinControl* candidate = list[forward ? (start + step) % count : (start + count - step) % count];
        if (candidate->TabStop() && candidate->CanFocus()) {
            candidate->SetFocus();
            return;
        }
    }
}

bool TForm::DialogKey(TWinControl* focused, const MSG& message) {
    if (message.message != WM_KEYDOWN || !focused) {
        return false;
    }
    UINT key = static_cast<UINT>(message.wParam);
    LRESULT wanted = key == VK_TAB                            ? DLGC_WANTTAB
                     : (key == VK_RETURN || key == VK_ESCAPE) ? DLGC_WANTALLKEYS
                                                              : 0;
    if (wanted == 0 ||
        (::SendMessageA(message.hwnd, WM_GETDLGCODE, key, reinterpret_cast<LPARAM>(&message)) & wanted)) {
        return false;
    }
    bool shift = KeyDown(VK_SHIFT);
    bool control = KeyDown(VK_CONTROL);
    bool alt = (message.lParam & (1 << 29)) != 0 || KeyDown(VK_MENU);
    switch (key) {
    case VK_TAB:
        if (control || alt) {
            return false;
        }
        SelectNext(focused, !shift);
        return true;
    case VK_RETURN:
        if (shift || control || alt) {
            return false;
        }
        return focused->CanFocus() && focused->DefaultAction();
    default:
        // Escape would press a cancel button; no form of this tool has one.
        return false;
    }
}

int TForm::TextHeight() {
    WindowDC dc(Handle());
    SelectScope font(dc.Get(), Font().Handle());
    SIZE size{};
    ::GetTextExtentPoint32A(dc.Get(), "0", 1, &size);
    return size.cy;
}

void TForm::ScaleLayout(int layoutPixelsPerInch, int layoutTextHeight) {
    TFont defaults;
    bool sameFaceAndStyle = Font().Name() == defaults.Name() && Font().Charset() == defaults.Charset() &&
                            Font().Style() == defaults.Style() && Font().Color() == defaults.Color();
    Font().SetHeight(LayoutFontHeight(Font().Height(), layoutPixelsPerInch, ScreenPixelsPerInch(),
                                      sameFaceAndStyle, IsShiftJisSystem()));
    int textHeight = TextHeight();
    if (textHeight != layoutTextHeight) {
        ChangeScale(textHeight, layoutTextHeight);
    }
}

void TForm::ChangeScale(int m, int d) {
    if (m == d) {
        return;
    }
    // The window font was fitted when the layout was read; only the children and the client area scale.
    for (int i = 0; i < ControlCount(); ++i) {
        Controls(i)->ChangeScale(m, d);
    }
    SetClientSize(MulDiv(FClientWidth, m, d), MulDiv(FClientHeight, m, d));
}

bool TForm::EraseBackground(HDC dc) {
    TCanvas canvas(dc);
    FillFace(canvas, ClientRect());
    return true;
}

} // namespace zal
