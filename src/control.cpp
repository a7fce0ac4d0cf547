#include "control.h"

#include <cstdlib>

#include "front.h"
#include "text16.h"
#include "window_model.h"

uintptr_t send_msg_timeout(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(hwnd, msg, wparam, lparam, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                             &result))
        return 0;
    return result;
}

BOOL post_key_formal(HWND, UINT) { return FALSE; }
LRESULT click_client(HWND, int32_t, int32_t, bool) { return 0; }
WCHAR* get_edit_text_alloc(HWND) { return static_cast<WCHAR*>(calloc(1, sizeof(WCHAR))); }
int set_edit_text_safe(HWND, const WCHAR*) { return 0; }
void normalize_newlines(const WCHAR*, WCHAR* dst, size_t capacity) {
    if (capacity > 0) dst[0] = 0;
}
bool text_equals_normalized(const WCHAR* a, const WCHAR* b) { return text16_equal(a, b); }
BOOL CALLBACK record_existing_cb(HWND, LPARAM) { return TRUE; }
BOOL CALLBACK cleanup_wrong_cb(HWND, LPARAM) { return TRUE; }

open_result open_room_via_main_window(const request*, const main_window_info*, room_match_set*,
                                      existing_window_set*, bool* opened_new_window, FILE* out) {
    *opened_new_window = false;
    write_needs_open_room_long_doc(out);
    return open_result::document_written;
}

void select_room_and_write_draft(const room_match_set* set, const request*, bool, FILE* out) {
    write_ambiguous_room_doc(out, set);
}
