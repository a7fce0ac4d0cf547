// Every outcome of chatdraft.exe's result documents, as the command tells
// it: the exit code, the English line under the exe's Korean text, and the
// assistant's next step. One table in outcomes.cpp.
#pragma once

#include <cstddef>
#include <string>

#include <nlohmann/json.hpp>

struct outcome_entry {
    const char* status;      // the document's "status"
    const char* error_code;  // its "error_code"; null for a success
    size_t min_error_bytes;  // the least length of its "error" text (one code, two texts)
    int exit_code;
    const char* what;        // what happened, as a sentence without its stop; null for a success
    const char* remedy;      // what the person does about it on the command line; may be null
    const char* next_step;   // what the assistant does next; null for a success
};

// The entry of a result document. An error with a code the table does not
// know gets the entry whose error_code is ""; null for a document that is
// none of chatdraft.exe's.
const outcome_entry* outcome_of(const nlohmann::json& doc);

// The English line for the person: "what: remedy", or "what." alone.
std::string english_line(const outcome_entry& entry);
