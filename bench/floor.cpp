// floor.exe: the least a Windows program that looks at the desktop can cost
// under Wine: start, load user32, walk the top-level windows once, exit. The
// benchmark subtracts its run time from chatdraft's to show what chatdraft
// itself adds. Like chatdraft_timed.exe it prints the time spent in main on
// standard error, which holds user32's start-up in this process.
#include <windows.h>

#include <cstdio>

#include "stopwatch.h"

namespace {

BOOL CALLBACK count_window_cb(HWND, LPARAM param) {
    ++*reinterpret_cast<long*>(param);
    return TRUE;
}

}  // namespace

int main() {
    const double started = now_ms();
    long windows = 0;
    EnumWindows(count_window_cb, reinterpret_cast<LPARAM>(&windows));
    fprintf(stderr, "in_process_ms %.3f\n", now_ms() - started);
    return windows > 0 ? 0 : 1;
}
