#pragma once
// A control: bounds in its parent's client coordinates, a parent, a font of its own or the parent's, a
// colour, visibility and invalidation, and the scaling of bounds and font. A control without a window of its
// own (a graphic control) is painted by its parent, after the parent's face.
#include "core/Colors.h"
#include "ui/Component.h"
#include "ui/Graphics.h"

#include <functional>

namespace zal {

class TWinControl;

using TNotifyEvent = std::function<void(TComponent* sender)>;

enum TAlign { alNone, alClient };

class TControl : public TComponent {
public:
    explicit TControl(TComponent* owner);
    ~TControl() override;

    TWinControl* Parent() const noexcept { return FParent; }
    virtual void SetParent(TWinControl* parent);

    int Left() const noexcept { return FLeft; }
    int Top() const noexcept { return FTop; }
    int Width() const noexcept { return FWidth; }
    int Height() const noexcept { return FHeight; }
    virtual void SetBounds(int left, int top, int width, int height);

    TAlign Align() const noexcept { return FAlign; }
    void SetAlign(TAlign align);

    // Changing any font value makes the font the control's own (ParentFont false).
    TFont& Font() noexcept { return FFont; }
    bool ParentFont() const noexcept { return FParentFont; }
    void SetParentFont(bool parentFont);

    TColor Color() const noexcept { return FColor; }
    void SetColor(TColor color);

    bool Visible() const noexcept { return FVisible; }
    virtual void SetVisible(bool visible);

    // Asks for a repaint of the control's area; nothing happens before there is a window to paint.
    virtual void Invalidate();

    // Scales bounds (and the font, when it is the control's own) by m/d; windowed controls scale their
    // children too.
    virtual void ChangeScale(int m, int d);

    // True when ancestor is this control or one of its parents, grandparents and so on.
    bool IsWithin(const TControl* ancestor) const noexcept;

protected:
    // Graphic controls draw themselves here, in their own coordinates (0,0 is their top-left corner).
    virtual void Paint(TCanvas& canvas);
    // Fills area with the control's Color: its plain face.
    void FillFace(TCanvas& canvas, const RECT& area) const;
    virtual void FontChanged();
    // Sets the fields only; windowed controls move their window in SetBounds and call this on
    // WM_SIZE/WM_MOVE.
    void SetBoundsFields(int left, int top, int width, int height) noexcept;

    bool FVisible = true;

private:
    friend class TWinControl;
    void ParentFontChanged();

    TWinControl* FParent = nullptr;
    int FLeft = 0;
    int FTop = 0;
    int FWidth = 0;
    int FHeight = 0;
    TAlign FAlign = alNone;
    TFont FFont;
    bool FParentFont = true;
    bool FTakingParentFont = false;
    TColor FColor = clBtnFace;
};

} // namespace zal
