// A scripted desktop for the window model and control tests. It is the
// desktop tests' platform: the window calls, Sleep, the clock and allocation
// are defined here, so the product code runs unchanged against these windows.
// Edit boxes answer the text messages like Wine's RichEdit; posted messages
// are handled at the next Sleep, as a client handles them while we wait.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/platform.h"

struct fake_window {
    std::u16string class_name;
    std::u16string text;       // window text; an edit box's content
    int parent = -1;           // index of the parent, -1 for a top-level window
    DWORD pid = 7;
    int ctrl_id = 0;
    bool visible = true;
    bool alive = true;
    bool answers = true;       // false: every sent message fails (hung or gone)
    int silent_for = 0;        // so many sent messages fail first (a busy client)
    bool empties_on_enter = false;
    bool shows_on_request = true;   // ShowWindow makes it visible
    intptr_t reported_length = INTPTR_MIN;  // otherwise: what WM_GETTEXTLENGTH claims
    bool counts_break_once = false; // WM_GETTEXTLENGTH counts CR LF as one unit
    bool ignores_writes = false;    // answers EM_REPLACESEL and WM_SETTEXT, keeps its text
    DWORD answer_ms = 0;            // each sent message takes this long to answer
    int64_t z = 0;             // stacking of top-level windows: lower is nearer the top
};

struct fake_event {
    HWND hwnd;
    UINT msg;
    WPARAM wparam;
    LPARAM lparam;
    bool posted;
    std::u16string text;       // the text carried by EM_REPLACESEL and WM_SETTEXT
};

constexpr UINT kShowWindowEvent = 0xFFFF;  // logged for ShowWindow calls

// What a read of the desktop (a round trip to the window server) was about.
enum class read_kind {
    listing,     // FindWindowExW and EnumWindows over the top-level windows
    top_level,   // a top-level window: its title, class, owner
    main_child,  // a window inside the main window ("카카오톡")
    room_child,  // a window inside another top-level window
    count,
};

struct fake_desktop {
    std::vector<fake_window> windows;
    std::vector<fake_event> log;
    std::vector<fake_event> queue;     // posted, not yet handled
    std::vector<DWORD> sleeps;
    ULONGLONG now_ms = 0;              // the clock: sleeps and slow answers move it
    std::function<void(const fake_event&)> react;  // the client's reaction to a message
    int fail_calloc_at = 0;            // > 0: that allocation from now on returns null
    // Runs before FindWindowExW call number `call` (from 1) answers: a window
    // raised or destroyed while a walk is under way.
    std::function<void(int call)> before_find;
    // Every walk by class meets its first window twice, as when the z-order
    // moves under it: no listing settles, and EnumWindows serves each pass.
    bool listing_unsettled = false;
    int find_calls = 0;
    int find_walks = 0;                // FindWindowExW calls from the top
    int enum_windows_calls = 0;
    int class_reads = 0;               // GetClassNameW calls
    int reads[static_cast<int>(read_kind::count)] = {};
    std::vector<std::u16string> class_atoms;   // GCW_ATOM: the index of the name, ignoring case
    int64_t top_z = 0;                 // stacking given to the last raised window
    int64_t bottom_z = 1 << 30;        // ... and to the last lowered one
};

// Installs an empty desktop for one test and removes it at the end.
struct fake_desktop_scope {
    fake_desktop_scope();
    ~fake_desktop_scope();
    fake_desktop& desk;
};

fake_desktop& current_desktop();
HWND handle_of(int index);
int index_of(HWND hwnd);
int add_window(const std::u16string& class_name, const std::u16string& text, int parent = -1);
// A chat room window with a RichEdit input box inside a pane; returns the
// room's index (the box is room + 2).
int add_chat_room(const std::u16string& title, const std::u16string& draft = u"");
std::vector<fake_event> events_to(HWND hwnd);
// Moves a top-level window to the top or the bottom of the z-order.
void raise_window(int index);
void lower_window(int index);
// The live top-level windows from the top of the z-order down, the order
// EnumWindows gives.
std::vector<int> top_level_order();
// The main window "카카오톡" with its views as the client has them: the
// online view holding the chat list view with its search box, tab strip,
// room list and search result list.
struct main_window_views {
    int main, online, chat_list, search, tabs, rooms, results;
};
main_window_views add_main_window();
int reads_of(read_kind kind);
