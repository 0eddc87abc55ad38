#pragma once
// TShader: a panel that paints its client area with one gradient, or two along the same axis, in 128 bands
// (controls/Gradient.h), and takes colour presets by style number through IComponentStyle. Its children
// are drawn over the gradient. The interface does not count references: the owner frees the panel.
#include "controls/ComponentStyle.h"
#include "ui/Panel.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace zal {

class TShader : public TPanel, public IComponentStyle {
public:
    explicit TShader(TComponent* owner);

    // Each setter repaints only when the value changes.
    TColor FromColor() const noexcept { return FFromColor; }
    void SetFromColor(TColor color);
    TColor ToColor() const noexcept { return FToColor; }
    void SetToColor(TColor color);
    // clNone: a single gradient.
    TColor FromColorMirror() const noexcept { return FFromColorMirror; }
    void SetFromColorMirror(TColor color);
    TColor ToColorMirror() const noexcept { return FToColorMirror; }
    void SetToColorMirror(TColor color);
    // Kept for the layout; the picture always has 128 bands.
    std::uint16_t Steps() const noexcept { return FSteps; }
    void SetSteps(std::uint16_t steps);
    // False: the colour changes from top to bottom; true: from left to right.
    bool Direction() const noexcept { return FDirection; }
    void SetDirection(bool direction);

    // "major.minor.release.build" from PackedVersion; a written text is ignored.
    std::string Version() const;
    void SetVersion(std::string_view) noexcept {}
    // Major, minor, release and build, one byte each from the top.
    virtual std::uint32_t PackedVersion() const;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // Applies the colours of a preset (styles 8 and above 9 have none), then invalidates every child.
    void STDMETHODCALLTYPE ApplyStyle(BYTE style) override;

protected:
    void Paint(TCanvas& canvas) override;
    const char* WindowClassName() const override { return "TShader"; }
    bool PaintCoversClient() const override;

private:
    TColor FFromColor;
    TColor FToColor;
    TColor FFromColorMirror;
    TColor FToColorMirror;
    std::uint16_t FSteps;
    bool FDirection;
};

} // namespace zal
