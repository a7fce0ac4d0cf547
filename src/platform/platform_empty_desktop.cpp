// The desktop on Linux for programs that need none: no windows, real sleep,
// the monotonic clock and calloc.
#include "platform.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>

BOOL platform::EnumWindows(WNDENUMPROC, LPARAM) { return TRUE; }
BOOL platform::EnumChildWindows(HWND, WNDENUMPROC, LPARAM) { return TRUE; }

static int no_text(WCHAR* buffer, int max_count) {
    if (buffer && max_count > 0) buffer[0] = 0;
    return 0;
}

HWND platform::FindWindowExW(HWND, HWND, const WCHAR*, const WCHAR*) { return nullptr; }

int platform::GetClassNameW(HWND, WCHAR* buffer, int max_count) {
    return no_text(buffer, max_count);
}

int platform::GetWindowTextW(HWND, WCHAR* buffer, int max_count) {
    return no_text(buffer, max_count);
}

ULONG_PTR platform::GetClassLongPtrW(HWND, int) { return 0; }

DWORD platform::GetWindowThreadProcessId(HWND, DWORD* process_id) {
    if (process_id) *process_id = 0;
    return 0;
}

HWND platform::GetParent(HWND) { return nullptr; }
int platform::GetDlgCtrlID(HWND) { return 0; }
BOOL platform::IsWindowVisible(HWND) { return FALSE; }
BOOL platform::ShowWindowAsync(HWND, int) { return FALSE; }

LRESULT platform::SendMessageTimeoutW(HWND, UINT, WPARAM, LPARAM, UINT, UINT, DWORD_PTR* result) {
    if (result) *result = 0;
    return 0;
}

BOOL platform::PostMessageW(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

void platform::Sleep(DWORD milliseconds) {
    timespec left{static_cast<time_t>(milliseconds / 1000),
                  static_cast<long>(milliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

ULONGLONG platform::GetTickCount64() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<ULONGLONG>(now.tv_sec) * 1000u + static_cast<ULONGLONG>(now.tv_nsec) / 1000000u;
}

void* platform::zeroed_alloc(size_t count, size_t size) { return calloc(count, size); }
