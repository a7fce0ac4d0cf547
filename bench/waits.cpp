#include "waits.h"

#include "platform/win32.h"
#include "stopwatch.h"

waited_ms& waited() {
    static waited_ms totals{};
    return totals;
}

LRESULT platform::SendMessageTimeoutW(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam,
                                      UINT flags, UINT timeout_ms, DWORD_PTR* result) {
    const double started = now_ms();
    const LRESULT answer =
        ::SendMessageTimeoutW(hwnd, msg, wparam, lparam, flags, timeout_ms, result);
    waited().answers += now_ms() - started;
    return answer;
}

void platform::Sleep(DWORD milliseconds) {
    const double started = now_ms();
    ::Sleep(milliseconds);
    waited().sleeps += now_ms() - started;
}
