#include "ui/Label.h"

namespace zal {

namespace {
// No DT_WORDBREAK: the caption stays one line however long it is.
constexpr UINT LabelFormat = DT_LEFT | DT_EXPANDTABS;
} // namespace

TLabel::TLabel(TComponent* owner) : TControl(owner) {
    SetBounds(0, 0, 65, 17);
}

void TLabel::SetCaption(std::string_view caption) {
    if (FCaption != caption) {
        FCaption = std::string(caption);
        AdjustBounds();
        Invalidate();
    }
}

void TLabel::SetTransparent(bool transparent) {
    if (FTransparent != transparent) {
        FTransparent = transparent;
        Invalidate();
    }
}

void TLabel::SetAutoSize(bool autoSize) {
    if (FAutoSize != autoSize) {
        FAutoSize = autoSize;
        AdjustBounds();
    }
}

void TLabel::FontChanged() {
    TControl::FontChanged();
    AdjustBounds();
}

void TLabel::AdjustBounds() {
    if (!FAutoSize) {
        return;
    }
    WindowDC screen(nullptr);
    SelectScope font(screen.Get(), Font().Handle());
    RECT rect{0, 0, 0, 0};
    ::DrawTextA(screen.Get(), FCaption.data(), static_cast<int>(FCaption.size()), &rect,
                LabelFormat | DT_CALCRECT);
    SetBounds(Left(), Top(), rect.right, rect.bottom);
}

void TLabel::Paint(TCanvas& canvas) {
    RECT rect{0, 0, Width(), Height()};
    if (!FTransparent) {
        FillFace(canvas, rect);
    }
    ::SetBkMode(canvas.Handle(), TRANSPARENT);
    canvas.DrawText(FCaption, rect, LabelFormat);
}

} // namespace zal
