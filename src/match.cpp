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

// Only the first units of the query are known. A title equal to them is
// shorter than the query; one that begins with them may begin with the whole
// query, or merely share its start: a prefix match at most, never equal. A
// title is read as at most 510 units, and a query keeps at most 254, so a
// title cut when read can never equal a query either.
int32_t score_cut_query(const WCHAR* title, const WCHAR* known_start, int32_t full_score) {
    if (text16_equal(title, known_start)) return 0;
    if (text16_starts_with(title, known_start)) return full_score - kPrefixPenalty;
    return text16_contains(title, known_start) ? kWeakScore : 0;
}

}  // namespace

bool normalize_room_str(const WCHAR* src, WCHAR* dst, int capacity) {
    int stored = 0;
    size_t i = 0;
    for (; src[i] && stored < capacity - 1; ++i) {
        if (is_blank_unit(src[i])) continue;
        dst[stored++] = ascii_lower16(src[i]);
    }
    dst[stored] = 0;
    for (; src[i]; ++i)
        if (!is_blank_unit(src[i])) return false;
    return true;
}

void copy_room_query(const WCHAR* src, WCHAR* dst, int capacity) {
    if (text16_len(src) < static_cast<size_t>(capacity)) {
        text16_copy(dst, src, static_cast<size_t>(capacity) - 1);
        return;
    }
    normalize_room_str(src, dst, capacity);
    // Only blanks: still a query, one that no title matches.
    if (dst[0] == 0) {
        dst[0] = ' ';
        dst[1] = 0;
    }
}

int32_t score_one_query(const WCHAR* normalized_title, const WCHAR* query, int32_t full_score) {
    if (text16_empty(query)) return 0;
    WCHAR normal[kNormalQueryUnits];
    const bool whole = normalize_room_str(query, normal, kNormalQueryUnits - 1);
    if (normal[0] == 0) return 0;
    if (!whole) return score_cut_query(normalized_title, normal, full_score);
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
