#include "focus_guard_x11.h"

#include <dlfcn.h>
#include <poll.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace {

// libxcb is loaded only when a guard runs: the command works on a machine
// without X, and a run that needs no guard pays nothing for it.
#define XCB_FUNCTIONS(X)                                                                        \
    X(connect) X(connection_has_error) X(disconnect) X(get_setup) X(setup_roots_iterator)      \
    X(intern_atom) X(intern_atom_reply) X(get_property) X(get_property_reply)                   \
    X(get_property_value) X(get_property_value_length) X(change_property) X(delete_property)    \
    X(change_window_attributes) X(query_tree) X(query_tree_reply) X(query_tree_children)        \
    X(query_tree_children_length) X(get_input_focus) X(get_input_focus_reply)                   \
    X(set_input_focus) X(send_event) X(poll_for_event) X(get_file_descriptor) X(flush)

struct xcb_api {
#define XCB_SLOT(name) decltype(&xcb_##name) name = nullptr;
    XCB_FUNCTIONS(XCB_SLOT)
#undef XCB_SLOT
};

enum atom_id { pid_atom, user_time_atom, user_time_window_atom, active_window_atom, client_list_atom,
               atom_count };
const char* const kAtomNames[atom_count] = {"_NET_WM_PID", "_NET_WM_USER_TIME",
                                            "_NET_WM_USER_TIME_WINDOW", "_NET_ACTIVE_WINDOW",
                                            "_NET_CLIENT_LIST"};

// _NET_ACTIVE_WINDOW's source indication of a pager: a request on the
// person's behalf, which window managers grant without focus-stealing checks.
constexpr uint32_t kSourcePager = 2;
constexpr uint32_t kMaxClientList = 4096;
constexpr int kMaxAncestors = 16;
// A new window keeps its 0 this long after it is mapped: the window manager
// has long decided about its focus by then.
constexpr double kKeepAfterMap = 0.5;
// After the exe ended, when the client showed a window during the run: a room
// closed late, or a window shown late, is still guarded.
constexpr double kTail = 1.0;
// The guard's life after the exe ended, whatever the X server does.
constexpr unsigned kEndAlarmSeconds = 4;
// A window manager that keeps giving the focus back to the client is not fought for ever.
constexpr int kMaxHandbacks = 10;

struct x_session {
    xcb_api x;
    void* lib = nullptr;
    xcb_connection_t* c = nullptr;
    xcb_window_t root = 0;
    xcb_atom_t atoms[atom_count] = {};
};

double now_seconds() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

bool load_xcb(x_session* s, std::string* error) {
    s->lib = dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!s->lib) {
        *error = "cannot load libxcb.so.1 (package libxcb1)";
        return false;
    }
#define XCB_LOAD(name)                                                                   \
    s->x.name = reinterpret_cast<decltype(s->x.name)>(dlsym(s->lib, "xcb_" #name));      \
    if (!s->x.name) {                                                                    \
        *error = "libxcb.so.1 has no xcb_" #name;                                        \
        return false;                                                                    \
    }
    XCB_FUNCTIONS(XCB_LOAD)
#undef XCB_LOAD
    return true;
}

bool intern_atoms(x_session* s) {
    xcb_intern_atom_cookie_t cookies[atom_count];
    for (int i = 0; i < atom_count; ++i)
        cookies[i] = s->x.intern_atom(s->c, 0, static_cast<uint16_t>(strlen(kAtomNames[i])), kAtomNames[i]);
    bool ok = true;
    for (int i = 0; i < atom_count; ++i) {
        xcb_intern_atom_reply_t* reply = s->x.intern_atom_reply(s->c, cookies[i], nullptr);
        ok = ok && reply;
        if (reply) s->atoms[i] = reply->atom;
        free(reply);
    }
    return ok;
}

bool open_session(x_session* s, const char* display, std::string* error) {
    if (!load_xcb(s, error)) return false;
    int screen = 0;
    s->c = s->x.connect(display, &screen);
    if (s->x.connection_has_error(s->c)) {
        *error = std::string("cannot reach the X server ") + display;
        return false;
    }
    xcb_screen_iterator_t it = s->x.setup_roots_iterator(s->x.get_setup(s->c));
    for (int i = 0; i < screen && it.rem; ++i) ++it.data, --it.rem;
    if (!it.rem || !intern_atoms(s)) {
        *error = std::string("the X server ") + display + " answered no screen or atoms";
        return false;
    }
    s->root = it.data->root;
    return true;
}

// Waits until the server has carried out every request sent: closing a
// connection with events unread makes the server drop requests it has not
// read yet, the restoring ones among them.
void sync_session(x_session* s) {
    free(s->x.get_input_focus_reply(s->c, s->x.get_input_focus(s->c), nullptr));
}

void close_session(x_session* s) {
    if (s->c && !s->x.connection_has_error(s->c)) sync_session(s);
    if (s->c) s->x.disconnect(s->c);
    // libxcb stays loaded: the process ends soon, and its atexit state may refer to it.
}

// ---- properties

xcb_get_property_cookie_t ask_card(x_session& s, xcb_window_t w, atom_id atom) {
    return s.x.get_property(s.c, 0, w, s.atoms[atom], XCB_GET_PROPERTY_TYPE_ANY, 0, 1);
}

card_property take_card(x_session& s, xcb_get_property_cookie_t cookie) {
    xcb_get_property_reply_t* reply = s.x.get_property_reply(s.c, cookie, nullptr);
    uint32_t first = 0;
    const uint32_t items = reply ? reply->value_len : 0;
    if (reply && reply->format == 32 && items) first = *static_cast<uint32_t*>(s.x.get_property_value(reply));
    const card_property card = card_from_reply(reply && reply->type != XCB_NONE, reply ? reply->format : 0,
                                               items, first);
    free(reply);
    return card;
}

card_property read_card(x_session& s, xcb_window_t w, atom_id atom) { return take_card(s, ask_card(s, w, atom)); }

// The same property of many windows, in one round trip.
std::vector<card_property> read_cards(x_session& s, const std::vector<xcb_window_t>& windows, atom_id atom) {
    std::vector<xcb_get_property_cookie_t> cookies;
    for (xcb_window_t w : windows) cookies.push_back(ask_card(s, w, atom));
    std::vector<card_property> cards;
    for (const auto& cookie : cookies) cards.push_back(take_card(s, cookie));
    return cards;
}

void write_card(x_session& s, xcb_window_t w, atom_id atom, uint32_t value) {
    s.x.change_property(s.c, XCB_PROP_MODE_REPLACE, w, s.atoms[atom], XCB_ATOM_CARDINAL, 32, 1, &value);
}

void select_events(x_session& s, xcb_window_t w, uint32_t mask) {
    s.x.change_window_attributes(s.c, w, XCB_CW_EVENT_MASK, &mask);
}

// ---- the client's windows

// Top-level windows: the root's children (unmapped ones and those of a
// window manager that does not reparent) and the managed ones it lists.
std::vector<xcb_window_t> top_level_windows(x_session& s) {
    std::vector<xcb_window_t> windows;
    const auto tree_cookie = s.x.query_tree(s.c, s.root);
    const auto list_cookie = s.x.get_property(s.c, 0, s.root, s.atoms[client_list_atom], XCB_ATOM_WINDOW,
                                              0, kMaxClientList);
    if (xcb_query_tree_reply_t* tree = s.x.query_tree_reply(s.c, tree_cookie, nullptr)) {
        const xcb_window_t* children = s.x.query_tree_children(tree);
        windows.assign(children, children + s.x.query_tree_children_length(tree));
        free(tree);
    }
    if (xcb_get_property_reply_t* list = s.x.get_property_reply(s.c, list_cookie, nullptr)) {
        if (list->format == 32) {
            const auto* managed = static_cast<const xcb_window_t*>(s.x.get_property_value(list));
            windows.insert(windows.end(), managed, managed + list->value_len);
        }
        free(list);
    }
    std::sort(windows.begin(), windows.end());
    windows.erase(std::unique(windows.begin(), windows.end()), windows.end());
    return windows;
}

struct client_scan {
    std::vector<xcb_window_t> windows;       // the client's top-level windows
    std::vector<xcb_window_t> time_windows;  // their _NET_WM_USER_TIME_WINDOWs
};

client_scan scan_client(x_session& s, const std::vector<long>& pids) {
    client_scan scan;
    const std::vector<xcb_window_t> all = top_level_windows(s);
    const std::vector<card_property> owners = read_cards(s, all, pid_atom);
    for (size_t i = 0; i < all.size(); ++i)
        if (is_client_pid(owners[i], pids)) scan.windows.push_back(all[i]);
    for (const card_property& t : read_cards(s, scan.windows, user_time_window_atom))
        if (t.present && t.value &&
            std::find(scan.time_windows.begin(), scan.time_windows.end(), t.value) == scan.time_windows.end())
            scan.time_windows.push_back(t.value);
    return scan;
}

// ---- the guard's state

// A window whose _NET_WM_USER_TIME the guard set to 0.
struct zeroed_window {
    xcb_window_t window;
    card_property before;  // what it was; a new window had none
    bool is_new;           // created during the run: restored once mapped a while
    double mapped_at;      // 0 until mapped
};

struct guard_state {
    x_session* s;
    std::vector<long> pids;
    std::vector<xcb_window_t> clients;  // windows known to be the client's
    std::vector<xcb_window_t> waiting;  // new top-level windows not yet telling their process
    std::vector<zeroed_window> zeroed;
    focus_holders before;
    bool handback_armed = false;
    int handbacks = 0;
    bool client_showed_window = false;
    xcb_timestamp_t last_time = XCB_CURRENT_TIME;
};

template <typename T>
bool contains(const std::vector<T>& items, const T& item) {
    return std::find(items.begin(), items.end(), item) != items.end();
}

// A window is the client's when it or one of its ancestors carries a client pid.
bool owned_by_client(guard_state& g, xcb_window_t w) {
    x_session& s = *g.s;
    for (int depth = 0; w && w != s.root && depth < kMaxAncestors; ++depth) {
        if (contains(g.clients, w)) return true;
        const auto tree_cookie = s.x.query_tree(s.c, w);
        if (is_client_pid(read_card(s, w, pid_atom), g.pids)) {
            g.clients.push_back(w);
            free(s.x.query_tree_reply(s.c, tree_cookie, nullptr));
            return true;
        }
        xcb_query_tree_reply_t* tree = s.x.query_tree_reply(s.c, tree_cookie, nullptr);
        w = tree ? tree->parent : 0;
        free(tree);
    }
    return false;
}

focus_holders read_holders(guard_state& g) {
    x_session& s = *g.s;
    const auto focus_cookie = s.x.get_input_focus(s.c);
    focus_holders h;
    h.active = read_card(s, s.root, active_window_atom).value;
    if (xcb_get_input_focus_reply_t* reply = s.x.get_input_focus_reply(s.c, focus_cookie, nullptr)) {
        h.focus = reply->focus == XCB_INPUT_FOCUS_POINTER_ROOT ? 0 : reply->focus;
        free(reply);
    }
    h.active_is_client = owned_by_client(g, h.active);
    h.focus_is_client = owned_by_client(g, h.focus);
    return h;
}

void zero_window(guard_state& g, xcb_window_t w, card_property before, bool is_new) {
    write_card(*g.s, w, user_time_atom, 0);
    g.zeroed.push_back({w, before, is_new, 0});
}

void restore_window(guard_state& g, const zeroed_window& z) {
    x_session& s = *g.s;
    switch (restore_for(z.before, read_card(s, z.window, user_time_atom))) {
    case restore_action::leave: break;
    case restore_action::put_back: write_card(s, z.window, user_time_atom, z.before.value); break;
    case restore_action::remove: s.x.delete_property(s.c, z.window, s.atoms[user_time_atom]); break;
    }
}

// ---- arming

void arm(guard_state& g) {
    x_session& s = *g.s;
    select_events(s, s.root, XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE);
    const client_scan scan = scan_client(s, g.pids);
    g.clients = scan.windows;
    const std::vector<card_property> times = read_cards(s, scan.time_windows, user_time_atom);
    for (size_t i = 0; i < scan.time_windows.size(); ++i) {
        select_events(s, scan.time_windows[i], XCB_EVENT_MASK_PROPERTY_CHANGE);
        zero_window(g, scan.time_windows[i], times[i], false);
    }
    g.before = read_holders(g);
    g.handback_armed = (g.before.active || g.before.focus) && !g.before.active_is_client &&
                       !g.before.focus_is_client;
    if (g.handback_armed && g.before.focus) select_events(s, g.before.focus, XCB_EVENT_MASK_FOCUS_CHANGE);
    s.x.flush(s.c);
}

// ---- events

void hand_back(guard_state& g) {
    if (!g.handback_armed) return;
    x_session& s = *g.s;
    const focus_holders now = read_holders(g);
    const handback back = handback_for(g.before, now);
    if (back.active) {
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = g.before.active;
        event.type = s.atoms[active_window_atom];
        event.data.data32[0] = kSourcePager;
        event.data.data32[1] = g.last_time;
        event.data.data32[2] = now.active;
        s.x.send_event(s.c, 0, s.root,
                       XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                       reinterpret_cast<const char*>(&event));
    }
    if (back.focus) s.x.set_input_focus(s.c, XCB_INPUT_FOCUS_PARENT, g.before.focus, XCB_CURRENT_TIME);
    if (back.any() && ++g.handbacks >= kMaxHandbacks) g.handback_armed = false;
}

// A new top-level window: its process decides, now or once Wine sets _NET_WM_PID.
void judge_new_window(guard_state& g, xcb_window_t w) {
    const card_property pid = read_card(*g.s, w, pid_atom);
    g.waiting.erase(std::remove(g.waiting.begin(), g.waiting.end(), w), g.waiting.end());
    if (is_client_pid(pid, g.pids)) {
        zero_window(g, w, {}, true);
        g.clients.push_back(w);
        g.client_showed_window = true;
    } else if (!pid.present) {
        g.waiting.push_back(w);
    } else {
        select_events(*g.s, w, 0);
    }
}

void on_created(guard_state& g, const xcb_create_notify_event_t& e) {
    if (e.parent != g.s->root || e.override_redirect) return;
    select_events(*g.s, e.window, XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY);
    judge_new_window(g, e.window);
}

void on_property(guard_state& g, const xcb_property_notify_event_t& e) {
    const xcb_atom_t* atoms = g.s->atoms;
    g.last_time = e.time;
    if (e.window == g.s->root && e.atom == atoms[active_window_atom]) {
        hand_back(g);
    } else if (e.atom == atoms[pid_atom] && contains(g.waiting, e.window)) {
        judge_new_window(g, e.window);
    } else if (e.atom == atoms[user_time_atom] && e.state == XCB_PROPERTY_NEW_VALUE) {
        // A real time on the client's time window: the person used the client,
        // so where the focus goes is theirs to say.
        for (const zeroed_window& z : g.zeroed)
            if (z.window == e.window && !z.is_new && read_card(*g.s, e.window, user_time_atom).value)
                g.handback_armed = false;
    }
}

void on_mapped(guard_state& g, xcb_window_t w) {
    for (zeroed_window& z : g.zeroed)
        if (z.window == w && z.is_new && !z.mapped_at) z.mapped_at = now_seconds();
    if (contains(g.clients, w)) g.client_showed_window = true;
}

void on_destroyed(guard_state& g, xcb_window_t w) {
    g.waiting.erase(std::remove(g.waiting.begin(), g.waiting.end(), w), g.waiting.end());
    g.zeroed.erase(std::remove_if(g.zeroed.begin(), g.zeroed.end(),
                                  [w](const zeroed_window& z) { return z.window == w; }),
                   g.zeroed.end());
}

void handle_event(guard_state& g, const xcb_generic_event_t* e) {
    switch (e->response_type & ~0x80) {
    case XCB_CREATE_NOTIFY: on_created(g, *reinterpret_cast<const xcb_create_notify_event_t*>(e)); break;
    case XCB_PROPERTY_NOTIFY: on_property(g, *reinterpret_cast<const xcb_property_notify_event_t*>(e)); break;
    case XCB_MAP_NOTIFY: on_mapped(g, reinterpret_cast<const xcb_map_notify_event_t*>(e)->window); break;
    case XCB_FOCUS_OUT: hand_back(g); break;
    case XCB_DESTROY_NOTIFY:
        on_destroyed(g, reinterpret_cast<const xcb_destroy_notify_event_t*>(e)->window);
        break;
    default: break;  // errors of windows that went away, and events of no concern
    }
}

// ---- the loop

// New windows mapped long enough get their property back; the others wait.
void restore_due(guard_state& g, double now, bool all) {
    auto due = [&](const zeroed_window& z) {
        return all || (z.is_new && z.mapped_at && now - z.mapped_at >= kKeepAfterMap);
    };
    for (const zeroed_window& z : g.zeroed)
        if (due(z)) restore_window(g, z);
    g.zeroed.erase(std::remove_if(g.zeroed.begin(), g.zeroed.end(), due), g.zeroed.end());
}

// When the guard may end, once the exe ended at `ended`.
double end_time(const guard_state& g, double ended) {
    double end = ended + (g.client_showed_window ? kTail : 0);
    for (const zeroed_window& z : g.zeroed)
        if (z.is_new && z.mapped_at) end = std::max(end, z.mapped_at + kKeepAfterMap);
    return end;
}

// False when the X connection broke.
bool drain_events(guard_state& g) {
    x_session& s = *g.s;
    while (xcb_generic_event_t* e = s.x.poll_for_event(s.c)) {
        handle_event(g, e);
        free(e);
    }
    s.x.flush(s.c);
    return !s.x.connection_has_error(s.c);
}

// Watches until the exe ended (`from_parent` at its end) and the tail is over.
bool guard_run(guard_state& g, int from_parent) {
    x_session& s = *g.s;
    double ended = 0;
    for (;;) {
        if (!drain_events(g)) return false;
        const double now = now_seconds();
        restore_due(g, now, false);
        if (ended && now >= end_time(g, ended)) return true;
        const double wake = ended ? end_time(g, ended) : now + 3600;
        int ms = static_cast<int>((wake - now) * 1000) + 1;
        for (const zeroed_window& z : g.zeroed)
            if (z.is_new && z.mapped_at)
                ms = std::min(ms, static_cast<int>((z.mapped_at + kKeepAfterMap - now) * 1000) + 1);
        pollfd fds[2] = {{s.x.get_file_descriptor(s.c), POLLIN, 0}, {from_parent, POLLIN, 0}};
        if (poll(fds, ended ? 1 : 2, std::max(ms, 0)) < 0 && errno != EINTR) return false;
        char byte;
        if (!ended && fds[1].revents && read(from_parent, &byte, 1) <= 0) {
            ended = now_seconds();
            alarm(kEndAlarmSeconds);
        }
    }
}

}  // namespace

int run_guard(const std::vector<long>& client_pids, int from_parent, int to_parent) {
    x_session s;
    std::string error;
    const char* display = getenv("DISPLAY");
    if (!open_session(&s, display, &error)) {
        fprintf(stderr, "chatdraft: focus guard off: %s; a room the client opens may take the focus\n",
                error.c_str());
        return 1;
    }
    guard_state g;
    g.s = &s;
    g.pids = client_pids;
    arm(g);
    const char armed = 1;
    (void)!write(to_parent, &armed, 1);
    const bool ok = guard_run(g, from_parent);
    if (ok) {
        restore_due(g, now_seconds(), true);
    } else {
        fprintf(stderr, "chatdraft: focus guard: the X connection broke; _NET_WM_USER_TIME of the "
                        "client's windows may stay 0 until it is next used\n");
    }
    close_session(&s);
    return ok ? 0 : 1;
}

guard_outlook x_outlook(const std::vector<long>& client_pids, const char* display) {
    x_session s;
    std::string error;
    guard_outlook outlook;
    if (!open_session(&s, display, &error)) {
        outlook.detail = error + ": a room the client opens may take the person's focus";
    } else {
        const client_scan scan = scan_client(s, client_pids);
        outlook.ok = !scan.windows.empty();
        outlook.detail = outlook.ok ? "the X server " + std::string(display) + " shows " +
                                          std::to_string(scan.windows.size()) +
                                          " windows of the client's process: a room it opens "
                                          "leaves the person's focus alone"
                                    : "the X server " + std::string(display) +
                                          " shows no window of the client's process: it draws "
                                          "elsewhere, and a room it opens may take the focus there";
    }
    close_session(&s);
    return outlook;
}
