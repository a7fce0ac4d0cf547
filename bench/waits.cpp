#include "waits.h"

#undef SendMessageTimeoutW
#undef Sleep

#include "stopwatch.h"

waited_ms& waited() {
    static waited_ms totals{};
    return totals;
}

LRESULT timed_send_message(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam, UINT flags,
                           UINT timeout_ms, PDWORD_PTR result) {
    const double started = now_ms();
    const LRESULT answer = SendMessageTimeoutW(hwnd, msg, wparam, lparam, flags, timeout_ms, result);
    waited().answers += now_ms() - started;
    return answer;
}

void timed_sleep(DWORD ms) {
    const double started = now_ms();
    Sleep(ms);
    waited().sleeps += now_ms() - started;
}
