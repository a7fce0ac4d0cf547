// Reader of a dumped window tree (chatdraft_inspect.exe --dump): a small,
// strict JSON reader that knows the dump's shape, and the checks that make
// the tree one the stand-in can build (handles unique, every parent an
// earlier window of the same branch).
#include "standin.h"

#include <algorithm>
#include <cwchar>

namespace {

constexpr int kMaxSkipDepth = 16;       // nesting of values the stand-in does not use
constexpr size_t kMaxWindows = 20000;   // far beyond any client; Wine runs out of handles first
constexpr size_t kMaxClassUnits = 255;
constexpr const WCHAR* kFormat = L"chatdraft window tree";

struct json_cursor {
    const std::wstring& s;
    size_t at = 0;
    std::wstring error;
};

bool fail(json_cursor& c, const std::wstring& what)
{
    if (c.error.empty()) c.error = L"character " + std::to_wstring(c.at + 1) + L": " + what;
    return false;
}

void skip_space(json_cursor& c)
{
    while (c.at < c.s.size() && (c.s[c.at] == L' ' || c.s[c.at] == L'\t' || c.s[c.at] == L'\n' || c.s[c.at] == L'\r'))
        ++c.at;
}

// Skips white space and takes `ch` when it comes next.
bool take(json_cursor& c, WCHAR ch)
{
    skip_space(c);
    if (c.at >= c.s.size() || c.s[c.at] != ch) return false;
    ++c.at;
    return true;
}

bool expect_char(json_cursor& c, WCHAR ch)
{
    return take(c, ch) || fail(c, std::wstring(L"expected '") + ch + L"'");
}

bool read_hex4(json_cursor& c, WCHAR& unit)
{
    unsigned v = 0;
    for (int k = 0; k < 4; ++k, ++c.at) {
        WCHAR h = c.at < c.s.size() ? c.s[c.at] : 0;
        int d = h >= L'0' && h <= L'9' ? h - L'0' : h >= L'a' && h <= L'f' ? h - L'a' + 10
                : h >= L'A' && h <= L'F' ? h - L'A' + 10 : -1;
        if (d < 0) return fail(c, L"bad \\u escape");
        v = v * 16 + static_cast<unsigned>(d);
    }
    unit = static_cast<WCHAR>(v);
    return true;
}

// A JSON string; \uXXXX gives one UTF-16 unit, so a lone surrogate the
// dump kept comes back as the same unit.
bool read_string(json_cursor& c, std::wstring& out)
{
    if (!expect_char(c, L'"')) return false;
    out.clear();
    while (c.at < c.s.size()) {
        WCHAR ch = c.s[c.at++];
        if (ch == L'"') return true;
        if (ch < 0x20) return fail(c, L"control character in a string");
        if (ch != L'\\') { out += ch; continue; }
        if (c.at >= c.s.size()) break;
        static constexpr WCHAR kShort[] = L"\"\\/bfnrt";
        static constexpr WCHAR kMeant[] = L"\"\\/\b\f\n\r\t";
        WCHAR e = c.s[c.at++];
        const WCHAR* hit = e ? wcschr(kShort, e) : nullptr;
        if (hit) { out += kMeant[hit - kShort]; continue; }
        WCHAR unit = 0;
        if (e != L'u') return fail(c, L"unknown escape");
        if (!read_hex4(c, unit)) return false;
        out += unit;
    }
    return fail(c, L"unterminated string");
}

bool is_digit(WCHAR ch) { return ch >= L'0' && ch <= L'9'; }

// A JSON number that is an integer within int64 (the dump writes no other).
bool read_integer(json_cursor& c, int64_t& out)
{
    skip_space(c);
    bool negative = c.at < c.s.size() && c.s[c.at] == L'-';
    if (negative) ++c.at;
    size_t first = c.at;
    uint64_t v = 0;
    while (c.at < c.s.size() && is_digit(c.s[c.at])) {
        unsigned d = c.s[c.at++] - L'0';
        if (v > (static_cast<uint64_t>(INT64_MAX) + negative - d) / 10) return fail(c, L"number out of range");
        v = v * 10 + d;
    }
    if (c.at == first) return fail(c, L"expected a number");
    if (c.s[first] == L'0' && c.at - first > 1) return fail(c, L"leading zero");
    if (c.at < c.s.size() && (c.s[c.at] == L'.' || c.s[c.at] == L'e' || c.s[c.at] == L'E'))
        return fail(c, L"expected an integer");
    out = negative ? static_cast<int64_t>(0 - v) : static_cast<int64_t>(v);
    return true;
}

bool read_word(json_cursor& c, const WCHAR* word)
{
    skip_space(c);
    size_t n = wcslen(word);
    if (c.s.compare(c.at, n, word) != 0) return false;
    c.at += n;
    return true;
}

bool read_bool(json_cursor& c, bool& out)
{
    if (read_word(c, L"true")) out = true;
    else if (read_word(c, L"false")) out = false;
    else return fail(c, L"expected true or false");
    return true;
}

// Members of an object, each handed to on_member(key), which reads its value.
template <typename F>
bool read_object(json_cursor& c, F on_member)
{
    if (!expect_char(c, L'{')) return false;
    if (take(c, L'}')) return true;
    do {
        std::wstring key;
        if (!read_string(c, key) || !expect_char(c, L':') || !on_member(key)) return false;
    } while (take(c, L','));
    return expect_char(c, L'}');
}

template <typename F>
bool read_array(json_cursor& c, F on_element)
{
    if (!expect_char(c, L'[')) return false;
    if (take(c, L']')) return true;
    do {
        if (!on_element()) return false;
    } while (take(c, L','));
    return expect_char(c, L']');
}

// A value the stand-in does not use, checked for syntax all the same.
bool skip_value(json_cursor& c, int depth)
{
    if (depth > kMaxSkipDepth) return fail(c, L"nested too deeply");
    skip_space(c);
    WCHAR ch = c.at < c.s.size() ? c.s[c.at] : 0;
    std::wstring text;
    int64_t number = 0;
    bool flag = false;
    if (ch == L'{') return read_object(c, [&](const std::wstring&) { return skip_value(c, depth + 1); });
    if (ch == L'[') return read_array(c, [&] { return skip_value(c, depth + 1); });
    if (ch == L'"') return read_string(c, text);
    if (ch == L't' || ch == L'f') return read_bool(c, flag);
    if (read_word(c, L"null")) return true;
    return read_integer(c, number);
}

bool read_int32(json_cursor& c, int32_t& out)
{
    int64_t v = 0;
    if (!read_integer(c, v)) return false;
    if (v < INT32_MIN || v > INT32_MAX) return fail(c, L"number out of range");
    out = static_cast<int32_t>(v);
    return true;
}

bool read_handle(json_cursor& c, uint64_t& out)
{
    int64_t v = 0;
    if (!read_integer(c, v)) return false;
    if (v < 0) return fail(c, L"negative window handle");
    out = static_cast<uint64_t>(v);
    return true;
}

enum window_key { k_hwnd, k_parent, k_class, k_text, k_id, k_visible, k_x, k_y, k_width, k_height, k_text_length, k_count };
constexpr const WCHAR* kWindowKeys[k_count] = {L"hwnd", L"parent", L"class", L"text", L"id", L"visible",
                                               L"x", L"y", L"width", L"height", L"text_length"};
constexpr unsigned kRequiredKeys = (1u << k_text_length) - 1;   // all but text_length

bool read_window_member(json_cursor& c, int key, tree_window& w)
{
    switch (key) {
    case k_hwnd: return read_handle(c, w.hwnd);
    case k_parent: return read_handle(c, w.parent);
    case k_class: return read_string(c, w.cls);
    case k_text: return read_string(c, w.text);
    case k_id: return read_int32(c, w.id);
    case k_visible: return read_bool(c, w.visible);
    case k_x: return read_int32(c, w.x);
    case k_y: return read_int32(c, w.y);
    case k_width: return read_int32(c, w.width);
    case k_height: return read_int32(c, w.height);
    case k_text_length: return read_integer(c, w.text_length) && (w.text_length >= -1 || fail(c, L"bad text_length"));
    default: return skip_value(c, 1);
    }
}

bool read_window(json_cursor& c, tree_window& w)
{
    unsigned seen = 0;
    bool ok = read_object(c, [&](const std::wstring& key) {
        int k = 0;
        while (k < k_count && key != kWindowKeys[k]) ++k;
        if (k < k_count && (seen & (1u << k))) return fail(c, L"repeated key \"" + key + L"\"");
        if (k < k_count) seen |= 1u << k;
        return read_window_member(c, k, w);
    });
    if (!ok) return false;
    for (int k = 0; k < k_count; ++k) {
        if ((kRequiredKeys & (1u << k)) && !(seen & (1u << k)))
            return fail(c, std::wstring(L"window without \"") + kWindowKeys[k] + L"\"");
    }
    return true;
}

bool read_windows(json_cursor& c, window_tree& out)
{
    return read_array(c, [&] {
        if (out.windows.size() >= kMaxWindows) return fail(c, L"too many windows");
        out.windows.emplace_back();
        return read_window(c, out.windows.back());
    });
}

bool read_document(json_cursor& c, window_tree& out)
{
    bool has_format = false, has_version = false, has_windows = false;
    bool ok = read_object(c, [&](const std::wstring& key) {
        std::wstring format;
        int64_t version = 0;
        if (key == L"format") {
            has_format = true;
            return read_string(c, format) && (format == kFormat || fail(c, L"not a chatdraft window tree"));
        }
        if (key == L"version") {
            has_version = true;
            return read_integer(c, version) && (version == 1 || fail(c, L"unknown version"));
        }
        if (key == L"windows") {
            if (has_windows) return fail(c, L"repeated key \"windows\"");
            has_windows = true;
            return read_windows(c, out);
        }
        return skip_value(c, 1);
    });
    if (!ok) return false;
    if (!has_format || !has_version || !has_windows) return fail(c, L"expected \"format\", \"version\" and \"windows\"");
    skip_space(c);
    return c.at == c.s.size() || fail(c, L"text after the document");
}

bool handles_unique(const window_tree& tree, std::wstring& error)
{
    std::vector<uint64_t> handles;
    for (const tree_window& w : tree.windows) handles.push_back(w.hwnd);
    std::sort(handles.begin(), handles.end());
    auto twice = std::adjacent_find(handles.begin(), handles.end());
    if (twice == handles.end()) return true;
    error = L"handle " + std::to_wstring(*twice) + L" listed twice";
    return false;
}

// Every parent must be an earlier window on the current branch (the dump
// lists each window before its children, depth first); fills in each
// window's parent index and the end of its subtree on the way.
bool link_windows(window_tree& tree, std::wstring& error)
{
    std::vector<size_t> branch;
    for (size_t i = 0; i < tree.windows.size(); ++i) {
        tree_window& w = tree.windows[i];
        std::wstring where = L"window " + std::to_wstring(i + 1) + L": ";
        if (w.hwnd == 0) { error = where + L"handle 0"; return false; }
        if (w.cls.empty() || w.cls.size() > kMaxClassUnits) { error = where + L"bad class name"; return false; }
        if (w.width < 0 || w.height < 0) { error = where + L"negative size"; return false; }
        while (!branch.empty() && tree.windows[branch.back()].hwnd != w.parent) {
            tree.windows[branch.back()].end = i;
            branch.pop_back();
        }
        if (w.parent != 0 && branch.empty()) { error = where + L"parent is not an earlier window of its branch"; return false; }
        w.parent_index = branch.empty() ? -1 : static_cast<int>(branch.back());
        branch.push_back(i);
    }
    for (size_t i : branch) tree.windows[i].end = tree.windows.size();
    return handles_unique(tree, error);
}

}  // namespace

bool parse_tree(const std::wstring& text, window_tree& out, std::wstring& error)
{
    json_cursor c{text, 0, {}};
    if (!read_document(c, out)) { error = c.error; return false; }
    return link_windows(out, error);
}

bool load_tree(const WCHAR* path, window_tree& out, std::wstring& error)
{
    std::wstring text;
    return read_text_file(path, text, error) && parse_tree(text, out, error);
}
