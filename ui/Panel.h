#pragma once
// A container whose face is its Color. It has no bevel and no caption: the tool only shows panels whose
// subclass paints the whole face.
#include "ui/WinControl.h"

namespace zal {

class TPanel : public TWinControl {
public:
    // Color and SetColor come from TControl; a panel starts as clBtnFace.
    explicit TPanel(TComponent* owner);

protected:
    void Paint(TCanvas& canvas) override;
    const char* WindowClassName() const override { return "TPanel"; }
    void CreateParams(TCreateParams& params) override;
    // A subclass whose Paint covers every pixel answers true, so the window is not erased first and the
    // face does not flicker through the background colour.
    virtual bool PaintCoversClient() const { return false; }
    bool EraseBackground(HDC dc) override;
};

} // namespace zal
