// primitives_driver: calls chatdraft's window-message primitives on windows
// given by handle, so that Wine tests can compare the messages the stand-in
// client logs with the expected traffic. One run takes any number of
// commands, carried out in order:
//
//   settext <hwnd> <units>     set_edit_text_safe; the text as UTF-16 units,
//                              four hex digits each ("-" for the empty text)
//   key <hwnd> <vk>            post_key_formal
//   click <hwnd> <x> <y>       send_click, single click
//   dblclick <hwnd> <x> <y>    send_click, double click
//   gettext <hwnd>             get_edit_text_alloc
//   readtext <hwnd>            read_edit_text_alloc (also tells how the read went)
//
// Numbers are decimal or 0x-prefixed hexadecimal. Each command prints one
// line of ASCII JSON on standard output (binary mode, LF):
//   {"cmd":"settext"}
//   {"cmd":"key","scan":S}                  S: the scan code the system maps vk to
//   {"cmd":"click"}                         likewise "dblclick"
//   {"cmd":"gettext","null":0,"text":"...","len":L}
//   {"cmd":"readtext","null":0,"read":"whole","text":"...","len":L}
// "null" is 1 when the read returned no buffer; texts escape every unit
// outside 0x20-0x7E as \uXXXX. A malformed command ends the run with the
// usage on standard error and exit code 2; otherwise the exit code is 0.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <string>

#include "edit_box.h"
#include "text16.h"

namespace {

constexpr int kMisuse = 2;

bool parse_number(const char* text, long long* value) {
    char* end = nullptr;
    *value = strtoll(text, &end, 0);
    return end != text && *end == 0;
}

bool parse_hwnd(const char* text, HWND* hwnd) {
    char* end = nullptr;
    unsigned long long value = strtoull(text, &end, 0);
    *hwnd = reinterpret_cast<HWND>(static_cast<uintptr_t>(value));
    return end != text && *end == 0;
}

bool parse_units(const char* hex, std::wstring* text) {
    text->clear();
    if (strcmp(hex, "-") == 0) return true;
    size_t n = strlen(hex);
    if (n == 0 || n % 4 != 0) return false;
    for (size_t i = 0; i < n; i += 4) {
        char unit[5] = {hex[i], hex[i + 1], hex[i + 2], hex[i + 3], 0};
        char* end = nullptr;
        unsigned long value = strtoul(unit, &end, 16);
        if (*end != 0) return false;
        text->push_back(static_cast<wchar_t>(value));
    }
    return true;
}

void print_json_text(const WCHAR* text) {
    putchar('"');
    for (size_t i = 0; text && text[i]; ++i) {
        unsigned unit = static_cast<unsigned>(text[i]);
        if (unit == '"' || unit == '\\')
            printf("\\%c", static_cast<char>(unit));
        else if (unit >= 0x20 && unit < 0x7F)
            putchar(static_cast<int>(unit));
        else
            printf("\\u%04x", unit);
    }
    putchar('"');
}

const char* box_read_name(box_read how) {
    switch (how) {
    case box_read::whole: return "whole";
    case box_read::cut: return "cut";
    default: return "unanswered";
    }
}

void run_text_read(HWND hwnd, bool with_answer) {
    box_read how = box_read::whole;
    WCHAR* text = with_answer ? read_edit_text_alloc(hwnd, &how) : get_edit_text_alloc(hwnd);
    printf("{\"cmd\":\"%s\",\"null\":%d,", with_answer ? "readtext" : "gettext", text ? 0 : 1);
    if (with_answer) printf("\"read\":\"%s\",", box_read_name(how));
    printf("\"text\":");
    print_json_text(text);
    printf(",\"len\":%u}\n", static_cast<unsigned>(text16_len(text)));
    free(text);
}

// Runs the command at argv[i]; returns how many arguments it took, 0 on misuse.
int run_command(char** argv, int i, int argc) {
    const char* name = argv[i];
    const int left = argc - i - 1;
    HWND hwnd = nullptr;
    if (left < 1 || !parse_hwnd(argv[i + 1], &hwnd)) return 0;
    if (strcmp(name, "gettext") == 0 || strcmp(name, "readtext") == 0) {
        run_text_read(hwnd, strcmp(name, "readtext") == 0);
        return 2;
    }
    if (strcmp(name, "settext") == 0) {
        std::wstring text;
        if (left < 2 || !parse_units(argv[i + 2], &text)) return 0;
        set_edit_text_safe(hwnd, text.c_str());
        printf("{\"cmd\":\"settext\"}\n");
        return 3;
    }
    long long a = 0, b = 0;
    if (strcmp(name, "key") == 0) {
        if (left < 2 || !parse_number(argv[i + 2], &a)) return 0;
        const UINT vk = static_cast<UINT>(a);
        post_key_formal(hwnd, vk);
        printf("{\"cmd\":\"key\",\"scan\":%u}\n", MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
        return 3;
    }
    const bool dbl = strcmp(name, "dblclick") == 0;
    if ((!dbl && strcmp(name, "click") != 0) || left < 3 || !parse_number(argv[i + 2], &a) ||
        !parse_number(argv[i + 3], &b))
        return 0;
    send_click(hwnd, static_cast<int32_t>(a), static_cast<int32_t>(b), dbl);
    printf("{\"cmd\":\"%s\"}\n", name);
    return 4;
}

}  // namespace

int main(int argc, char** argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    for (int i = 1; i < argc;) {
        const int used = run_command(argv, i, argc);
        if (used == 0) {
            fflush(stdout);
            fprintf(stderr, "Usage: primitives_driver {settext <hwnd> <units>|key <hwnd> <vk>|"
                            "click <hwnd> <x> <y>|dblclick <hwnd> <x> <y>|gettext <hwnd>|"
                            "readtext <hwnd>}...\n");
            return kMisuse;
        }
        i += used;
        fflush(stdout);
    }
    return 0;
}
