#pragma once
// The gradient panel's picture as data: the bands MirrorGradient and GradientBands draw, each a colour and a
// rectangle, in drawing order (a later band covers an earlier one where they overlap). Portable, so the
// Windows paint and the tests share one model.
#include "core/Colors.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace zal {

// Right and bottom are exclusive, as in a Windows RECT.
struct BandRect {
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
    friend constexpr bool operator==(const BandRect&, const BandRect&) = default;
};

struct GradientBand {
    TColor Color = clBlack; // always a plain RGB colour, 0x00BBGGRR
    BandRect Bounds;
};

// Vertical: the colour changes from top to bottom (Direction False); Horizontal: from left to right.
enum class GradientAxis { Vertical, Horizontal };

// Gives the current 0x00BBGGRR value of a system colour index.
using SysColorLookup = std::function<std::uint32_t(int index)>;

inline constexpr int GradientBandCount = 128;

// Round to nearest, ties to even, whatever the floating-point environment holds.
double RoundHalfEven(double value) noexcept;

// Always GradientBandCount bands from c1 towards c2 over bounds along axis; system colours are resolved
// through sysColor, clNone reads as white. The band offset is held in 16 bits; it would only wrap for an
// extent above 66051 pixels, and the system keeps a window within 32767.
std::vector<GradientBand> GradientBands(TColor c1, TColor c2, const BandRect& bounds, GradientAxis axis,
                                        const SysColorLookup& sysColor);

// Nothing when from is clNone; one gradient when fromMirror is clNone; otherwise from..to on the first half
// of bounds and fromMirror..toMirror on the second (one pixel longer for an odd extent).
std::vector<GradientBand> MirrorGradient(const BandRect& bounds, TColor from, TColor to, TColor fromMirror,
                                         TColor toMirror, GradientAxis axis, const SysColorLookup& sysColor);

} // namespace zal
