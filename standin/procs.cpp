// Window procedures of the stand-in: what every window logs, and how the
// rooms, the search box, the tab strip and the lists react.
#include "standin.h"

#include <cstring>
#include <cwchar>
#include <iterator>

namespace {

// The posted message being dispatched on this thread, so a procedure can
// tell a posted message from one its own thread sent.
thread_local const MSG* t_dispatching = nullptr;
thread_local bool t_consumed = false;
thread_local int t_closing = 0;
thread_local int t_depth = 0;  // stand-in window procedures running on this thread

constexpr const WCHAR* kPlaceholder = L"\uBA54\uC2DC\uC9C0 \uC785\uB825";
constexpr size_t kPlaceholderUnits = 6;
constexpr const WCHAR* kTabNames[] = {L"\uC804\uCCB4", L"\uC548\uC77D\uC74C", L"\uAC00\uC871", L"\uC5C5\uBB34",
                                      L"\uAD50\uC0AC"};
// Right edge (exclusive) of each tab's x range, split at the midpoints
// between the points chatdraft clicks (54, 140, 223, 290, 356).
constexpr int kTabEnds[] = {97, 182, 257, 323, 0x7FFFFFFF};
static_assert(std::size(kTabNames) == std::size(kTabEnds), "one range per tab");
constexpr int kRowTop = 8;
constexpr int kRowHeight = 81;

struct message_name {
    UINT id;
    const char* name;
};

constexpr message_name kMessageNames[] = {
    {WM_MOUSEMOVE, "WM_MOUSEMOVE"}, {WM_LBUTTONDOWN, "WM_LBUTTONDOWN"}, {WM_LBUTTONUP, "WM_LBUTTONUP"},
    {WM_LBUTTONDBLCLK, "WM_LBUTTONDBLCLK"}, {WM_RBUTTONDOWN, "WM_RBUTTONDOWN"}, {WM_RBUTTONUP, "WM_RBUTTONUP"},
    {WM_MOUSEWHEEL, "WM_MOUSEWHEEL"}, {WM_KEYDOWN, "WM_KEYDOWN"}, {WM_KEYUP, "WM_KEYUP"}, {WM_CHAR, "WM_CHAR"},
    {WM_SYSKEYDOWN, "WM_SYSKEYDOWN"}, {WM_SYSKEYUP, "WM_SYSKEYUP"}, {WM_SYSCHAR, "WM_SYSCHAR"},
    {WM_ACTIVATE, "WM_ACTIVATE"}, {WM_ACTIVATEAPP, "WM_ACTIVATEAPP"}, {WM_NCACTIVATE, "WM_NCACTIVATE"},
    {WM_MOUSEACTIVATE, "WM_MOUSEACTIVATE"}, {WM_SETFOCUS, "WM_SETFOCUS"}, {WM_KILLFOCUS, "WM_KILLFOCUS"},
    {WM_GETTEXTLENGTH, "WM_GETTEXTLENGTH"}, {WM_GETTEXT, "WM_GETTEXT"}, {WM_SETTEXT, "WM_SETTEXT"},
    {EM_SETSEL, "EM_SETSEL"}, {EM_REPLACESEL, "EM_REPLACESEL"}, {WM_COMMAND, "WM_COMMAND"},
    {WM_CLOSE, "WM_CLOSE"}, {WM_SHOWWINDOW, "WM_SHOWWINDOW"},
};

enum class traffic { none, mouse, key, activate, focus };

traffic traffic_kind(UINT msg)
{
    switch (msg) {
    case WM_MOUSEMOVE: case WM_LBUTTONDOWN: case WM_LBUTTONUP: case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN: case WM_RBUTTONUP: case WM_MOUSEWHEEL:
        return traffic::mouse;
    case WM_KEYDOWN: case WM_KEYUP: case WM_CHAR: case WM_SYSKEYDOWN: case WM_SYSKEYUP: case WM_SYSCHAR:
        return traffic::key;
    case WM_ACTIVATE: case WM_ACTIVATEAPP: case WM_NCACTIVATE: case WM_MOUSEACTIVATE:
        return traffic::activate;
    case WM_SETFOCUS: case WM_KILLFOCUS:
        return traffic::focus;
    default:
        return traffic::none;
    }
}

void log_message_name(log_line& line, UINT msg)
{
    for (const message_name& m : kMessageNames) {
        if (m.id == msg) { log_word(line, "name", m.name); return; }
    }
    log_hex(line, "name", msg);
}

// A key message's lParam is a 32-bit field of flags: it is shown unsigned, so a
// 32-bit build logs a key-up as a 64-bit one does. Other values (EM_SETSEL's
// -1, points) are shown widened with their sign on both builds.
uint64_t logged_lparam(UINT msg, LPARAM lp)
{
    const bool key = msg >= WM_KEYFIRST && msg <= WM_KEYLAST;
    if (key && sizeof(LPARAM) == 4) return static_cast<uint32_t>(lp);
    return static_cast<uint64_t>(static_cast<int64_t>(lp));
}

log_line begin_message(const char* event, const win_rec* rec, UINT msg, WPARAM wp, LPARAM lp, const char* via)
{
    log_line line = log_begin(event);
    log_message_name(line, msg);
    add_target(line, rec);
    log_word(line, "via", via);
    log_hex(line, "wparam", wp);
    log_hex(line, "lparam", logged_lparam(msg, lp));
    return line;
}

// The input box's or search box's text as the control itself holds it,
// read past the subclass so the read is not logged as traffic.
std::wstring control_text(const win_rec* rec)
{
    LRESULT n = CallWindowProcW(rec->original, rec->hwnd, WM_GETTEXTLENGTH, 0, 0);
    if (n <= 0) return std::wstring();
    std::wstring text(static_cast<size_t>(n) + 1, L'\0');
    LRESULT got = CallWindowProcW(rec->original, rec->hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]));
    text.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return text;
}

void set_control_text(const win_rec* rec, const WCHAR* text)
{
    CallWindowProcW(rec->original, rec->hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

bool is_self(const char* via) { return strcmp(via, "self") == 0; }

void log_room_event(const char* event, const room_state* rs)
{
    log_line line = log_begin(event);
    log_u64(line, "hwnd", reinterpret_cast<uintptr_t>(rs->hwnd));
    log_text(line, "room", rs->title);
    log_emit(line);
}

// ------------------------------------------------------------ input box

bool placeholder_shown(const win_rec* rec)
{
    return rec->room->options.placeholder && CallWindowProcW(rec->original, rec->hwnd, WM_GETTEXTLENGTH, 0, 0) == 0;
}

LRESULT answer_text_length(const win_rec* rec)
{
    // A 32-bit build answers the largest length it can express rather than
    // a cut (possibly negative) number.
    constexpr uint64_t kMaxResult = static_cast<uint64_t>(static_cast<ULONG_PTR>(-1) >> 1);
    if (rec->room->options.huge)
        return static_cast<LRESULT>(rec->room->options.huge_length < kMaxResult ? rec->room->options.huge_length : kMaxResult);
    if (placeholder_shown(rec)) return kPlaceholderUnits;
    if (rec->room->options.break_counts_once) {
        // As a RichEdit asked without GTL_USECRLF: a paragraph break is one unit.
        std::wstring text = control_text(rec);
        LRESULT n = static_cast<LRESULT>(text.size());
        for (size_t i = 0; i + 1 < text.size(); ++i) n -= text[i] == L'\r' && text[i + 1] == L'\n';
        return n;
    }
    return CallWindowProcW(rec->original, rec->hwnd, WM_GETTEXTLENGTH, 0, 0);
}

LRESULT answer_text(const win_rec* rec, WPARAM capacity, WCHAR* buffer)
{
    if (!placeholder_shown(rec)) return CallWindowProcW(rec->original, rec->hwnd, WM_GETTEXT, capacity, reinterpret_cast<LPARAM>(buffer));
    if (capacity == 0) return 0;
    size_t n = capacity - 1 < kPlaceholderUnits ? capacity - 1 : kPlaceholderUnits;
    wmemcpy(buffer, kPlaceholder, n);
    buffer[n] = 0;
    return static_cast<LRESULT>(n);
}

bool is_box_text_message(UINT msg)
{
    return msg == WM_GETTEXTLENGTH || msg == WM_GETTEXT || msg == EM_SETSEL || msg == EM_REPLACESEL || msg == WM_SETTEXT;
}

void arm_input_hang(win_rec* rec, UINT msg, const char* via)
{
    room_state* rs = rec->room;
    if (rs->options.hang != hang_mode::input || rs->hang_armed || is_self(via)) return;
    if (!is_box_text_message(msg) && traffic_kind(msg) != traffic::key && traffic_kind(msg) != traffic::mouse) return;
    rs->hang_armed = true;
    SetTimer(rs->hwnd, kTimerHang, rs->options.hang_after_ms, nullptr);
}

// hang=read:N: the room stops inside its input box's Nth length query, so
// that exact query goes unanswered however the machine schedules the threads.
void hang_at_length_read(win_rec* rec, UINT msg, const char* via)
{
    room_state* rs = rec->room;
    if (rs->options.hang != hang_mode::read || msg != WM_GETTEXTLENGTH || is_self(via)) return;
    if (++rs->length_reads == rs->options.hang_at_read) hang_room(rs);
}

// A read of a box: the input box may answer with its placeholder or a huge
// length; the search box answers as an Edit control does.
LRESULT answer_read(const win_rec* rec, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_GETTEXT && !lp) return 0;
    if (rec->r != role::input) return CallWindowProcW(rec->original, rec->hwnd, msg, wp, lp);
    return msg == WM_GETTEXTLENGTH ? answer_text_length(rec) : answer_text(rec, wp, reinterpret_cast<WCHAR*>(lp));
}

// Logs a text message from another program to a box and answers the reads;
// handled is false when the caller should pass the message on to the control.
LRESULT box_text_message(win_rec* rec, UINT msg, WPARAM wp, LPARAM lp, const char* via, bool& handled)
{
    handled = false;
    if (is_self(via)) return 0;
    log_line line = begin_message("msg", rec, msg, wp, lp, via);
    LRESULT result = 0;
    if (msg == WM_GETTEXTLENGTH || msg == WM_GETTEXT) {
        handled = true;
        result = answer_read(rec, msg, wp, lp);
        log_i64(line, "result", result);
        if (msg == WM_GETTEXT && result > 0) log_text(line, "text", reinterpret_cast<const WCHAR*>(lp), static_cast<size_t>(result));
    } else if ((msg == EM_REPLACESEL || msg == WM_SETTEXT) && lp) {
        const WCHAR* text = reinterpret_cast<const WCHAR*>(lp);
        log_text(line, "text", text, wcslen(text));
    }
    log_emit(line);
    return result;
}

// ------------------------------------------------------------ rooms

void close_room(room_state* rs, const char* by)
{
    log_line line = log_begin("closed");
    log_u64(line, "hwnd", reinterpret_cast<uintptr_t>(rs->hwnd));
    log_text(line, "room", rs->title);
    log_word(line, "by", by);
    log_emit(line);
    ++t_closing;
    DestroyWindow(rs->hwnd);
    --t_closing;
}

void empty_input(room_state* rs)
{
    win_rec* rec = rec_of(rs->input);
    if (!rec) return;
    set_control_text(rec, L"");
    log_room_event("emptied", rs);
}

void log_room_text(const char* event, const room_state* rs, const std::wstring& text, const char* mode)
{
    log_line line = log_begin(event);
    log_u64(line, "hwnd", reinterpret_cast<uintptr_t>(rs->hwnd));
    log_text(line, "room", rs->title);
    log_text(line, "text", text);
    if (mode) log_word(line, "mode", mode);
    log_emit(line);
}

void press_enter(room_state* rs)
{
    static constexpr const char* kModes[] = {"normal", "stuck", "delay", "close", "exit"};
    win_rec* rec = rec_of(rs->input);
    if (!rec) return;
    std::wstring text = control_text(rec);
    send_mode mode = rs->options.send;
    log_room_text("enter", rs, text, kModes[static_cast<int>(mode)]);
    if (rs->options.hang == hang_mode::enter) hang_room(rs);
    if (mode == send_mode::exit) {
        log_emit(log_begin("exit reason=enter"));
        ExitProcess(0);
    }
    // Closing from inside the box's own key handling would pull the box
    // away under the RichEdit; the room closes once this message is done.
    if (mode == send_mode::close) PostMessageW(rs->hwnd, kMsgCloseSelf, 0, 0);
    if (mode == send_mode::close || mode == send_mode::stuck || text.empty()) return;
    log_room_text("send", rs, text, nullptr);
    if (mode == send_mode::delay) SetTimer(rs->hwnd, kTimerSendDelay, rs->options.send_delay_ms, nullptr);
    else empty_input(rs);
}

// Keys reach a chat input through EN_MSGFILTER: Enter sends, and the
// carriage return that TranslateMessage makes of it is swallowed.
LRESULT filter_input_key(room_state* rs, const MSGFILTER* filter)
{
    if (filter->msg == WM_KEYDOWN && filter->wParam == VK_RETURN) {
        press_enter(rs);
        return 1;
    }
    return filter->msg == WM_CHAR && filter->wParam == L'\r';
}

void log_command(const win_rec* rec, WPARAM wp, LPARAM lp, const char* via)
{
    log_line line = begin_message("msg", rec, WM_COMMAND, wp, lp, via);
    log_u64(line, "id", LOWORD(wp));
    log_hex(line, "code", HIWORD(wp));
    log_u64(line, "control", static_cast<uint64_t>(lp));
    log_emit(line);
}

// ------------------------------------------------------------ main window

int tab_at(int x)
{
    for (size_t i = 0; i < std::size(kTabEnds); ++i) {
        if (x < kTabEnds[i]) return static_cast<int>(i);
    }
    return 0;
}

const tab_entry* selected_tab_rows()
{
    for (const tab_entry& t : state().scene.tabs) {
        if (t.name == kTabNames[state().selected_tab]) return &t;
    }
    return nullptr;
}

void select_tab(int x)
{
    if (x < 0) return;
    state().selected_tab = tab_at(x);
    log_line line = log_begin("tab_selected");
    log_text(line, "tab", kTabNames[state().selected_tab], wcslen(kTabNames[state().selected_tab]));
    log_i64(line, "index", state().selected_tab);
    log_i64(line, "x", x);
    log_emit(line);
}

void open_row(int y)
{
    int row = y >= kRowTop ? (y - kRowTop) / kRowHeight : -1;
    const tab_entry* tab = selected_tab_rows();
    const WCHAR* tab_name = kTabNames[state().selected_tab];
    bool has_room = row >= 0 && tab && static_cast<size_t>(row) < tab->rows.size() && !tab->rows[row].empty();
    log_line line = log_begin(has_room ? "row" : "row_empty");
    log_text(line, "tab", tab_name, wcslen(tab_name));
    log_i64(line, "row", row);
    if (has_room) log_text(line, "room", tab->rows[row]);
    log_emit(line);
    if (has_room) open_room(tab->rows[row], "row");
}

// The rooms a search finds: the scenario's `search` line for exactly this
// query, or, in a played tree, its rooms whose titles hold the query.
std::vector<std::wstring> search_results(const std::wstring& query)
{
    std::vector<std::wstring> found;
    const standin_state& s = state();
    for (const search_entry& e : s.scene.searches) {
        if (e.query == query) return e.results;
    }
    if (!s.tree_mode || query.empty()) return found;
    for (const room_entry& room : s.scene.rooms) {
        bool listed = false;
        for (const std::wstring& title : found) listed = listed || title == room.title;
        if (!listed && room.title.find(query) != std::wstring::npos) found.push_back(room.title);
    }
    return found;
}

void run_search(const win_rec* box)
{
    std::wstring query = control_text(box);
    standin_state& s = state();
    s.search_results = search_results(query);
    s.search_index = s.search_results.empty() ? -1 : 0;
    log_line line = log_begin("search");
    log_text(line, "query", query);
    log_u64(line, "results", s.search_results.size());
    log_emit(line);
    if (!s.search_results.empty()) open_room(s.search_results[0], "search");
}

void open_search_result()
{
    standin_state& s = state();
    bool has = s.search_index >= 0 && static_cast<size_t>(s.search_index) < s.search_results.size();
    log_line line = log_begin(has ? "search_open" : "search_none");
    log_i64(line, "index", s.search_index);
    if (has) log_text(line, "room", s.search_results[s.search_index]);
    log_emit(line);
    if (has) open_room(s.search_results[s.search_index], "search");
}

void result_list_key(UINT msg, WPARAM wp)
{
    if (msg != WM_KEYDOWN) return;
    if (wp == VK_DOWN) {
        standin_state& s = state();
        if (s.search_index >= 0) ++s.search_index;
        log_line line = log_begin("search_next");
        log_i64(line, "index", s.search_index);
        log_emit(line);
    } else if (wp == VK_RETURN) {
        open_search_result();
    }
}

// The first text typed into the search box: the hand_open rooms open once
// this message is answered, a few ms later, as a person would open them.
void arm_hand_open(const WCHAR* text)
{
    standin_state& s = state();
    if (!text[0] || !s.hand_open_armed || s.scene.hand_open.empty()) return;
    s.hand_open_armed = false;
    PostMessageW(s.main, kMsgOpenByHand, 0, 0);
}

void open_by_hand()
{
    for (const std::wstring& title : state().scene.hand_open) open_room(title, "hand");
}

void log_activation(const win_rec* rec, UINT msg, WPARAM wp, LPARAM lp, const char* via, traffic kind)
{
    log_line line = begin_message(kind == traffic::focus ? "focus" : "activate", rec, msg, wp, lp, via);
    if (t_closing) log_word(line, "caused_by", "close");
    log_emit(line);
}

}  // namespace

// ------------------------------------------------------------ shared

const char* role_name(role r)
{
    static constexpr const char* kNames[] = {
        "main", "online_view", "lock_view", "chat_list_view", "search_box", "tab_strip", "room_list",
        "search_result_list", "room", "input", "chat_log", "bare", "plain", "untitled", "fake_main", "unknown"};
    static_assert(std::size(kNames) == static_cast<size_t>(role::unknown) + 1, "a name for every role");
    return kNames[static_cast<int>(r)];
}

void set_dispatching(const MSG* msg)
{
    t_dispatching = msg;
    t_consumed = false;
}

// A message is the stand-in's own when it arrives while one of its window
// procedures is already running on this thread (a control notifying its
// parent, a read of its own box); otherwise it was sent by another thread or
// process, or posted and now dispatched.
proc_scope::proc_scope(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    const MSG* d = t_dispatching;
    if (t_depth > 0) via = "self";
    else if (InSendMessage()) via = "sent";
    else if (d && !t_consumed && d->hwnd == hwnd && d->message == msg && d->wParam == wp && d->lParam == lp) {
        t_consumed = true;
        via = "posted";
    } else via = "self";
    ++t_depth;
}

proc_scope::~proc_scope()
{
    --t_depth;
}

void add_target(log_line& line, const win_rec* rec)
{
    log_u64(line, "hwnd", reinterpret_cast<uintptr_t>(rec->hwnd));
    log_word(line, "role", role_name(rec->r));
    if (rec->room) log_text(line, "room", rec->room->title);
}

// The class name as other processes read it: through the class atom, whose
// spelling can differ in letter case from the name the class was made with.
void read_class_name(HWND hwnd, WCHAR* name, int capacity)
{
    GetClassNameW(hwnd, name, capacity);
    WCHAR spelled[256] = {};
    ATOM atom = static_cast<ATOM>(GetClassLongPtrW(hwnd, GCW_ATOM));
    if (atom && GlobalGetAtomNameW(atom, spelled, static_cast<int>(std::size(spelled))) && lstrcmpiW(spelled, name) == 0)
        lstrcpynW(name, spelled, capacity);
}

void log_window(const win_rec* rec)
{
    WCHAR class_name[256] = {};
    read_class_name(rec->hwnd, class_name, static_cast<int>(std::size(class_name)));
    log_line line = log_begin("window");
    log_word(line, "role", role_name(rec->r));
    log_u64(line, "hwnd", reinterpret_cast<uintptr_t>(rec->hwnd));
    log_u64(line, "parent", reinterpret_cast<uintptr_t>(GetParent(rec->hwnd)));
    log_text(line, "class", class_name, wcslen(class_name));
    if (rec->r == role::input || rec->r == role::chat_log) {
        log_text(line, "room", rec->room->title);
    } else {
        int n = GetWindowTextLengthW(rec->hwnd);
        std::wstring title(static_cast<size_t>(n > 0 ? n : 0) + 1, L'\0');
        int got = GetWindowTextW(rec->hwnd, &title[0], n + 1);
        log_text(line, "title", title.data(), static_cast<size_t>(got > 0 ? got : 0));
    }
    log_u64(line, "visible", IsWindowVisible(rec->hwnd) ? 1 : 0);
    log_u64(line, "thread", GetWindowThreadProcessId(rec->hwnd, nullptr));
    log_emit(line);
}

// Logs mouse, key, activation and focus messages; true when it was one.
bool log_traffic(win_rec* rec, UINT msg, WPARAM wp, LPARAM lp, const char* via)
{
    traffic kind = traffic_kind(msg);
    if (kind == traffic::none) return false;
    if (kind == traffic::activate || kind == traffic::focus) {
        log_activation(rec, msg, wp, lp, via, kind);
        return true;
    }
    if (is_self(via)) return true;
    log_line line = begin_message("msg", rec, msg, wp, lp, via);
    if (kind == traffic::mouse) {
        log_i64(line, "x", static_cast<short>(LOWORD(lp)));
        log_i64(line, "y", static_cast<short>(HIWORD(lp)));
    }
    log_emit(line);
    return true;
}

// A subclassed box without its record, or at its last message: the
// control's own procedure answers. True when it did, in *result.
static bool box_lifetime_message(win_rec* rec, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp,
                                 LRESULT* result)
{
    if (rec && msg != WM_NCDESTROY) return false;
    if (!rec) {
        *result = DefWindowProcW(hwnd, msg, wp, lp);
        return true;
    }
    WNDPROC original = rec->original;
    detach_rec(hwnd);
    *result = CallWindowProcW(original, hwnd, msg, wp, lp);
    return true;
}

LRESULT CALLBACK input_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    win_rec* rec = rec_of(hwnd);
    proc_scope scope(hwnd, msg, wp, lp);
    const char* via = scope.via;
    LRESULT result = 0;
    if (box_lifetime_message(rec, hwnd, msg, wp, lp, &result)) return result;
    WNDPROC original = rec->original;
    arm_input_hang(rec, msg, via);
    hang_at_length_read(rec, msg, via);
    log_traffic(rec, msg, wp, lp, via);
    // A slow client: busy, but never so long that it counts as hung.
    if (rec->room->options.slow_ms && strcmp(via, "sent") == 0) Sleep(rec->room->options.slow_ms);
    if (is_box_text_message(msg)) {
        bool handled = false;
        LRESULT r = box_text_message(rec, msg, wp, lp, via, handled);
        if (handled) return r;
        if ((msg == EM_REPLACESEL || msg == WM_SETTEXT) && !is_self(via) && rec->room->options.ignores_writes)
            return msg == WM_SETTEXT ? TRUE : 0;
    }
    return CallWindowProcW(original, hwnd, msg, wp, lp);
}

// The search box, and an Edit or RichEdit of a played tree that plays no role.
LRESULT CALLBACK box_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    win_rec* rec = rec_of(hwnd);
    proc_scope scope(hwnd, msg, wp, lp);
    const char* via = scope.via;
    LRESULT result = 0;
    if (box_lifetime_message(rec, hwnd, msg, wp, lp, &result)) return result;
    WNDPROC original = rec->original;
    log_traffic(rec, msg, wp, lp, via);
    if (msg == WM_SHOWWINDOW && !is_self(via)) log_emit(begin_message("msg", rec, msg, wp, lp, via));
    if (is_box_text_message(msg)) {
        bool handled = false;
        LRESULT r = box_text_message(rec, msg, wp, lp, via, handled);
        if (handled) return r;
    }
    if (rec->r == role::search_box && (msg == EM_REPLACESEL || msg == WM_SETTEXT) && lp && !is_self(via))
        arm_hand_open(reinterpret_cast<const WCHAR*>(lp));
    if (rec->r == role::search_box && msg == WM_KEYDOWN && wp == VK_RETURN) {
        run_search(rec);
        return 0;
    }
    if (rec->r == role::search_box && msg == WM_CHAR && wp == L'\r') return 0;
    return CallWindowProcW(original, hwnd, msg, wp, lp);
}

LRESULT room_window_message(win_rec* rec, UINT msg, WPARAM wp, bool& handled)
{
    room_state* rs = rec->room;
    handled = true;
    switch (msg) {
    case WM_CLOSE: close_room(rs, "close"); return 0;
    case kMsgCloseSelf: close_room(rs, "enter"); return 0;
    case WM_TIMER:
        KillTimer(rs->hwnd, wp);
        if (wp == kTimerHang) hang_room(rs);
        else if (wp == kTimerSendDelay) empty_input(rs);
        return 0;
    case WM_DESTROY:
        EnterCriticalSection(&state().lock);
        rs->open = false;
        LeaveCriticalSection(&state().lock);
        if (rs->own_thread) PostQuitMessage(0);
        return 0;
    default: break;
    }
    handled = false;
    return 0;
}

// What the client-class windows and the views do alike: no record, the end
// of the window, the traffic log, WM_CLOSE logged, WM_COMMAND logged and
// swallowed. True when that answers the message, in *result.
static bool common_window_message(win_rec* rec, HWND hwnd, UINT msg, WPARAM wp, LPARAM lp,
                                  const char* via, LRESULT* result)
{
    *result = 0;
    if (!rec || msg == WM_NCDESTROY) {
        if (rec) detach_rec(hwnd);
        *result = DefWindowProcW(hwnd, msg, wp, lp);
        return true;
    }
    log_traffic(rec, msg, wp, lp, via);
    if (msg == WM_CLOSE) log_emit(begin_message("msg", rec, msg, wp, lp, via));
    if (msg != WM_COMMAND) return false;
    if (!is_self(via)) log_command(rec, wp, lp, via);
    return true;
}

// An input box's EN_MSGFILTER, which reaches the box's parent: the room
// window, or in a played tree whichever window holds the box. Null otherwise.
static room_state* input_filtering(UINT msg, LPARAM lp)
{
    const NMHDR* h = reinterpret_cast<const NMHDR*>(lp);
    if (msg != WM_NOTIFY || !h || h->code != EN_MSGFILTER) return nullptr;
    win_rec* box = rec_of(h->hwndFrom);
    return box && box->r == role::input && box->room->input == h->hwndFrom ? box->room : nullptr;
}

// Every stand-in window of its own classes; what it does follows its role.
LRESULT CALLBACK window_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    win_rec* rec = rec_of(hwnd);
    proc_scope scope(hwnd, msg, wp, lp);
    LRESULT result = 0;
    if (common_window_message(rec, hwnd, msg, wp, lp, scope.via, &result)) return result;
    if (room_state* rs = input_filtering(msg, lp)) return filter_input_key(rs, reinterpret_cast<const MSGFILTER*>(lp));
    if (rec->r == role::room) {
        bool handled = false;
        LRESULT r = room_window_message(rec, msg, wp, handled);
        if (handled) return r;
    }
    // Only rooms close; the main window, the views and the others stay, as the client's do.
    if (msg == WM_CLOSE) return 0;
    if (rec->r == role::tab_strip && msg == WM_LBUTTONDOWN) select_tab(static_cast<short>(LOWORD(lp)));
    if (rec->r == role::room_list && msg == WM_LBUTTONDBLCLK) open_row(static_cast<short>(HIWORD(lp)));
    if (rec->r == role::search_result_list) result_list_key(msg, wp);
    if (rec->r == role::main && msg == kMsgOpenByHand) open_by_hand();
    return DefWindowProcW(hwnd, msg, wp, lp);
}

void poll_foreground(bool initial)
{
    HWND fg = GetForegroundWindow();
    if (!initial && fg == state().foreground) return;
    state().foreground = fg;
    log_line line = log_begin("foreground");
    log_u64(line, "hwnd", reinterpret_cast<uintptr_t>(fg));
    DWORD pid = 0;
    if (fg) GetWindowThreadProcessId(fg, &pid);
    win_rec* rec = fg && pid == GetCurrentProcessId() ? rec_of(fg) : nullptr;
    log_word(line, "role", rec ? role_name(rec->r) : (fg ? "other" : "none"));
    if (initial) log_word(line, "initial", "1");
    log_emit(line);
}

void run_message_loop()
{
    MSG m;
    while (GetMessageW(&m, nullptr, 0, 0) > 0) {
        if (!m.hwnd && m.message == WM_TIMER) {
            if (m.wParam == state().poll_timer) poll_foreground(false);
            if (m.wParam == state().exit_timer && state().exit_timer) {
                log_emit(log_begin("exit reason=timer"));
                ExitProcess(0);
            }
            continue;
        }
        TranslateMessage(&m);
        set_dispatching(&m);
        DispatchMessageW(&m);
        set_dispatching(nullptr);
    }
}
