// The last step of a request: choosing the room from the table, writing the
// draft and verifying it, pressing Enter and confirming the send. It returns
// the run's outcome; the caller writes its document afterwards.
#pragma once

#include "documents.h"
#include "request.h"
#include "window_model.h"

// The texts one draft run reads and makes, owned here until released; the
// report points into them.
struct draft_texts {
    WCHAR* previous;
    WCHAR* to_write;
    WCHAR* readback;
    WCHAR* remaining;
};
void release_draft_texts(draft_texts* texts);

// The report points into `set` and `texts`, which must outlive it.
run_report select_room_and_write_draft(const room_match_set* set, const request* req,
                                       bool opened_new_window, draft_texts* texts);
// AMBIGUOUS_ROOM for the table: its top score and every title.
run_report ambiguous_room_report(const room_match_set* set);
