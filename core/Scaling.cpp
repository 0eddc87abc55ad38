#include "core/Scaling.h"

#include <climits>
#include <cstdint>

namespace zal {

int MulDiv(int number, int numerator, int denominator) noexcept {
    if (denominator == 0) {
        return -1;
    }
    // 64 bits hold every product of two ints and every int denominator, INT_MIN included.
    std::int64_t product = static_cast<std::int64_t>(number) * numerator;
    std::int64_t divisor = denominator;
    if (divisor < 0) {
        product = -product;
        divisor = -divisor;
    }
    std::int64_t magnitude = product < 0 ? -product : product;
    std::int64_t quotient = (magnitude + divisor / 2) / divisor;
    std::int64_t result = product < 0 ? -quotient : quotient;
    if (result > INT_MAX || result < -INT_MAX) {
        return -1;
    }
    return static_cast<int>(result);
}

TBounds ScaleBounds(const TBounds& bounds, int m, int d) noexcept {
    TBounds scaled;
    scaled.Left = MulDiv(bounds.Left, m, d);
    scaled.Top = MulDiv(bounds.Top, m, d);
    scaled.Width = MulDiv(bounds.Left + bounds.Width, m, d) - scaled.Left;
    scaled.Height = MulDiv(bounds.Top + bounds.Height, m, d) - scaled.Top;
    return scaled;
}

int ScaleFontHeight(int height, int m, int d, int pixelsPerInch) noexcept {
    int size = -MulDiv(height, 72, pixelsPerInch);
    int scaledSize = MulDiv(size, m, d);
    return -MulDiv(scaledSize, pixelsPerInch, 72);
}

int DefaultFontHeight(int pixelsPerInch, bool shiftJis) noexcept {
    return -MulDiv(shiftJis ? 9 : 8, pixelsPerInch, 72);
}

int LayoutFontHeight(int layoutHeight, int layoutPixelsPerInch, int screenPixelsPerInch,
                     bool sameFaceAndStyle, bool shiftJis) noexcept {
    if (screenPixelsPerInch == layoutPixelsPerInch) {
        return layoutHeight;
    }
    bool differs = !sameFaceAndStyle || layoutHeight != DefaultFontHeight(screenPixelsPerInch, shiftJis);
    if (!differs) {
        return layoutHeight;
    }
    return MulDiv(layoutHeight, screenPixelsPerInch, layoutPixelsPerInch);
}

int CenteredOrigin(int screenExtent, int windowExtent) noexcept {
    int origin = (screenExtent - windowExtent) / 2;
    return origin < 0 ? 0 : origin;
}

} // namespace zal
