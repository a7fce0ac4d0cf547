// Newline-insensitive text comparison, and what selection, writing and room
// opening do on a desktop where no window answers.
#include <gtest/gtest.h>

#include <ostream>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "documents.h"
#include "draft.h"
#include "edit_box.h"
#include "open_room.h"
#include "outcome_docs.h"

namespace {

struct newline_row {
    const char* name;
    std::u16string source;
    size_t capacity;
    std::u16string expected;
};
// Test names show the row name, not the row's bytes.
void PrintTo(const newline_row& row, std::ostream* os) { *os << row.name; }


const newline_row kNewlineRows[] = {
    {"cr_lf", u"a\r\nb", 10, u"a\nb"},
    {"lone_cr", u"a\rb", 10, u"a\nb"},
    {"lone_lf", u"a\nb", 10, u"a\nb"},
    {"cr_cr_lf", u"\r\r\n", 10, u"\n\n"},
    {"lf_cr", u"\n\r", 10, u"\n\n"},
    {"ends_in_lone_cr", u"ab\r", 10, u"ab\n"},
    {"empty", u"", 10, u""},
    {"capacity_one", u"abc", 1, u""},
    {"capacity_three", u"abc", 3, u"ab"},
    {"cut_after_a_pair", u"\r\nab", 2, u"\n"},
};

class newline_table : public ::testing::TestWithParam<newline_row> {};

TEST_P(newline_table, normalizes) {
    const newline_row& row = GetParam();
    std::u16string out(row.capacity + 1, u'#');
    normalize_newlines(row.source.c_str(), out.data(), row.capacity);
    EXPECT_EQ(std::u16string(out.c_str()), row.expected);
}

INSTANTIATE_TEST_SUITE_P(rows, newline_table, ::testing::ValuesIn(kNewlineRows),
                         [](const auto& info) { return std::string(info.param.name); });

struct equal_row {
    const char* name;
    const char16_t* a;
    const char16_t* b;
    bool equal;
};
// Test names show the row name, not the row's bytes.
void PrintTo(const equal_row& row, std::ostream* os) { *os << row.name; }


const equal_row kEqualRows[] = {
    {"null_null", nullptr, nullptr, true},
    {"null_empty", nullptr, u"", true},
    {"empty_null", u"", nullptr, true},
    {"null_text", nullptr, u"a", false},
    {"crlf_cr", u"a\r\nb", u"a\rb", true},
    {"crlf_lf", u"a\r\nb", u"a\nb", true},
    {"trailing_lf", u"a\n", u"a", false},
    {"letter_case", u"A", u"a", false},
    {"one_space", u"a b", u"ab", false},
    {"two_lf_vs_one_crlf", u"a\n\nb", u"a\r\nb", false},
};

class equal_table : public ::testing::TestWithParam<equal_row> {};

TEST_P(equal_table, compares_after_newline_normalization) {
    const equal_row& row = GetParam();
    EXPECT_EQ(text_equals_normalized(row.a, row.b), row.equal);
    EXPECT_EQ(text_equals_normalized(row.b, row.a), row.equal);
}

INSTANTIATE_TEST_SUITE_P(rows, equal_table, ::testing::ValuesIn(kEqualRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(get_edit_text_alloc, window_that_does_not_answer_reads_as_empty_text) {
    WCHAR* text = get_edit_text_alloc(reinterpret_cast<HWND>(0x1234));
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text[0], 0);
    free(text);
}

// ---- selection and writing with nothing answering ---------------------------------

HWND fake_hwnd(uintptr_t n) { return reinterpret_cast<HWND>(n); }

std::unique_ptr<room_match_set> table_of(const std::vector<std::pair<std::u16string, int32_t>>& rows) {
    auto set = std::make_unique<room_match_set>();
    set->room[0] = u'T';  // a named request: the scores below stand as given
    for (const auto& [title, score] : rows) {
        room_candidate& c = set->candidates[set->count];
        c.hwnd = fake_hwnd(0x100 + 0x10 * static_cast<uintptr_t>(set->count));
        c.input_hwnd = fake_hwnd(0x108 + 0x10 * static_cast<uintptr_t>(set->count));
        for (size_t i = 0; i < title.size(); ++i) c.title[i] = title[i];
        c.score = score;
        ++set->count;
    }
    return set;
}

// Ambiguous rows are refused before any box is touched, listing every
// candidate; the others go on to the box (which nothing answers here).
TEST(select_room_and_write_draft, ties_weak_sends_and_left_out_matches_are_ambiguous) {
    struct row {
        const char* name;
        std::vector<std::pair<std::u16string, int32_t>> table;
        bool send, exact;
        int32_t left_out;
        bool ambiguous;
    } rows[] = {
        {"tie_without_send", {{u"Room A", 95}, {u"Room A", 95}}, false, false, 0, true},
        {"tie_below_top_listed", {{u"Alpha 1", 80}, {u"Alpha 2", 80}, {u"x alpha", 40}}, true, false, 0, true},
        {"weak_with_send", {{u"Team", 79}}, true, false, 0, true},
        {"weak_top_with_lower_rest", {{u"a,b", 40}, {u"b alpha", 0}}, true, false, 0, true},
        {"prefix_send", {{u"Team Alpha Ops", 80}}, true, false, 0, false},
        {"better_match_left_out", {{u"Team Alpha Ops", 80}}, true, false, 95, true},
        {"better_match_left_out_draft", {{u"Team Alpha Ops", 80}}, false, false, 95, true},
        {"equal_match_left_out_is_a_tie", {{u"Team Alpha", 95}}, false, false, 95, true},
        {"weaker_match_left_out", {{u"Team Alpha", 95}}, true, false, 80, false},
        {"exact_send_of_a_prefix_room", {{u"김민지", 80}}, true, true, 0, true},
        {"exact_send_of_a_resolved_prefix", {{u"김민지", 85}}, true, true, 0, true},
        {"exact_send_of_an_equal_title", {{u"김민", 95}}, true, true, 0, false},
        {"exact_send_of_an_equal_resolved_name", {{u"김민", 100}}, true, true, 0, false},
        {"exact_draft_of_a_prefix_room", {{u"김민지", 80}}, false, true, 0, true},
        {"exact_draft_of_an_equal_title", {{u"김민", 95}}, false, true, 0, false},
    };
    for (const auto& r : rows) {
        auto set = table_of(r.table);
        set->left_out_score = r.left_out;
        request req{};
        req.send = r.send;
        req.exact = r.exact;
        req.message = const_cast<WCHAR*>(u"hi");
        const std::string expected =
            outcome_doc(ambiguous_room_report(set.get()));
        EXPECT_EQ(draft_step_doc(set.get(), &req) == expected, r.ambiguous) << r.name;
        EXPECT_NE(expected.find("\"top_score\":" + std::to_string(r.table[0].second)),
                  std::string::npos) << r.name;
    }
}

// Naming no room makes every open room a candidate at score 100: a draft may
// go into the only open room, a message is never sent there.
TEST(select_room_and_write_draft, unnamed_request_never_sends) {
    for (bool send : {true, false}) {
        auto set = table_of({{u"Only room", 100}});
        set->room[0] = 0;
        request req{};
        req.send = send;
        req.message = const_cast<WCHAR*>(u"hi");
        const std::string ambiguous =
            outcome_doc(ambiguous_room_report(set.get()));
        EXPECT_EQ(draft_step_doc(set.get(), &req) == ambiguous, send) << "send " << send;
    }
}

TEST(select_room_and_write_draft, outcomes_when_no_box_answers) {
    auto set = table_of({{u"Team Alpha", 80}, {u"Team Alpha 2", 79}});
    const room_candidate& top = set->candidates[0];
    struct row {
        const char* name;
        bool send, clear;
        const char16_t* message;
        const char* status;  // null: WRITE_MISMATCH
    } rows[] = {
        {"send_at_80_nothing_answers", true, false, u"hi", nullptr},
        // A box that does not answer may hold a draft: nothing is written.
        {"empty_message_unread_box", false, false, u"", nullptr},
        {"absent_message_with_send_unread_box", true, false, nullptr, nullptr},
        // No success without an answer: the box may still hold its draft.
        {"clear_with_send", true, true, u"hi", nullptr},
    };
    for (const auto& r : rows) {
        request req{};
        req.send = r.send;
        req.clear = r.clear;
        req.close_after = true;
        req.message = const_cast<WCHAR*>(r.message);
        std::string expected;
        if (!r.status) {
            expected = write_mismatch_doc(top.title, u"");
        } else {
            expected = success_doc(r.status, top, u"", u"", u"");
        }
        EXPECT_EQ(draft_step_doc(set.get(), &req), expected) << r.name;
    }
}

// ---- room opening with nothing answering -------------------------------------------

outcome opening_outcome(const request& req, main_window_info info, room_match_set* set) {
    auto existing = std::make_unique<existing_window_set>();
    bool opened = true;
    const outcome refusal = open_room_via_main_window(&req, &info, set, existing.get(), &opened);
    EXPECT_FALSE(opened);
    return refusal;
}

TEST(open_room_via_main_window, refusal_order_when_nothing_can_be_opened) {
    constexpr outcome short_doc = outcome::no_open_room;
    constexpr outcome no_main = outcome::main_window_not_found;
    constexpr outcome long_doc = outcome::room_not_opened;
    main_window_info absent{};
    main_window_info present{};
    present.main_hwnd = fake_hwnd(0x500);
    present.search_box = fake_hwnd(0x510);
    present.chat_list_view = fake_hwnd(0x520);
    struct row {
        const char* name;
        const char16_t* ui_mode;
        const char16_t* room;
        const main_window_info* info;
        outcome expected;
    } rows[] = {
        {"strict_before_missing_main", u"strict_open_only", u"Team", &absent, short_doc},
        {"strict_other_case_goes_on", u"Strict_open_only", u"Team", &absent, no_main},
        {"missing_main", nullptr, u"Team", &absent, no_main},
        {"named_room_not_opened", u"", u"Team", &present, long_doc},
        {"no_name_not_opened", nullptr, nullptr, &present, long_doc},
        {"strict_with_main", u"strict_open_only", u"Team", &present, short_doc},
    };
    for (const auto& r : rows) {
        request req{};
        req.ui_mode = const_cast<WCHAR*>(r.ui_mode);
        req.room = const_cast<WCHAR*>(r.room);
        auto set = std::make_unique<room_match_set>();
        for (size_t i = 0; r.room && r.room[i]; ++i) set->room[i] = r.room[i];
        EXPECT_EQ(opening_outcome(req, *r.info, set.get()), r.expected) << r.name;
    }
}

}  // namespace
