// Messages to the chat client: edit-box text I/O, keys and clicks, opening a
// room through the main window, and writing (and sending) the draft.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "front.h"
#include "platform/platform.h"
#include "window_model.h"

constexpr UINT kSendTimeoutMs = 2000;
constexpr int kMaxExistingWindows = 256;
constexpr int kMaxClosedWindows = 256;
// Another process chooses the length it reports; a read never takes more.
constexpr size_t kMaxEditTextUnits = 1048576;

// "메시지 입력": what an empty input box may report.
constexpr WCHAR kPlaceholder[] = {0xBA54, 0xC2DC, 0xC9C0, 0x0020, 0xC785, 0xB825, 0};

uintptr_t send_msg_timeout(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
BOOL post_key_formal(HWND hwnd, UINT virtual_key);
LRESULT click_client(HWND hwnd, int32_t x, int32_t y, bool double_click);
WCHAR* get_edit_text_alloc(HWND hwnd);
// How a read of an edit box went.
enum class box_read {
    whole,       // the box answered and all of its text fitted
    cut,         // the box answered, but its text filled the buffer: it may hold more
    unanswered,  // a message went unanswered, or there was no memory for the text
};
// Like get_edit_text_alloc, and says how the read went, so an empty text can
// be told from a box that is gone and a whole text from a part of one.
WCHAR* read_edit_text_alloc(HWND hwnd, box_read* how);
int set_edit_text_safe(HWND edit, const WCHAR* text);
void normalize_newlines(const WCHAR* src, WCHAR* dst, size_t capacity);
bool text_equals_normalized(const WCHAR* a, const WCHAR* b);

// Chat-client windows that stood before the room-opening attempts.
struct existing_window_set {
    HWND handles[kMaxExistingWindows];
    int32_t count;
    DWORD kakao_pid;                    // 0: windows of any process are judged
    WCHAR room[kQueryUnits];
    WCHAR resolved_name[kQueryUnits];
    bool overflowed;                    // some window could not be recorded: close nothing
    HWND closed[kMaxClosedWindows];     // new windows asked to close
    int32_t closed_count;
    bool closed_overflowed;             // `closed` is full: every new window counts as closed
};

BOOL CALLBACK record_existing_cb(HWND hwnd, LPARAM set);
BOOL CALLBACK cleanup_wrong_cb(HWND hwnd, LPARAM set);

// What open_room_via_main_window left for the caller.
enum class open_result {
    document_written,  // the run ends with the document already written
    room_found,        // the table holds candidates for select_room_and_write_draft
};

// Re-scan after an action: the scan, the ordering, then the clean-up.
void rescan_and_clean(room_match_set* set, existing_window_set* existing);
// Removes from the table the windows the clean-up asked to close.
void drop_closed_candidates(room_match_set* set, const existing_window_set* existing);

open_result open_room_via_main_window(const request* req, const main_window_info* info,
                                      room_match_set* set, existing_window_set* existing,
                                      bool* opened_new_window, FILE* out);
void select_room_and_write_draft(const room_match_set* set, const request* req,
                                 bool opened_new_window, FILE* out);
