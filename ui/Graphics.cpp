#include "ui/Graphics.h"

#include "core/Scaling.h"

namespace zal {

COLORREF ColorToRGB(TColor color) {
    Rgb rgb = ColorToRgb(color, [](int index) { return static_cast<std::uint32_t>(::GetSysColor(index)); });
    return RGB(rgb.Red, rgb.Green, rgb.Blue);
}

int ScreenPixelsPerInch() {
    static const int pixelsPerInch = [] {
        WindowDC screen(nullptr);
        int value = screen.Get() ? ::GetDeviceCaps(screen.Get(), LOGPIXELSY) : 0;
        return value > 0 ? value : 96;
    }();
    return pixelsPerInch;
}

bool IsShiftJisSystem() {
    static const bool shiftJis = [] {
        CHARSETINFO info{};
        return ::TranslateCharsetInfo(reinterpret_cast<DWORD*>(static_cast<UINT_PTR>(::GetACP())), &info,
                                      TCI_SRCCODEPAGE) &&
               info.ciCharset == SHIFTJIS_CHARSET;
    }();
    return shiftJis;
}

TFont::TFont()
    : FName(IsShiftJisSystem() ? "MS PGothic" : "MS Sans Serif"),
      FHeight(DefaultFontHeight(ScreenPixelsPerInch(), IsShiftJisSystem())) {}

void TFont::SetName(std::string_view name) {
    if (FName != name) {
        FName = std::string(name);
        Changed();
    }
}

void TFont::SetHeight(int height) {
    if (FHeight != height) {
        FHeight = height;
        Changed();
    }
}

void TFont::SetStyle(TFontStyles style) {
    if (FStyle != style) {
        FStyle = style;
        Changed();
    }
}

void TFont::SetColor(TColor color) {
    if (FColor != color) {
        FColor = color;
        Changed();
    }
}

void TFont::SetCharset(BYTE charset) {
    if (FCharset != charset) {
        FCharset = charset;
        Changed();
    }
}

void TFont::Assign(const TFont& other) {
    if (SameAs(other)) {
        return;
    }
    FName = other.FName;
    FHeight = other.FHeight;
    FStyle = other.FStyle;
    FColor = other.FColor;
    FCharset = other.FCharset;
    Changed();
}

bool TFont::SameAs(const TFont& other) const noexcept {
    return FName == other.FName && FHeight == other.FHeight && FStyle == other.FStyle &&
           FColor == other.FColor && FCharset == other.FCharset;
}

HFONT TFont::Handle() {
    if (!FHandle) {
        LOGFONTA font{};
        font.lfHeight = FHeight;
        font.lfWeight = (FStyle & fsBold) ? FW_BOLD : FW_NORMAL;
        font.lfCharSet = FCharset;
        font.lfOutPrecision = OUT_DEFAULT_PRECIS;
        font.lfClipPrecision = CLIP_DEFAULT_PRECIS;
        font.lfQuality = DEFAULT_QUALITY;
        font.lfPitchAndFamily = DEFAULT_PITCH;
        FName.copy(font.lfFaceName, sizeof font.lfFaceName - 1);
        FHandle = OwnGdiObject(::CreateFontIndirectA(&font));
    }
    return FHandle.Get();
}

void TFont::Changed() {
    // The old font may still be selected in a DC or set on a window; it is deleted only after the listeners
    // have moved to the new one.
    UniqueFont previous = std::move(FHandle);
    if (OnChange) {
        OnChange();
    }
}

TCanvas::TCanvas(HDC dc) : FDC(dc) {
    FFont.OnChange = [this] { FontChanged(); };
}

void TCanvas::SetPenColor(TColor color) {
    if (FPenColor != color) {
        FPenColor = color;
        // Deselected before it goes; the new one is made on the next drawing.
        FPenSelected.reset();
        FPen.Reset();
    }
}

void TCanvas::SetBrushColor(TColor color) {
    if (FBrushColor != color) {
        FBrushColor = color;
        FBrushSelected.reset();
        FBrush.Reset();
    }
}

void TCanvas::RequirePen() {
    if (!FPen) {
        FPen = OwnGdiObject(::CreatePen(PS_SOLID, 1, ColorToRGB(FPenColor)));
        FPenSelected.emplace(FDC, FPen.Get());
    }
}

void TCanvas::RequireBrush() {
    if (!FBrush) {
        FBrush = OwnGdiObject(::CreateSolidBrush(ColorToRGB(FBrushColor)));
        FBrushSelected.emplace(FDC, FBrush.Get());
    }
}

void TCanvas::RequireFont() {
    HFONT font = FFont.Handle();
    if (font != FSelectedFont) {
        FFontSelected.reset();
        FFontSelected.emplace(FDC, font);
        FSelectedFont = font;
    }
}

void TCanvas::FontChanged() {
    FFontSelected.reset();
    FSelectedFont = nullptr;
}

void TCanvas::Rectangle(int left, int top, int right, int bottom) {
    RequirePen();
    RequireBrush();
    ::Rectangle(FDC, left, top, right, bottom);
}

void TCanvas::FillRect(const RECT& rect) {
    RequireBrush();
    ::FillRect(FDC, &rect, FBrush.Get());
}

int TCanvas::DrawText(std::string_view text, RECT& rect, UINT format) {
    RequireFont();
    ::SetTextColor(FDC, ColorToRGB(FFont.Color()));
    return ::DrawTextA(FDC, text.data(), static_cast<int>(text.size()), &rect, format);
}

} // namespace zal
