// Every document chatdraft writes, piece by piece straight into the stream:
// the result document of each outcome of a request, from one table; the probe
// document; and the JSON string writer they all use.
#pragma once

#include <cstdint>
#include <cstdio>

#include "platform/platform.h"

// One complete JSON string, quotes included; null is the empty text.
void write_json_escaped(FILE* out, const WCHAR* text);

// How a request ends: a success with its status, or a refusal with its
// error code. Each has one document. `none` is a step's answer when the next
// step decides.
enum class outcome : uint8_t {
    none,
    cleared,
    draft_written,
    sent,
    send_unconfirmed,       // Enter was pressed; the box did not empty in time
    kakao_locked,
    main_window_not_found,
    no_open_room,           // NEEDS_OPEN_ROOM, short: no room may be opened
    room_not_opened,        // NEEDS_OPEN_ROOM, long: the attempts found no room
    ambiguous_room,
    draft_exists,
    write_mismatch,
};
constexpr int kOutcomeCount = 12;  // `none` included

constexpr int kReportedTitles = 32;

// Everything a result document reports. The texts belong to the caller and
// outlive the report; a null text is written as the empty text.
struct run_report {
    outcome kind;
    // The chosen room: DRAFT_EXISTS, WRITE_MISMATCH and every success.
    const WCHAR* room_title;
    int32_t score;
    HWND window;
    HWND input;
    bool opened_new_window;
    const WCHAR* previous_text;   // the draft found; DRAFT_EXISTS's existing_draft
    const WCHAR* written_text;    // what the box answered after the write
    const WCHAR* remaining_text;  // what the box holds at the end
    // AMBIGUOUS_ROOM: the top score and the candidates' titles, best first.
    int32_t top_score;
    const WCHAR* titles[kReportedTitles];
    int32_t title_count;
};

// A report that carries nothing but its outcome.
run_report report_of(outcome kind);

// The one document of the outcome; nothing for `none`.
void write_run_doc(FILE* out, const run_report* report);

// The probe document: the head, one entry per room (separated by the caller
// with write_probe_separator), and the tail.
void write_probe_head(FILE* out, HWND main_hwnd, DWORD kakao_pid, const char* login_state);
void write_probe_room(FILE* out, HWND hwnd, HWND input_hwnd, const WCHAR* title, const WCHAR* draft);
void write_probe_separator(FILE* out);
void write_probe_tail(FILE* out);
