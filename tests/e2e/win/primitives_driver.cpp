// primitives_driver.exe: runs chatdraft's window message primitives against
// window handles given on the command line and prints one JSON object per
// command on standard output (ASCII only: other units as \uXXXX).
//
//   settext H TEXT        set_edit_text_safe(H, TEXT)            {"cmd":"settext","result":R}
//   gettext H             get_edit_text_alloc(H)                 {"cmd":"gettext","null":0|1,"len":N,"text":"..."}
//   key H VK              post_key_formal(H, VK)                 {"cmd":"key","result":B,"scan":S}
//   click H X Y           click_client(H, X, Y, false)           {"cmd":"click","result":R}
//   dblclick H X Y        click_client(H, X, Y, true)            {"cmd":"dblclick","result":R}
//
// H and numbers are decimal or 0x hex; X and Y may be negative. TEXT is the
// text's UTF-16 units as hex, four digits each ("-" is the empty text), so
// that any unit reaches the primitive unchanged whatever the command line's
// code page. `scan` is MapVirtualKeyW(VK, MAPVK_VK_TO_VSC) asked here, apart
// from the primitive. Exit code 2 for an unknown command or missing argument.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <iterator>

#include "control.h"
#include "text16.h"

namespace {

HWND parse_hwnd(const wchar_t* s) {
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(wcstoull(s, nullptr, 0)));
}

int32_t parse_int(const wchar_t* s) {
    return static_cast<int32_t>(wcstol(s, nullptr, 0));
}

int hex_digit(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

// The units written as hex, four digits each; null when malformed.
WCHAR* parse_units_alloc(const wchar_t* hex) {
    const size_t digits = wcscmp(hex, L"-") == 0 ? 0 : wcslen(hex);
    if (digits % 4) return nullptr;
    auto* text = static_cast<WCHAR*>(calloc(digits / 4 + 1, sizeof(WCHAR)));
    for (size_t i = 0; text && i < digits / 4; ++i) {
        unsigned unit = 0;
        for (size_t k = 0; k < 4; ++k) {
            const int d = hex_digit(hex[4 * i + k]);
            if (d < 0) {
                free(text);
                return nullptr;
            }
            unit = unit * 16 + static_cast<unsigned>(d);
        }
        text[i] = static_cast<WCHAR>(unit);
    }
    return text;
}

void print_json_text(const WCHAR* s) {
    putchar('"');
    for (size_t i = 0; s && s[i]; ++i) {
        const unsigned c = s[i];
        if (c == '"' || c == '\\')
            printf("\\%c", static_cast<char>(c));
        else if (c >= 0x20 && c < 0x7F)
            putchar(static_cast<int>(c));
        else
            printf("\\u%04x", c);
    }
    putchar('"');
}

int run_settext(const wchar_t* const* args) {
    WCHAR* text = parse_units_alloc(args[1]);
    if (!text) return 2;
    const int result = set_edit_text_safe(parse_hwnd(args[0]), text);
    free(text);
    printf("{\"cmd\":\"settext\",\"result\":%d}\n", result);
    return 0;
}

int run_gettext(const wchar_t* const* args) {
    WCHAR* text = get_edit_text_alloc(parse_hwnd(args[0]));
    printf("{\"cmd\":\"gettext\",\"null\":%d,\"len\":%zu,\"text\":", text ? 0 : 1, text16_len(text));
    print_json_text(text);
    printf("}\n");
    free(text);
    return 0;
}

int run_key(const wchar_t* const* args) {
    const auto vk = static_cast<UINT>(parse_int(args[1]));
    const BOOL result = post_key_formal(parse_hwnd(args[0]), vk);
    printf("{\"cmd\":\"key\",\"result\":%d,\"scan\":%u}\n", result ? 1 : 0,
           MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
    return 0;
}

int run_click(const wchar_t* const* args, bool double_click) {
    const LRESULT result = click_client(parse_hwnd(args[0]), parse_int(args[1]),
                                        parse_int(args[2]), double_click);
    printf("{\"cmd\":\"%s\",\"result\":%lld}\n", double_click ? "dblclick" : "click",
           static_cast<long long>(result));
    return 0;
}

struct command {
    const wchar_t* name;
    int arg_count;
};

constexpr command kCommands[] = {
    {L"settext", 2}, {L"gettext", 1}, {L"key", 2}, {L"click", 3}, {L"dblclick", 3},
};

int run_command(size_t which, const wchar_t* const* args) {
    switch (which) {
    case 0: return run_settext(args);
    case 1: return run_gettext(args);
    case 2: return run_key(args);
    case 3: return run_click(args, false);
    default: return run_click(args, true);
    }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    for (int i = 1; i < argc;) {
        size_t which = std::size(kCommands);
        for (size_t k = 0; k < std::size(kCommands); ++k)
            if (wcscmp(argv[i], kCommands[k].name) == 0) which = k;
        if (which == std::size(kCommands) || argc - i - 1 < kCommands[which].arg_count) {
            fprintf(stderr, "primitives_driver: bad command at argument %d\n", i);
            return 2;
        }
        if (run_command(which, argv + i + 1) != 0) return 2;
        fflush(stdout);
        i += 1 + kCommands[which].arg_count;
    }
    return 0;
}
