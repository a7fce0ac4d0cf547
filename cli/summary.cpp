#include "summary.h"

#include "command.h"

using nlohmann::json;

namespace {

std::string text_member(const json& doc, const char* name) {
    const auto it = doc.find(name);
    return it != doc.end() && it->is_string() ? it->get<std::string>() : "";
}

std::string status_of(const json& doc) { return text_member(doc, "status"); }

void print_text_line(FILE* out, const char* label, const std::string& text) {
    fprintf(out, "  %s %s\n", label, quoted(text).c_str());
}

void print_success(FILE* out, const json& doc, const std::string& status) {
    fprintf(out, "%s: %s (score %d)\n", status.c_str(), quoted(text_member(doc, "room_title")).c_str(),
            doc.value("match_score", 0));
    if (doc.value("opened_new_window", false))
        fputs("  opened: the room was not open; the client opened it and may have taken the focus\n",
              out);
    const std::string previous = text_member(doc, "previous_input_text");
    const std::string remaining = text_member(doc, "remaining_input_text");
    if (!previous.empty()) print_text_line(out, "before:", previous);
    if (status != "cleared") print_text_line(out, "written:", text_member(doc, "written_text"));
    // What the box holds at the end, where that is not what the status says.
    const std::string expected = status == "draft_written" ? text_member(doc, "written_text") : "";
    if (remaining != expected || status == "send_unconfirmed") print_text_line(out, "remaining:", remaining);
    if (status == "send_unconfirmed")
        fputs("  the message may have been sent: look with 'chatdraft probe' before sending again\n",
              out);
}

void print_error(FILE* out, const json& doc) {
    const std::string code = text_member(doc, "error_code");
    if (doc.contains("room_title"))
        fprintf(out, "%s: %s\n", code.c_str(), quoted(text_member(doc, "room_title")).c_str());
    else if (doc.contains("top_score"))
        fprintf(out, "%s: top score %d\n", code.c_str(), doc.value("top_score", 0));
    else
        fprintf(out, "%s\n", code.c_str());
    if (doc.contains("existing_draft")) print_text_line(out, "draft:", text_member(doc, "existing_draft"));
    if (doc.contains("written_text")) print_text_line(out, "box holds:", text_member(doc, "written_text"));
    const auto candidates = doc.find("candidates");
    if (candidates != doc.end() && candidates->is_array())
        for (const json& title : *candidates)
            if (title.is_string()) print_text_line(out, "candidate:", title.get<std::string>());
    fprintf(out, "  error: %s\n", text_member(doc, "error").c_str());
}

const json& open_rooms(const json& doc) {
    static const json none = json::array();
    const auto it = doc.find("open_rooms");
    return it != doc.end() && it->is_array() ? *it : none;
}

}  // namespace

int exit_code_for_result(const json& doc) {
    const std::string status = status_of(doc);
    if (status == "draft_written" || status == "cleared" || status == "sent") return kExitDone;
    if (status == "send_unconfirmed") return kExitMaybeSent;
    if (status == "error") return kExitRefused;
    return kExitUnknown;
}

void print_result_summary(FILE* out, const json& doc) {
    if (status_of(doc) == "error")
        print_error(out, doc);
    else
        print_success(out, doc, status_of(doc));
}

void print_probe_summary(FILE* out, const json& doc) {
    const json& rooms = open_rooms(doc);
    fprintf(out, "client %s, %zu room%s open\n", text_member(doc, "login_state").c_str(),
            rooms.size(), rooms.size() == 1 ? "" : "s");
    for (const json& room : rooms) {
        if (!room.is_object()) continue;
        const std::string draft = text_member(room, "draft");
        fprintf(out, "  %s", quoted(text_member(room, "title")).c_str());
        if (!draft.empty()) fprintf(out, "  draft %s", quoted(draft).c_str());
        fputc('\n', out);
    }
}

void print_probe_titles(FILE* out, const json& doc) {
    for (const json& room : open_rooms(doc))
        if (room.is_object()) fprintf(out, "%s\n", text_member(room, "title").c_str());
}

std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;  // CR LF reads as one break
        if (c == '\n' || c == '\r') out += "\\n";
        else if (c == '\t') out += "\\t";
        else if (c == '"' || c == '\\') out += std::string("\\") + c;
        else if (static_cast<unsigned char>(c) < 0x20) {
            char code[8];
            snprintf(code, sizeof code, "\\u%04x", static_cast<unsigned>(c));
            out += code;
        } else out += c;
    }
    return out + "\"";
}
