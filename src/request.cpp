#include "request.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static bool is_request_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// The colon after a quoted key at p (a double quote), or null when p does not
// open the quoted key followed by blanks and a colon: a string that merely
// equals a key name is a value, not the key.
static const char* colon_after_key(const char* p, const char* key, size_t key_length) {
    if (strncmp(p + 1, key, key_length) != 0 || p[1 + key_length] != '"') return nullptr;
    const char* q = p + 2 + key_length;
    while (is_request_blank(*q)) ++q;
    return *q == ':' ? q : nullptr;
}

// The closing quote of the string that opens at p, or the terminator.
static const char* string_end(const char* p) {
    for (++p; *p && *p != '"'; ++p)
        if (*p == '\\' && p[1]) ++p;
    return p;
}

// The value position of `key`: past the colon of its member and any run of
// colons and blanks. A member of the top-level object wins; without one, the
// first nested member counts. Null when there is no such member. One pass
// over the text, skipping strings whole, so escaped quotes never match.
static const char* find_value(const char* text, const char* key) {
    const size_t key_length = strlen(key);
    const char* top_level = nullptr;
    const char* nested = nullptr;
    int depth = 0;
    for (const char* p = text; *p && !top_level; ++p) {
        if (*p == '{' || *p == '[') {
            ++depth;
        } else if (*p == '}' || *p == ']') {
            if (depth > 0) --depth;
        } else if (*p == '"') {
            const char* colon = colon_after_key(p, key, key_length);
            if (colon && depth == 1) top_level = colon;
            else if (colon && !nested) nested = colon;
            p = string_end(p);
            if (!*p) break;
        }
    }
    const char* p = top_level ? top_level : nested;
    if (!p) return nullptr;
    while (*p == ':' || is_request_blank(*p)) ++p;
    return p;
}

static void append_utf8(uint32_t v, char* out, size_t* n) {
    if (v <= 0x7F) {
        out[(*n)++] = static_cast<char>(v);
    } else if (v <= 0x7FF) {
        out[(*n)++] = static_cast<char>(0xC0 | (v >> 6));
        out[(*n)++] = static_cast<char>(0x80 | (v & 0x3F));
    } else {
        out[(*n)++] = static_cast<char>(0xE0 | (v >> 12));
        out[(*n)++] = static_cast<char>(0x80 | ((v >> 6) & 0x3F));
        out[(*n)++] = static_cast<char>(0x80 | (v & 0x3F));
    }
}

// A character beyond U+FFFF, from the two halves of its escape pair.
static void append_utf8_pair(uint32_t high, uint32_t low, char* out, size_t* n) {
    const uint32_t v = 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
    out[(*n)++] = static_cast<char>(0xF0 | (v >> 18));
    out[(*n)++] = static_cast<char>(0x80 | ((v >> 12) & 0x3F));
    out[(*n)++] = static_cast<char>(0x80 | ((v >> 6) & 0x3F));
    out[(*n)++] = static_cast<char>(0x80 | (v & 0x3F));
}

// sscanf("%04x") on the text after the 'u'. The conversion skips leading
// white space and then looks at no more than four characters, so only those
// are handed to sscanf: the same result without scanning the whole rest of
// the text once per escape.
static bool scan_hex4(const char* p, uint32_t* v) {
    p += strspn(p, " \t\n\v\f\r");
    char field[5] = {};
    strncpy(field, p, 4);
    unsigned int value = 0;
    if (sscanf(field, "%04x", &value) != 1) return false;
    *v = value;
    return true;
}

// Where decoding goes on after the \u escape at p: four characters after the
// 'u', but never past the end of the text.
static const char* after_unicode_escape(const char* p) { return p + 2 + strnlen(p + 2, 4); }

// A \u escape; a high surrogate followed by the escape of a low one is the
// one character the pair encodes. A lone half is encoded on its own, which
// the conversion to UTF-16 turns into U+FFFD.
static const char* decode_unicode_escape(const char* p, char* out, size_t* n) {
    uint32_t v = 0;
    if (!scan_hex4(p + 2, &v)) return p + 2;
    const char* next = after_unicode_escape(p);
    uint32_t low = 0;
    if (v >= 0xD800 && v <= 0xDBFF && next[0] == '\\' && next[1] == 'u' &&
        scan_hex4(next + 2, &low) && low >= 0xDC00 && low <= 0xDFFF) {
        append_utf8_pair(v, low, out, n);
        return after_unicode_escape(next);
    }
    append_utf8(v, out, n);
    return next;
}

// Decodes the escape at p (a backslash) into out; returns where decoding goes on.
static const char* decode_escape(const char* p, char* out, size_t* n) {
    switch (p[1]) {
    case '\0': out[(*n)++] = '\\'; return p + 1;
    case '"': case '/': case '\\': out[(*n)++] = p[1]; return p + 2;
    case 'n': out[(*n)++] = '\n'; return p + 2;
    case 'r': out[(*n)++] = '\r'; return p + 2;
    case 't': out[(*n)++] = '\t'; return p + 2;
    case 'b': out[(*n)++] = '\b'; return p + 2;
    case 'f': out[(*n)++] = '\f'; return p + 2;
    case 'u': return decode_unicode_escape(p, out, n);
    default: return p + 2;
    }
}

// The decoded bytes of the string value after its opening quote.
struct decoded_value {
    char* bytes;      // zero-terminated; null when there was no memory
    size_t length;    // bytes decoded, a decoded zero byte included
    bool terminated;  // the closing quote was found before the end of the text
};

// Every escape writes no more bytes than it consumes (a three-byte \u
// sequence needs at least three digits, or a sign and a digit, after the
// "\u"; a pair writes four of its twelve), so the decoded value fits in the
// length of the rest plus a zero.
static decoded_value decode_string_alloc(const char* p) {
    decoded_value value{static_cast<char*>(zeroed_alloc(strlen(p) + 1, 1)), 0, false};
    if (!value.bytes) return value;
    while (*p && *p != '"') {
        if (*p == '\\') p = decode_escape(p, value.bytes, &value.length);
        else value.bytes[value.length++] = *p++;
    }
    value.terminated = *p == '"';
    return value;
}

static WCHAR* utf8_to_utf16_alloc(const char* bytes) {
    int n = MultiByteToWideChar(CP_UTF8, 0, bytes, -1, nullptr, 0);
    WCHAR* text =
        static_cast<WCHAR*>(zeroed_alloc(n > 0 ? static_cast<size_t>(n) : 1, sizeof(WCHAR)));
    if (text && n > 0) MultiByteToWideChar(CP_UTF8, 0, bytes, -1, text, n);
    return text;
}

value_read read_string_value(const char* text, const char* key, WCHAR** value) {
    *value = nullptr;
    const char* p = find_value(text, key);
    if (!p || *p != '"') return value_read::absent;
    decoded_value decoded = decode_string_alloc(p + 1);
    if (!decoded.bytes) return value_read::no_memory;
    const bool holds_nul = memchr(decoded.bytes, 0, decoded.length) != nullptr;
    *value = utf8_to_utf16_alloc(decoded.bytes);
    free(decoded.bytes);
    if (!*value) return value_read::no_memory;
    if (holds_nul) return value_read::holds_nul;
    return decoded.terminated ? value_read::whole : value_read::unterminated;
}

int json_get_bool(const char* text, const char* key) {
    const char* p = find_value(text, key);
    return p && strncmp(p, "true", 4) == 0 ? 1 : 0;
}

// Reads one string key into *slot. False when the value is there but cannot
// be had as written: no memory for it, or, for a text that names the room or
// is to be written, a NUL inside it (decoded, or a NUL byte of the file that
// ended the text before the value's closing quote).
static bool take_string(const char* text, const char* key, bool exact_text, bool text_cut,
                        WCHAR** slot) {
    const value_read read = read_string_value(text, key, slot);
    if (read == value_read::no_memory) return false;
    if (!exact_text) return true;
    return read != value_read::holds_nul && !(read == value_read::unterminated && text_cut);
}

bool read_request(const char* text, size_t size, request* req) {
    const bool text_cut = strlen(text) < size;
    bool ok = take_string(text, "room", true, text_cut, &req->room);
    ok = take_string(text, "resolved_name", true, text_cut, &req->resolved_name) && ok;
    ok = take_string(text, "tab", false, text_cut, &req->tab) && ok;
    ok = take_string(text, "message", true, text_cut, &req->message) && ok;
    ok = take_string(text, "ui_mode", false, text_cut, &req->ui_mode) && ok;
    req->send = json_get_bool(text, "send") != 0;
    req->append = json_get_bool(text, "append") != 0;
    req->clear = json_get_bool(text, "clear") != 0;
    req->force = json_get_bool(text, "force") != 0;
    req->close_after = json_get_bool(text, "close_after") != 0;
    req->exact = json_get_bool(text, "exact") != 0;
    return ok;
}

void free_request(request* req) {
    free(req->room);
    free(req->resolved_name);
    free(req->tab);
    free(req->message);
    free(req->ui_mode);
    *req = request{};
}
