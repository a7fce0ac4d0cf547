// The request reader on arbitrary bytes: no read outside the text, no leak,
// and a key that is not in the text never yields a value.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "request.h"

namespace {

constexpr const char* kStringKeys[] = {"room", "resolved_name", "tab", "message", "ui_mode"};

bool quoted_key_in(const char* text, const char* key) {
    char pattern[32];
    snprintf(pattern, sizeof pattern, "\"%s\"", key);
    return strstr(text, pattern) != nullptr;
}

void check_absent_without_key(const char* text, const request& req) {
    WCHAR* const values[] = {req.room, req.resolved_name, req.tab, req.message, req.ui_mode};
    for (size_t i = 0; i < std::size(values); ++i)
        if (values[i] && !quoted_key_in(text, kStringKeys[i])) __builtin_trap();
    if (req.send && !quoted_key_in(text, "send")) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Exactly the bytes and a terminator, so that ASan sees any overrun.
    char* text = static_cast<char*>(malloc(size + 1));
    if (!text) return 0;
    if (size > 0) memcpy(text, data, size);
    text[size] = 0;
    request req{};
    (void)read_request(text, size, &req);
    check_absent_without_key(text, req);
    free_request(&req);
    free(text);
    return 0;
}
