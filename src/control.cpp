#include "control.h"

#include <cstdlib>
#include <cstring>
#include <iterator>

#include "front.h"
#include "text16.h"
#include "window_model.h"

namespace {

constexpr WCHAR kEmptyText[] = {0};
constexpr WCHAR kStrictOpenOnly[] = W16("strict_open_only");
constexpr WCHAR kCrLf[] = W16("\r\n");

constexpr DWORD kShowSearchBoxWaitMs = 80;
constexpr DWORD kSearchTextWaitMs = 300;
constexpr DWORD kRescanWaitMs = 300;
constexpr DWORD kDownEnterWaitMs = 80;
constexpr DWORD kEndSearchWaitMs = 80;
constexpr DWORD kTabClickWaitMs = 150;
constexpr DWORD kReadbackWaitMs = 100;
constexpr DWORD kSendPollWaitMs = 100;

constexpr int kSearchTextUnits = 32;
constexpr int kSearchNameUnits = 24;
constexpr int kSearchAttempts = 5;
constexpr int kSendPolls = 15;
constexpr ULONGLONG kSendPollMs = 1500;  // the poll's bound, whatever the reads cost
constexpr int32_t kOpenedScore = 70;   // a new window scoring less is the wrong room
constexpr int32_t kSendScore = 80;     // sending needs at least a prefix match on `room`
constexpr int32_t kExactScore = 95;    // a title equal to `room` or `resolved_name`
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

[[nodiscard]] WCHAR* alloc_units(size_t units) {
    return static_cast<WCHAR*>(calloc(units, sizeof(WCHAR)));
}

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

// ---- window message primitives ------------------------------------------------

uintptr_t send_msg_timeout(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(hwnd, msg, wparam, lparam, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                             &result))
        return 0;
    return result;
}

BOOL post_key_formal(HWND hwnd, UINT virtual_key) {
    uint32_t base = MapVirtualKeyW(virtual_key, MAPVK_VK_TO_VSC) << 16;
    // Widened from 32 bits without sign extension: a key-up lParam is positive.
    LPARAM down = static_cast<LPARAM>(static_cast<uint32_t>(base | 1u));
    LPARAM up = static_cast<LPARAM>(static_cast<uint32_t>(base | 0xC0000001u));
    PostMessageW(hwnd, WM_KEYDOWN, virtual_key, down);
    return PostMessageW(hwnd, WM_KEYUP, virtual_key, up);
}

LRESULT click_client(HWND hwnd, int32_t x, int32_t y, bool double_click) {
    // The point is formed in 32 bits and widened with sign extension.
    auto point = static_cast<int32_t>((static_cast<uint32_t>(y) << 16) |
                                      (static_cast<uint32_t>(x) & 0xFFFFu));
    const LPARAM at = point;
    struct step { UINT msg; WPARAM wparam; };
    const step steps[] = {{WM_MOUSEMOVE, 0}, {WM_LBUTTONDOWN, MK_LBUTTON}, {WM_LBUTTONUP, 0},
                          {WM_LBUTTONDBLCLK, MK_LBUTTON}, {WM_LBUTTONUP, 0}};
    const size_t count = double_click ? std::size(steps) : 3;
    LRESULT last = 0;
    for (size_t i = 0; i < count; ++i) {
        DWORD_PTR ignored = 0;
        last = SendMessageTimeoutW(hwnd, steps[i].msg, steps[i].wparam, at, SMTO_ABORTIFHUNG,
                                   kSendTimeoutMs, &ignored);
    }
    return last;
}

// A RichEdit may count a line break as one unit in WM_GETTEXTLENGTH and
// still copy CR LF in WM_GETTEXT, so the buffer has room for two units per
// reported one, within the cap; a text that fills it may have been cut.
WCHAR* read_edit_text_alloc(HWND hwnd, box_read* how) {
    *how = box_read::unanswered;
    DWORD_PTR reported = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                             &reported))
        return alloc_units(1);
    const auto length = static_cast<intptr_t>(reported);
    if (length <= 0) {
        WCHAR* empty = alloc_units(1);
        if (empty) *how = box_read::whole;
        return empty;
    }
    const size_t units = static_cast<size_t>(length) < kMaxEditTextUnits / 2
                             ? 2 * static_cast<size_t>(length)
                             : kMaxEditTextUnits;
    WCHAR* buffer = alloc_units(units + 2);
    if (!buffer) return nullptr;
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, units + 1, reinterpret_cast<LPARAM>(buffer),
                             SMTO_ABORTIFHUNG, kSendTimeoutMs, &copied))
        return buffer;
    *how = text16_len(buffer) >= units ? box_read::cut : box_read::whole;
    if (text16_equal(buffer, kPlaceholder)) buffer[0] = 0;
    return buffer;
}

WCHAR* get_edit_text_alloc(HWND hwnd) {
    box_read how = box_read::whole;
    return read_edit_text_alloc(hwnd, &how);
}

int set_edit_text_safe(HWND edit, const WCHAR* text) {
    const auto text_param = reinterpret_cast<LPARAM>(text);
    send_msg_timeout(edit, EM_SETSEL, 0, -1);
    send_msg_timeout(edit, EM_REPLACESEL, 1, text_param);
    WCHAR* readback = get_edit_text_alloc(edit);
    if (!readback || !text_equals_normalized(readback, text))
        send_msg_timeout(edit, WM_SETTEXT, 0, text_param);
    free(readback);
    HWND parent = GetParent(edit);
    int id = GetDlgCtrlID(edit);
    if (!parent) return id;
    const WPARAM notify = (static_cast<WPARAM>(EN_CHANGE) << 16) |
                          (static_cast<WPARAM>(static_cast<unsigned>(id)) & 0xFFFFu);
    return PostMessageW(parent, WM_COMMAND, notify, reinterpret_cast<LPARAM>(edit));
}

void normalize_newlines(const WCHAR* src, WCHAR* dst, size_t capacity) {
    size_t n = 0;
    if (capacity > 1) {
        for (size_t i = 0; src[i] && n < capacity - 1; ++i) {
            if (src[i] == '\r') {
                dst[n++] = '\n';
                if (src[i + 1] == '\n') ++i;
            } else {
                dst[n++] = src[i];
            }
        }
    }
    if (capacity > 0) dst[n] = 0;
}

bool text_equals_normalized(const WCHAR* a, const WCHAR* b) {
    const size_t la = text16_len(a);
    const size_t lb = text16_len(b);
    WCHAR* na = alloc_units(la + 2);
    WCHAR* nb = alloc_units(lb + 2);
    bool equal = false;
    if (na && nb) {
        normalize_newlines(a ? a : kEmptyText, na, la + 1);
        normalize_newlines(b ? b : kEmptyText, nb, lb + 1);
        equal = text16_equal(na, nb);
    }
    free(na);
    free(nb);
    return equal;
}

// ---- room opening through the main window -------------------------------------

BOOL CALLBACK record_existing_cb(HWND hwnd, LPARAM param) {
    auto* existing = reinterpret_cast<existing_window_set*>(param);
    if (!is_client_class(hwnd)) return TRUE;
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
    if (!is_client_class(hwnd)) return TRUE;
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

void rescan_and_clean(room_match_set* set, existing_window_set* existing) {
    scan_chat_windows(set);
    enum_client_windows(cleanup_wrong_cb, reinterpret_cast<LPARAM>(existing));
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

void record_existing_windows(const request* req, const main_window_info* info,
                             existing_window_set* existing) {
    *existing = existing_window_set{};
    existing->kakao_pid = info->kakao_pid;
    text16_copy(existing->room, req->room, kQueryUnits - 1);
    text16_copy(existing->resolved_name, req->resolved_name, kQueryUnits - 1);
    enum_client_windows(record_existing_cb, reinterpret_cast<LPARAM>(existing));
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

open_result open_room_via_main_window(const request* req, const main_window_info* info,
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
        record_existing_windows(req, info, existing);
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

// ---- room selection, draft writing and sending ----------------------------------

namespace {

// The texts one draft run reads and makes; all owned here.
struct draft_texts {
    WCHAR* previous;
    WCHAR* to_write;
    WCHAR* readback;
    WCHAR* remaining;
};

void release_draft_texts(draft_texts* texts) {
    free(texts->previous);
    free(texts->to_write);
    free(texts->readback);
    free(texts->remaining);
    *texts = draft_texts{};
}

// A request that names no room takes every open room at score 100: fine for
// a draft into the only open room, never enough to send a message. No room
// is chosen while a matching window that scores as well was left out of the
// table: it may be the room asked for.
bool selection_is_ambiguous(const room_match_set* set, const request* req) {
    const int32_t top = set->candidates[0].score;
    int32_t ties = 0;
    for (int32_t i = 0; i < set->count; ++i)
        if (set->candidates[i].score == top) ++ties;
    if (ties > 1 || top <= set->left_out_score) return true;
    if (!req->send) return false;
    const bool named = set->room[0] != 0 || set->resolved_name[0] != 0;
    return !named || top < (req->exact ? kExactScore : kSendScore);
}

// previous, CR LF, message: the buffer is filled exactly, terminator included.
[[nodiscard]] WCHAR* join_lines_alloc(const WCHAR* previous, const WCHAR* message) {
    const size_t lp = text16_len(previous);
    const size_t lm = text16_len(message);
    WCHAR* joined = alloc_units(lp + lm + 3);
    if (!joined) return nullptr;
    memcpy(joined, previous, lp * sizeof(WCHAR));
    memcpy(joined + lp, kCrLf, 2 * sizeof(WCHAR));
    memcpy(joined + lp + 2, message, lm * sizeof(WCHAR));
    return joined;
}

[[nodiscard]] WCHAR* copy_text_alloc(const WCHAR* text) {
    const size_t length = text16_len(text);
    WCHAR* copy = alloc_units(length + 1);
    if (copy) memcpy(copy, text, length * sizeof(WCHAR));
    return copy;
}

// Null when the memory for the text could not be had.
[[nodiscard]] WCHAR* text_to_write_alloc(const request* req, const WCHAR* previous,
                                         const WCHAR* message) {
    if (req->clear) return copy_text_alloc(kEmptyText);
    if (req->append && !text16_empty(previous)) return join_lines_alloc(previous, message);
    return copy_text_alloc(message);
}

// Enter, then up to 15 reads for the box to empty, for at most 1.5 s however
// long the reads take. Only a box that answered with an empty text confirms
// the send.
const char* send_and_confirm(HWND input) {
    post_key_formal(input, VK_RETURN);
    const ULONGLONG started = GetTickCount64();
    for (int poll = 0; poll < kSendPolls; ++poll) {
        Sleep(kSendPollWaitMs);
        box_read how = box_read::unanswered;
        WCHAR* now = read_edit_text_alloc(input, &how);
        const bool emptied = how == box_read::whole && now && now[0] == 0;
        free(now);
        if (emptied) return "sent";
        if (GetTickCount64() - started >= kSendPollMs) break;
    }
    return "send_unconfirmed";
}

void finish_success(const room_candidate* top, const request* req, bool opened_new_window,
                    const char* status, draft_texts* texts, FILE* out) {
    texts->remaining = get_edit_text_alloc(top->input_hwnd);
    if (req->close_after) PostMessageW(top->hwnd, WM_CLOSE, 0, 0);
    success_report report{};
    report.status = status;
    report.room_title = top->title;
    report.score = top->score;
    report.window = top->hwnd;
    report.input = top->input_hwnd;
    report.opened_new_window = opened_new_window;
    report.previous_text = texts->previous ? texts->previous : kEmptyText;
    report.written_text = texts->readback ? texts->readback : kEmptyText;
    report.remaining_text = texts->remaining ? texts->remaining : kEmptyText;
    write_success_doc(out, &report);
}

// The outcomes decided before the box is touched: a draft that could not be
// read whole, a draft in the way, or no memory for the text to write. On the
// way on, texts->previous and texts->to_write are set. True when refused.
bool refused_before_writing(const room_candidate* top, const request* req, draft_texts* texts,
                            FILE* out) {
    const WCHAR* message = req->message ? req->message : kEmptyText;
    box_read previous_read = box_read::unanswered;
    texts->previous = read_edit_text_alloc(top->input_hwnd, &previous_read);
    const bool overwrites = req->clear || req->force;
    // A box too busy to answer may still hold a draft: writing would lose it
    // unless the request overwrites whatever is there.
    if (previous_read == box_read::unanswered && !overwrites) {
        write_write_mismatch_doc(out, top->title, kEmptyText);
        return true;
    }
    // A draft read only in part is never written back (append) nor taken for
    // the message (an equal prefix would cut the draft's tail).
    const bool cut = previous_read == box_read::cut && !overwrites;
    if (cut && req->append) {
        write_write_mismatch_doc(out, top->title, texts->previous);
        return true;
    }
    const bool any_flag = req->clear || req->append || req->force;
    if (!any_flag && !text16_empty(texts->previous) &&
        (cut || !text_equals_normalized(texts->previous, message))) {
        write_draft_exists_doc(out, top->title, texts->previous);
        return true;
    }
    texts->to_write = text_to_write_alloc(req, texts->previous, message);
    if (!texts->to_write) {
        // Nothing is written or sent without the text; report what the box holds.
        texts->readback = get_edit_text_alloc(top->input_hwnd);
        write_write_mismatch_doc(out, top->title, texts->readback ? texts->readback : kEmptyText);
        return true;
    }
    return false;
}

// After the write: the box must answer with all of its text, and that text
// must be the one written (for a clear, the empty text).
bool write_is_verified(const room_candidate* top, draft_texts* texts) {
    Sleep(kReadbackWaitMs);
    box_read how = box_read::unanswered;
    texts->readback = read_edit_text_alloc(top->input_hwnd, &how);
    return how == box_read::whole && text_equals_normalized(texts->readback, texts->to_write);
}

}  // namespace

void select_room_and_write_draft(const room_match_set* set, const request* req,
                                 bool opened_new_window, FILE* out) {
    if (set->count <= 0 || selection_is_ambiguous(set, req)) {
        write_ambiguous_room_doc(out, set);
        return;
    }
    const room_candidate* top = &set->candidates[0];
    draft_texts texts{};
    if (refused_before_writing(top, req, &texts, out)) {
        release_draft_texts(&texts);
        return;
    }
    set_edit_text_safe(top->input_hwnd, texts.to_write);
    if (!write_is_verified(top, &texts)) {
        write_write_mismatch_doc(out, top->title, texts.readback ? texts.readback : kEmptyText);
        release_draft_texts(&texts);
        return;
    }
    const char* status = req->clear ? "cleared" : "draft_written";
    if (req->send && !req->clear && texts.to_write[0] != 0) status = send_and_confirm(top->input_hwnd);
    finish_success(top, req, opened_new_window, status, &texts, out);
    release_draft_texts(&texts);
}
