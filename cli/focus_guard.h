// The focus guard: while a draft may make the client open a room, it keeps
// the person's focus, and every key they type, out of that room on an X
// desktop. A window manager focuses a newly mapped window unless its
// _NET_WM_USER_TIME (or that of its _NET_WM_USER_TIME_WINDOW) says 0, and
// Wine gives the client's windows a time only after a real key or click. So
// the guard, a child process with its own X connection:
//   - sets the client's user-time windows' _NET_WM_USER_TIME to 0 for the run;
//   - sets it to 0 on each top-level window the client creates meanwhile, and
//     removes it again some hundreds of milliseconds after the window is mapped;
//   - hands the focus back when it moves to a client window all the same.
// The client's windows are told by _NET_WM_PID, never by a title. It never
// grabs the keyboard nor moves the pointer; its own failure is one line on
// standard error and never fails the run.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

// ---- the guard's decisions, kept apart from X so that they can be tested

using x_window = uint32_t;

// A CARDINAL or WINDOW property of one value as read: absent (or of another
// shape), or its value.
struct card_property {
    bool present = false;
    uint32_t value = 0;
};

// A property reply's raw shape: format 32 and one item make a value.
card_property card_from_reply(bool replied, uint8_t format, uint32_t items, uint32_t first);

// Whether a window's _NET_WM_PID names one of the client's processes.
bool is_client_pid(card_property pid, const std::vector<long>& client_pids);

// What to do with a _NET_WM_USER_TIME the guard set to 0, given what it was
// before and what it is now.
enum class restore_action {
    leave,     // someone wrote a real time (or removed it) meanwhile: theirs stands
    put_back,  // the value from before
    remove,    // there was none before
};
restore_action restore_for(card_property before, card_property now);

// Who holds the focus: the window manager's _NET_ACTIVE_WINDOW and the X
// input focus (0 when none; PointerRoot counts as none), each told as the
// client's or not.
struct focus_holders {
    x_window active = 0;
    x_window focus = 0;
    bool active_is_client = false;
    bool focus_is_client = false;
};

// Which holder to give back to its owner from before the run.
struct handback {
    bool active = false;
    bool focus = false;
    bool any() const { return active || focus; }
};
handback handback_for(const focus_holders& before, const focus_holders& now);

// ---- the guard

// Runs the guard around one run of the exe: from the constructor, which
// returns once the guard is armed (or gave up), until the destructor, which
// lets it watch a while longer when the client showed a window, restore what
// it set, and end. No guard at all for an empty `prefix`, without DISPLAY, or
// when no KakaoTalk.exe runs in the prefix.
class focus_guard {
public:
    explicit focus_guard(const std::string& prefix);
    ~focus_guard();
    focus_guard(const focus_guard&) = delete;
    focus_guard& operator=(const focus_guard&) = delete;

private:
    pid_t child_ = -1;
    int to_child_ = -1;    // closed: the exe has ended
    int from_child_ = -1;  // one byte once armed; end of file once the guard ended
};

// For the doctor: whether the guard can work here, in one sentence.
struct guard_outlook {
    bool ok = false;
    std::string detail;
};
guard_outlook focus_guard_outlook(const std::string& prefix);
