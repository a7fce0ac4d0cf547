// Reading the members of the documents the Windows programs write: a member
// that is absent or of another type reads as empty, false or 0, so that an
// odd document prints as little, never as a crash.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

std::string text_of(const nlohmann::json& doc, const char* name);
bool flag_of(const nlohmann::json& doc, const char* name);
// A window handle or a process id: an unsigned number.
unsigned long long number_of(const nlohmann::json& doc, const char* name);
// A score or a length, which may be negative.
long long integer_of(const nlohmann::json& doc, const char* name);
// An empty array when the member is none.
const nlohmann::json& array_of(const nlohmann::json& doc, const char* name);
