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
};

[[nodiscard]] WCHAR* json_get_wstr(const char* text, const char* key);
int json_get_bool(const char* text, const char* key);
void read_request(const char* text, request* req);
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
