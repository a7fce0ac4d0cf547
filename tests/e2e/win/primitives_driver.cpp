// primitives_driver: calls one of chatdraft's window-message primitives on a
// window given by handle, so that Wine tests can compare the messages the
// stand-in client logs with the expected traffic.
//
//   primitives_driver.exe settext <hwnd> <text>          set_edit_text_safe
//   primitives_driver.exe settext-hex <hwnd> <hex>       the same; the text as
//                                                        hexadecimal UTF-8 bytes
//   primitives_driver.exe key <hwnd> <vk>                post_key_formal
//   primitives_driver.exe click <hwnd> <x> <y>           click_client, single
//   primitives_driver.exe dblclick <hwnd> <x> <y>        click_client, double
//   primitives_driver.exe gettext <hwnd>                 get_edit_text_alloc
//   primitives_driver.exe readtext <hwnd>                read_edit_text_alloc
//
// Numbers are decimal or 0x-prefixed hexadecimal. One line goes to standard
// output (binary mode, LF): the primitive's result as a signed decimal; for
// gettext the text as a JSON string; for readtext "1" or "0" (whether the box
// answered), a blank and the JSON string. Exit code 0, or 2 on misuse.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <fcntl.h>
#include <io.h>
#include <string>

#include "control.h"
#include "front.h"

namespace {

constexpr int kMisuse = 2;

bool parse_number(const wchar_t* text, long long* value) {
    wchar_t* end = nullptr;
    *value = wcstoll(text, &end, 0);
    return end != text && *end == 0;
}

bool parse_hwnd(const wchar_t* text, HWND* hwnd) {
    wchar_t* end = nullptr;
    unsigned long long value = wcstoull(text, &end, 0);
    *hwnd = reinterpret_cast<HWND>(static_cast<uintptr_t>(value));
    return end != text && *end == 0;
}

// Hexadecimal UTF-8 bytes to UTF-16; empty on a malformed argument.
std::wstring text_from_hex(const wchar_t* hex) {
    std::string bytes;
    size_t n = wcslen(hex);
    if (n % 2 != 0) return L"";
    for (size_t i = 0; i < n; i += 2) {
        wchar_t pair[3] = {hex[i], hex[i + 1], 0};
        wchar_t* end = nullptr;
        long byte = wcstol(pair, &end, 16);
        if (*end != 0) return L"";
        bytes += static_cast<char>(byte);
    }
    if (bytes.empty()) return L"";
    int units = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()),
                                    nullptr, 0);
    std::wstring text(static_cast<size_t>(units), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0],
                        units);
    return text;
}

int print_text(const WCHAR* text, bool answered, bool with_answer) {
    if (with_answer) printf("%d ", answered ? 1 : 0);
    static const WCHAR empty[] = {0};
    write_json_escaped(stdout, text ? text : empty);
    putchar('\n');
    return 0;
}

int run_text_read(HWND hwnd, bool with_answer) {
    bool answered = false;
    WCHAR* text = with_answer ? read_edit_text_alloc(hwnd, &answered) : get_edit_text_alloc(hwnd);
    print_text(text, answered, with_answer);
    free(text);
    return 0;
}

int run_click(HWND hwnd, const wchar_t* x_text, const wchar_t* y_text, bool double_click) {
    long long x = 0, y = 0;
    if (!parse_number(x_text, &x) || !parse_number(y_text, &y)) return kMisuse;
    printf("%lld\n", static_cast<long long>(click_client(hwnd, static_cast<int32_t>(x),
                                                         static_cast<int32_t>(y), double_click)));
    return 0;
}

int run_command(int argc, wchar_t** argv) {
    HWND hwnd = nullptr;
    if (argc < 3 || !parse_hwnd(argv[2], &hwnd)) return kMisuse;
    const wchar_t* command = argv[1];
    if (wcscmp(command, L"gettext") == 0) return run_text_read(hwnd, false);
    if (wcscmp(command, L"readtext") == 0) return run_text_read(hwnd, true);
    if (argc < 4) return kMisuse;
    if (wcscmp(command, L"settext") == 0) {
        printf("%d\n", set_edit_text_safe(hwnd, argv[3]));
        return 0;
    }
    if (wcscmp(command, L"settext-hex") == 0) {
        std::wstring text = text_from_hex(argv[3]);
        printf("%d\n", set_edit_text_safe(hwnd, text.c_str()));
        return 0;
    }
    if (wcscmp(command, L"key") == 0) {
        long long vk = 0;
        if (!parse_number(argv[3], &vk)) return kMisuse;
        printf("%d\n", post_key_formal(hwnd, static_cast<UINT>(vk)));
        return 0;
    }
    if (argc < 5) return kMisuse;
    if (wcscmp(command, L"click") == 0) return run_click(hwnd, argv[3], argv[4], false);
    if (wcscmp(command, L"dblclick") == 0) return run_click(hwnd, argv[3], argv[4], true);
    return kMisuse;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    int rc = run_command(argc, argv);
    if (rc == kMisuse)
        fputs("Usage: primitives_driver settext|settext-hex|key|click|dblclick|gettext|readtext "
              "<hwnd> [args]\n",
              stderr);
    fflush(stdout);
    return rc;
}
