// The diagnosis: every window of the client's class and what chatdraft makes
// of it, the main window's views, every chat room with its input box, and
// the client's other top-level windows. Each decision is the window model's.
#include "inspect.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "documents.h"
#include "edit_box.h"
#include "text16.h"
#include "window_model.h"

namespace {

constexpr int kTextUnits = 513;   // titles are read as chatdraft reads them, at most 512 units

struct named_view {
    const char* name;
    HWND main_window_info::*field;
};

constexpr named_view kViews[] = {
    {"online_view", &main_window_info::online_view},
    {"lock_view", &main_window_info::lock_view},
    {"chat_list_view", &main_window_info::chat_list_view},
    {"search_box", &main_window_info::search_box},
    {"tab_strip", &main_window_info::tab_strip},
    {"room_list", &main_window_info::room_list},
    {"search_result_list", &main_window_info::search_result_list},
};

void write_bool(FILE* out, bool value) { fputs(value ? "true" : "false", out); }

struct class_name {
    WCHAR text[kClassUnits] = {};
    explicit class_name(HWND hwnd) { GetClassNameW(hwnd, text, kClassUnits - 1); }
};

BOOL CALLBACK collect_client_cb(HWND hwnd, LPARAM param) {
    if (is_client_class(hwnd)) reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
    return TRUE;
}

BOOL CALLBACK collect_child_cb(HWND hwnd, LPARAM param) {
    reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
    return TRUE;
}

// A window of the client's class, and what chatdraft makes of it.
struct client_window {
    HWND hwnd;
    DWORD pid;
    WCHAR title[kTextUnits];
    // "main", "second_main" (titled so, not taken), "room", "untitled", or
    // "other_process" (titled, of another process than the main window's:
    // no room of the client chatdraft serves)
    const char* kind;
};

std::vector<client_window> read_client_windows(const main_window_info& info) {
    std::vector<HWND> handles;
    enum_client_windows(collect_client_cb, reinterpret_cast<LPARAM>(&handles));
    std::vector<client_window> windows(handles.size());
    for (size_t i = 0; i < handles.size(); ++i) {
        client_window& w = windows[i];
        w.hwnd = handles[i];
        GetWindowThreadProcessId(w.hwnd, &w.pid);
        GetWindowTextW(w.hwnd, w.title, kTextUnits);
        if (w.hwnd == info.main_hwnd) w.kind = "main";
        else if (text16_equal(w.title, kMainTitle)) w.kind = "second_main";
        else if (!w.title[0]) w.kind = "untitled";
        else if (info.kakao_pid && w.pid != info.kakao_pid) w.kind = "other_process";
        else w.kind = "room";
    }
    return windows;
}

// The length an input box reports, the one message the inspector sends it;
// -1 when it does not answer.
long long input_length(HWND input) {
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(input, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &length))
        return -1;
    return static_cast<long long>(static_cast<intptr_t>(length));
}

void write_client(FILE* out, const std::vector<client_process>& clients, const main_window_info& info) {
    DWORD pid = info.kakao_pid;
    if (!pid && !clients.empty()) pid = clients.front().pid;
    const WCHAR* image = nullptr;
    for (const client_process& p : clients)
        if (p.pid == pid) image = p.image;
    fprintf(out, "\"client_pid\":%lu,\"client_image\":", static_cast<unsigned long>(pid));
    write_json_escaped(out, image);
}

void write_views(FILE* out, const main_window_info& info) {
    fputs(",\"views\":[", out);
    bool first = true;
    for (const named_view& view : kViews) {
        const HWND hwnd = info.*view.field;
        fprintf(out, "%s{\"view\":\"%s\",\"hwnd\":%llu,\"visible\":", first ? "" : ",", view.name,
                hwnd_number(hwnd));
        write_bool(out, hwnd && IsWindowVisible(hwnd));
        fputc('}', out);
        first = false;
    }
    fputc(']', out);
}

// A room: its input box as chatdraft finds it, or, without one, the classes
// of the room's children, which tell why.
void write_room(FILE* out, HWND hwnd, const WCHAR* title) {
    fprintf(out, "{\"hwnd\":%llu,\"title\":", hwnd_number(hwnd));
    write_json_escaped(out, title);
    const HWND input = find_input_box(hwnd, nullptr);
    fprintf(out, ",\"input_hwnd\":%llu,\"input_class\":", hwnd_number(input));
    write_json_escaped(out, input ? class_name(input).text : nullptr);
    fprintf(out, ",\"input_length\":%lld,\"child_classes\":[", input ? input_length(input) : -1);
    if (!input) {
        std::vector<HWND> children;
        EnumChildWindows(hwnd, collect_child_cb, reinterpret_cast<LPARAM>(&children));
        std::vector<std::wstring> seen;
        for (HWND child : children) {
            const class_name name(child);
            if (std::find(seen.begin(), seen.end(), name.text) != seen.end()) continue;
            if (!seen.empty()) fputc(',', out);
            seen.emplace_back(name.text);
            write_json_escaped(out, name.text);
        }
    }
    fputs("]}", out);
}

void write_client_windows(FILE* out, const std::vector<client_window>& windows) {
    fputs(",\"client_windows\":[", out);
    for (size_t i = 0; i < windows.size(); ++i) {
        const client_window& w = windows[i];
        fprintf(out, "%s{\"hwnd\":%llu,\"pid\":%lu,\"kind\":\"%s\",\"visible\":", i ? "," : "",
                hwnd_number(w.hwnd), static_cast<unsigned long>(w.pid), w.kind);
        write_bool(out, IsWindowVisible(w.hwnd) != FALSE);
        fputs(",\"title\":", out);
        write_json_escaped(out, w.title);
        fputc('}', out);
    }
    fputs("],\"rooms\":[", out);
    bool first = true;
    for (const client_window& w : windows) {
        if (strcmp(w.kind, "room") != 0) continue;
        if (!first) fputc(',', out);
        first = false;
        write_room(out, w.hwnd, w.title);
    }
    fputc(']', out);
}

void write_other_windows(FILE* out, const std::vector<client_process>& clients) {
    fputs(",\"other_windows\":[", out);
    bool first = true;
    for (HWND hwnd : client_top_level_windows(clients)) {
        if (is_client_class(hwnd)) continue;
        fprintf(out, "%s{\"hwnd\":%llu,\"class\":", first ? "" : ",", hwnd_number(hwnd));
        first = false;
        write_json_escaped(out, class_name(hwnd).text);
        fputs(",\"visible\":", out);
        write_bool(out, IsWindowVisible(hwnd) != FALSE);
        fputc('}', out);
    }
    fputc(']', out);
}

}  // namespace

void write_diagnosis(FILE* out) {
    main_window_info info{};
    find_main_window(&info);
    const std::vector<client_process> clients = find_client_processes();
    const std::vector<client_window> windows = read_client_windows(info);
    fputs("{\"status\":\"ok\",", out);
    write_client(out, clients, info);
    fprintf(out, ",\"main_hwnd\":%llu,\"login_state\":\"%s\"", hwnd_number(info.main_hwnd),
            detect_login_state(&info));
    write_views(out, info);
    write_client_windows(out, windows);
    write_other_windows(out, clients);
    fputs("}\n", out);
}
