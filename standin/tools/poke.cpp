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

// One command's arguments after its name; `extra` is the optional timeout.
struct command_args {
    WCHAR** v;
    UINT extra;
};

HWND hwnd_arg(const command_args& a) { return parse_hwnd(a.v[0]); }
UINT timeout_arg(const command_args& a) { return a.extra ? a.extra : kDefaultTimeoutMs; }

void run_fg(output& out, const command_args&) { put_num(out, "hwnd", reinterpret_cast<uintptr_t>(GetForegroundWindow())); }
void run_sleep(output&, const command_args& a) { Sleep(static_cast<DWORD>(parse_number(a.v[0]))); }
void run_class(output& out, const command_args& a) { cmd_window_text(out, hwnd_arg(a), true); }
void run_title(output& out, const command_args& a) { cmd_window_text(out, hwnd_arg(a), false); }
void run_visible(output& out, const command_args& a) { put_num(out, "value", IsWindowVisible(hwnd_arg(a)) != 0); }
void run_iswindow(output& out, const command_args& a) { put_num(out, "value", IsWindow(hwnd_arg(a)) != 0); }
void run_parent(output& out, const command_args& a) { put_num(out, "value", reinterpret_cast<uintptr_t>(GetParent(hwnd_arg(a)))); }
void run_showna(output&, const command_args& a) { ShowWindow(hwnd_arg(a), SW_SHOWNOACTIVATE); }
void run_setfg(output& out, const command_args& a) { put_num(out, "ok", SetForegroundWindow(hwnd_arg(a)) != 0); }
void run_gettext(output& out, const command_args& a) { cmd_gettext(out, hwnd_arg(a), timeout_arg(a)); }
void run_gettextn(output& out, const command_args& a) { cmd_gettext_capacity(out, hwnd_arg(a), parse_number(a.v[1]) & 0xFFFFF); }
void run_key(output& out, const command_args& a) { cmd_key(out, hwnd_arg(a), static_cast<UINT>(parse_number(a.v[1]))); }

void run_click(output& out, const command_args& a, bool dbl)
{
    cmd_click(out, hwnd_arg(a), static_cast<int>(parse_number(a.v[1])), static_cast<int>(parse_number(a.v[2])), dbl);
}
void run_single_click(output& out, const command_args& a) { run_click(out, a, false); }
void run_double_click(output& out, const command_args& a) { run_click(out, a, true); }

void run_write(output& out, const command_args& a, UINT msg)
{
    std::wstring text = parse_text(a.v[1]);
    DWORD_PTR r = 0;
    put_num(out, "ok", send_timeout(hwnd_arg(a), msg, 1, reinterpret_cast<LPARAM>(text.c_str()), kDefaultTimeoutMs, r));
}
void run_replacesel(output& out, const command_args& a) { run_write(out, a, EM_REPLACESEL); }
void run_settext(output& out, const command_args& a) { run_write(out, a, WM_SETTEXT); }

void run_send(output& out, const command_args& a)
{
    DWORD_PTR r = 0;
    put_num(out, "ok", send_timeout(hwnd_arg(a), static_cast<UINT>(parse_number(a.v[1])), parse_number(a.v[2]),
                                    static_cast<LPARAM>(parse_number(a.v[3])), timeout_arg(a), r));
    put_num(out, "result", r);
}

void run_post(output& out, const command_args& a)
{
    put_num(out, "ok", PostMessageW(hwnd_arg(a), static_cast<UINT>(parse_number(a.v[1])), parse_number(a.v[2]),
                                    static_cast<LPARAM>(parse_number(a.v[3]))) != 0);
}

struct command {
    const WCHAR* name;
    int args;              // required arguments after the name
    bool timeout;          // a further optional timeout in ms
    void (*run)(output&, const command_args&);
};

constexpr command kCommands[] = {
    {L"fg", 0, false, run_fg}, {L"sleep", 1, false, run_sleep}, {L"class", 1, false, run_class},
    {L"title", 1, false, run_title}, {L"visible", 1, false, run_visible}, {L"iswindow", 1, false, run_iswindow},
    {L"parent", 1, false, run_parent}, {L"showna", 1, false, run_showna}, {L"setfg", 1, false, run_setfg},
    {L"gettext", 1, true, run_gettext}, {L"gettextn", 2, false, run_gettextn}, {L"key", 2, false, run_key},
    {L"click", 3, false, run_single_click}, {L"dblclick", 3, false, run_double_click},
    {L"replacesel", 2, false, run_replacesel}, {L"settext", 2, false, run_settext},
    {L"send", 4, true, run_send}, {L"post", 4, false, run_post},
};

// Runs the command at argv[i]; returns how many arguments it used, 0 on error.
int run_command(int argc, WCHAR** argv, int i, output& out)
{
    for (const command& c : kCommands) {
        if (wcscmp(argv[i], c.name) != 0) continue;
        if (i + c.args >= argc) return 0;
        command_args a{argv + i + 1, 0};
        int used = 1 + c.args;
        if (c.timeout && i + used < argc && iswdigit(argv[i + used][0])) a.extra = static_cast<UINT>(parse_number(argv[i + used++]));
        ULONGLONG t0 = GetTickCount64();
        c.run(out, a);
        put_num(out, "ms", GetTickCount64() - t0);
        return used;
    }
    return 0;
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
