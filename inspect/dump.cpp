// The client's whole window tree: every window of its processes, top-level
// windows in z-order each followed by its descendants, with what the
// stand-in needs to build the same surface.
#include "inspect.h"

#include <cwchar>
#include <vector>

#include "client_layout.h"
#include "documents.h"
#include "edit_box.h"
#include "text16.h"
#include "window_model.h"

namespace {

constexpr int kTextUnits = 513;   // at most 512 units of a text

// Texts chatdraft looks for stay readable in a redacted tree.
constexpr const WCHAR* kKeptNames[] = {
    CLIENT_TEXT16(CLIENT_ONLINE_VIEW), CLIENT_TEXT16(CLIENT_LOCK_VIEW),
    CLIENT_TEXT16(CLIENT_CHAT_LIST_VIEW), CLIENT_TEXT16(CLIENT_ROOM_LIST),
    CLIENT_TEXT16(CLIENT_SEARCH_LIST),
};

// A text that begins with a name chatdraft looks for keeps that name; the
// rest, as every other text, becomes as many placeholder units.
void redact(WCHAR* text) {
    if (text16_equal(text, kMainTitle)) return;
    size_t kept = 0;
    for (const WCHAR* name : kKeptNames)
        if (text16_starts_with(text, name)) kept = text16_len(name);
    for (WCHAR* p = text + kept; *p; ++p) *p = 'x';
}

// An edit box of any kind: its length tells how long a draft it holds.
bool is_edit_class(const WCHAR* class_name) {
    WCHAR lower[kClassUnits] = {};
    for (int i = 0; class_name[i] && i < kClassUnits - 1; ++i) lower[i] = ascii_lower16(class_name[i]);
    for (const WCHAR* p = lower; *p; ++p)
        if (text16_starts_with(p, W16("edit"))) return true;
    return false;
}

struct tree_writer {
    FILE* out;
    bool redact;
    bool first;
};

void write_window(tree_writer* w, HWND hwnd, HWND parent) {
    WCHAR class_name[kClassUnits] = {};
    GetClassNameW(hwnd, class_name, kClassUnits - 1);
    WCHAR text[kTextUnits] = {};
    GetWindowTextW(hwnd, text, kTextUnits);
    if (w->redact) redact(text);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    RECT rect{};
    GetWindowRect(hwnd, &rect);
    if (parent) MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&rect), 2);
    const bool visible = (GetWindowLongW(hwnd, GWL_STYLE) & WS_VISIBLE) != 0;
    fprintf(w->out, "%s{\"hwnd\":%llu,\"parent\":%llu,\"pid\":%lu,\"class\":", w->first ? "" : ",",
            hwnd_number(hwnd), hwnd_number(parent), static_cast<unsigned long>(pid));
    w->first = false;
    write_json_escaped(w->out, class_name);
    fputs(",\"text\":", w->out);
    write_json_escaped(w->out, text);
    fprintf(w->out, ",\"id\":%d,\"visible\":%s,\"x\":%ld,\"y\":%ld,\"width\":%ld,\"height\":%ld",
            GetDlgCtrlID(hwnd), visible ? "true" : "false", rect.left, rect.top,
            rect.right - rect.left, rect.bottom - rect.top);
    if (is_edit_class(class_name)) {
        DWORD_PTR length = 0;
        const bool answered = SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG,
                                                  kSendTimeoutMs, &length) != 0;
        fprintf(w->out, ",\"text_length\":%lld",
                answered ? static_cast<long long>(static_cast<intptr_t>(length)) : -1LL);
    }
    fputc('}', w->out);
}

BOOL CALLBACK write_child_cb(HWND hwnd, LPARAM param) {
    write_window(reinterpret_cast<tree_writer*>(param), hwnd, GetParent(hwnd));
    return TRUE;
}

}  // namespace

void write_window_tree(FILE* out, bool redact) {
    const std::vector<client_process> clients = find_client_processes();
    fprintf(out, "{\"format\":\"chatdraft window tree\",\"version\":1,\"redacted\":%s,\"processes\":[",
            redact ? "true" : "false");
    for (size_t i = 0; i < clients.size(); ++i) {
        fprintf(out, "%s{\"pid\":%lu,\"image\":", i ? "," : "", static_cast<unsigned long>(clients[i].pid));
        write_json_escaped(out, clients[i].image);
        fputc('}', out);
    }
    fputs("],\"windows\":[", out);
    tree_writer writer{out, redact, true};
    for (HWND hwnd : client_top_level_windows(clients)) {
        write_window(&writer, hwnd, nullptr);
        EnumChildWindows(hwnd, write_child_cb, reinterpret_cast<LPARAM>(&writer));
    }
    fputs("]}\n", out);
}
