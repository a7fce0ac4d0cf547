// The main window and its views, the login state, the chat window scan and
// the probe document, on a scripted desktop.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "desktop/fake_desktop.h"
#include "stream_capture.h"
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
    add_window(u"V", u"OnlineMainView", second);
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
