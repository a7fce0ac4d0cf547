// Creation of the stand-in's windows: the main window tree, the rooms (on
// the main thread, or on a thread of their own when they are to hang) and
// the extra windows of stress scenarios.
#include "standin.h"

namespace {

constexpr const WCHAR* kEvaClass = L"EVA_Window_Dblclk";
constexpr const WCHAR* kViewClass = L"StandinView";
constexpr const WCHAR* kPlainClass = L"StandinPlainWindow";
constexpr const WCHAR* kProp = L"StandinRec";
constexpr const WCHAR* kMainTitle = L"\uCE74\uCE74\uC624\uD1A1";
constexpr DWORD kThreadStartTimeoutMs = 10000;
constexpr int kInputId = 1001;

struct room_thread_start {
    room_state* room;
    HANDLE created;
};

RECT top_rect(int x, int y) { return RECT{x, y, x + 400, y + 600}; }

HWND create_child(HWND parent, const WCHAR* cls, const WCHAR* text, DWORD style, RECT r, int id, HINSTANCE inst)
{
    return CreateWindowExW(0, cls, text, WS_CHILD | style, r.left, r.top, r.right - r.left, r.bottom - r.top,
                           parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), inst, nullptr);
}

DWORD visible_style(visibility v) { return v == visibility::visible ? WS_VISIBLE : 0; }

HWND add_view(HWND parent, role r, const WCHAR* text, DWORD style, RECT rc, int id)
{
    HWND hwnd = create_child(parent, kViewClass, text, style, rc, id, state().instance);
    if (!hwnd) return nullptr;
    log_window(attach_rec(hwnd, r, nullptr));
    return hwnd;
}

bool create_search_box(HWND chat_list)
{
    const scenario& sc = state().scene;
    HWND box = create_child(chat_list, L"Edit", L"", visible_style(sc.search_box) | ES_AUTOHSCROLL | WS_BORDER,
                            RECT{10, 10, 380, 40}, 2001, state().instance);
    if (!box) return false;
    win_rec* rec = attach_rec(box, role::search_box, nullptr);
    rec->original = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(box, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(box_proc)));
    state().search_box = box;
    log_window(rec);
    return true;
}

bool create_chat_list(HWND parent)
{
    const scenario& sc = state().scene;
    HWND view = add_view(parent, role::chat_list_view, L"ChatRoomListView", WS_VISIBLE, RECT{0, 0, 400, 600}, 3000);
    if (!view) return false;
    if (sc.search_box != visibility::absent && !create_search_box(view)) return false;
    if (sc.tab_strip) {
        HWND tabs = create_child(view, kEvaClass, L"", WS_VISIBLE, RECT{0, 40, 400, 90}, 3001, state().instance);
        if (!tabs) return false;
        log_window(attach_rec(tabs, role::tab_strip, nullptr));
    }
    if (sc.room_list && !add_view(view, role::room_list, L"ChatRoomListCtrl", WS_VISIBLE, RECT{0, 90, 400, 600}, 3002))
        return false;
    if (sc.result_list != visibility::absent) {
        state().result_list = add_view(view, role::search_result_list, L"SearchListCtrl",
                                       visible_style(sc.result_list), RECT{0, 90, 400, 600}, 3003);
        if (!state().result_list) return false;
    }
    return true;
}

bool create_main_tree()
{
    const scenario& sc = state().scene;
    HWND main = create_top(kEvaClass, kMainTitle, top_rect(0, 0), true);
    if (!main) return false;
    state().main = main;
    log_window(attach_rec(main, role::main, nullptr));
    HWND online = nullptr;
    if (sc.online != visibility::absent) {
        online = add_view(main, role::online_view, L"OnlineMainView", visible_style(sc.online), RECT{0, 0, 400, 600}, 100);
        if (!online) return false;
    }
    if (sc.lock != visibility::absent &&
        !add_view(main, role::lock_view, L"LockModeView", visible_style(sc.lock), RECT{0, 0, 400, 600}, 101))
        return false;
    return !sc.chat_list || create_chat_list(online ? online : main);
}

// A class of this name of the stand-in's own (the system's classes of the
// same name do not count).
bool has_own_class(const std::wstring& name)
{
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    return GetClassInfoExW(state().instance, name.c_str(), &wc) && wc.hInstance == state().instance;
}

// A RichEdit under a class name that differs from the system's (another
// letter case, a near miss): a superclass registered under that exact name.
bool ensure_input_superclass(const std::wstring& name)
{
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    if (has_own_class(name)) return true;
    if (!GetClassInfoExW(state().msftedit, L"RICHEDIT50W", &wc)) return false;
    wc.hInstance = state().instance;
    wc.lpszClassName = name.c_str();
    wc.style &= ~CS_GLOBALCLASS;
    return RegisterClassExW(&wc) != 0;
}

bool create_input(room_state* rs)
{
    const std::wstring& cls = rs->options.input_class;
    HINSTANCE inst = input_instance(cls);
    if (!inst) return false;
    HWND box = create_child(rs->hwnd, cls.c_str(), L"", WS_VISIBLE | ES_MULTILINE | ES_WANTRETURN | ES_AUTOVSCROLL | WS_VSCROLL,
                            RECT{0, 450, 400, 560}, kInputId, inst);
    return box && attach_input(rs, box);
}

bool create_room_windows(room_state* rs)
{
    if (rs->tree_index >= 0) return create_tree_room(rs);
    int n = static_cast<int>(state().rooms.size());
    rs->hwnd = create_top(kEvaClass, rs->title, top_rect(420 + (n % 20) * 10, (n % 20) * 10), true);
    if (!rs->hwnd) return false;
    rs->open = true;
    log_window(attach_rec(rs->hwnd, role::room, rs));
    HWND chat_log = create_child(rs->hwnd, kViewClass, L"", WS_VISIBLE, RECT{0, 0, 400, 440}, 1000, state().instance);
    if (chat_log) log_window(attach_rec(chat_log, role::chat_log, rs));
    if (rs->options.input_class.empty()) return true;
    if (create_input(rs)) return true;
    log_line line = log_begin("error");
    log_text(line, "what", L"cannot create input box of class " + rs->options.input_class);
    log_emit(line);
    return false;
}

void hang_now(room_state* rs)
{
    log_line line = log_begin("hang");
    log_u64(line, "hwnd", reinterpret_cast<uintptr_t>(rs->hwnd));
    log_text(line, "room", rs->title);
    if (rs->options.hang_for_ms == kForever) log_word(line, "ms", "forever");
    else log_u64(line, "ms", rs->options.hang_for_ms);
    log_emit(line);
    Sleep(rs->options.hang_for_ms);
    line = log_begin("hang_end");
    log_u64(line, "hwnd", reinterpret_cast<uintptr_t>(rs->hwnd));
    log_text(line, "room", rs->title);
    log_emit(line);
}

DWORD WINAPI room_thread(void* param)
{
    auto* start = static_cast<room_thread_start*>(param);
    room_state* rs = start->room;
    bool ok = create_room_windows(rs);
    SetEvent(start->created);  // start lives on the opener's stack: not touched after this
    if (!ok) return 1;
    if (rs->options.hang == hang_mode::ready) {
        WaitForSingleObject(state().ready_event, INFINITE);
        hang_now(rs);
    }
    run_message_loop();
    return 0;
}

bool start_room_thread(room_state* rs)
{
    room_thread_start start{rs, CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    if (!start.created) return false;
    HANDLE thread = CreateThread(nullptr, 0, room_thread, &start, 0, nullptr);
    bool ok = thread && WaitForSingleObject(start.created, kThreadStartTimeoutMs) == WAIT_OBJECT_0;
    if (thread) CloseHandle(thread);
    CloseHandle(start.created);
    return ok && rs->hwnd;
}

const room_entry* entry_for(const std::wstring& title)
{
    for (const room_entry& entry : state().scene.rooms) {
        if (entry.title == title) return &entry;
    }
    return nullptr;
}

bool create_extra(const start_window& w)
{
    int n = static_cast<int>(state().rooms.size());
    if (w.kind == extra_kind::room) return create_room(state().scene.rooms[w.room_index]) != nullptr;
    const WCHAR* cls = w.kind == extra_kind::plain ? kPlainClass : kEvaClass;
    HWND hwnd = create_top(cls, w.title, top_rect(20 + (n % 20) * 10, 20), true);
    if (!hwnd) return false;
    role r = w.kind == extra_kind::plain ? role::plain : w.kind == extra_kind::bare ? role::bare
             : w.kind == extra_kind::untitled ? role::untitled : role::fake_main;
    log_window(attach_rec(hwnd, r, nullptr));
    return true;
}

bool register_class(const WCHAR* name)
{
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = window_proc;
    wc.hInstance = state().instance;
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = name;
    return RegisterClassExW(&wc) != 0;
}

}  // namespace

standin_state& state()
{
    static standin_state s;
    return s;
}

win_rec* attach_rec(HWND hwnd, role r, room_state* room)
{
    auto* rec = new win_rec{r, hwnd, room, nullptr};
    SetPropW(hwnd, kProp, rec);
    return rec;
}

win_rec* rec_of(HWND hwnd)
{
    return static_cast<win_rec*>(GetPropW(hwnd, kProp));
}

void detach_rec(HWND hwnd)
{
    delete static_cast<win_rec*>(RemovePropW(hwnd, kProp));
}

bool register_classes()
{
    return register_class(kEvaClass) && register_class(kViewClass) && register_class(kPlainClass);
}

HWND create_top(const WCHAR* cls, const std::wstring& title, RECT r, bool show)
{
    HWND hwnd = CreateWindowExW(0, cls, title.c_str(), WS_OVERLAPPEDWINDOW, r.left, r.top, r.right - r.left,
                                r.bottom - r.top, nullptr, nullptr, state().instance, nullptr);
    // Shown without activation, so that any activation seen later was caused
    // by whoever talks to the stand-in.
    if (hwnd && show) ShowWindow(hwnd, SW_SHOWNOACTIVATE);
    return hwnd;
}

// A RichEdit of the system's class names, or under another name (another
// letter case, a near miss) a superclass registered under that exact name.
HINSTANCE input_instance(const std::wstring& cls)
{
    if (cls == L"RICHEDIT50W") return state().msftedit;
    if (cls == L"RichEdit20W") return state().riched20;
    return ensure_input_superclass(cls) ? state().instance : nullptr;
}

// Makes a box the room's input box: its draft, Enter through EN_MSGFILTER,
// and the subclass that logs what it gets.
bool attach_input(room_state* rs, HWND box)
{
    SetWindowTextW(box, rs->options.draft.c_str());
    SendMessageW(box, EM_SETEVENTMASK, 0, ENM_KEYEVENTS | ENM_CHANGE);
    win_rec* rec = attach_rec(box, role::input, rs);
    rec->original = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(box, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(input_proc)));
    rs->input = box;
    log_window(rec);
    return true;
}

// A class of the stand-in's own under this name, registered when missing.
bool ensure_window_class(const std::wstring& name)
{
    return has_own_class(name) || register_class(name.c_str());
}

room_state* create_room(const room_entry& entry)
{
    auto* rs = new room_state;
    rs->title = entry.title;
    rs->options = entry.options;
    rs->tree_index = entry.tree_index;
    rs->own_thread = entry.options.hang != hang_mode::none || entry.options.slow_ms > 0;
    bool ok = rs->own_thread ? start_room_thread(rs) : create_room_windows(rs);
    EnterCriticalSection(&state().lock);
    state().rooms.push_back(rs);
    LeaveCriticalSection(&state().lock);
    return ok ? rs : nullptr;
}

bool create_start_windows()
{
    if (state().tree_mode) return create_tree_windows();
    if (state().scene.main_present && !create_main_tree()) return false;
    for (const start_window& w : state().scene.start) {
        if (!create_extra(w)) return false;
    }
    return true;
}

room_state* find_open_room(const std::wstring& title)
{
    room_state* found = nullptr;
    EnterCriticalSection(&state().lock);
    for (room_state* rs : state().rooms) {
        if (rs->open && rs->title == title) { found = rs; break; }
    }
    LeaveCriticalSection(&state().lock);
    return found;
}

void open_room(const std::wstring& title, const char* how)
{
    room_state* open = find_open_room(title);
    log_line line = log_begin(open ? "already_open" : "opened");
    log_text(line, "room", title);
    log_word(line, "how", how);
    if (open) {
        log_u64(line, "hwnd", reinterpret_cast<uintptr_t>(open->hwnd));
        log_emit(line);
        return;
    }
    const room_entry* known = entry_for(title);
    room_state* rs = create_room(known ? *known : room_entry{title, room_options{}});
    log_u64(line, "hwnd", rs ? reinterpret_cast<uintptr_t>(rs->hwnd) : 0);
    log_emit(line);
}

void hang_room(room_state* rs)
{
    hang_now(rs);
}
