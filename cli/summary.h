// What the command prints: the short human form of a result or probe
// document, and the exit code a result document stands for.
#pragma once

#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

// kExitDone, kExitRefused or kExitMaybeSent; kExitUnknown for a document
// that is none of chatdraft.exe's.
int exit_code_for_result(const nlohmann::json& doc);

void print_result_summary(FILE* out, const nlohmann::json& doc);
void print_probe_summary(FILE* out, const nlohmann::json& doc);
// The open rooms' titles, one a line as terminal_line makes it (the shell
// completion reads them).
void print_probe_titles(FILE* out, const nlohmann::json& doc);

// A text in double quotes on one line: line breaks, tabs, other control
// characters (C0, DEL, C1), quotes and backslashes escaped as in JSON.
std::string quoted(const std::string& text);

// A text as one line a terminal shows as text: line breaks and tabs become
// blanks (which room names match without), other controls are escaped.
std::string terminal_line(const std::string& text);
