// The result documents of request mode, byte for byte.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "documents.h"
#include "draft.h"
#include "stream_capture.h"
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
    const char* name;
    void (*write)(FILE*);
    std::string expected;
    size_t bytes;
};

TEST(FixedDocuments, ByteForByte) {
    const fixed_row rows[] = {
        {"KAKAO_LOCKED", write_locked_doc,
         "{\"status\":\"error\",\"error_code\":\"KAKAO_LOCKED\",\"error\":\"카카오톡이 잠금(PIN) "
         "모드 상태입니다. 잠금을 해제해 주세요.\"}\n",
         140},
        {"NEEDS_OPEN_ROOM short", write_needs_open_room_short_doc,
         "{\"status\":\"error\",\"error_code\":\"NEEDS_OPEN_ROOM\",\"error\":\"열려 있는 채팅방이 "
         "없습니다. 카카오톡에서 해당 방을 열어 두세요.\"}\n",
         152},
        {"MAIN_WINDOW_NOT_FOUND", write_main_window_not_found_doc,
         "{\"status\":\"error\",\"error_code\":\"MAIN_WINDOW_NOT_FOUND\",\"error\":\"카카오톡 메인 "
         "창(EVA_Window_Dblclk)을 찾을 수 없습니다.\"}\n",
         137},
        {"NEEDS_OPEN_ROOM long", write_needs_open_room_long_doc,
         "{\"status\":\"error\",\"error_code\":\"NEEDS_OPEN_ROOM\",\"error\":\"열려 있는 대상 "
         "채팅방을 찾을 수 없습니다. 우분투 Wine 환경에서는 포커스\xC2\xB7클립보드 보호를 위해 "
         "전역 단축키(Ctrl+F)를 사용하지 않으므로, 카카오톡에서 해당 채팅방을 한 번 열어 "
         "두세요.\"}\n",
         311},
    };
    for (const auto& row : rows) {
        std::string doc = capture_stream(row.write);
        EXPECT_EQ(row.expected, doc) << row.name;
        EXPECT_EQ(row.bytes, doc.size()) << row.name;
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
constexpr char kAmbiguousText[] =
    ",\"error\":\"동명이인 또는 부분 일치 채팅방이 있어 안전을 위해 중단했습니다. 정확한 방 "
    "이름이나 탭(-t)을 지정해 주세요.\",\"candidates\":[";

TEST(AmbiguousRoomDocument, ListsEveryCandidateInSetOrder) {
    room_match_set set = three_candidates();
    std::string doc = capture_stream([&](FILE* out) { write_ambiguous_room(&set, out); });
    EXPECT_EQ(std::string(kAmbiguousHead) + "95" + kAmbiguousText +
                  "\"Team A\",\"Team \\\"A\\\" 2\",\"\xED\x8C\x80 A\\\\b\"]}\n",
              doc);
    expect_one_line(doc, "three candidates");
}

TEST(AmbiguousRoomDocument, TopScoreIsTheFirstCandidates) {
    room_match_set set = three_candidates();
    set.candidates[0].score = 40;
    set.count = 1;
    std::string doc = capture_stream([&](FILE* out) { write_ambiguous_room(&set, out); });
    EXPECT_EQ(std::string(kAmbiguousHead) + "40" + kAmbiguousText + "\"Team A\"]}\n", doc);
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
    std::string doc = capture_stream([&](FILE* out) { write_ambiguous_room(&set, out); });
    std::string list;
    for (int i = 0; i < kMaxCandidates; ++i)
        list += std::string(i ? "," : "") + "\"r" + static_cast<char>('a' + i % 26) +
                static_cast<char>('0' + i / 26) + "\"";
    EXPECT_EQ(std::string(kAmbiguousHead) + "80" + kAmbiguousText + list + "]}\n", doc);
}

TEST(DraftExistsDocument, ByteForByte) {
    std::string doc = capture_stream(
        [](FILE* out) { write_draft_exists_doc(out, u"\uD300", u"old\r\ndraft \"x\""); });
    EXPECT_EQ("{\"status\":\"error\",\"error_code\":\"DRAFT_EXISTS\",\"room_title\":\"\xED\x8C\x80\","
              "\"existing_draft\":\"old\\r\\ndraft \\\"x\\\"\",\"error\":\"채팅방 입력창에 이미 "
              "작성 중인 초안이 있습니다. 이어 쓰려면 --append, 덮어쓰려면 --force, 비우려면 "
              "--clear를 지정하세요.\"}\n",
              doc);
    expect_one_line(doc, "DRAFT_EXISTS");
}

TEST(WriteMismatchDocument, ByteForByteAndNoTextAsEmpty) {
    const char* tail =
        ",\"error\":\"입력창 기입 내용 검증(readback)이 일치하지 않아 전송을 중단했습니다.\"}\n";
    const char* head = "{\"status\":\"error\",\"error_code\":\"WRITE_MISMATCH\",\"room_title\":";
    std::string doc =
        capture_stream([](FILE* out) { write_write_mismatch_doc(out, u"R", u"hell\to"); });
    EXPECT_EQ(std::string(head) + "\"R\",\"written_text\":\"hell\\to\"" + tail, doc);
    doc = capture_stream([](FILE* out) { write_write_mismatch_doc(out, u"R", nullptr); });
    EXPECT_EQ(std::string(head) + "\"R\",\"written_text\":\"\"" + tail, doc);
}

struct success_row {
    const char* name;
    success_report report;
    std::string expected;
};

HWND handle(uint64_t n) { return reinterpret_cast<HWND>(static_cast<uintptr_t>(n)); }

TEST(SuccessDocument, ByteForByte) {
    const success_row rows[] = {
        {"sent from an open room",
         {"sent", u"Team A", 95, handle(0x10082), handle(0x200A4), false, u"", u"hi", u""},
         "{\"status\":\"sent\",\"room_title\":\"Team A\",\"match_score\":95,\"window_hwnd\":65666,"
         "\"input_hwnd\":131236,\"opened_new_window\":false,\"focus_touched\":false,"
         "\"previous_input_text\":\"\",\"written_text\":\"hi\",\"remaining_input_text\":\"\"}\n"},
        {"opened room, big handles, no texts",
         {"send_unconfirmed", u"\uD300", 100, handle(UINT64_MAX), handle(0x80000000ull), true,
          nullptr, nullptr, nullptr},
         "{\"status\":\"send_unconfirmed\",\"room_title\":\"\xED\x8C\x80\",\"match_score\":100,"
         "\"window_hwnd\":18446744073709551615,\"input_hwnd\":2147483648,"
         "\"opened_new_window\":true,\"focus_touched\":false,\"previous_input_text\":\"\","
         "\"written_text\":\"\",\"remaining_input_text\":\"\"}\n"},
        {"draft with line breaks",
         {"draft_written", u"R", 80, handle(1), handle(2), false, u"a", u"a\r\nb", u"a\r\nb"},
         "{\"status\":\"draft_written\",\"room_title\":\"R\",\"match_score\":80,\"window_hwnd\":1,"
         "\"input_hwnd\":2,\"opened_new_window\":false,\"focus_touched\":false,"
         "\"previous_input_text\":\"a\",\"written_text\":\"a\\r\\nb\","
         "\"remaining_input_text\":\"a\\r\\nb\"}\n"},
    };
    for (const auto& row : rows) {
        std::string doc = capture_stream([&](FILE* out) { write_success_doc(out, &row.report); });
        EXPECT_EQ(row.expected, doc) << row.name;
        expect_one_line(doc, row.name);
    }
}

}  // namespace
