// The last step of a request: choosing the room from the table, writing the
// draft and verifying it, pressing Enter and confirming the send, and the
// one document that ends the run.
#pragma once

#include <cstdio>

#include "request.h"
#include "window_model.h"

void select_room_and_write_draft(const room_match_set* set, const request* req,
                                 bool opened_new_window, FILE* out);
// The AMBIGUOUS_ROOM document for the table: its top score and every title.
void write_ambiguous_room(const room_match_set* set, FILE* out);
