// What a window's class is to chatdraft: the client's own, a RichEdit (an
// input box), an Edit (the search box), or another. Reading a class name
// costs two round trips to the window server (the class atom, then its
// name); a book of the atoms seen in a run answers later windows of a class
// already read with one.
#pragma once

#include <cstdint>

#include "client_layout.h"
#include "platform/platform.h"

constexpr int kClassUnits = 128;  // class-name buffers
constexpr WCHAR kClientClass[] = CLIENT_TEXT16(CLIENT_CLASS);

enum class window_class : uint8_t {
    other,
    client,     // exactly "EVA_Window_Dblclk"
    rich_edit,  // "RICHEDIT50W" or "RichEdit20W", in any case
    edit,       // "Edit", in any case
};

// The classes met in one run, by their atom. An atom names one class name,
// ignoring case, for as long as the class is registered; a verdict that
// depends on the case of the name ("client") is kept only for the exact name.
constexpr int kClassBookSize = 32;
struct class_book {
    ATOM atoms[kClassBookSize];
    window_class classes[kClassBookSize];
    int32_t count;
    // Rooms whose children were searched for the input box. The first room's
    // children are read by name: through the book a class seen once costs a
    // round trip more, which only later rooms of the same build pay back.
    int32_t rooms_searched;
};

// The window's class; with a book, through the window's class atom. A
// window that is gone is of no class chatdraft knows.
window_class class_of(HWND hwnd, class_book* book);
// True when the window's class name is exactly the client's.
bool is_client_class(HWND hwnd);
