#pragma once
// Small helpers shared by the benchmark programs: a QueryPerformanceCounter clock, the median of a series,
// and whether a window has had its first paint. The programs print raw figures; bench/run.sh turns them into
// the table.
#include <windows.h>

#include <algorithm>
#include <vector>

namespace zal::bench {

// Milliseconds since construction, from the performance counter.
class Stopwatch {
public:
    Stopwatch() noexcept {
        ::QueryPerformanceFrequency(&FFrequency);
        Restart();
    }
    void Restart() noexcept { ::QueryPerformanceCounter(&FStart); }
    double Milliseconds() const noexcept {
        LARGE_INTEGER now;
        ::QueryPerformanceCounter(&now);
        return static_cast<double>(now.QuadPart - FStart.QuadPart) * 1000.0 /
               static_cast<double>(FFrequency.QuadPart);
    }

private:
    LARGE_INTEGER FFrequency{};
    LARGE_INTEGER FStart{};
};

inline double Median(std::vector<double> values) {
    if (values.empty()) {
        return 0.0;
    }
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2.0;
}

// Enumeration callbacks are stdcall on 32 bits, which a lambda cannot be.
inline BOOL CALLBACK CheckChildPainted(HWND child, LPARAM data) {
    if (::IsWindowVisible(child) && ::GetUpdateRect(child, nullptr, FALSE)) {
        *reinterpret_cast<bool*>(data) = false;
        return FALSE;
    }
    return TRUE;
}

// True once window is visible and it and every visible window inside it have an empty update region again,
// so each has had its WM_PAINT. The update region lives in the window server, so another process can ask
// for it; asking sends nothing to the window.
inline bool Painted(HWND window) {
    bool painted = ::IsWindowVisible(window) && !::GetUpdateRect(window, nullptr, FALSE);
    if (painted) {
        ::EnumChildWindows(window, CheckChildPainted, reinterpret_cast<LPARAM>(&painted));
    }
    return painted;
}

} // namespace zal::bench
