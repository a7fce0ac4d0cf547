// `chatdraft doctor`: what chatdraft sees of the client, as a checklist.
#pragma once

#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

// One line per item, "ok" or "missing", with what a missing item costs;
// true when nothing is missing. `where` names the client's prefix.
bool print_checklist(FILE* out, const nlohmann::json& diagnosis, const std::string& where);

struct command_line;

// The checklist as data, [{"item", "ok", "detail"}...], for the mcp verb:
// kExitDone, or the code of a failed inspector run (told on standard error).
int doctor_checklist(const command_line& cmd, nlohmann::json* items);
