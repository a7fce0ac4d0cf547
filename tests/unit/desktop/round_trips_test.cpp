// How many reads of the desktop each path costs. Every read is a round trip
// to the window server; a change that adds reads to a path fails here.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "command.h"
#include "desktop/fake_desktop.h"
#include "probe.h"
#include "stream_capture.h"

namespace {

struct round_trip_row {
    const char* name;
    int rooms;            // open rooms "Room 1".."Room N", each holding a draft
    const char16_t* room; // the request's room; null: a probe
    bool opened_by_search;  // the room opens on Enter in the search box
    int listing, top_level, main_child, room_child;
};
void PrintTo(const round_trip_row& row, std::ostream* os) { *os << row.name; }

// listing: FindWindowExW calls (two walks that must agree); top_level: a
// window's title, class atom, class name (two) and owner (the main window's,
// and every candidate room's); main_child: the
// main window's views; room_child: a room's children and its input box.
const round_trip_row kRows[] = {
    {"probe_0_rooms", 0, nullptr, false, 4, 6, 7, 0},
    {"probe_5_rooms", 5, nullptr, false, 14, 26, 7, 16},
    {"probe_32_rooms", 32, nullptr, false, 68, 134, 7, 70},
    {"request_to_an_open_room", 5, u"Room 3", false, 14, 14, 7, 6},
    {"room_opened_by_search", 5, u"Search room", true, 44, 24, 25, 6},
};

class round_trips : public ::testing::TestWithParam<round_trip_row> {};

TEST_P(round_trips, per_kind_of_window) {
    const round_trip_row& row = GetParam();
    fake_desktop_scope scope;
    const main_window_views m = add_main_window();
    for (int i = 1; i <= row.rooms; ++i) {
        const std::string n = std::to_string(i);
        add_chat_room(u"Room " + std::u16string(n.begin(), n.end()), u"draft");
    }
    if (row.opened_by_search)
        scope.desk.react = [&](const fake_event& e) {
            if (e.posted && e.msg == WM_KEYDOWN && e.hwnd == handle_of(m.search)) add_chat_room(u"Search room");
        };
    if (!row.room) {
        capture_stream(run_probe);
    } else {
        request req{};
        req.room = const_cast<WCHAR*>(row.room);
        req.message = const_cast<WCHAR*>(u"hi");
        req.force = true;
        const std::string doc = capture_stream([&](FILE* out) { serve_request(&req, out); });
        EXPECT_NE(doc.find("draft_written"), std::string::npos) << doc;
    }
    EXPECT_EQ(reads_of(read_kind::listing), row.listing);
    EXPECT_EQ(reads_of(read_kind::top_level), row.top_level);
    EXPECT_EQ(reads_of(read_kind::main_child), row.main_child);
    EXPECT_EQ(reads_of(read_kind::room_child), row.room_child);
}

INSTANTIATE_TEST_SUITE_P(rows, round_trips, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
