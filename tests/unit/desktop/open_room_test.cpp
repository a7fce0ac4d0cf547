// Opening a room through the main window: the search box, the tabs, the
// clean-up of wrong windows, and the waits between the actions.
#include <gtest/gtest.h>

#include <memory>

#include "documents.h"
#include "open_room.h"
#include "desktop/fake_desktop.h"
#include "outcome_docs.h"

namespace {

struct opening {
    main_window_views m = add_main_window();
    main_window_info info{};
    std::unique_ptr<room_match_set> set = std::make_unique<room_match_set>();
    std::unique_ptr<existing_window_set> existing = std::make_unique<existing_window_set>();
    request req{};
    bool opened = false;
    outcome result = outcome::none;

    std::string run(const char16_t* room, const char16_t* resolved = nullptr) {
        req.room = const_cast<WCHAR*>(room);
        req.resolved_name = const_cast<WCHAR*>(resolved);
        for (size_t i = 0; room && room[i]; ++i) set->room[i] = room[i];
        for (size_t i = 0; resolved && resolved[i]; ++i) set->resolved_name[i] = resolved[i];
        find_main_window(&info);
        scan_chat_windows(set.get());
        current_desktop().sleeps.clear();
        result = open_room_via_main_window(&req, &info, set.get(), existing.get(), &opened);
        return result == outcome::none ? "" : bare_doc(result);
    }
    // Each Enter or Down-Enter in the search opens the next of these titles.
    void search_opens(std::vector<std::u16string> titles) {
        auto next = std::make_shared<size_t>(0);
        HWND search = handle_of(m.search), results = handle_of(m.results);
        current_desktop().react = [=](const fake_event& e) {
            if (e.posted && e.msg == WM_KEYDOWN && e.wparam == VK_RETURN &&
                (e.hwnd == search || e.hwnd == results) && *next < titles.size())
                add_chat_room(titles[(*next)++]);
        };
    }
    int sent_closes() {
        int n = 0;
        for (const fake_event& e : current_desktop().log) n += e.posted && e.msg == WM_CLOSE;
        return n;
    }
};

const std::string& long_doc() {
    static const std::string doc = bare_doc(outcome::room_not_opened);
    return doc;
}

TEST(open_room_via_main_window, first_search_result_is_the_room) {
    fake_desktop_scope scope;
    opening o;
    o.search_opens({u"Team Alpha"});
    EXPECT_EQ(o.run(u"Team Alpha"), "");
    EXPECT_EQ(o.result, outcome::none);
    EXPECT_TRUE(o.opened);
    ASSERT_EQ(o.set->count, 1);
    EXPECT_EQ(o.set->candidates[0].score, 95);
    EXPECT_EQ(scope.desk.sleeps, (std::vector<DWORD>{300, 300, 80}));
    std::vector<fake_event> search = events_to(handle_of(o.m.search));
    ASSERT_GE(search.size(), 2u);
    EXPECT_EQ(search[1].text, u"Team Alpha");
    EXPECT_EQ(scope.desk.windows[static_cast<size_t>(o.m.search)].text, u"");
    EXPECT_TRUE(events_to(handle_of(o.m.results)).empty());
    // Two change notifications (search text, then emptied), then the click.
    std::vector<fake_event> list = events_to(handle_of(o.m.chat_list));
    ASSERT_EQ(list.size(), 5u);
    EXPECT_EQ(list[1].msg, WM_COMMAND);
    EXPECT_EQ(list[2].msg, WM_MOUSEMOVE);
    EXPECT_EQ(list[2].lparam, (89 << 16) | 470);
    EXPECT_TRUE(events_to(handle_of(o.m.tabs)).empty());
    EXPECT_EQ(o.sent_closes(), 0);
}

TEST(open_room_via_main_window, resolved_name_is_typed_and_cut_to_24_units) {
    struct row {
        const char16_t *room, *resolved, *typed;
    } rows[] = {
        {u"Team", u"abcdefghijklmnopqrstuvwxyz0123", u"abcdefghijklmnopqrstuvwx"},
        {u"Team", u"", u"Team"},
    };
    for (const auto& r : rows) {
        fake_desktop_scope scope;
        opening o;
        o.req.tab = const_cast<WCHAR*>(u"전체");
        scope.desk.windows[static_cast<size_t>(o.m.results)].visible = false;
        EXPECT_EQ(o.run(r.room, r.resolved), long_doc());
        std::vector<fake_event> search = events_to(handle_of(o.m.search));
        ASSERT_GE(search.size(), 2u);
        EXPECT_EQ(search[1].text, r.typed);
    }
}

TEST(open_room_via_main_window, wrong_rooms_are_closed_and_never_handed_on) {
    fake_desktop_scope scope;
    opening o;
    const int old_room = add_chat_room(u"Old unrelated room");
    o.req.tab = const_cast<WCHAR*>(u"가족");
    o.search_opens({u"x Team Alpha 1", u"x Team Alpha 2", u"x Team Alpha 3",
                    u"x Team Alpha 4", u"x Team Alpha 5", u"x Team Alpha 6"});
    EXPECT_EQ(o.run(u"Team Alpha"), long_doc());
    EXPECT_FALSE(o.opened);
    EXPECT_EQ(scope.desk.sleeps,
              (std::vector<DWORD>{300, 300, 80, 300, 80, 300, 80, 300, 80, 300, 80}));
    EXPECT_EQ(o.sent_closes(), 5);
    EXPECT_TRUE(events_to(handle_of(o.m.tabs)).empty());
    for (const fake_event& e : events_to(handle_of(old_room))) EXPECT_NE(e.msg, WM_CLOSE);
    EXPECT_TRUE(scope.desk.windows[static_cast<size_t>(old_room)].alive);
}

TEST(open_room_via_main_window, right_room_kept_and_wrong_one_dropped_from_the_table) {
    fake_desktop_scope scope;
    opening o;
    scope.desk.react = [&](const fake_event& e) {
        if (e.posted && e.msg == WM_KEYDOWN && e.hwnd == handle_of(o.m.search)) {
            add_chat_room(u"my team alpha");
            add_chat_room(u"Team Alpha");
        }
    };
    o.run(u"Team Alpha");
    EXPECT_TRUE(o.opened);
    ASSERT_EQ(o.set->count, 1);
    EXPECT_EQ(o.set->candidates[0].score, 95);
    EXPECT_EQ(o.sent_closes(), 1);
}

// Windows that come up during the search but hold text, or have no input
// box, may be the person's: left open, and never candidates. A wrong room
// with an empty box is what the search opened, and is closed.
TEST(open_room_via_main_window, wrong_windows_with_text_or_without_a_box_stay_open) {
    fake_desktop_scope scope;
    opening o;
    int with_text = -1, without_box = -1, empty = -1;
    scope.desk.react = [&](const fake_event& e) {
        if (!e.posted || e.msg != WM_KEYDOWN || e.hwnd != handle_of(o.m.search)) return;
        with_text = add_chat_room(u"weekend team alpha", u"half-written");
        without_box = add_window(u"EVA_Window_Dblclk", u"Profile: Team Alpha");
        empty = add_chat_room(u"x Team Alpha");
    };
    EXPECT_EQ(o.run(u"Team Alpha"), long_doc());
    EXPECT_EQ(o.sent_closes(), 1);
    for (const fake_event& e : scope.desk.log)
        if (e.msg == WM_CLOSE) EXPECT_EQ(e.hwnd, handle_of(empty));
    EXPECT_TRUE(scope.desk.windows[static_cast<size_t>(with_text)].alive);
    EXPECT_TRUE(scope.desk.windows[static_cast<size_t>(without_box)].alive);
    EXPECT_EQ(scope.desk.windows[static_cast<size_t>(with_text + 2)].text, u"half-written");
}

TEST(open_room_via_main_window, no_name_opens_nothing) {
    fake_desktop_scope scope;
    opening o;
    o.req.tab = const_cast<WCHAR*>(u"전체");
    o.search_opens({u"Any room"});
    EXPECT_EQ(o.run(nullptr, u""), long_doc());
    EXPECT_TRUE(scope.desk.sleeps.empty());
    EXPECT_TRUE(events_to(handle_of(o.m.search)).empty());
    EXPECT_TRUE(events_to(handle_of(o.m.tabs)).empty());
}

// The wrong room the search brought up cannot be closed safely, and is not
// written into either.
TEST(open_room_via_main_window, too_many_existing_windows_means_nothing_is_closed) {
    fake_desktop_scope scope;
    opening o;
    for (int i = 0; i < 300; ++i) add_window(u"EVA_Window_Dblclk", u"Old");
    scope.desk.windows[static_cast<size_t>(o.m.results)].visible = false;
    o.search_opens({u"x Team Alpha"});
    EXPECT_EQ(o.run(u"Team Alpha"), long_doc());
    EXPECT_TRUE(o.existing->overflowed);
    EXPECT_EQ(o.sent_closes(), 0);
    EXPECT_EQ(o.result, outcome::room_not_opened);
    EXPECT_FALSE(o.opened);
}

TEST(open_room_via_main_window, too_many_existing_windows_still_opens_the_right_room) {
    fake_desktop_scope scope;
    opening o;
    for (int i = 0; i < 300; ++i) add_window(u"EVA_Window_Dblclk", u"Old");
    o.search_opens({u"Team Alpha"});
    EXPECT_EQ(o.run(u"Team Alpha"), "");
    EXPECT_EQ(o.sent_closes(), 0);
    EXPECT_EQ(o.result, outcome::none);
    EXPECT_TRUE(o.opened);
    EXPECT_EQ(o.set->candidates[0].score, 95);
}

TEST(open_room_via_main_window, hidden_search_box_is_shown_without_activation) {
    for (bool shows : {true, false}) {
        fake_desktop_scope scope;
        opening o;
        fake_window& box = scope.desk.windows[static_cast<size_t>(o.m.search)];
        box.visible = false;
        box.shows_on_request = shows;
        o.search_opens({u"Team Alpha"});
        o.run(u"Team Alpha");
        std::vector<fake_event> got = events_to(handle_of(o.m.search));
        ASSERT_FALSE(got.empty());
        EXPECT_EQ(got[0].msg, kShowWindowEvent);
        EXPECT_EQ(got[0].wparam, static_cast<WPARAM>(SW_SHOWNOACTIVATE));
        EXPECT_EQ(o.opened, shows);
        EXPECT_EQ(scope.desk.sleeps, shows ? (std::vector<DWORD>{80, 300, 300, 80})
                                           : (std::vector<DWORD>{80}));
    }
}

TEST(open_room_via_main_window, tab_rows_are_double_clicked_until_the_room_opens) {
    struct row {
        const char* name;
        const char16_t* tab;
        int32_t x;
        int opening_row;  // -1: none opens the room
        int clicks;
    } rows[] = {{"family_six_rows", u"가족", 223, -1, 6}, {"all_five_rows", u"전체", 54, -1, 5},
                {"work_third_row", u"업무", 290, 2, 3}};
    for (const auto& r : rows) {
        fake_desktop_scope scope;
        opening o;
        scope.desk.windows[static_cast<size_t>(o.m.search)].parent = -1;  // no search box
        o.req.tab = const_cast<WCHAR*>(r.tab);
        int double_clicks = 0;
        scope.desk.react = [&](const fake_event& e) {
            if (e.msg == WM_LBUTTONDBLCLK && double_clicks++ == r.opening_row)
                add_chat_room(u"Team Alpha");
        };
        o.run(u"Team Alpha");
        EXPECT_EQ(o.opened, r.opening_row >= 0) << r.name;
        std::vector<fake_event> tab = events_to(handle_of(o.m.tabs));
        ASSERT_EQ(tab.size(), 3u) << r.name;
        EXPECT_EQ(tab[0].lparam, (25 << 16) | r.x) << r.name;
        std::vector<fake_event> rows_clicked = events_to(handle_of(o.m.rooms));
        ASSERT_EQ(rows_clicked.size(), 5u * static_cast<size_t>(r.clicks)) << r.name;
        for (int k = 0; k < r.clicks; ++k)
            EXPECT_EQ(rows_clicked[5u * static_cast<size_t>(k)].lparam, ((48 + 81 * k) << 16) | 200);
        std::vector<DWORD> waits(static_cast<size_t>(r.clicks) + 1, 300);
        waits[0] = 150;
        EXPECT_EQ(scope.desk.sleeps, waits) << r.name;
    }
}

TEST(drop_excluded_candidates, full_record_drops_every_new_window) {
    auto set = std::make_unique<room_match_set>();
    auto existing = std::make_unique<existing_window_set>();
    set->count = 3;
    for (int i = 0; i < 3; ++i) set->candidates[i].hwnd = handle_of(i);
    existing->handles[existing->count++] = handle_of(1);
    existing->excluded_overflowed = true;
    drop_excluded_candidates(set.get(), existing.get());
    ASSERT_EQ(set->count, 1);
    EXPECT_EQ(set->candidates[0].hwnd, handle_of(1));
}

}  // namespace
