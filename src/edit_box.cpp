#include "edit_box.h"

#include <cstdlib>
#include <iterator>

#include "text16.h"

namespace {

constexpr WCHAR kEmptyText[] = {0};

// A message whose answer nobody reads, sent so that a hung box cannot hang the run.
void send_msg_timeout(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam) {
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(hwnd, msg, wparam, lparam, SMTO_ABORTIFHUNG, kSendTimeoutMs, &ignored);
}

}  // namespace

void post_key_formal(HWND hwnd, UINT virtual_key) {
    uint32_t base = MapVirtualKeyW(virtual_key, MAPVK_VK_TO_VSC) << 16;
    // Widened from 32 bits without sign extension: a key-up lParam is positive.
    LPARAM down = static_cast<LPARAM>(static_cast<uint32_t>(base | 1u));
    LPARAM up = static_cast<LPARAM>(static_cast<uint32_t>(base | 0xC0000001u));
    PostMessageW(hwnd, WM_KEYDOWN, virtual_key, down);
    PostMessageW(hwnd, WM_KEYUP, virtual_key, up);
}

void send_click(HWND hwnd, int32_t x, int32_t y, bool double_click) {
    // The point is formed in 32 bits and widened with sign extension.
    auto point = static_cast<int32_t>((static_cast<uint32_t>(y) << 16) |
                                      (static_cast<uint32_t>(x) & 0xFFFFu));
    const LPARAM at = point;
    struct step { UINT msg; WPARAM wparam; };
    const step steps[] = {{WM_MOUSEMOVE, 0}, {WM_LBUTTONDOWN, MK_LBUTTON}, {WM_LBUTTONUP, 0},
                          {WM_LBUTTONDBLCLK, MK_LBUTTON}, {WM_LBUTTONUP, 0}};
    const size_t count = double_click ? std::size(steps) : 3;
    for (size_t i = 0; i < count; ++i) send_msg_timeout(hwnd, steps[i].msg, steps[i].wparam, at);
}

// A RichEdit may count a line break as one unit in WM_GETTEXTLENGTH and
// still copy CR LF in WM_GETTEXT, so the buffer has room for two units per
// reported one, within the cap; a text that fills it may have been cut.
WCHAR* read_edit_text_alloc(HWND hwnd, box_read* how) {
    *how = box_read::unanswered;
    DWORD_PTR reported = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                             &reported))
        return text16_alloc(1);
    const auto length = static_cast<intptr_t>(reported);
    if (length <= 0) {
        WCHAR* empty = text16_alloc(1);
        if (empty) *how = box_read::whole;
        return empty;
    }
    const size_t units = static_cast<size_t>(length) < kMaxEditTextUnits / 2
                             ? 2 * static_cast<size_t>(length)
                             : kMaxEditTextUnits;
    WCHAR* buffer = text16_alloc(units + 2);
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

void set_edit_text_safe(HWND edit, const WCHAR* text) {
    const auto text_param = reinterpret_cast<LPARAM>(text);
    send_msg_timeout(edit, EM_SETSEL, 0, -1);
    send_msg_timeout(edit, EM_REPLACESEL, 1, text_param);
    WCHAR* readback = get_edit_text_alloc(edit);
    if (!readback || !text_equals_normalized(readback, text))
        send_msg_timeout(edit, WM_SETTEXT, 0, text_param);
    free(readback);
    HWND parent = GetParent(edit);
    const int id = GetDlgCtrlID(edit);
    if (!parent) return;
    const WPARAM notify = (static_cast<WPARAM>(EN_CHANGE) << 16) |
                          (static_cast<WPARAM>(static_cast<unsigned>(id)) & 0xFFFFu);
    PostMessageW(parent, WM_COMMAND, notify, reinterpret_cast<LPARAM>(edit));
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
    WCHAR* na = text16_alloc(la + 2);
    WCHAR* nb = text16_alloc(lb + 2);
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
