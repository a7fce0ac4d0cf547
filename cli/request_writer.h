// The request file the command hands to chatdraft.exe, and the checks on the
// texts that go into it.
#pragma once

#include <cstddef>
#include <string>

struct command_line;

// Null when the text can go into a request; otherwise why it cannot
// ("is not valid UTF-8", "holds a NUL byte").
const char* text_fault(const std::string& text);

// The five chat-list tab names the client has, in the order of its tab strip.
bool is_tab_name(const std::string& name);

// The request for a draft command, keys in a fixed order: one line of JSON.
std::string request_json(const command_line& cmd);

// Far above any chat message, and far below what would exhaust memory.
constexpr size_t kMaxMessageBytes = 1 << 20;

// Reads everything from fd (standard input for MESSAGE "-"). Stops at the
// first NUL byte, which no message may hold. False with *error set on a read
// error or a NUL.
bool read_message(int fd, std::string* message, std::string* error);
