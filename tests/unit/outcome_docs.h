// The documents the tests expect of the exe's outcomes, written by the exe's
// own table, and the steps' outcomes as the documents they end in.
#pragma once

#include <string>

#include "documents.h"
#include "draft.h"
#include "window_model.h"
#include "stream_capture.h"

inline std::string outcome_doc(const run_report& report) {
    return capture_stream([&](FILE* out) { write_run_doc(out, &report); });
}

// A document that carries nothing but its error.
inline std::string bare_doc(outcome kind) { return outcome_doc(report_of(kind)); }

inline std::string draft_exists_doc(const WCHAR* title, const WCHAR* draft) {
    run_report report = report_of(outcome::draft_exists);
    report.room_title = title;
    report.previous_text = draft;
    return outcome_doc(report);
}

inline std::string write_mismatch_doc(const WCHAR* title, const WCHAR* box_text) {
    run_report report = report_of(outcome::write_mismatch);
    report.room_title = title;
    report.written_text = box_text;
    return outcome_doc(report);
}

// The outcome whose document carries this status; `none` for no such status.
inline outcome outcome_of_status(const std::string& status) {
    for (int k = 1; k < kOutcomeCount; ++k) {
        const auto kind = static_cast<outcome>(k);
        if (bare_doc(kind).rfind("{\"status\":\"" + status + "\"", 0) == 0) return kind;
    }
    return outcome::none;
}

inline run_report success_report(outcome kind, const WCHAR* title, int32_t score, HWND window,
                                 HWND input, bool opened_new_window, const WCHAR* previous,
                                 const WCHAR* written, const WCHAR* remaining) {
    run_report report = report_of(kind);
    report.room_title = title;
    report.score = score;
    report.window = window;
    report.input = input;
    report.opened_new_window = opened_new_window;
    report.previous_text = previous;
    report.written_text = written;
    report.remaining_text = remaining;
    return report;
}

// A success in the room `top` (its title, score and windows).
inline std::string success_doc(const std::string& status, const room_candidate& top,
                               const WCHAR* previous, const WCHAR* written,
                               const WCHAR* remaining) {
    return outcome_doc(success_report(outcome_of_status(status), top.title, top.score, top.hwnd,
                                      top.input_hwnd, false, previous, written, remaining));
}

// The document the draft step's outcome ends in, in a room that was open.
inline std::string draft_step_doc(const room_match_set* set, const request* req) {
    draft_texts texts{};
    const run_report report = select_room_and_write_draft(set, req, false, &texts);
    std::string doc = outcome_doc(report);
    release_draft_texts(&texts);
    return doc;
}
