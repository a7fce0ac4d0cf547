#include "launch.h"

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>

#include "locate.h"

extern char** environ;

const char kResultName[] = "out.json";

namespace {

constexpr char kRequestName[] = "req.json";
constexpr char kLogName[] = "wine.log";
constexpr char kLockName[] = "/chatdraft.lock";
constexpr long kLockPollNs = 5 * 1000 * 1000;
constexpr size_t kLogTailBytes = 2000;

double now_seconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

timespec to_timespec(double seconds) {
    if (seconds < 0) seconds = 0;
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(seconds);
    ts.tv_nsec = static_cast<long>((seconds - static_cast<double>(ts.tv_sec)) * 1e9);
    return ts;
}

// The signals that end a run early, and SIGCHLD, which ends the wait for the
// exe. They stay blocked and are taken with sigtimedwait: no handler runs, so
// every way out goes through the same clean-up.
sigset_t run_signals() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGCHLD}) sigaddset(&set, sig);
    return set;
}

// Everything the run made, removed on the way out.
struct run_state {
    std::string folder;  // empty until made
    int lock_fd = -1;
    pid_t child = -1;    // also the process group's id
};

void remove_folder(const std::string& folder) {
    if (folder.empty()) return;
    if (DIR* dir = opendir(folder.c_str())) {
        const int fd = dirfd(dir);
        while (const dirent* entry = readdir(dir))
            if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
                unlinkat(fd, entry->d_name, 0);
        closedir(dir);
    }
    rmdir(folder.c_str());
}

void kill_group(run_state* state) {
    if (state->child <= 0) return;
    kill(-state->child, SIGKILL);
    while (waitpid(state->child, nullptr, 0) < 0 && errno == EINTR) {
    }
    state->child = -1;
}

void clean_up(run_state* state) {
    kill_group(state);
    remove_folder(state->folder);
    state->folder.clear();
    if (state->lock_fd >= 0) close(state->lock_fd);
    state->lock_fd = -1;
}

// Ends this process the way the signal would have, once the run is cleaned
// up, so that a shell sees an interrupted command.
[[noreturn]] void die_by(int sig, run_state* state) {
    clean_up(state);
    signal(sig, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    raise(sig);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    _exit(128 + sig);
}

// Waits for a signal of the run until the deadline; 0 when none came.
int wait_signal(double deadline, double at_most) {
    const sigset_t set = run_signals();
    double wait = deadline - now_seconds();
    if (at_most > 0 && wait > at_most) wait = at_most;
    const timespec ts = to_timespec(wait);
    siginfo_t info{};
    const int sig = sigtimedwait(&set, &info, &ts);
    return sig > 0 ? sig : 0;
}

bool is_stop_signal(int sig) { return sig != 0 && sig != SIGCHLD; }

enum class lock_outcome { held, busy, failed };

// flock has no time-out of its own: it is tried every few milliseconds,
// and a signal meanwhile ends the run.
lock_outcome take_lock(const wine_setup& setup, double deadline, run_state* state,
                       std::string* error) {
    const std::string path = setup.prefix + kLockName;
    state->lock_fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (state->lock_fd < 0) {
        *error = "cannot open the lock file " + path + ": " + strerror(errno);
        return lock_outcome::failed;
    }
    while (flock(state->lock_fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            *error = "cannot lock " + path + ": " + strerror(errno);
            return lock_outcome::failed;
        }
        if (now_seconds() >= deadline) return lock_outcome::busy;
        const int sig = wait_signal(deadline, kLockPollNs / 1e9);
        if (is_stop_signal(sig)) die_by(sig, state);
    }
    return lock_outcome::held;
}

bool write_new_file(const std::string& path, const std::string& bytes) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    return close(fd) == 0 && done == bytes.size();
}

bool read_whole(const std::string& path, std::string* bytes) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bytes->clear();
    char buffer[65536];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0) bytes->append(buffer, static_cast<size_t>(n));
    close(fd);
    return n == 0;
}

void set_env(std::vector<std::string>* env, const std::string& name, const std::string& value,
             bool keep_existing) {
    const std::string head = name + "=";
    for (std::string& item : *env) {
        if (item.compare(0, head.size(), head) != 0) continue;
        if (!keep_existing) item = head + value;
        return;
    }
    env->push_back(head + value);
}

// The caller's environment, pointed at the prefix and its server's TMPDIR.
// Wine's own messages are off unless the caller asked for them, and a crash
// ends the exe instead of waiting on the debugger's dialog.
std::vector<std::string> exe_environment(const wine_setup& setup) {
    std::vector<std::string> env;
    for (char** item = environ; *item; ++item) env.emplace_back(*item);
    set_env(&env, "WINEPREFIX", setup.prefix, false);
    if (!setup.server_tmpdir.empty()) set_env(&env, "TMPDIR", setup.server_tmpdir, false);
    set_env(&env, "WINEDEBUG", "-all", true);
    set_env(&env, "WINEDLLOVERRIDES", "winedbg.exe=d", true);
    return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (std::string& s : strings) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

// Standard input from /dev/null, standard output and error into the log, the
// run's folder as working folder, a process group of its own (so that the
// time-out reaches whatever Wine starts with it), default signal handling.
int spawn_exe(const wine_setup& setup, const launch_plan& plan, const std::string& folder,
              pid_t* pid) {
    std::vector<std::string> argv = {setup.loader, setup.exe};
    argv.insert(argv.end(), plan.args.begin(), plan.args.end());
    std::vector<std::string> env = exe_environment(setup);
    const std::string log = folder + "/" + kLogName;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    const sigset_t defaults = run_signals();
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK |
                                        POSIX_SPAWN_SETSIGDEF);
    const int rc = posix_spawn(pid, setup.loader.c_str(), &actions, &attr,
                               pointers(argv).data(), pointers(env).data());
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return rc;
}

// Waits for the exe to end by the deadline; false on the time-out.
bool wait_exe(double deadline, run_state* state, int* status) {
    for (;;) {
        const pid_t done = waitpid(state->child, status, WNOHANG);
        if (done == state->child) {
            state->child = -1;
            return true;
        }
        if (now_seconds() >= deadline) return false;
        const int sig = wait_signal(deadline, 0);
        if (is_stop_signal(sig)) die_by(sig, state);
    }
}

std::string log_tail(const std::string& folder) {
    std::string log;
    read_whole(folder + "/" + kLogName, &log);
    return log.size() > kLogTailBytes ? log.substr(log.size() - kLogTailBytes) : log;
}

void run_to_end(const wine_setup& setup, const launch_plan& plan, double deadline,
                run_state* state, launch_result* result) {
    if (plan.take_lock) {
        const lock_outcome lock = take_lock(setup, deadline, state, &result->error);
        if (lock != lock_outcome::held) {
            result->end = lock == lock_outcome::busy ? launch_end::lock_busy : launch_end::setup_failed;
            return;
        }
    }
    char folder[4096];
    snprintf(folder, sizeof folder, "%s/chatdraft-XXXXXX", caller_tmpdir().c_str());
    if (!mkdtemp(folder)) {
        result->error = std::string("cannot make a folder in ") + caller_tmpdir() + ": " + strerror(errno);
        return;
    }
    state->folder = folder;
    if (!plan.request.empty() && !write_new_file(state->folder + "/" + kRequestName, plan.request)) {
        result->error = "cannot write the request in " + state->folder;
        return;
    }
    if (plan.may_start && !plan.may_start()) {
        result->end = launch_end::cancelled;
        return;
    }
    const int rc = spawn_exe(setup, plan, state->folder, &state->child);
    if (rc != 0) {
        state->child = -1;
        result->error = "cannot run " + setup.loader + ": " + strerror(rc);
        return;
    }
    if (plan.on_start) plan.on_start();
    int status = 0;
    if (!wait_exe(deadline, state, &status)) {
        result->end = launch_end::timed_out;
        result->wine_log = log_tail(state->folder);
        return;
    }
    result->end = launch_end::exited;
    if (WIFEXITED(status)) result->exit_code = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result->signal = WTERMSIG(status);
    result->has_document = read_whole(state->folder + "/" + kResultName, &result->document);
    result->wine_log = log_tail(state->folder);
}

}  // namespace

launch_result launch_exe(const wine_setup& setup, const launch_plan& plan) {
    const double deadline = now_seconds() + plan.timeout_seconds;
    const sigset_t set = run_signals();
    sigset_t before;
    sigprocmask(SIG_BLOCK, &set, &before);
    run_state state;
    launch_result result;
    run_to_end(setup, plan, deadline, &state, &result);
    clean_up(&state);
    // A stop signal that came after the exe ended still ends this process,
    // once the folder is gone.
    const timespec none{};
    siginfo_t info{};
    for (int sig; (sig = sigtimedwait(&set, &info, &none)) > 0;)
        if (is_stop_signal(sig)) die_by(sig, &state);
    sigprocmask(SIG_SETMASK, &before, nullptr);
    return result;
}
