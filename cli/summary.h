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
// The open rooms' titles, one a line (the shell completion reads them).
void print_probe_titles(FILE* out, const nlohmann::json& doc);

// A text in double quotes on one line: line breaks, tabs, other control
// characters, quotes and backslashes escaped as in JSON.
std::string quoted(const std::string& text);
