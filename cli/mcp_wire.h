// The mcp verb's wire: JSON-RPC 2.0 messages, one a line, read from standard
// input and written to standard output.
#pragma once

#include <cstddef>
#include <string>

#include <nlohmann/json.hpp>

// A longer line is refused without being held whole.
constexpr size_t kMaxLineBytes = size_t{4} << 20;

// JSON-RPC's error codes.
constexpr int kParseError = -32700;
constexpr int kInvalidRequest = -32600;
constexpr int kMethodNotFound = -32601;
constexpr int kInvalidParams = -32602;

struct line_reader {
    int fd = 0;
    std::string pending;    // bytes read beyond the lines handed out
    size_t scanned = 0;     // bytes of `pending` known to hold no LF
    bool skipping = false;  // inside a line over the bound: dropped up to its LF
};

enum class line_read { line, too_long, end };

// The next line, without its LF (nor a CR before it); too_long once for each
// line over kMaxLineBytes; end at the end of input.
line_read read_line(line_reader* reader, std::string* line);

// Writes one message as one line on standard output, whole, from any thread.
// False when standard output is gone.
bool send_message(const nlohmann::json& message);

nlohmann::json error_message(const nlohmann::json& id, int code, const std::string& text);
nlohmann::json result_message(const nlohmann::json& id, nlohmann::json result);
nlohmann::json request_message(const std::string& id, const char* method, nlohmann::json params);
nlohmann::json notification(const char* method, nlohmann::json params);
