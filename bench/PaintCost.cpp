// bench_paint RUNS
// One full repaint of the gradient panel at 1920 x 1080 (the tool's window maximised on such a screen),
// with the tool's colours, into a 32-bit memory bitmap, against one FillRect of the same area into the same
// bitmap. Both are finished with GdiFlush before the clock stops. They take turns. One line per run:
//   run VARIANT INDEX MS
// and a check that the panel really painted its gradient.
#include "base/Handles.h"
#include "bench/BenchSupport.h"
#include "controls/Shader.h"
#include "testkit/Dib.h"

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

    testkit::Dib bitmap(Width, Height, RGB(0, 0, 0));

    TShader shader(nullptr);
    shader.SetBounds(0, 0, Width, Height);
    shader.SetFromColor(ToolFromColor);
    shader.SetDirection(false);

    UniqueBrush brush = OwnGdiObject(::CreateSolidBrush(RGB(0x40, 0x80, 0x80)));
    const RECT area{0, 0, Width, Height};

    const auto paintPanel = [&] {
        shader.PaintTo(bitmap.DC());
        ::GdiFlush();
    };
    const auto fillOnce = [&] {
        ::FillRect(bitmap.DC(), &area, brush.Get());
        ::GdiFlush();
    };

    for (int k = 0; k < 10; ++k) {
        paintPanel();
        fillOnce();
    }
    for (int run = 0; run < runs; ++run) {
        for (int k = 0; k < 2; ++k) {
            const bool panel = (k + run) % 2 == 0;
            bitmap.Fill(RGB(0, 0, 0));
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
    const COLORREF top = bitmap.At(0, 0);
    const COLORREF bottom = bitmap.At(0, Height - 1);
    const bool gradient = top == RGB(0x40, 0x80, 0x80) && bottom != top && GetBValue(bottom) < 0x10;
    std::printf("check panel top=%06lX bottom=%06lX %s\n", top, bottom, gradient ? "ok" : "WRONG");
    return gradient ? 0 : 1;
}
