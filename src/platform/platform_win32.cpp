// The platform on Windows: each call forwards to the system's own. The two
// calls that wait for the client are in platform_win32_waits.cpp, so that
// the benchmark can link its timed ones instead.
#include "win32.h"

#include <cstdlib>

BOOL platform::EnumWindows(WNDENUMPROC proc, LPARAM param) { return ::EnumWindows(proc, param); }

BOOL platform::EnumChildWindows(HWND parent, WNDENUMPROC proc, LPARAM param) {
    return ::EnumChildWindows(parent, proc, param);
}

HWND platform::FindWindowExW(HWND parent, HWND after, const WCHAR* class_name, const WCHAR* title) {
    return ::FindWindowExW(parent, after, class_name, title);
}

int platform::GetClassNameW(HWND hwnd, WCHAR* buffer, int max_count) {
    return ::GetClassNameW(hwnd, buffer, max_count);
}

ULONG_PTR platform::GetClassLongPtrW(HWND hwnd, int index) {
#ifdef _WIN64
    return ::GetClassLongPtrW(hwnd, index);
#else
    return ::GetClassLongW(hwnd, index);
#endif
}

int platform::GetWindowTextW(HWND hwnd, WCHAR* buffer, int max_count) {
    return ::GetWindowTextW(hwnd, buffer, max_count);
}

DWORD platform::GetWindowThreadProcessId(HWND hwnd, DWORD* process_id) {
    return ::GetWindowThreadProcessId(hwnd, process_id);
}

HWND platform::GetParent(HWND hwnd) { return ::GetParent(hwnd); }
int platform::GetDlgCtrlID(HWND hwnd) { return ::GetDlgCtrlID(hwnd); }
BOOL platform::IsWindowVisible(HWND hwnd) { return ::IsWindowVisible(hwnd); }
BOOL platform::ShowWindowAsync(HWND hwnd, int cmd) { return ::ShowWindowAsync(hwnd, cmd); }

BOOL platform::PostMessageW(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    return ::PostMessageW(hwnd, msg, wparam, lparam);
}

UINT platform::MapVirtualKeyW(UINT code, UINT map_type) { return ::MapVirtualKeyW(code, map_type); }

int platform::MultiByteToWideChar(UINT code_page, DWORD flags, const char* src, int src_len,
                                  WCHAR* dst, int dst_len) {
    return ::MultiByteToWideChar(code_page, flags, src, src_len, dst, dst_len);
}

int platform::WideCharToMultiByte(UINT code_page, DWORD flags, const WCHAR* src, int src_len,
                                  char* dst, int dst_len, const char* default_char,
                                  BOOL* used_default) {
    return ::WideCharToMultiByte(code_page, flags, src, src_len, dst, dst_len, default_char,
                                 used_default);
}

ULONGLONG platform::GetTickCount64() { return ::GetTickCount64(); }
BOOL platform::DeleteFileA(const char* path) { return ::DeleteFileA(path); }

BOOL platform::MoveFileExA(const char* from, const char* to, DWORD flags) {
    return ::MoveFileExA(from, to, flags);
}

void* platform::zeroed_alloc(size_t count, size_t size) { return calloc(count, size); }
