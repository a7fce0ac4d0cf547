#include "fake_desktop.h"

#include <algorithm>
#include <cstdlib>

namespace {

fake_desktop* g_desk = nullptr;

fake_window* window_at(HWND hwnd) {
    int i = index_of(hwnd);
    if (!g_desk || i < 0 || i >= static_cast<int>(g_desk->windows.size())) return nullptr;
    fake_window* w = &g_desk->windows[static_cast<size_t>(i)];
    return w->alive ? w : nullptr;
}

int copy_out(const std::u16string& text, WCHAR* buffer, int max_count) {
    if (!buffer || max_count <= 0) return 0;
    int n = static_cast<int>(text.size()) < max_count - 1 ? static_cast<int>(text.size())
                                                           : max_count - 1;
    for (int i = 0; i < n; ++i) buffer[i] = text[static_cast<size_t>(i)];
    buffer[n] = 0;
    return n;
}

// A RichEdit reports every line break as CR LF, whatever was written.
std::u16string as_richedit(const WCHAR* text) {
    std::u16string out;
    for (size_t i = 0; text && text[i]; ++i) {
        if (text[i] == u'\r' || text[i] == u'\n') {
            out += u"\r\n";
            if (text[i] == u'\r' && text[i + 1] == u'\n') ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

size_t count_crlf(const std::u16string& text) {
    size_t n = 0;
    for (size_t i = 0; i + 1 < text.size(); ++i) n += text[i] == u'\r' && text[i + 1] == u'\n';
    return n;
}

LRESULT answer_text_message(fake_window* w, UINT msg, WPARAM wparam, LPARAM lparam) {
    switch (msg) {
    case WM_GETTEXTLENGTH:
        if (w->reported_length != INTPTR_MIN) return w->reported_length;
        if (w->counts_break_once) return static_cast<LRESULT>(w->text.size() - count_crlf(w->text));
        return static_cast<LRESULT>(w->text.size());
    case WM_GETTEXT:
        return copy_out(w->text, reinterpret_cast<WCHAR*>(lparam), static_cast<int>(wparam));
    case EM_REPLACESEL:
    case WM_SETTEXT:
        if (!w->ignores_writes) w->text = as_richedit(reinterpret_cast<const WCHAR*>(lparam));
        return 1;
    default:
        return 0;
    }
}

void enum_children(int parent, WNDENUMPROC proc, LPARAM param, bool* go_on) {
    for (size_t i = 0; i < g_desk->windows.size() && *go_on; ++i) {
        if (g_desk->windows[i].parent != parent || !g_desk->windows[i].alive) continue;
        *go_on = proc(handle_of(static_cast<int>(i)), param) != FALSE;
        if (*go_on) enum_children(static_cast<int>(i), proc, param, go_on);
    }
}

bool same_class_nocase(const std::u16string& a, const WCHAR* b) {
    auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; };
    size_t i = 0;
    for (; i < a.size() && b[i]; ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return i == a.size() && b[i] == 0;
}

// The kind of a read of this window: by its top-level ancestor.
read_kind kind_of(HWND hwnd) {
    int i = index_of(hwnd);
    if (i < 0 || i >= static_cast<int>(g_desk->windows.size())) return read_kind::top_level;
    if (g_desk->windows[static_cast<size_t>(i)].parent < 0) return read_kind::top_level;
    while (g_desk->windows[static_cast<size_t>(i)].parent >= 0) i = g_desk->windows[static_cast<size_t>(i)].parent;
    return g_desk->windows[static_cast<size_t>(i)].text == u"카카오톡" ? read_kind::main_child
                                                                   : read_kind::room_child;
}

void count_read(HWND hwnd) { ++g_desk->reads[static_cast<int>(kind_of(hwnd))]; }
void count_listing() { ++g_desk->reads[static_cast<int>(read_kind::listing)]; }

void handle_posted(const fake_event& e) {
    fake_window* w = window_at(e.hwnd);
    if (!w) return;
    if (e.msg == WM_CLOSE) w->alive = false;
    if (e.msg == WM_KEYDOWN && e.wparam == VK_RETURN && w->empties_on_enter) w->text.clear();
    if (g_desk->react) g_desk->react(e);
}

}  // namespace

fake_desktop_scope::fake_desktop_scope() : desk(*new fake_desktop) { g_desk = &desk; }
fake_desktop_scope::~fake_desktop_scope() {
    g_desk = nullptr;
    delete &desk;
}

fake_desktop& current_desktop() { return *g_desk; }
HWND handle_of(int index) { return reinterpret_cast<HWND>(static_cast<uintptr_t>(0x1000 + 16 * index)); }
int index_of(HWND hwnd) { return (static_cast<int>(reinterpret_cast<uintptr_t>(hwnd)) - 0x1000) / 16; }

int add_window(const std::u16string& class_name, const std::u16string& text, int parent) {
    fake_window w;
    w.class_name = class_name;
    w.text = text;
    w.parent = parent;
    w.z = static_cast<int64_t>(g_desk->windows.size());
    g_desk->windows.push_back(w);
    return static_cast<int>(g_desk->windows.size()) - 1;
}

int add_chat_room(const std::u16string& title, const std::u16string& draft) {
    int room = add_window(u"EVA_Window_Dblclk", title);
    int pane = add_window(u"EVA_ChildWindow", u"", room);
    int box = add_window(u"RICHEDIT50W", draft, pane);
    g_desk->windows[static_cast<size_t>(box)].empties_on_enter = true;
    return room;
}

std::vector<fake_event> events_to(HWND hwnd) {
    std::vector<fake_event> out;
    for (const fake_event& e : g_desk->log)
        if (e.hwnd == hwnd) out.push_back(e);
    return out;
}

main_window_views add_main_window() {
    main_window_views m{};
    m.main = add_window(u"EVA_Window_Dblclk", u"카카오톡");
    m.online = add_window(u"EVA_ChildWindow", u"OnlineMainView_1", m.main);
    m.chat_list = add_window(u"EVA_ChildWindow", u"ChatRoomListView_1", m.online);
    m.search = add_window(u"edit", u"", m.chat_list);
    m.tabs = add_window(u"EVA_Window_Dblclk", u"", m.chat_list);
    m.rooms = add_window(u"EVA_ChildWindow", u"ChatRoomListCtrl_1", m.chat_list);
    m.results = add_window(u"EVA_ChildWindow", u"SearchListCtrl_1", m.chat_list);
    return m;
}

int reads_of(read_kind kind) { return g_desk->reads[static_cast<int>(kind)]; }

void raise_window(int index) { g_desk->windows[static_cast<size_t>(index)].z = --g_desk->top_z; }
void lower_window(int index) { g_desk->windows[static_cast<size_t>(index)].z = ++g_desk->bottom_z; }

std::vector<int> top_level_order() {
    std::vector<int> order;
    for (size_t i = 0; g_desk && i < g_desk->windows.size(); ++i)
        if (g_desk->windows[i].parent < 0 && g_desk->windows[i].alive)
            order.push_back(static_cast<int>(i));
    std::stable_sort(order.begin(), order.end(), [](int a, int b) {
        return g_desk->windows[static_cast<size_t>(a)].z < g_desk->windows[static_cast<size_t>(b)].z;
    });
    return order;
}

// ---- the platform's calls ------------------------------------------------------
// This file is the desktop tests' platform for everything but conversion and
// files, which come from platform_posix.cpp.

// Like Wine: the list is taken first, windows that die meanwhile are skipped.
BOOL platform::EnumWindows(WNDENUMPROC proc, LPARAM param) {
    if (!g_desk) return TRUE;
    ++g_desk->enum_windows_calls;
    count_listing();
    for (int i : top_level_order()) {
        if (!g_desk->windows[static_cast<size_t>(i)].alive) continue;
        if (!proc(handle_of(i), param)) break;
    }
    return TRUE;
}

// Like Wine: each call lists the top-level windows of the class (ignoring
// case) afresh and answers the one after `after`; none when `after` is gone.
HWND platform::FindWindowExW(HWND parent, HWND after, const WCHAR* class_name,
                             const WCHAR* title) {
    if (!g_desk || parent || title) return nullptr;
    ++g_desk->find_calls;
    count_listing();
    if (!after) ++g_desk->find_walks;
    if (g_desk->before_find) g_desk->before_find(g_desk->find_calls);
    bool past = after == nullptr || g_desk->listing_unsettled;
    for (int i : top_level_order()) {
        if (!same_class_nocase(g_desk->windows[static_cast<size_t>(i)].class_name, class_name))
            continue;
        if (past) return handle_of(i);
        past = handle_of(i) == after;
    }
    return nullptr;
}

BOOL platform::EnumChildWindows(HWND parent, WNDENUMPROC proc, LPARAM param) {
    bool go_on = true;
    count_read(parent);
    if (window_at(parent)) enum_children(index_of(parent), proc, param, &go_on);
    return TRUE;
}

// A class name is two round trips to the server: the class's atom, then the
// atom's name.
int platform::GetClassNameW(HWND hwnd, WCHAR* buffer, int max_count) {
    ++g_desk->class_reads;
    count_read(hwnd);
    count_read(hwnd);
    fake_window* w = window_at(hwnd);
    return copy_out(w ? w->class_name : u"", buffer, max_count);
}

// Like the user atom table: one atom for each class name, ignoring case.
ULONG_PTR platform::GetClassLongPtrW(HWND hwnd, int index) {
    count_read(hwnd);
    fake_window* w = window_at(hwnd);
    if (!w || index != GCW_ATOM) return 0;
    std::vector<std::u16string>& names = g_desk->class_atoms;
    for (size_t i = 0; i < names.size(); ++i)
        if (same_class_nocase(names[i], w->class_name.c_str())) return 0xC000 + i;
    names.push_back(w->class_name);
    return 0xC000 + names.size() - 1;
}

int platform::GetWindowTextW(HWND hwnd, WCHAR* buffer, int max_count) {
    count_read(hwnd);
    fake_window* w = window_at(hwnd);
    return copy_out(w ? w->text : u"", buffer, max_count);
}

DWORD platform::GetWindowThreadProcessId(HWND hwnd, DWORD* pid) {
    count_read(hwnd);
    fake_window* w = window_at(hwnd);
    if (pid) *pid = w ? w->pid : 0;
    return w ? 1 : 0;
}

HWND platform::GetParent(HWND hwnd) {
    count_read(hwnd);
    fake_window* w = window_at(hwnd);
    return w && w->parent >= 0 ? handle_of(w->parent) : nullptr;
}

int platform::GetDlgCtrlID(HWND hwnd) {
    count_read(hwnd);
    fake_window* w = window_at(hwnd);
    return w ? w->ctrl_id : 0;
}

BOOL platform::IsWindowVisible(HWND hwnd) {
    count_read(hwnd);
    for (fake_window* w = window_at(hwnd); w; w = w->parent >= 0 ? window_at(handle_of(w->parent)) : nullptr) {
        if (!w->visible) return FALSE;
        if (w->parent < 0) return TRUE;
    }
    return FALSE;
}

BOOL platform::ShowWindowAsync(HWND hwnd, int cmd) {
    g_desk->log.push_back({hwnd, kShowWindowEvent, static_cast<WPARAM>(cmd), 0, false, u""});
    fake_window* w = window_at(hwnd);
    bool was_visible = w && w->visible;
    if (w && w->shows_on_request) w->visible = true;
    return was_visible;
}

LRESULT platform::SendMessageTimeoutW(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam,
                                      UINT, UINT, DWORD_PTR* result) {
    std::u16string carried;
    if (msg == EM_REPLACESEL || msg == WM_SETTEXT)
        carried = reinterpret_cast<const WCHAR*>(lparam);
    fake_event e{hwnd, msg, wparam, lparam, false, carried};
    g_desk->log.push_back(e);
    if (result) *result = 0;
    fake_window* w = window_at(hwnd);
    if (!w || !w->answers) return 0;
    g_desk->now_ms += w->answer_ms;
    if (w->silent_for > 0) {
        --w->silent_for;
        return 0;
    }
    LRESULT answer = answer_text_message(w, msg, wparam, lparam);
    if (result) *result = static_cast<DWORD_PTR>(answer);
    if (g_desk->react) g_desk->react(e);
    return 1;
}

BOOL platform::PostMessageW(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    fake_event e{hwnd, msg, wparam, lparam, true, u""};
    g_desk->log.push_back(e);
    if (!window_at(hwnd)) return FALSE;
    g_desk->queue.push_back(e);
    return TRUE;
}

void platform::Sleep(DWORD ms) {
    g_desk->sleeps.push_back(ms);
    g_desk->now_ms += ms;
    std::vector<fake_event> due;
    due.swap(g_desk->queue);
    for (const fake_event& e : due) handle_posted(e);
}

ULONGLONG platform::GetTickCount64() { return g_desk ? g_desk->now_ms : 0; }

void* platform::zeroed_alloc(size_t count, size_t size) {
    if (g_desk && g_desk->fail_calloc_at > 0 && --g_desk->fail_calloc_at == 0) return nullptr;
    return calloc(count, size);
}
