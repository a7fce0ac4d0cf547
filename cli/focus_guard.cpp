#include "focus_guard.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>

#include "../src/client_layout.h"
#include "focus_guard_x11.h"
#include "locate.h"

namespace {

// How long the run waits for the guard to arm before it starts the exe all
// the same, and for the guard to end after the exe (its tail is about 1 s).
constexpr int kArmWaitMs = 2000;
constexpr int kEndWaitMs = 5000;

int64_t monotonic_ms() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Reads from `fd` until `until_end` is false and a byte came, or until its
// end of file, for at most `ms`.
void wait_readable(int fd, int ms, bool until_end) {
    const int64_t deadline = monotonic_ms() + ms;
    for (int64_t left = ms; left > 0; left = deadline - monotonic_ms()) {
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return;
        char byte;
        const ssize_t n = read(fd, &byte, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || !until_end) return;
    }
}

// The child's life: stdin and stdout on /dev/null (a caller reading the
// command's output must not wait for the guard), the keyboard's and the
// terminal's signals ignored (it restores after its parent is gone).
[[noreturn]] void become_guard(const std::vector<long>& client_pids, int from_parent, int to_parent) {
    for (int sig : {SIGINT, SIGQUIT, SIGHUP, SIGPIPE}) signal(sig, SIG_IGN);
    for (int sig : {SIGTERM, SIGCHLD, SIGALRM}) signal(sig, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    const int null = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null >= 0) {
        dup2(null, STDIN_FILENO);
        dup2(null, STDOUT_FILENO);
    }
    _exit(run_guard(client_pids, from_parent, to_parent));
}

}  // namespace

card_property card_from_reply(bool replied, uint8_t format, uint32_t items, uint32_t first) {
    if (!replied || format != 32 || items != 1) return {};
    return {true, first};
}

bool is_client_pid(card_property pid, const std::vector<long>& client_pids) {
    return pid.present && pid.value != 0 &&
           std::find(client_pids.begin(), client_pids.end(), static_cast<long>(pid.value)) !=
               client_pids.end();
}

restore_action restore_for(card_property before, card_property now) {
    if (!now.present || now.value != 0) return restore_action::leave;
    if (!before.present) return restore_action::remove;
    return before.value == 0 ? restore_action::leave : restore_action::put_back;
}

handback handback_for(const focus_holders& before, const focus_holders& now) {
    handback back;
    // The client held the focus, or no window did: nothing of the person's to give back.
    if (before.active_is_client || before.focus_is_client) return back;
    if (!before.active && !before.focus) return back;
    const bool stolen = (now.active_is_client && now.active != before.active) ||
                        (now.focus_is_client && now.focus != before.focus);
    if (!stolen) return back;
    back.active = before.active && now.active != before.active;
    back.focus = before.focus && now.focus != before.focus;
    return back;
}

focus_guard::focus_guard(const std::string& prefix) {
    const char* display = getenv("DISPLAY");
    if (prefix.empty() || !display || !*display) return;
    const std::vector<long> client_pids = ::client_pids(prefix);
    if (client_pids.empty()) return;
    int down[2], up[2];
    if (pipe2(down, O_CLOEXEC) != 0) return;
    if (pipe2(up, O_CLOEXEC) != 0) {
        close(down[0]);
        close(down[1]);
        return;
    }
    child_ = fork();
    if (child_ == 0) {
        close(down[1]);
        close(up[0]);
        become_guard(client_pids, down[0], up[1]);
    }
    close(down[0]);
    close(up[1]);
    to_child_ = down[1];
    from_child_ = up[0];
    if (child_ < 0) return;
    wait_readable(from_child_, kArmWaitMs, false);
}

focus_guard::~focus_guard() {
    if (to_child_ >= 0) close(to_child_);
    if (child_ > 0) {
        // The end of file comes when the guard has restored what it set and ended.
        wait_readable(from_child_, kEndWaitMs, true);
        if (waitpid(child_, nullptr, WNOHANG) == 0) kill(child_, SIGKILL);
        while (waitpid(child_, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    if (from_child_ >= 0) close(from_child_);
}

guard_outlook focus_guard_outlook(const std::string& prefix) {
    const char* display = getenv("DISPLAY");
    if (!display || !*display)
        return {true, "DISPLAY is not set: the client shows no window on an X desktop here"};
    const std::vector<long> client_pids = ::client_pids(prefix);
    if (client_pids.empty())
        return {false, "no " CLIENT_EXE_NAME " process runs in this prefix: the guard tells the client's "
                       "windows by their process, and a room the client opens may take the "
                       "person's focus"};
    return x_outlook(client_pids, display);
}
