#include "documents.h"

#include <cstdlib>

static void write_escaped_byte(FILE* out, unsigned char c) {
    switch (c) {
    case '"': fputs("\\\"", out); break;
    case '\\': fputs("\\\\", out); break;
    case '\n': fputs("\\n", out); break;
    case '\r': fputs("\\r", out); break;
    case '\t': fputs("\\t", out); break;
    default:
        if (c < 0x20) fprintf(out, "\\u%04x", c);
        else fputc(c, out);
    }
}

void write_json_escaped(FILE* out, const WCHAR* text) {
    int n = text ? WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr) : 0;
    char* bytes = n > 0 ? static_cast<char*>(zeroed_alloc(static_cast<size_t>(n) + 1, 1)) : nullptr;
    if (!bytes) {
        fputs("\"\"", out);
        return;
    }
    WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, n, nullptr, nullptr);
    fputc('"', out);
    for (const char* p = bytes; *p; ++p) write_escaped_byte(out, static_cast<unsigned char>(*p));
    fputc('"', out);
    free(bytes);
}

namespace {

// The fields an outcome's document carries beside its status, error code and
// error text.
enum class doc_fields : uint8_t { none, candidates, existing_draft, written_text, success };

struct outcome_row {
    outcome kind;
    const char* status;
    const char* error_code;  // null for a success
    doc_fields fields;
    const char* error_text;  // the Korean text; null for a success
};

// Every outcome of a request and its document. The command reads the
// documents by status and error code: those strings never change.
constexpr outcome_row kOutcomes[] = {
    {outcome::cleared, "cleared", nullptr, doc_fields::success, nullptr},
    {outcome::draft_written, "draft_written", nullptr, doc_fields::success, nullptr},
    {outcome::sent, "sent", nullptr, doc_fields::success, nullptr},
    {outcome::send_unconfirmed, "send_unconfirmed", nullptr, doc_fields::success, nullptr},
    {outcome::kakao_locked, "error", "KAKAO_LOCKED", doc_fields::none,
     "카카오톡이 잠금(PIN) 모드 상태입니다. 잠금을 해제해 주세요."},
    {outcome::main_window_not_found, "error", "MAIN_WINDOW_NOT_FOUND", doc_fields::none,
     "카카오톡 메인 창(EVA_Window_Dblclk)을 찾을 수 없습니다."},
    {outcome::no_open_room, "error", "NEEDS_OPEN_ROOM", doc_fields::none,
     "열려 있는 채팅방이 없습니다. 카카오톡에서 해당 방을 열어 두세요."},
    {outcome::room_not_opened, "error", "NEEDS_OPEN_ROOM", doc_fields::none,
     "열려 있는 대상 채팅방을 찾을 수 없습니다. 우분투 Wine 환경에서는 "
     "포커스·클립보드 보호를 위해 전역 단축키(Ctrl+F)를 사용하지 않으므로, "
     "카카오톡에서 해당 채팅방을 한 번 열어 두세요."},
    {outcome::ambiguous_room, "error", "AMBIGUOUS_ROOM", doc_fields::candidates,
     "동명이인 또는 부분 일치 채팅방이 있어 안전을 위해 중단했습니다. "
     "정확한 방 이름이나 탭(-t)을 지정해 주세요."},
    {outcome::draft_exists, "error", "DRAFT_EXISTS", doc_fields::existing_draft,
     "채팅방 입력창에 이미 작성 중인 초안이 있습니다. 이어 쓰려면 --append, "
     "덮어쓰려면 --force, 비우려면 --clear를 지정하세요."},
    {outcome::write_mismatch, "error", "WRITE_MISMATCH", doc_fields::written_text,
     "입력창 기입 내용 검증(readback)이 일치하지 않아 전송을 중단했습니다."},
};
static_assert(sizeof kOutcomes / sizeof kOutcomes[0] == kOutcomeCount - 1,
              "one row for every outcome but none");

constexpr const outcome_row* row_for(outcome kind) {
    for (const outcome_row& row : kOutcomes)
        if (row.kind == kind) return &row;
    return nullptr;
}

constexpr size_t bytes_of(const char* text) {
    size_t n = 0;
    while (text[n]) ++n;
    return n;
}

// The size of a document that carries nothing but its error: a guard against
// a text changed by accident, or read by the compiler in another charset.
constexpr size_t bare_doc_bytes(outcome kind) {
    const outcome_row* row = row_for(kind);
    return bytes_of("{\"status\":\"error\",\"error_code\":\"\",\"error\":\"\"}\n") +
           bytes_of(row->error_code) + bytes_of(row->error_text);
}
static_assert(bare_doc_bytes(outcome::kakao_locked) == 140, "KAKAO_LOCKED document size");
static_assert(bare_doc_bytes(outcome::no_open_room) == 152, "short NEEDS_OPEN_ROOM document size");
static_assert(bare_doc_bytes(outcome::main_window_not_found) == 137,
              "MAIN_WINDOW_NOT_FOUND document size");
static_assert(bare_doc_bytes(outcome::room_not_opened) == 311, "long NEEDS_OPEN_ROOM document size");

void write_text_field(FILE* out, const char* key, const WCHAR* text) {
    fprintf(out, ",\"%s\":", key);
    write_json_escaped(out, text);
}

void write_success_fields(FILE* out, const run_report* report) {
    write_text_field(out, "room_title", report->room_title);
    fprintf(out,
            ",\"match_score\":%d,\"window_hwnd\":%llu,\"input_hwnd\":%llu,"
            "\"opened_new_window\":%s,\"focus_touched\":false",
            static_cast<int>(report->score), hwnd_number(report->window),
            hwnd_number(report->input), report->opened_new_window ? "true" : "false");
    write_text_field(out, "previous_input_text", report->previous_text);
    write_text_field(out, "written_text", report->written_text);
    write_text_field(out, "remaining_input_text", report->remaining_text);
}

// The fields that stand between the error code and the error text.
void write_fields_before_error(FILE* out, doc_fields fields, const run_report* report) {
    switch (fields) {
    case doc_fields::candidates:
        fprintf(out, ",\"top_score\":%d", static_cast<int>(report->top_score));
        break;
    case doc_fields::existing_draft:
        write_text_field(out, "room_title", report->room_title);
        write_text_field(out, "existing_draft", report->previous_text);
        break;
    case doc_fields::written_text:
        write_text_field(out, "room_title", report->room_title);
        write_text_field(out, "written_text", report->written_text);
        break;
    case doc_fields::success: write_success_fields(out, report); break;
    case doc_fields::none: break;
    }
}

void write_candidates(FILE* out, const run_report* report) {
    fputs(",\"candidates\":[", out);
    const int32_t count = report->title_count < kReportedTitles ? report->title_count : kReportedTitles;
    for (int32_t i = 0; i < count; ++i) {
        if (i > 0) fputc(',', out);
        write_json_escaped(out, report->titles[i]);
    }
    fputc(']', out);
}

}  // namespace

run_report report_of(outcome kind) {
    run_report report{};
    report.kind = kind;
    return report;
}

void write_run_doc(FILE* out, const run_report* report) {
    const outcome_row* row = row_for(report->kind);
    if (!row) return;
    fprintf(out, "{\"status\":\"%s\"", row->status);
    if (row->error_code) fprintf(out, ",\"error_code\":\"%s\"", row->error_code);
    write_fields_before_error(out, row->fields, report);
    if (row->error_text) fprintf(out, ",\"error\":\"%s\"", row->error_text);
    if (row->fields == doc_fields::candidates) write_candidates(out, report);
    fputs("}\n", out);
}

void write_probe_head(FILE* out, HWND main_hwnd, DWORD kakao_pid, const char* login_state) {
    fprintf(out,
            "{\"status\":\"ok\",\"main_hwnd\":%llu,\"kakao_pid\":%lu,\"login_state\":\"%s\","
            "\"open_rooms\":[",
            hwnd_number(main_hwnd), static_cast<unsigned long>(kakao_pid), login_state);
}

void write_probe_room(FILE* out, HWND hwnd, HWND input_hwnd, const WCHAR* title, const WCHAR* draft) {
    fprintf(out, "{\"hwnd\":%llu,\"input_hwnd\":%llu,\"title\":", hwnd_number(hwnd),
            hwnd_number(input_hwnd));
    write_json_escaped(out, title);
    fputs(",\"draft\":", out);
    write_json_escaped(out, draft);
    fputs("}", out);
}

void write_probe_separator(FILE* out) { fputc(',', out); }
void write_probe_tail(FILE* out) { fputs("]}\n", out); }
