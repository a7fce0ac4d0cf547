// The result documents of request mode, byte for byte.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>

#include "documents.h"
#include "draft.h"
#include "golden_texts.h"
#include "outcome_docs.h"
#include "window_model.h"

namespace {

// One line, ended by its only LF.
void expect_one_line(const std::string& doc, const char* name) {
    ASSERT_FALSE(doc.empty()) << name;
    EXPECT_EQ('\n', doc.back()) << name;
    EXPECT_EQ(doc.size() - 1, doc.find('\n')) << name;
    EXPECT_EQ(std::string::npos, doc.find('\r')) << name;
}

struct fixed_row {
    const char* name;  // the golden file's entry
    outcome kind;
};

TEST(FixedDocuments, ByteForByte) {
    const fixed_row rows[] = {
        {"KAKAO_LOCKED", outcome::kakao_locked},
        {"NEEDS_OPEN_ROOM short", outcome::no_open_room},
        {"MAIN_WINDOW_NOT_FOUND", outcome::main_window_not_found},
        {"NEEDS_OPEN_ROOM long", outcome::room_not_opened},
    };
    for (const auto& row : rows) {
        std::string doc = bare_doc(row.kind);
        EXPECT_EQ(golden_error_doc(row.name), doc) << row.name;
        EXPECT_EQ(golden_errors().at(row.name).at("document_bytes").get<size_t>(), doc.size())
            << row.name;
        expect_one_line(doc, row.name);
    }
}

room_match_set three_candidates() {
    room_match_set set{};
    const WCHAR* titles[] = {u"Team A", u"Team \"A\" 2", u"\uD300 A\\b"};
    const int32_t scores[] = {95, 95, 80};
    for (int i = 0; i < 3; ++i) {
        memcpy(set.candidates[i].title, titles[i],
               sizeof(WCHAR) * (std::char_traits<char16_t>::length(titles[i]) + 1));
        set.candidates[i].score = scores[i];
    }
    set.count = 3;
    return set;
}

constexpr char kAmbiguousHead[] =
    "{\"status\":\"error\",\"error_code\":\"AMBIGUOUS_ROOM\",\"top_score\":";
std::string ambiguous_text() {
    return ",\"error\":" + golden_error_string("AMBIGUOUS_ROOM") + ",\"candidates\":[";
}

TEST(AmbiguousRoomDocument, ListsEveryCandidateInSetOrder) {
    room_match_set set = three_candidates();
    std::string doc = outcome_doc(ambiguous_room_report(&set));
    EXPECT_EQ(std::string(kAmbiguousHead) + "95" + ambiguous_text() +
                  "\"Team A\",\"Team \\\"A\\\" 2\",\"\xED\x8C\x80 A\\\\b\"]}\n",
              doc);
    expect_one_line(doc, "three candidates");
}

TEST(AmbiguousRoomDocument, TopScoreIsTheFirstCandidates) {
    room_match_set set = three_candidates();
    set.candidates[0].score = 40;
    set.count = 1;
    std::string doc = outcome_doc(ambiguous_room_report(&set));
    EXPECT_EQ(std::string(kAmbiguousHead) + "40" + ambiguous_text() + "\"Team A\"]}\n", doc);
}

TEST(AmbiguousRoomDocument, FullTableOfThirtyTwo) {
    room_match_set set{};
    for (int i = 0; i < kMaxCandidates; ++i) {
        set.candidates[i].title[0] = u'r';
        set.candidates[i].title[1] = static_cast<WCHAR>(u'a' + i % 26);
        set.candidates[i].title[2] = static_cast<WCHAR>(u'0' + i / 26);
        set.candidates[i].score = 80;
    }
    set.count = kMaxCandidates;
    std::string doc = outcome_doc(ambiguous_room_report(&set));
    std::string list;
    for (int i = 0; i < kMaxCandidates; ++i)
        list += std::string(i ? "," : "") + "\"r" + static_cast<char>('a' + i % 26) +
                static_cast<char>('0' + i / 26) + "\"";
    EXPECT_EQ(std::string(kAmbiguousHead) + "80" + ambiguous_text() + list + "]}\n", doc);
}

TEST(DraftExistsDocument, ByteForByte) {
    std::string doc = draft_exists_doc(u"\uD300", u"old\r\ndraft \"x\"");
    EXPECT_EQ("{\"status\":\"error\",\"error_code\":\"DRAFT_EXISTS\",\"room_title\":\"\xED\x8C\x80\","
              "\"existing_draft\":\"old\\r\\ndraft \\\"x\\\"\",\"error\":" +
                  golden_error_string("DRAFT_EXISTS") + "}\n",
              doc);
    expect_one_line(doc, "DRAFT_EXISTS");
}

TEST(WriteMismatchDocument, ByteForByteAndNoTextAsEmpty) {
    const std::string tail = ",\"error\":" + golden_error_string("WRITE_MISMATCH") + "}\n";
    const char* head = "{\"status\":\"error\",\"error_code\":\"WRITE_MISMATCH\",\"room_title\":";
    std::string doc = write_mismatch_doc(u"R", u"hell\to");
    EXPECT_EQ(std::string(head) + "\"R\",\"written_text\":\"hell\\to\"" + tail, doc);
    doc = write_mismatch_doc(u"R", nullptr);
    EXPECT_EQ(std::string(head) + "\"R\",\"written_text\":\"\"" + tail, doc);
}

struct success_row {
    const char* name;
    run_report report;
    std::string expected;
};

HWND handle(uint64_t n) { return reinterpret_cast<HWND>(static_cast<uintptr_t>(n)); }

TEST(SuccessDocument, ByteForByte) {
    const success_row rows[] = {
        {"sent from an open room",
         success_report(outcome::sent, u"Team A", 95, handle(0x10082), handle(0x200A4), false, u"", u"hi", u""),
         "{\"status\":\"sent\",\"room_title\":\"Team A\",\"match_score\":95,\"window_hwnd\":65666,"
         "\"input_hwnd\":131236,\"opened_new_window\":false,\"focus_touched\":false,"
         "\"previous_input_text\":\"\",\"written_text\":\"hi\",\"remaining_input_text\":\"\"}\n"},
        {"opened room, big handles, no texts",
         success_report(outcome::send_unconfirmed, u"\uD300", 100, handle(UINT64_MAX),
                        handle(0x80000000ull), true, nullptr, nullptr, nullptr),
         "{\"status\":\"send_unconfirmed\",\"room_title\":\"\xED\x8C\x80\",\"match_score\":100,"
         "\"window_hwnd\":18446744073709551615,\"input_hwnd\":2147483648,"
         "\"opened_new_window\":true,\"focus_touched\":false,\"previous_input_text\":\"\","
         "\"written_text\":\"\",\"remaining_input_text\":\"\"}\n"},
        {"draft with line breaks",
         success_report(outcome::draft_written, u"R", 80, handle(1), handle(2), false, u"a", u"a\r\nb",
                        u"a\r\nb"),
         "{\"status\":\"draft_written\",\"room_title\":\"R\",\"match_score\":80,\"window_hwnd\":1,"
         "\"input_hwnd\":2,\"opened_new_window\":false,\"focus_touched\":false,"
         "\"previous_input_text\":\"a\",\"written_text\":\"a\\r\\nb\","
         "\"remaining_input_text\":\"a\\r\\nb\"}\n"},
    };
    for (const auto& row : rows) {
        std::string doc = outcome_doc(row.report);
        EXPECT_EQ(row.expected, doc) << row.name;
        expect_one_line(doc, row.name);
    }
}

// Every outcome has its own one-line document, and `none` has none: a row
// missing from the table, or two outcomes that read alike, fail here.
TEST(OutcomeTable, EveryOutcomeWritesItsOwnDocument) {
    EXPECT_EQ("", bare_doc(outcome::none));
    std::set<std::string> seen;
    for (int k = 1; k < kOutcomeCount; ++k) {
        const std::string doc = bare_doc(static_cast<outcome>(k));
        const std::string name = "outcome " + std::to_string(k);
        expect_one_line(doc, name.c_str());
        const nlohmann::json parsed = nlohmann::json::parse(doc);
        const std::string code = parsed.value("error_code", "");
        const std::string text = parsed.value("error", "");
        EXPECT_TRUE(seen.insert(parsed.value("status", "") + code + text).second) << name;
        // An error's text is the golden one of its code.
        if (!code.empty()) {
            const nlohmann::json& g = golden_errors();
            const bool golden = g.contains(code) ? g[code]["text"] == text
                                                 : g.at(code + " short")["text"] == text ||
                                                       g.at(code + " long")["text"] == text;
            EXPECT_TRUE(golden) << name;
        }
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(kOutcomeCount - 1));
}

}  // namespace
