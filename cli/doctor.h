// `chatdraft doctor`: what chatdraft sees of the client, as a checklist.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

// One line of the checklist.
struct check {
    bool ok;
    std::string item;    // what chatdraft needs
    std::string detail;  // what was found, or what its absence costs
};

// The items of the inspector's document `diagnosis`, the focus guard's aside
// (it asks the X server); `where` names the client's prefix.
std::vector<check> checklist(const nlohmann::json& diagnosis, const std::string& where);

// One line per item, "ok" or "missing", with what a missing item costs;
// true when nothing is missing.
bool print_checklist(FILE* out, const std::vector<check>& checks);

struct command_line;

// The checklist as data, [{"item", "ok", "detail"}...], for the mcp verb:
// kExitDone, or the code of a failed inspector run (told on standard error).
int doctor_checklist(const command_line& cmd, nlohmann::json* items);
