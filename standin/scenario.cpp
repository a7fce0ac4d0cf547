// Reader of the line-oriented scenario format described in standin/README.md.
#include "standin.h"

#include <cstdio>
#include <cwchar>

namespace {

constexpr size_t kMaxFileBytes = 16u << 20;
constexpr int kMaxGenerated = 100000;

struct token {
    std::wstring key;    // empty unless written key=value
    std::wstring value;
    bool quoted = false;
};

struct line_tokens {
    std::vector<token> items;
    std::wstring error;
};

bool is_blank(WCHAR c) { return c == L' ' || c == L'\t' || c == L'\r'; }

int hex_value(WCHAR c)
{
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

// Reads a quoted text starting at the opening quote; returns the index after it.
size_t read_quoted(const std::wstring& s, size_t i, std::wstring& out, std::wstring& error)
{
    for (++i; i < s.size(); ++i) {
        WCHAR c = s[i];
        if (c == L'"') return i + 1;
        if (c != L'\\') { out += c; continue; }
        if (++i >= s.size()) break;
        switch (s[i]) {
        case L'n': out += L'\n'; break;
        case L'r': out += L'\r'; break;
        case L't': out += L'\t'; break;
        case L'0': out += L'\0'; break;
        case L'\\': out += L'\\'; break;
        case L'"': out += L'"'; break;
        case L'u': {
            if (i + 4 >= s.size()) { error = L"short \\u escape"; return 0; }
            int v = 0;
            for (int k = 1; k <= 4; ++k) {
                int h = hex_value(s[i + k]);
                if (h < 0) { error = L"bad \\u escape"; return 0; }
                v = v * 16 + h;
            }
            out += static_cast<WCHAR>(v);
            i += 4;
            break;
        }
        default: error = L"unknown escape"; return 0;
        }
    }
    error = L"missing closing quote";
    return 0;
}

line_tokens split_line(const std::wstring& s)
{
    line_tokens result;
    size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && is_blank(s[i])) ++i;
        if (i >= s.size()) break;
        token t;
        if (s[i] != L'"') {
            size_t start = i;
            while (i < s.size() && !is_blank(s[i]) && s[i] != L'=' && s[i] != L'"') ++i;
            t.value = s.substr(start, i - start);
            if (i < s.size() && s[i] == L'=') { t.key = t.value; t.value.clear(); ++i; }
        }
        if (i < s.size() && s[i] == L'"') {
            t.quoted = true;
            t.value.clear();
            i = read_quoted(s, i, t.value, result.error);
            if (!result.error.empty()) return result;
        } else if (!t.key.empty()) {
            size_t start = i;
            while (i < s.size() && !is_blank(s[i])) ++i;
            t.value = s.substr(start, i - start);
        }
        if (i < s.size() && !is_blank(s[i])) { result.error = L"unexpected character"; return result; }
        result.items.push_back(t);
    }
    return result;
}

bool parse_u64(const std::wstring& s, uint64_t& out)
{
    if (s.empty()) return false;
    uint64_t v = 0;
    bool hex = s.size() > 2 && s[0] == L'0' && (s[1] == L'x' || s[1] == L'X');
    for (size_t i = hex ? 2 : 0; i < s.size(); ++i) {
        int d = hex ? hex_value(s[i]) : (s[i] >= L'0' && s[i] <= L'9' ? s[i] - L'0' : -1);
        if (d < 0) return false;
        uint64_t base = hex ? 16 : 10;
        if (v > (UINT64_MAX - d) / base) return false;
        v = v * base + d;
    }
    out = v;
    return true;
}

bool parse_ms(const std::wstring& s, DWORD& out)
{
    uint64_t v = 0;
    if (!parse_u64(s, v) || v >= kForever) return false;
    out = static_cast<DWORD>(v);
    return true;
}

bool parse_visibility(const std::wstring& s, visibility& out)
{
    if (s == L"visible") out = visibility::visible;
    else if (s == L"hidden") out = visibility::hidden;
    else if (s == L"absent") out = visibility::absent;
    else return false;
    return true;
}

bool parse_presence(const std::wstring& s, bool& out)
{
    if (s == L"present" || s == L"yes") out = true;
    else if (s == L"absent" || s == L"no") out = false;
    else return false;
    return true;
}

bool parse_send(const std::wstring& v, room_options& o)
{
    if (v == L"normal") o.send = send_mode::normal;
    else if (v == L"stuck") o.send = send_mode::stuck;
    else if (v == L"close") o.send = send_mode::close;
    else if (v == L"exit") o.send = send_mode::exit;
    else if (v.compare(0, 6, L"delay:") == 0) {
        o.send = send_mode::delay;
        return parse_ms(v.substr(6), o.send_delay_ms);
    } else return false;
    return true;
}

bool parse_hang(const std::wstring& v, room_options& o)
{
    if (v == L"none") o.hang = hang_mode::none;
    else if (v == L"ready") o.hang = hang_mode::ready;
    else if (v == L"enter") o.hang = hang_mode::enter;
    else if (v.compare(0, 6, L"input:") == 0) {
        o.hang = hang_mode::input;
        return parse_ms(v.substr(6), o.hang_after_ms);
    } else if (v.compare(0, 5, L"read:") == 0) {
        o.hang = hang_mode::read;
        return parse_ms(v.substr(5), o.hang_at_read) && o.hang_at_read > 0;
    } else return false;
    return true;
}

bool apply_room_option(const token& t, room_options& o)
{
    const std::wstring& v = t.value;
    if (t.key.empty()) {
        if (v == L"placeholder") { o.placeholder = true; return true; }
        return false;
    }
    if (t.key == L"draft") { o.draft = v; return true; }
    if (t.key == L"input") { o.input_class = (v == L"none") ? std::wstring() : v; return !v.empty(); }
    if (t.key == L"placeholder") {
        if (v != L"yes" && v != L"no") return false;
        o.placeholder = v == L"yes";
        return true;
    }
    if (t.key == L"huge") { o.huge = true; return parse_u64(v, o.huge_length); }
    if (t.key == L"send") return parse_send(v, o);
    if (t.key == L"hang") return parse_hang(v, o);
    if (t.key == L"writes") {
        if (v != L"ignored" && v != L"kept") return false;
        o.ignores_writes = v == L"ignored";
        return true;
    }
    if (t.key == L"length") {
        if (v != L"break_once" && v != L"units") return false;
        o.break_counts_once = v == L"break_once";
        return true;
    }
    if (t.key == L"slow") return parse_ms(v, o.slow_ms);
    if (t.key == L"hang_for") {
        if (v == L"forever") { o.hang_for_ms = kForever; return true; }
        return parse_ms(v, o.hang_for_ms);
    }
    return false;
}

bool parse_room_options(const std::vector<token>& items, size_t first, room_options& o, std::wstring& error)
{
    for (size_t i = first; i < items.size(); ++i) {
        if (!apply_room_option(items[i], o)) {
            error = L"bad room option '" + (items[i].key.empty() ? items[i].value : items[i].key) + L"'";
            return false;
        }
    }
    return true;
}

// Expands "%d" in a pattern with n (the first occurrence only).
std::wstring expand_pattern(const std::wstring& pattern, int n)
{
    size_t at = pattern.find(L"%d");
    if (at == std::wstring::npos) return pattern;
    return pattern.substr(0, at) + std::to_wstring(n) + pattern.substr(at + 2);
}

std::wstring repeat_to_length(const std::wstring& fill, size_t units)
{
    std::wstring s;
    if (fill.empty()) return s;
    while (s.size() < units) s += fill;
    s.resize(units);
    return s;
}

void add_room(scenario& sc, const std::wstring& title, const room_options& o, bool open)
{
    sc.rooms.push_back(room_entry{title, o});
    if (open) sc.start.push_back(start_window{extra_kind::room, title, static_cast<int>(sc.rooms.size()) - 1});
}

bool parse_count(const std::vector<token>& items, size_t at, int& count)
{
    uint64_t v = 0;
    if (items.size() <= at || items[at].quoted || !parse_u64(items[at].value, v) || v > kMaxGenerated) return false;
    count = static_cast<int>(v);
    return true;
}

bool parse_generated(const std::wstring& word, const std::vector<token>& items, scenario& sc, std::wstring& error)
{
    int count = 0;
    if (!parse_count(items, 1, count)) { error = L"expected a count"; return false; }
    extra_kind kind = word == L"bare" ? extra_kind::bare : word == L"plain" ? extra_kind::plain
                      : word == L"untitled" ? extra_kind::untitled : word == L"fake_main" ? extra_kind::fake_main
                      : extra_kind::room;
    bool needs_pattern = kind == extra_kind::room || kind == extra_kind::bare || kind == extra_kind::plain;
    if (needs_pattern && (items.size() < 3 || !items[2].quoted)) { error = L"expected a quoted title pattern"; return false; }
    if (!needs_pattern && items.size() != 2) { error = L"unexpected arguments"; return false; }
    room_options o;
    if (kind == extra_kind::room && !parse_room_options(items, 3, o, error)) return false;
    if (kind != extra_kind::room && needs_pattern && items.size() != 3) { error = L"unexpected arguments"; return false; }
    for (int n = 1; n <= count; ++n) {
        std::wstring title = needs_pattern ? expand_pattern(items[2].value, n)
                                           : (kind == extra_kind::fake_main ? L"\uCE74\uCE74\uC624\uD1A1" : L"");
        if (kind == extra_kind::room) add_room(sc, title, o, true);
        else sc.start.push_back(start_window{kind, title, -1});
    }
    return true;
}

bool parse_list_line(const std::wstring& word, const std::vector<token>& items, scenario& sc, std::wstring& error)
{
    for (size_t i = 1; i < items.size(); ++i) {
        if (!items[i].quoted) { error = L"expected quoted texts"; return false; }
    }
    if (items.size() < 2) { error = L"expected a quoted name"; return false; }
    std::vector<std::wstring> rest;
    for (size_t i = 2; i < items.size(); ++i) rest.push_back(items[i].value);
    if (word == L"search") sc.searches.push_back(search_entry{items[1].value, rest});
    else sc.tabs.push_back(tab_entry{items[1].value, rest});
    return true;
}

bool parse_setting(const std::wstring& word, const std::vector<token>& items, scenario& sc, std::wstring& error)
{
    if (items.size() != 2 || items[1].quoted) { error = L"expected one value"; return false; }
    const std::wstring& v = items[1].value;
    bool ok = false;
    if (word == L"main") ok = parse_presence(v, sc.main_present);
    else if (word == L"online") ok = parse_visibility(v, sc.online);
    else if (word == L"lock") ok = parse_visibility(v, sc.lock);
    else if (word == L"chat_list") ok = parse_presence(v, sc.chat_list);
    else if (word == L"search_box") ok = parse_visibility(v, sc.search_box);
    else if (word == L"tab_strip") ok = parse_presence(v, sc.tab_strip);
    else if (word == L"room_list") ok = parse_presence(v, sc.room_list);
    else if (word == L"result_list") ok = parse_visibility(v, sc.result_list);
    else if (word == L"exit_after") ok = parse_ms(v, sc.exit_after_ms);
    if (!ok) error = L"bad value '" + v + L"'";
    return ok;
}

bool parse_long_room(const std::vector<token>& items, scenario& sc, std::wstring& error)
{
    int units = 0;
    if (!parse_count(items, 1, units) || items.size() < 3 || !items[2].quoted || items[2].value.empty()) {
        error = L"expected: long_room UNITS \"FILL\" [options]";
        return false;
    }
    room_options o;
    if (!parse_room_options(items, 3, o, error)) return false;
    add_room(sc, repeat_to_length(items[2].value, static_cast<size_t>(units)), o, true);
    return true;
}

bool parse_line(const std::vector<token>& items, scenario& sc, std::wstring& error)
{
    if (items[0].quoted || !items[0].key.empty()) { error = L"expected a keyword"; return false; }
    const std::wstring& word = items[0].value;
    if (word == L"room" || word == L"known") {
        if (items.size() < 2 || !items[1].quoted) { error = L"expected a quoted room title"; return false; }
        room_options o;
        if (!parse_room_options(items, 2, o, error)) return false;
        add_room(sc, items[1].value, o, word == L"room");
        return true;
    }
    if (word == L"rooms" || word == L"bare" || word == L"plain" || word == L"untitled" || word == L"fake_main")
        return parse_generated(word, items, sc, error);
    if (word == L"long_room") return parse_long_room(items, sc, error);
    if (word == L"search" || word == L"tab") return parse_list_line(word, items, sc, error);
    if (word == L"hand_open") {
        for (size_t i = 1; i < items.size(); ++i) {
            if (!items[i].quoted) { error = L"expected quoted room titles"; return false; }
            sc.hand_open.push_back(items[i].value);
        }
        if (items.size() < 2) { error = L"expected a quoted room title"; return false; }
        return true;
    }
    return parse_setting(word, items, sc, error);
}

}  // namespace

bool parse_scenario(const std::wstring& text, scenario& out, std::wstring& error)
{
    size_t pos = 0;
    int line_no = 0;
    while (pos <= text.size()) {
        size_t end = text.find(L'\n', pos);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = text.substr(pos, end - pos);
        pos = end + 1;
        ++line_no;
        line_tokens t = split_line(line);
        std::wstring why = t.error;
        if (why.empty() && (t.items.empty() || (!t.items[0].quoted && !t.items[0].value.empty() && t.items[0].value[0] == L'#')))
            continue;
        if (why.empty() && parse_line(t.items, out, why)) continue;
        error = L"line " + std::to_wstring(line_no) + L": " + why;
        return false;
    }
    return true;
}

bool read_text_file(const WCHAR* path, std::wstring& text, std::wstring& error)
{
    FILE* f = _wfopen(path, L"rb");
    if (!f) { error = L"cannot open the file"; return false; }
    std::string bytes;
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0 && bytes.size() <= kMaxFileBytes) bytes.append(buf, n);
    fclose(f);
    if (bytes.size() > kMaxFileBytes) { error = L"the file is too large"; return false; }
    if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) bytes.erase(0, 3);
    text.clear();
    if (bytes.empty()) return true;
    int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    if (units <= 0) { error = L"the file is not valid UTF-8"; return false; }
    text.resize(static_cast<size_t>(units));
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()), &text[0], units);
    return true;
}

bool load_scenario(const WCHAR* path, scenario& out, std::wstring& error)
{
    std::wstring text;
    return read_text_file(path, text, error) && parse_scenario(text, out, error);
}
