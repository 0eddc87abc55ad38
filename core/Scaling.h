#pragma once
// The arithmetic that fits a layout made at one screen resolution to another. Portable: it takes the measured
// values (pixels per inch, text height) as arguments and asks the system for nothing.
namespace zal {

// number * numerator / denominator computed exactly and rounded to the nearest integer, halves away from
// zero, as the system's MulDiv does; -1 when the denominator is 0 or the result does not fit in an int.
int MulDiv(int number, int numerator, int denominator) noexcept;

struct TBounds {
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
    friend constexpr bool operator==(const TBounds&, const TBounds&) = default;
};

// Scales by m/d so that both edges land where MulDiv puts them: the far edge is scaled, not the extent, so
// neighbouring controls that touched still touch.
TBounds ScaleBounds(const TBounds& bounds, int m, int d) noexcept;

// Scales a font height through its point size at pixelsPerInch, so the result is a whole number of points.
int ScaleFontHeight(int height, int m, int d, int pixelsPerInch) noexcept;

// Height of the font every new window starts with: 8 points, or 9 points on a Shift-JIS system.
int DefaultFontHeight(int pixelsPerInch, bool shiftJis) noexcept;

// The window font's height once the layout has been read. The layout's height is scaled to the screen only
// when the layout's font differs from the default font (otherwise reading it left the default in place);
// sameFaceAndStyle tells whether everything but the height matches the default.
int LayoutFontHeight(int layoutHeight, int layoutPixelsPerInch, int screenPixelsPerInch,
                     bool sameFaceAndStyle, bool shiftJis) noexcept;

// Where a window of windowExtent starts when centred on screenExtent: the difference halved, truncated toward
// zero, and never negative, so a window larger than the screen keeps its caption on it.
int CenteredOrigin(int screenExtent, int windowExtent) noexcept;

} // namespace zal
