#pragma once
// Fonts, colours and a canvas over GDI. A TCanvas draws on a DC it does not own; it selects into it only the
// pen, brush and font it owns, and puts the DC's own objects back before it lets go of them.
#include "core/Colors.h"
#include "base/Handles.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace zal {

// The RGB value of a colour now: system colours are looked up, clNone reads as white.
COLORREF ColorToRGB(TColor color);

// The screen's logical resolution (LOGPIXELSY), read once.
int ScreenPixelsPerInch();

// True when the system's default character set is Shift-JIS, where the default window font differs.
bool IsShiftJisSystem();

using TFontStyles = unsigned;
inline constexpr TFontStyles fsBold = 1;

// A logical font described by its values; the HFONT is made on first use and remade after a change.
class TFont {
public:
    // The default font every new window starts with ("MS Sans Serif", 8 points, regular, clWindowText).
    TFont();
    TFont(const TFont&) = delete;
    TFont& operator=(const TFont&) = delete;

    const std::string& Name() const noexcept { return FName; }
    void SetName(std::string_view name);
    // Negative: the character height in pixels; positive: the cell height.
    int Height() const noexcept { return FHeight; }
    void SetHeight(int height);
    TFontStyles Style() const noexcept { return FStyle; }
    void SetStyle(TFontStyles style);
    TColor Color() const noexcept { return FColor; }
    void SetColor(TColor color);
    BYTE Charset() const noexcept { return FCharset; }
    void SetCharset(BYTE charset);

    // Takes every value of other, with one change notification when anything differed.
    void Assign(const TFont& other);
    bool SameAs(const TFont& other) const noexcept;

    HFONT Handle();

    // Runs after a value changed, while the previous HFONT still exists, so a listener can select or send
    // the new one before the old one is deleted.
    std::function<void()> OnChange;

private:
    void Changed();

    std::string FName;
    int FHeight;
    TFontStyles FStyle = 0;
    TColor FColor = clWindowText;
    BYTE FCharset = DEFAULT_CHARSET;
    UniqueFont FHandle;
};

class TCanvas {
public:
    explicit TCanvas(HDC dc);
    TCanvas(const TCanvas&) = delete;
    TCanvas& operator=(const TCanvas&) = delete;

    HDC Handle() const noexcept { return FDC; }

    void SetPenColor(TColor color);
    TColor PenColor() const noexcept { return FPenColor; }
    void SetBrushColor(TColor color);
    TFont& Font() noexcept { return FFont; }

    // Outline with a 1-pixel pen, interior with the brush; right and bottom exclusive, as GDI's Rectangle.
    void Rectangle(int left, int top, int right, int bottom);
    // The brush only, no outline.
    void FillRect(const RECT& rect);
    // DrawTextA in the canvas font and the font's colour; the DC's background mode is the caller's.
    int DrawText(std::string_view text, RECT& rect, UINT format);

private:
    void RequirePen();
    void RequireBrush();
    void RequireFont();
    void FontChanged();

    HDC FDC;
    TColor FPenColor = clBlack;
    TColor FBrushColor = clWhite;
    TFont FFont;
    UniquePen FPen;
    UniqueBrush FBrush;
    HFONT FSelectedFont = nullptr;
    // Declared after what they select, so the DC has its own objects back before those are deleted.
    std::optional<SelectScope> FPenSelected;
    std::optional<SelectScope> FBrushSelected;
    std::optional<SelectScope> FFontSelected;
};

} // namespace zal
