// The calls that wait for the client, forwarded to Windows: a sent message's
// answer and a fixed wait.
#include "win32.h"

LRESULT platform::SendMessageTimeoutW(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam,
                                      UINT flags, UINT timeout_ms, DWORD_PTR* result) {
    return ::SendMessageTimeoutW(hwnd, msg, wparam, lparam, flags, timeout_ms, result);
}

void platform::Sleep(DWORD milliseconds) { ::Sleep(milliseconds); }
