// Reading a whole file (or its head) as bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The file's bytes, at most `limit` of them, in *bytes. False when it cannot
// be opened or a read fails, with errno telling why; *bytes then holds what
// was read before the failure.
bool read_file(const std::string& path, std::string* bytes, size_t limit = SIZE_MAX);
