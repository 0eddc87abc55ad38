#include "controls/Shader.h"

#include "core/Gradient.h"

#include <array>
#include <optional>

namespace zal {

namespace {

struct TStylePreset {
    TColor From;
    TColor To;
    TColor FromMirror;
    TColor ToMirror;
};

// Indexed by style number; a style without colours leaves the panel's own.
constexpr std::array<std::optional<TStylePreset>, 10> StylePresets = {{
    TStylePreset{0xFDEADA, 0xE4AE88, clNone, clNone},
    TStylePreset{0xECE2E1, 0xB39698, clNone, clNone},
    TStylePreset{0xCFF0EA, 0x8CC0B1, clNone, clNone},
    TStylePreset{0xFFFFFF, 0xE3F0F2, clNone, clNone},
    TStylePreset{0xFAF1E9, 0xEDD8C7, 0xEDD8C7, 0xFFF2E7},
    TStylePreset{0xCFC6C1, 0xC5BBB4, 0xC5BBB4, 0xECECE5},
    TStylePreset{clBtnFace, clBtnFace, clNone, clNone},
    TStylePreset{0xFFFFFF, 0xE3F0F2, clNone, clNone},
    std::nullopt,
    TStylePreset{0xF9F5F3, 0xE7DCD5, 0xE7DCD5, 0xFBFAF0},
}};

template <typename T>
bool Change(T& field, T value) {
    if (field == value) {
        return false;
    }
    field = value;
    return true;
}

} // namespace

TShader::TShader(TComponent* owner) : TPanel(owner) {
    FSteps = 20;
    FDirection = false;
    FFromColor = clBlue;
    FToColor = clBlack;
    FFromColorMirror = clNone;
    FToColorMirror = clNone;
}

void TShader::SetFromColor(TColor color) {
    if (Change(FFromColor, color)) {
        Invalidate();
    }
}

void TShader::SetToColor(TColor color) {
    if (Change(FToColor, color)) {
        Invalidate();
    }
}

void TShader::SetFromColorMirror(TColor color) {
    if (Change(FFromColorMirror, color)) {
        Invalidate();
    }
}

void TShader::SetToColorMirror(TColor color) {
    if (Change(FToColorMirror, color)) {
        Invalidate();
    }
}

void TShader::SetSteps(std::uint16_t steps) {
    if (Change(FSteps, steps)) {
        Invalidate();
    }
}

void TShader::SetDirection(bool direction) {
    if (Change(FDirection, direction)) {
        Invalidate();
    }
}

std::uint32_t TShader::PackedVersion() const {
    return 0x01020101;
}

std::string TShader::Version() const {
    const std::uint32_t packed = PackedVersion();
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        if (!text.empty()) {
            text += '.';
        }
        text += std::to_string((packed >> shift) & 0xFF);
    }
    return text;
}

HRESULT STDMETHODCALLTYPE TShader::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr) {
        return E_POINTER;
    }
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IComponentStyle)) {
        *object = static_cast<IComponentStyle*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE TShader::AddRef() {
    return static_cast<ULONG>(-1);
}

ULONG STDMETHODCALLTYPE TShader::Release() {
    return static_cast<ULONG>(-1);
}

void STDMETHODCALLTYPE TShader::ApplyStyle(BYTE style) {
    if (style < StylePresets.size() && StylePresets[style]) {
        const TStylePreset& preset = *StylePresets[style];
        SetFromColor(preset.From);
        SetToColor(preset.To);
        SetFromColorMirror(preset.FromMirror);
        SetToColorMirror(preset.ToMirror);
    }
    // Children may take their look from the style too, so they repaint whatever the number.
    for (int i = 0; i < ControlCount(); ++i) {
        Controls(i)->Invalidate();
    }
}

void TShader::Paint(TCanvas& canvas) {
    const RECT client = ClientRect();
    const auto sysColor = [](int index) {
        return static_cast<std::uint32_t>(ColorToRGB(SystemColor(index)));
    };
    const auto axis = FDirection ? GradientAxis::Horizontal : GradientAxis::Vertical;
    const auto bands = MirrorGradient({client.left, client.top, client.right, client.bottom}, FFromColor,
                                      FToColor, FFromColorMirror, FToColorMirror, axis, sysColor);
    for (const GradientBand& band : bands) {
        canvas.SetPenColor(band.Color);
        canvas.SetBrushColor(canvas.PenColor());
        const BandRect& r = band.Bounds;
        if (r.Right - r.Left == 1 && r.Bottom - r.Top == 1) {
            // The outline of a 1 x 1 rectangle is its one pixel, but some GDIs (Wine's) draw nothing for it;
            // the brush has the same colour and fills it on every system.
            canvas.FillRect({r.Left, r.Top, r.Right, r.Bottom});
        } else {
            canvas.Rectangle(r.Left, r.Top, r.Right, r.Bottom);
        }
    }
}

bool TShader::PaintCoversClient() const {
    return FFromColor != clNone;
}

} // namespace zal
