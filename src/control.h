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

// "메시지 입력": what an empty input box may report.
constexpr WCHAR kPlaceholder[] = {0xBA54, 0xC2DC, 0xC9C0, 0x0020, 0xC785, 0xB825, 0};

uintptr_t send_msg_timeout(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam);
BOOL post_key_formal(HWND hwnd, UINT virtual_key);
LRESULT click_client(HWND hwnd, int32_t x, int32_t y, bool double_click);
WCHAR* get_edit_text_alloc(HWND hwnd);
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
};

BOOL CALLBACK record_existing_cb(HWND hwnd, LPARAM set);
BOOL CALLBACK cleanup_wrong_cb(HWND hwnd, LPARAM set);

// What open_room_via_main_window left for the caller.
enum class open_result {
    document_written,  // the run ends with the document already written
    room_found,        // the table holds candidates for select_room_and_write_draft
};

open_result open_room_via_main_window(const request* req, const main_window_info* info,
                                      room_match_set* set, existing_window_set* existing,
                                      bool* opened_new_window, FILE* out);
void select_room_and_write_draft(const room_match_set* set, const request* req,
                                 bool opened_new_window, FILE* out);
