// The command line: each option becomes one request key, in the writer's
// fixed order, and misuse is refused before anything runs.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "command.h"
#include "request_writer.h"

namespace {

constexpr char kNoKeys[] = R"("exact":true,"ui_mode":"","tab":"","resolved_name":"",)";

// The request of a draft command line, or "error: ..." on misuse.
std::string parse(std::vector<std::string> args) {
    args.insert(args.begin(), "chatdraft");
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    command_line cmd;
    std::string error;
    if (!parse_command_line(static_cast<int>(args.size()), argv.data(), &cmd, &error))
        return "error: " + error;
    if (cmd.message_from_stdin) return "stdin";
    if (cmd.verb->run != run_draft) return cmd.verb->name;
    const std::string json = request_json(cmd);
    return json.substr(0, json.size() - 1);
}

struct row {
    std::vector<std::string> args;
    std::string expected;
};

TEST(CommandLine, DraftOptionsBecomeRequestKeys) {
    const std::string plain = std::string("{") + kNoKeys + R"("room":"R","message":"M"})";
    const row rows[] = {
        {{"draft", "R", "M"}, plain},
        {{"draft", "R"}, std::string("{") + kNoKeys + R"("room":"R"})"},
        {{"--send", "draft", "R", "M"}, R"({"send":true,)" + plain.substr(1)},
        {{"draft", "R", "M", "--send", "--allow-prefix"},
         R"({"send":true,"ui_mode":"","tab":"","resolved_name":"","room":"R","message":"M"})"},
        {{"draft", "R", "--allow-prefix", "--clear"},
         R"({"clear":true,"ui_mode":"","tab":"","resolved_name":"","room":"R"})"},
        {{"draft", "R", "M", "--append", "--clear", "--force", "--close-after"},
         R"({"exact":true,"append":true,"clear":true,"force":true,"close_after":true,)" + plain.substr(14)},
        {{"draft", "R", "M", "--strict-open-only", "-t", "업무", "--resolved-name", "R full"},
         R"({"exact":true,"ui_mode":"strict_open_only","tab":"업무","resolved_name":"R full","room":"R","message":"M"})"},
        {{"draft", "--tab=가족", "R", "M"},
         R"({"exact":true,"ui_mode":"","tab":"가족","resolved_name":"","room":"R","message":"M"})"},
        {{"draft", "", "M", "--resolved-name", "R full"},
         R"({"exact":true,"ui_mode":"","tab":"","resolved_name":"R full","room":"","message":"M"})"},
        {{"draft", "-t교사", "R", "M"},
         R"({"exact":true,"ui_mode":"","tab":"교사","resolved_name":"","room":"R","message":"M"})"},
        {{"draft", "R", "--", "-M --send"},
         std::string("{") + kNoKeys + R"("room":"R","message":"-M --send"})"},
        {{"draft", "--", "--R", "-"}, "stdin"},
        {{"draft", "R", "-"}, "stdin"},
        {{"--prefix", "/p", "probe", "--timeout", "2.5", "--exe=/e"}, "probe"},
        {{"probe", "--json"}, "probe"},
        {{"mcp", "--allow-send", "--prefix", "/p"}, "mcp"},
    };
    for (const row& r : rows) EXPECT_EQ(r.expected, parse(r.args)) << testing::PrintToString(r.args);
}

TEST(CommandLine, MisuseIsRefused) {
    const row rows[] = {
        {{}, "error: no verb given: use probe, draft, doctor or mcp"},
        {{"send", "R"}, "error: no verb 'send': use probe, draft, doctor or mcp"},
        {{"draft"}, "error: draft needs ROOM"},
        {{"draft", "R", "M", "extra"}, "error: draft: too many operands"},
        {{"probe", "R"}, "error: probe: too many operands"},
        {{"probe", "--send"}, "error: --send is not an option of probe"},
        {{"draft", "R", "--titles"}, "error: --titles is not an option of draft"},
        {{"draft", "R", "--sned"}, "error: unknown option '--sned'"},
        {{"draft", "R", "-x"}, "error: unknown option in '-x': put '--' before a ROOM or MESSAGE that begins with '-'"},
        {{"draft", "R", "--sned=1"}, "error: unknown option '--sned'"},
        {{"draft", " \t", "M"}, "error: ROOM is empty: name the room"},
        {{"draft", "R", "", "--send"}, "error: --send needs a MESSAGE to send"},
        {{"draft", "R", "M", "--clear", "--send"}, "error: --send and --clear exclude each other: --clear never presses Enter"},
        {{"draft", "R", "", "--append"}, "error: --append needs a MESSAGE"},
        {{"doctor", "--dump="}, "error: --dump needs a FILE name"},
        {{"draft", "R", "-t"}, "error: option '-t' needs a value"},
        {{"draft", "R", "-t", "Work"}, "error: no chat-list tab 'Work': use 전체, 안읽음, 가족, 업무 or 교사"},
        {{"probe", "--timeout", "0"}, "error: --timeout takes a number of seconds above 0, not '0'"},
        {{"probe", "--timeout=-1"}, "error: --timeout takes a number of seconds above 0, not '-1'"},
        {{"probe", "--timeout", "inf"}, "error: --timeout takes a number of seconds above 0, not 'inf'"},
        {{"probe", "--timeout", "5s"}, "error: --timeout takes a number of seconds above 0, not '5s'"},
        {{"draft", "R\xff", "M"}, "error: ROOM is not valid UTF-8"},
        {{"draft", "R", "M\xc0\x80"}, "error: MESSAGE is not valid UTF-8"},
        {{"draft", "R", "M", "--resolved-name", "\xed\xa0\x80"}, "error: --resolved-name is not valid UTF-8"},
        {{"doctor", "R"}, "error: doctor: too many operands"},
        {{"doctor", "--send"}, "error: --send is not an option of doctor"},
        {{"draft", "R", "--dump", "f"}, "error: --dump is not an option of draft"},
        {{"doctor", "--dump"}, "error: option '--dump' needs a value"},
        {{"mcp", "R"}, "error: mcp: too many operands"},
        {{"mcp", "--send"}, "error: --send is not an option of mcp"},
        {{"mcp", "--json"}, "error: --json is not an option of mcp"},
        {{"draft", "R", "M", "--allow-send"}, "error: --allow-send is not an option of draft"},
    };
    for (const row& r : rows) EXPECT_EQ(r.expected, parse(r.args)) << testing::PrintToString(r.args);
}

// What `chatdraft --help` prints.
std::string help_text() {
    fflush(stdout);
    FILE* file = tmpfile();
    const int saved = dup(STDOUT_FILENO);
    dup2(fileno(file), STDOUT_FILENO);
    char arg0[] = "chatdraft", arg1[] = "--help";
    char* argv[] = {arg0, arg1, nullptr};
    const int code = cli_main(2, argv);
    fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    EXPECT_EQ(kExitDone, code);
    std::string text(static_cast<size_t>(ftell(file)), '\0');
    rewind(file);
    EXPECT_EQ(text.size(), fread(text.data(), 1, text.size(), file));
    fclose(file);
    return text;
}

// The help's "Exit status:" lines, "  N  meaning" and their continuations,
// by code.
std::map<int, std::string> help_exit_codes(const std::string& help) {
    std::map<int, std::string> codes;
    std::istringstream in(help.substr(help.find("Exit status:\n")));
    std::string line;
    int code = -1;
    for (std::getline(in, line); std::getline(in, line) && !line.empty();) {
        if (line.size() > 4 && isdigit(static_cast<unsigned char>(line[2]))) code = line[2] - '0';
        codes[code] += line.substr(5) + " ";
    }
    return codes;
}

// The README's "Exit codes" table, "| N | meaning |", by code.
std::map<int, std::string> readme_exit_codes() {
    std::ifstream readme(CHATDRAFT_README);
    std::string line;
    while (std::getline(readme, line) && line != "### Exit codes") {
    }
    std::map<int, std::string> codes;
    while (std::getline(readme, line) && (line.empty() || line[0] == '|'))
        if (line.size() > 4 && isdigit(static_cast<unsigned char>(line[2]))) codes[line[2] - '0'] = line.substr(5);
    return codes;
}

TEST(CommandLine, ExitCodesAgreeInHelpReadmeAndCode) {
    const std::pair<int, const char*> rows[] = {
        {kExitDone, "draft_written"},    {kExitRefused, "an error document"}, {kExitMisuse, "misuse"},
        {kExitMaybeSent, "send_unconfirmed"}, {kExitUnknown, "outcome unknown"},
    };
    const std::map<int, std::string> help = help_exit_codes(help_text());
    const std::map<int, std::string> readme = readme_exit_codes();
    EXPECT_EQ(std::size(rows), help.size());
    EXPECT_EQ(std::size(rows), readme.size());
    for (const auto& [code, meaning] : rows) {
        SCOPED_TRACE(meaning);
        EXPECT_NE(std::string::npos, help.count(code) ? help.at(code).find(meaning) : std::string::npos);
        EXPECT_NE(std::string::npos, readme.count(code) ? readme.at(code).find(meaning) : std::string::npos);
    }
}

}  // namespace
