// Clock and median shared by the benchmarks.
#pragma once

#include <windows.h>

#include <algorithm>
#include <vector>

// Milliseconds on the performance counter.
inline double Now() {
    LARGE_INTEGER counter{}, frequency{};
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * double(counter.QuadPart) / double(frequency.QuadPart);
}

inline double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}
