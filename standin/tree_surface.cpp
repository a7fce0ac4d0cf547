// A played window tree: which of its windows play the client's roles, as
// the stand-in reads the tree, and the windows themselves, built with the
// tree's classes, texts, ids, parents, visibility, places and order.
#include "standin.h"

#include <algorithm>
#include <cwchar>

namespace {

constexpr const WCHAR* kClientClass = L"EVA_Window_Dblclk";
constexpr const WCHAR* kMainTitle = L"\uCE74\uCE74\uC624\uD1A1";
constexpr const WCHAR* kAllTab = L"\uC804\uCCB4";
constexpr size_t kMaxDraftUnits = 1u << 20;   // a longer draft is played as a box that reports its length

bool same_class(const std::wstring& cls, const WCHAR* name) { return lstrcmpiW(cls.c_str(), name) == 0; }
bool is_rich_edit(const std::wstring& cls) { return _wcsnicmp(cls.c_str(), L"RichEdit", 8) == 0; }
bool is_box(const std::wstring& cls) { return is_rich_edit(cls) || same_class(cls, L"Edit"); }

bool begins_with(const std::wstring& text, const WCHAR* prefix)
{
    return text.compare(0, wcslen(prefix), prefix) == 0;
}

// Windows the system gives every GUI thread: the stand-in's threads get their own.
bool made_by_system(const tree_window& w)
{
    return w.parent_index < 0 && (same_class(w.cls, L"IME") || same_class(w.cls, L"MSCTFIME UI"));
}

std::wstring placeholder_draft(int64_t length)
{
    size_t units = length > 0 ? static_cast<size_t>(std::min<int64_t>(length, kMaxDraftUnits)) : 0;
    return std::wstring(units, L'x');
}

// The first window below `top` (its children only, or all its descendants)
// that passes the test; -1 when there is none or no `top`.
template <typename F>
int find_below(int top, bool children_only, F test)
{
    const std::vector<tree_window>& windows = state().tree.windows;
    if (top < 0) return -1;
    for (size_t i = static_cast<size_t>(top) + 1; i < windows[top].end; ++i) {
        if ((!children_only || windows[i].parent_index == top) && test(windows[i])) return static_cast<int>(i);
    }
    return -1;
}

int find_child_text(int top, const WCHAR* prefix)
{
    return find_below(top, true, [&](const tree_window& w) { return begins_with(w.text, prefix); });
}

int find_descendant_text(int top, const WCHAR* prefix)
{
    return find_below(top, false, [&](const tree_window& w) { return begins_with(w.text, prefix); });
}

void give_role(int index, role r)
{
    if (index >= 0 && state().tree_roles[index] == role::unknown) state().tree_roles[index] = r;
}

bool is_main_titled(const tree_window& w)
{
    return w.parent_index < 0 && same_class(w.cls, kClientClass) && w.text == kMainTitle;
}

// The client's main window: titled "카카오톡" with the online or lock view
// beneath, or else the first so titled.
int find_main()
{
    const std::vector<tree_window>& windows = state().tree.windows;
    int first = -1;
    for (size_t i = 0; i < windows.size(); ++i) {
        if (!is_main_titled(windows[i])) continue;
        int at = static_cast<int>(i);
        if (find_child_text(at, L"OnlineMainView") >= 0 || find_child_text(at, L"LockModeView") >= 0) return at;
        if (first < 0) first = at;
    }
    return first;
}

void read_main_roles(int main)
{
    give_role(main, role::main);
    give_role(find_child_text(main, L"OnlineMainView"), role::online_view);
    give_role(find_child_text(main, L"LockModeView"), role::lock_view);
    int chat_list = find_descendant_text(main, L"ChatRoomListView");
    give_role(chat_list, role::chat_list_view);
    auto edit = [](const tree_window& w) { return same_class(w.cls, L"Edit"); };
    int box = find_below(chat_list, true, edit);
    give_role(box >= 0 ? box : find_below(main, false, edit), role::search_box);
    give_role(find_below(chat_list, true, [](const tree_window& w) { return same_class(w.cls, kClientClass); }),
              role::tab_strip);
    give_role(find_descendant_text(main, L"ChatRoomListCtrl"), role::room_list);
    give_role(find_descendant_text(main, L"SearchListCtrl"), role::search_result_list);
}

// A room: its first RichEdit is its input box, holding as many placeholder
// units as the dumped box reported; a box that did not answer hangs.
void read_room(int top)
{
    const tree_window& w = state().tree.windows[top];
    room_entry entry{w.text, room_options{}, top};
    int input = find_below(top, false, [](const tree_window& b) { return is_rich_edit(b.cls); });
    give_role(top, role::room);
    give_role(input, role::input);
    entry.options.input_class = input >= 0 ? state().tree.windows[input].cls : std::wstring();
    if (input >= 0) {
        const tree_window& box = state().tree.windows[input];
        entry.options.draft = placeholder_draft(box.text_length);
        entry.options.huge = box.text_length > static_cast<int64_t>(kMaxDraftUnits);
        entry.options.huge_length = static_cast<uint64_t>(box.text_length);
        if (box.text_length < 0) entry.options.hang = hang_mode::ready;
    }
    state().scene.rooms.push_back(entry);
}

void read_top_level_role(int top, int main)
{
    const tree_window& w = state().tree.windows[top];
    if (!same_class(w.cls, kClientClass)) return;
    if (top == main) return;
    if (w.text == kMainTitle) give_role(top, role::fake_main);
    else if (w.text.empty()) give_role(top, role::untitled);
    else read_room(top);
}

void fail_window(size_t index, const wchar_t* what)
{
    const tree_window& w = state().tree.windows[index];
    log_line line = log_begin("error");
    log_word(line, "stage", "windows");
    log_text(line, "what", std::wstring(what) + L" window " + std::to_wstring(index + 1) + L" of class " + w.cls);
    log_emit(line);
}

// The module whose class makes the window: a RichEdit's DLL (or the
// stand-in's superclass of another spelling), or the stand-in itself for the
// system's Edit and for classes of its own, registered as they come.
HINSTANCE class_instance(const std::wstring& cls)
{
    if (is_rich_edit(cls)) return input_instance(cls);
    if (same_class(cls, L"Edit")) return state().instance;
    return ensure_window_class(cls) ? state().instance : nullptr;
}

HWND create_tree_hwnd(const tree_window& w, HWND parent)
{
    const bool box = is_box(w.cls);
    HINSTANCE inst = class_instance(w.cls);
    if (!inst) return nullptr;
    DWORD style = parent ? WS_CHILD | (w.visible ? WS_VISIBLE : 0) : WS_OVERLAPPEDWINDOW;
    if (is_rich_edit(w.cls)) style |= ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL | WS_VSCROLL;
    else if (box) style |= ES_AUTOHSCROLL | WS_BORDER;
    HMENU id = parent ? reinterpret_cast<HMENU>(static_cast<INT_PTR>(w.id)) : nullptr;
    HWND hwnd = CreateWindowExW(0, w.cls.c_str(), box ? L"" : w.text.c_str(), style, w.x, w.y, w.width, w.height,
                                parent, id, inst, nullptr);
    // Shown without activation, as every top-level window of the stand-in.
    if (hwnd && !parent && w.visible) ShowWindow(hwnd, SW_SHOWNOACTIVATE);
    return hwnd;
}

void note_role_window(role r, HWND hwnd, room_state* room)
{
    standin_state& s = state();
    if (r == role::main) s.main = hwnd;
    if (r == role::search_box) s.search_box = hwnd;
    if (r == role::search_result_list) s.result_list = hwnd;
    if (r == role::room) {
        room->hwnd = hwnd;
        room->open = true;
    }
}

// One window of the tree under `parent` (null: top-level) with its role's
// record; an Edit or RichEdit is the real control, subclassed.
HWND create_tree_window(size_t index, HWND parent, room_state* room)
{
    const tree_window& w = state().tree.windows[index];
    const role r = state().tree_roles[index];
    HWND hwnd = create_tree_hwnd(w, parent);
    if (!hwnd) return nullptr;
    if (r == role::input) return attach_input(room, hwnd) ? hwnd : nullptr;
    note_role_window(r, hwnd, room);
    win_rec* rec = attach_rec(hwnd, r, room);
    if (is_box(w.cls)) {
        SetWindowTextW(hwnd, placeholder_draft(w.text_length).c_str());
        rec->original = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(box_proc)));
    }
    log_window(rec);
    return hwnd;
}

// A top-level window and all its descendants, in the tree's order, so that
// each window's children stand in the tree's order too.
bool create_branch(size_t top, room_state* room)
{
    const std::vector<tree_window>& windows = state().tree.windows;
    std::vector<HWND> made(windows[top].end - top);
    for (size_t i = top; i < windows[top].end; ++i) {
        HWND parent = i == top ? nullptr : made[windows[i].parent_index - top];
        made[i - top] = create_tree_window(i, parent, room);
        if (!made[i - top]) {
            fail_window(i, L"cannot create");
            return false;
        }
    }
    return true;
}

const room_entry* room_at(size_t top)
{
    for (const room_entry& entry : state().scene.rooms) {
        if (entry.tree_index == static_cast<int>(top)) return &entry;
    }
    return nullptr;
}

}  // namespace

void read_tree_roles()
{
    standin_state& s = state();
    const std::vector<tree_window>& windows = s.tree.windows;
    s.tree_roles.assign(windows.size(), role::unknown);
    int main = find_main();
    if (main >= 0) read_main_roles(main);
    for (size_t i = 0; i < windows.size(); ++i) {
        if (windows[i].parent_index < 0) read_top_level_role(static_cast<int>(i), main);
    }
    // The dump holds no tab's rows: "전체" lists the tree's rooms.
    tab_entry all{kAllTab, {}};
    for (const room_entry& entry : s.scene.rooms) all.rows.push_back(entry.title);
    s.scene.tabs.push_back(all);
}

// Top-level windows are made bottom first: a new window goes on top, so the
// tree's first window ends on top and EnumWindows lists them in its order.
bool create_tree_windows()
{
    const std::vector<tree_window>& windows = state().tree.windows;
    for (size_t i = windows.size(); i-- > 0;) {
        if (windows[i].parent_index >= 0 || made_by_system(windows[i])) continue;
        const room_entry* room = room_at(i);
        if (room ? !create_room(*room) : !create_branch(i, nullptr)) return false;
    }
    return true;
}

bool create_tree_room(room_state* rs)
{
    return create_branch(static_cast<size_t>(rs->tree_index), rs);
}
