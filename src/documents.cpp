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

constexpr char kLockedDoc[] =
    "{\"status\":\"error\",\"error_code\":\"KAKAO_LOCKED\",\"error\":\""
    "카카오톡이 잠금(PIN) 모드 상태입니다. 잠금을 해제해 주세요.\"}\n";
constexpr char kNeedsOpenRoomShortDoc[] =
    "{\"status\":\"error\",\"error_code\":\"NEEDS_OPEN_ROOM\",\"error\":\""
    "열려 있는 채팅방이 없습니다. 카카오톡에서 해당 방을 열어 두세요.\"}\n";
constexpr char kMainWindowNotFoundDoc[] =
    "{\"status\":\"error\",\"error_code\":\"MAIN_WINDOW_NOT_FOUND\",\"error\":\""
    "카카오톡 메인 창(EVA_Window_Dblclk)을 찾을 수 없습니다.\"}\n";
constexpr char kNeedsOpenRoomLongDoc[] =
    "{\"status\":\"error\",\"error_code\":\"NEEDS_OPEN_ROOM\",\"error\":\""
    "열려 있는 대상 채팅방을 찾을 수 없습니다. 우분투 Wine 환경에서는 "
    "포커스·클립보드 보호를 위해 전역 단축키(Ctrl+F)를 사용하지 않으므로, "
    "카카오톡에서 해당 채팅방을 한 번 열어 두세요.\"}\n";

static_assert(sizeof kLockedDoc - 1 == 140, "KAKAO_LOCKED document size");
static_assert(sizeof kNeedsOpenRoomShortDoc - 1 == 152, "short NEEDS_OPEN_ROOM document size");
static_assert(sizeof kMainWindowNotFoundDoc - 1 == 137, "MAIN_WINDOW_NOT_FOUND document size");
static_assert(sizeof kNeedsOpenRoomLongDoc - 1 == 311, "long NEEDS_OPEN_ROOM document size");

void write_locked_doc(FILE* out) { fputs(kLockedDoc, out); }
void write_needs_open_room_short_doc(FILE* out) { fputs(kNeedsOpenRoomShortDoc, out); }
void write_main_window_not_found_doc(FILE* out) { fputs(kMainWindowNotFoundDoc, out); }
void write_needs_open_room_long_doc(FILE* out) { fputs(kNeedsOpenRoomLongDoc, out); }

void write_ambiguous_room_doc(FILE* out, int32_t top_score, const WCHAR* const* titles,
                              int32_t count) {
    fprintf(out,
            "{\"status\":\"error\",\"error_code\":\"AMBIGUOUS_ROOM\",\"top_score\":%d,"
            "\"error\":\"동명이인 또는 부분 일치 채팅방이 있어 안전을 위해 중단했습니다. "
            "정확한 방 이름이나 탭(-t)을 지정해 주세요.\",\"candidates\":[",
            static_cast<int>(top_score));
    for (int32_t i = 0; i < count; ++i) {
        if (i > 0) fputc(',', out);
        write_json_escaped(out, titles[i]);
    }
    fputs("]}\n", out);
}

void write_draft_exists_doc(FILE* out, const WCHAR* room_title, const WCHAR* existing_draft) {
    fputs("{\"status\":\"error\",\"error_code\":\"DRAFT_EXISTS\",\"room_title\":", out);
    write_json_escaped(out, room_title);
    fputs(",\"existing_draft\":", out);
    write_json_escaped(out, existing_draft);
    fputs(",\"error\":\"채팅방 입력창에 이미 작성 중인 초안이 있습니다. 이어 쓰려면 --append, "
          "덮어쓰려면 --force, 비우려면 --clear를 지정하세요.\"}\n",
          out);
}

void write_write_mismatch_doc(FILE* out, const WCHAR* room_title, const WCHAR* written_text) {
    fputs("{\"status\":\"error\",\"error_code\":\"WRITE_MISMATCH\",\"room_title\":", out);
    write_json_escaped(out, room_title);
    fputs(",\"written_text\":", out);
    write_json_escaped(out, written_text);
    fputs(",\"error\":\"입력창 기입 내용 검증(readback)이 일치하지 않아 전송을 중단했습니다.\"}\n",
          out);
}

void write_success_doc(FILE* out, const success_report* report) {
    fprintf(out, "{\"status\":\"%s\",\"room_title\":", report->status);
    write_json_escaped(out, report->room_title);
    fprintf(out,
            ",\"match_score\":%d,\"window_hwnd\":%llu,\"input_hwnd\":%llu,"
            "\"opened_new_window\":%s,\"focus_touched\":false,\"previous_input_text\":",
            report->score, hwnd_number(report->window), hwnd_number(report->input),
            report->opened_new_window ? "true" : "false");
    write_json_escaped(out, report->previous_text);
    fputs(",\"written_text\":", out);
    write_json_escaped(out, report->written_text);
    fputs(",\"remaining_input_text\":", out);
    write_json_escaped(out, report->remaining_text);
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
