#include "window_model.h"

#include "match.h"
#include "text16.h"

namespace {

constexpr int32_t kNoQueryScore = 100;

constexpr WCHAR kOnlineViewName[] = CLIENT_TEXT16(CLIENT_ONLINE_VIEW);
constexpr WCHAR kLockViewName[] = CLIENT_TEXT16(CLIENT_LOCK_VIEW);
constexpr WCHAR kChatListViewName[] = CLIENT_TEXT16(CLIENT_CHAT_LIST_VIEW);
constexpr WCHAR kRoomListName[] = CLIENT_TEXT16(CLIENT_ROOM_LIST);
constexpr WCHAR kSearchListName[] = CLIENT_TEXT16(CLIENT_SEARCH_LIST);
constexpr uint8_t kNamedRoomList = 1;
constexpr uint8_t kNamedSearchList = 2;

// The child fields: only direct children of the chat list view count, so
// only their class names are read (each read is a round trip to the server).
void settle_chat_list_child(const chat_list_child& child, main_window_info* info,
                            class_book* book) {
    if (GetParent(child.hwnd) != child.list_view) return;
    const window_class found = class_of(child.hwnd, book);
    if (found == window_class::edit)
        info->search_box = child.hwnd;
    else if (found == window_class::client)
        info->tab_strip = child.hwnd;
    else if (child.named == kNamedRoomList)
        info->room_list = child.hwnd;
    else if (child.named == kNamedSearchList)
        info->search_result_list = child.hwnd;
}

void note_chat_list_child(HWND hwnd, const WCHAR* text, main_window_info* info) {
    if (!info->chat_list_view) return;
    if (info->unsettled_count == kMaxListChildren) settle_chat_list_children(info, nullptr);
    chat_list_child& child = info->unsettled[info->unsettled_count++];
    child.hwnd = hwnd;
    child.list_view = info->chat_list_view;
    child.named = text16_starts_with(text, kRoomListName)     ? kNamedRoomList
                  : text16_starts_with(text, kSearchListName) ? kNamedSearchList
                                                              : 0;
}

constexpr int kWalkOverflow = -2;

// One walk over the top-level windows of the client's class. Returns the
// number found, kListFallBack when a window shows up twice (the z-order moved
// under the walk), or kWalkOverflow when more than `capacity` are found.
int walk_client_windows(HWND* out, int capacity) {
    int count = 0;
    for (HWND hwnd = FindWindowExW(nullptr, nullptr, kClientClass, nullptr); hwnd;
         hwnd = FindWindowExW(nullptr, hwnd, kClientClass, nullptr)) {
        if (count >= capacity) return kWalkOverflow;
        if (holds_window(out, count, hwnd)) return kListFallBack;
        out[count++] = hwnd;
    }
    return count;
}

bool same_windows(const HWND* a, int a_count, const HWND* b, int b_count) {
    if (a_count != b_count) return false;
    for (int i = 0; i < a_count; ++i)
        if (a[i] != b[i]) return false;
    return true;
}

void note_left_out(room_match_set* set, int32_t score) {
    if (score > set->left_out_score) set->left_out_score = score;
}

// The last of the entries with the lowest score.
int32_t weakest_candidate(const room_match_set* set) {
    int32_t weakest = 0;
    for (int32_t i = 1; i < set->count; ++i)
        if (set->candidates[i].score <= set->candidates[weakest].score) weakest = i;
    return weakest;
}

// Removes an entry, keeping the others in scan order, and notes it as left out.
void drop_candidate(room_match_set* set, int32_t index) {
    note_left_out(set, set->candidates[index].score);
    for (int32_t i = index; i + 1 < set->count; ++i) set->candidates[i] = set->candidates[i + 1];
    --set->count;
}

DWORD window_process(HWND hwnd) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    return pid;
}

// The pass met the rooms before it knew the client's process. When a room of
// another process was taken, or a window left out may have been one, the
// rooms are scanned again, now of the client's process only.
void keep_client_rooms(const main_window_info* info, room_match_set* set) {
    set->owner_pid = info->kakao_pid;
    if (!set->owner_pid) return;
    bool foreign = set->left_out_score > 0;
    for (int32_t i = 0; i < set->count && !foreign; ++i)
        foreign = window_process(set->candidates[i].hwnd) != set->owner_pid;
    if (foreign) scan_chat_windows(set);
}

}  // namespace

bool holds_window(const HWND* handles, int32_t count, HWND hwnd) {
    for (int32_t i = 0; i < count; ++i)
        if (handles[i] == hwnd) return true;
    return false;
}

// ---- listing the client's windows --------------------------------------------

// A window raised or destroyed during a walk can be skipped by it; a second
// walk that finds the very same sequence shows the z-order held still.
int list_client_windows(HWND* out, int capacity) {
    HWND again[kMaxClientWindows];
    if (capacity > kMaxClientWindows) capacity = kMaxClientWindows;
    int count = walk_client_windows(out, capacity);
    for (int attempt = 0; attempt < kListAttempts && count != kWalkOverflow; ++attempt) {
        int again_count = walk_client_windows(again, capacity);
        if (count >= 0 && same_windows(out, count, again, again_count)) return count;
        for (int i = 0; i < again_count; ++i) out[i] = again[i];
        count = again_count;
    }
    return kListFallBack;
}

void enum_client_windows(WNDENUMPROC proc, LPARAM param) {
    HWND listed[kMaxClientWindows];
    int count = list_client_windows(listed, kMaxClientWindows);
    if (count == kListFallBack) {
        EnumWindows(proc, param);
        return;
    }
    for (int i = 0; i < count; ++i)
        if (!proc(listed[i], param)) return;
}

// ---- main window and login state -------------------------------------------

namespace {

// The main window's views, and the windows met after the chat list view.
BOOL CALLBACK enum_main_cb(HWND hwnd, LPARAM param) {
    auto* info = reinterpret_cast<main_window_info*>(param);
    WCHAR text[kViewTextUnits] = {};
    GetWindowTextW(hwnd, text, kViewTextUnits - 1);
    if (text16_starts_with(text, kOnlineViewName))
        info->online_view = hwnd;
    else if (text16_starts_with(text, kLockViewName))
        info->lock_view = hwnd;
    else if (text16_starts_with(text, kChatListViewName))
        info->chat_list_view = hwnd;
    else
        note_chat_list_child(hwnd, text, info);
    return TRUE;
}

// Sets the main window, its owner and its views.
void record_main_window(HWND hwnd, main_window_info* info) {
    info->main_hwnd = hwnd;
    GetWindowThreadProcessId(hwnd, &info->kakao_pid);
    EnumChildWindows(hwnd, enum_main_cb, reinterpret_cast<LPARAM>(info));
}

bool shows_login_view(const main_window_info* info) {
    return info->online_view || info->lock_view;
}

// Weighs a window titled like the main window: the first one of the client's
// class showing the online or the lock view is the main window; only when
// none does is the first one taken. False once the main window is sure. A
// chat room may carry the main window's title; taking it for the main window
// would hide the lock view of the real one.
bool consider_main_window(HWND hwnd, main_window_info* info, class_book* book) {
    if (shows_login_view(info)) return false;
    if (class_of(hwnd, book) != window_class::client) return true;
    main_window_info candidate{};
    record_main_window(hwnd, &candidate);
    if (!info->main_hwnd || shows_login_view(&candidate)) *info = candidate;
    return !shows_login_view(info);
}

// The top-level callbacks read a window's title before its class: the title
// alone rules most windows out, and every read is a round trip to the server.
BOOL CALLBACK find_main_cb(HWND hwnd, LPARAM param) {
    auto* info = reinterpret_cast<main_window_info*>(param);
    WCHAR text[kViewTextUnits] = {};
    GetWindowTextW(hwnd, text, kViewTextUnits - 1);
    if (!text16_equal(text, kMainTitle)) return TRUE;
    return consider_main_window(hwnd, info, nullptr) ? TRUE : FALSE;
}

}  // namespace

const char* detect_login_state(const main_window_info* info) {
    if (!info->main_hwnd) return "logged_out";
    if (info->lock_view) {
        bool lock_visible = IsWindowVisible(info->lock_view) != FALSE;
        bool online_visible = info->online_view && IsWindowVisible(info->online_view) != FALSE;
        if (lock_visible && online_visible) return "unknown";
        if (online_visible) return "ready";
        if (lock_visible) return "locked";
        return "logged_out";
    }
    if (info->online_view && IsWindowVisible(info->online_view)) return "ready";
    return "logged_out";
}

void find_main_window(main_window_info* info) {
    *info = main_window_info{};
    enum_client_windows(find_main_cb, reinterpret_cast<LPARAM>(info));
    settle_chat_list_children(info, nullptr);
}

void settle_chat_list_children(main_window_info* info, class_book* book) {
    for (int32_t i = 0; i < info->unsettled_count; ++i)
        settle_chat_list_child(info->unsettled[i], info, book);
    info->unsettled_count = 0;
}

// ---- open chat window scan ----------------------------------------------------

namespace {

// The search for a room's input box: the first RichEdit among its
// descendants, in the order EnumChildWindows gives them.
struct input_search {
    class_book* classes;
    HWND input;
};

BOOL CALLBACK find_rich_cb(HWND hwnd, LPARAM param) {
    auto* search = reinterpret_cast<input_search*>(param);
    if (class_of(hwnd, search->classes) != window_class::rich_edit) return TRUE;
    search->input = hwnd;
    return FALSE;
}

}  // namespace

HWND find_input_box(HWND room, class_book* classes) {
    input_search search{classes && classes->rooms_searched > 0 ? classes : nullptr, nullptr};
    EnumChildWindows(room, find_rich_cb, reinterpret_cast<LPARAM>(&search));
    if (classes) ++classes->rooms_searched;
    return search.input;
}

namespace {

// Takes a top-level window with the given title into the table when it is a
// chat room that matches, of the client's class, and has an input box. The
// class is read only for a title that qualifies. A full table gives its
// weakest entry up to a better match, so it always holds the best 32.
void add_chat_candidate(HWND hwnd, const WCHAR* title, room_match_set* set) {
    if (title[0] == 0 || text16_equal(title, kMainTitle)) return;
    const bool named = set->room[0] || set->resolved_name[0];
    int32_t score = kNoQueryScore;
    if (named) {
        score = compute_match_score(title, set->room, set->resolved_name);
        if (score <= 0) return;
    }
    // Unnamed, every room scores the same: a full table cannot change.
    if (set->count >= kMaxCandidates && !named) return;
    if (class_of(hwnd, &set->classes) != window_class::client) return;
    if (set->owner_pid && window_process(hwnd) != set->owner_pid) return;
    const int32_t weakest = set->count >= kMaxCandidates ? weakest_candidate(set) : -1;
    if (weakest >= 0 && score <= set->candidates[weakest].score) {
        note_left_out(set, score);
        return;
    }
    const HWND input = find_input_box(hwnd, &set->classes);
    if (!input) {
        if (named) note_left_out(set, score);
        return;
    }
    if (weakest >= 0) drop_candidate(set, weakest);
    room_candidate* entry = &set->candidates[set->count];
    entry->hwnd = hwnd;
    entry->input_hwnd = input;
    for (WCHAR& unit : entry->title) unit = 0;
    text16_copy(entry->title, title, kTitleUnits - 1);
    entry->score = score;
    ++set->count;
}

BOOL CALLBACK find_chat_cb(HWND hwnd, LPARAM param) {
    auto* set = reinterpret_cast<room_match_set*>(param);
    WCHAR title[kTitleUnits] = {};
    GetWindowTextW(hwnd, title, kTitleUnits - 1);
    add_chat_candidate(hwnd, title, set);
    return TRUE;
}

// The records one pass over the top-level windows fills.
struct desktop_pass {
    main_window_info* info;
    room_match_set* set;
};

// The main window and the chat room windows in one pass: each foreign window
// costs a round trip per read, so a desktop of many windows is read once.
BOOL CALLBACK find_main_and_chat_cb(HWND hwnd, LPARAM param) {
    auto* pass = reinterpret_cast<desktop_pass*>(param);
    WCHAR title[kTitleUnits] = {};
    GetWindowTextW(hwnd, title, kTitleUnits - 1);
    if (text16_equal(title, kMainTitle)) {
        consider_main_window(hwnd, pass->info, &pass->set->classes);
        return TRUE;
    }
    add_chat_candidate(hwnd, title, pass->set);
    return TRUE;
}

}  // namespace

// An exchange sort, not a library sort: the order it leaves equal scores in
// is reported to callers and must not change.
void sort_matches(room_match_set* set) {
    int32_t n = set->count;
    for (int32_t i = 0; i + 1 < n; ++i) {
        for (int32_t j = i + 1; j < n; ++j) {
            if (set->candidates[j].score > set->candidates[i].score) {
                room_candidate held = set->candidates[i];
                set->candidates[i] = set->candidates[j];
                set->candidates[j] = held;
            }
        }
    }
}

void scan_chat_windows(room_match_set* set) {
    set->count = 0;
    set->left_out_score = 0;
    enum_client_windows(find_chat_cb, reinterpret_cast<LPARAM>(set));
    sort_matches(set);
}

void scan_listed_windows(const HWND* listed, int count, room_match_set* set) {
    set->count = 0;
    set->left_out_score = 0;
    for (int i = 0; i < count; ++i) find_chat_cb(listed[i], reinterpret_cast<LPARAM>(set));
    sort_matches(set);
}

void find_main_and_chat_windows(main_window_info* info, room_match_set* set) {
    *info = main_window_info{};
    set->count = 0;
    set->left_out_score = 0;
    set->owner_pid = 0;
    desktop_pass pass{info, set};
    enum_client_windows(find_main_and_chat_cb, reinterpret_cast<LPARAM>(&pass));
    keep_client_rooms(info, set);
}

