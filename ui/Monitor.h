#pragma once
// Where a window goes on the monitor another window is on.
#include <windows.h>

namespace zal {

// The whole area of the monitor nearest to window, taskbar included.
RECT MonitorAreaOf(HWND window);

// The top-left corner that centres a window of width x height in area.
POINT CentredIn(const RECT& area, int width, int height) noexcept;

} // namespace zal
