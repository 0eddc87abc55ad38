// bench_paint RUNS
// One full repaint of the gradient panel at 1920 x 1080 (the tool's window maximised on such a screen),
// with the tool's colours, into a 32-bit memory bitmap, against one FillRect of the same area into the same
// bitmap. Both are finished with GdiFlush before the clock stops. They take turns. One line per run:
//   run VARIANT INDEX MS
// and a check that the panel really painted its gradient.
#include "bench/BenchSupport.h"
#include "controls/Shader.h"
#include "ui/Handles.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

using namespace zal;
using zal::bench::Stopwatch;

constexpr int Width = 1920;
constexpr int Height = 1080;
constexpr TColor ToolFromColor = 8421440; // the layout's FromColor; the rest are the panel's defaults

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 200;

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = Width;
    info.bmiHeader.biHeight = -Height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    UniqueMemoryDC dc(::CreateCompatibleDC(nullptr));
    std::uint32_t* bits = nullptr;
    UniqueBitmap bitmap = OwnGdiObject(
        ::CreateDIBSection(dc.Get(), &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits), nullptr, 0));
    if (!dc || !bitmap) {
        std::fprintf(stderr, "bench_paint: cannot make the bitmap\n");
        return 1;
    }
    SelectScope selected(dc.Get(), bitmap.Get());

    TShader shader(nullptr);
    shader.SetBounds(0, 0, Width, Height);
    shader.SetFromColor(ToolFromColor);
    shader.SetDirection(false);

    UniqueBrush brush = OwnGdiObject(::CreateSolidBrush(RGB(0x40, 0x80, 0x80)));
    const RECT area{0, 0, Width, Height};

    const auto paintPanel = [&] {
        shader.PaintTo(dc.Get());
        ::GdiFlush();
    };
    const auto fillOnce = [&] {
        ::FillRect(dc.Get(), &area, brush.Get());
        ::GdiFlush();
    };

    for (int k = 0; k < 10; ++k) {
        paintPanel();
        fillOnce();
    }
    for (int run = 0; run < runs; ++run) {
        for (int k = 0; k < 2; ++k) {
            const bool panel = (k + run) % 2 == 0;
            std::fill(bits, bits + static_cast<std::size_t>(Width) * Height, 0u);
            Stopwatch clock;
            if (panel) {
                paintPanel();
            } else {
                fillOnce();
            }
            const double ms = clock.Milliseconds();
            std::printf("run %s %d %.3f\n", panel ? "panel" : "fillrect", run, ms);
        }
    }

    // The top row has the first colour and the bottom row a darker one, towards the default black.
    paintPanel();
    const std::uint32_t top = bits[0] & 0xFFFFFF;
    const std::uint32_t bottom = bits[static_cast<std::size_t>(Height - 1) * Width] & 0xFFFFFF;
    const bool gradient = top == 0x408080 && bottom != top && (bottom & 0xFF) < 0x10;
    std::printf("check panel top=%06X bottom=%06X %s\n", top, bottom, gradient ? "ok" : "WRONG");
    return gradient ? 0 : 1;
}
