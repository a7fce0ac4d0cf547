// write_json_escaped on arbitrary UTF-16 units: the output is one well-formed
// JSON string whose unescaped bytes are the text's UTF-8 form.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "documents.h"

namespace {

bool is_lower_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

// Undoes the writer's escapes; false when the output is no well-formed
// JSON string.
bool unescape_json_string(const std::string& s, std::string* bytes) {
    if (s.size() < 2 || s.front() != '"' || s.back() != '"') return false;
    for (size_t i = 1; i + 1 < s.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x20 || c == '"') return false;
        if (c != '\\') {
            *bytes += static_cast<char>(c);
            continue;
        }
        if (i + 2 >= s.size()) return false;
        char e = s[++i];
        switch (e) {
        case '"': case '\\': *bytes += e; break;
        case 'n': *bytes += '\n'; break;
        case 'r': *bytes += '\r'; break;
        case 't': *bytes += '\t'; break;
        case 'u':
            if (i + 5 >= s.size() || s.compare(i + 1, 2, "00") != 0 || !is_lower_hex(s[i + 3]) ||
                !is_lower_hex(s[i + 4]))
                return false;
            {
                long v = strtol(s.substr(i + 3, 2).c_str(), nullptr, 16);
                // Only the control bytes without a short escape take this form.
                if (v == 0 || v >= 0x20 || v == '\n' || v == '\r' || v == '\t') return false;
                *bytes += static_cast<char>(v);
            }
            i += 4;
            break;
        default: return false;
        }
    }
    return true;
}

std::string written_by_writer(const WCHAR* text) {
    char* data = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&data, &size);
    if (!out) return std::string();
    write_json_escaped(out, text);
    fclose(out);
    std::string s(data, size);
    free(data);
    return s;
}

std::string utf8_of(const WCHAR* text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return std::string();
    std::string bytes(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes.data(), n, nullptr, nullptr);
    bytes.pop_back();
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t units = size / 2;
    WCHAR* text = static_cast<WCHAR*>(calloc(units + 1, sizeof(WCHAR)));
    if (!text) return 0;
    if (units > 0) memcpy(text, data, units * sizeof(WCHAR));
    std::string bytes;
    if (!unescape_json_string(written_by_writer(text), &bytes)) __builtin_trap();
    if (bytes != utf8_of(text)) __builtin_trap();
    free(text);
    return 0;
}
