// The program's only view of the operating system: the small Win32 subset the
// logic uses, declared here for every build so that no file of the logic
// includes <windows.h>. The calls live in namespace `platform`; each program
// links one set of files that defines them all:
//   chatdraft.exe       platform_win32.cpp, platform_win32_waits.cpp (forwarders)
//   the benchmark       platform_win32.cpp, bench/waits.cpp (the waits timed)
//   Linux programs      platform_posix.cpp, platform_empty_desktop.cpp (no windows)
//   the desktop tests   platform_posix.cpp, tests/unit/desktop/fake_desktop.cpp
// Every file defines the calls by their qualified names, so a signature that
// differs from this one fails to compile, a missing call fails to link, and
// two definitions of one call in a program collide at the link.
//
// On Windows the types are exactly those of <windows.h>: a file that includes
// both redeclares them, and a difference fails to compile. A file that
// includes <windows.h> first (through win32.h: the forwarders, the inspector)
// keeps its macros as the constants and calls Windows itself; the logic
// reaches the calls here through the using-directive at the end. An inline
// function in a header of the logic names them qualified (platform::), so it
// means the same in both.
#pragma once

#include <cstddef>
#include <cstdint>

typedef int BOOL;
typedef unsigned int UINT;
typedef unsigned short ATOM;
typedef unsigned long long ULONGLONG;
typedef struct HWND__* HWND;

#ifdef _WIN32
typedef unsigned long DWORD;
typedef wchar_t WCHAR;
#ifdef _WIN64
typedef unsigned long long WPARAM;
typedef long long LPARAM;
typedef long long LRESULT;
typedef unsigned long long ULONG_PTR;
#else
typedef unsigned int WPARAM;
typedef long LPARAM;
typedef long LRESULT;
typedef unsigned long ULONG_PTR;
#endif
#ifndef CALLBACK
#define CALLBACK __stdcall
#endif
// ASCII literal as UTF-16 text.
#define W16(s) L##s
#else
typedef uint32_t DWORD;
typedef char16_t WCHAR;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef uintptr_t ULONG_PTR;
#define CALLBACK
#define W16(s) u##s
#endif

typedef ULONG_PTR DWORD_PTR;
typedef BOOL(CALLBACK* WNDENUMPROC)(HWND, LPARAM);

#ifndef _WINDOWS_
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
constexpr int GCW_ATOM = -32;
constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x00000001;
#endif

namespace platform {

BOOL EnumWindows(WNDENUMPROC proc, LPARAM param);
BOOL EnumChildWindows(HWND parent, WNDENUMPROC proc, LPARAM param);
HWND FindWindowExW(HWND parent, HWND after, const WCHAR* class_name, const WCHAR* title);
int GetClassNameW(HWND hwnd, WCHAR* buffer, int max_count);
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
BOOL MoveFileExA(const char* from, const char* to, DWORD flags);

// calloc, through the platform so that a test can make it fail; the buffer
// is freed with the standard free.
void* zeroed_alloc(size_t count, size_t size);

}  // namespace platform

#ifndef _WINDOWS_
using namespace platform;
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
static_assert(MOVEFILE_REPLACE_EXISTING == 1 && TRUE == 1 && FALSE == 0);
static_assert(sizeof(WPARAM) == sizeof(void*) && sizeof(LPARAM) == sizeof(void*));

// A window handle as the unsigned 64-bit number result documents print.
inline unsigned long long hwnd_number(HWND hwnd) {
    return static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(hwnd));
}
