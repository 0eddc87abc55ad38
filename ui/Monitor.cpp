#include "ui/Monitor.h"

namespace zal {

RECT MonitorAreaOf(HWND window) {
    MONITORINFO info{};
    info.cbSize = sizeof info;
    ::GetMonitorInfoA(::MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &info);
    return info.rcMonitor;
}

POINT CentredIn(const RECT& area, int width, int height) noexcept {
    return POINT{area.left + (area.right - area.left - width) / 2,
                 area.top + (area.bottom - area.top - height) / 2};
}

} // namespace zal
