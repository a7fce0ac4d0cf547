// The doctor: runs chatdraft_inspect.exe, which decides with chatdraft's own
// window model, and says what chatdraft finds of the client and what a
// missing piece costs; or writes the client's window tree to a file.
#include "doctor.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "../src/client_layout.h"
#include "command.h"
#include "focus_guard.h"
#include "json_fields.h"
#include "launch.h"
#include "summary.h"
#include "verbs.h"

using nlohmann::json;

namespace {

// A view of the main window: found, and visible.
struct view_state {
    bool found = false;
    bool visible = false;
};

view_state view(const json& doc, const char* name) {
    for (const json& v : array_of(doc, "views"))
        if (text_of(v, "view") == name)
            return {number_of(v, "hwnd") != 0, flag_of(v, "visible")};
    return {};
}

size_t count_kind(const json& doc, const char* kind) {
    size_t n = 0;
    for (const json& w : array_of(doc, "client_windows")) n += text_of(w, "kind") == kind;
    return n;
}

std::string class_list(const json& classes) {
    std::string out;
    for (const json& c : classes)
        if (c.is_string()) out += (out.empty() ? "" : ", ") + c.get<std::string>();
    return out.empty() ? "none" : out;
}

std::string other_window_classes(const json& doc) {
    json classes = json::array();
    for (const json& w : array_of(doc, "other_windows")) classes.push_back(text_of(w, "class"));
    return class_list(classes);
}

check client_check(const json& doc, const std::string& where) {
    const unsigned long long pid = number_of(doc, "client_pid");
    const std::string image = text_of(doc, "client_image");
    if (!pid)
        return {false, "client", "no " CLIENT_EXE_NAME " and no window of its class in " + where +
                                     ": is the client running in this prefix?"};
    if (array_of(doc, "client_windows").empty())
        return {false, "client", image + " (process " + std::to_string(pid) + ") runs in " + where +
                                     " but has no window of class " CLIENT_CLASS "; its windows are of "
                                     "classes " + other_window_classes(doc) +
                                     ": the client may have renamed its classes"};
    return {true, "client", "process " + std::to_string(pid) + (image.empty() ? "" : " (" + image + ")") +
                                " in " + where};
}

check main_window_check(const json& doc) {
    if (!number_of(doc, "main_hwnd"))
        return {false, "main window", "no window titled \"" CLIENT_MAIN_TITLE "\": the login state, the search box "
                                      "and the tabs cannot be seen; a room that is not open cannot be "
                                      "opened (MAIN_WINDOW_NOT_FOUND)"};
    return {true, "main window", "found"};
}

// A second window titled like the main window: a room so titled is never
// written into, and a second client is never told apart from the first.
check one_main_window_check(const json& doc) {
    const size_t others = count_kind(doc, "second_main");
    if (!others) return {true, "one main window", "no other window is titled \"" CLIENT_MAIN_TITLE "\""};
    return {false, "one main window",
            std::to_string(others) + " more window" + (others == 1 ? " is" : "s are") +
                " titled \"" CLIENT_MAIN_TITLE "\": chatdraft takes the first that shows the online or lock view, "
                "and never writes into a room so titled"};
}

check login_check(const json& doc) {
    const std::string state = text_of(doc, "login_state");
    if (state == "ready") return {true, "logged in", "the client is logged in"};
    if (state == "locked")
        return {false, "logged in", "the client shows its PIN lock: every request ends in KAKAO_LOCKED "
                                    "until it is unlocked"};
    if (state == "unknown")
        return {false, "logged in", "both the online and the lock view are visible: chatdraft cannot "
                                    "tell the state"};
    return {false, "logged in", "neither the online nor the lock view is visible: the client is not "
                                "logged in"};
}

check rooms_check(const json& doc) {
    size_t with_box = 0;
    std::string without;
    size_t without_count = 0;
    for (const json& room : array_of(doc, "rooms")) {
        const bool answered = integer_of(room, "input_length") >= 0;
        if (number_of(room, "input_hwnd") && answered) {
            ++with_box;
            continue;
        }
        ++without_count;
        without += std::string(without.empty() ? "" : "; ") + quoted(text_of(room, "title")) +
                   (number_of(room, "input_hwnd")
                        ? std::string(" (its input box did not answer)")
                        : " (children: " + class_list(array_of(room, "child_classes")) + ")");
    }
    const std::string counted = std::to_string(with_box) + " with an input box chatdraft reads and writes";
    if (!without_count) return {true, "open rooms", counted};
    return {false, "open rooms", counted + ", " + std::to_string(without_count) +
                                     " without one it recognises or that answers, never written into: " + without};
}

check by_name_check(const json& doc) {
    const view_state list = view(doc, "chat_list_view");
    const view_state box = view(doc, "search_box");
    const view_state results = view(doc, "search_result_list");
    if (!list.found || !box.found)
        return {false, "rooms opened by name",
                std::string(list.found ? "no search box" : "no chat list view") +
                    ": a room that is not open cannot be opened by its name"};
    std::string detail = box.visible ? "search box found"
                                     : "search box found, hidden (chatdraft shows it without "
                                       "activating anything)";
    if (!results.found)
        return {false, "rooms opened by name",
                detail + "; no search result list: only the first result of a search can be opened"};
    return {true, "rooms opened by name",
            detail + "; search result list found" +
                (results.visible ? "" : " (hidden until a search shows results)")};
}

check by_tab_check(const json& doc) {
    const view_state tabs = view(doc, "tab_strip");
    const view_state rooms = view(doc, "room_list");
    if (tabs.found && rooms.found) return {true, "rooms opened by tab", "tab strip and room list found"};
    return {false, "rooms opened by tab",
            std::string(!tabs.found ? "no tab strip" : "no room list") +
                ": a room that is not open cannot be opened through a tab (-t)"};
}

bool all_ok(const std::vector<check>& checks) {
    for (const check& c : checks)
        if (!c.ok) return false;
    return true;
}

// The tree goes to FILE whole or not at all, through a file of our own made
// beside it: mkstemp neither follows a link planted there nor reuses a file,
// and its mode 0600 keeps the rooms' names to the caller.
bool write_file(const std::string& path, const std::string& bytes, std::string* error) {
    std::string temp = path + ".XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0) {
        *error = "cannot write '" + path + "': " + strerror(errno);
        return false;
    }
    FILE* out = fdopen(fd, "wb");
    const bool written = out && fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size() &&
                         fflush(out) == 0 && fsync(fd) == 0;
    const int saved = errno;
    const bool closed = out ? fclose(out) == 0 : close(fd) == 0;
    if (written && closed && rename(temp.c_str(), path.c_str()) == 0) return true;
    *error = "cannot write '" + path + "': " + strerror(written ? errno : saved);
    unlink(temp.c_str());
    return false;
}

// The inspector's document for `args`, and the prefix it looked at.
int run_inspector(const command_line& cmd, std::vector<std::string> args, launch_result* run,
                  json* document, std::string* where) {
    launch_plan plan;
    plan.args = std::move(args);
    return run_once(cmd, windows_program::inspector, plan, run, document, where);
}

int run_dump(const command_line& cmd) {
    std::vector<std::string> args = {"--dump", kResultName};
    if (cmd.redact) args.push_back("--redact");
    launch_result run;
    json tree;
    std::string where, error;
    if (const int code = run_inspector(cmd, args, &run, &tree, &where); code != kExitDone) return code;
    if (!write_file(*cmd.dump, run.document, &error)) return fail(kExitMisuse, error);
    printf("wrote %s: the client's window tree, %zu windows\n", cmd.dump->c_str(),
           array_of(tree, "windows").size());
    if (!cmd.redact)
        printf("it holds the rooms' names and the lengths of their drafts; --redact leaves them out\n");
    return kExitDone;
}

// Whether the focus guard can keep a room the client opens from taking the
// person's focus: asked of the X server, once the client was found.
std::vector<check> checklist_with_guard(const json& doc, const std::string& where) {
    std::vector<check> checks = checklist(doc, where);
    if (!checks.front().ok) return checks;
    const guard_outlook outlook = focus_guard_outlook(where);
    checks.push_back({outlook.ok, "focus guard", outlook.detail});
    return checks;
}

}  // namespace

// What the main window's views decide is not checked without it: its line
// says what that costs.
std::vector<check> checklist(const json& doc, const std::string& where) {
    std::vector<check> checks = {client_check(doc, where)};
    if (!checks.back().ok) return checks;
    checks.push_back(main_window_check(doc));
    const bool has_main = checks.back().ok;
    if (has_main) {
        checks.push_back(one_main_window_check(doc));
        checks.push_back(login_check(doc));
    }
    checks.push_back(rooms_check(doc));
    if (has_main) {
        checks.push_back(by_name_check(doc));
        checks.push_back(by_tab_check(doc));
    }
    return checks;
}

bool print_checklist(FILE* out, const std::vector<check>& checks) {
    for (const check& c : checks)
        fprintf(out, "%-8s %s: %s\n", c.ok ? "ok" : "missing", c.item.c_str(),
                terminal_line(c.detail).c_str());
    return all_ok(checks);
}

int doctor_checklist(const command_line& cmd, json* items) {
    launch_result run;
    json diagnosis;
    std::string where;
    if (const int code = run_inspector(cmd, {kResultName}, &run, &diagnosis, &where); code != kExitDone)
        return code;
    *items = json::array();
    for (const check& c : checklist(diagnosis, where))
        items->push_back({{"item", c.item}, {"ok", c.ok}, {"detail", c.detail}});
    return kExitDone;
}

int run_doctor(const command_line& cmd) {
    if (cmd.redact && !cmd.dump) return fail(kExitMisuse, "--redact goes with --dump");
    if (cmd.dump && cmd.json) return fail(kExitMisuse, "--dump and --json exclude each other");
    if (cmd.dump) return run_dump(cmd);
    launch_result run;
    json diagnosis;
    std::string where;
    if (const int code = run_inspector(cmd, {kResultName}, &run, &diagnosis, &where); code != kExitDone)
        return code;
    const std::vector<check> checks = checklist_with_guard(diagnosis, where);
    if (!cmd.json) return print_checklist(stdout, checks) ? kExitDone : kExitRefused;
    fwrite(run.document.data(), 1, run.document.size(), stdout);
    return all_ok(checks) ? kExitDone : kExitRefused;
}
