#pragma once
// A push button: a superclass of the system's BUTTON, so it draws and behaves as the system's own (Space
// clicks it). While it has the focus it shows as the default button, and the form's Enter key clicks it.
#include "ui/WinControl.h"

namespace zal {

class TButton : public TWinControl {
public:
    explicit TButton(TComponent* owner);

    TNotifyEvent OnClick;
    virtual void Click();
    // Enter clicks the focused button.
    bool DefaultAction() override;

protected:
    const char* WindowClassName() const override { return "TButton"; }
    const char* BaseClassName() const override { return "BUTTON"; }
    void CreateParams(TCreateParams& params) override;
    void HandleCreated() override;
    void FontChanged() override;
    LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    void CommandNotify(WORD code) override;

private:
    void SetDefaultLook(bool isDefault);
};

} // namespace zal
