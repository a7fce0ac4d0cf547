#include "result_file.h"

#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

// The output path with ".tmp" appended, never cut, so it can never name the
// output file itself.
static char* temp_path_alloc(const char* output_path) {
    size_t size = strlen(output_path) + 5;
    char* path = static_cast<char*>(malloc(size));
    if (path) snprintf(path, size, "%s.tmp", output_path);
    return path;
}

bool open_result_file(const char* output_path, result_file* file) {
    *file = result_file{nullptr, temp_path_alloc(output_path), output_path};
    if (file->temp_path) file->out = fopen(file->temp_path, "wb");
    if (file->out) return true;
    free(file->temp_path);
    file->temp_path = nullptr;
    return false;
}

bool finish_result_file(result_file* file) {
    const bool written = fflush(file->out) == 0 && ferror(file->out) == 0;
    bool done = false;
    if (fclose(file->out) != 0 || !written)
        DeleteFileA(file->temp_path);
    else
        done = MoveFileExA(file->temp_path, file->output_path, MOVEFILE_REPLACE_EXISTING) != FALSE;
    free(file->temp_path);
    *file = result_file{};
    return done;
}
