#include "command.h"

#include <getopt.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "../src/client_layout.h"
#include "mcp.h"
#include "request_writer.h"
#include "summary.h"
#include "version.h"

namespace {

enum option_id : unsigned {
    opt_json, opt_titles, opt_send, opt_append, opt_force, opt_clear, opt_tab,
    opt_resolved_name, opt_close_after, opt_strict_open_only, opt_allow_prefix,
    opt_prefix, opt_exe, opt_timeout, opt_help, opt_version, opt_dump, opt_redact, opt_allow_send,
};

constexpr unsigned bit(option_id id) { return 1u << id; }
constexpr int kLongBase = 256;  // getopt_long's value for a long option: its id plus this
constexpr double kMaxTimeoutSeconds = 86400;

constexpr unsigned kGlobalOptions = bit(opt_prefix) | bit(opt_exe) | bit(opt_timeout) |
                                    bit(opt_help) | bit(opt_version);
constexpr unsigned kDraftOptions =
    bit(opt_json) | bit(opt_send) | bit(opt_append) | bit(opt_force) | bit(opt_clear) |
    bit(opt_tab) | bit(opt_resolved_name) | bit(opt_close_after) | bit(opt_strict_open_only) |
    bit(opt_allow_prefix);

constexpr verb_entry kVerbs[] = {
    {"probe", bit(opt_json) | bit(opt_titles), 0, 0, run_probe},
    {"draft", kDraftOptions, 1, 2, run_draft},
    {"doctor", bit(opt_json) | bit(opt_dump) | bit(opt_redact), 0, 0, run_doctor},
    {"mcp", bit(opt_allow_send), 0, 0, run_mcp},
};

#define LONG_OPTION(name, arg, id) {name, arg, nullptr, kLongBase + (id)}
const option kLongOptions[] = {
    LONG_OPTION("json", no_argument, opt_json),
    LONG_OPTION("titles", no_argument, opt_titles),
    LONG_OPTION("send", no_argument, opt_send),
    LONG_OPTION("append", no_argument, opt_append),
    LONG_OPTION("force", no_argument, opt_force),
    LONG_OPTION("clear", no_argument, opt_clear),
    LONG_OPTION("tab", required_argument, opt_tab),
    LONG_OPTION("resolved-name", required_argument, opt_resolved_name),
    LONG_OPTION("close-after", no_argument, opt_close_after),
    LONG_OPTION("strict-open-only", no_argument, opt_strict_open_only),
    LONG_OPTION("allow-prefix", no_argument, opt_allow_prefix),
    LONG_OPTION("prefix", required_argument, opt_prefix),
    LONG_OPTION("exe", required_argument, opt_exe),
    LONG_OPTION("timeout", required_argument, opt_timeout),
    LONG_OPTION("help", no_argument, opt_help),
    LONG_OPTION("version", no_argument, opt_version),
    LONG_OPTION("dump", required_argument, opt_dump),
    LONG_OPTION("redact", no_argument, opt_redact),
    LONG_OPTION("allow-send", no_argument, opt_allow_send),
    {nullptr, 0, nullptr, 0},
};
#undef LONG_OPTION

const char kUsage[] =
    "Usage: chatdraft probe [--json | --titles] [OPTION]...\n"
    "  or:  chatdraft draft ROOM [MESSAGE | -] [OPTION]...\n"
    "  or:  chatdraft doctor [--json | --dump FILE [--redact]] [OPTION]...\n"
    "  or:  chatdraft mcp [--allow-send] [OPTION]...\n"
    "  or:  chatdraft --help | --version\n";

const char kHelp[] =
    "Writes a message into a KakaoTalk chat room, and on request sends it, through\n"
    "chatdraft.exe under Wine beside the running, logged-in client. Only window\n"
    "messages reach the client: never the cursor, the focus or the clipboard.\n"
    "\n"
    "Verbs:\n"
    "  probe                 show the client's state and the open rooms with their drafts\n"
    "  draft ROOM [MESSAGE]  write MESSAGE into the input box of the room ROOM; MESSAGE\n"
    "                        - reads it from standard input, exactly as it comes\n"
    "  doctor                check what chatdraft finds of the client, one line an item:\n"
    "                        ok, or missing and what that costs\n"
    "  mcp                   serve the Model Context Protocol on standard input and\n"
    "                        output: an AI assistant lists rooms, writes drafts, and\n"
    "                        sends once the person confirms each message\n"
    "\n"
    "Options of draft:\n"
    "      --send            press Enter after writing and confirm that the box emptied\n"
    "      --allow-prefix    not exact: ROOM may be the start of the room's title\n"
    "                        (and, without --send, any part of it)\n"
    "      --append          put MESSAGE under a draft that stands, on a new line\n"
    "      --force           replace a draft that stands with MESSAGE\n"
    "      --clear           empty the input box instead of writing (not with --send)\n"
    "  -t, --tab=TAB         if the room is not open, look in this chat-list tab:\n"
    "                        " CLIENT_TAB_NAMES "\n"
    "      --resolved-name=NAME  the room's full name, matched and searched first\n"
    "      --close-after     close the room window afterwards\n"
    "      --strict-open-only  never open a room that is not open\n"
    "  Every draft is exact unless --allow-prefix: the room's title must equal ROOM\n"
    "  (or --resolved-name) once blanks (space, tab, line breaks) are dropped and A\n"
    "  to Z are taken as a to z. --send, --append and --force need a MESSAGE that\n"
    "  is not empty. A ROOM or MESSAGE that begins with '-' follows '--'.\n"
    "\n"
    "Options of doctor:\n"
    "      --dump=FILE       write the client's whole window tree to FILE instead; it\n"
    "                        holds the rooms' names and the lengths of their drafts\n"
    "      --redact          with --dump, every title and text replaced by as many x\n"
    "\n"
    "Options of mcp:\n"
    "      --allow-send      send without asking when the assistant's host cannot ask\n"
    "                        the person; otherwise such a send is left as a draft\n"
    "\n"
    "Options of every verb:\n"
    "      --json            print chatdraft.exe's result document (doctor: the\n"
    "                        inspector's), exactly\n"
    "      --titles          (probe) print the open rooms' titles, one a line\n"
    "      --prefix=DIR      the Wine prefix the client runs in\n"
    "      --exe=PATH        the chatdraft.exe (or chatdraft32.exe) to run\n"
    "      --timeout=SECONDS\n"
    "                        stop chatdraft.exe after it ran this long (default\n"
    "                        60); draft first waits at most as long again for\n"
    "                        another draft to the prefix to end, and starts\n"
    "                        nothing if it does not\n"
    "  -h, --help            show this help and exit\n"
    "      --version         show the version and exit\n"
    "\n"
    "What it finds, in this order:\n"
    "  Wine prefix   --prefix, else $WINEPREFIX, else the prefix of a running\n"
    "                " CLIENT_EXE_NAME " of this user (its WINEPREFIX, or ~/.wine),\n"
    "                else ~/.wine\n"
    "  wineserver    chatdraft.exe runs under the TMPDIR whose folder holds the\n"
    "                prefix's running wineserver, whatever this command's TMPDIR is\n"
    "  exe           --exe, else ../lib/chatdraft/ beside this command, else the\n"
    "                build tree: chatdraft32.exe under wine for a 32-bit prefix,\n"
    "                chatdraft.exe under wine64 for a 64-bit one; doctor runs\n"
    "                chatdraft_inspect.exe (or chatdraft_inspect32.exe) beside it\n"
    "  With two clients running and neither --prefix nor WINEPREFIX, nothing runs.\n"
    "  Nothing runs either where no wineserver runs: no client can run there.\n"
    "\n"
    "Drafts to one prefix take turns: draft waits for another draft's run to end.\n"
    "chatdraft.exe never outlives the command: killed in any way, the command takes\n"
    "it along, and the lock and the run's folder go with it.\n"
    "\n"
    "Exit status:\n"
    "  0  draft_written, cleared or sent; a probe; doctor found all it looks for\n"
    "  1  an error document (DRAFT_EXISTS, AMBIGUOUS_ROOM ...): nothing was sent;\n"
    "     doctor found something missing\n"
    "  2  misuse or set-up failure: the client was not touched; probe and doctor:\n"
    "     also standard output could not be written\n"
    "  3  send_unconfirmed: the message may have been sent\n"
    "  4  outcome unknown: time-out, or chatdraft.exe failed after it started, or\n"
    "     draft's standard output could not be written\n"
    "\n"
    "Full documentation: man chatdraft\n";

const verb_entry* find_verb(const std::string& name) {
    for (const verb_entry& verb : kVerbs)
        if (name == verb.name) return &verb;
    return nullptr;
}

bool parse_timeout(const char* text, double* seconds) {
    char* end = nullptr;
    const double value = strtod(text, &end);
    if (end == text || *end != '\0' || !std::isfinite(value) || value <= 0 ||
        value > kMaxTimeoutSeconds)
        return false;
    *seconds = value;
    return true;
}

// A name or text given on the command line, checked like the message.
bool take_text(const char* what, const char* value, std::optional<std::string>* into,
               std::string* error) {
    if (const char* fault = text_fault(value)) {
        *error = std::string(what) + " " + fault;
        return false;
    }
    *into = value;
    return true;
}

bool apply_option(unsigned id, const char* value, command_line* cmd, std::string* error) {
    switch (id) {
    case opt_json: cmd->json = true; return true;
    case opt_titles: cmd->titles = true; return true;
    case opt_send: cmd->send = true; return true;
    case opt_append: cmd->append = true; return true;
    case opt_force: cmd->force = true; return true;
    case opt_clear: cmd->clear = true; return true;
    case opt_close_after: cmd->close_after = true; return true;
    case opt_strict_open_only: cmd->strict_open_only = true; return true;
    case opt_allow_prefix: cmd->allow_prefix = true; return true;
    case opt_help: cmd->help = true; return true;
    case opt_version: cmd->version = true; return true;
    case opt_prefix: cmd->prefix = value; return true;
    case opt_exe: cmd->exe = value; return true;
    case opt_dump:
        if (!*value) {
            *error = "--dump needs a FILE name";
            return false;
        }
        cmd->dump = value;
        return true;
    case opt_redact: cmd->redact = true; return true;
    case opt_allow_send: cmd->allow_send = true; return true;
    case opt_resolved_name: return take_text("--resolved-name", value, &cmd->resolved_name, error);
    case opt_tab:
        if (!is_tab_name(value)) {
            *error = std::string("no chat-list tab '") + value +
                     "': use " CLIENT_TAB_NAMES;
            return false;
        }
        cmd->tab = value;
        return true;
    case opt_timeout:
        if (parse_timeout(value, &cmd->timeout_seconds)) return true;
        *error = std::string("--timeout takes a number of seconds above 0, not '") + value + "'";
        return false;
    }
    return false;
}

const char* option_name(unsigned id) {
    for (const option& o : kLongOptions)
        if (o.name && static_cast<unsigned>(o.val - kLongBase) == id) return o.name;
    return "?";
}

bool check_verb(const std::vector<std::string>& operands, unsigned seen, command_line* cmd,
                std::string* error) {
    if (operands.empty()) {
        *error = "no verb given: use probe, draft, doctor or mcp";
        return false;
    }
    cmd->verb = find_verb(operands[0]);
    if (!cmd->verb) {
        *error = "no verb '" + operands[0] + "': use probe, draft, doctor or mcp";
        return false;
    }
    const unsigned foreign = seen & ~(cmd->verb->options | kGlobalOptions);
    for (unsigned id = 0; id < 32; ++id) {
        if (foreign & (1u << id)) {
            *error = std::string("--") + option_name(id) + " is not an option of " + cmd->verb->name;
            return false;
        }
    }
    const int count = static_cast<int>(operands.size()) - 1;
    if (count < cmd->verb->min_operands || count > cmd->verb->max_operands) {
        *error = std::string(cmd->verb->name) +
                 (count < cmd->verb->min_operands ? " needs ROOM" : ": too many operands");
        return false;
    }
    return true;
}

// ROOM and MESSAGE, for the verbs that take them.
bool take_operands(const std::vector<std::string>& operands, command_line* cmd,
                   std::string* error) {
    if (operands.size() < 2) return true;
    std::optional<std::string> room;
    if (!take_text("ROOM", operands[1].c_str(), &room, error)) return false;
    cmd->room = *room;
    if (operands.size() < 3) return true;
    if (operands[2] == "-") {
        cmd->message_from_stdin = true;
        cmd->message = "";
        return true;
    }
    return take_text("MESSAGE", operands[2].c_str(), &cmd->message, error);
}

// Room names are matched without blanks: one of blanks alone names nothing.
bool is_blank(const std::string& name) { return name.find_first_not_of(" \t\r\n") == std::string::npos; }

// A word that is no option, such as a MESSAGE beginning with '-', is named
// whole, with the way to pass it.
std::string option_error(int c, const std::string& word) {
    if (c == ':') return "option '" + word + "' needs a value";
    if (word.rfind("--", 0) == 0) return "unknown option '" + word.substr(0, word.find('=')) + "'";
    return "unknown option in '" + word + "': put '--' before a ROOM or MESSAGE that begins with '-'";
}

void print_help() { printf("%s\n%s", kUsage, kHelp); }

}  // namespace

bool parse_command_line(int argc, char** argv, command_line* cmd, std::string* error) {
    std::vector<std::string> operands;
    unsigned seen = 0;
    optind = 0;  // a full restart of getopt, so that it can parse more than once
    opterr = 0;
    // "-": operands come back in place, so that options may stand before or
    // after the verb whatever POSIXLY_CORRECT says; ":" reports a missing value.
    int c;
    // `word` is the one getopt is about to read: an error is about it, whether
    // getopt stops inside it (a short option) or moves past it (a long one).
    for (const char* word = argc > 1 ? argv[1] : "";
         (c = getopt_long(argc, argv, "-:t:h", kLongOptions, nullptr)) != -1;
         word = optind < argc ? argv[optind] : "") {
        if (c == 1) {
            operands.emplace_back(optarg);
            continue;
        }
        if (c == '?' || c == ':') {
            *error = option_error(c, word);
            return false;
        }
        unsigned id = static_cast<unsigned>(c - kLongBase);
        if (c == 't') id = opt_tab;
        if (c == 'h') id = opt_help;
        seen |= 1u << id;
        if (!apply_option(id, optarg, cmd, error)) return false;
    }
    for (; optind < argc; ++optind) operands.emplace_back(argv[optind]);
    if (cmd->help || cmd->version) return true;
    if (!check_verb(operands, seen, cmd, error) || !take_operands(operands, cmd, error)) return false;
    if (cmd->verb->run != run_draft || cmd->message_from_stdin) return true;
    if (const char* fault = draft_fault(*cmd)) {
        *error = fault;
        return false;
    }
    return true;
}

const char* draft_fault(const command_line& cmd) {
    const bool has_message = cmd.message && !cmd.message->empty();
    if (is_blank(cmd.room) && is_blank(cmd.resolved_name.value_or("")))
        return "ROOM is empty: name the room";
    if (cmd.send && cmd.clear) return "--send and --clear exclude each other: --clear never presses Enter";
    if (cmd.send && !has_message) return "--send needs a MESSAGE to send";
    if (cmd.force && !has_message) return "--force needs a MESSAGE: to empty the box, use --clear";
    if (cmd.append && !has_message) return "--append needs a MESSAGE";
    return nullptr;
}

int checked_output(int code, int code_if_lost) {
    if (fflush(stdout) == 0 && !ferror(stdout)) return code;
    fail(code_if_lost, std::string("cannot write to standard output: ") + strerror(errno));
    return code == kExitDone ? code_if_lost : code;
}

// Messages carry names from outside (a prefix from another process's
// environment, a word typed): controls in them are escaped like titles.
int fail(int code, const std::string& message) {
    fprintf(stderr, "chatdraft: %s\n", terminal_line(message).c_str());
    return code;
}

int cli_main(int argc, char** argv) {
    // A caller that ignores SIGCHLD would have the exe reaped unseen, its exit code lost.
    signal(SIGCHLD, SIG_DFL);
    command_line cmd;
    std::string error;
    if (!parse_command_line(argc, argv, &cmd, &error)) {
        fail(kExitMisuse, error);
        fputs("Try 'chatdraft --help' for more information.\n", stderr);
        return kExitMisuse;
    }
    if (cmd.help || cmd.version) {
        if (cmd.help) print_help();
        else printf("chatdraft %s\n", CHATDRAFT_VERSION);
        return checked_output(kExitDone, kExitMisuse);
    }
    // A draft whose output is lost has an outcome the caller cannot know.
    return checked_output(cmd.verb->run(cmd), cmd.verb->run == run_draft ? kExitUnknown : kExitMisuse);
}
