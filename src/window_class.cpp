#include "window_class.h"

#include "text16.h"

namespace {

constexpr WCHAR kEditClass[] = CLIENT_TEXT16(CLIENT_EDIT_CLASS);
constexpr WCHAR kRichEdit50Class[] = CLIENT_TEXT16(CLIENT_RICH_EDIT50_CLASS);
constexpr WCHAR kRichEdit20Class[] = CLIENT_TEXT16(CLIENT_RICH_EDIT20_CLASS);

window_class classify_class_name(const WCHAR* name) {
    if (text16_equal(name, kClientClass)) return window_class::client;
    if (text16_equal_ascii_nocase(name, kRichEdit50Class) ||
        text16_equal_ascii_nocase(name, kRichEdit20Class))
        return window_class::rich_edit;
    if (text16_equal_ascii_nocase(name, kEditClass)) return window_class::edit;
    return window_class::other;
}

window_class read_class(HWND hwnd, bool* case_bound) {
    WCHAR name[kClassUnits] = {};
    GetClassNameW(hwnd, name, kClassUnits - 1);
    // A name that differs from the client's only in case shares its atom.
    *case_bound = text16_equal_ascii_nocase(name, kClientClass);
    return classify_class_name(name);
}

window_class* find_in_book(class_book* book, ATOM atom) {
    for (int32_t i = 0; i < book->count; ++i)
        if (book->atoms[i] == atom) return &book->classes[i];
    return nullptr;
}

}  // namespace

window_class class_of(HWND hwnd, class_book* book) {
    bool case_bound = false;
    if (!book) return read_class(hwnd, &case_bound);
    const auto atom = static_cast<ATOM>(GetClassLongPtrW(hwnd, GCW_ATOM));
    if (!atom) return read_class(hwnd, &case_bound);
    if (const window_class* known = find_in_book(book, atom)) return *known;
    const window_class found = read_class(hwnd, &case_bound);
    const bool exact = !case_bound || found == window_class::client;
    if (exact && book->count < kClassBookSize) {
        book->atoms[book->count] = atom;
        book->classes[book->count] = found;
        ++book->count;
    }
    return found;
}

bool is_client_class(HWND hwnd) { return class_of(hwnd, nullptr) == window_class::client; }
