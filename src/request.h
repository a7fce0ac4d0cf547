// The request file's reader: what each of the eleven keys says, read leniently
// from a JSON object, and the request record that carries it through a run.
#pragma once

#include <cstddef>

#include "platform/platform.h"

// The request file's keys. A null string is absent; flags are false unless
// the file says true.
struct request {
    WCHAR* room;
    WCHAR* resolved_name;
    WCHAR* tab;
    WCHAR* message;
    WCHAR* ui_mode;
    bool send;
    bool append;
    bool clear;
    bool force;
    bool close_after;
    bool exact;        // with send: only a title equal to the name asked for
};

// What reading one string value found.
enum class value_read {
    absent,        // no such member, or not a string
    whole,         // the value up to its closing quote
    unterminated,  // no closing quote: the value ran to the end of the text
    holds_nul,     // a \u0000 escape: the value ends there
    no_memory,     // the value is there but could not be had
};
// *value is the decoded text (null when absent or without memory).
[[nodiscard]] value_read read_string_value(const char* text, const char* key, WCHAR** value);
int json_get_bool(const char* text, const char* key);
// Fills every field from the text of `size` bytes (a NUL byte may end the
// text early). False when the request cannot be honoured as written: a value
// that could not be allocated, or a NUL in the room's names or the message.
[[nodiscard]] bool read_request(const char* text, size_t size, request* req);
// Frees the request's strings and leaves every field absent or false.
void free_request(request* req);
