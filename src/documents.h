// Every document chatdraft writes, piece by piece straight into the stream:
// the result documents of a request, the probe document, and the JSON string
// writer they all use.
#pragma once

#include <cstdint>
#include <cstdio>

#include "platform/platform.h"

// One complete JSON string, quotes included; null is the empty text.
void write_json_escaped(FILE* out, const WCHAR* text);

void write_locked_doc(FILE* out);
void write_needs_open_room_short_doc(FILE* out);
void write_main_window_not_found_doc(FILE* out);
void write_needs_open_room_long_doc(FILE* out);
// `titles` are the candidates' titles in table order, `count` of them.
void write_ambiguous_room_doc(FILE* out, int32_t top_score, const WCHAR* const* titles,
                              int32_t count);
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

// The probe document: the head, one entry per room (separated by the caller
// with write_probe_separator), and the tail.
void write_probe_head(FILE* out, HWND main_hwnd, DWORD kakao_pid, const char* login_state);
void write_probe_room(FILE* out, HWND hwnd, HWND input_hwnd, const WCHAR* title, const WCHAR* draft);
void write_probe_separator(FILE* out);
void write_probe_tail(FILE* out);
