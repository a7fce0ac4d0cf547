// One run of chatdraft.exe: the lock, a private folder, the exe in its own
// process group under a time-out, and the clean-up on every way out, this
// process's death by SIGKILL included.
#pragma once

#include <functional>
#include <string>
#include <vector>

struct wine_setup;

struct launch_plan {
    std::vector<std::string> args;  // after the exe: "--probe out.json" or "req.json out.json"
    std::string request;            // written to req.json when not empty
    bool take_lock = false;         // one draft per prefix at a time
    double timeout_seconds = 0;     // the lock wait's bound, and then the run's
    // Optional hooks for a caller that serves several requests (the mcp verb):
    // asked once the lock is held, right before the exe would start; false
    // ends the run as cancelled with nothing started.
    std::function<bool()> may_start;
    std::function<void()> on_start;  // the exe has just been started
};

enum class launch_end {
    setup_failed,  // nothing was started; *error says why
    lock_busy,     // another draft held the prefix for the whole time-out
    cancelled,     // may_start said no: nothing was started
    timed_out,     // the exe's process group was killed
    exited,        // the exe ended by itself: see exit_code / signal
};

struct launch_result {
    launch_end end = launch_end::setup_failed;
    int exit_code = -1;      // the exe's, when it exited
    int signal = 0;          // the signal that ended it, when one did
    bool has_document = false;
    std::string document;    // out.json's bytes
    std::string wine_log;    // what Wine and the exe wrote on their standard streams
    std::string error;
};

// The name of the result file in the run's folder.
extern const char kResultName[];

// Runs the exe once. A SIGINT, SIGTERM, SIGHUP or SIGQUIT meanwhile (unless
// ignored when the run began) kills the exe's group, removes the folder, and
// ends this process by the same signal. Should this process die otherwise,
// the exe dies with it, and a helper of the run removes the folder.
launch_result launch_exe(const wine_setup& setup, const launch_plan& plan);
