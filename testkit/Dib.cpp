#include "testkit/Dib.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace zal::testkit {

namespace {

// A DIB pixel is 0x00RRGGBB; a COLORREF is 0x00BBGGRR.
std::uint32_t ToPixel(COLORREF color) {
    return (GetRValue(color) << 16) | (GetGValue(color) << 8) | GetBValue(color);
}

COLORREF ToColor(std::uint32_t pixel) {
    return RGB((pixel >> 16) & 0xFF, (pixel >> 8) & 0xFF, pixel & 0xFF);
}

} // namespace

Dib::Dib(int width, int height, COLORREF fill) : FWidth(width), FHeight(height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    FDC.Reset(::CreateCompatibleDC(nullptr));
    FBitmap = OwnGdiObject(
        ::CreateDIBSection(FDC.Get(), &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&FBits), nullptr, 0));
    if (!FDC || !FBitmap) {
        throw std::runtime_error("cannot make a " + std::to_string(width) + "x" + std::to_string(height) +
                                 " bitmap");
    }
    FOld = ::SelectObject(FDC.Get(), FBitmap.Get());
    Fill(fill);
}

Dib::~Dib() {
    if (FOld) {
        ::SelectObject(FDC.Get(), FOld);
    }
}

void Dib::Fill(COLORREF color) {
    ::GdiFlush();
    std::fill(FBits, FBits + static_cast<std::size_t>(FWidth) * FHeight, ToPixel(color));
}

COLORREF Dib::At(int x, int y) const {
    ::GdiFlush();
    return ToColor(FBits[static_cast<std::size_t>(y) * FWidth + x]);
}

int Dib::Count(const RECT& area, COLORREF color) const {
    ::GdiFlush();
    int count = 0;
    for (int y = area.top; y < area.bottom; ++y) {
        for (int x = area.left; x < area.right; ++x) {
            count += ToColor(FBits[static_cast<std::size_t>(y) * FWidth + x]) == color;
        }
    }
    return count;
}

} // namespace zal::testkit
