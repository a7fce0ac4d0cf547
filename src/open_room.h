// Opening a room that is not open, through the client's main window: the
// search box and its results, then a chat-list tab's rows, with a re-scan
// after every action and the wrong new rooms asked to close.
#pragma once

#include <cstdint>

#include "client_layout.h"
#include "documents.h"
#include "platform/platform.h"
#include "request.h"
#include "window_model.h"

constexpr int kMaxExistingWindows = 256;
constexpr int kMaxExcludedWindows = 256;

// Chat-client windows that stood before the room-opening attempts.
struct existing_window_set {
    HWND handles[kMaxExistingWindows];
    int32_t count;
    DWORD kakao_pid;                    // 0: windows of any process are judged
    WCHAR room[kQueryUnits];
    WCHAR resolved_name[kQueryUnits];
    bool overflowed;                    // some window could not be recorded: close nothing
    // New wrong windows, never candidates: those asked to close, and those
    // left open since they may be the person's (a box holding text, no box).
    HWND excluded[kMaxExcludedWindows];
    int32_t excluded_count;
    bool excluded_overflowed;           // `excluded` is full: every new window counts as excluded
    class_book* classes;                // the run's classes met; null: read every class
};

// Removes from the table the windows the clean-up asked to close or left alone.
void drop_excluded_candidates(room_match_set* set, const existing_window_set* existing);

// The chat-list tab of that name, or null.
const client_tab* find_chat_tab(const WCHAR* name);

// outcome::none when the table holds candidates for the selection; else the
// refusal that ends the run: MAIN_WINDOW_NOT_FOUND or NEEDS_OPEN_ROOM.
outcome open_room_via_main_window(const request* req, main_window_info* info,
                                  room_match_set* set, existing_window_set* existing,
                                  bool* opened_new_window);
