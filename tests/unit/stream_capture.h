// What a writer puts on a stream, as a byte string.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

template <typename Writer>
std::string capture_stream(Writer write) {
    char* data = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&data, &size);
    if (!out) return "<open_memstream failed>";
    write(out);
    fclose(out);
    std::string bytes(data, size);
    free(data);
    return bytes;
}
