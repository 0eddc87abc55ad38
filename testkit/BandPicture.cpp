#include "testkit/BandPicture.h"

#include <algorithm>

namespace zal::testkit {

PixelBuffer::PixelBuffer(int width, int height, std::uint32_t background)
    : Width(std::max(width, 0)), Height(std::max(height, 0)),
      Pixels(static_cast<std::size_t>(Width) * Height, background) {}

PixelBuffer RasteriseBands(const std::vector<GradientBand>& bands, int width, int height,
                           std::uint32_t background) {
    PixelBuffer picture(width, height, background);
    for (const GradientBand& band : bands) {
        const int left = std::max(band.Bounds.Left, 0);
        const int top = std::max(band.Bounds.Top, 0);
        const int right = std::min(band.Bounds.Right, picture.Width);
        const int bottom = std::min(band.Bounds.Bottom, picture.Height);
        for (int y = top; y < bottom; ++y) {
            for (int x = left; x < right; ++x) {
                picture.At(x, y) = static_cast<std::uint32_t>(band.Color);
            }
        }
    }
    return picture;
}

} // namespace zal::testkit
