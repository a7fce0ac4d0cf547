#include "draft.h"

#include <cstdlib>
#include <cstring>

#include "edit_box.h"
#include "match.h"
#include "text16.h"

namespace {

constexpr WCHAR kEmptyText[] = {0};
constexpr WCHAR kCrLf[] = W16("\r\n");

constexpr DWORD kReadbackWaitMs = 100;
constexpr DWORD kSendPollWaitMs = 100;

constexpr int kSendPolls = 15;
constexpr ULONGLONG kSendPollMs = 1500;  // the poll's bound, whatever the reads cost
constexpr int32_t kSendScore = 80;     // sending needs at least a prefix match on `room`

static_assert(kMaxCandidates <= kReportedTitles, "every candidate's title is reported");

// True when the top room is sure enough for a step that cannot be taken
// back: sending, or destroying the text the box holds. A request that names
// no room takes every open room at score 100, never enough for that.
bool sure_enough_to_destroy(const room_match_set* set) {
    const bool named = set->room[0] != 0 || set->resolved_name[0] != 0;
    return named && set->candidates[0].score >= kSendScore;
}

// A draft may go to any match; `exact` asks for a title equal to the name for
// every write. No room is chosen while a matching window that scores as well
// was left out of the table: it may be the room asked for.
bool selection_is_ambiguous(const room_match_set* set, const request* req) {
    const int32_t top = set->candidates[0].score;
    int32_t ties = 0;
    for (int32_t i = 0; i < set->count; ++i)
        if (set->candidates[i].score == top) ++ties;
    if (ties > 1 || top <= set->left_out_score) return true;
    if (req->exact && top < kExactScore) return true;
    return (req->send || req->clear) && !sure_enough_to_destroy(set);
}

// previous, CR LF, message: the buffer is filled exactly, terminator included.
[[nodiscard]] WCHAR* join_lines_alloc(const WCHAR* previous, const WCHAR* message) {
    const size_t lp = text16_len(previous);
    const size_t lm = text16_len(message);
    WCHAR* joined = text16_alloc(lp + lm + 3);
    if (!joined) return nullptr;
    memcpy(joined, previous, lp * sizeof(WCHAR));
    memcpy(joined + lp, kCrLf, 2 * sizeof(WCHAR));
    memcpy(joined + lp + 2, message, lm * sizeof(WCHAR));
    return joined;
}

[[nodiscard]] WCHAR* copy_text_alloc(const WCHAR* text) {
    const size_t length = text16_len(text);
    WCHAR* copy = text16_alloc(length + 1);
    if (copy) memcpy(copy, text, length * sizeof(WCHAR));
    return copy;
}

// Null when the memory for the text could not be had.
[[nodiscard]] WCHAR* text_to_write_alloc(const request* req, const WCHAR* previous,
                                         const WCHAR* message) {
    if (req->clear) return copy_text_alloc(kEmptyText);
    if (req->append && !text16_empty(previous)) return join_lines_alloc(previous, message);
    return copy_text_alloc(message);
}

// Enter, then up to 15 reads for the box to empty, for at most 1.5 s however
// long the reads take. Only a box that answered with an empty text confirms
// the send.
outcome send_and_confirm(HWND input) {
    post_key_formal(input, VK_RETURN);
    const ULONGLONG started = GetTickCount64();
    for (int poll = 0; poll < kSendPolls; ++poll) {
        Sleep(kSendPollWaitMs);
        box_read how = box_read::unanswered;
        WCHAR* now = read_edit_text_alloc(input, &how);
        const bool emptied = how == box_read::whole && now && now[0] == 0;
        free(now);
        if (emptied) return outcome::sent;
        if (GetTickCount64() - started >= kSendPollMs) break;
    }
    return outcome::send_unconfirmed;
}

// The outcome in the chosen room, with the room's own fields.
run_report room_report(outcome kind, const room_candidate* top) {
    run_report report = report_of(kind);
    report.room_title = top->title;
    report.score = top->score;
    report.window = top->hwnd;
    report.input = top->input_hwnd;
    return report;
}

run_report mismatch_report(const room_candidate* top, const WCHAR* box_text) {
    run_report report = room_report(outcome::write_mismatch, top);
    report.written_text = box_text;
    return report;
}

// The box's last text is read before the room is asked to close.
run_report finish_success(const room_candidate* top, const request* req, bool opened_new_window,
                          outcome kind, draft_texts* texts) {
    texts->remaining = get_edit_text_alloc(top->input_hwnd);
    if (req->close_after) PostMessageW(top->hwnd, WM_CLOSE, 0, 0);
    run_report report = room_report(kind, top);
    report.opened_new_window = opened_new_window;
    report.previous_text = texts->previous;
    report.written_text = texts->readback;
    report.remaining_text = texts->remaining;
    return report;
}

// The outcomes decided before the box is touched: a draft that could not be
// read whole, a draft in the way, or no memory for the text to write. On the
// way on (outcome::none), texts->previous and texts->to_write are set.
run_report refusal_before_writing(const room_match_set* set, const request* req,
                                  draft_texts* texts) {
    const room_candidate* top = &set->candidates[0];
    const WCHAR* message = req->message ? req->message : kEmptyText;
    box_read previous_read = box_read::unanswered;
    texts->previous = read_edit_text_alloc(top->input_hwnd, &previous_read);
    // `append` keeps the draft, with `force` or without.
    const bool overwrites = req->clear || (req->force && !req->append);
    // A box too busy to answer may still hold a draft: writing would lose it
    // unless the request overwrites whatever is there.
    if (previous_read == box_read::unanswered && !overwrites) return mismatch_report(top, kEmptyText);
    // Overwriting a draft that may differ from the message destroys the
    // person's text: that needs the room a send would need.
    const bool replaces_draft =
        overwrites && (previous_read != box_read::whole ||
                       (!text16_empty(texts->previous) &&
                        !text_equals_normalized(texts->previous, message)));
    if (replaces_draft && !sure_enough_to_destroy(set)) return ambiguous_room_report(set);
    // A draft read only in part is never written back (append) nor taken for
    // the message (an equal prefix would cut the draft's tail).
    const bool cut = previous_read == box_read::cut && !overwrites;
    if (cut && req->append) return mismatch_report(top, texts->previous);
    const bool any_flag = req->clear || req->append || req->force;
    if (!any_flag && !text16_empty(texts->previous) &&
        (cut || !text_equals_normalized(texts->previous, message))) {
        run_report report = room_report(outcome::draft_exists, top);
        report.previous_text = texts->previous;
        return report;
    }
    texts->to_write = text_to_write_alloc(req, texts->previous, message);
    if (!texts->to_write) {
        // Nothing is written or sent without the text; report what the box holds.
        texts->readback = get_edit_text_alloc(top->input_hwnd);
        return mismatch_report(top, texts->readback);
    }
    return report_of(outcome::none);
}

// After the write: the box must answer with all of its text, and that text
// must be the one written (for a clear, the empty text).
bool write_is_verified(const room_candidate* top, draft_texts* texts) {
    Sleep(kReadbackWaitMs);
    box_read how = box_read::unanswered;
    texts->readback = read_edit_text_alloc(top->input_hwnd, &how);
    return how == box_read::whole && text_equals_normalized(texts->readback, texts->to_write);
}

}  // namespace

void release_draft_texts(draft_texts* texts) {
    free(texts->previous);
    free(texts->to_write);
    free(texts->readback);
    free(texts->remaining);
    *texts = draft_texts{};
}

run_report ambiguous_room_report(const room_match_set* set) {
    run_report report = report_of(outcome::ambiguous_room);
    report.title_count = set->count < kMaxCandidates ? set->count : kMaxCandidates;
    for (int32_t i = 0; i < report.title_count; ++i) report.titles[i] = set->candidates[i].title;
    report.top_score = report.title_count > 0 ? set->candidates[0].score : 0;
    return report;
}

run_report select_room_and_write_draft(const room_match_set* set, const request* req,
                                       bool opened_new_window, draft_texts* texts) {
    if (set->count <= 0 || selection_is_ambiguous(set, req)) return ambiguous_room_report(set);
    const room_candidate* top = &set->candidates[0];
    const run_report refusal = refusal_before_writing(set, req, texts);
    if (refusal.kind != outcome::none) return refusal;
    set_edit_text_safe(top->input_hwnd, texts->to_write);
    if (!write_is_verified(top, texts)) return mismatch_report(top, texts->readback);
    outcome kind = req->clear ? outcome::cleared : outcome::draft_written;
    if (req->send && !req->clear && texts->to_write[0] != 0) kind = send_and_confirm(top->input_hwnd);
    return finish_success(top, req, opened_new_window, kind, texts);
}
