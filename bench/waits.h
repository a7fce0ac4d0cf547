// Included before every source of chatdraft_timed's own build of chatdraft:
// the time spent waiting for the client's answers to sent messages and in
// Sleep is added up, so the benchmark can tell chatdraft's own time from the
// client's and the fixed waits'. The program is otherwise the same.
#pragma once

#include "platform/platform.h"

struct waited_ms {
    double answers;  // inside SendMessageTimeoutW
    double sleeps;   // inside Sleep
};
waited_ms& waited();

LRESULT timed_send_message(HWND hwnd, UINT msg, WPARAM wparam, LPARAM lparam, UINT flags,
                           UINT timeout_ms, PDWORD_PTR result);
void timed_sleep(DWORD ms);

#define SendMessageTimeoutW timed_send_message
#define Sleep timed_sleep
