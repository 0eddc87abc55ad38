#pragma once
// A top-level window owned by the application window: border style, position, the show step, the close
// operation with OnClose, the focus on activation, the dialog keys Tab, Enter and Escape, and the scaling of
// a layout made at another resolution.
#include "ui/WinControl.h"

#include <functional>

namespace zal {

enum TFormBorderStyle { bsSizeable, bsToolWindow };
enum TPosition { poDesigned, poScreenCenter };
enum TWindowState { wsNormal, wsMinimized, wsMaximized };
enum TCloseAction { caNone, caHide };

using TCloseEvent = std::function<void(TComponent* sender, TCloseAction& action)>;

class TForm : public TWinControl {
public:
    explicit TForm(TComponent* owner);
    ~TForm() override;

    // Read when the window is made; set it before the first use of Handle().
    void SetBorderStyle(TFormBorderStyle style);
    TPosition Position() const noexcept { return FPosition; }
    void SetPosition(TPosition position) { FPosition = position; }
    TWindowState WindowState() const noexcept { return FWindowState; }
    void SetWindowState(TWindowState state);

    // The client area; the outer size follows from the frame of the border style.
    int ClientWidth() const noexcept { return FClientWidth; }
    int ClientHeight() const noexcept { return FClientHeight; }
    void SetClientSize(int width, int height);
    RECT ClientRect() const override;

    void Show() { SetVisible(true); }
    void Hide() { SetVisible(false); }
    void SetVisible(bool visible) override;

    // Close query, then OnClose with the action arriving as caHide; a close that OnClose does not refuse
    // (caNone) terminates the application for the main form and hides any other.
    void Close();
    virtual bool CloseQuery() { return true; }
    TCloseEvent OnClose;

    // The control that has, or last had, the focus inside this form.
    TWinControl* ActiveControl() const noexcept { return FActiveControl; }
    // Moves the focus to the next (or previous) tab stop after current; wraps, and stays when it is the only
    // one.
    void SelectNext(TWinControl* current, bool forward);

    // Handles a key message aimed at focused, a control of this form, as a dialog key; true when consumed.
    bool DialogKey(TWinControl* focused, const MSG& message);

    // Fits a layout made at layoutPixelsPerInch, whose window font then measured layoutTextHeight pixels for
    // "0", to the screen. Call it once the layout's font, bounds and children are set.
    void ScaleLayout(int layoutPixelsPerInch, int layoutTextHeight);
    // Height in pixels of "0" in the window font, measured in the window's DC.
    int TextHeight();

    void ChangeScale(int m, int d) override;

protected:
    const char* WindowClassName() const override { return "TForm"; }
    void CreateParams(TCreateParams& params) override;
    void HandleCreated() override;
    bool EraseBackground(HDC dc) override;
    LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam) override;
    void FocusChanged(TWinControl* control) override;
    void ControlRemoved(TControl* control) override;

private:
    void ShowStep();
    LRESULT WMActivate(WPARAM wParam, LPARAM lParam);
    bool WMSetFocus();
    void WMSize(WPARAM kind, LPARAM size);
    void FocusActiveOrFirst();

    TFormBorderStyle FBorderStyle = bsSizeable;
    TPosition FPosition = poDesigned;
    TWindowState FWindowState = wsNormal;
    int FClientWidth = 0;
    int FClientHeight = 0;
    TWinControl* FActiveControl = nullptr;
};

} // namespace zal
