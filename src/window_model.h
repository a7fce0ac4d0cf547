// The chat client's windows as chatdraft finds them: the main window, its
// views and the login state; the open chat room windows matching a request,
// with their input boxes, ranked best first.
#pragma once

#include <cstdint>

#include "client_layout.h"
#include "platform/platform.h"
#include "window_class.h"

constexpr int kViewTextUnits = 256;   // window texts of the main window's views
constexpr int kQueryUnits = 256;      // a query: at most 255 units and a terminator
constexpr int kTitleUnits = 512;      // a room title: at most 510 units are read
constexpr int kMaxCandidates = 32;

constexpr WCHAR kMainTitle[] = CLIENT_TEXT16(CLIENT_MAIN_TITLE);
// A compiler that read the book in another charset than UTF-8 stops here.
static_assert(sizeof kMainTitle == 5 * sizeof(WCHAR) && kMainTitle[0] == 0xCE74,
              "the main window's title is 카카오톡 in UTF-16");

// A descendant of the main window met after the chat list view. Whether it
// is one of the view's direct children (the search box, the tab strip, the
// room list, the result list) is settled only when a room must be opened:
// until then its parent and class are not read.
struct chat_list_child {
    HWND hwnd;
    HWND list_view;   // the chat list view when the window was met
    uint8_t named;    // its text begins with: 1 ChatRoomListCtrl, 2 SearchListCtrl, 0 neither
};
constexpr int kMaxListChildren = 64;

struct main_window_info {
    HWND main_hwnd;
    DWORD kakao_pid;           // process that owns the main window
    HWND online_view;          // logged-in view
    HWND lock_view;            // PIN lock view
    HWND chat_list_view;
    HWND search_box;           // direct children of the chat list view...
    HWND tab_strip;
    HWND room_list;
    HWND search_result_list;
    // Met but not settled yet, in the order met (the last to qualify wins).
    chat_list_child unsettled[kMaxListChildren];
    int32_t unsettled_count;
};

struct room_candidate {
    HWND hwnd;                 // chat room window
    HWND input_hwnd;           // its RichEdit input box
    WCHAR title[kTitleUnits];
    int32_t score;
};

struct room_match_set {
    WCHAR room[kQueryUnits];           // empty when the request has none
    WCHAR resolved_name[kQueryUnits];
    room_candidate candidates[kMaxCandidates];
    int32_t count;
    // The best score of a matching chat room window the table does not hold
    // (no input box found, or beaten when the table was full); 0 for none.
    // A room is never chosen over such a window scoring as well or better.
    int32_t left_out_score;
    // The client's process once its main window is known: windows of any
    // other process are no rooms of it. 0: every process counts.
    DWORD owner_pid;
    class_book classes;   // the classes met in this run
};

bool holds_window(const HWND* handles, int32_t count, HWND hwnd);

// Sets the search box, the tab strip, the room list and the result list from
// the windows met after the chat list view.
void settle_chat_list_children(main_window_info* info, class_book* book);
const char* detect_login_state(const main_window_info* info);

// The first RichEdit among the room's descendants, in the order
// EnumChildWindows gives them; null for none.
HWND find_input_box(HWND room, class_book* classes);
void sort_matches(room_match_set* set);

// The top-level windows of the client's class, listed by class on the
// server's side (FindWindowExW) instead of reading every window's class.
constexpr int kMaxClientWindows = 1024;
constexpr int kListAttempts = 3;
constexpr int kListFallBack = -1;
// Fills `out` with the windows of the client's class in z-order (the order
// EnumWindows gives) and returns their number. The walk takes no snapshot, so
// it is repeated until two walks in a row agree; kListFallBack when they never
// do or the windows do not fit.
[[nodiscard]] int list_client_windows(HWND* out, int capacity);
// Calls `proc` for each listed window in order until it returns FALSE; on
// kListFallBack, for every top-level window through EnumWindows. The class
// match of the listing ignores case, so `proc` still checks the class.
void enum_client_windows(WNDENUMPROC proc, LPARAM param);

// Fills `info` by one pass over the top-level windows, its views settled.
void find_main_window(main_window_info* info);
// Empties the table and scans again with the queries already in `set`.
void scan_chat_windows(room_match_set* set);
// The same over windows list_client_windows gave.
void scan_listed_windows(const HWND* listed, int count, room_match_set* set);
// Both of the above in one pass over the top-level windows, unsorted: the
// main window with its views (the chat list's children not settled), and
// the chat room windows in scan order. With a main window, only the rooms of
// its process are kept, and later scans with `set` keep only those too.
void find_main_and_chat_windows(main_window_info* info, room_match_set* set);
