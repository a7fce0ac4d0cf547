// Messages to the client's controls: sending with a time-out, keys and clicks,
// reading and writing an edit box, and the comparison of texts that ignores
// the form of line breaks.
#pragma once

#include <cstddef>
#include <cstdint>

#include "client_layout.h"
#include "platform/platform.h"

constexpr UINT kSendTimeoutMs = 2000;
// Another process chooses the length it reports; a read never takes more.
constexpr size_t kMaxEditTextUnits = 1048576;

constexpr WCHAR kPlaceholder[] = CLIENT_TEXT16(CLIENT_PLACEHOLDER);
static_assert(sizeof kPlaceholder == 7 * sizeof(WCHAR) && kPlaceholder[0] == 0xBA54,
              "the placeholder is 메시지 입력 in UTF-16");

// Posts the key's WM_KEYDOWN and WM_KEYUP, with the scan code the system maps it to.
void post_key_formal(HWND hwnd, UINT virtual_key);
// Sends a left click (move, down, up) or a double click (and double-click, up)
// at the point, in client coordinates of the window.
void send_click(HWND hwnd, int32_t x, int32_t y, bool double_click);
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
// Replaces the box's text, reads it back and, when it differs, sets it whole;
// then tells the box's parent that the text changed.
void set_edit_text_safe(HWND edit, const WCHAR* text);
void normalize_newlines(const WCHAR* src, WCHAR* dst, size_t capacity);
bool text_equals_normalized(const WCHAR* a, const WCHAR* b);
