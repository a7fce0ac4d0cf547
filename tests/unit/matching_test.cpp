// Room title matching and the ordering of the candidate table.
#include <gtest/gtest.h>

#include <ostream>

#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "match.h"
#include "window_model.h"

namespace {

std::u16string normalized(const std::u16string& text, int capacity) {
    std::u16string buffer(static_cast<size_t>(capacity) + 1, u'#');
    normalize_room_str(text.c_str(), buffer.data(), capacity);
    return std::u16string(buffer.c_str());
}

struct match_row {
    const char* name;
    std::u16string title, room, resolved, normal;
    int32_t score;
};
// Test names show the row name, not the row's bytes.
void PrintTo(const match_row& row, std::ostream* os) { *os << row.name; }


const match_row kMatchRows[] = {
    {"equal_after_blanks_and_case", u"Team Alpha", u"team alpha", u"", u"teamalpha", 95},
    {"both_equal_larger_full_score", u"Team Alpha", u"teamalpha", u"Team Alpha", u"teamalpha", 100},
    {"room_prefix", u"Team Alpha 2", u"Team Alpha", u"", u"teamalpha2", 80},
    {"resolved_prefix", u"Team Alpha 2", u"", u"TEAM ALPHA", u"teamalpha2", 85},
    {"prefix_then_comma", u"Alpha, Beta, Gamma", u"Alpha", u"", u"alpha,beta,gamma", 40},
    {"whole_title_with_commas", u"Alpha, Beta, Gamma", u"Alpha, Beta, Gamma", u"", u"alpha,beta,gamma", 95},
    {"found_inside", u"Weekend Alpha Club", u"alpha", u"", u"weekendalphaclub", 40},
    {"query_longer_than_title", u"Alpha", u"Alpha Team", u"", u"alpha", 0},
    {"hangul_space_dropped", u"우리 가족", u"우리가족", u"", u"우리가족", 95},
    {"only_a_to_z_lowered", u"\u00C9T\u00C9", u"\u00E9t\u00E9", u"", u"\u00C9t\u00C9", 0},
    {"no_break_space_kept", u"Team\u00A0Alpha", u"team alpha", u"", u"team\u00A0alpha", 0},
    {"blank_query", u"Team Alpha", u"   ", u"", u"teamalpha", 0},
    {"empty_title", u"", u"team", u"team", u"", 0},
    {"blank_title", u" \t\r\n", u"team", u"team", u"", 0},
    {"tabs_and_breaks_dropped", u"Team\r\nAlpha", u"team\talpha", u"", u"teamalpha", 95},
    {"repeated_prefix", u"alphaalpha", u"alpha", u"", u"alphaalpha", 80},
    {"inside_on_room_nothing_on_resolved", u"xx alpha", u"alpha", u"yy", u"xxalpha", 40},
    {"resolved_prefix_beats_room_inside", u"Team Alpha 2", u"alpha", u"team", u"teamalpha2", 85},
    {"both_queries_empty", u"Team Alpha", u"", u"", u"teamalpha", 0},
    {"other_controls_kept", u"a\u0001b", u"ab", u"", u"a\u0001b", 0},
};

class match_table : public ::testing::TestWithParam<match_row> {};

TEST_P(match_table, scores_and_normalizes) {
    const match_row& row = GetParam();
    EXPECT_EQ(normalized(row.title, 511), row.normal);
    EXPECT_EQ(compute_match_score(row.title.c_str(), row.room.c_str(), row.resolved.c_str()),
              row.score);
}

INSTANTIATE_TEST_SUITE_P(rows, match_table, ::testing::ValuesIn(kMatchRows),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(normalize_room_str, keeps_capacity_minus_one_units_and_blanks_do_not_count) {
    EXPECT_EQ(normalized(std::u16string(300, u'A'), 255), std::u16string(254, u'a'));
    std::u16string spaced;
    for (int i = 0; i < 300; ++i) spaced += u" b";
    EXPECT_EQ(normalized(spaced, 255), std::u16string(254, u'b'));
    EXPECT_EQ(normalized(u"abc", 2), u"a");
    EXPECT_EQ(normalized(u"", 255), u"");
}

TEST(score_one_query, query_cut_to_254_kept_units) {
    const std::u16string title254(254, u'a'), title255(255, u'a');
    const std::u16string query255(255, u'a');
    EXPECT_EQ(score_one_query(title254.c_str(), query255.c_str(), 95), 0);
    EXPECT_EQ(score_one_query(title255.c_str(), query255.c_str(), 95), 80);
    EXPECT_EQ(score_one_query(u"teamalpha", u"", 100), 0);
    EXPECT_EQ(score_one_query(u"teamalpha", u" ALPHA", 100), 40);
}

// A name longer than a query holds is compared by its first 254 units that
// count: never as equal, at most as a prefix (with no comma rule after the cut).
TEST(copy_room_query, long_name_is_scored_whole_or_as_cut) {
    const std::u16string a150(150, u'a'), a254(254, u'a'), a300(300, u'a');
    const std::pair<std::u16string, std::u16string> rows[] = {
        {a300, a254}, {a300, a300}, {a300, a254 + u",b"}, {a150 + std::u16string(200, u' ') + u"b", a150 + u"b"},
        {std::u16string(300, u' '), u"any room"}};
    const int32_t scores[] = {0, 80, 80, 95, 0};
    for (size_t i = 0; i < std::size(rows); ++i) {
        WCHAR query[kQueryUnits] = {};
        copy_room_query(rows[i].first.c_str(), query, kQueryUnits);
        EXPECT_EQ(compute_match_score(rows[i].second.c_str(), query, u""), scores[i]) << i;
    }
}

TEST(compute_match_score, title_of_510_units_is_whole_and_longer_is_cut) {
    const std::u16string title510 = std::u16string(509, u'a') + u"q";
    const std::u16string title511 = std::u16string(510, u'a') + u"q";
    EXPECT_EQ(compute_match_score(title510.c_str(), u"aq", u""), 40);
    EXPECT_EQ(compute_match_score(title511.c_str(), u"aq", u""), 0);
}

struct sort_row {
    const char* name;
    std::vector<std::pair<char16_t, int32_t>> before, after;
};
// Test names show the row name, not the row's bytes.
void PrintTo(const sort_row& row, std::ostream* os) { *os << row.name; }


const sort_row kSortRows[] = {
    {"empty", {}, {}},
    {"single", {{u'A', 40}}, {{u'A', 40}}},
    {"pqr_example", {{u'P', 40}, {u'Q', 40}, {u'R', 80}}, {{u'R', 80}, {u'Q', 40}, {u'P', 40}}},
    {"tie_moved_past_equal", {{u'P', 40}, {u'Q', 40}, {u'R', 80}, {u'S', 40}},
     {{u'R', 80}, {u'Q', 40}, {u'P', 40}, {u'S', 40}}},
    {"equal_top_pair", {{u'A', 50}, {u'B', 80}, {u'C', 80}}, {{u'B', 80}, {u'C', 80}, {u'A', 50}}},
    {"ascending", {{u'A', 10}, {u'B', 20}, {u'C', 30}}, {{u'C', 30}, {u'B', 20}, {u'A', 10}}},
    {"all_equal", {{u'A', 40}, {u'B', 40}, {u'C', 40}}, {{u'A', 40}, {u'B', 40}, {u'C', 40}}},
    {"signed_compare", {{u'A', -1}, {u'B', 0}}, {{u'B', 0}, {u'A', -1}}},
};

class sort_table : public ::testing::TestWithParam<sort_row> {};

TEST_P(sort_table, exchange_order) {
    const sort_row& row = GetParam();
    auto set = std::make_unique<room_match_set>();
    for (const auto& [name, score] : row.before) {
        room_candidate& c = set->candidates[set->count++];
        c.title[0] = name;
        c.score = score;
        c.hwnd = reinterpret_cast<HWND>(static_cast<uintptr_t>(name));
    }
    sort_matches(set.get());
    ASSERT_EQ(set->count, static_cast<int32_t>(row.after.size()));
    for (size_t i = 0; i < row.after.size(); ++i) {
        const room_candidate& c = set->candidates[i];
        EXPECT_EQ(c.title[0], row.after[i].first) << "position " << i;
        EXPECT_EQ(c.score, row.after[i].second) << "position " << i;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(c.hwnd), static_cast<uintptr_t>(c.title[0]));
    }
}

INSTANTIATE_TEST_SUITE_P(rows, sort_table, ::testing::ValuesIn(kSortRows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
