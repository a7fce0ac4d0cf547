// The mcp verb's session: a reader thread answers the protocol at once
// (initialize, ping, tools/list, cancellations, the person's answers) while
// this thread runs the tool calls one at a time, in the order they came.
// The exe runs on this thread, so that launch_exe's signal handling holds:
// the reader blocks the run's signals, and an idle server ends by them.
#include "mcp.h"

#include <pthread.h>

#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <deque>
#include <mutex>
#include <set>
#include <thread>

#include "command.h"
#include "mcp_tools.h"
#include "mcp_wire.h"
#include "version.h"

using nlohmann::json;

namespace {

const char* const kVersions[] = {"2025-06-18", "2025-03-26", "2024-11-05"};  // newest first
const char* const kLogLevels[] = {"debug", "info", "notice", "warning", "error", "critical", "alert",
                                  "emergency"};

struct pending_call {
    json id;
    json params;
};

// What the two threads share; `mutex` guards all of it.
struct session {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<pending_call> calls;      // tools/call requests not yet run
    std::set<std::string> cancelled;     // ids (as JSON text) the client cancelled
    std::string asking;                  // the id (as JSON text) of the question out now
    json answer;                         // the client's answer to it, null until it comes
    std::string running;                 // the id (as JSON text) of the call running now
    bool input_ended = false;
    bool client_elicits = false;
    int log_level = 1;                   // index in kLogLevels
    int next_request = 0;
};

std::string key_of(const json& id) { return id.dump(); }

// ---- the reader thread ---------------------------------------------------------

json initialize_result(session* s, const json& params) {
    std::string version = kVersions[0];
    const auto asked = params.find("protocolVersion");
    for (const char* known : kVersions)
        if (asked != params.end() && *asked == known) version = known;
    const auto caps = params.find("capabilities");
    {
        const std::lock_guard<std::mutex> hold(s->mutex);
        s->client_elicits = caps != params.end() && caps->is_object() && caps->contains("elicitation");
    }
    return {{"protocolVersion", version},
            {"capabilities", {{"tools", {{"listChanged", false}}}, {"logging", json::object()}}},
            {"serverInfo", {{"name", "chatdraft"}, {"title", "chatdraft"}, {"version", CHATDRAFT_VERSION}}},
            {"instructions",
             "Writes drafts into the person's KakaoTalk chat rooms and sends messages only with the "
             "person's yes. Use list_rooms for the rooms' exact titles. After an unknown outcome, look "
             "with list_rooms before trying again."}};
}

// A level name as an index in kLogLevels, or -1.
int level_index(const json& level) {
    for (int i = 0; i < static_cast<int>(std::size(kLogLevels)); ++i)
        if (level == kLogLevels[i]) return i;
    return -1;
}

void answer_request(session* s, const json& id, const std::string& method, const json& params) {
    if (method == "initialize") {
        send_message(result_message(id, initialize_result(s, params)));
    } else if (method == "ping") {
        send_message(result_message(id, json::object()));
    } else if (method == "tools/list") {
        send_message(result_message(id, tool_list()));
    } else if (method == "logging/setLevel") {
        const int level = level_index(params.value("level", json()));
        if (level < 0) {
            send_message(error_message(id, kInvalidParams, "params.level must be a syslog level name"));
            return;
        }
        const std::lock_guard<std::mutex> hold(s->mutex);
        s->log_level = level;
        send_message(result_message(id, json::object()));
    } else if (method == "tools/call") {
        if (const std::string why = check_tool_call(params); !why.empty()) {
            send_message(error_message(id, kInvalidParams, why));
            return;
        }
        const std::lock_guard<std::mutex> hold(s->mutex);
        s->calls.push_back({id, params});
        s->changed.notify_all();
    } else {
        send_message(error_message(id, kMethodNotFound, "no method '" + method + "'"));
    }
}

void take_notification(session* s, const std::string& method, const json& params) {
    if (method != "notifications/cancelled") return;
    const auto id = params.find("requestId");
    if (id == params.end()) return;
    const std::string key = key_of(*id);
    const std::lock_guard<std::mutex> hold(s->mutex);
    // Only a call still to answer: an id the client uses again later must not
    // find an old cancellation.
    bool known = key == s->running;
    for (const pending_call& call : s->calls) known = known || key_of(call.id) == key;
    if (!known) return;
    s->cancelled.insert(key);
    s->changed.notify_all();
}

// Only the answer to the question out now is kept: others come too late,
// or were never asked for.
void take_answer(session* s, const json& message) {
    const std::lock_guard<std::mutex> hold(s->mutex);
    if (s->asking.empty() || key_of(message["id"]) != s->asking) return;
    s->answer = message;
    s->changed.notify_all();
}

bool valid_id(const json& id) { return id.is_string() || id.is_number_integer(); }

// One line of input: a request, a notification or an answer to this server.
void take_line(session* s, const std::string& line) {
    if (line.find_first_not_of(" \t\r") == std::string::npos) return;
    const json message = json::parse(line, nullptr, false);
    if (message.is_discarded()) {
        send_message(error_message(nullptr, kParseError, "parse error: the line is not JSON"));
        return;
    }
    if (message.is_array()) {
        send_message(error_message(nullptr, kInvalidRequest, "batches are not served: one message a line"));
        return;
    }
    const auto id = message.is_object() ? message.find("id") : message.end();
    const bool has_id = message.is_object() && id != message.end();
    const json reply_id = has_id && valid_id(*id) ? *id : json(nullptr);
    const auto method = message.is_object() ? message.find("method") : message.end();
    if (!message.is_object() || message.value("jsonrpc", json()) != "2.0" || (has_id && !valid_id(*id))) {
        send_message(error_message(reply_id, kInvalidRequest, "not a JSON-RPC 2.0 message"));
        return;
    }
    if (method == message.end()) {
        if (has_id && (message.contains("result") || message.contains("error"))) take_answer(s, message);
        else send_message(error_message(reply_id, kInvalidRequest, "no method"));
        return;
    }
    const json params = message.value("params", json::object());
    if (!method->is_string() || !params.is_object()) {
        if (has_id) send_message(error_message(reply_id, method->is_string() ? kInvalidParams : kInvalidRequest,
                                               method->is_string() ? "params must be an object"
                                                                   : "method must be a string"));
        return;
    }
    if (has_id) answer_request(s, *id, method->get<std::string>(), params);
    else take_notification(s, method->get<std::string>(), params);
}

void read_input(session* s) {
    line_reader reader;
    std::string line;
    for (line_read got; (got = read_line(&reader, &line)) != line_read::end;) {
        if (got == line_read::too_long)
            send_message(error_message(nullptr, kInvalidRequest, "a message over 4 MiB is refused"));
        else
            take_line(s, line);
    }
    const std::lock_guard<std::mutex> hold(s->mutex);
    s->input_ended = true;
    s->changed.notify_all();
}

// ---- this thread: the tool calls ----------------------------------------------

bool is_cancelled(session* s, const json& id) {
    const std::lock_guard<std::mutex> hold(s->mutex);
    return s->cancelled.count(key_of(id)) != 0;
}

void log_line(session* s, const char* level, const std::string& text) {
    fprintf(stderr, "chatdraft: %s: %s\n", level, text.c_str());
    int wanted;
    {
        const std::lock_guard<std::mutex> hold(s->mutex);
        wanted = s->log_level;
    }
    if (level_index(level) >= wanted)
        send_message(notification("notifications/message",
                                  {{"level", level}, {"logger", "chatdraft"}, {"data", text}}));
}

// How the person answered, from the client's response.
elicit_end answer_of(const json& answer, json* content) {
    const json result = answer.value("result", json::object());
    const json action = result.is_object() ? result.value("action", json()) : json();
    if (action == "accept") *content = result.value("content", json::object());
    return action == "accept"    ? elicit_end::accepted
           : action == "decline" ? elicit_end::declined
           : action == "cancel"  ? elicit_end::cancelled
                                 : elicit_end::no_answer;
}

// Asks the person through the client and waits, with no time limit of its
// own: the answer, the end of input, or the call's cancellation ends it.
elicit_end ask_person(session* s, const json& call_id, const std::string& message, const json& schema,
                      json* content) {
    std::unique_lock<std::mutex> hold(s->mutex);
    if (s->input_ended) return elicit_end::no_answer;
    const std::string id = "chatdraft-" + std::to_string(++s->next_request);
    s->asking = key_of(id);
    s->answer = nullptr;
    hold.unlock();
    send_message(request_message(id, "elicitation/create", {{"message", message}, {"requestedSchema", schema}}));
    hold.lock();
    const auto cancelled = [&] { return s->cancelled.count(key_of(call_id)) != 0; };
    s->changed.wait(hold, [&] { return !s->answer.is_null() || s->input_ended || cancelled(); });
    s->asking.clear();
    const json answer = std::move(s->answer);
    s->answer = nullptr;
    const bool call_cancelled = answer.is_null() && cancelled();
    hold.unlock();
    if (call_cancelled)
        send_message(notification("notifications/cancelled",
                                  {{"requestId", id}, {"reason", "the tool call was cancelled"}}));
    if (answer.is_null()) return call_cancelled ? elicit_end::call_cancelled : elicit_end::no_answer;
    return answer_of(answer, content);
}

json progress_token(const json& params) {
    const auto meta = params.find("_meta");
    if (meta == params.end() || !meta->is_object()) return nullptr;
    const auto token = meta->find("progressToken");
    if (token == meta->end() || !(token->is_string() || token->is_number_integer())) return nullptr;
    return *token;
}

tool_context context_for(session* s, const command_line& cmd, const pending_call& call, int* step) {
    tool_context ctx;
    ctx.cmd = &cmd;
    ctx.allow_send = cmd.allow_send;
    {
        const std::lock_guard<std::mutex> hold(s->mutex);
        ctx.client_elicits = s->client_elicits;
    }
    const json token = progress_token(call.params);
    ctx.progress = [token, step](const std::string& text) {
        if (!token.is_null())
            send_message(notification("notifications/progress",
                                      {{"progressToken", token}, {"progress", ++*step}, {"message", text}}));
    };
    ctx.log = [s](const char* level, const std::string& text) { log_line(s, level, text); };
    const json id = call.id;
    ctx.cancelled = [s, id] { return is_cancelled(s, id); };
    ctx.elicit = [s, id](const std::string& message, const json& schema, json* content) {
        return ask_person(s, id, message, schema, content);
    };
    return ctx;
}

// A cancelled call gets no answer: one whose exe never started, and one
// whose exe ran to its end (its outcome is then discarded).
void run_call(session* s, const command_line& cmd, const pending_call& call) {
    int step = 0;
    json result;
    if (!is_cancelled(s, call.id)) result = run_tool(call.params, context_for(s, cmd, call, &step));
    if (!result.is_null() && !is_cancelled(s, call.id)) send_message(result_message(call.id, result));
    const std::lock_guard<std::mutex> hold(s->mutex);
    s->cancelled.erase(key_of(call.id));
    s->running.clear();
}

// The next call, or false when input has ended and none is left.
bool next_call(session* s, pending_call* call) {
    std::unique_lock<std::mutex> hold(s->mutex);
    s->changed.wait(hold, [&] { return !s->calls.empty() || s->input_ended; });
    if (s->calls.empty()) return false;
    *call = std::move(s->calls.front());
    s->calls.pop_front();
    s->running = key_of(call->id);
    return true;
}

sigset_t reader_blocked_signals() {
    sigset_t set;
    sigemptyset(&set);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGCHLD, SIGPIPE}) sigaddset(&set, sig);
    return set;
}

}  // namespace

int run_mcp(const command_line& cmd) {
    // A host that has gone away makes writes fail with EPIPE instead of
    // killing the server in the middle of a run.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    // The reader never takes the run's signals: they stay for launch_exe on
    // this thread, or end an idle server by their default action.
    const sigset_t blocked = reader_blocked_signals();
    sigset_t before;
    pthread_sigmask(SIG_BLOCK, &blocked, &before);
    session s;
    std::thread reader(read_input, &s);
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    fprintf(stderr, "chatdraft: serving MCP on standard input and output\n");
    for (pending_call call; next_call(&s, &call);) run_call(&s, cmd, call);
    reader.join();
    return kExitDone;
}
