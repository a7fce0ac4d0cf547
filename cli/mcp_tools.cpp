#include "mcp_tools.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "../src/client_layout.h"
#include "command.h"
#include "doctor.h"
#include "json_fields.h"
#include "outcomes.h"
#include "request_writer.h"
#include "summary.h"
#include "verbs.h"

using nlohmann::json;

namespace {

// ---- schemas ------------------------------------------------------------------

json text_schema(const char* description) {
    return {{"type", "string"}, {"description", description}};
}

json flag_schema(const char* description) {
    return {{"type", "boolean"}, {"description", description}};
}

json room_schema() {
    json room = text_schema(
        "The chat room's title exactly as list_rooms shows it. A room whose title only "
        "begins with or contains this name is never used.");
    room["minLength"] = 1;
    return room;
}

json tab_schema() {
    json tab = text_schema(
        "If the room is not open: the chat-list tab to look in when the client's search "
        "box does not find it.");
    tab["enum"] = json::array();
    for (const client_tab& t : kClientTabs) tab["enum"].push_back(t.name);
    return tab;
}

json object_schema(json properties, json required) {
    return {{"type", "object"},
            {"properties", std::move(properties)},
            {"required", std::move(required)},
            {"additionalProperties", false}};
}

// Every result names its outcome; the other members are there when they apply.
json draft_output_schema() {
    return {{"type", "object"},
            {"properties",
             {{"outcome", {{"type", "string"},
                           {"enum", {"draft_written", "cleared", "sent", "error", "unknown", "not_run"}}}},
              {"sent", flag_schema("true only when the client confirmed the send")},
              {"room_title", text_schema("the room's title")},
              {"opened_room", flag_schema("the client opened the room for this call")},
              {"previous_draft", text_schema("what the input box held before")},
              {"draft", text_schema("what the input box holds now")},
              {"error_code", text_schema("DRAFT_EXISTS, AMBIGUOUS_ROOM, NEEDS_OPEN_ROOM, ...")},
              {"error", text_schema("chatdraft.exe's own text, in Korean")},
              {"explanation", text_schema("what happened, in English")},
              {"next_step", text_schema("what to do next")},
              {"existing_draft", text_schema("the draft that stands in the room")},
              {"candidates", {{"type", "array"}, {"items", {{"type", "string"}}}}}}},
            {"required", {"outcome"}}};
}

json annotations(const char* title, bool read_only, bool destructive, bool idempotent) {
    return {{"title", title}, {"readOnlyHint", read_only}, {"destructiveHint", destructive},
            {"idempotentHint", idempotent}, {"openWorldHint", !read_only}};
}

json list_rooms_tool() {
    return {{"name", "list_rooms"},
            {"title", "List KakaoTalk rooms"},
            {"description",
             "Shows whether the KakaoTalk client is ready, locked, logged out or not found, and "
             "the chat rooms open on the person's desktop with the draft each input box holds. "
             "Changes nothing. Use it to learn a room's exact title, and after an unknown outcome "
             "before trying again."},
            {"inputSchema", object_schema(json::object(), json::array())},
            {"outputSchema",
             {{"type", "object"},
              {"properties",
               {{"outcome", {{"type", "string"}, {"enum", {"listed", "not_run"}}}},
                {"client_state", {{"type", "string"},
                                  {"enum", {"ready", "locked", "logged_out", "unknown", "not_found"}}}},
                {"rooms", {{"type", "array"},
                           {"items", object_schema({{"title", text_schema("the room's title")},
                                                    {"draft", text_schema("its input box's text")}},
                                                   {"title", "draft"})}}},
                {"explanation", text_schema("why nothing was listed")}}},
              {"required", {"outcome"}}}},
            {"annotations", annotations("List KakaoTalk rooms", true, false, true)}};
}

json write_draft_tool() {
    return {{"name", "write_draft"},
            {"title", "Write a KakaoTalk draft"},
            {"description",
             "Writes a message into a chat room's input box as a draft, for the person to read "
             "and send. Never sends. When a different draft stands, if_draft_exists decides: "
             "stop (the default: nothing is written and the standing draft is shown), append "
             "(the message under it, on a new line) or replace. A room that is not open is "
             "opened through the client's search box unless open_if_closed is false; that takes "
             "seconds and may take the person's focus."},
            {"inputSchema",
             object_schema({{"room", room_schema()},
                            {"message", text_schema("the text to write; line breaks are kept")},
                            {"if_draft_exists", {{"type", "string"},
                                                 {"enum", {"stop", "append", "replace"}},
                                                 {"default", "stop"},
                                                 {"description", "what to do with a different draft that stands"}}},
                            {"tab", tab_schema()},
                            {"open_if_closed", flag_schema("open the room if it is not open (default true)")}},
                           {"room", "message"})},
            {"outputSchema", draft_output_schema()},
            {"annotations", annotations("Write a KakaoTalk draft", false, false, false)}};
}

json clear_draft_tool() {
    return {{"name", "clear_draft"},
            {"title", "Clear a KakaoTalk draft"},
            {"description",
             "Empties a chat room's input box. The text it held is in the result. Ask the person "
             "before clearing a draft they wrote themselves."},
            {"inputSchema", object_schema({{"room", room_schema()}}, {"room"})},
            {"outputSchema", draft_output_schema()},
            {"annotations", annotations("Clear a KakaoTalk draft", false, true, true)}};
}

json send_message_tool() {
    return {{"name", "send_message"},
            {"title", "Send a KakaoTalk message"},
            {"description",
             "Sends a message to a chat room, with the person's yes: the message is written into "
             "the room's input box first and the person is asked to confirm, with the room's "
             "title and the whole message. If they decline, or this host cannot ask them, the "
             "message stays as a draft and is not sent. A different draft standing in the room "
             "stops the call. The room's title must be exactly `room`."},
            {"inputSchema",
             object_schema({{"room", room_schema()},
                            {"message", text_schema("the text to send; line breaks are kept")},
                            {"tab", tab_schema()},
                            {"close_after", flag_schema("close the room window afterwards")}},
                           {"room", "message"})},
            {"outputSchema", draft_output_schema()},
            {"annotations", annotations("Send a KakaoTalk message", false, true, false)}};
}

json check_client_tool() {
    json item = object_schema({{"item", text_schema("what chatdraft needs")},
                               {"ok", flag_schema("found")},
                               {"detail", text_schema("what was found, or what its absence costs")}},
                              {"item", "ok", "detail"});
    return {{"name", "check_client"},
            {"title", "Check the KakaoTalk client"},
            {"description",
             "Checks what chatdraft finds of the KakaoTalk client: the client, its main window, "
             "the login, the open rooms, the search box and the chat-list tabs; each item ok or "
             "missing, with what a missing one costs. Changes nothing. Use it when a call fails "
             "with MAIN_WINDOW_NOT_FOUND or NEEDS_OPEN_ROOM."},
            {"inputSchema", object_schema(json::object(), json::array())},
            {"outputSchema",
             {{"type", "object"},
              {"properties", {{"outcome", {{"type", "string"}, {"enum", {"checked", "not_run"}}}},
                              {"all_ok", flag_schema("nothing is missing")},
                              {"checks", {{"type", "array"}, {"items", item}}},
                              {"explanation", text_schema("why nothing was checked")}}},
              {"required", {"outcome"}}}},
            {"annotations", annotations("Check the KakaoTalk client", true, false, true)}};
}

// ---- arguments ----------------------------------------------------------------

std::string check_value(const std::string& key, const json& schema, const json& value) {
    const std::string type = schema.value("type", "");
    if (type == "boolean") return value.is_boolean() ? "" : "'" + key + "' must be true or false";
    if (!value.is_string()) return "'" + key + "' must be a string";
    const std::string text = value.get<std::string>();
    if (const char* fault = text_fault(text)) return "'" + key + "' " + fault;
    if (schema.contains("minLength") && text.empty()) return "'" + key + "' must not be empty";
    if (schema.contains("enum") && std::find(schema["enum"].begin(), schema["enum"].end(), value) ==
                                       schema["enum"].end())
        return "'" + key + "' must be one of " + schema["enum"].dump();
    return "";
}

// The arguments against the tool's own inputSchema: one source for both.
std::string check_arguments(const json& schema, const json& args) {
    if (!args.is_object()) return "arguments must be an object";
    const json& properties = schema["properties"];
    for (const auto& item : args.items()) {
        const auto property = properties.find(item.key());
        if (property == properties.end()) return "unknown argument '" + item.key() + "'";
        if (std::string why = check_value(item.key(), *property, item.value()); !why.empty()) return why;
    }
    for (const json& name : schema["required"])
        if (!args.contains(name.get<std::string>())) return "'" + name.get<std::string>() + "' is missing";
    return "";
}

// ---- results --------------------------------------------------------------------

json tool_result(json structured, const std::string& text, bool is_error) {
    return {{"content", json::array({{{"type", "text"}, {"text", text}}})},
            {"structuredContent", std::move(structured)},
            {"isError", is_error}};
}

json error_result(const json& doc) {
    const std::string code = text_of(doc, "error_code");
    const outcome_entry& help = *outcome_of(doc);  // an error document always has one
    json s = {{"outcome", "error"}, {"sent", false}, {"error_code", code},
              {"error", text_of(doc, "error")}, {"explanation", help.what},
              {"next_step", help.next_step}};
    std::string text = "Nothing was sent. " + code + ": " + help.what + ".";
    if (doc.contains("room_title")) {
        s["room_title"] = text_of(doc, "room_title");
        text += " Room: " + quoted(s["room_title"]) + ".";
    }
    if (doc.contains("existing_draft")) {
        s["existing_draft"] = text_of(doc, "existing_draft");
        text += " The standing draft: " + quoted(s["existing_draft"]) + ".";
    }
    if (const auto it = doc.find("candidates"); it != doc.end() && it->is_array()) {
        s["candidates"] = json::array();
        for (const json& title : *it)
            if (title.is_string()) s["candidates"].push_back(title);
        text += " Candidates: " + s["candidates"].dump(-1, ' ', false, json::error_handler_t::replace) + ".";
    }
    return tool_result(s, text + " " + help.next_step, true);
}

json unknown_result(const std::string& why, bool sending) {
    const std::string what = sending ? "The message may have been sent" : "The draft may or may not have been written";
    const std::string text = what + " (" + why + "). Look with list_rooms before trying again; never " +
                             (sending ? "send it again" : "write it again") + " without looking.";
    return tool_result({{"outcome", "unknown"}, {"explanation", text},
                        {"next_step", "Call list_rooms and show the person what the room holds."}},
                       text, true);
}

json not_run_result(const std::string& why) {
    const std::string text = "Nothing was done: " + why;
    return tool_result({{"outcome", "not_run"}, {"sent", false}, {"explanation", text}}, text, true);
}

json success_result(const json& doc, const std::string& outcome_text) {
    const std::string status = text_of(doc, "status");
    json s = {{"outcome", status}, {"sent", status == "sent"},
              {"room_title", text_of(doc, "room_title")},
              {"opened_room", flag_of(doc, "opened_new_window")},
              {"previous_draft", text_of(doc, "previous_input_text")},
              {"draft", text_of(doc, "remaining_input_text")}};
    std::string text = outcome_text;
    if (flag_of(doc, "opened_new_window"))
        text += " The client opened the room, which may have taken the person's focus.";
    return tool_result(s, text, false);
}

// ---- runs of chatdraft.exe -----------------------------------------------------

enum class exe_end { document, not_run, cancelled, unknown };

struct exe_run {
    exe_end end = exe_end::not_run;
    json doc;
    std::string why;  // for not_run and unknown
};

std::string unknown_reason(const launch_result& run, double timeout_seconds) {
    if (run.end == launch_end::timed_out)
        return "chatdraft.exe gave no result within " + std::to_string(static_cast<int>(timeout_seconds)) +
               " s and was stopped";
    if (run.signal) return "chatdraft.exe was killed by signal " + std::to_string(run.signal);
    if (run.end == launch_end::exited && run.exit_code == 0) return "chatdraft.exe wrote no readable result";
    return "chatdraft.exe ended with exit code " + std::to_string(run.exit_code);
}

exe_run run_exe(const tool_context& ctx, launch_plan plan, const std::string& doing) {
    plan.may_start = [&] { return !ctx.cancelled(); };
    plan.on_start = [&] { ctx.progress("chatdraft.exe started: " + doing); };
    launch_result run;
    exe_run out;
    const int code = run_once(*ctx.cmd, windows_program::exe, plan, &run, &out.doc);
    if (run.end == launch_end::cancelled) {
        out.end = exe_end::cancelled;
        return out;
    }
    if (run.end == launch_end::exited || run.end == launch_end::timed_out)
        ctx.progress("chatdraft.exe ended");
    if (code == kExitDone) {
        out.end = exe_end::document;
    } else if (run.end == launch_end::setup_failed) {
        out.why = run.error;
    } else if (run.end == launch_end::lock_busy) {
        out.why = "another chatdraft run held this Wine prefix for the whole time-out";
    } else {
        out.end = exe_end::unknown;
        out.why = unknown_reason(run, ctx.cmd->timeout_seconds);
    }
    return out;
}

exe_run run_probe_once(const tool_context& ctx) {
    launch_plan plan;
    plan.args = {"--probe", kResultName};
    return run_exe(ctx, plan, "looking at the client's windows");
}

// The request for a room. The server takes no --allow-prefix, so every
// request is exact: a name never stands for a room whose title merely
// begins with it.
exe_run run_request(const tool_context& ctx, command_line req, const std::string& doing) {
    req.allow_prefix = false;
    launch_plan plan;
    plan.args = {"req.json", kResultName};
    plan.request = request_json(req);
    plan.take_lock = true;
    return run_exe(ctx, plan, doing);
}

// Runs the request in the room named. `exact` makes chatdraft.exe refuse a
// room whose title merely contains the name (AMBIGUOUS_ROOM), and open the
// room itself when only such rooms are open. True with the exe's document;
// false with the call's whole result in *result (null when the call was
// cancelled before its exe started).
bool run_in_named_room(const tool_context& ctx, const command_line& req, json* doc, json* result) {
    std::string doing = "writing into " + ::quoted(req.room);
    if (!req.strict_open_only) doing += "; when the room is not open, opening the room through the client's search box";
    const exe_run run = run_request(ctx, req, doing);
    if (run.end == exe_end::document) {
        *doc = run.doc;
        return true;
    }
    if (run.end == exe_end::cancelled) *result = nullptr;
    else if (run.end == exe_end::unknown) *result = unknown_result(run.why, req.send);
    else *result = not_run_result(run.why);
    return false;
}

// The exe's document as the call's result; `done` says what a success means.
json document_result(const tool_context& ctx, const json& doc, const std::string& done) {
    const std::string status = text_of(doc, "status");
    if (status == "error") return error_result(doc);
    if (status == "send_unconfirmed")
        return unknown_result("Enter was pressed but the input box did not empty", true);
    if (flag_of(doc, "opened_new_window"))
        ctx.log("warning", "the client opened the room " + quoted(text_of(doc, "room_title")) +
                               " and may have taken the person's focus");
    return success_result(doc, done);
}

command_line request_for(const tool_context& ctx, const json& args) {
    command_line req = *ctx.cmd;
    req.room = text_of(args, "room");
    if (args.contains("message")) req.message = text_of(args, "message");
    if (args.contains("tab")) req.tab = text_of(args, "tab");
    req.close_after = flag_of(args, "close_after");
    return req;
}

// ---- the tools --------------------------------------------------------------------

json call_list_rooms(const json&, const tool_context& ctx) {
    const exe_run run = run_probe_once(ctx);
    if (run.end == exe_end::cancelled) return nullptr;
    if (run.end != exe_end::document) return not_run_result(run.why);
    const json& probe = run.doc;
    const bool found = number_of(probe, "main_hwnd") != 0;
    const std::string state = found ? text_of(probe, "login_state") : "not_found";
    json rooms = json::array();
    std::string text = found ? "KakaoTalk is " + state : "KakaoTalk's main window was not found";
    text += "; " + std::to_string(array_of(probe, "open_rooms").size()) + " room(s) open";
    for (const json& entry : array_of(probe, "open_rooms")) {
        rooms.push_back({{"title", text_of(entry, "title")}, {"draft", text_of(entry, "draft")}});
        text += (rooms.size() == 1 ? ": " : ", ") + quoted(text_of(entry, "title"));
        if (!text_of(entry, "draft").empty()) text += " (draft " + quoted(text_of(entry, "draft")) + ")";
    }
    return tool_result({{"outcome", "listed"}, {"client_state", state}, {"rooms", rooms}}, text + ".", false);
}

json call_write_draft(const json& args, const tool_context& ctx) {
    command_line req = request_for(ctx, args);
    const std::string way = args.value("if_draft_exists", "stop");
    req.append = way == "append";
    req.force = way == "replace";
    req.strict_open_only = args.contains("open_if_closed") && !flag_of(args, "open_if_closed");
    json doc, result;
    if (!run_in_named_room(ctx, req, &doc, &result)) return result;
    return document_result(ctx, doc, "The draft is written in " + quoted(text_of(doc, "room_title")) +
                                         " and was not sent; the input box holds " +
                                         quoted(text_of(doc, "remaining_input_text")) + ".");
}

json call_clear_draft(const json& args, const tool_context& ctx) {
    command_line req = request_for(ctx, args);
    req.clear = true;
    json doc, result;
    if (!run_in_named_room(ctx, req, &doc, &result)) return result;
    return document_result(ctx, doc, "The input box of " + quoted(text_of(doc, "room_title")) +
                                         " was emptied; it held " +
                                         quoted(text_of(doc, "previous_input_text")) + ".");
}

std::string sent_text(const json& doc) {
    return "The message was sent to " + quoted(text_of(doc, "room_title")) + ".";
}

// The message stands as a draft and was not sent, for the reason given.
json left_as_draft(const json& doc, const std::string& reason) {
    return success_result(doc, "The message was NOT sent: " + reason + " It stands as a draft in " +
                                   quoted(text_of(doc, "room_title")) + ".");
}

json confirm_schema() {
    return {{"type", "object"},
            {"properties", {{"confirm", {{"type", "boolean"}, {"title", "Send it now"}, {"default", false},
                                         {"description", "Yes sends the message; no leaves it as a draft."}}}}},
            {"required", {"confirm"}}};
}

// Asks the person; the send itself finds the message standing as the draft,
// and any other text there (the person edited it) stops it unsent.
json confirm_and_send(const tool_context& ctx, command_line req, const json& draft_doc) {
    const std::string title = text_of(draft_doc, "room_title");
    json content;
    const elicit_end answer = ctx.elicit("Send this message to the KakaoTalk room " + quoted(title) +
                                             "?\n\n" + *req.message,
                                         confirm_schema(), &content);
    if (answer == elicit_end::call_cancelled) return nullptr;
    if (answer != elicit_end::accepted || !flag_of(content, "confirm"))
        return left_as_draft(draft_doc, answer == elicit_end::accepted || answer == elicit_end::declined
                                            ? "the person declined."
                                            : "the person did not answer.");
    req.send = true;
    const exe_run run = run_request(ctx, req, "sending to " + quoted(title));
    if (run.end == exe_end::cancelled) return nullptr;
    if (run.end == exe_end::unknown) return unknown_result(run.why, true);
    if (run.end != exe_end::document) return not_run_result(run.why + "; the message stands as a draft");
    return document_result(ctx, run.doc, sent_text(run.doc));
}

json call_send_message(const json& args, const tool_context& ctx) {
    command_line req = request_for(ctx, args);
    json doc, result;
    if (!ctx.client_elicits && ctx.allow_send) {
        req.send = true;
        if (!run_in_named_room(ctx, req, &doc, &result)) return result;
        return document_result(ctx, doc, sent_text(doc));
    }
    command_line draft = req;
    draft.close_after = false;
    if (!run_in_named_room(ctx, draft, &doc, &result)) return result;
    if (text_of(doc, "status") != "draft_written") return document_result(ctx, doc, "");
    if (!ctx.client_elicits)
        return left_as_draft(doc, "this host cannot ask the person to confirm a send. Ask the person to "
                                  "read the draft in KakaoTalk and press Enter to send it.");
    return confirm_and_send(ctx, req, doc);
}

json call_check_client(const json&, const tool_context& ctx) {
    json checks;
    if (doctor_checklist(*ctx.cmd, &checks) != kExitDone)
        return not_run_result("chatdraft_inspect.exe gave no checklist; see the server's log");
    bool all_ok = true;
    std::string text;
    for (const json& c : checks) {
        all_ok = all_ok && c["ok"].get<bool>();
        text += std::string(c["ok"].get<bool>() ? "ok" : "missing") + " " + c["item"].get<std::string>() +
                ": " + c["detail"].get<std::string>() + "\n";
    }
    return tool_result({{"outcome", "checked"}, {"all_ok", all_ok}, {"checks", checks}}, text, false);
}

struct tool_entry {
    json (*definition)();
    json (*call)(const json& args, const tool_context& ctx);
};

const tool_entry kTools[] = {
    {list_rooms_tool, call_list_rooms},   {write_draft_tool, call_write_draft},
    {clear_draft_tool, call_clear_draft}, {send_message_tool, call_send_message},
    {check_client_tool, call_check_client},
};

const tool_entry* find_tool(const json& params, json* definition) {
    const auto name = params.find("name");
    if (name == params.end() || !name->is_string()) return nullptr;
    for (const tool_entry& tool : kTools) {
        *definition = tool.definition();
        if ((*definition)["name"] == *name) return &tool;
    }
    return nullptr;
}

json arguments_of(const json& params) {
    const auto it = params.find("arguments");
    return it == params.end() || it->is_null() ? json::object() : *it;
}

}  // namespace

json tool_list() {
    json tools = json::array();
    for (const tool_entry& tool : kTools) tools.push_back(tool.definition());
    return {{"tools", tools}};
}

std::string check_tool_call(const json& params) {
    json definition;
    if (!find_tool(params, &definition)) {
        const auto name = params.find("name");
        return name != params.end() && name->is_string() ? "no tool '" + name->get<std::string>() + "'"
                                                          : "params.name must name a tool";
    }
    return check_arguments(definition["inputSchema"], arguments_of(params));
}

json run_tool(const json& params, const tool_context& ctx) {
    json definition;
    const tool_entry* tool = find_tool(params, &definition);
    return tool ? tool->call(arguments_of(params), ctx) : json(nullptr);
}
