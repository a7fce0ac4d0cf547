// The focus guard's X side, through libxcb loaded at run time.
#pragma once

#include <vector>

#include "focus_guard.h"

// The guard's child: arms, writes one byte to `to_parent`, guards until
// `from_parent` reaches its end (the exe ended) and a while after, restores
// what it set, and returns the child's exit code. A failure is one line on
// standard error.
int run_guard(const std::vector<long>& client_pids, int from_parent, int to_parent);

// Whether the X server of `display` shows the client's windows.
guard_outlook x_outlook(const std::vector<long>& client_pids, const char* display);
