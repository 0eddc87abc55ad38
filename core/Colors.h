#pragma once
// Colour values as the layout and the components store them: 0x00BBGGRR for an RGB colour, 0xFF0000nn for
// system colour nn, and clNone. Portable: the system colours themselves are looked up by the Windows layer.
#include <cstdint>

namespace zal {

using TColor = std::int32_t;

inline constexpr TColor clNone = 0x1FFFFFFF;
inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clBlue = 0xFF0000;
inline constexpr TColor SystemColor(int index) noexcept {
    return static_cast<TColor>(0xFF000000u | index);
}
inline constexpr TColor clWindowText = SystemColor(8); // COLOR_WINDOWTEXT
inline constexpr TColor clBtnFace = SystemColor(15);   // COLOR_BTNFACE

// A negative value (top bit set) names a system colour whose index is its low byte.
inline constexpr bool IsSystemColor(TColor color) noexcept {
    return color < 0;
}
inline constexpr int SystemColorIndex(TColor color) noexcept {
    return color & 0xFF;
}

struct Rgb {
    std::uint8_t Red = 0;
    std::uint8_t Green = 0;
    std::uint8_t Blue = 0;
    friend constexpr bool operator==(const Rgb&, const Rgb&) = default;
};

inline constexpr Rgb SplitRgb(std::uint32_t value) noexcept {
    return {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value >> 16)};
}
inline constexpr std::uint32_t PackRgb(Rgb rgb) noexcept {
    return rgb.Red | (static_cast<std::uint32_t>(rgb.Green) << 8) |
           (static_cast<std::uint32_t>(rgb.Blue) << 16);
}

// Converts a colour to RGB: a system colour becomes the system's current value for its index (asked of
// sysColor, which takes the index and gives 0x00BBGGRR); any other value, clNone included, is taken as it is,
// so clNone reads as white.
template <typename SysColorLookup>
Rgb ColorToRgb(TColor color, SysColorLookup&& sysColor) {
    if (IsSystemColor(color)) {
        return SplitRgb(sysColor(SystemColorIndex(color)));
    }
    return SplitRgb(static_cast<std::uint32_t>(color));
}

} // namespace zal
