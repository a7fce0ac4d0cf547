// What the command prints of a document: the result and probe summaries, and
// the doctor's checklist. Error and probe documents come from chatdraft.exe's
// own writers, so a gloss that no longer fits the exe's texts shows here.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>

#include "../outcome_docs.h"
#include "command.h"
#include "doctor.h"
#include "documents.h"
#include "outcomes.h"
#include "summary.h"

using nlohmann::json;

namespace {

struct print_row {
    const char* name;
    std::string document;
    std::string expected;  // "{error}" stands for the document's own "error" text
};

std::string expected_lines(const print_row& row, const json& doc) {
    std::string expected = row.expected;
    const size_t at = expected.find("{error}");
    if (at != std::string::npos) expected.replace(at, 7, doc.value("error", ""));
    return expected;
}

void expect_printed(void (*print)(FILE*, const json&), const print_row& row) {
    SCOPED_TRACE(row.name);
    const json doc = json::parse(row.document);
    EXPECT_EQ(expected_lines(row, doc), capture_stream([&](FILE* out) { print(out, doc); }));
}

std::string success(const char* status, const char* previous, const char* written, const char* remaining,
                    bool opened = false) {
    return json{{"status", status}, {"room_title", "Team"}, {"match_score", 95},
                {"opened_new_window", opened}, {"previous_input_text", previous},
                {"written_text", written}, {"remaining_input_text", remaining}}
        .dump();
}

TEST(Summary, ResultDocuments) {
    run_report ambiguous = report_of(outcome::ambiguous_room);
    ambiguous.top_score = 80;
    ambiguous.titles[0] = u"Team A";
    ambiguous.titles[1] = u"Team \"B\"";
    ambiguous.title_count = 2;
    const print_row rows[] = {
        {"draft written", success("draft_written", "", "hi", "hi"),
         "draft_written: \"Team\" (score 95)\n  written: \"hi\"\n"},
        {"appended under a draft", success("draft_written", "old", "hi", "old\r\nhi", true),
         "draft_written: \"Team\" (score 95)\n  opened: the room was not open; the client opened it and "
         "may have taken the focus\n  before: \"old\"\n  written: \"hi\"\n  remaining: \"old\\nhi\"\n"},
        {"cleared", success("cleared", "x\ty", "", ""), "cleared: \"Team\" (score 95)\n  before: \"x\\ty\"\n"},
        {"sent", success("sent", "", "hi", ""), "sent: \"Team\" (score 95)\n  written: \"hi\"\n"},
        {"send unconfirmed", success("send_unconfirmed", "", "hi", "hi"),
         "send_unconfirmed: \"Team\" (score 95)\n  written: \"hi\"\n  remaining: \"hi\"\n  the message may "
         "have been sent: look with 'chatdraft probe' before sending again\n"},
        {"a title with terminal controls",
         R"({"status":"sent","room_title":"a\u001b[2J\"\\b\u0085","match_score":90,"written_text":"x"})",
         "sent: \"a\\u001b[2J\\\"\\\\b\\u0085\" (score 90)\n  written: \"x\"\n"},
        {"locked", bare_doc(outcome::kakao_locked),
         "KAKAO_LOCKED\n  error: {error}\n         KakaoTalk shows its PIN lock: unlock it.\n"},
        {"no room open", bare_doc(outcome::no_open_room),
         "NEEDS_OPEN_ROOM\n  error: {error}\n         No chat room is open: open the room in KakaoTalk.\n"},
        {"room not found", bare_doc(outcome::room_not_opened),
         "NEEDS_OPEN_ROOM\n  error: {error}\n         The room was not found open and could not be opened: "
         "open it once in KakaoTalk (no global shortcut is used, to spare the focus and the clipboard).\n"},
        {"no main window", bare_doc(outcome::main_window_not_found),
         "MAIN_WINDOW_NOT_FOUND\n  error: {error}\n         KakaoTalk's main window (EVA_Window_Dblclk) "
         "was not found.\n"},
        {"ambiguous", outcome_doc(ambiguous),
         "AMBIGUOUS_ROOM: top score 80\n  candidate: \"Team A\"\n  candidate: \"Team \\\"B\\\"\"\n"
         "  error: {error}\n         More than one room matches, or only in part: stopped for safety; "
         "name the room exactly, or its tab with -t.\n"},
        {"draft exists", draft_exists_doc(u"Team", u"old\r\ntext"),
         "DRAFT_EXISTS: \"Team\"\n  draft: \"old\\ntext\"\n  error: {error}\n         The room's input box "
         "holds a draft: add to it with --append, replace it with --force, or empty it with --clear.\n"},
        {"box gave nothing back", write_mismatch_doc(u"Team", u""),
         "WRITE_MISMATCH: \"Team\"\n  box holds: nothing: the box gave no text back (it may not have "
         "answered)\n  error: {error}\n         The input box did not read back what was written: "
         "nothing was sent.\n"},
        {"box holds another text", write_mismatch_doc(u"Team", u"h"),
         "WRITE_MISMATCH: \"Team\"\n  box holds: \"h\"\n  error: {error}\n         The input box did not "
         "read back what was written: nothing was sent.\n"},
        {"a code without a gloss", R"({"status":"error","error_code":"NEW_CODE","error":"새 오류"})",
         "NEW_CODE\n  error: 새 오류\n"},
    };
    for (const print_row& row : rows) expect_printed(print_result_summary, row);
}

// Every outcome the exe can end in has its own row in the command's table,
// and the exit code a script relies on: only a sure success is 0.
TEST(OutcomeTable, CommandKnowsEveryOutcomeOfTheExe) {
    const std::map<outcome, int> exits = {
        {outcome::cleared, kExitDone}, {outcome::draft_written, kExitDone},
        {outcome::sent, kExitDone}, {outcome::send_unconfirmed, kExitMaybeSent}};
    std::set<const outcome_entry*> rows;
    for (int k = 1; k < kOutcomeCount; ++k) {
        const auto kind = static_cast<outcome>(k);
        const json doc = json::parse(bare_doc(kind));
        SCOPED_TRACE(doc.dump());
        const outcome_entry* entry = outcome_of(doc);
        ASSERT_NE(entry, nullptr);
        EXPECT_TRUE(rows.insert(entry).second) << "two outcomes share a row";
        EXPECT_EQ(exit_code_for_result(doc), exits.count(kind) ? exits.at(kind) : kExitRefused);
        if (!doc.contains("error_code")) continue;
        EXPECT_EQ(doc["error_code"], entry->error_code);
        EXPECT_TRUE(entry->what && entry->next_step);
    }
    EXPECT_EQ(exit_code_for_result(json::parse(R"({"status":"error","error_code":"NEW"})")), kExitRefused);
    EXPECT_EQ(exit_code_for_result(json::parse(R"({"status":"done"})")), kExitUnknown);
}

std::string probe(const char* login_state, int rooms, const char16_t* draft = u"") {
    return capture_stream([&](FILE* out) {
        write_probe_head(out, reinterpret_cast<HWND>(0x10), 42, login_state);
        for (int i = 0; i < rooms; ++i) {
            if (i) write_probe_separator(out);
            const std::string name = "Room " + std::to_string(i + 1);
            const std::u16string title(name.begin(), name.end());
            write_probe_room(out, reinterpret_cast<HWND>(0x20), nullptr, title.c_str(), i ? u"" : draft);
        }
        write_probe_tail(out);
    });
}

std::string room_lines(int rooms) {
    std::string lines;
    for (int i = 0; i < rooms; ++i) lines += "  \"Room " + std::to_string(i + 1) + "\"\n";
    return lines;
}

TEST(Summary, ProbeDocuments) {
    const print_row rows[] = {
        {"no room", probe("locked", 0), "client locked, 0 rooms open\n"},
        {"no main window", capture_stream([](FILE* out) {
             write_probe_head(out, nullptr, 0, "logged_out");
             write_probe_tail(out);
         }),
         "client not found (no main window EVA_Window_Dblclk), 0 rooms open\n"},
        {"one room with a draft", probe("ready", 1, u"see\nyou"), "client ready, 1 room open\n  \"Room 1\"  draft \"see\\nyou\"\n"},
        {"the exe's limit", probe("ready", 32), "client ready, 32 rooms listed; more may be open\n" + room_lines(32)},
        {"an entry that is no room", R"({"login_state":"ready","open_rooms":[{"title":"A"},7]})",
         "client ready, 2 rooms open\n  \"A\"\n"},
    };
    for (const print_row& row : rows) expect_printed(print_probe_summary, row);
}

// An inspector's document of a sound client, with `change` merged over it.
std::string diagnosis(const json& change) {
    json doc = {
        {"client_pid", 42}, {"client_image", "KakaoTalk.exe"}, {"main_hwnd", 16}, {"login_state", "ready"},
        {"views", {{{"view", "chat_list_view"}, {"hwnd", 1}, {"visible", true}},
                   {{"view", "search_box"}, {"hwnd", 2}, {"visible", false}},
                   {{"view", "search_result_list"}, {"hwnd", 3}, {"visible", false}},
                   {{"view", "tab_strip"}, {"hwnd", 4}, {"visible", true}},
                   {{"view", "room_list"}, {"hwnd", 5}, {"visible", true}}}},
        {"client_windows", {{{"hwnd", 16}, {"kind", "main"}}, {{"hwnd", 32}, {"kind", "room"}}}},
        {"rooms", {{{"title", "Team"}, {"input_hwnd", 33}, {"input_length", 0}}}},
        {"other_windows", json::array()}};
    doc.merge_patch(change);
    return doc.dump();
}

void print_checklist_of(FILE* out, const json& doc) { print_checklist(out, checklist(doc, "/p")); }

TEST(Checklist, InspectorDocuments) {
    const std::string main_ok = "ok       client: process 42 (KakaoTalk.exe) in /p\nok       main window: found\n";
    const std::string one_main = "ok       one main window: no other window is titled \"카카오톡\"\n";
    const std::string by_name = "ok       rooms opened by name: search box found, hidden (chatdraft shows it "
                                "without activating anything); search result list found (hidden until a "
                                "search shows results)\n";
    const std::string by_tab = "ok       rooms opened by tab: tab strip and room list found\n";
    const std::string one_room = "ok       open rooms: 1 with an input box chatdraft reads and writes\n";
    const print_row rows[] = {
        {"sound client", diagnosis(json::object()),
         main_ok + one_main + "ok       logged in: the client is logged in\n" + one_room + by_name + by_tab},
        {"no client", diagnosis({{"client_pid", 0}}),
         "missing  client: no KakaoTalk.exe and no window of its class in /p: is the client running in "
         "this prefix?\n"},
        {"renamed classes", diagnosis({{"client_windows", json::array()}, {"other_windows", {{{"class", "NewFrame"}}}}}),
         "missing  client: KakaoTalk.exe (process 42) runs in /p but has no window of class "
         "EVA_Window_Dblclk; its windows are of classes NewFrame: the client may have renamed its classes\n"},
        {"no main window", diagnosis({{"main_hwnd", 0}}),
         "ok       client: process 42 (KakaoTalk.exe) in /p\nmissing  main window: no window titled "
         "\"카카오톡\": the login state, the search box and the tabs cannot be seen; a room that is not open "
         "cannot be opened (MAIN_WINDOW_NOT_FOUND)\n" + one_room},
        {"locked, a second main window, rooms without a working box",
         diagnosis({{"login_state", "locked"},
                    {"client_windows", {{{"kind", "main"}}, {{"kind", "second_main"}}}},
                    {"rooms", {{{"title", "Odd\n\u001b"}, {"input_hwnd", 0}, {"child_classes", {"A", "B"}}},
                               {{"title", "Hung"}, {"input_hwnd", 7}, {"input_length", -1}},
                               {{"title", "Fine"}, {"input_hwnd", 8}}}}}),
         main_ok + "missing  one main window: 1 more window is titled \"카카오톡\": chatdraft takes the first "
                   "that shows the online or lock view, and never writes into a room so titled\n"
                   "missing  logged in: the client shows its PIN lock: every request ends in KAKAO_LOCKED "
                   "until it is unlocked\nmissing  open rooms: 1 with an input box chatdraft reads and "
                   "writes, 2 without one it recognises or that answers, never written into: "
                   "\"Odd\\n\\u001b\" (children: A, B); \"Hung\" (its input box did not answer)\n" +
             by_name + by_tab},
        {"no result list, no tab strip, logged out",
         diagnosis({{"login_state", "logged_out"},
                    {"views", {{{"view", "chat_list_view"}, {"hwnd", 1}}, {{"view", "search_box"}, {"hwnd", 2}, {"visible", true}},
                               {{"view", "room_list"}, {"hwnd", 5}}}}}),
         main_ok + one_main + "missing  logged in: neither the online nor the lock view is visible: the "
                              "client is not logged in\n" + one_room +
             "missing  rooms opened by name: search box found; no search result list: only the first "
             "result of a search can be opened\nmissing  rooms opened by tab: no tab strip: a room that is "
             "not open cannot be opened through a tab (-t)\n"},
    };
    for (const print_row& row : rows) expect_printed(print_checklist_of, row);
}

}  // namespace
