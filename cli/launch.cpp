#include "launch.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>

#include "files.h"
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

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

bool is_ignored(int sig) {
    struct sigaction action {};
    return sigaction(sig, nullptr, &action) == 0 && action.sa_handler == SIG_IGN;
}

// The signals that end a run early, and SIGCHLD, which ends the wait for the
// exe. They stay blocked and are taken with sigtimedwait: no handler runs, so
// every way out goes through the same clean-up. A signal the caller ignores
// (nohup, `cmd &`) is left out: it stays ignored, here and in the exe.
sigset_t run_signals() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : kStopSignals)
        if (!is_ignored(sig)) sigaddset(&set, sig);
    sigaddset(&set, SIGCHLD);
    return set;
}

// Everything the run made, removed on the way out.
struct run_state {
    std::string folder;  // empty until made
    int lock_fd = -1;
    pid_t child = -1;    // also the process group's id
    pid_t janitor = -1;  // removes the folder should this process die first
    int janitor_fd = -1; // its pipe: the exe's id, then "done"; end of file: we died
    bool janitor_told = false;  // the exe's id was written
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

void tell_janitor(run_state* state, pid_t exe) {
    while (write(state->janitor_fd, &exe, sizeof exe) < 0 && errno == EINTR) {
    }
    state->janitor_told = true;
}

void dismiss_janitor(run_state* state) {
    if (state->janitor_fd >= 0) {
        if (!state->janitor_told) tell_janitor(state, 0);
        const char done = 'd';
        while (write(state->janitor_fd, &done, 1) < 0 && errno == EINTR) {
        }
        close(state->janitor_fd);
        state->janitor_fd = -1;
    }
    if (state->janitor <= 0) return;
    // Not waited for: it ends as soon as it reads "done", and waiting for it
    // to be scheduled would cost the run. A later run reaps it, or init does.
    static std::vector<pid_t> unreaped;
    unreaped.push_back(state->janitor);
    state->janitor = -1;
    std::vector<pid_t> still;
    for (const pid_t pid : unreaped)
        if (waitpid(pid, nullptr, WNOHANG) == 0) still.push_back(pid);
    unreaped.swap(still);
}

void clean_up(run_state* state) {
    kill_group(state);
    remove_folder(state->folder);
    state->folder.clear();
    dismiss_janitor(state);
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
    // A link planted in the prefix must not make us create or lock another file.
    state->lock_fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    struct stat st {};
    if (state->lock_fd < 0 || fstat(state->lock_fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        *error = "cannot open the lock file " + path + ": " +
                 (state->lock_fd < 0 ? strerror(errno) : "not a regular file");
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

bool exe_is_gone(pid_t pid) {
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    std::string stat;
    if (!read_file(path, &stat)) return true;
    const size_t paren = stat.rfind(')');
    return paren == std::string::npos || stat.compare(paren, 3, ") Z") == 0;
}

// The janitor's life: read the exe's id, then wait. "done" ends it; the end
// of the pipe without it means the command died (SIGKILL leaves no clean-up):
// the exe's group is killed, and once the exe is gone its folder is removed.
[[noreturn]] void be_janitor(int fd, const std::string& folder) {
    pid_t exe = 0;
    char done = 0;
    const bool told = read(fd, &exe, sizeof exe) == static_cast<ssize_t>(sizeof exe);
    if (told && read(fd, &done, 1) == 1) _exit(0);
    if (told && exe > 0) {
        kill(-exe, SIGKILL);
        const timespec tick{0, kLockPollNs};
        for (int i = 0; i < 2000 && !exe_is_gone(exe); ++i) nanosleep(&tick, nullptr);
    }
    remove_folder(folder);
    _exit(0);
}

// A process of its own group, out of reach of a signal to the caller's group
// (timeout -s KILL signals the whole group), its standard streams on
// /dev/null so that a reader of ours sees end of file when we end.
bool start_janitor(run_state* state) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    const pid_t pid = fork();
    if (pid == 0) {
        // Nothing of ours or the caller's stays open in it but its pipe: not
        // the lock, nor a pipe a caller waits to see closed.
        setpgid(0, 0);
        const int pipe_end = fcntl(fds[0], F_DUPFD, 10);
        const int null = open("/dev/null", O_RDWR);
        for (int fd = 0; fd < 3; ++fd) dup2(null, fd);
        dup2(pipe_end, 3);
        close_range(4, ~0U, 0);
        for (int sig : kStopSignals) signal(sig, SIG_IGN);
        be_janitor(3, state->folder);
    }
    close(fds[0]);
    if (pid < 0) {
        close(fds[1]);
        return false;
    }
    state->janitor = pid;
    state->janitor_fd = fds[1];
    return true;
}

// In the exe's process, before exec: its own process group (so that the
// time-out reaches whatever Wine starts with it), death with this process
// (Wine's loader exec's in the same process, which keeps the setting), the
// lock kept open across exec so that it is held as long as the exe runs,
// standard input from /dev/null, output into the log, default handling of the
// signals that are not ignored. Returns only on failure, with errno.
void become_exe(const run_state& state, pid_t parent, const std::string& log,
                const sigset_t& stop, char** argv, char** envp) {
    setpgid(0, 0);
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) _exit(127);
    if (state.lock_fd >= 0 && fcntl(state.lock_fd, F_SETFD, 0) != 0) return;
    if (chdir(state.folder.c_str()) != 0) return;
    const int in = open("/dev/null", O_RDONLY);
    const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0) return;
    for (int sig = 1; sig < NSIG; ++sig)
        if (sigismember(&stop, sig) == 1) signal(sig, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execve(argv[0], argv, envp);
}

// Starts the exe; 0, or the errno of what failed in the child (told through
// a pipe that exec closes).
int spawn_exe(const wine_setup& setup, const launch_plan& plan, run_state* state) {
    std::vector<std::string> args = {setup.loader, setup.exe};
    args.insert(args.end(), plan.args.begin(), plan.args.end());
    std::vector<std::string> env = exe_environment(setup);
    std::vector<char*> argv = pointers(args), envp = pointers(env);
    const std::string log = state->folder + "/" + kLogName;
    const sigset_t stop = run_signals();
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return errno;
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        become_exe(*state, parent, log, stop, argv.data(), envp.data());
        const int failure = errno;
        (void)!write(fds[1], &failure, sizeof failure);
        _exit(127);
    }
    close(fds[1]);
    if (pid < 0) {
        close(fds[0]);
        return errno;
    }
    state->child = pid;
    int failure = 0;
    ssize_t n;
    while ((n = read(fds[0], &failure, sizeof failure)) < 0 && errno == EINTR) {
    }
    close(fds[0]);
    if (n == static_cast<ssize_t>(sizeof failure)) {
        kill_group(state);
        return failure;
    }
    return 0;
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
    read_file(folder + "/" + kLogName, &log);
    return log.size() > kLogTailBytes ? log.substr(log.size() - kLogTailBytes) : log;
}

// The lock wait and the exe's run are bounded each by the time-out: a draft
// that waited long for its turn still gets the whole time-out to run.
void run_to_end(const wine_setup& setup, const launch_plan& plan, run_state* state,
                launch_result* result) {
    if (plan.take_lock) {
        const double lock_deadline = now_seconds() + plan.timeout_seconds;
        const lock_outcome lock = take_lock(setup, lock_deadline, state, &result->error);
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
    if (!start_janitor(state)) {
        result->error = std::string("cannot start a process: ") + strerror(errno);
        return;
    }
    const int rc = spawn_exe(setup, plan, state);
    if (rc != 0) {
        result->error = "cannot run " + setup.loader + ": " + strerror(rc);
        return;
    }
    tell_janitor(state, state->child);
    const double deadline = now_seconds() + plan.timeout_seconds;
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
    result->has_document = read_file(state->folder + "/" + kResultName, &result->document);
    result->wine_log = log_tail(state->folder);
}

}  // namespace

launch_result launch_exe(const wine_setup& setup, const launch_plan& plan) {
    const sigset_t set = run_signals();
    sigset_t before;
    sigprocmask(SIG_BLOCK, &set, &before);
    run_state state;
    launch_result result;
    run_to_end(setup, plan, &state, &result);
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
