// Small helpers over zero-terminated UTF-16 texts. wchar_t is 32 bits on
// Linux, so the C library's wide-string functions cannot stand in for these.
#pragma once

#include <cstddef>
#include <cstdlib>

#include "platform/platform.h"

// Number of units before the terminator; 0 for a null text.
inline size_t text16_len(const WCHAR* s) {
    size_t n = 0;
    if (s)
        while (s[n]) ++n;
    return n;
}

inline bool text16_empty(const WCHAR* s) { return !s || s[0] == 0; }

// Whole-string, unit-for-unit comparison; null reads as the empty text.
inline bool text16_equal(const WCHAR* a, const WCHAR* b) {
    static constexpr WCHAR empty[] = {0};
    if (!a) a = empty;
    if (!b) b = empty;
    size_t i = 0;
    while (a[i] && a[i] == b[i]) ++i;
    return a[i] == b[i];
}

inline bool text16_starts_with(const WCHAR* s, const WCHAR* prefix) {
    for (size_t i = 0; prefix[i]; ++i)
        if (s[i] != prefix[i]) return false;
    return true;
}

inline WCHAR ascii_lower16(WCHAR c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<WCHAR>(c - 'A' + 'a') : c;
}

// Whole-string comparison that ignores the case of A to Z only.
inline bool text16_equal_ascii_nocase(const WCHAR* a, const WCHAR* b) {
    size_t i = 0;
    while (a[i] && ascii_lower16(a[i]) == ascii_lower16(b[i])) ++i;
    return ascii_lower16(a[i]) == ascii_lower16(b[i]);
}

// Copies at most max_units units of src (null: none) and terminates dst,
// which must hold max_units + 1 units.
inline void text16_copy(WCHAR* dst, const WCHAR* src, size_t max_units) {
    size_t n = 0;
    if (src)
        while (n < max_units && src[n]) {
            dst[n] = src[n];
            ++n;
        }
    dst[n] = 0;
}

// A zero-filled buffer of `units` units, freed with free; null without memory.
[[nodiscard]] inline WCHAR* text16_alloc(size_t units) {
    return static_cast<WCHAR*>(platform::zeroed_alloc(units, sizeof(WCHAR)));
}
