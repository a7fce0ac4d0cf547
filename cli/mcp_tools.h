// The tools of the mcp verb: what tools/list shows of them, the check of a
// call's arguments, and the runs of chatdraft.exe behind each call.
#pragma once

#include <functional>
#include <string>

#include <nlohmann/json.hpp>

struct command_line;

// How a question to the person (elicitation/create) ended.
enum class elicit_end {
    accepted,        // *content holds the person's answer
    declined,
    cancelled,       // the person dismissed the question
    no_answer,       // the client answered with an error, or input ended
    call_cancelled,  // the tool call itself was cancelled meanwhile
};

// What a running tool may use of its session.
struct tool_context {
    const command_line* cmd = nullptr;  // --prefix, --exe, --timeout
    bool allow_send = false;            // --allow-send
    bool client_elicits = false;        // the client declared `elicitation`
    std::function<void(const std::string&)> progress;  // does nothing without a progressToken
    std::function<void(const char* level, const std::string&)> log;
    std::function<bool()> cancelled;    // the call was cancelled
    std::function<elicit_end(const std::string& message, const nlohmann::json& schema,
                             nlohmann::json* content)>
        elicit;
};

// The result of tools/list.
nlohmann::json tool_list();

// Empty when tools/call's params name a tool and fit its inputSchema;
// otherwise what is wrong, for an invalid-params error.
std::string check_tool_call(const nlohmann::json& params);

// The result of tools/call; null when the call was cancelled before its
// chatdraft.exe started, so that no answer is due.
nlohmann::json run_tool(const nlohmann::json& params, const tool_context& ctx);
