// Milliseconds from the performance counter, for the benchmark programs'
// in-process timings.
#pragma once

#include <windows.h>

inline double now_ms() {
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}
