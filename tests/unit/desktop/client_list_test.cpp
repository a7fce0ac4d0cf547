// Listing the client's windows by class: the order EnumWindows gives, no
// window lost when the z-order moves during a walk, and the EnumWindows pass
// whenever the listing cannot be trusted.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "match.h"
#include "open_room.h"
#include "desktop/fake_desktop.h"
#include "text16.h"
#include "window_model.h"

namespace {

constexpr char16_t kClass[] = u"EVA_Window_Dblclk";

// The windows of the client's class (in any case) in EnumWindows order.
std::vector<HWND> class_windows_by_enum() {
    std::vector<HWND> out;
    EnumWindows(
        [](HWND hwnd, LPARAM param) -> BOOL {
            WCHAR name[kClassUnits] = {};
            GetClassNameW(hwnd, name, kClassUnits - 1);
            if (text16_equal_ascii_nocase(name, reinterpret_cast<const WCHAR*>(kClass)))
                reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&out));
    return out;
}

std::vector<HWND> listed(int capacity = kMaxClientWindows) {
    HWND buffer[kMaxClientWindows];
    int count = list_client_windows(buffer, capacity);
    if (count == kListFallBack) return {};
    return std::vector<HWND>(buffer, buffer + count);
}

// Three rooms between unrelated windows, a lower-case twin of the class and a
// main window; returns the rooms.
std::vector<int> build_desktop() {
    add_window(u"Notepad", u"Team Alpha");
    int a = add_chat_room(u"Team Alpha");
    add_window(u"eva_window_dblclk", u"Team Alpha");
    int b = add_chat_room(u"Team Alpha");
    add_window(u"EVA_Window_Dblclk", u"카카오톡");
    add_window(u"Shell_TrayWnd", u"");
    int c = add_chat_room(u"Team Beta");
    return {a, b, c};
}

TEST(list_client_windows, follows_the_enum_windows_order_of_the_class) {
    struct row {
        const char* name;
        std::function<void(const std::vector<int>& rooms)> arrange;
    };
    const row rows[] = {
        {"as_created", [](const std::vector<int>&) {}},
        {"last_room_raised", [](const std::vector<int>& r) { raise_window(r[2]); }},
        {"first_room_lowered", [](const std::vector<int>& r) { lower_window(r[0]); }},
        {"one_room_closed", [](const std::vector<int>& r) {
             current_desktop().windows[static_cast<size_t>(r[1])].alive = false;
         }},
    };
    for (const row& r : rows) {
        fake_desktop_scope scope;
        r.arrange(build_desktop());
        std::vector<HWND> expected = class_windows_by_enum();
        EXPECT_EQ(listed(), expected) << r.name;
    }
}

TEST(list_client_windows, empty_desktop_lists_nothing) {
    fake_desktop_scope scope;
    add_window(u"Notepad", u"");
    HWND buffer[4];
    EXPECT_EQ(list_client_windows(buffer, 4), 0);
}

// The z-order moves while the walks run, at the given FindWindowExW call; the
// listing must retry and in the end hold every window of the class in its
// final order, or give up so the caller falls back to EnumWindows.
TEST(list_client_windows, z_order_moving_during_the_walks_loses_no_window) {
    struct row {
        const char* name;
        int at_call;   // the FindWindowExW call before which the desktop changes
        std::function<void(const std::vector<int>& rooms)> change;
    };
    const row rows[] = {
        // A walk has passed room 0 and stands on room 1: raising room 2 puts
        // it behind the walk, which then misses it.
        {"room_raised_mid_first_walk", 3, [](const std::vector<int>& r) { raise_window(r[2]); }},
        // Lowering a room already seen makes the walk meet it twice.
        {"room_lowered_mid_first_walk", 3, [](const std::vector<int>& r) { lower_window(r[0]); }},
        // Five windows of the class: a walk is six calls, the last finding none.
        {"room_raised_between_walks", 7, [](const std::vector<int>& r) { raise_window(r[2]); }},
        {"room_raised_mid_second_walk", 9, [](const std::vector<int>& r) { raise_window(r[2]); }},
        // The window a walk stands on goes: the walk ends early.
        {"room_closed_mid_first_walk", 2, [](const std::vector<int>& r) {
             current_desktop().windows[static_cast<size_t>(r[0])].alive = false;
         }},
        {"room_opened_mid_second_walk", 9, [](const std::vector<int>&) {
             add_chat_room(u"Team Gamma");
         }},
    };
    for (const row& r : rows) {
        fake_desktop_scope scope;
        std::vector<int> rooms = build_desktop();
        fake_desktop& desk = current_desktop();
        desk.before_find = [&](int call) {
            if (call == r.at_call) r.change(rooms);
        };
        std::vector<HWND> got = listed();
        desk.before_find = nullptr;
        EXPECT_GT(desk.find_walks, 2) << r.name << ": no walk beyond the first two";
        EXPECT_EQ(got, class_windows_by_enum()) << r.name;
    }
}

TEST(list_client_windows, gives_up_when_the_z_order_never_settles) {
    fake_desktop_scope scope;
    std::vector<int> rooms = build_desktop();
    fake_desktop& desk = current_desktop();
    desk.before_find = [&](int call) {
        if (call % 3 == 0) raise_window(rooms[static_cast<size_t>(call / 3) % rooms.size()]);
    };
    HWND buffer[kMaxClientWindows];
    EXPECT_EQ(list_client_windows(buffer, kMaxClientWindows), kListFallBack);
    EXPECT_EQ(desk.find_walks, 1 + kListAttempts) << "the retries are bounded";
}

TEST(list_client_windows, more_windows_than_room_falls_back) {
    fake_desktop_scope scope;
    for (int i = 0; i < 5; ++i) add_window(u"EVA_Window_Dblclk", u"");
    HWND buffer[kMaxClientWindows];
    EXPECT_EQ(list_client_windows(buffer, 5), 5);
    EXPECT_EQ(list_client_windows(buffer, 4), kListFallBack);
}

// Counts the windows a pass hands to its callback.
BOOL CALLBACK count_cb(HWND, LPARAM param) {
    ++*reinterpret_cast<int*>(param);
    return TRUE;
}

TEST(enum_client_windows, falls_back_to_every_top_level_window) {
    struct row {
        const char* name;
        int class_windows;
        bool churn;
        int expected_visits;   // -1: every top-level window
        int expected_enum_windows_calls;
    };
    const row rows[] = {
        {"listed", 3, false, 3, 0},
        {"full_list", kMaxClientWindows, false, kMaxClientWindows, 0},
        {"one_too_many", kMaxClientWindows + 1, false, -1, 1},
        {"z_order_never_settles", 3, true, -1, 1},
    };
    for (const row& r : rows) {
        fake_desktop_scope scope;
        add_window(u"Notepad", u"");
        for (int i = 0; i < r.class_windows; ++i) add_window(u"EVA_Window_Dblclk", u"");
        add_window(u"Notepad", u"");
        fake_desktop& desk = current_desktop();
        if (r.churn) desk.before_find = [](int call) { raise_window(1 + call % 3); };
        int visits = 0;
        enum_client_windows(count_cb, reinterpret_cast<LPARAM>(&visits));
        int expected = r.expected_visits >= 0 ? r.expected_visits : r.class_windows + 2;
        EXPECT_EQ(visits, expected) << r.name;
        EXPECT_EQ(desk.enum_windows_calls, r.expected_enum_windows_calls) << r.name;
    }
}

TEST(enum_client_windows, stops_when_the_callback_says_so) {
    fake_desktop_scope scope;
    build_desktop();
    std::vector<HWND> seen;
    enum_client_windows(
        [](HWND hwnd, LPARAM param) -> BOOL {
            auto* out = reinterpret_cast<std::vector<HWND>*>(param);
            out->push_back(hwnd);
            return out->size() < 2 ? TRUE : FALSE;
        },
        reinterpret_cast<LPARAM>(&seen));
    std::vector<HWND> all = listed();
    ASSERT_GE(all.size(), 2u);
    EXPECT_EQ(seen, std::vector<HWND>(all.begin(), all.begin() + 2));
}

// The point of the listing: among many unrelated windows, a pass reads the
// class of the client's windows only, and decides as the EnumWindows pass did.
TEST(find_main_and_chat_windows, reads_no_class_of_unrelated_windows) {
    fake_desktop_scope scope;
    for (int i = 0; i < 1000; ++i) add_window(u"Window", u"Window");
    std::vector<int> rooms = build_desktop();
    raise_window(rooms[1]);
    fake_desktop& desk = current_desktop();

    main_window_info by_enum{};
    auto by_enum_set = std::make_unique<room_match_set>();
    desk.listing_unsettled = true;
    find_main_and_chat_windows(&by_enum, by_enum_set.get());
    desk.listing_unsettled = false;
    EXPECT_GT(desk.enum_windows_calls, 0);

    desk.class_reads = 0;
    main_window_info info{};
    auto set = std::make_unique<room_match_set>();
    find_main_and_chat_windows(&info, set.get());
    EXPECT_LT(desk.class_reads, 20);
    EXPECT_EQ(info.main_hwnd, by_enum.main_hwnd);
    ASSERT_EQ(set->count, by_enum_set->count);
    ASSERT_EQ(set->count, 3);
    for (int32_t i = 0; i < set->count; ++i)
        EXPECT_EQ(set->candidates[i].hwnd, by_enum_set->candidates[i].hwnd) << i;
}

// What a request for a room that is not open records of the windows standing
// before the attempts to open it.
std::unique_ptr<existing_window_set> record_before_opening() {
    request req{};
    req.room = const_cast<WCHAR*>(u"Team Gamma");
    main_window_info info{};
    auto set = std::make_unique<room_match_set>();
    copy_room_query(req.room, set->room, kQueryUnits);
    find_main_and_chat_windows(&info, set.get());
    auto existing = std::make_unique<existing_window_set>();
    bool opened = false;
    EXPECT_EQ(open_room_via_main_window(&req, &info, set.get(), existing.get(), &opened),
              outcome::room_not_opened);
    return existing;
}

// More client windows than the record holds are recorded one by one, and the
// listing gives the same windows in the same order as EnumWindows.
TEST(record_existing_windows, listed_pass_records_what_enum_windows_records) {
    fake_desktop_scope scope;
    for (int i = 0; i < kMaxExistingWindows; ++i) add_window(kClass, u"");
    std::vector<int> rooms = build_desktop();
    raise_window(rooms[2]);
    auto listed_set = record_before_opening();
    EXPECT_EQ(scope.desk.enum_windows_calls, 0);
    scope.desk.listing_unsettled = true;
    auto by_enum = record_before_opening();
    EXPECT_GT(scope.desk.enum_windows_calls, 0);
    EXPECT_TRUE(listed_set->overflowed && by_enum->overflowed);
    ASSERT_EQ(listed_set->count, by_enum->count);
    EXPECT_EQ(listed_set->handles[0], handle_of(rooms[2]));
    for (int32_t i = 0; i < by_enum->count; ++i)
        EXPECT_EQ(listed_set->handles[i], by_enum->handles[i]) << i;
}

}  // namespace
