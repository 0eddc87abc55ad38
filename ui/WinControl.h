#pragma once
// A control with a window of its own. The window is made on first use of Handle(), under a window class
// registered once per class name; the window procedure finds its object through GWLP_USERDATA and lets no
// exception out: what escapes a handler goes to the application's error box.
#include "ui/Control.h"

#include <windows.h>

#include <vector>

namespace zal {

// What CreateWindowExA and the class registration get; a subclass adjusts the defaults in CreateParams.
struct TCreateParams {
    DWORD Style = 0;
    DWORD ExStyle = 0;
    int X = 0;
    int Y = 0;
    int Width = 0;
    int Height = 0;
    HWND WndParent = nullptr;
    UINT ClassStyle = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
    const char* Cursor = IDC_ARROW;
    HBRUSH Background = nullptr;
};

class TWinControl : public TControl {
public:
    explicit TWinControl(TComponent* owner);
    ~TWinControl() override;

    int ControlCount() const noexcept { return static_cast<int>(FControls.size()); }
    TControl* Controls(int index) const { return FControls.at(static_cast<size_t>(index)); }

    // {0, 0, Width, Height}: these controls have no border. Forms answer with their real client area.
    virtual RECT ClientRect() const;

    HWND Handle();
    bool HandleAllocated() const noexcept { return FHandle != nullptr; }
    // Destroys the window (and with it the windows of the children); the objects stay.
    void DestroyHandle();

    // Paints the face and the visible graphic children into any DC, at its origin.
    void PaintTo(HDC dc);

    const std::string& Caption() const noexcept { return FCaption; }
    void SetCaption(std::string_view caption);

    bool TabStop() const noexcept { return FTabStop; }
    void SetTabStop(bool tabStop);
    // Position among the parent's windowed children when Tab moves the focus.
    int TabOrder() const;
    void SetTabOrder(int order);

    bool CanFocus() const noexcept;
    void SetFocus();
    // What Enter does to this control while it has the focus; false when Enter means nothing to it.
    virtual bool DefaultAction() { return false; }

    void SetBounds(int left, int top, int width, int height) override;
    void SetVisible(bool visible) override;
    void Invalidate() override;
    void ChangeScale(int m, int d) override;

    // The object behind a window of this layer, or null for any other window.
    static TWinControl* FromHandle(HWND window) noexcept;

protected:
    // The window class is registered under this name.
    virtual const char* WindowClassName() const;
    // A system class to superclass ("BUTTON"), or null for a window that draws itself.
    virtual const char* BaseClassName() const { return nullptr; }
    virtual void CreateParams(TCreateParams& params);
    // Runs once the window and the windows of the children exist.
    virtual void HandleCreated() {}

    void Paint(TCanvas& canvas) override;
    // Children that take the parent's font follow it.
    void FontChanged() override;
    // Fills the background on WM_ERASEBKGND; false leaves it to the class's default handling.
    virtual bool EraseBackground(HDC dc);

    // The message switch; anything it does not handle goes to DefaultHandler.
    virtual LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT DefaultHandler(UINT message, WPARAM wParam, LPARAM lParam);

    // A WM_COMMAND notification that a child window sent about itself, passed on to that child's object.
    virtual void CommandNotify(WORD code);
    // Told, up the parent chain, that control took the focus or is leaving this part of the tree.
    virtual void FocusChanged(TWinControl* control);
    virtual void ControlRemoved(TControl* control);

    // The windowed children of this control and of theirs, depth first, each in tab order.
    void AppendTabList(std::vector<TWinControl*>& list) const;
    void AlignControls();

private:
    friend class TControl;
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    WNDPROC RegisterWindowClass(const TCreateParams& params);
    void CreateHandle();
    void InsertControl(TControl* control);
    void RemoveControl(TControl* control);
    void UpdateBoundsFromWindow();
    void ReleaseFocus();

    LRESULT WMPaint();
    LRESULT WMSize(WPARAM wParam, LPARAM lParam);
    LRESULT WMCommand(WPARAM wParam, LPARAM lParam);

    HWND FHandle = nullptr;
    WNDPROC FDefWndProc = nullptr;
    std::vector<TControl*> FControls;
    std::vector<TWinControl*> FTabList;
    std::string FCaption;
    bool FTabStop = false;
};

} // namespace zal
