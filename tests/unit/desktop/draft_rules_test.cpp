// Writing the draft: the flag rules, the readback, the send poll, close_after,
// and the document each outcome writes.
#include <gtest/gtest.h>

#include <ostream>

#include <memory>

#include "documents.h"
#include "draft.h"
#include "edit_box.h"
#include "desktop/fake_desktop.h"
#include "outcome_docs.h"

namespace {

constexpr char16_t kTitle[] = u"Team Alpha";

struct draft_case {
    int room;
    std::unique_ptr<room_match_set> set = std::make_unique<room_match_set>();
    request req{};

    explicit draft_case(const std::u16string& draft) : room(add_chat_room(kTitle, draft)) {
        room_candidate& top = set->candidates[set->count++];
        top.hwnd = handle_of(room);
        top.input_hwnd = handle_of(room + 2);
        for (size_t i = 0; kTitle[i]; ++i) top.title[i] = kTitle[i];
        for (size_t i = 0; kTitle[i]; ++i) set->room[i] = kTitle[i];
        top.score = 95;
    }
    fake_window& box() { return current_desktop().windows[static_cast<size_t>(room + 2)]; }
    std::string run() {
        return draft_step_doc(set.get(), &req);
    }
    std::string success(const char* status, const std::u16string& previous,
                        const std::u16string& written, const std::u16string& remaining) {
        return success_doc(status, set->candidates[0], previous.c_str(), written.c_str(),
                           remaining.c_str());
    }
    bool got(HWND hwnd, UINT msg) {
        for (const fake_event& e : events_to(hwnd))
            if (e.msg == msg) return true;
        return false;
    }
};

enum class ends { success, draft_exists, mismatch };

struct flag_row {
    const char* name;
    std::u16string draft;
    const char16_t* message;  // null: the request has none
    bool clear, append, force, send;
    ends result;
    const char* status;
    std::u16string written, remaining;
};
// Test names show the row name, not the row's bytes.
void PrintTo(const flag_row& row, std::ostream* os) { *os << row.name; }


const flag_row kFlagRows[] = {
    {"no_flag_empty_box", u"", u"hi", false, false, false, false, ends::success, "draft_written", u"hi", u"hi"},
    {"no_flag_other_draft", u"mine", u"hi", false, false, false, false, ends::draft_exists, nullptr, u"", u""},
    {"no_flag_blank_draft", u" ", u"hi", false, false, false, false, ends::draft_exists, nullptr, u"", u""},
    {"no_flag_absent_message", u"mine", nullptr, false, false, false, false, ends::draft_exists, nullptr, u"", u""},
    {"no_flag_equal_draft_rewritten", u"a\r\nb", u"a\nb", false, false, false, true, ends::success, "sent", u"a\r\nb", u""},
    {"append_joins_with_crlf", u"line1", u"line2", false, true, false, false, ends::success, "draft_written", u"line1\r\nline2", u"line1\r\nline2"},
    {"append_on_empty_box", u"", u"hi", false, true, false, false, ends::success, "draft_written", u"hi", u"hi"},
    {"append_and_force_append", u"x", u"hi", false, true, true, false, ends::success, "draft_written", u"x\r\nhi", u"x\r\nhi"},
    {"force_overwrites", u"mine", u"hi", false, false, true, false, ends::success, "draft_written", u"hi", u"hi"},
    {"clear_empties", u"mine", u"hi", true, false, false, false, ends::success, "cleared", u"", u""},
    {"clear_wins_and_never_sends", u"mine", u"hi", true, true, true, true, ends::success, "cleared", u"", u""},
    {"send_confirmed", u"", u"hi", false, false, false, true, ends::success, "sent", u"hi", u""},
    {"send_of_empty_text_no_enter", u"", u"", false, false, false, true, ends::success, "draft_written", u"", u""},
};

class flag_table : public ::testing::TestWithParam<flag_row> {};

TEST_P(flag_table, outcome_document_and_box) {
    const flag_row& row = GetParam();
    fake_desktop_scope scope;
    draft_case c(row.draft);
    c.req = request{};
    c.req.message = const_cast<WCHAR*>(row.message);
    c.req.clear = row.clear;
    c.req.append = row.append;
    c.req.force = row.force;
    c.req.send = row.send;
    const std::string doc = c.run();
    HWND box = handle_of(c.room + 2);
    if (row.result == ends::draft_exists) {
        EXPECT_EQ(doc, draft_exists_doc(kTitle, row.draft.c_str()));
        EXPECT_EQ(c.box().text, row.draft);
        EXPECT_FALSE(c.got(box, EM_REPLACESEL));
        return;
    }
    EXPECT_EQ(doc, c.success(row.status, row.draft, row.written, row.remaining));
    EXPECT_EQ(c.box().text, row.remaining);
    EXPECT_EQ(c.got(box, WM_KEYDOWN), std::string(row.status) == "sent");
}

INSTANTIATE_TEST_SUITE_P(rows, flag_table, ::testing::ValuesIn(kFlagRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(send_poll, box_that_keeps_its_text_is_unconfirmed_after_fifteen_polls) {
    fake_desktop_scope scope;
    draft_case c(u"");
    c.box().empties_on_enter = false;
    c.req.message = const_cast<WCHAR*>(u"hi");
    c.req.send = true;
    EXPECT_EQ(c.run(), c.success("send_unconfirmed", u"", u"hi", u"hi"));
    std::vector<DWORD> waits(16, 100);
    EXPECT_EQ(scope.desk.sleeps, waits);
}

TEST(send_poll, first_empty_read_confirms_after_one_wait) {
    fake_desktop_scope scope;
    draft_case c(u"");
    c.req.message = const_cast<WCHAR*>(u"hi");
    c.req.send = true;
    EXPECT_EQ(c.run(), c.success("sent", u"", u"hi", u""));
    EXPECT_EQ(scope.desk.sleeps, (std::vector<DWORD>{100, 100}));
}

TEST(send_poll, box_that_stops_answering_or_closes_is_not_taken_as_sent) {
    for (bool closes : {false, true}) {
        fake_desktop_scope scope;
        draft_case c(u"");
        c.box().empties_on_enter = false;
        const int box = c.room + 2;
        scope.desk.react = [&](const fake_event& e) {
            if (e.posted && e.msg == WM_KEYDOWN) {
                fake_window& w = current_desktop().windows[static_cast<size_t>(box)];
                (closes ? w.alive : w.answers) = false;
            }
        };
        c.req.message = const_cast<WCHAR*>(u"hi");
        c.req.send = true;
        EXPECT_EQ(c.run(), c.success("send_unconfirmed", u"", u"hi", u"")) << closes;
    }
}

TEST(previous_text, unread_draft_is_kept_unless_the_request_overwrites_anything) {
    struct row {
        const char* name;
        bool append, force, clear;
        const char* status;  // null: WRITE_MISMATCH, nothing written
        std::u16string box_after;
    } rows[] = {
        {"no_flag", false, false, false, nullptr, u"mine"},
        {"append", true, false, false, nullptr, u"mine"},
        {"force", false, true, false, "draft_written", u"hi"},
        {"clear", false, false, true, "cleared", u""},
    };
    for (const auto& r : rows) {
        fake_desktop_scope scope;
        draft_case c(u"mine");
        c.box().silent_for = 1;  // the first read of the box times out
        c.req.message = const_cast<WCHAR*>(u"hi");
        c.req.append = r.append;
        c.req.force = r.force;
        c.req.clear = r.clear;
        c.req.close_after = true;
        const std::string doc = c.run();
        if (r.status) {
            EXPECT_EQ(doc, c.success(r.status, u"", r.box_after, r.box_after)) << r.name;
        } else {
            EXPECT_EQ(doc, write_mismatch_doc(kTitle, u""))
                << r.name;
            EXPECT_FALSE(c.got(handle_of(c.room + 2), EM_SETSEL)) << r.name;
            EXPECT_FALSE(c.got(handle_of(c.room), WM_CLOSE)) << r.name;
        }
        EXPECT_EQ(c.box().text, r.box_after) << r.name;
    }
}

TEST(readback, box_that_changes_the_text_gives_write_mismatch_and_no_enter) {
    fake_desktop_scope scope;
    draft_case c(u"");
    const int box = c.room + 2;
    scope.desk.react = [&](const fake_event& e) {
        if (e.msg == EM_REPLACESEL || e.msg == WM_SETTEXT)
            current_desktop().windows[static_cast<size_t>(box)].text = u"h";
    };
    c.req.message = const_cast<WCHAR*>(u"hi");
    c.req.send = true;
    c.req.close_after = true;
    EXPECT_EQ(c.run(), write_mismatch_doc(kTitle, u"h"));
    EXPECT_FALSE(c.got(handle_of(box), WM_KEYDOWN));
    EXPECT_FALSE(c.got(handle_of(c.room), WM_CLOSE));
}

TEST(close_after, closes_the_room_window_after_success_only) {
    struct row {
        const char* name;
        std::u16string draft;
        bool clear, closed;
    } rows[] = {{"written", u"", false, true}, {"cleared", u"x", true, true},
                {"draft_exists", u"x", false, false}};
    for (const auto& r : rows) {
        fake_desktop_scope scope;
        draft_case c(r.draft);
        c.req.message = const_cast<WCHAR*>(u"hi");
        c.req.clear = r.clear;
        c.req.close_after = true;
        c.run();
        EXPECT_EQ(c.got(handle_of(c.room), WM_CLOSE), r.closed) << r.name;
        EXPECT_FALSE(c.got(handle_of(c.room + 2), WM_CLOSE)) << r.name;
        if (r.closed) EXPECT_EQ(scope.desk.log.back().msg, WM_CLOSE) << r.name;
    }
}

TEST(text_to_write, allocation_failure_writes_nothing_and_reports_the_box) {
    struct row {
        const char* name;
        std::u16string draft;
        bool append;
    } rows[] = {{"copy_of_message", u"", false}, {"joined_append_text", u"mine", true}};
    for (const auto& r : rows) {
        fake_desktop_scope scope;
        draft_case c(r.draft);
        c.req.message = const_cast<WCHAR*>(u"hi");
        c.req.append = r.append;
        c.req.send = true;
        c.req.close_after = true;
        scope.desk.fail_calloc_at = 2;  // the first is the read of the previous text
        const std::string doc = c.run();
        EXPECT_EQ(doc, write_mismatch_doc(kTitle, r.draft.c_str())) << r.name;
        EXPECT_FALSE(c.got(handle_of(c.room + 2), EM_SETSEL)) << r.name;
        EXPECT_FALSE(c.got(handle_of(c.room + 2), WM_KEYDOWN)) << r.name;
        EXPECT_FALSE(c.got(handle_of(c.room), WM_CLOSE)) << r.name;
        EXPECT_EQ(c.box().text, r.draft) << r.name;
    }
}

// Boxes that misbehave: one fault a row. A success is reported only when the
// box answered with the whole of what was written, and a draft that could not
// be read whole is never written back.
struct fault_row {
    const char* name;
    std::u16string draft;
    const char16_t* message;
    bool clear, append, force;
    void (*fault)(fake_window& box, fake_desktop& desk);
    ends result;
    std::u16string reported;   // written_text or existing_draft of an error document
    std::u16string box_after;
};

const fault_row kFaultRows[] = {
    {"hung_box_is_not_cleared", u"keep me", u"", true, false, false,
     [](fake_window& b, fake_desktop&) { b.answers = false; }, ends::mismatch, u"", u"keep me"},
    {"hung_box_is_not_forced", u"keep me", u"", false, false, true,
     [](fake_window& b, fake_desktop&) { b.answers = false; }, ends::mismatch, u"", u"keep me"},
    {"box_that_will_not_empty", u"my draft", u"", true, false, false,
     [](fake_window& b, fake_desktop&) { b.ignores_writes = true; }, ends::mismatch, u"my draft", u"my draft"},
    {"no_memory_for_the_draft", u"mine", u"hi", false, false, false,
     [](fake_window&, fake_desktop& d) { d.fail_calloc_at = 1; }, ends::mismatch, u"", u"mine"},
    {"no_memory_for_the_draft_append", u"mine", u"hi", false, true, false,
     [](fake_window&, fake_desktop& d) { d.fail_calloc_at = 1; }, ends::mismatch, u"", u"mine"},
    {"break_counted_once_append_keeps_the_tail", u"line1\r\nline2", u"msg", false, true, false,
     [](fake_window& b, fake_desktop&) { b.counts_break_once = true; }, ends::success,
     u"line1\r\nline2\r\nmsg", u"line1\r\nline2\r\nmsg"},
    {"cut_draft_is_not_appended_to", u"line1\r\nline2", u"msg", false, true, false,
     [](fake_window& b, fake_desktop&) { b.reported_length = 3; }, ends::mismatch, u"line1\r",
     u"line1\r\nline2"},
    {"cut_draft_is_not_appended_to_with_force", u"line1\r\nline2", u"msg", false, true, true,
     [](fake_window& b, fake_desktop&) { b.reported_length = 3; }, ends::mismatch, u"line1\r",
     u"line1\r\nline2"},
    {"cut_draft_equal_to_the_message_exists", u"line1\r\nline2", u"line1\r", false, false, false,
     [](fake_window& b, fake_desktop&) { b.reported_length = 3; }, ends::draft_exists, u"line1\r",
     u"line1\r\nline2"},
    {"cut_draft_is_forced_over", u"line1\r\nline2", u"hi", false, false, true,
     [](fake_window& b, fake_desktop&) { b.reported_length = 3; }, ends::success, u"hi", u"hi"},
};
void PrintTo(const fault_row& row, std::ostream* os) { *os << row.name; }

class fault_table : public ::testing::TestWithParam<fault_row> {};

TEST_P(fault_table, outcome_and_box) {
    const fault_row& row = GetParam();
    fake_desktop_scope scope;
    draft_case c(row.draft);
    c.req.message = const_cast<WCHAR*>(row.message);
    c.req.clear = row.clear;
    c.req.append = row.append;
    c.req.force = row.force;
    c.req.close_after = true;
    row.fault(c.box(), scope.desk);
    const std::string doc = c.run();
    if (row.result == ends::success) {
        EXPECT_EQ(c.box().text, row.box_after);
        EXPECT_NE(doc.find("\"draft_written\""), std::string::npos) << doc;
        return;
    }
    EXPECT_EQ(doc, row.result == ends::mismatch ? write_mismatch_doc(kTitle, row.reported.c_str())
                                                : draft_exists_doc(kTitle, row.reported.c_str()));
    EXPECT_EQ(c.box().text, row.box_after);
    EXPECT_FALSE(c.got(handle_of(c.room), WM_CLOSE));
}

INSTANTIATE_TEST_SUITE_P(rows, fault_table, ::testing::ValuesIn(kFaultRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(send_poll, read_without_memory_after_enter_is_no_confirmation) {
    fake_desktop_scope scope;
    draft_case c(u"");
    c.box().empties_on_enter = false;
    scope.desk.react = [](const fake_event& e) {
        if (e.posted && e.msg == WM_KEYDOWN) current_desktop().fail_calloc_at = 1;
    };
    c.req.message = const_cast<WCHAR*>(u"hi");
    c.req.send = true;
    EXPECT_EQ(c.run(), c.success("send_unconfirmed", u"", u"hi", u"hi"));
}

// A client that answers every message just short of the time-out: the poll
// still ends once 1.5 s have passed since Enter, after one read.
TEST(send_poll, ends_after_a_second_and_a_half_however_slow_the_reads) {
    fake_desktop_scope scope;
    draft_case c(u"");
    c.box().empties_on_enter = false;
    c.box().answer_ms = 1900;
    c.req.message = const_cast<WCHAR*>(u"hi");
    c.req.send = true;
    EXPECT_EQ(c.run(), c.success("send_unconfirmed", u"", u"hi", u"hi"));
    EXPECT_EQ(scope.desk.sleeps, (std::vector<DWORD>{100, 100}));
}

// A value the request holds but that cannot be had in memory is never taken
// for an absent one: a huge message would become the empty text, which
// `force` writes over the draft. Each allocation of the reader fails in turn.
TEST(read_request, value_without_memory_refuses_the_request) {
    const char text[] = R"({"room":"Team Alpha","message":"hi","force":true})";
    constexpr int kAllocations = 4;  // two values, each decoded and converted
    for (int k = 1; k <= kAllocations + 1; ++k) {
        fake_desktop_scope scope;
        scope.desk.fail_calloc_at = k;
        request req{};
        EXPECT_EQ(read_request(text, sizeof text - 1, &req), k > kAllocations) << "allocation " << k;
        free_request(&req);
    }
}

}  // namespace
