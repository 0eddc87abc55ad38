#include "ui/Button.h"

namespace zal {

TButton::TButton(TComponent* owner) : TWinControl(owner) {
    SetTabStop(true);
    SetBounds(0, 0, 75, 25);
}

void TButton::Click() {
    if (OnClick) {
        OnClick(this);
    }
}

bool TButton::DefaultAction() {
    Click();
    return true;
}

void TButton::CreateParams(TCreateParams& params) {
    TWinControl::CreateParams(params);
    params.Style |= BS_PUSHBUTTON;
}

void TButton::HandleCreated() {
    ::SendMessageA(Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(Font().Handle()), FALSE);
}

void TButton::FontChanged() {
    TWinControl::FontChanged();
    if (HandleAllocated()) {
        ::SendMessageA(Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(Font().Handle()), TRUE);
    }
}

void TButton::SetDefaultLook(bool isDefault) {
    if (HandleAllocated()) {
        ::SendMessageA(Handle(), BM_SETSTYLE, isDefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
    }
}

void TButton::CommandNotify(WORD code) {
    if (code == BN_CLICKED) {
        Click();
    }
}

LRESULT TButton::WndProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
    case WM_PRINTCLIENT:
    case WM_ERASEBKGND:
        // The system class draws the button, themed or classic.
        return DefaultHandler(message, wParam, lParam);
    case WM_SETFOCUS: {
        LRESULT result = TWinControl::WndProc(message, wParam, lParam);
        SetDefaultLook(true);
        return result;
    }
    case WM_KILLFOCUS: {
        LRESULT result = TWinControl::WndProc(message, wParam, lParam);
        SetDefaultLook(false);
        return result;
    }
    }
    return TWinControl::WndProc(message, wParam, lParam);
}

} // namespace zal
