// The request the command writes, read back with chatdraft.exe's own reader:
// every text must come back as the same UTF-16 text, and no text may be read
// as a key.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <string>
#include <unistd.h>

#include "../src/client_layout.h"
#include "command.h"
#include "edit_box.h"
#include "open_room.h"
#include "request.h"
#include "request_writer.h"
#include "window_class.h"
#include "window_model.h"

namespace {

struct read_back {
    std::u16string room, resolved_name, tab, ui_mode, message;
    bool has_message;
    bool send, exact, append, clear, force, close_after;
};

std::u16string take(WCHAR* text) {
    std::u16string value = text ? std::u16string(text) : u"";
    free(text);
    return value;
}

read_back read_with_exe_reader(const std::string& json) {
    request req{};
    EXPECT_TRUE(read_request(json.c_str(), json.size(), &req));
    read_back r{};
    r.has_message = req.message != nullptr;
    r.room = take(req.room);
    r.resolved_name = take(req.resolved_name);
    r.tab = take(req.tab);
    r.ui_mode = take(req.ui_mode);
    r.message = take(req.message);
    req = request{};
    r.send = json_get_bool(json.c_str(), "send");
    r.exact = json_get_bool(json.c_str(), "exact");
    r.append = json_get_bool(json.c_str(), "append");
    r.clear = json_get_bool(json.c_str(), "clear");
    r.force = json_get_bool(json.c_str(), "force");
    r.close_after = json_get_bool(json.c_str(), "close_after");
    return r;
}

std::string make_request(const command_line& cmd) { return request_json(cmd); }

std::string all_controls() {
    std::string text;
    for (char c = 1; c < 0x20; ++c) text += c;
    return text + "\x7f";
}

std::u16string all_controls16() {
    std::u16string text;
    for (char16_t c = 1; c < 0x20; ++c) text += c;
    return text + u"\x7f";
}

struct message_row {
    const char* name;
    std::string message;
    std::u16string expected;
};

TEST(RequestWriter, MessagesComeBackAsTyped) {
    const message_row rows[] = {
        {"quotes", R"(say "hi" "")", uR"(say "hi" "")"},
        {"backslashes", R"(C:\dir\ \\ \" \u0041 \n)", uR"(C:\dir\ \\ \" \u0041 \n)"},
        {"trailing backslash", "end\\", u"end\\"},
        {"send true inside", R"("send": true, "send":true)", uR"("send": true, "send":true)"},
        {"the ten keys", R"("room":"X","resolved_name":"X","tab":"업무","message":"X","ui_mode":)"
                         R"("strict_open_only","send":true,"append":true,"clear":true,)"
                         R"("force":true,"close_after":true)",
         uR"("room":"X","resolved_name":"X","tab":"업무","message":"X","ui_mode":)"
         uR"("strict_open_only","send":true,"append":true,"clear":true,)"
         uR"("force":true,"close_after":true)"},
        {"a key name alone", "send", u"send"},
        {"CR LF and tabs", "a\r\nb\tc\rd\n", u"a\r\nb\tc\rd\n"},
        {"control characters", all_controls(), all_controls16()},
        {"Korean", "안녕하세요, 내일 봐요", u"안녕하세요, 내일 봐요"},
        {"beyond U+FFFF", "케이크 🎂 𝄞", u"케이크 🎂 𝄞"},
        {"empty", "", u""},
    };
    for (const message_row& row : rows) {
        SCOPED_TRACE(row.name);
        command_line cmd;
        cmd.room = "Team Alpha";
        cmd.message = row.message;
        cmd.close_after = true;
        const read_back r = read_with_exe_reader(make_request(cmd));
        EXPECT_TRUE(r.has_message);
        EXPECT_EQ(row.expected, r.message);
        EXPECT_EQ(u"Team Alpha", r.room);
        EXPECT_EQ(u"", r.resolved_name + r.tab + r.ui_mode);
        EXPECT_FALSE(r.send || r.append || r.clear || r.force);
        EXPECT_TRUE(r.exact && r.close_after);
    }
}

TEST(RequestWriter, NamesThatReadLikeKeysStayNames) {
    struct row {
        const char* room;
        std::optional<std::string> message;
    };
    const row rows[] = {
        {"send", "hi"}, {"send", std::nullopt}, {"exact", "hi"}, {"message", "hi"},
        {"message", std::nullopt}, {"resolved_name", "Team"}, {"tab", "업무"},
        {"ui_mode", "strict_open_only"}, {"x\"room", "y\"room"}, {"", "hi"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.room);
        command_line cmd;
        cmd.room = r.room;
        cmd.message = r.message;
        cmd.append = true;
        const read_back back = read_with_exe_reader(make_request(cmd));
        std::u16string room16, message16;
        for (const char* p = r.room; *p; ++p) room16 += static_cast<char16_t>(*p);
        EXPECT_EQ(room16, back.room);
        EXPECT_EQ(r.message.has_value(), back.has_message);
        EXPECT_EQ(u"", back.resolved_name + back.tab + back.ui_mode);
        EXPECT_FALSE(back.send || back.clear || back.force || back.close_after);
        EXPECT_TRUE(back.exact && back.append);
    }
}

TEST(RequestWriter, ResolvedNameEndingInTheMessageKeyStaysAName) {
    for (const char* name : {"message", "Team\"message", "Team\"message\":\"x"}) {
        command_line cmd;
        cmd.room = "Team";
        cmd.resolved_name = name;
        cmd.message = "hi";
        const read_back back = read_with_exe_reader(make_request(cmd));
        std::u16string name16;
        for (const char* p = name; *p; ++p) name16 += static_cast<char16_t>(*p);
        EXPECT_EQ(name16, back.resolved_name) << name;
        EXPECT_EQ(u"hi", back.message) << name;
    }
}

TEST(RequestWriter, HundredThousandCharactersFromStandardInput) {
    std::string text;
    std::u16string expected;
    for (int i = 0; i < 100000; ++i) {
        static const char* const pieces[] = {"가", "a", "\n", "🎂", "\""};
        static const char16_t* const pieces16[] = {u"가", u"a", u"\n", u"🎂", u"\""};
        text += pieces[i % 5];
        expected += pieces16[i % 5];
    }
    FILE* file = tmpfile();
    ASSERT_NE(nullptr, file);
    ASSERT_EQ(text.size(), fwrite(text.data(), 1, text.size(), file));
    fflush(file);
    lseek(fileno(file), 0, SEEK_SET);
    command_line cmd;
    cmd.room = "Team Alpha";
    cmd.message.emplace();
    std::string error;
    ASSERT_TRUE(read_message(fileno(file), &*cmd.message, &error)) << error;
    fclose(file);
    EXPECT_EQ(text, *cmd.message);
    EXPECT_EQ(expected, read_with_exe_reader(make_request(cmd)).message);
}

// The command and the exe take the client's tabs from one book: every tab the
// command accepts reaches the exe as a tab it clicks at the same place, and a
// name the command refuses is no tab to the exe either.
TEST(RequestWriter, CommandAndExeKnowTheSameTabs) {
    const std::pair<const char*, int> rows[] = {
        {"전체", 54}, {"안읽음", 140}, {"가족", 223}, {"업무", 290}, {"교사", 356},
        {"Work", -1}, {"전체 ", -1}, {"전", -1}, {"", -1},
    };
    for (const auto& [name, x] : rows) {
        SCOPED_TRACE(name);
        EXPECT_EQ(x != -1, is_tab_name(name));
        command_line cmd;
        cmd.room = "R";
        cmd.tab = name;
        std::u16string tab = read_with_exe_reader(make_request(cmd)).tab;
        const client_tab* found = find_chat_tab(reinterpret_cast<const WCHAR*>(tab.c_str()));
        EXPECT_EQ(x, found ? found->x : -1);
    }
    EXPECT_EQ(5u, std::size(kClientTabs));
}

std::string utf8_of(const WCHAR* text) {
    char bytes[64] = {};
    EXPECT_LT(0, WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof bytes, nullptr, nullptr));
    return bytes;
}

// The exe compares window texts in UTF-16, the command names them in UTF-8:
// both forms are the client's own texts.
TEST(RequestWriter, CommandAndExeKnowTheSameWindowTexts) {
    const struct {
        const WCHAR* exe;
        const char* command;
        const char* client;
    } rows[] = {
        {kClientClass, CLIENT_CLASS, "EVA_Window_Dblclk"},
        {kMainTitle, CLIENT_MAIN_TITLE, "카카오톡"},
        {kPlaceholder, CLIENT_PLACEHOLDER, "메시지 입력"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.client, utf8_of(row.exe));
        EXPECT_STREQ(row.client, row.command);
    }
}

TEST(RequestWriter, InvalidUtf8AndNulAreRefused) {
    const std::pair<std::string, const char*> rows[] = {
        {"plain", nullptr}, {"\xEF\xBF\xBF U+FFFF", nullptr}, {"\xF4\x8F\xBF\xBF", nullptr},
        {"\xED\x9F\xBF", nullptr}, {"\xE0\xA0\x80", nullptr},
        {std::string("a\0b", 3), "holds a NUL byte"},
        {"\xC0\x80", "is not valid UTF-8"},          // overlong NUL
        {"\xE0\x80\x80", "is not valid UTF-8"},      // overlong
        {"\xED\xA0\x80", "is not valid UTF-8"},      // a surrogate
        {"\xF4\x90\x80\x80", "is not valid UTF-8"},  // above U+10FFFF
        {"\x80", "is not valid UTF-8"},              // a lone continuation byte
        {"\xE1\x80", "is not valid UTF-8"},          // cut short
        {"\xFF", "is not valid UTF-8"},
    };
    for (const auto& [text, fault] : rows) {
        const char* got = text_fault(text);
        EXPECT_STREQ(fault, got) << text;
    }
    int fds[2];
    ASSERT_EQ(0, pipe(fds));
    ASSERT_EQ(5, write(fds[1], "ab\0cd", 5));
    close(fds[1]);
    std::string message, error;
    EXPECT_FALSE(read_message(fds[0], &message, &error));
    EXPECT_EQ("MESSAGE holds a NUL byte", error);
    close(fds[0]);
}

}  // namespace
