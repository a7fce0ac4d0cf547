// One run of chatdraft.exe as the verbs make it, for the mcp verb too.
#pragma once

#include <nlohmann/json.hpp>

#include "launch.h"

struct command_line;

// Finds Wine and the exe, runs it once with `plan` and reads its document:
// kExitDone, or the code of what went wrong (already told on standard error).
int run_exe_once(const command_line& cmd, launch_plan plan, launch_result* run, nlohmann::json* doc);
