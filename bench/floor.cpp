// floor.exe: the least a Windows program that looks at the desktop can cost
// under Wine: start, load user32, walk the top-level windows once, exit. The
// benchmark subtracts its run time from chatdraft's to show what chatdraft
// itself adds.
#include <windows.h>

namespace {

BOOL CALLBACK count_window_cb(HWND, LPARAM param) {
    ++*reinterpret_cast<long*>(param);
    return TRUE;
}

}  // namespace

int main() {
    long windows = 0;
    EnumWindows(count_window_cb, reinterpret_cast<LPARAM>(&windows));
    return windows > 0 ? 0 : 1;
}
