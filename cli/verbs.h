// One run of a Windows program as the verbs make it, for the doctor and the
// mcp verb too.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "launch.h"

struct command_line;

// The Windows programs the command runs: chatdraft.exe, or the doctor's
// inspector beside it.
enum class windows_program { exe, inspector };

// Finds Wine and the program, runs it once with `plan` under the focus guard
// when the request may open a room, and reads its document, a JSON object:
// kExitDone, or the code of what went wrong (already told on standard error;
// run->error holds a set-up failure). *prefix, when asked, gets the prefix.
int run_once(const command_line& cmd, windows_program program, launch_plan plan, launch_result* run,
             nlohmann::json* doc, std::string* prefix = nullptr);
