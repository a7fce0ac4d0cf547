#include "match.h"

#include <cstddef>

#include "text16.h"

namespace {

constexpr int kNormalTitleUnits = 512;
constexpr int kNormalQueryUnits = 256;
constexpr int32_t kPrefixPenalty = 15;

bool is_blank_unit(WCHAR c) { return c == 0x09 || c == 0x0A || c == 0x0D || c == 0x20; }

// True when needle (non-empty) occurs in hay as a contiguous run of units.
bool text16_contains(const WCHAR* hay, const WCHAR* needle) {
    for (size_t i = 0; hay[i]; ++i)
        if (text16_starts_with(hay + i, needle)) return true;
    return false;
}

}  // namespace

void normalize_room_str(const WCHAR* src, WCHAR* dst, int capacity) {
    int stored = 0;
    for (size_t i = 0; src[i] && stored < capacity - 1; ++i) {
        if (is_blank_unit(src[i])) continue;
        dst[stored++] = ascii_lower16(src[i]);
    }
    dst[stored] = 0;
}

int32_t score_one_query(const WCHAR* normalized_title, const WCHAR* query, int32_t full_score) {
    if (text16_empty(query)) return 0;
    WCHAR normal[kNormalQueryUnits];
    normalize_room_str(query, normal, kNormalQueryUnits - 1);
    if (normal[0] == 0) return 0;
    if (text16_equal(normalized_title, normal)) return full_score;
    size_t title_len = text16_len(normalized_title);
    size_t query_len = text16_len(normal);
    if (query_len < title_len && text16_starts_with(normalized_title, normal))
        return normalized_title[query_len] == ',' ? kWeakScore : full_score - kPrefixPenalty;
    return text16_contains(normalized_title, normal) ? kWeakScore : 0;
}

int32_t compute_match_score(const WCHAR* title, const WCHAR* room, const WCHAR* resolved_name) {
    if (text16_empty(title)) return 0;
    WCHAR normal[kNormalTitleUnits];
    normalize_room_str(title, normal, kNormalTitleUnits - 1);
    if (normal[0] == 0) return 0;
    int32_t by_room = score_one_query(normal, room, kRoomFullScore);
    int32_t by_resolved = score_one_query(normal, resolved_name, kResolvedFullScore);
    return by_room > by_resolved ? by_room : by_resolved;
}
