// poke.exe: a tiny Win32 client for checking the stand-in from tests. Runs a
// sequence of commands against window handles and prints one JSON object per
// command on standard output. Shares no code with chatdraft.
//
//   class H | title H | visible H | iswindow H | parent H | fg
//   gettext H [timeout_ms]          WM_GETTEXTLENGTH then WM_GETTEXT, SMTO_ABORTIFHUNG
//   gettextn H CAPACITY             WM_GETTEXT alone, with the given capacity
//   send H MSG WPARAM LPARAM [timeout_ms]
//   post H MSG WPARAM LPARAM
//   key H VK                        posted WM_KEYDOWN and WM_KEYUP
//   click H X Y | dblclick H X Y    sent mouse messages at client coordinates
//   replacesel H TEXT | settext H TEXT   (TEXT "u16:" followed by hex units is decoded)
//   showna H                        ShowWindow(SW_SHOWNOACTIVATE)
//   setfg H                         SetForegroundWindow (to prove activation is seen)
//   sleep MS
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <string>

namespace {

constexpr UINT kDefaultTimeoutMs = 2000;

struct output {
    std::string text;
};

void put_json_text(output& out, const WCHAR* s, size_t n)
{
    char buf[8];
    out.text += '"';
    for (size_t i = 0; i < n; ++i) {
        unsigned c = s[i];
        if (c == '"' || c == '\\') { out.text += '\\'; out.text += static_cast<char>(c); }
        else if (c >= 0x20 && c < 0x7F) out.text += static_cast<char>(c);
        else { snprintf(buf, sizeof buf, "\\u%04x", c); out.text += buf; }
    }
    out.text += '"';
}

void put_key(output& out, const char* key)
{
    out.text += out.text.size() > 1 ? ",\"" : "\"";
    out.text += key;
    out.text += "\":";
}

void put_num(output& out, const char* key, uint64_t v)
{
    put_key(out, key);
    out.text += std::to_string(v);
}

void put_text(output& out, const char* key, const WCHAR* s, size_t n)
{
    put_key(out, key);
    put_json_text(out, s, n);
}

uint64_t parse_number(const WCHAR* s)
{
    return wcstoull(s, nullptr, 0);
}

HWND parse_hwnd(const WCHAR* s)
{
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(parse_number(s)));
}

std::wstring parse_text(const WCHAR* s)
{
    if (wcsncmp(s, L"u16:", 4) != 0) return s;
    std::wstring out;
    for (const WCHAR* p = s + 4; wcslen(p) >= 4; p += 4) {
        WCHAR unit[5] = {p[0], p[1], p[2], p[3], 0};
        out += static_cast<WCHAR>(wcstoul(unit, nullptr, 16));
    }
    return out;
}

bool send_timeout(HWND h, UINT msg, WPARAM wp, LPARAM lp, UINT timeout, DWORD_PTR& result)
{
    result = 0;
    return SendMessageTimeoutW(h, msg, wp, lp, SMTO_ABORTIFHUNG, timeout, &result) != 0;
}

void cmd_gettext(output& out, HWND h, UINT timeout)
{
    DWORD_PTR len = 0;
    bool ok = send_timeout(h, WM_GETTEXTLENGTH, 0, 0, timeout, len);
    put_num(out, "ok", ok);
    put_num(out, "len", len);
    if (!ok || static_cast<INT_PTR>(len) <= 0 || len > (1u << 24)) return;
    std::wstring buf(len + 2, L'\0');
    DWORD_PTR got = 0;
    ok = send_timeout(h, WM_GETTEXT, len + 1, reinterpret_cast<LPARAM>(&buf[0]), timeout, got);
    put_num(out, "ok_text", ok);
    put_text(out, "text", buf.c_str(), wcslen(buf.c_str()));
}

void cmd_gettext_capacity(output& out, HWND h, WPARAM capacity)
{
    std::wstring buf(capacity + 1, L'\0');
    DWORD_PTR got = 0;
    put_num(out, "ok", send_timeout(h, WM_GETTEXT, capacity, reinterpret_cast<LPARAM>(&buf[0]), kDefaultTimeoutMs, got));
    put_num(out, "result", got);
    put_text(out, "text", buf.c_str(), wcslen(buf.c_str()));
}

void cmd_window_text(output& out, HWND h, bool class_name)
{
    WCHAR buf[1024] = {};
    int n = class_name ? GetClassNameW(h, buf, 1023) : GetWindowTextW(h, buf, 1023);
    put_text(out, "text", buf, n > 0 ? static_cast<size_t>(n) : 0);
}

void cmd_click(output& out, HWND h, int x, int y, bool dbl)
{
    LPARAM pt = static_cast<LPARAM>(static_cast<int32_t>((static_cast<uint32_t>(y) << 16) | (static_cast<uint32_t>(x) & 0xFFFF)));
    DWORD_PTR r = 0;
    bool ok = send_timeout(h, WM_MOUSEMOVE, 0, pt, kDefaultTimeoutMs, r);
    ok = send_timeout(h, WM_LBUTTONDOWN, MK_LBUTTON, pt, kDefaultTimeoutMs, r) && ok;
    ok = send_timeout(h, WM_LBUTTONUP, 0, pt, kDefaultTimeoutMs, r) && ok;
    if (dbl) {
        ok = send_timeout(h, WM_LBUTTONDBLCLK, MK_LBUTTON, pt, kDefaultTimeoutMs, r) && ok;
        ok = send_timeout(h, WM_LBUTTONUP, 0, pt, kDefaultTimeoutMs, r) && ok;
    }
    put_num(out, "ok", ok);
}

void cmd_key(output& out, HWND h, UINT vk)
{
    LPARAM base = static_cast<LPARAM>(static_cast<uint32_t>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC)) << 16);
    bool ok = PostMessageW(h, WM_KEYDOWN, vk, base | 1);
    ok = PostMessageW(h, WM_KEYUP, vk, static_cast<LPARAM>(static_cast<uint32_t>(base) | 0xC0000001u)) && ok;
    put_num(out, "ok", ok);
}

// Runs the command at argv[i]; returns how many arguments it used, 0 on error.
int run_command(int argc, WCHAR** argv, int i, output& out)
{
    std::wstring cmd = argv[i];
    auto arg = [&](int k) { return i + k < argc ? argv[i + k] : nullptr; };
    auto need = [&](int k) { for (int j = 1; j <= k; ++j) if (!arg(j)) return false; return true; };
    auto opt_timeout = [&](int k) { return arg(k) && iswdigit(arg(k)[0]) ? static_cast<UINT>(parse_number(arg(k))) : 0u; };
    ULONGLONG t0 = GetTickCount64();
    int used = 0;
    if (cmd == L"fg") { put_num(out, "hwnd", reinterpret_cast<uintptr_t>(GetForegroundWindow())); used = 1; }
    else if (cmd == L"sleep" && need(1)) { Sleep(static_cast<DWORD>(parse_number(arg(1)))); used = 2; }
    else if (!need(1)) return 0;
    else if (cmd == L"class" || cmd == L"title") { cmd_window_text(out, parse_hwnd(arg(1)), cmd == L"class"); used = 2; }
    else if (cmd == L"visible") { put_num(out, "value", IsWindowVisible(parse_hwnd(arg(1))) != 0); used = 2; }
    else if (cmd == L"iswindow") { put_num(out, "value", IsWindow(parse_hwnd(arg(1))) != 0); used = 2; }
    else if (cmd == L"parent") { put_num(out, "value", reinterpret_cast<uintptr_t>(GetParent(parse_hwnd(arg(1))))); used = 2; }
    else if (cmd == L"showna") { ShowWindow(parse_hwnd(arg(1)), SW_SHOWNOACTIVATE); used = 2; }
    else if (cmd == L"setfg") { put_num(out, "ok", SetForegroundWindow(parse_hwnd(arg(1))) != 0); used = 2; }
    else if (cmd == L"gettext") {
        UINT t = opt_timeout(2);
        cmd_gettext(out, parse_hwnd(arg(1)), t ? t : kDefaultTimeoutMs);
        used = t ? 3 : 2;
    } else if (cmd == L"gettextn" && need(2)) {
        cmd_gettext_capacity(out, parse_hwnd(arg(1)), static_cast<WPARAM>(parse_number(arg(2)) & 0xFFFFF));
        used = 3;
    } else if (cmd == L"key" && need(2)) { cmd_key(out, parse_hwnd(arg(1)), static_cast<UINT>(parse_number(arg(2)))); used = 3; }
    else if ((cmd == L"click" || cmd == L"dblclick") && need(3)) {
        cmd_click(out, parse_hwnd(arg(1)), static_cast<int>(parse_number(arg(2))), static_cast<int>(parse_number(arg(3))), cmd == L"dblclick");
        used = 4;
    } else if ((cmd == L"replacesel" || cmd == L"settext") && need(2)) {
        std::wstring text = parse_text(arg(2));
        DWORD_PTR r = 0;
        put_num(out, "ok", send_timeout(parse_hwnd(arg(1)), cmd == L"settext" ? WM_SETTEXT : EM_REPLACESEL, 1,
                                        reinterpret_cast<LPARAM>(text.c_str()), kDefaultTimeoutMs, r));
        used = 3;
    } else if (cmd == L"send" && need(4)) {
        UINT t = opt_timeout(5);
        DWORD_PTR r = 0;
        put_num(out, "ok", send_timeout(parse_hwnd(arg(1)), static_cast<UINT>(parse_number(arg(2))), parse_number(arg(3)),
                                        static_cast<LPARAM>(parse_number(arg(4))), t ? t : kDefaultTimeoutMs, r));
        put_num(out, "result", r);
        used = t ? 6 : 5;
    } else if (cmd == L"post" && need(4)) {
        put_num(out, "ok", PostMessageW(parse_hwnd(arg(1)), static_cast<UINT>(parse_number(arg(2))), parse_number(arg(3)),
                                        static_cast<LPARAM>(parse_number(arg(4)))) != 0);
        used = 5;
    }
    put_num(out, "ms", GetTickCount64() - t0);
    return used;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    _setmode(_fileno(stdout), _O_BINARY);
    for (int i = 1; i < argc;) {
        output out{"{"};
        put_text(out, "cmd", argv[i], wcslen(argv[i]));
        int used = run_command(argc, argv, i, out);
        out.text += "}\n";
        fwrite(out.text.data(), 1, out.text.size(), stdout);
        fflush(stdout);
        if (!used) return 2;
        i += used;
    }
    return 0;
}
