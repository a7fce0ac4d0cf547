// The inspector: what chatdraft finds of the client, decided by chatdraft's
// own window model, as one document for `chatdraft doctor`; and the client's
// whole window tree as a file the stand-in can play. It only reads: class
// names, texts, visibility, parents, sizes, and an input box's length.
#pragma once

#include <cstdio>
#include <vector>

#include "platform/win32.h"

// The processes that make up the client: the owners of windows of its class,
// and any process whose image is KakaoTalk.exe.
struct client_process {
    DWORD pid;
    WCHAR image[260];   // empty when the process list does not name it
};
std::vector<client_process> find_client_processes();
bool is_client_pid(const std::vector<client_process>& clients, DWORD pid);
// The top-level windows of those processes, in z-order.
std::vector<HWND> client_top_level_windows(const std::vector<client_process>& clients);

// The diagnosis document.
void write_diagnosis(FILE* out);

// The window tree of the client's processes; `redact` replaces every title
// and text but the names chatdraft looks for with as many placeholder units.
void write_window_tree(FILE* out, bool redact);
