#pragma once
// Small helpers shared by the benchmark programs: a QueryPerformanceCounter clock and the median of a
// series. The programs print raw figures; bench/run.sh turns them into the table.
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

} // namespace zal::bench
