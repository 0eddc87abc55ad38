#include "core/Gradient.h"

#include <algorithm>
#include <cmath>

namespace zal {

double RoundHalfEven(double value) noexcept {
    const double floor = std::floor(value);
    const double fraction = value - floor;
    if (fraction < 0.5) {
        return floor;
    }
    if (fraction > 0.5) {
        return floor + 1;
    }
    return std::fmod(floor, 2.0) == 0 ? floor : floor + 1;
}

namespace {

int RoundToInt(double value) noexcept {
    return static_cast<int>(RoundHalfEven(value));
}

} // namespace

std::vector<GradientBand> GradientBands(TColor c1, TColor c2, const BandRect& bounds, GradientAxis axis,
                                        const SysColorLookup& sysColor) {
    const bool horizontal = axis == GradientAxis::Horizontal;
    const int start = horizontal ? bounds.Left : bounds.Top;
    const int end = horizontal ? bounds.Right : bounds.Bottom;
    std::vector<GradientBand> bands;
    // A client rectangle is never inverted; an inverted one would only give bands outside itself.
    if (end < start) {
        return bands;
    }

    const Rgb from = ColorToRgb(c1, sysColor);
    const Rgb to = ColorToRgb(c2, sysColor);
    constexpr double count = GradientBandCount;
    const double dr = (to.Red - from.Red) / count;
    const double dg = (to.Green - from.Green) / count;
    const double db = (to.Blue - from.Blue) / count;
    const double s = (static_cast<double>(end) - start) / count;
    const long long length = static_cast<long long>(std::trunc(s)) + 1;

    bands.reserve(GradientBandCount);
    for (int i = 0; i < GradientBandCount; ++i) {
        // |Round(i * d)| never exceeds |to - from|, so every channel stays within 0..255.
        const Rgb color{static_cast<std::uint8_t>(from.Red + RoundToInt(i * dr)),
                        static_cast<std::uint8_t>(from.Green + RoundToInt(i * dg)),
                        static_cast<std::uint8_t>(from.Blue + RoundToInt(i * db))};
        const auto off = static_cast<std::uint16_t>(static_cast<long long>(RoundHalfEven(i * s)));
        const int bandStart = start + off;
        const int bandEnd =
            static_cast<int>(std::min<long long>(static_cast<long long>(bandStart) + length, end));
        GradientBand band{static_cast<TColor>(PackRgb(color)), bounds};
        if (horizontal) {
            band.Bounds.Left = bandStart;
            band.Bounds.Right = bandEnd;
        } else {
            band.Bounds.Top = bandStart;
            band.Bounds.Bottom = bandEnd;
        }
        bands.push_back(band);
    }
    return bands;
}

std::vector<GradientBand> MirrorGradient(const BandRect& bounds, TColor from, TColor to, TColor fromMirror,
                                         TColor toMirror, GradientAxis axis, const SysColorLookup& sysColor) {
    if (from == clNone) {
        return {};
    }
    if (fromMirror == clNone) {
        return GradientBands(from, to, bounds, axis, sysColor);
    }
    BandRect first = bounds;
    BandRect second = bounds;
    if (axis == GradientAxis::Horizontal) {
        first.Right = second.Left = bounds.Left + (bounds.Right - bounds.Left) / 2;
    } else {
        first.Bottom = second.Top = bounds.Top + (bounds.Bottom - bounds.Top) / 2;
    }
    std::vector<GradientBand> bands = GradientBands(from, to, first, axis, sysColor);
    std::vector<GradientBand> mirror = GradientBands(fromMirror, toMirror, second, axis, sysColor);
    bands.insert(bands.end(), mirror.begin(), mirror.end());
    return bands;
}

} // namespace zal
