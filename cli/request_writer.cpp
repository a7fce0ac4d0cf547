#include "request_writer.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "../src/client_layout.h"
#include "command.h"

namespace {

// Length of the UTF-8 sequence at s[i], or 0 when it is not a valid one:
// no overlong forms, no surrogates, nothing above U+10FFFF.
size_t utf8_sequence_length(const std::string& s, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) return 1;
    size_t n = 0;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) n = 2;
    else if (lead == 0xE0) n = 3, low = 0xA0;
    else if (lead == 0xED) n = 3, high = 0x9F;
    else if (lead >= 0xE1 && lead <= 0xEF) n = 3;
    else if (lead == 0xF0) n = 4, low = 0x90;
    else if (lead == 0xF4) n = 4, high = 0x8F;
    else if (lead >= 0xF1 && lead <= 0xF3) n = 4;
    else return 0;
    if (i + n > s.size()) return 0;
    if (byte(i + 1) < low || byte(i + 1) > high) return 0;
    for (size_t k = 2; k < n; ++k)
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
    return n;
}

}  // namespace

const char* text_fault(const std::string& text) {
    if (text.find('\0') != std::string::npos) return "holds a NUL byte";
    for (size_t i = 0; i < text.size();) {
        const size_t n = utf8_sequence_length(text, i);
        if (n == 0) return "is not valid UTF-8";
        i += n;
    }
    return nullptr;
}

bool is_tab_name(const std::string& name) {
    for (const client_tab& tab : kClientTabs)
        if (name == tab.name) return true;
    return false;
}

// Keys in a fixed order, flags first. chatdraft.exe takes a key only where a
// colon follows the quoted name, preferring the top level, and skips strings
// whole, so no name or message can be read as a key whatever it holds. Every
// string key but the message is written even when empty (the exe treats an
// empty one as absent); no message key means no message. Texts go in as raw
// UTF-8 with only quotes, backslashes and controls escaped, all of which the
// exe's reader decodes. text_fault has refused invalid UTF-8 before a text
// gets here, so the strict handler never throws; were it to, the command would
// stop before anything ran instead of sending a text altered.
std::string request_json(const command_line& cmd) {
    nlohmann::ordered_json request = nlohmann::ordered_json::object();
    const std::pair<const char*, bool> flags[] = {
        {"send", cmd.send},   {"exact", !cmd.allow_prefix}, {"append", cmd.append},
        {"clear", cmd.clear}, {"force", cmd.force},         {"close_after", cmd.close_after},
    };
    for (const auto& [key, set] : flags)
        if (set) request[key] = true;
    request["ui_mode"] = cmd.strict_open_only ? "strict_open_only" : "";
    request["tab"] = cmd.tab.value_or("");
    request["resolved_name"] = cmd.resolved_name.value_or("");
    request["room"] = cmd.room;
    if (cmd.message) request["message"] = *cmd.message;
    return request.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::strict) + "\n";
}

bool read_message(int fd, std::string* message, std::string* error) {
    char buffer[65536];
    message->clear();
    for (;;) {
        if (message->size() > kMaxMessageBytes) {
            *error = "MESSAGE on standard input is longer than " + std::to_string(kMaxMessageBytes) +
                     " bytes";
            return false;
        }
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n == 0) return true;
        if (n < 0) {
            if (errno == EINTR) continue;
            *error = std::string("cannot read the message from standard input: ") + strerror(errno);
            return false;
        }
        if (memchr(buffer, 0, static_cast<size_t>(n))) {
            *error = "MESSAGE holds a NUL byte";
            return false;
        }
        message->append(buffer, static_cast<size_t>(n));
    }
}
