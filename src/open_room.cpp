#include "open_room.h"

#include "documents.h"
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
constexpr int32_t kEndSearchX = 470;
constexpr int32_t kEndSearchY = 89;
constexpr int32_t kTabY = 25;
constexpr int32_t kRowX = 200;
constexpr int32_t kFirstRowY = 48;
constexpr int32_t kRowPitch = 81;

struct chat_tab {
    WCHAR name[4];
    int32_t x;     // of the click on the tab strip
    int32_t rows;  // rows of the room list that are tried
};

constexpr chat_tab kChatTabs[] = {
    {{0xC804, 0xCCB4, 0}, 54, 5},           // 전체
    {{0xC548, 0xC77D, 0xC74C, 0}, 140, 5},  // 안읽음
    {{0xAC00, 0xC871, 0}, 223, 6},          // 가족
    {{0xC5C5, 0xBB34, 0}, 290, 5},          // 업무
    {{0xAD50, 0xC0AC, 0}, 356, 5},          // 교사
};

bool was_asked_to_close(const existing_window_set* existing, HWND hwnd) {
    if (holds_window(existing->closed, existing->closed_count, hwnd)) return true;
    return existing->closed_overflowed &&
           !holds_window(existing->handles, existing->count, hwnd);
}

void note_asked_to_close(existing_window_set* existing, HWND hwnd) {
    if (holds_window(existing->closed, existing->closed_count, hwnd)) return;
    if (existing->closed_count < kMaxClosedWindows)
        existing->closed[existing->closed_count++] = hwnd;
    else
        existing->closed_overflowed = true;
}

// With `exact`, only a room whose title equals the name asked for counts as
// opened, so the search goes on past rooms that merely begin with it.
bool success_test_passes(const room_match_set* set, const request* req) {
    const int32_t needed = req->exact ? kExactScore : kOpenedScore;
    return set->count > 0 && set->candidates[0].score >= needed;
}

}  // namespace

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
// request to close. With an incomplete record of the windows that stood
// before, nothing is closed: a window the user had open must never go.
BOOL CALLBACK cleanup_wrong_cb(HWND hwnd, LPARAM param) {
    auto* existing = reinterpret_cast<existing_window_set*>(param);
    if (existing->overflowed) return TRUE;
    // A window that stood before is never closed; knowing that takes no read.
    if (holds_window(existing->handles, existing->count, hwnd)) return TRUE;
    if (class_of(hwnd, existing->classes) != window_class::client) return TRUE;
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (existing->kakao_pid != 0 && existing->kakao_pid != pid) return TRUE;
    WCHAR title[kTitleUnits] = {};
    GetWindowTextW(hwnd, title, kTitleUnits - 1);
    if (title[0] == 0 || text16_equal(title, kMainTitle)) return TRUE;
    if (compute_match_score(title, existing->room, existing->resolved_name) < kOpenedScore) {
        PostMessageW(hwnd, WM_CLOSE, 0, 0);
        note_asked_to_close(existing, hwnd);
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

// Nothing is written into a window chatdraft asked to close. Without a complete
// record nothing was closed, so a wrong window the clean-up would have closed
// is dropped all the same.
void drop_closed_candidates(room_match_set* set, const existing_window_set* existing) {
    int32_t kept = 0;
    for (int32_t i = 0; i < set->count; ++i) {
        if (was_asked_to_close(existing, set->candidates[i].hwnd)) continue;
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
    text16_copy(existing->room, req->room, kQueryUnits - 1);
    text16_copy(existing->resolved_name, req->resolved_name, kQueryUnits - 1);
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
    click_client(info->chat_list_view, kEndSearchX, kEndSearchY, false);
    Sleep(kEndSearchWaitMs);
    return found;
}

const chat_tab* find_chat_tab(const WCHAR* name) {
    if (!name) return nullptr;
    for (const chat_tab& tab : kChatTabs)
        if (text16_equal(tab.name, name)) return &tab;
    return nullptr;
}

bool try_tab(const request* req, const main_window_info* info, room_match_set* set,
             existing_window_set* existing) {
    const chat_tab* tab = find_chat_tab(req->tab);
    if (!tab || set->count != 0 || !info->tab_strip || !info->room_list) return false;
    click_client(info->tab_strip, tab->x, kTabY, false);
    Sleep(kTabClickWaitMs);
    for (int32_t k = 0; k < tab->rows; ++k) {
        click_client(info->room_list, kRowX, kFirstRowY + kRowPitch * k, true);
        Sleep(kRescanWaitMs);
        rescan_and_clean(set, existing);
        if (success_test_passes(set, req)) return true;
    }
    return false;
}

}  // namespace

open_result open_room_via_main_window(const request* req, main_window_info* info,
                                      room_match_set* set, existing_window_set* existing,
                                      bool* opened_new_window, FILE* out) {
    *opened_new_window = false;
    if (req->ui_mode && text16_equal(req->ui_mode, kStrictOpenOnly)) {
        write_needs_open_room_short_doc(out);
        return open_result::document_written;
    }
    if (!info->main_hwnd) {
        write_main_window_not_found_doc(out);
        return open_result::document_written;
    }
    // Without a name every new window would pass as the room and also be
    // asked to close: nothing is opened then.
    if (set->room[0] || set->resolved_name[0]) {
        settle_chat_list_children(info, &set->classes);
        record_existing_windows(req, info, set, existing);
        bool found = try_search_box(req, info, set, existing);
        if (!found) found = try_tab(req, info, set, existing);
        drop_closed_candidates(set, existing);
        *opened_new_window = found && success_test_passes(set, req);
    }
    if (set->count == 0) {
        write_needs_open_room_long_doc(out);
        return open_result::document_written;
    }
    return open_result::room_found;
}
