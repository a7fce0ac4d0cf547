// The platform's share on Linux that every native program uses: UTF-8
// conversion that behaves like the CP_UTF8 converters with flags 0, the scan
// codes of the keys the program posts, and real files. The desktop comes
// from platform_empty_desktop.cpp or from the tests' scripted one.
#include "platform.h"

#include <cstdio>
#include <unistd.h>

// Scan codes of a US keyboard layout, for the keys the program posts.
UINT platform::MapVirtualKeyW(UINT code, UINT map_type) {
    if (map_type != MAPVK_VK_TO_VSC) return 0;
    switch (code) {
    case VK_RETURN: return 0x1C;
    case VK_DOWN: return 0x50;
    default: return 0;
    }
}

// ---- UTF-8 <-> UTF-16 ------------------------------------------------------

constexpr uint32_t kReplacement = 0xFFFD;

// Decodes one code point at s[0..n). Returns the bytes consumed (at least 1);
// an ill-formed sequence yields U+FFFD and consumes its maximal valid prefix.
static int decode_utf8(const unsigned char* s, int n, uint32_t* cp) {
    unsigned char b = s[0];
    if (b < 0x80) { *cp = b; return 1; }
    int need;
    uint32_t v;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) { need = 1; v = b & 0x1F; }
    else if (b >= 0xE0 && b <= 0xEF) {
        need = 2; v = b & 0x0F;
        if (b == 0xE0) lo = 0xA0;
        if (b == 0xED) hi = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        need = 3; v = b & 0x07;
        if (b == 0xF0) lo = 0x90;
        if (b == 0xF4) hi = 0x8F;
    } else { *cp = kReplacement; return 1; }
    int used = 1;
    for (int k = 0; k < need; ++k) {
        if (used >= n) { *cp = kReplacement; return used; }
        unsigned char c = s[used];
        unsigned char min = k == 0 ? lo : 0x80, max = k == 0 ? hi : 0xBF;
        if (c < min || c > max) { *cp = kReplacement; return used; }
        v = (v << 6) | (c & 0x3F);
        ++used;
    }
    *cp = v;
    return used;
}

int platform::MultiByteToWideChar(UINT code_page, DWORD flags, const char* src, int src_len,
                                  WCHAR* dst, int dst_len) {
    if (code_page != CP_UTF8 || flags != 0 || !src || src_len == 0 || dst_len < 0) return 0;
    const unsigned char* s = reinterpret_cast<const unsigned char*>(src);
    int n = src_len;
    if (n < 0) {
        n = 0;
        while (s[n]) ++n;
        ++n;  // the terminator is converted too
    }
    int out = 0;
    for (int i = 0; i < n;) {
        uint32_t cp;
        i += decode_utf8(s + i, n - i, &cp);
        int units = cp > 0xFFFF ? 2 : 1;
        if (dst_len > 0) {
            if (out + units > dst_len) return 0;
            if (units == 2) {
                dst[out] = static_cast<WCHAR>(0xD800 + ((cp - 0x10000) >> 10));
                dst[out + 1] = static_cast<WCHAR>(0xDC00 + ((cp - 0x10000) & 0x3FF));
            } else {
                dst[out] = static_cast<WCHAR>(cp);
            }
        }
        out += units;
    }
    return out;
}

static int encode_utf8(uint32_t cp, unsigned char* b) {
    if (cp < 0x80) { b[0] = static_cast<unsigned char>(cp); return 1; }
    if (cp < 0x800) {
        b[0] = static_cast<unsigned char>(0xC0 | (cp >> 6));
        b[1] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        b[0] = static_cast<unsigned char>(0xE0 | (cp >> 12));
        b[1] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
        b[2] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        return 3;
    }
    b[0] = static_cast<unsigned char>(0xF0 | (cp >> 18));
    b[1] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
    b[2] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
    b[3] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    return 4;
}

int platform::WideCharToMultiByte(UINT code_page, DWORD flags, const WCHAR* src, int src_len,
                                  char* dst, int dst_len, const char* default_char,
                                  BOOL* used_default) {
    if (code_page != CP_UTF8 || flags != 0 || !src || src_len == 0 || dst_len < 0) return 0;
    if (default_char || used_default) return 0;  // not allowed with CP_UTF8
    int n = src_len;
    if (n < 0) {
        n = 0;
        while (src[n]) ++n;
        ++n;
    }
    int out = 0;
    for (int i = 0; i < n; ++i) {
        uint32_t cp = src[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < n && src[i + 1] >= 0xDC00 &&
            src[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (src[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = kReplacement;
        }
        unsigned char bytes[4];
        int len = encode_utf8(cp, bytes);
        if (dst_len > 0) {
            if (out + len > dst_len) return 0;
            for (int k = 0; k < len; ++k) dst[out + k] = static_cast<char>(bytes[k]);
        }
        out += len;
    }
    return out;
}

// ---- files ------------------------------------------------------------------

BOOL platform::DeleteFileA(const char* path) { return unlink(path) == 0 ? TRUE : FALSE; }

// rename() replaces an existing file in one step, as MOVEFILE_REPLACE_EXISTING
// does, and refuses a directory; without the flag an existing target is
// refused (link() does that atomically).
BOOL platform::MoveFileExA(const char* from, const char* to, DWORD flags) {
    if (flags & MOVEFILE_REPLACE_EXISTING) return rename(from, to) == 0 ? TRUE : FALSE;
    if (link(from, to) != 0) return FALSE;
    unlink(from);
    return TRUE;
}
