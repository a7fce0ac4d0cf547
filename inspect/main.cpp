// chatdraft_inspect: what chatdraft sees of the client, for `chatdraft doctor`.
//
//   chatdraft_inspect.exe OUT                     the diagnosis
//   chatdraft_inspect.exe --dump OUT [--redact]   the client's window tree
//
// Each document goes into OUT through OUT.tmp and a rename. Exit codes: 0, or
// 2 for a misused command line or an OUT that cannot be written.
#include <cstring>

#include "inspect.h"
#include "result_file.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitMisuse = 2;

int usage(const char* program) {
    fprintf(stderr, "Usage: %s OUT | --dump OUT [--redact]\n", program ? program : "chatdraft_inspect");
    return kExitMisuse;
}

}  // namespace

int main(int argc, char** argv) {
    const bool dump = argc >= 3 && strcmp(argv[1], "--dump") == 0;
    const bool redact = dump && argc == 4 && strcmp(argv[3], "--redact") == 0;
    if (!(argc == 2 && argv[1][0] != '-') && !(dump && (argc == 3 || redact))) return usage(argc ? argv[0] : nullptr);
    result_file file{};
    if (!open_result_file(argv[dump ? 2 : 1], &file)) return kExitMisuse;
    if (dump)
        write_window_tree(file.out, redact);
    else
        write_diagnosis(file.out);
    return finish_result_file(&file) ? kExitOk : kExitMisuse;
}
