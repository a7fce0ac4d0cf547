// The command front end: command line, request reader, result documents and
// the result file's temporary name and final rename.
#pragma once

#include <cstdio>

#include "platform/platform.h"

struct room_match_set;

// The request file's ten keys. A null string is absent; flags are false
// unless the file says true.
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
[[nodiscard]] WCHAR* json_get_wstr(const char* text, const char* key);
int json_get_bool(const char* text, const char* key);
// Fills every field from the text of `size` bytes (a NUL byte may end the
// text early). False when the request cannot be honoured as written: a value
// that could not be allocated, or a NUL in the room's names or the message.
[[nodiscard]] bool read_request(const char* text, size_t size, request* req);
// Frees the request's strings and leaves every field absent or false.
void free_request(request* req);

void write_json_escaped(FILE* out, const WCHAR* text);

void write_locked_doc(FILE* out);
void write_needs_open_room_short_doc(FILE* out);
void write_main_window_not_found_doc(FILE* out);
void write_needs_open_room_long_doc(FILE* out);
void write_ambiguous_room_doc(FILE* out, const room_match_set* set);
void write_draft_exists_doc(FILE* out, const WCHAR* room_title, const WCHAR* existing_draft);
void write_write_mismatch_doc(FILE* out, const WCHAR* room_title, const WCHAR* written_text);

// Everything the success document reports.
struct success_report {
    const char* status;  // "cleared", "draft_written", "sent" or "send_unconfirmed"
    const WCHAR* room_title;
    int score;
    HWND window;
    HWND input;
    bool opened_new_window;
    const WCHAR* previous_text;
    const WCHAR* written_text;
    const WCHAR* remaining_text;
};
void write_success_doc(FILE* out, const success_report* report);

// The whole program: argument handling, both modes, exit code 0 or 2.
int chatdraft_main(int argc, char** argv);
