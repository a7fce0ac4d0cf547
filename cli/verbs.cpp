// The verbs: each checks what it needs, runs chatdraft.exe once, and prints;
// and the one way the command runs a Windows program.
#include <unistd.h>

#include <cstdio>

#include "command.h"
#include "focus_guard.h"
#include "json_fields.h"
#include "launch.h"
#include "locate.h"
#include "request_writer.h"
#include "summary.h"
#include "verbs.h"

using nlohmann::json;

namespace {

int report_unknown(const launch_result& run, double timeout_seconds) {
    if (run.end == launch_end::timed_out) {
        char seconds[32];
        snprintf(seconds, sizeof seconds, "%g", timeout_seconds);
        fail(kExitUnknown, std::string("no result within ") + seconds +
                               " s; chatdraft.exe was stopped. The outcome is unknown: "
                               "look with 'chatdraft probe' before trying again");
    } else if (run.signal) {
        fail(kExitUnknown, "chatdraft.exe was killed by signal " + std::to_string(run.signal) +
                               ": the outcome is unknown");
    } else {
        fail(kExitUnknown, "chatdraft.exe ended with exit code " + std::to_string(run.exit_code) +
                               (run.has_document ? "" : " and no result") + ": the outcome is unknown");
    }
    if (!run.wine_log.empty()) fprintf(stderr, "%s", run.wine_log.c_str());
    return kExitUnknown;
}

// The inspector only reads the client's windows: a run of it that failed
// left nothing unknown, and is told as a set-up failure.
int report_inspector_failed(const launch_result& run) {
    if (!run.wine_log.empty()) fprintf(stderr, "%s", run.wine_log.c_str());
    return fail(kExitMisuse, run.end == launch_end::timed_out
                                 ? "the inspector gave no answer in time"
                                 : "the inspector failed (exit code " + std::to_string(run.exit_code) + ")");
}

// The parsed document of a run that ended well, or a code other than
// kExitDone: the run's own set-up failure, or a failed run of the program.
int finished_document(const launch_result& run, windows_program program, double timeout_seconds,
                      json* doc) {
    if (run.end == launch_end::setup_failed) return fail(kExitMisuse, run.error);
    if (run.end == launch_end::cancelled) return kExitMisuse;
    if (run.end == launch_end::lock_busy)
        return fail(kExitMisuse, "another draft to this prefix went on for the whole time-out; "
                                 "nothing was done");
    const bool inspector = program == windows_program::inspector;
    if (run.end != launch_end::exited || run.exit_code != 0 || !run.has_document)
        return inspector ? report_inspector_failed(run) : report_unknown(run, timeout_seconds);
    *doc = json::parse(run.document, nullptr, false);
    if (doc->is_object()) return kExitDone;
    return inspector ? fail(kExitMisuse, "the inspector wrote no JSON object")
                     : fail(kExitUnknown, "chatdraft.exe wrote a result that is not a JSON object");
}

// The inspector beside the exe the other verbs run, for the same prefix.
bool use_inspector(wine_setup* setup, std::string* error) {
    const size_t slash = setup->exe.rfind('/');
    const std::string name = setup->win32 ? "chatdraft_inspect32.exe" : "chatdraft_inspect.exe";
    const std::string inspector = setup->exe.substr(0, slash + 1) + name;
    if (access(inspector.c_str(), R_OK) != 0) {
        *error = "no " + name + " beside " + setup->exe;
        return false;
    }
    setup->exe = inspector;
    return true;
}

// Prints the exact bytes: a caller that reads --json gets the exe's document.
void print_document(const std::string& bytes) { fwrite(bytes.data(), 1, bytes.size(), stdout); }

// A request that may make the client open a room, which a window manager
// would focus: every request but one with ui_mode "strict_open_only".
bool may_open_room(const launch_plan& plan) {
    return !plan.request.empty() &&
           text_of(json::parse(plan.request, nullptr, false), "ui_mode") != "strict_open_only";
}

}  // namespace

int run_once(const command_line& cmd, windows_program program, launch_plan plan, launch_result* run,
             json* doc, std::string* prefix) {
    wine_setup setup;
    if (!locate_wine(cmd, &setup, &run->error) ||
        (program == windows_program::inspector && !use_inspector(&setup, &run->error)))
        return fail(kExitMisuse, run->error);
    if (prefix) *prefix = setup.prefix;
    plan.timeout_seconds = cmd.timeout_seconds;
    {
        const focus_guard guard(may_open_room(plan) ? setup.prefix : "");
        *run = launch_exe(setup, plan);
    }
    return finished_document(*run, program, cmd.timeout_seconds, doc);
}

int run_probe(const command_line& cmd) {
    if (cmd.json && cmd.titles) return fail(kExitMisuse, "--json and --titles exclude each other");
    launch_plan plan;
    plan.args = {"--probe", kResultName};
    launch_result run;
    json doc;
    if (const int code = run_once(cmd, windows_program::exe, plan, &run, &doc); code != kExitDone) return code;
    if (cmd.json)
        print_document(run.document);
    else if (cmd.titles)
        print_probe_titles(stdout, doc);
    else
        print_probe_summary(stdout, doc);
    return kExitDone;
}

int run_draft(const command_line& given) {
    command_line cmd = given;
    std::string error;
    if (cmd.message_from_stdin) {
        if (!read_message(STDIN_FILENO, &*cmd.message, &error)) return fail(kExitMisuse, error);
        if (const char* fault = text_fault(*cmd.message))
            return fail(kExitMisuse, std::string("MESSAGE ") + fault);
        if (const char* fault = draft_fault(cmd)) return fail(kExitMisuse, fault);
    }
    launch_plan plan;
    plan.args = {"req.json", kResultName};
    plan.request = request_json(cmd);
    plan.take_lock = true;
    launch_result run;
    json doc;
    if (const int code = run_once(cmd, windows_program::exe, plan, &run, &doc); code != kExitDone) return code;
    if (cmd.json)
        print_document(run.document);
    else
        print_result_summary(stdout, doc);
    return exit_code_for_result(doc);
}
