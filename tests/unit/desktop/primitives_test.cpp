// Keys, clicks and edit-box text I/O: the exact messages and their answers.
#include <gtest/gtest.h>

#include <cstdlib>

#include "edit_box.h"
#include "desktop/fake_desktop.h"

namespace {

struct message {
    UINT msg;
    WPARAM wparam;
    LPARAM lparam;
    bool posted;
};

void expect_traffic(HWND hwnd, const std::vector<message>& expected) {
    std::vector<fake_event> got = events_to(hwnd);
    ASSERT_EQ(got.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(got[i].msg, expected[i].msg) << "message " << i;
        EXPECT_EQ(got[i].wparam, expected[i].wparam) << "message " << i;
        EXPECT_EQ(got[i].lparam, expected[i].lparam) << "message " << i;
        EXPECT_EQ(got[i].posted, expected[i].posted) << "message " << i;
    }
}

std::u16string read_text(HWND hwnd, box_read* how = nullptr) {
    box_read ignored = box_read::whole;
    WCHAR* text = read_edit_text_alloc(hwnd, how ? how : &ignored);
    std::u16string out = text ? text : u"<null>";
    free(text);
    return out;
}

TEST(post_key_formal, posts_down_and_up_with_scan_code_and_no_extended_bit) {
    fake_desktop_scope scope;
    HWND box = handle_of(add_window(u"Edit", u""));
    post_key_formal(box, VK_RETURN);
    post_key_formal(box, VK_DOWN);
    expect_traffic(box, {{WM_KEYDOWN, VK_RETURN, 0x001C0001, true},
                         {WM_KEYUP, VK_RETURN, 0xC01C0001LL, true},
                         {WM_KEYDOWN, VK_DOWN, 0x00500001, true},
                         {WM_KEYUP, VK_DOWN, 0xC0500001LL, true}});
}

TEST(send_click, single_is_three_messages_double_five_at_one_point) {
    fake_desktop_scope scope;
    HWND list = handle_of(add_window(u"EVA_ChildWindow", u""));
    send_click(list, 470, 89, false);
    const LPARAM at = (89 << 16) | 470;
    expect_traffic(list, {{WM_MOUSEMOVE, 0, at, false},
                          {WM_LBUTTONDOWN, MK_LBUTTON, at, false},
                          {WM_LBUTTONUP, 0, at, false}});
    scope.desk.log.clear();
    send_click(list, 200, 453, true);
    const LPARAM row = (453 << 16) | 200;
    expect_traffic(list, {{WM_MOUSEMOVE, 0, row, false},
                          {WM_LBUTTONDOWN, MK_LBUTTON, row, false},
                          {WM_LBUTTONUP, 0, row, false},
                          {WM_LBUTTONDBLCLK, MK_LBUTTON, row, false},
                          {WM_LBUTTONUP, 0, row, false}});
}

TEST(send_click, point_is_formed_in_32_bits_and_sign_extended) {
    fake_desktop_scope scope;
    HWND w = handle_of(add_window(u"EVA_ChildWindow", u""));
    send_click(w, -2, 5, false);
    send_click(w, 1, -1, false);
    std::vector<fake_event> got = events_to(w);
    ASSERT_EQ(got.size(), 6u);
    EXPECT_EQ(got[0].lparam, 0x0005FFFE);
    EXPECT_EQ(got[3].lparam, static_cast<LPARAM>(static_cast<int32_t>(0xFFFF0001u)));
}

TEST(read_edit_text_alloc, placeholder_reported_lengths_and_how_the_read_went) {
    struct row {
        const char* name;
        std::u16string content;
        intptr_t reported;
        bool answers;
        int fail_calloc_at;
        std::u16string expected;
        box_read how;
    } rows[] = {
        {"text", u"hello\r\nworld", INTPTR_MIN, true, 0, u"hello\r\nworld", box_read::whole},
        {"line_break_counted_once", u"line1\r\nline2", 10, true, 0, u"line1\r\nline2", box_read::whole},
        {"placeholder_is_empty", u"메시지 입력", INTPTR_MIN, true, 0, u"", box_read::whole},
        {"placeholder_and_space_kept", u"메시지 입력 ", INTPTR_MIN, true, 0, u"메시지 입력 ", box_read::whole},
        {"first_word_kept", u"메시지", INTPTR_MIN, true, 0, u"메시지", box_read::whole},
        {"empty", u"", INTPTR_MIN, true, 0, u"", box_read::whole},
        {"negative_length_is_empty", u"abc", -5, true, 0, u"", box_read::whole},
        {"short_claim_fills_the_buffer_and_is_cut", u"abcdefgh", 3, true, 0, u"abcdef", box_read::cut},
        {"huge_claim_is_capped", u"abc", INTPTR_MAX, true, 0, u"abc", box_read::whole},
        {"no_answer", u"draft", INTPTR_MIN, false, 0, u"", box_read::unanswered},
        {"no_memory_for_the_text", u"draft", INTPTR_MIN, true, 1, u"<null>", box_read::unanswered},
    };
    for (const auto& r : rows) {
        fake_desktop_scope scope;
        int i = add_window(u"RICHEDIT50W", r.content);
        scope.desk.windows[static_cast<size_t>(i)].reported_length = r.reported;
        scope.desk.windows[static_cast<size_t>(i)].answers = r.answers;
        scope.desk.fail_calloc_at = r.fail_calloc_at;
        box_read how = box_read::whole;
        EXPECT_EQ(read_text(handle_of(i), &how), r.expected) << r.name;
        EXPECT_EQ(how, r.how) << r.name;
    }
    fake_desktop_scope scope;
    box_read how = box_read::whole;
    EXPECT_EQ(read_text(handle_of(1000), &how), u"") << "no such window";
    EXPECT_EQ(how, box_read::unanswered);
}

TEST(get_edit_text_alloc, huge_claim_asks_for_at_most_one_mebi_unit) {
    fake_desktop_scope scope;
    int i = add_window(u"RICHEDIT50W", u"abc");
    scope.desk.windows[static_cast<size_t>(i)].reported_length = INTPTR_MAX;
    read_text(handle_of(i));
    std::vector<fake_event> got = events_to(handle_of(i));
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[1].msg, WM_GETTEXT);
    EXPECT_EQ(got[1].wparam, kMaxEditTextUnits + 1);
}

TEST(set_edit_text_safe, replaces_verifies_and_notifies_the_parent) {
    struct row {
        const char* name;
        std::u16string before, text, after;
        bool answers, settext;
    } rows[] = {
        {"replace", u"old", u"new", u"new", true, false},
        {"lf_read_back_as_crlf_is_equal", u"", u"a\nb", u"a\r\nb", true, false},
        {"empty_text_empties", u"old", u"", u"", true, false},
        {"placeholder_always_falls_back", u"", u"메시지 입력", u"메시지 입력", true, true},
        {"silent_box_gets_settext", u"old", u"new", u"old", false, true},
    };
    for (const auto& r : rows) {
        fake_desktop_scope scope;
        int parent = add_window(u"EVA_ChildWindow", u"");
        int box = add_window(u"RICHEDIT50W", r.before, parent);
        scope.desk.windows[static_cast<size_t>(box)].ctrl_id = 0x12345;
        scope.desk.windows[static_cast<size_t>(box)].answers = r.answers;
        set_edit_text_safe(handle_of(box), r.text.c_str());
        EXPECT_EQ(scope.desk.windows[static_cast<size_t>(box)].text, r.after) << r.name;
        std::vector<fake_event> got = events_to(handle_of(box));
        ASSERT_GE(got.size(), 2u) << r.name;
        EXPECT_EQ(got[0].msg, EM_SETSEL);
        EXPECT_EQ(got[0].lparam, -1);
        EXPECT_EQ(got[1].msg, EM_REPLACESEL);
        EXPECT_EQ(got[1].wparam, 1u);
        EXPECT_EQ(got[1].text, r.text);
        EXPECT_EQ(got.back().msg == WM_SETTEXT, r.settext) << r.name;
        std::vector<fake_event> notes = events_to(handle_of(parent));
        ASSERT_EQ(notes.size(), 1u) << r.name;
        EXPECT_TRUE(notes[0].posted);
        EXPECT_EQ(notes[0].msg, WM_COMMAND);
        EXPECT_EQ(notes[0].wparam, 0x03002345u);
        EXPECT_EQ(notes[0].lparam, reinterpret_cast<LPARAM>(handle_of(box)));
    }
}

TEST(set_edit_text_safe, box_without_parent_gets_no_notification) {
    fake_desktop_scope scope;
    int box = add_window(u"RICHEDIT50W", u"");
    scope.desk.windows[static_cast<size_t>(box)].ctrl_id = 77;
    set_edit_text_safe(handle_of(box), u"x");
    for (const fake_event& e : scope.desk.log) EXPECT_FALSE(e.posted);
}

}  // namespace
