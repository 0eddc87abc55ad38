#include "ui/Panel.h"

namespace zal {

TPanel::TPanel(TComponent* owner) : TWinControl(owner) {
    SetBounds(0, 0, 185, 41);
}

void TPanel::CreateParams(TCreateParams& params) {
    TWinControl::CreateParams(params);
    // Children paint themselves; the panel's face must not be drawn over them.
    params.Style |= WS_CLIPCHILDREN;
}

void TPanel::Paint(TCanvas& canvas) {
    FillFace(canvas, ClientRect());
}

bool TPanel::EraseBackground(HDC dc) {
    if (!PaintCoversClient()) {
        TCanvas canvas(dc);
        FillFace(canvas, ClientRect());
    }
    return true;
}

} // namespace zal
