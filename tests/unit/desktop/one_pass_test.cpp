// The single pass over the top-level windows finds what the main window
// search followed by the chat window scan finds, on assorted desktops.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "desktop/fake_desktop.h"
#include "text16.h"
#include "window_model.h"

namespace {

void add_main_window_with_views(bool locked) {
    int main = add_window(u"EVA_Window_Dblclk", u"카카오톡");
    int lock = add_window(u"V", u"LockModeView_1", main);
    int online = add_window(u"V", u"OnlineMainView_1", main);
    current_desktop().windows[static_cast<size_t>(lock)].visible = locked;
    current_desktop().windows[static_cast<size_t>(online)].visible = !locked;
    int list = add_window(u"V", u"ChatRoomListView_1", online);
    add_window(u"Edit", u"", list);
    add_window(u"EVA_Window_Dblclk", u"", list);
    add_window(u"V", u"ChatRoomListCtrl_1", list);
    add_window(u"V", u"SearchListCtrl_1", list);
}

void add_decoys() {
    add_window(u"EVA_Window_Dblclk", u"카카오톡");          // a second main window: never used
    add_window(u"EVA_Window_Dblclk", u"");                   // untitled
    add_window(u"EVA_Window_Dblclk", u"Team Alpha notes");   // no input box
    add_window(u"eva_window_dblclk", u"Team Alpha");         // another class
    add_window(u"Notepad", u"Team Alpha");
}

struct layout {
    const char* name;
    bool main_first;   // the main window stands before the rooms
    bool locked;
    int extra_rooms;   // "Room N" rooms beyond the named ones
    const char16_t* room;
    const char16_t* resolved_name;
};

void build(const layout& l) {
    if (l.main_first) add_main_window_with_views(l.locked);
    add_chat_room(u"Team Alpha", u"draft");
    add_decoys();
    add_chat_room(u"Team Alpha Beta");
    add_chat_room(u"카카오톡 ");
    for (int i = 0; i < l.extra_rooms; ++i)
        add_chat_room(u"Room " + std::u16string(1, static_cast<char16_t>(u'A' + i % 26)));
    if (!l.main_first) add_main_window_with_views(l.locked);
}

void prepare(room_match_set* set, const layout& l) {
    *set = room_match_set{};
    text16_copy(set->room, reinterpret_cast<const WCHAR*>(l.room), kQueryUnits - 1);
    text16_copy(set->resolved_name, reinterpret_cast<const WCHAR*>(l.resolved_name),
                kQueryUnits - 1);
}

void expect_same_main(const main_window_info& a, const main_window_info& b, const char* name) {
    EXPECT_EQ(a.main_hwnd, b.main_hwnd) << name;
    EXPECT_EQ(a.kakao_pid, b.kakao_pid) << name;
    EXPECT_EQ(a.online_view, b.online_view) << name;
    EXPECT_EQ(a.lock_view, b.lock_view) << name;
    EXPECT_EQ(a.chat_list_view, b.chat_list_view) << name;
    EXPECT_EQ(a.search_box, b.search_box) << name;
    EXPECT_EQ(a.tab_strip, b.tab_strip) << name;
    EXPECT_EQ(a.room_list, b.room_list) << name;
    EXPECT_EQ(a.search_result_list, b.search_result_list) << name;
    EXPECT_STREQ(detect_login_state(&a), detect_login_state(&b)) << name;
}

void expect_same_table(const room_match_set& a, const room_match_set& b, const char* name) {
    ASSERT_EQ(a.count, b.count) << name;
    for (int32_t i = 0; i < a.count; ++i) {
        const room_candidate& x = a.candidates[i];
        const room_candidate& y = b.candidates[i];
        EXPECT_EQ(x.hwnd, y.hwnd) << name << " entry " << i;
        EXPECT_EQ(x.input_hwnd, y.input_hwnd) << name << " entry " << i;
        EXPECT_EQ(x.score, y.score) << name << " entry " << i;
        EXPECT_TRUE(text16_equal(x.title, y.title)) << name << " entry " << i;
    }
}

TEST(find_main_and_chat_windows, same_records_as_the_two_passes) {
    const layout layouts[] = {
        {"main_first_room_query", true, false, 0, u"Team Alpha", u""},
        {"main_last_resolved_query", false, false, 3, u"", u"Team Alpha"},
        {"no_query_lists_every_room", true, false, 5, u"", u""},
        {"locked_client", false, true, 0, u"Team", u""},
        {"table_full_first_32_kept", false, false, 40, u"", u""},
        {"query_matching_nothing", true, false, 2, u"Nobody", u""},
    };
    for (const layout& l : layouts) {
        fake_desktop_scope scope;
        build(l);
        main_window_info two_info{};
        find_main_window(&two_info);
        auto two = std::make_unique<room_match_set>();
        prepare(two.get(), l);
        scan_chat_windows(two.get());

        main_window_info one_info{};
        auto one = std::make_unique<room_match_set>();
        prepare(one.get(), l);
        one->count = 7;   // a table left over from an earlier scan starts empty
        find_main_and_chat_windows(&one_info, one.get());
        settle_chat_list_children(&one_info, &one->classes);
        sort_matches(one.get());

        EXPECT_NE(one_info.main_hwnd, nullptr) << l.name;
        expect_same_main(one_info, two_info, l.name);
        expect_same_table(*one, *two, l.name);
    }
}

TEST(find_main_and_chat_windows, no_main_window_still_lists_rooms) {
    fake_desktop_scope scope;
    int room = add_chat_room(u"Team Alpha");
    main_window_info info{};
    info.main_hwnd = handle_of(room);   // stale data from the caller is cleared
    auto set = std::make_unique<room_match_set>();
    find_main_and_chat_windows(&info, set.get());
    EXPECT_EQ(info.main_hwnd, nullptr);
    EXPECT_EQ(info.kakao_pid, 0u);
    EXPECT_STREQ(detect_login_state(&info), "logged_out");
    ASSERT_EQ(set->count, 1);
    EXPECT_EQ(set->candidates[0].hwnd, handle_of(room));
    EXPECT_EQ(set->candidates[0].score, 100);
}

// Each class read is a round trip to the server: a room whose title matches
// no query, an untitled window and a second main window cost none.
TEST(find_main_and_chat_windows, reads_no_class_of_windows_ruled_out_by_title) {
    int reads[2] = {};
    for (int extra : {0, 1}) {
        fake_desktop_scope scope;
        add_main_window_with_views(false);
        add_chat_room(u"Team Alpha", u"draft");
        if (extra) {
            for (int i = 0; i < 20; ++i)
                add_chat_room(u"Room " + std::u16string(1, static_cast<char16_t>(u'A' + i)));
            add_window(u"EVA_Window_Dblclk", u"");
            add_window(u"EVA_Window_Dblclk", u"카카오톡");
        }
        main_window_info info{};
        auto set = std::make_unique<room_match_set>();
        text16_copy(set->room, reinterpret_cast<const WCHAR*>(u"Team Alpha"), kQueryUnits - 1);
        current_desktop().class_reads = 0;
        find_main_and_chat_windows(&info, set.get());
        reads[extra] = current_desktop().class_reads;
        ASSERT_EQ(set->count, 1);
        EXPECT_NE(info.main_hwnd, nullptr);
    }
    EXPECT_EQ(reads[0], reads[1]);
}

}  // namespace
