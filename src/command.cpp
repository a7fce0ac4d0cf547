#include "command.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "documents.h"
#include "draft.h"
#include "open_room.h"
#include "probe.h"
#include "request.h"
#include "text16.h"
#include "window_model.h"

constexpr int kExitOk = 0;
constexpr int kExitMisuse = 2;

static int print_usage(const char* program) {
    fprintf(stderr, "Usage: %s --probe [out_json] | <req_json_path> <out_json_path>\n",
            program ? program : "chatdraft");
    return kExitMisuse;
}

// The request text, zero-terminated. Null when the file cannot be opened,
// its size cannot be taken or does not fit a signed 32-bit count, or there
// is no memory for it: the request is unreadable.
static char* read_file_alloc(const char* path, size_t* size_read) {
    *size_read = 0;
    FILE* in = fopen(path, "rb");
    if (!in) return nullptr;
    long size = -1;
    if (fseek(in, 0, SEEK_END) == 0) size = ftell(in);
    char* text = nullptr;
    if (size >= 0 && size <= INT32_MAX && fseek(in, 0, SEEK_SET) == 0)
        text = static_cast<char*>(calloc(static_cast<size_t>(size) + 1, 1));
    if (text && size > 0) *size_read = fread(text, 1, static_cast<size_t>(size), in);
    fclose(in);
    return text;
}

// The output path with ".tmp" appended, never cut, so it can never name the
// output file itself.
static char* temp_path_alloc(const char* output_path) {
    size_t size = strlen(output_path) + 5;
    char* path = static_cast<char*>(malloc(size));
    if (path) snprintf(path, size, "%s.tmp", output_path);
    return path;
}

// The complete document is closed, then renamed over the output path in one
// step, so the path always holds the previous document or the new one. A
// document that could not be written whole (a full disk) replaces nothing and
// is removed; one that cannot be renamed stays under the temporary name. Both
// are failures: the caller finds no new document under the output path.
[[nodiscard]] static bool finish_result_file(FILE* out, const char* temp_path,
                                             const char* output_path) {
    const bool written = fflush(out) == 0 && ferror(out) == 0;
    if (fclose(out) != 0 || !written) {
        DeleteFileA(temp_path);
        return false;
    }
    return MoveFileExA(temp_path, output_path, MOVEFILE_REPLACE_EXISTING) != FALSE;
}

// Everything between the main-window search and the last document piece.
static void serve_request(const request* req, FILE* out) {
    main_window_info info{};
    room_match_set set{};
    text16_copy(set.room, req->room, kQueryUnits - 1);
    text16_copy(set.resolved_name, req->resolved_name, kQueryUnits - 1);
    find_main_and_chat_windows(&info, &set);
    if (strcmp(detect_login_state(&info), "locked") == 0) {
        write_locked_doc(out);
        return;
    }
    sort_matches(&set);
    bool opened_new_window = false;
    if (set.count == 0) {
        existing_window_set existing{};
        if (open_room_via_main_window(req, &info, &set, &existing, &opened_new_window, out) ==
            open_result::document_written)
            return;
    }
    select_room_and_write_draft(&set, req, opened_new_window, out);
}

static int run_request_mode(const char* request_path, const char* output_path) {
    size_t size = 0;
    char* text = read_file_alloc(request_path, &size);
    if (!text) return kExitMisuse;
    request req{};
    const bool readable = read_request(text, size, &req);
    free(text);
    if (!readable) {
        free_request(&req);
        return kExitMisuse;
    }
    char* temp_path = temp_path_alloc(output_path);
    FILE* out = temp_path ? fopen(temp_path, "wb") : nullptr;
    int rc = kExitMisuse;
    if (out) {
        serve_request(&req, out);
        rc = finish_result_file(out, temp_path, output_path) ? kExitOk : kExitMisuse;
    }
    free(temp_path);
    free_request(&req);
    return rc;
}

static int run_probe_mode(const char* output_path) {
    if (!output_path) return run_probe(stdout);
    char* temp_path = temp_path_alloc(output_path);
    FILE* out = temp_path ? fopen(temp_path, "wb") : nullptr;
    int rc = kExitMisuse;
    if (out) {
        rc = run_probe(out);
        if (!finish_result_file(out, temp_path, output_path)) rc = kExitMisuse;
    }
    free(temp_path);
    return rc;
}

int chatdraft_main(int argc, char** argv) {
    if (argc < 2) return print_usage(argc > 0 ? argv[0] : nullptr);
    if (strcmp(argv[1], "--probe") == 0) return run_probe_mode(argc > 2 ? argv[2] : nullptr);
    if (argc == 2) return print_usage(argv[0]);
    return run_request_mode(argv[1], argv[2]);
}
