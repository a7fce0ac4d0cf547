// How well a window title matches the room a request names: blanks dropped,
// A to Z lowered, then equal, a prefix, or contained.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Scores a title can get.
constexpr int32_t kRoomFullScore = 95;       // equal to `room`
constexpr int32_t kResolvedFullScore = 100;  // equal to `resolved_name`
constexpr int32_t kWeakScore = 40;           // the name found inside the title
// What `exact` asks for: a title equal to `room` or `resolved_name`.
constexpr int32_t kExactScore = kRoomFullScore;

// True when every unit that counts fitted; false when the text was cut.
bool normalize_room_str(const WCHAR* src, WCHAR* dst, int capacity);
// Copies a request's room name into a query of `capacity` units. A name too
// long for it is kept in its normalised form, cut where scoring sees the cut,
// so a cut name is never scored as if it were whole.
void copy_room_query(const WCHAR* src, WCHAR* dst, int capacity);
int32_t score_one_query(const WCHAR* normalized_title, const WCHAR* query, int32_t full_score);
int32_t compute_match_score(const WCHAR* title, const WCHAR* room, const WCHAR* resolved_name);
