// The `chatdraft` command line: verbs, options, exit codes, and the entry
// point that reads like the road of one command.
#pragma once

#include <optional>
#include <string>

// Exit codes; --help (and so the man page) and the README carry the same
// table, which a unit test holds to these.
constexpr int kExitDone = 0;       // "draft_written", "cleared", "sent"; a probe; a sound doctor
constexpr int kExitRefused = 1;    // an error document: nothing was sent; doctor: something missing
constexpr int kExitMisuse = 2;     // bad options or set-up; the client was not touched
constexpr int kExitMaybeSent = 3;  // "send_unconfirmed"
constexpr int kExitUnknown = 4;    // time-out, or chatdraft.exe failed after it started

constexpr double kDefaultTimeoutSeconds = 60;

struct verb_entry;

// Everything the command line says. A string option that was not given is
// absent; MESSAGE "-" is read from standard input later.
struct command_line {
    const verb_entry* verb = nullptr;
    bool help = false;
    bool version = false;
    bool json = false;
    bool titles = false;
    std::optional<std::string> prefix;
    std::optional<std::string> exe;
    double timeout_seconds = kDefaultTimeoutSeconds;

    std::string room;
    std::optional<std::string> message;  // absent: the request has no message key
    bool message_from_stdin = false;
    bool send = false;
    bool append = false;
    bool force = false;
    bool clear = false;
    bool close_after = false;
    bool strict_open_only = false;
    bool allow_prefix = false;
    std::optional<std::string> tab;
    std::optional<std::string> resolved_name;
    std::optional<std::string> dump;     // doctor: write the window tree here
    bool redact = false;
    bool allow_send = false;             // mcp: send without asking when the host cannot ask
};

// A verb: its name, the options it takes beside the global ones, how many
// operands, and what runs it. Adding a verb is one row in command.cpp.
struct verb_entry {
    const char* name;
    unsigned options;  // bit set of the option ids of command.cpp
    int min_operands;
    int max_operands;
    int (*run)(const command_line& cmd);
};

int run_probe(const command_line& cmd);
int run_draft(const command_line& cmd);
int run_doctor(const command_line& cmd);

// False on misuse, with the message for standard error in *error.
bool parse_command_line(int argc, char** argv, command_line* cmd, std::string* error);

// Why a draft's options cannot go together, or null: each would end in a
// status the caller did not ask for (no Enter pressed, a draft erased).
const char* draft_fault(const command_line& cmd);

// Flushes standard output: `code` when all of it was written, else the write
// error on standard error and `code_if_lost` in place of a success.
int checked_output(int code, int code_if_lost);

// Prints "chatdraft: MESSAGE" on standard error and returns `code`.
int fail(int code, const std::string& message);

int cli_main(int argc, char** argv);
