#include "open_room.h"

#include <cstring>

#include "edit_box.h"
#include "match.h"
#include "text16.h"

namespace {

constexpr WCHAR kEmptyText[] = {0};
constexpr WCHAR kStrictOpenOnly[] = W16("strict_open_only");

constexpr DWORD kShowSearchBoxWaitMs = 80;
constexpr DWORD kSearchTextWaitMs = 300;
constexpr DWORD kRescanWaitMs = 300;
constexpr DWORD kDownEnterWaitMs = 80;
constexpr DWORD kEndSearchWaitMs = 80;
constexpr DWORD kTabClickWaitMs = 150;

constexpr int kSearchTextUnits = 32;
constexpr int kSearchNameUnits = 24;
constexpr int kSearchAttempts = 5;
constexpr int32_t kOpenedScore = 70;   // a new window scoring less is the wrong room
constexpr int kTabNameBytes = 16;  // longer than any tab name in UTF-8

bool is_excluded(const existing_window_set* existing, HWND hwnd) {
    if (holds_window(existing->excluded, existing->excluded_count, hwnd)) return true;
    return existing->excluded_overflowed &&
           !holds_window(existing->handles, existing->count, hwnd);
}

void exclude_window(existing_window_set* existing, HWND hwnd) {
    if (existing->excluded_count < kMaxExcludedWindows)
        existing->excluded[existing->excluded_count++] = hwnd;
    else
        existing->excluded_overflowed = true;
}

// What the run itself can have opened: a room whose recognised input box
// answered with no text. A box holding text, or a window without one (a
// profile, a notice), may be the person's and stays open.
bool holds_an_empty_box(HWND hwnd, class_book* classes) {
    const HWND input = find_input_box(hwnd, classes);
    if (!input) return false;
    box_read how = box_read::unanswered;
    WCHAR* text = read_edit_text_alloc(input, &how);
    const bool empty = how == box_read::whole && text && text[0] == 0;
    free(text);
    return empty;
}

// With `exact`, only a room whose title equals the name asked for counts as
// opened, so the search goes on past rooms that merely begin with it.
bool success_test_passes(const room_match_set* set, const request* req) {
    const int32_t needed = req->exact ? kExactScore : kOpenedScore;
    return set->count > 0 && set->candidates[0].score >= needed;
}

// ---- the clean-up of wrong rooms ------------------------------------------------

BOOL CALLBACK record_existing_cb(HWND hwnd, LPARAM param) {
    auto* existing = reinterpret_cast<existing_window_set*>(param);
    if (class_of(hwnd, existing->classes) != window_class::client) return TRUE;
    if (existing->count < kMaxExistingWindows)
        existing->handles[existing->count++] = hwnd;
    else
        existing->overflowed = true;
    return TRUE;
}

// Asks a chat window that came up during the attempts and does not match the
// request to close, when it holds an empty input box; one that does not is
// left open. Either is never a candidate. With an incomplete record of the
// windows that stood before, nothing is closed: a window the user had open
// must never go.
BOOL CALLBACK cleanup_wrong_cb(HWND hwnd, LPARAM param) {
    auto* existing = reinterpret_cast<existing_window_set*>(param);
    if (existing->overflowed) return TRUE;
    // A window that stood before is never closed, nor one already judged;
    // knowing that takes no read.
    if (holds_window(existing->handles, existing->count, hwnd)) return TRUE;
    if (holds_window(existing->excluded, existing->excluded_count, hwnd)) return TRUE;
    if (class_of(hwnd, existing->classes) != window_class::client) return TRUE;
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (existing->kakao_pid != 0 && existing->kakao_pid != pid) return TRUE;
    WCHAR title[kTitleUnits] = {};
    GetWindowTextW(hwnd, title, kTitleUnits - 1);
    if (title[0] == 0 || text16_equal(title, kMainTitle)) return TRUE;
    if (compute_match_score(title, existing->room, existing->resolved_name) < kOpenedScore) {
        if (holds_an_empty_box(hwnd, existing->classes)) PostMessageW(hwnd, WM_CLOSE, 0, 0);
        exclude_window(existing, hwnd);
    }
    return TRUE;
}

// One listing of the client's windows serves the scan and the clean-up.
void rescan_and_clean(room_match_set* set, existing_window_set* existing) {
    HWND listed[kMaxClientWindows];
    const int count = list_client_windows(listed, kMaxClientWindows);
    if (count == kListFallBack) {
        scan_chat_windows(set);
        enum_client_windows(cleanup_wrong_cb, reinterpret_cast<LPARAM>(existing));
        return;
    }
    scan_listed_windows(listed, count, set);
    for (int i = 0; i < count; ++i) cleanup_wrong_cb(listed[i], reinterpret_cast<LPARAM>(existing));
}

}  // namespace

// Nothing is written into a wrong window the clean-up judged. Without a
// complete record nothing was judged, so a wrong window the clean-up would
// have judged is dropped all the same.
void drop_excluded_candidates(room_match_set* set, const existing_window_set* existing) {
    int32_t kept = 0;
    for (int32_t i = 0; i < set->count; ++i) {
        if (is_excluded(existing, set->candidates[i].hwnd)) continue;
        if (existing->overflowed && set->candidates[i].score < kOpenedScore) continue;
        if (kept != i) set->candidates[kept] = set->candidates[i];
        ++kept;
    }
    set->count = kept;
}

namespace {

// The listing holds every window of the client's class, and windows whose
// class differs only in case; recording those too changes nothing (the
// clean-up passes over them either way), so when all fit no class is read.
void record_existing_windows(const request* req, const main_window_info* info,
                             room_match_set* set, existing_window_set* existing) {
    *existing = existing_window_set{};
    existing->kakao_pid = info->kakao_pid;
    existing->classes = &set->classes;
    copy_room_query(req->room, existing->room, kQueryUnits);
    copy_room_query(req->resolved_name, existing->resolved_name, kQueryUnits);
    HWND listed[kMaxClientWindows];
    const int count = list_client_windows(listed, kMaxClientWindows);
    if (count < 0 || count > kMaxExistingWindows) {
        enum_client_windows(record_existing_cb, reinterpret_cast<LPARAM>(existing));
        return;
    }
    for (int i = 0; i < count; ++i) existing->handles[i] = listed[i];
    existing->count = count;
}

bool search_box_is_shown(HWND search_box) {
    if (!IsWindowVisible(search_box)) {
        // ShowWindow waits for the box's thread without a time-out: a hung
        // client would hang the run.
        ShowWindowAsync(search_box, SW_SHOWNOACTIVATE);
        Sleep(kShowSearchBoxWaitMs);
    }
    return IsWindowVisible(search_box) != FALSE;
}

void fill_search_text(const request* req, WCHAR (&search)[kSearchTextUnits]) {
    const WCHAR* name = kEmptyText;
    if (!text16_empty(req->resolved_name))
        name = req->resolved_name;
    else if (req->room)
        name = req->room;
    text16_copy(search, name, kSearchNameUnits);
}

// Enter in the search box, then Down and Enter through further results, with
// a re-scan after each Enter. True when a re-scan found the room.
bool step_through_search_results(const request* req, const main_window_info* info,
                                 room_match_set* set, existing_window_set* existing) {
    post_key_formal(info->search_box, VK_RETURN);
    for (int attempt = 1;; ++attempt) {
        Sleep(kRescanWaitMs);
        rescan_and_clean(set, existing);
        if (success_test_passes(set, req)) return true;
        if (attempt == kSearchAttempts) return false;
        HWND results = info->search_result_list;
        if (!results || !IsWindowVisible(results)) return false;
        post_key_formal(results, VK_DOWN);
        Sleep(kDownEnterWaitMs);
        post_key_formal(results, VK_RETURN);
    }
}

bool try_search_box(const request* req, const main_window_info* info, room_match_set* set,
                    existing_window_set* existing) {
    if (!info->search_box || !info->chat_list_view) return false;
    if (!search_box_is_shown(info->search_box)) return false;
    WCHAR search[kSearchTextUnits] = {};
    fill_search_text(req, search);
    set_edit_text_safe(info->search_box, search);
    Sleep(kSearchTextWaitMs);
    const bool found = step_through_search_results(req, info, set, existing);
    set_edit_text_safe(info->search_box, kEmptyText);
    send_click(info->chat_list_view, kEndSearchX, kEndSearchY, false);
    Sleep(kEndSearchWaitMs);
    return found;
}

bool try_tab(const request* req, const main_window_info* info, room_match_set* set,
             existing_window_set* existing) {
    const client_tab* tab = find_chat_tab(req->tab);
    // Candidates below the success test end the attempts, unless `exact` asks
    // for the room itself: then the tab is tried as with none.
    if (!tab || (set->count != 0 && !req->exact) || !info->tab_strip || !info->room_list)
        return false;
    send_click(info->tab_strip, tab->x, kTabY, false);
    Sleep(kTabClickWaitMs);
    for (int32_t k = 0; k < tab->rows; ++k) {
        send_click(info->room_list, kRowX, kFirstRowY + kRowPitch * k, true);
        Sleep(kRescanWaitMs);
        rescan_and_clean(set, existing);
        if (success_test_passes(set, req)) return true;
    }
    return false;
}

}  // namespace

// The book names the tabs in UTF-8: the name asked for is converted once. A
// name too long for the buffer converts to nothing and is no tab.
const client_tab* find_chat_tab(const WCHAR* name) {
    if (!name) return nullptr;
    char utf8[kTabNameBytes] = {};
    if (!WideCharToMultiByte(CP_UTF8, 0, name, -1, utf8, kTabNameBytes, nullptr, nullptr))
        return nullptr;
    for (const client_tab& tab : kClientTabs)
        if (strcmp(tab.name, utf8) == 0) return &tab;
    return nullptr;
}

outcome open_room_via_main_window(const request* req, main_window_info* info,
                                  room_match_set* set, existing_window_set* existing,
                                  bool* opened_new_window) {
    *opened_new_window = false;
    // A table that already holds rooms (below what `exact` asks for) goes on
    // to the selection, which refuses them, when no room may be opened.
    const bool strict = req->ui_mode && text16_equal(req->ui_mode, kStrictOpenOnly);
    if ((strict || !info->main_hwnd) && set->count > 0) return outcome::none;
    if (strict) return outcome::no_open_room;
    if (!info->main_hwnd) return outcome::main_window_not_found;
    // Without a name every new window would pass as the room and also be
    // asked to close: nothing is opened then.
    if (set->room[0] || set->resolved_name[0]) {
        settle_chat_list_children(info, &set->classes);
        record_existing_windows(req, info, set, existing);
        bool found = try_search_box(req, info, set, existing);
        if (!found) found = try_tab(req, info, set, existing);
        drop_excluded_candidates(set, existing);
        *opened_new_window = found && success_test_passes(set, req);
    }
    return set->count == 0 ? outcome::room_not_opened : outcome::none;
}
