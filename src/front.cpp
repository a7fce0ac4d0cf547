#include "front.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "control.h"
#include "window_model.h"

constexpr int kExitOk = 0;
constexpr int kExitMisuse = 2;

// ---- request reader ----------------------------------------------------------

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
    decoded_value value{static_cast<char*>(calloc(strlen(p) + 1, 1)), 0, false};
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
    WCHAR* text = static_cast<WCHAR*>(calloc(n > 0 ? static_cast<size_t>(n) : 1, sizeof(WCHAR)));
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

WCHAR* json_get_wstr(const char* text, const char* key) {
    WCHAR* value = nullptr;
    (void)read_string_value(text, key, &value);
    return value;
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

// ---- result documents ----------------------------------------------------------

static void write_escaped_byte(FILE* out, unsigned char c) {
    switch (c) {
    case '"': fputs("\\\"", out); break;
    case '\\': fputs("\\\\", out); break;
    case '\n': fputs("\\n", out); break;
    case '\r': fputs("\\r", out); break;
    case '\t': fputs("\\t", out); break;
    default:
        if (c < 0x20) fprintf(out, "\\u%04x", c);
        else fputc(c, out);
    }
}

void write_json_escaped(FILE* out, const WCHAR* text) {
    int n = text ? WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr) : 0;
    char* bytes = n > 0 ? static_cast<char*>(calloc(static_cast<size_t>(n) + 1, 1)) : nullptr;
    if (!bytes) {
        fputs("\"\"", out);
        return;
    }
    WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, n, nullptr, nullptr);
    fputc('"', out);
    for (const char* p = bytes; *p; ++p) write_escaped_byte(out, static_cast<unsigned char>(*p));
    fputc('"', out);
    free(bytes);
}

constexpr char kLockedDoc[] =
    "{\"status\":\"error\",\"error_code\":\"KAKAO_LOCKED\",\"error\":\""
    "카카오톡이 잠금(PIN) 모드 상태입니다. 잠금을 해제해 주세요.\"}\n";
constexpr char kNeedsOpenRoomShortDoc[] =
    "{\"status\":\"error\",\"error_code\":\"NEEDS_OPEN_ROOM\",\"error\":\""
    "열려 있는 채팅방이 없습니다. 카카오톡에서 해당 방을 열어 두세요.\"}\n";
constexpr char kMainWindowNotFoundDoc[] =
    "{\"status\":\"error\",\"error_code\":\"MAIN_WINDOW_NOT_FOUND\",\"error\":\""
    "카카오톡 메인 창(EVA_Window_Dblclk)을 찾을 수 없습니다.\"}\n";
constexpr char kNeedsOpenRoomLongDoc[] =
    "{\"status\":\"error\",\"error_code\":\"NEEDS_OPEN_ROOM\",\"error\":\""
    "열려 있는 대상 채팅방을 찾을 수 없습니다. 우분투 Wine 환경에서는 "
    "포커스·클립보드 보호를 위해 전역 단축키(Ctrl+F)를 사용하지 않으므로, "
    "카카오톡에서 해당 채팅방을 한 번 열어 두세요.\"}\n";

static_assert(sizeof kLockedDoc - 1 == 140, "KAKAO_LOCKED document size");
static_assert(sizeof kNeedsOpenRoomShortDoc - 1 == 152, "short NEEDS_OPEN_ROOM document size");
static_assert(sizeof kMainWindowNotFoundDoc - 1 == 137, "MAIN_WINDOW_NOT_FOUND document size");
static_assert(sizeof kNeedsOpenRoomLongDoc - 1 == 311, "long NEEDS_OPEN_ROOM document size");

void write_locked_doc(FILE* out) { fputs(kLockedDoc, out); }
void write_needs_open_room_short_doc(FILE* out) { fputs(kNeedsOpenRoomShortDoc, out); }
void write_main_window_not_found_doc(FILE* out) { fputs(kMainWindowNotFoundDoc, out); }
void write_needs_open_room_long_doc(FILE* out) { fputs(kNeedsOpenRoomLongDoc, out); }

void write_ambiguous_room_doc(FILE* out, const room_match_set* set) {
    int count = set->count < 0 ? 0 : set->count > kMaxCandidates ? kMaxCandidates : set->count;
    fprintf(out,
            "{\"status\":\"error\",\"error_code\":\"AMBIGUOUS_ROOM\",\"top_score\":%d,"
            "\"error\":\"동명이인 또는 부분 일치 채팅방이 있어 안전을 위해 중단했습니다. "
            "정확한 방 이름이나 탭(-t)을 지정해 주세요.\",\"candidates\":[",
            count > 0 ? static_cast<int>(set->candidates[0].score) : 0);
    for (int i = 0; i < count; ++i) {
        if (i > 0) fputc(',', out);
        write_json_escaped(out, set->candidates[i].title);
    }
    fputs("]}\n", out);
}

void write_draft_exists_doc(FILE* out, const WCHAR* room_title, const WCHAR* existing_draft) {
    fputs("{\"status\":\"error\",\"error_code\":\"DRAFT_EXISTS\",\"room_title\":", out);
    write_json_escaped(out, room_title);
    fputs(",\"existing_draft\":", out);
    write_json_escaped(out, existing_draft);
    fputs(",\"error\":\"채팅방 입력창에 이미 작성 중인 초안이 있습니다. 이어 쓰려면 --append, "
          "덮어쓰려면 --force, 비우려면 --clear를 지정하세요.\"}\n",
          out);
}

void write_write_mismatch_doc(FILE* out, const WCHAR* room_title, const WCHAR* written_text) {
    fputs("{\"status\":\"error\",\"error_code\":\"WRITE_MISMATCH\",\"room_title\":", out);
    write_json_escaped(out, room_title);
    fputs(",\"written_text\":", out);
    write_json_escaped(out, written_text);
    fputs(",\"error\":\"입력창 기입 내용 검증(readback)이 일치하지 않아 전송을 중단했습니다.\"}\n",
          out);
}

void write_success_doc(FILE* out, const success_report* report) {
    fprintf(out, "{\"status\":\"%s\",\"room_title\":", report->status);
    write_json_escaped(out, report->room_title);
    fprintf(out,
            ",\"match_score\":%d,\"window_hwnd\":%llu,\"input_hwnd\":%llu,"
            "\"opened_new_window\":%s,\"focus_touched\":false,\"previous_input_text\":",
            report->score, hwnd_number(report->window), hwnd_number(report->input),
            report->opened_new_window ? "true" : "false");
    write_json_escaped(out, report->previous_text);
    fputs(",\"written_text\":", out);
    write_json_escaped(out, report->written_text);
    fputs(",\"remaining_input_text\":", out);
    write_json_escaped(out, report->remaining_text);
    fputs("}\n", out);
}

// ---- entry point and result file ---------------------------------------------

static int print_usage(const char* program) {
    fprintf(stderr, "Usage: %s --probe [out_json] | <req_json_path> <out_json_path>\n",
            program ? program : "chatdraft");
    return kExitMisuse;
}

// The request text, zero-terminated. Null when the file cannot be opened,
// its size cannot be taken or does not fit a signed 32-bit count, or there
// is no memory for it: the request is unreadable.
static char* read_file_alloc(const char* path, size_t* size_read) {
    *size_read = 0;
    FILE* in = fopen(path, "rb");
    if (!in) return nullptr;
    long size = -1;
    if (fseek(in, 0, SEEK_END) == 0) size = ftell(in);
    char* text = nullptr;
    if (size >= 0 && size <= INT32_MAX && fseek(in, 0, SEEK_SET) == 0)
        text = static_cast<char*>(calloc(static_cast<size_t>(size) + 1, 1));
    if (text && size > 0) *size_read = fread(text, 1, static_cast<size_t>(size), in);
    fclose(in);
    return text;
}

// The output path with ".tmp" appended, never cut, so it can never name the
// output file itself.
static char* temp_path_alloc(const char* output_path) {
    size_t size = strlen(output_path) + 5;
    char* path = static_cast<char*>(malloc(size));
    if (path) snprintf(path, size, "%s.tmp", output_path);
    return path;
}

// The complete document is closed, then renamed over the output path in one
// step, so the path always holds the previous document or the new one. A
// document that could not be written whole (a full disk) replaces nothing and
// is removed; one that cannot be renamed stays under the temporary name. Both
// are failures: the caller finds no new document under the output path.
[[nodiscard]] static bool finish_result_file(FILE* out, const char* temp_path,
                                             const char* output_path) {
    const bool written = fflush(out) == 0 && ferror(out) == 0;
    if (fclose(out) != 0 || !written) {
        DeleteFileA(temp_path);
        return false;
    }
    return MoveFileExA(temp_path, output_path, MOVEFILE_REPLACE_EXISTING) != FALSE;
}

static void copy_query(WCHAR* dst, const WCHAR* src) {
    int n = 0;
    for (; src && src[n] && n < kQueryUnits - 1; ++n) dst[n] = src[n];
    dst[n] = 0;
}

// Everything between the main-window search and the last document piece.
static void serve_request(const request* req, FILE* out) {
    main_window_info info{};
    room_match_set set{};
    copy_query(set.room, req->room);
    copy_query(set.resolved_name, req->resolved_name);
    find_main_and_chat_windows(&info, &set);
    if (strcmp(detect_login_state(&info), "locked") == 0) {
        write_locked_doc(out);
        return;
    }
    sort_matches(&set);
    bool opened_new_window = false;
    if (set.count == 0) {
        existing_window_set existing{};
        if (open_room_via_main_window(req, &info, &set, &existing, &opened_new_window, out) ==
            open_result::document_written)
            return;
    }
    select_room_and_write_draft(&set, req, opened_new_window, out);
}

static int run_request_mode(const char* request_path, const char* output_path) {
    size_t size = 0;
    char* text = read_file_alloc(request_path, &size);
    if (!text) return kExitMisuse;
    request req{};
    const bool readable = read_request(text, size, &req);
    free(text);
    if (!readable) {
        free_request(&req);
        return kExitMisuse;
    }
    char* temp_path = temp_path_alloc(output_path);
    FILE* out = temp_path ? fopen(temp_path, "wb") : nullptr;
    int rc = kExitMisuse;
    if (out) {
        serve_request(&req, out);
        rc = finish_result_file(out, temp_path, output_path) ? kExitOk : kExitMisuse;
    }
    free(temp_path);
    free_request(&req);
    return rc;
}

static int run_probe_mode(const char* output_path) {
    if (!output_path) return run_probe(stdout);
    char* temp_path = temp_path_alloc(output_path);
    FILE* out = temp_path ? fopen(temp_path, "wb") : nullptr;
    int rc = kExitMisuse;
    if (out) {
        rc = run_probe(out);
        if (!finish_result_file(out, temp_path, output_path)) rc = kExitMisuse;
    }
    free(temp_path);
    return rc;
}

int chatdraft_main(int argc, char** argv) {
    if (argc < 2) return print_usage(argc > 0 ? argv[0] : nullptr);
    if (strcmp(argv[1], "--probe") == 0) return run_probe_mode(argc > 2 ? argv[2] : nullptr);
    if (argc == 2) return print_usage(argv[0]);
    return run_request_mode(argv[1], argv[2]);
}
