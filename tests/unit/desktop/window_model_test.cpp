// The main window and its views, the login state, the chat window scan and
// the probe document, on a scripted desktop.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "desktop/fake_desktop.h"
#include "stream_capture.h"
#include "probe.h"
#include "window_model.h"

namespace {

std::string num(int index) { return std::to_string(hwnd_number(handle_of(index))); }

TEST(detect_login_state, views_found_and_visible) {
    enum view { absent, hidden, shown };
    struct row {
        const char* name;
        bool main;
        view lock, online;
        const char* state;
    } rows[] = {
        {"no_main_window", false, shown, shown, "logged_out"},
        {"online_only", true, absent, shown, "ready"},
        {"online_with_hidden_lock", true, hidden, shown, "ready"},
        {"nothing_visible", true, hidden, hidden, "logged_out"},
        {"no_views", true, absent, absent, "logged_out"},
        {"lock_only", true, shown, absent, "locked"},
        {"lock_with_hidden_online", true, shown, hidden, "locked"},
        {"both_visible", true, shown, shown, "unknown"},
    };
    for (const auto& r : rows) {
        fake_desktop_scope scope;
        int main = add_window(u"EVA_Window_Dblclk", r.main ? u"카카오톡" : u"카카오톡 ");
        if (r.lock != absent)
            scope.desk.windows[static_cast<size_t>(add_window(u"V", u"LockModeView_3", main))]
                .visible = r.lock == shown;
        if (r.online != absent)
            scope.desk.windows[static_cast<size_t>(add_window(u"V", u"OnlineMainView_0x2", main))]
                .visible = r.online == shown;
        main_window_info info{};
        find_main_window(&info);
        EXPECT_STREQ(detect_login_state(&info), r.state) << r.name;
    }
}

TEST(find_main_window, first_main_window_and_its_direct_chat_list_children) {
    fake_desktop_scope scope;
    add_window(u"EVA_Window_Dblclk", u"카카오톡 ");
    int main = add_window(u"EVA_Window_Dblclk", u"카카오톡");
    int list = add_window(u"V", u"ChatRoomListView_1", main);
    int edit = add_window(u"EDIT", u"", list);
    add_window(u"Edit2", u"", list);
    int inner = add_window(u"V", u"", list);
    add_window(u"Edit", u"", inner);
    add_window(u"V", u"ChatRoomListCtrl", inner);
    int tabs = add_window(u"EVA_Window_Dblclk", u"SearchListCtrl", list);
    add_window(u"V", u"OnlineMain", main);
    int second = add_window(u"EVA_Window_Dblclk", u"카카오톡");
    add_window(u"V", u"ChatRoomListView_2", second);
    main_window_info info{};
    find_main_window(&info);
    EXPECT_EQ(info.main_hwnd, handle_of(main));
    EXPECT_EQ(info.kakao_pid, 7u);
    EXPECT_EQ(info.chat_list_view, handle_of(list));
    EXPECT_EQ(info.search_box, handle_of(edit));
    EXPECT_EQ(info.tab_strip, handle_of(tabs));
    EXPECT_EQ(info.room_list, nullptr);
    EXPECT_EQ(info.search_result_list, nullptr);
    EXPECT_EQ(info.online_view, nullptr);
}

// Windows titled like the main window, top of the z-order first: which one is
// the main window, and what the login state then is.
TEST(find_main_window, a_window_showing_a_login_view_wins_over_one_above_it) {
    struct row {
        const char* name;
        std::vector<const char16_t*> views;  // one window each, "" for a plain room
        int main;                            // index into views
        const char* state;
    } rows[] = {
        {"room_above_locked_client", {u"", u"LockModeView"}, 1, "locked"},
        {"room_above_ready_client", {u"", u"OnlineMainView"}, 1, "ready"},
        {"first_with_a_view", {u"OnlineMainView", u"LockModeView"}, 0, "ready"},
        {"none_with_a_view_first_taken", {u"", u"ChatRoomListView"}, 0, "logged_out"},
    };
    for (const auto& r : rows) {
        fake_desktop_scope scope;
        std::vector<int> windows;
        for (const char16_t* view : r.views) {
            windows.push_back(add_window(u"EVA_Window_Dblclk", u"카카오톡"));
            if (view[0]) add_window(u"V", view, windows.back());
            else add_window(u"RICHEDIT50W", u"", windows.back());
        }
        for (bool one_pass : {false, true}) {
            main_window_info info{};
            auto set = std::make_unique<room_match_set>();
            if (one_pass) find_main_and_chat_windows(&info, set.get());
            else find_main_window(&info);
            EXPECT_EQ(info.main_hwnd, handle_of(windows[static_cast<size_t>(r.main)])) << r.name;
            EXPECT_STREQ(detect_login_state(&info), r.state) << r.name;
        }
    }
}

// More matching rooms than the table holds, or a match without a usable
// input box: the table keeps the best 32 and remembers the best left out.
TEST(scan_chat_windows, full_table_keeps_the_best_and_notes_what_it_left_out) {
    struct row {
        const char* name;
        int weaker;            // rooms scoring 80 that stand above the best match
        const char16_t* best_box;  // the best match's input box class
        int32_t count, top, left_out;
    } rows[] = {
        {"best_last_in_z_order", 33, u"RICHEDIT50W", 32, 95, 80},
        {"best_without_a_box", 1, u"Static", 1, 80, 95},
        {"best_without_a_box_full_table", 40, u"Static", 32, 80, 95},
        {"no_overflow", 5, u"RICHEDIT50W", 6, 95, 0},
    };
    for (const auto& r : rows) {
        fake_desktop_scope scope;
        for (int i = 0; i < r.weaker; ++i) add_chat_room(u"Team Alpha Ops " + std::u16string(1, char16_t(u'A' + i % 26)));
        int best = add_window(u"EVA_Window_Dblclk", u"Team Alpha");
        add_window(r.best_box, u"", best);
        auto set = std::make_unique<room_match_set>();
        for (size_t i = 0; u"Team Alpha"[i]; ++i) set->room[i] = u"Team Alpha"[i];
        scan_chat_windows(set.get());
        EXPECT_EQ(set->count, r.count) << r.name;
        EXPECT_EQ(set->candidates[0].score, r.top) << r.name;
        EXPECT_EQ(set->left_out_score, r.left_out) << r.name;
    }
}

TEST(scan_chat_windows, candidates_need_a_richedit_and_a_free_entry) {
    fake_desktop_scope scope;
    add_window(u"EVA_Window_Dblclk", u"카카오톡");
    add_window(u"EVA_Window_Dblclk", u"");
    add_window(u"EVA_Window_Dblclk", u"Team Alpha no box");
    int lower = add_window(u"EVA_Window_Dblclk", u"Team Alpha lower");
    int lower_box = add_window(u"richedit50w", u"", lower);
    int old = add_window(u"EVA_Window_Dblclk", u"Team Alpha old box");
    add_window(u"RICHEDIT50", u"", old);
    int box20 = add_window(u"RichEdit20W", u"", old);
    add_window(u"Other_Class", u"Team Alpha");
    for (int i = 0; i < 40; ++i) add_chat_room(u"Team Alpha " + std::u16string(1, static_cast<char16_t>(u'A' + i % 26)));
    auto set = std::make_unique<room_match_set>();
    set->room[0] = u't';
    set->room[1] = u'e';
    scan_chat_windows(set.get());
    ASSERT_EQ(set->count, 32);
    EXPECT_EQ(set->candidates[0].input_hwnd, handle_of(lower_box));
    EXPECT_EQ(set->candidates[1].input_hwnd, handle_of(box20));
    EXPECT_EQ(std::u16string(set->candidates[31].title), u"Team Alpha D");
    for (int i = 0; i < 32; ++i) EXPECT_EQ(set->candidates[i].score, 80);
}

TEST(run_probe, document_lists_rooms_in_scan_order_with_drafts) {
    fake_desktop_scope scope;
    int main = add_window(u"EVA_Window_Dblclk", u"카카오톡");
    add_window(u"V", u"OnlineMainView", main);
    int a = add_chat_room(u"Room \"A\"", u"line1\r\nline2");
    int b = add_chat_room(u"방 B", u"메시지 입력");
    std::string expected = "{\"status\":\"ok\",\"main_hwnd\":" + num(main) +
                           ",\"kakao_pid\":7,\"login_state\":\"ready\",\"open_rooms\":["
                           "{\"hwnd\":" + num(a) + ",\"input_hwnd\":" + num(a + 2) +
                           ",\"title\":\"Room \\\"A\\\"\",\"draft\":\"line1\\r\\nline2\"},"
                           "{\"hwnd\":" + num(b) + ",\"input_hwnd\":" + num(b + 2) +
                           ",\"title\":\"방 B\",\"draft\":\"\"}]}\n";
    EXPECT_EQ(capture_stream(run_probe), expected);
}

TEST(run_probe, no_client_gives_empty_head_and_tail) {
    fake_desktop_scope scope;
    EXPECT_EQ(capture_stream(run_probe),
              "{\"status\":\"ok\",\"main_hwnd\":0,\"kakao_pid\":0,\"login_state\":\"logged_out\","
              "\"open_rooms\":[]}\n");
}

}  // namespace
