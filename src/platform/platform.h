// The program's only view of the operating system. On Windows this is
// <windows.h>; elsewhere the same small Win32 subset is declared here and
// provided by platform_posix.cpp (an empty desktop, real UTF-8 conversion,
// real files and sleep), so the logic builds and is tested natively.
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

// ASCII literal as UTF-16 text.
#define W16(s) L##s

#else

typedef int BOOL;
typedef unsigned int UINT;
typedef uint32_t DWORD;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef uintptr_t DWORD_PTR;
typedef unsigned long long ULONGLONG;
typedef uint16_t ATOM;
typedef uintptr_t ULONG_PTR;
typedef char16_t WCHAR;
typedef struct HWND__* HWND;
typedef BOOL (*WNDENUMPROC)(HWND, LPARAM);

#define CALLBACK
#define W16(s) u##s

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

constexpr UINT WM_SETTEXT = 0x000C;
constexpr UINT WM_GETTEXT = 0x000D;
constexpr UINT WM_GETTEXTLENGTH = 0x000E;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT EM_SETSEL = 0x00B1;
constexpr UINT EM_REPLACESEL = 0x00C2;
constexpr UINT WM_KEYDOWN = 0x0100;
constexpr UINT WM_KEYUP = 0x0101;
constexpr UINT WM_COMMAND = 0x0111;
constexpr UINT WM_MOUSEMOVE = 0x0200;
constexpr UINT WM_LBUTTONDOWN = 0x0201;
constexpr UINT WM_LBUTTONUP = 0x0202;
constexpr UINT WM_LBUTTONDBLCLK = 0x0203;
constexpr UINT EN_CHANGE = 0x0300;
constexpr UINT MK_LBUTTON = 0x0001;
constexpr UINT VK_RETURN = 0x0D;
constexpr UINT VK_DOWN = 0x28;
constexpr UINT SMTO_ABORTIFHUNG = 0x0002;
constexpr UINT MAPVK_VK_TO_VSC = 0;
constexpr int SW_SHOWNOACTIVATE = 4;
constexpr UINT CP_UTF8 = 65001;

BOOL EnumWindows(WNDENUMPROC proc, LPARAM param);
BOOL EnumChildWindows(HWND parent, WNDENUMPROC proc, LPARAM param);
HWND FindWindowExW(HWND parent, HWND after, const WCHAR* class_name, const WCHAR* title);
int GetClassNameW(HWND hwnd, WCHAR* buffer, int max_count);
constexpr int GCW_ATOM = -32;
ULONG_PTR GetClassLongPtrW(HWND hwnd, int index);
int GetWindowTextW(HWND hwnd, WCHAR* buffer, int max_count);
DWORD GetWindowThreadProcessId(HWND hwnd, DWORD* process_id);
HWND GetParent(HWND hwnd);
int GetDlgCtrlID(HWND hwnd);
BOOL IsWindowVisible(HWND hwnd);
BOOL ShowWindowAsync(HWND hwnd, int cmd);
LRESULT SendMessageTimeoutW(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam,
                            UINT flags, UINT timeout_ms, DWORD_PTR* result);
BOOL PostMessageW(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
UINT MapVirtualKeyW(UINT code, UINT map_type);
int MultiByteToWideChar(UINT code_page, DWORD flags, const char* src, int src_len,
                        WCHAR* dst, int dst_len);
int WideCharToMultiByte(UINT code_page, DWORD flags, const WCHAR* src, int src_len,
                        char* dst, int dst_len, const char* default_char,
                        BOOL* used_default);
void Sleep(DWORD milliseconds);
ULONGLONG GetTickCount64();
BOOL DeleteFileA(const char* path);
constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x00000001;
BOOL MoveFileExA(const char* from, const char* to, DWORD flags);

#endif

static_assert(sizeof(WCHAR) == 2, "text is UTF-16 code units on every build");
static_assert(WM_GETTEXT == 0x000D && WM_GETTEXTLENGTH == 0x000E && WM_SETTEXT == 0x000C);
static_assert(EM_SETSEL == 0x00B1 && EM_REPLACESEL == 0x00C2 && WM_COMMAND == 0x0111);
static_assert(WM_KEYDOWN == 0x0100 && WM_KEYUP == 0x0101 && WM_CLOSE == 0x0010);
static_assert(WM_MOUSEMOVE == 0x0200 && WM_LBUTTONDOWN == 0x0201);
static_assert(WM_LBUTTONUP == 0x0202 && WM_LBUTTONDBLCLK == 0x0203);
static_assert(EN_CHANGE == 0x0300 && MK_LBUTTON == 1 && SMTO_ABORTIFHUNG == 2);
static_assert(VK_RETURN == 0x0D && VK_DOWN == 0x28 && SW_SHOWNOACTIVATE == 4);
static_assert(CP_UTF8 == 65001 && MAPVK_VK_TO_VSC == 0 && GCW_ATOM == -32);
static_assert(sizeof(WPARAM) == sizeof(void*) && sizeof(LPARAM) == sizeof(void*));

// A window handle as the unsigned 64-bit number result documents print.
inline unsigned long long hwnd_number(HWND hwnd) {
    return static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(hwnd));
}
