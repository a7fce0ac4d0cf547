#include "summary.h"

#include "../src/client_layout.h"
#include "command.h"
#include "json_fields.h"
#include "outcomes.h"

using nlohmann::json;

namespace {

// chatdraft.exe lists at most this many open rooms in a probe.
constexpr size_t kProbeRoomsListed = 32;

// Escapes what a terminal would take as a command: C0 controls, DEL, and C1
// controls (U+0080 to U+009F, which UTF-8 writes as C2 80 to C2 9F). Returns
// the bytes of text[i] it took, or 0 for no control.
size_t escape_control(const std::string& text, size_t i, std::string* out) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0u;
    const bool c1 = byte == 0xC2 && next >= 0x80 && next <= 0x9F;
    if (!c1 && byte >= 0x20 && byte != 0x7F) return 0;
    char escape[8];
    snprintf(escape, sizeof escape, "\\u%04x", c1 ? next : byte);
    *out += escape;
    return c1 ? 2 : 1;
}

std::string status_of(const json& doc) { return text_of(doc, "status"); }

void print_text_line(FILE* out, const char* label, const std::string& text) {
    fprintf(out, "  %s %s\n", label, quoted(text).c_str());
}

void print_success(FILE* out, const json& doc, const std::string& status) {
    fprintf(out, "%s: %s (score %lld)\n", terminal_line(status).c_str(),
            quoted(text_of(doc, "room_title")).c_str(), integer_of(doc, "match_score"));
    if (flag_of(doc, "opened_new_window"))
        fputs("  opened: the room was not open; the client opened it and may have taken the focus\n",
              out);
    const std::string previous = text_of(doc, "previous_input_text");
    const std::string remaining = text_of(doc, "remaining_input_text");
    if (!previous.empty()) print_text_line(out, "before:", previous);
    if (status != "cleared") print_text_line(out, "written:", text_of(doc, "written_text"));
    // What the box holds at the end, where that is not what the status says.
    const std::string expected = status == "draft_written" ? text_of(doc, "written_text") : "";
    if (remaining != expected || status == "send_unconfirmed") print_text_line(out, "remaining:", remaining);
    if (status == "send_unconfirmed")
        fputs("  the message may have been sent: look with 'chatdraft probe' before sending again\n",
              out);
}

void print_error(FILE* out, const json& doc) {
    const std::string code = text_of(doc, "error_code");
    if (doc.contains("room_title"))
        fprintf(out, "%s: %s\n", terminal_line(code).c_str(), quoted(text_of(doc, "room_title")).c_str());
    else if (doc.contains("top_score"))
        fprintf(out, "%s: top score %lld\n", terminal_line(code).c_str(), integer_of(doc, "top_score"));
    else
        fprintf(out, "%s\n", terminal_line(code).c_str());
    if (doc.contains("existing_draft")) print_text_line(out, "draft:", text_of(doc, "existing_draft"));
    if (doc.contains("written_text")) {
        const std::string held = text_of(doc, "written_text");
        if (held.empty())
            fputs("  box holds: nothing: the box gave no text back (it may not have answered)\n", out);
        else
            print_text_line(out, "box holds:", held);
    }
    for (const json& title : array_of(doc, "candidates"))
        if (title.is_string()) print_text_line(out, "candidate:", title.get<std::string>());
    fprintf(out, "  error: %s\n", terminal_line(text_of(doc, "error")).c_str());
    // A code this command does not know yet gets no English line.
    const outcome_entry* entry = outcome_of(doc);
    if (entry && entry->error_code && *entry->error_code)
        fprintf(out, "         %s\n", english_line(*entry).c_str());
}

}  // namespace

int exit_code_for_result(const json& doc) {
    const outcome_entry* entry = outcome_of(doc);
    return entry ? entry->exit_code : kExitUnknown;
}

void print_result_summary(FILE* out, const json& doc) {
    if (status_of(doc) == "error")
        print_error(out, doc);
    else
        print_success(out, doc, status_of(doc));
}

void print_probe_summary(FILE* out, const json& doc) {
    const json& rooms = array_of(doc, "open_rooms");
    // At the exe's limit more rooms may be open than are listed.
    const char* more = rooms.size() >= kProbeRoomsListed ? " listed; more may be open" : " open";
    // Without a main window the exe says "logged_out": the client may not be
    // running at all, which the person should hear as such.
    const bool no_main = doc.contains("main_hwnd") && number_of(doc, "main_hwnd") == 0;
    const std::string state = no_main ? "not found (no main window " CLIENT_CLASS ")"
                                      : terminal_line(text_of(doc, "login_state"));
    fprintf(out, "client %s, %zu room%s%s\n", state.c_str(), rooms.size(),
            rooms.size() == 1 ? "" : "s", more);
    for (const json& room : rooms) {
        if (!room.is_object()) continue;
        const std::string draft = text_of(room, "draft");
        fprintf(out, "  %s", quoted(text_of(room, "title")).c_str());
        if (!draft.empty()) fprintf(out, "  draft %s", quoted(draft).c_str());
        fputc('\n', out);
    }
}

void print_probe_titles(FILE* out, const json& doc) {
    for (const json& room : array_of(doc, "open_rooms"))
        if (room.is_object()) fprintf(out, "%s\n", terminal_line(text_of(room, "title")).c_str());
}

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;  // CR LF reads as one break
        if (c == '\n' || c == '\r') out += "\\n";
        else if (c == '\t') out += "\\t";
        else if (c == '"' || c == '\\') out += std::string("\\") + c;
        else if (const size_t taken = escape_control(text, i, &out)) i += taken - 1;
        else out += c;
    }
    return out + "\"";
}

std::string terminal_line(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        if (c == '\n' || c == '\r' || c == '\t') out += ' ';
        else if (const size_t taken = escape_control(text, i, &out)) i += taken - 1;
        else out += c;
    }
    return out;
}
