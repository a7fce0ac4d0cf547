#include "outcomes.h"

#include <string>

#include "../src/client_layout.h"
#include "command.h"
#include "json_fields.h"

namespace {

constexpr size_t kLongErrorBytes = 200;

// The exe's outcomes; the unit tests hold this table to the exe's own
// documents, one row each.
constexpr outcome_entry kOutcomes[] = {
    {"draft_written", nullptr, 0, kExitDone, nullptr, nullptr, nullptr},
    {"cleared", nullptr, 0, kExitDone, nullptr, nullptr, nullptr},
    {"sent", nullptr, 0, kExitDone, nullptr, nullptr, nullptr},
    {"send_unconfirmed", nullptr, 0, kExitMaybeSent, nullptr, nullptr, nullptr},
    {"error", "KAKAO_LOCKED", 0, kExitRefused, "KakaoTalk shows its PIN lock", "unlock it.",
     "Ask the person to unlock KakaoTalk, then try again."},
    {"error", "MAIN_WINDOW_NOT_FOUND", 0, kExitRefused,
     "KakaoTalk's main window (" CLIENT_CLASS ") was not found", nullptr,
     "Ask the person to start KakaoTalk and log in; check_client tells what is missing."},
    // NEEDS_OPEN_ROOM has two texts: the long one after the attempts to open
    // the room, more than twice the short one when no room may be opened.
    {"error", "NEEDS_OPEN_ROOM", kLongErrorBytes, kExitRefused,
     "The room was not found open and could not be opened",
     "open it once in KakaoTalk (no global shortcut is used, to spare the focus and the clipboard).",
     "Check the exact title with list_rooms, or ask the person to open the room in KakaoTalk; "
     "a `tab` may help the client find it."},
    {"error", "NEEDS_OPEN_ROOM", 0, kExitRefused, "No chat room is open", "open the room in KakaoTalk.",
     "Check the exact title with list_rooms, or ask the person to open the room in KakaoTalk."},
    {"error", "AMBIGUOUS_ROOM", 0, kExitRefused, "More than one room matches, or only in part",
     "stopped for safety; name the room exactly, or its tab with -t.",
     "Show the person the candidates and ask which room they mean, then call again with that "
     "room's exact title."},
    {"error", "DRAFT_EXISTS", 0, kExitRefused, "The room's input box holds a draft",
     "add to it with --append, replace it with --force, or empty it with --clear.",
     "Show the person the standing draft (existing_draft) and ask which way on: keep it, put "
     "the message under it (write_draft with if_draft_exists \"append\") or replace it "
     "(\"replace\"). Never decide for them."},
    {"error", "WRITE_MISMATCH", 0, kExitRefused, "The input box did not read back what was written",
     "nothing was sent.",
     "Look with list_rooms and tell the person what the box holds; do not retry blindly."},
    // An error code this command does not know yet: still a refusal.
    {"error", "", 0, kExitRefused, "chatdraft.exe refused the request", nullptr,
     "Tell the person what the error says."},
};

bool is_known_code(const std::string& code) {
    for (const outcome_entry& entry : kOutcomes)
        if (entry.error_code && *entry.error_code && code == entry.error_code) return true;
    return false;
}

}  // namespace

const outcome_entry* outcome_of(const nlohmann::json& doc) {
    const std::string status = text_of(doc, "status");
    const std::string code = text_of(doc, "error_code");
    const size_t error_bytes = text_of(doc, "error").size();
    const std::string known = is_known_code(code) ? code : "";
    for (const outcome_entry& entry : kOutcomes) {
        if (status != entry.status || error_bytes < entry.min_error_bytes) continue;
        if (!entry.error_code || known == entry.error_code) return &entry;
    }
    return nullptr;
}

std::string english_line(const outcome_entry& entry) {
    const std::string what = entry.what ? entry.what : "";
    return entry.remedy ? what + ": " + entry.remedy : what + ".";
}
