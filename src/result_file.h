// The result file: a document is written under the output path with ".tmp"
// appended, and renamed over the output path in one step once it is whole,
// so the output path always holds the previous document or the new one.
#pragma once

#include <cstdio>

struct result_file {
    FILE* out;               // the temporary file, open for writing
    char* temp_path;         // the output path with ".tmp" appended, never cut
    const char* output_path;
};

// False when the temporary file cannot be created; nothing is left open then.
[[nodiscard]] bool open_result_file(const char* output_path, result_file* file);
// Closes the temporary file and renames it over the output path. False when
// the document could not be written whole (it is removed and replaces
// nothing) or cannot be renamed (it stays under the temporary name).
[[nodiscard]] bool finish_result_file(result_file* file);
