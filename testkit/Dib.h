#pragma once
// Something to paint into and read back pixel by pixel, with no window and no screen: a 32-bpp top-down
// DIB section selected into a memory DC.
#include "base/Handles.h"

#include <windows.h>

#include <cstdint>

namespace zal::testkit {

class Dib {
public:
    // Every pixel starts as fill. Throws std::runtime_error when the system will not make the bitmap.
    Dib(int width, int height, COLORREF fill);
    Dib(const Dib&) = delete;
    Dib& operator=(const Dib&) = delete;
    ~Dib();

    HDC DC() const noexcept { return FDC.Get(); }
    int Width() const noexcept { return FWidth; }
    int Height() const noexcept { return FHeight; }

    void Fill(COLORREF color);
    // What GDI drew there, once it has finished drawing.
    COLORREF At(int x, int y) const;
    // How many pixels of area have color.
    int Count(const RECT& area, COLORREF color) const;

private:
    int FWidth;
    int FHeight;
    UniqueMemoryDC FDC;
    UniqueBitmap FBitmap;
    HGDIOBJ FOld = nullptr;
    std::uint32_t* FBits = nullptr;
};

} // namespace zal::testkit
