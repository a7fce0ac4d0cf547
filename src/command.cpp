#include "command.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "documents.h"
#include "draft.h"
#include "match.h"
#include "open_room.h"
#include "probe.h"
#include "request.h"
#include "result_file.h"
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
        text = static_cast<char*>(zeroed_alloc(static_cast<size_t>(size) + 1, 1));
    if (text && size > 0) *size_read = fread(text, 1, static_cast<size_t>(size), in);
    fclose(in);
    return text;
}

// Every action on the client happens here, until the outcome is known. The
// report points into `set` and `texts`.
static run_report decide_request(const request* req, room_match_set* set, draft_texts* texts) {
    main_window_info info{};
    copy_room_query(req->room, set->room, kQueryUnits);
    copy_room_query(req->resolved_name, set->resolved_name, kQueryUnits);
    find_main_and_chat_windows(&info, set);
    if (strcmp(detect_login_state(&info), "locked") == 0) return report_of(outcome::kakao_locked);
    sort_matches(set);
    bool opened_new_window = false;
    // With `exact`, rooms that only begin with the name do not stop the
    // opening of the room itself; they stay as they are.
    if (set->count == 0 || (req->exact && set->candidates[0].score < kExactScore)) {
        existing_window_set existing{};
        const outcome refusal = open_room_via_main_window(req, &info, set, &existing, &opened_new_window);
        if (refusal != outcome::none) return report_of(refusal);
    }
    return select_room_and_write_draft(set, req, opened_new_window, texts);
}

void serve_request(const request* req, FILE* out) {
    room_match_set set{};
    draft_texts texts{};
    const run_report report = decide_request(req, &set, &texts);
    write_run_doc(out, &report);
    release_draft_texts(&texts);
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
    result_file file{};
    int rc = kExitMisuse;
    if (open_result_file(output_path, &file)) {
        serve_request(&req, file.out);
        rc = finish_result_file(&file) ? kExitOk : kExitMisuse;
    }
    free_request(&req);
    return rc;
}

static int run_probe_mode(const char* output_path) {
    if (!output_path) return run_probe(stdout);
    result_file file{};
    if (!open_result_file(output_path, &file)) return kExitMisuse;
    const int rc = run_probe(file.out);
    return finish_result_file(&file) ? rc : kExitMisuse;
}

int chatdraft_main(int argc, char** argv) {
    if (argc < 2) return print_usage(argc > 0 ? argv[0] : nullptr);
    if (strcmp(argv[1], "--probe") == 0) return run_probe_mode(argc > 2 ? argv[2] : nullptr);
    if (argc == 2) return print_usage(argv[0]);
    return run_request_mode(argv[1], argv[2]);
}
