#pragma once
// The gradient model's bands turned into pixels, as a screen would show them, for the tests and the
// end-to-end picture checker to compare with what the panel painted. Portable.
#include "core/Gradient.h"

#include <cstdint>
#include <vector>

namespace zal::testkit {

// A row-major picture of 0x00BBGGRR pixels.
struct PixelBuffer {
    int Width = 0;
    int Height = 0;
    std::vector<std::uint32_t> Pixels;

    PixelBuffer(int width, int height, std::uint32_t background);
    std::uint32_t At(int x, int y) const { return Pixels[static_cast<std::size_t>(y) * Width + x]; }
    std::uint32_t& At(int x, int y) { return Pixels[static_cast<std::size_t>(y) * Width + x]; }
};

// Fills each band's rectangle, clipped to the picture, in order over background.
PixelBuffer RasteriseBands(const std::vector<GradientBand>& bands, int width, int height,
                           std::uint32_t background);

} // namespace zal::testkit
