#include "ui/Control.h"

#include "core/Scaling.h"
#include "ui/WinControl.h"

#include <stdexcept>

namespace zal {

TControl::TControl(TComponent* owner) : TComponent(owner) {
    FFont.OnChange = [this] {
        if (!FTakingParentFont) {
            FParentFont = false;
        }
        FontChanged();
    };
}

TControl::~TControl() {
    SetParent(nullptr);
}

void TControl::SetParent(TWinControl* parent) {
    if (parent == FParent) {
        return;
    }
    if (parent && parent->IsWithin(this)) {
        throw std::logic_error("a control cannot be its own parent");
    }
    if (FParent) {
        Invalidate();
        FParent->RemoveControl(this);
    }
    if (parent) {
        parent->InsertControl(this);
        ParentFontChanged();
        Invalidate();
    }
}

void TControl::SetBoundsFields(int left, int top, int width, int height) noexcept {
    FLeft = left;
    FTop = top;
    FWidth = width;
    FHeight = height;
}

void TControl::SetBounds(int left, int top, int width, int height) {
    if (left == FLeft && top == FTop && width == FWidth && height == FHeight) {
        return;
    }
    // A graphic control's old and new areas both belong to the parent's face.
    Invalidate();
    SetBoundsFields(left, top, width, height);
    Invalidate();
}

void TControl::SetAlign(TAlign align) {
    if (FAlign != align) {
        FAlign = align;
        if (FParent) {
            FParent->AlignControls();
        }
    }
}

void TControl::SetParentFont(bool parentFont) {
    if (FParentFont != parentFont) {
        FParentFont = parentFont;
        ParentFontChanged();
    }
}

void TControl::ParentFontChanged() {
    if (FParentFont && FParent) {
        FTakingParentFont = true;
        FFont.Assign(FParent->Font());
        FTakingParentFont = false;
    }
}

void TControl::FontChanged() {
    Invalidate();
}

void TControl::SetColor(TColor color) {
    if (FColor != color) {
        FColor = color;
        Invalidate();
    }
}

void TControl::SetVisible(bool visible) {
    if (FVisible != visible) {
        // Invalidated while visible, so the parent repaints the area the control leaves.
        if (FVisible) {
            Invalidate();
        }
        FVisible = visible;
        Invalidate();
    }
}

void TControl::Invalidate() {
    if (FVisible && FParent && FParent->HandleAllocated()) {
        RECT area{FLeft, FTop, FLeft + FWidth, FTop + FHeight};
        ::InvalidateRect(FParent->Handle(), &area, TRUE);
    }
}

void TControl::ChangeScale(int m, int d) {
    if (m == d) {
        return;
    }
    TBounds scaled = ScaleBounds({FLeft, FTop, FWidth, FHeight}, m, d);
    SetBounds(scaled.Left, scaled.Top, scaled.Width, scaled.Height);
    if (!FParentFont) {
        FFont.SetHeight(ScaleFontHeight(FFont.Height(), m, d, ScreenPixelsPerInch()));
    }
}

bool TControl::IsWithin(const TControl* ancestor) const noexcept {
    for (const TControl* control = this; control; control = control->FParent) {
        if (control == ancestor) {
            return true;
        }
    }
    return false;
}

void TControl::Paint(TCanvas&) {}

void TControl::FillFace(TCanvas& canvas, const RECT& area) const {
    canvas.SetBrushColor(FColor);
    canvas.FillRect(area);
}

} // namespace zal
