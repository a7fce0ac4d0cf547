// The stand-in chat client: a small Win32 program that plays the KakaoTalk
// desktop client's window surface so chatdraft and its callers can be run
// without the real client. Shares no code with src/.
#pragma once

#include <windows.h>
#include <richedit.h>

#include <cstdint>
#include <string>
#include <vector>

// ---------------------------------------------------------------- scenario

enum class visibility { visible, hidden, absent };
enum class send_mode { normal, stuck, delay, close, exit };
enum class hang_mode { none, ready, input, enter, read };

constexpr DWORD kForever = INFINITE;

struct room_options {
    std::wstring draft;
    std::wstring input_class = L"RICHEDIT50W";  // empty: the room has no input box
    bool placeholder = false;                   // empty box reports "메시지 입력"
    bool huge = false;                          // WM_GETTEXTLENGTH answers huge_length
    uint64_t huge_length = 0;
    send_mode send = send_mode::normal;
    DWORD send_delay_ms = 0;
    hang_mode hang = hang_mode::none;
    DWORD hang_after_ms = 0;      // hang_mode::input: delay after the first message
    DWORD hang_at_read = 0;       // hang_mode::read: the length query to stop at, from 1
    DWORD hang_for_ms = kForever;
    bool ignores_writes = false;  // EM_REPLACESEL and WM_SETTEXT are answered, the text stays
    bool break_counts_once = false;  // WM_GETTEXTLENGTH counts a CR LF as one unit
    DWORD slow_ms = 0;            // every message from another program is answered this late
};

struct room_entry {
    std::wstring title;
    room_options options;
    int tree_index = -1;  // a room of a played window tree: its window in the tree
};

struct search_entry {
    std::wstring query;
    std::vector<std::wstring> results;
};

struct tab_entry {
    std::wstring name;
    std::vector<std::wstring> rows;
};

enum class extra_kind { room, bare, plain, untitled, fake_main };

// One top-level window to create at start, in scenario order.
struct start_window {
    extra_kind kind;
    std::wstring title;
    int room_index;  // into scenario::rooms for extra_kind::room, else -1
};

struct scenario {
    bool main_present = true;
    visibility online = visibility::visible;
    visibility lock = visibility::absent;
    bool chat_list = true;
    visibility search_box = visibility::visible;
    bool tab_strip = true;
    bool room_list = true;
    visibility result_list = visibility::visible;
    DWORD exit_after_ms = 0;  // 0: run until killed
    std::vector<room_entry> rooms;       // every room the scenario knows, open or not
    std::vector<start_window> start;    // windows created at start
    std::vector<search_entry> searches;
    std::vector<tab_entry> tabs;
    // Rooms that open by themselves right after the first text reaches the
    // search box, as a person opening them by hand during a search.
    std::vector<std::wstring> hand_open;
};

// Reads the scenario file; on failure fills error with a line-numbered reason.
[[nodiscard]] bool load_scenario(const WCHAR* path, scenario& out, std::wstring& error);
[[nodiscard]] bool parse_scenario(const std::wstring& text, scenario& out, std::wstring& error);
// A UTF-8 file (a BOM is dropped) as UTF-16 text.
[[nodiscard]] bool read_text_file(const WCHAR* path, std::wstring& text, std::wstring& error);

// ---------------------------------------------------------------- window tree

// One window of a dumped window tree (chatdraft_inspect.exe --dump).
struct tree_window {
    uint64_t hwnd = 0;      // the handle it had: names it within the dump
    uint64_t parent = 0;    // 0 for a top-level window
    std::wstring cls;
    std::wstring text;
    int32_t id = 0;
    bool visible = false;   // its own WS_VISIBLE bit
    int32_t x = 0, y = 0, width = 0, height = 0;  // x, y in the parent's client area
    int64_t text_length = 0;  // what an edit box answered to WM_GETTEXTLENGTH; -1: no answer
    int parent_index = -1;    // filled by the reader
    size_t end = 0;           // the index after its last descendant
};

// Top-level windows in z-order (top first), each followed by its
// descendants, a window before its children.
struct window_tree {
    std::vector<tree_window> windows;
};

[[nodiscard]] bool load_tree(const WCHAR* path, window_tree& out, std::wstring& error);
[[nodiscard]] bool parse_tree(const std::wstring& text, window_tree& out, std::wstring& error);

// ---------------------------------------------------------------- log

// One log line under construction: "<ms> <event> key=value ...".
struct log_line {
    std::string text;
};

void log_open(HANDLE file, ULONGLONG start_tick);
log_line log_begin(const char* event);
void log_word(log_line& line, const char* key, const char* value);
void log_u64(log_line& line, const char* key, uint64_t value);
void log_i64(log_line& line, const char* key, int64_t value);
void log_hex(log_line& line, const char* key, uint64_t value);
void log_text(log_line& line, const char* key, const WCHAR* text, size_t length);
void log_text(log_line& line, const char* key, const std::wstring& text);
void log_emit(const log_line& line);
void append_json_string(std::string& out, const WCHAR* text, size_t length);

// ---------------------------------------------------------------- windows

enum class role {
    main, online_view, lock_view, chat_list_view, search_box, tab_strip, room_list,
    search_result_list, room, input, chat_log, bare, plain, untitled, fake_main, unknown
};

const char* role_name(role r);

struct room_state;

// Attached to every stand-in window (as a window property).
struct win_rec {
    role r;
    HWND hwnd;
    room_state* room;  // room and input windows only
    WNDPROC original;  // subclassed system controls only
};

struct room_state {
    std::wstring title;
    room_options options;
    HWND hwnd = nullptr;
    HWND input = nullptr;
    bool own_thread = false;
    bool hang_armed = false;   // hang_mode::input timer already set
    DWORD length_reads = 0;    // WM_GETTEXTLENGTH from other programs so far
    bool open = false;
    int tree_index = -1;       // a room of a played window tree: its window in the tree
};

constexpr UINT_PTR kTimerHang = 1;
constexpr UINT_PTR kTimerSendDelay = 2;
constexpr UINT kMsgCloseSelf = WM_APP + 1;
constexpr UINT kMsgOpenByHand = WM_APP + 2;

struct standin_state {
    scenario scene;                  // for a played tree: its rooms and the tab listing them
    bool tree_mode = false;          // the surface is a played window tree
    window_tree tree;
    std::vector<role> tree_roles;    // the role of each window of the tree
    HINSTANCE instance = nullptr;
    HMODULE msftedit = nullptr;
    HMODULE riched20 = nullptr;
    CRITICAL_SECTION lock;
    HANDLE ready_event = nullptr;  // set once `ready` is logged
    std::vector<room_state*> rooms;  // every room window ever created
    HWND main = nullptr;
    HWND search_box = nullptr;
    HWND result_list = nullptr;
    int selected_tab = 0;
    std::vector<std::wstring> search_results;  // of the last search
    int search_index = -1;           // position in search_results
    bool hand_open_armed = true;     // the hand_open rooms have not been opened yet
    HWND foreground = nullptr;       // last foreground window seen by the poll
    UINT_PTR poll_timer = 0;
    UINT_PTR exit_timer = 0;
};

// The one instance, reachable from window procedures.
standin_state& state();

[[nodiscard]] bool register_classes();
[[nodiscard]] bool create_start_windows();
// A window tree as the stand-in's surface: which window plays which role,
// its rooms, and its windows.
void read_tree_roles();
[[nodiscard]] bool create_tree_windows();
[[nodiscard]] bool create_tree_room(room_state* rs);
// Shared by both surfaces.
HWND create_top(const WCHAR* cls, const std::wstring& title, RECT r, bool show);
room_state* create_room(const room_entry& entry);
[[nodiscard]] bool attach_input(room_state* rs, HWND box);
HINSTANCE input_instance(const std::wstring& cls);
[[nodiscard]] bool ensure_window_class(const std::wstring& name);
void open_room(const std::wstring& title, const char* how);
room_state* find_open_room(const std::wstring& title);
void poll_foreground(bool initial);
void hang_room(room_state* rs);
void detach_rec(HWND hwnd);

// Shared by the window procedures.
// Where the message a window procedure is handling came from: "sent" (by
// another thread or process), "posted" or "self" (the stand-in's own).
struct proc_scope {
    const char* via;
    proc_scope(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    ~proc_scope();
    proc_scope(const proc_scope&) = delete;
    proc_scope& operator=(const proc_scope&) = delete;
};

void set_dispatching(const MSG* msg);
bool log_traffic(win_rec* rec, UINT msg, WPARAM wp, LPARAM lp, const char* via);
void log_window(const win_rec* rec);
void add_target(log_line& line, const win_rec* rec);
win_rec* rec_of(HWND hwnd);
win_rec* attach_rec(HWND hwnd, role r, room_state* room);
LRESULT CALLBACK window_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
LRESULT CALLBACK box_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
LRESULT CALLBACK input_proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
LRESULT room_window_message(win_rec* rec, UINT msg, WPARAM wp, bool& handled);
void main_window_key(win_rec* rec, UINT msg, WPARAM wp);
void main_window_mouse(win_rec* rec, UINT msg, LPARAM lp);
void run_message_loop();
