// The event log: one UTF-8 line per event, written straight through to the
// file so a reader sees every line as soon as it is complete.
#include "standin.h"

#include <cstdio>

namespace {

struct log_sink {
    HANDLE file = INVALID_HANDLE_VALUE;
    ULONGLONG start_tick = 0;
    CRITICAL_SECTION lock;
};

log_sink& sink()
{
    static log_sink s;
    return s;
}

void append_utf8(std::string& out, uint32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void append_escaped_unit(std::string& out, uint32_t c)
{
    char buf[8];
    switch (c) {
    case '"': out += "\\\""; return;
    case '\\': out += "\\\\"; return;
    case '\n': out += "\\n"; return;
    case '\r': out += "\\r"; return;
    case '\t': out += "\\t"; return;
    default: break;
    }
    snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(c));
    out += buf;
}

}  // namespace

// JSON string syntax; a lone surrogate is kept as a \u escape so the exact
// UTF-16 units survive the trip to the reader.
void append_json_string(std::string& out, const WCHAR* text, size_t length)
{
    out += '"';
    for (size_t i = 0; i < length; ++i) {
        uint32_t c = text[i];
        bool high = c >= 0xD800 && c <= 0xDBFF;
        if (high && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            append_utf8(out, 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (c < 0x20 || c == '"' || c == '\\' || c == 0x7F || (c >= 0xD800 && c <= 0xDFFF)) {
            append_escaped_unit(out, c);
        } else {
            append_utf8(out, c);
        }
    }
    out += '"';
}

void log_open(HANDLE file, ULONGLONG start_tick)
{
    log_sink& s = sink();
    InitializeCriticalSection(&s.lock);
    s.file = file;
    s.start_tick = start_tick;
}

log_line log_begin(const char* event)
{
    log_line line;
    line.text = event;
    return line;
}

void log_word(log_line& line, const char* key, const char* value)
{
    line.text += ' ';
    line.text += key;
    line.text += '=';
    line.text += value;
}

void log_u64(log_line& line, const char* key, uint64_t value)
{
    char buf[32];
    snprintf(buf, sizeof buf, "%llu", static_cast<unsigned long long>(value));
    log_word(line, key, buf);
}

void log_i64(log_line& line, const char* key, int64_t value)
{
    char buf[32];
    snprintf(buf, sizeof buf, "%lld", static_cast<long long>(value));
    log_word(line, key, buf);
}

void log_hex(log_line& line, const char* key, uint64_t value)
{
    char buf[32];
    snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(value));
    log_word(line, key, buf);
}

void log_text(log_line& line, const char* key, const WCHAR* text, size_t length)
{
    line.text += ' ';
    line.text += key;
    line.text += '=';
    append_json_string(line.text, text ? text : L"", text ? length : 0);
}

void log_text(log_line& line, const char* key, const std::wstring& text)
{
    log_text(line, key, text.data(), text.size());
}

void log_emit(const log_line& line)
{
    log_sink& s = sink();
    if (s.file == INVALID_HANDLE_VALUE) return;
    EnterCriticalSection(&s.lock);
    char stamp[32];
    snprintf(stamp, sizeof stamp, "%llu ", static_cast<unsigned long long>(GetTickCount64() - s.start_tick));
    std::string out = stamp + line.text + "\n";
    DWORD written = 0;
    WriteFile(s.file, out.data(), static_cast<DWORD>(out.size()), &written, nullptr);
    LeaveCriticalSection(&s.lock);
}
