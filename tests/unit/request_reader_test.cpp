// The request reader: key lookup, string escapes, flags and the request record.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "request.h"

namespace {

// The text in a buffer of exactly its size, so that ASan reports any read
// past the terminator.
struct exact_text {
    char* bytes;
    explicit exact_text(const std::string& s) : bytes(static_cast<char*>(malloc(s.size() + 1))) {
        memcpy(bytes, s.c_str(), s.size() + 1);
    }
    ~exact_text() { free(bytes); }
};

struct wstr_result {
    bool present;
    std::u16string value;
};

wstr_result get_wstr(const std::string& text, const char* key) {
    exact_text t(text);
    WCHAR* v = nullptr;
    (void)read_string_value(t.bytes, key, &v);
    wstr_result r{v != nullptr, v ? std::u16string(v) : std::u16string()};
    free(v);
    return r;
}

int get_bool(const std::string& text, const char* key) {
    exact_text t(text);
    return json_get_bool(t.bytes, key);
}

struct wstr_row {
    const char* name;
    std::string text;
    const char* key;
    bool present;
    std::u16string value;
};

TEST(JsonGetWstr, KeyLookup) {
    const wstr_row rows[] = {
        {"plain", R"({"room":"A"})", "room", true, u"A"},
        {"missing key", R"({"tab":"A"})", "room", false, u""},
        {"key is case-sensitive", R"({"Room":"A"})", "room", false, u""},
        {"blanks around the colon", "{\"room\" \t\r\n:\n\t \"A\"}", "room", true, u"A"},
        {"second colon skipped", R"({"room"::"A"})", "room", true, u"A"},
        {"no colon after key", R"({"room" "A"})", "room", false, u""},
        {"no colon after the key's own quotes", R"({"room" "x","tab":"B"})", "room", false, u""},
        {"number", R"({"room":12})", "room", false, u""},
        {"negative number", R"({"room":-1})", "room", false, u""},
        {"null", R"({"room":null})", "room", false, u""},
        {"object", R"({"room":{"a":"b"}})", "room", false, u""},
        {"array", R"({"room":["A"]})", "room", false, u""},
        {"true", R"({"room":true})", "room", false, u""},
        {"colon at end of text", R"({"room":)", "room", false, u""},
        {"empty string is present", R"({"room":""})", "room", true, u""},
        {"value equal to the key is no key", R"({"message":"room","tab":"x","room":"A"})", "room",
         true, u"A"},
        {"later occurrence that qualifies", R"({"tab":"room" , "room" : "A"})", "room", true, u"A"},
        {"nested object", R"({"meta":{"room":"A"}})", "room", true, u"A"},
        {"top level wins over nested", R"({"reply_to":{"room":"Family","id":7},"room":"Work"})",
         "room", true, u"Work"},
        {"top level wins over nested array", R"({"x":[{"room":"B"}],"room":"A"})", "room", true,
         u"A"},
        {"first nested when no top level", R"({"a":{"room":"B"},"b":{"room":"C"}})", "room", true,
         u"B"},
        {"escaped key inside a string", R"({"note":""room":"X"","room":"A"})", "room", true,
         u"A"},
        {"escaped key only", R"({"note":""room":"X""})", "room", false, u""},
        {"brace inside a string", R"({"a":"{{","room":"A"})", "room", true, u"A"},
        {"byte order mark", "\xEF\xBB\xBF{\"room\":\"A\"}", "room", true, u"A"},
        {"longest key", R"({"resolved_name":"R"})", "resolved_name", true, u"R"},
        {"resolved_name is not room", R"({"resolved_name":"R"})", "room", false, u""},
    };
    for (const auto& row : rows) {
        wstr_result r = get_wstr(row.text, row.key);
        EXPECT_EQ(row.present, r.present) << row.name;
        EXPECT_EQ(row.value, r.value) << row.name;
    }
}

TEST(JsonGetWstr, Escapes) {
    const wstr_row rows[] = {
        {"quote", R"({"m":"a\"b"})", "m", true, u"a\"b"},
        {"slash", R"({"m":"a\/b"})", "m", true, u"a/b"},
        {"backslash", R"({"m":"a\\b"})", "m", true, u"a\\b"},
        {"escaped backslash before quote", R"({"m":"a\\"})", "m", true, u"a\\"},
        {"n r t", R"({"m":"1\n2\r3\t4"})", "m", true, u"1\n2\r3\t4"},
        {"raw line break kept", "{\"m\":\"line1\nline2\"}", "m", true, u"line1\nline2"},
        {"raw control byte kept", "{\"m\":\"a\x01z\"}", "m", true, u"a\x01z"},
        {"b backspace", R"({"m":"a\bb"})", "m", true, u"a\bb"},
        {"f form feed", R"({"m":"a\fb"})", "m", true, u"a\fb"},
        {"digit dropped", R"({"m":"a\7b"})", "m", true, u"ab"},
        {"high byte dropped", "{\"m\":\"a\\\x80z\"}", "m", true, u"az"},
        {"u00e9", R"({"m":"\u00e9"})", "m", true, u"\u00e9"},
        {"uAC00", R"({"m":"\uAC00"})", "m", true, u"\uAC00"},
        {"u0041", R"({"m":"\u0041"})", "m", true, u"A"},
        {"u007f one byte", R"({"m":"\u007f"})", "m", true, u"\x7f"},
        {"u0080 two bytes", R"({"m":"\u0080"})", "m", true, u"\u0080"},
        {"u07FF two bytes", R"({"m":"\u07FF"})", "m", true, u"\u07FF"},
        {"u0800 three bytes", R"({"m":"\u0800"})", "m", true, u"\u0800"},
        {"uFFFF", R"({"m":"\uffff"})", "m", true, u"\uFFFF"},
        {"short number resumes four after u", R"({"m":"\u41xyZ"})", "m", true, u"AZ"},
        {"no number", R"({"m":"\uZZ"})", "m", true, u"ZZ"},
        {"white space before digits", R"({"m":"\u 41xy"})", "m", true, u"Ay"},
        {"u0000 ends the value", R"({"m":"ab\u0000cd"})", "m", true, u"ab"},
        {"raw hangul", "{\"m\":\"\xEC\xB9\xB4\xED\x86\xA1\"}", "m", true, u"\uCE74\uD1A1"},
        {"raw beyond BMP", "{\"m\":\"\xF0\x9F\x98\x80\"}", "m", true, u"\U0001F600"},
        {"invalid raw UTF-8", "{\"m\":\"a\xFFz\"}", "m", true, u"a\uFFFDz"},
        {"no closing quote", R"({"m":"abc)", "m", true, u"abc"},
        {"backslash at the very end", "{\"m\":\"ab\\", "m", true, u"ab\\"},
        {"u at the very end", "{\"m\":\"a\\u", "m", true, u"a"},
        {"one digit at the end", "{\"m\":\"a\\u4", "m", true, u"a\x04"},
        {"three digits at the end", "{\"m\":\"a\\u7ff", "m", true, u"a\u07ff"},
        {"quote inside the four", R"({"m":"a\u4"bc"x})", "m", true, u"a\x04"},
    };
    for (const auto& row : rows) {
        wstr_result r = get_wstr(row.text, row.key);
        EXPECT_EQ(row.present, r.present) << row.name;
        EXPECT_EQ(row.value, r.value) << row.name;
    }
}

TEST(JsonGetWstr, SurrogateEscapes) {
    const wstr_row rows[] = {
        {"pair is one character", R"({"m":"Happy \ud83c\udf82"})", "m", true, u"Happy \U0001F382"},
        {"pair in capitals", R"({"m":"\uD83D\uDE00!"})", "m", true, u"\U0001F600!"},
        {"lone high", R"({"m":"a\uD800b"})", "m", true, u"a\uFFFDb"},
        {"lone low", R"({"m":"a\uDC00b"})", "m", true, u"a\uFFFDb"},
        {"low before high", R"({"m":"\uDC00\uD800"})", "m", true, u"\uFFFD"},
        {"high then a plain escape", R"({"m":"\uD800\u0041"})", "m", true, u"\uFFFDA"},
        {"high at the very end", "{\"m\":\"\\uD800", "m", true, u"\uFFFD"},
        {"high, then a cut escape", "{\"m\":\"\\uD800\\uDC", "m", true, u"\uFFFD\u00DC"},
    };
    for (const auto& row : rows) {
        wstr_result r = get_wstr(row.text, row.key);
        EXPECT_EQ(row.present, r.present) << row.name;
        // A lone half becomes one or more U+FFFD, as the converter decides.
        std::u16string got;
        for (char16_t unit : r.value)
            if (unit != 0xFFFD || got.empty() || got.back() != 0xFFFD) got += unit;
        EXPECT_EQ(row.value, got) << row.name;
    }
}

struct bool_row {
    const char* name;
    std::string text;
    int expected;
};

TEST(JsonGetBool, Values) {
    const bool_row rows[] = {
        {"true", R"({"send":true})", 1},
        {"blanks and colons", "{\"send\" :\r\n\t: true}", 1},
        {"false", R"({"send":false})", 0},
        {"quoted true", R"({"send":"true"})", 0},
        {"capital True", R"({"send":True})", 0},
        {"one", R"({"send":1})", 0},
        {"missing", R"({"room":"A"})", 0},
        {"trueish", R"({"send":trueish})", 1},
        {"cut short", R"({"send":tru)", 0},
        {"no colon", R"({"send" true})", 0},
        {"a value equal to the key is no key", R"({"tab":"send","message":"hi","send":true})", 1},
        {"only the value equals the key", R"({"room":"A","message":"send","close_after":true})", 0},
        {"top level wins", R"({"opts":{"send":false},"send":true})", 1},
        {"nested counts when alone", R"({"opts":{"send":true}})", 1},
    };
    for (const auto& row : rows) EXPECT_EQ(row.expected, get_bool(row.text, "send")) << row.name;
}

TEST(ReadRequest, FillsEveryField) {
    exact_text t(R"({"room":"R","resolved_name":"N","tab":"T","message":"M","ui_mode":"U",)"
                 R"("send":true,"append":true,"clear":true,"force":true,"close_after":true,"exact":true})");
    request req{};
    EXPECT_TRUE(read_request(t.bytes, strlen(t.bytes), &req));
    EXPECT_EQ(u"R", std::u16string(req.room));
    EXPECT_EQ(u"N", std::u16string(req.resolved_name));
    EXPECT_EQ(u"T", std::u16string(req.tab));
    EXPECT_EQ(u"M", std::u16string(req.message));
    EXPECT_EQ(u"U", std::u16string(req.ui_mode));
    EXPECT_TRUE(req.send && req.append && req.clear && req.force && req.close_after && req.exact);
    free_request(&req);
    EXPECT_EQ(nullptr, req.room);
    EXPECT_FALSE(req.send);
}

TEST(ReadRequest, OnlyRoomGiven) {
    for (const char* text : {R"({"room":"A"})", "\xEF\xBB\xBF{\"room\":\"A\"}"}) {
        exact_text t(text);
        request req{};
        EXPECT_TRUE(read_request(t.bytes, strlen(t.bytes), &req));
        ASSERT_NE(nullptr, req.room);
        EXPECT_EQ(u"A", std::u16string(req.room));
        EXPECT_EQ(nullptr, req.resolved_name);
        EXPECT_EQ(nullptr, req.tab);
        EXPECT_EQ(nullptr, req.message);
        EXPECT_EQ(nullptr, req.ui_mode);
        EXPECT_FALSE(req.send || req.append || req.clear || req.force || req.close_after);
        free_request(&req);
    }
}

TEST(ReadRequest, EmptyTextHasNothing) {
    request req{};
    EXPECT_TRUE(read_request("", 0, &req));
    EXPECT_TRUE(!req.room && !req.resolved_name && !req.tab && !req.message && !req.ui_mode);
    EXPECT_FALSE(req.send || req.append || req.clear || req.force || req.close_after);
}

// A request that cannot be honoured as written is refused as a whole: a NUL
// would cut the room's name or the message short without a word.
TEST(ReadRequest, RefusesTextsItCannotHonourAsWritten) {
    struct row {
        const char* name;
        std::string text;
        bool readable;
    } rows[] = {
        {"nul escape in message", R"({"room":"A","message":"a\u0000b","send":true})", false},
        {"nul escape in room", R"({"room":"A\u0000B","message":"x"})", false},
        {"nul escape in resolved_name", R"({"resolved_name":"\u0000","message":"x"})", false},
        {"nul escape in tab is harmless", R"({"room":"A","tab":"x\u0000y"})", true},
        {"nul byte inside the message", std::string(R"({"room":"A","message":"hi)") + '\0' + "there\"}",
         false},
        {"nul byte after the members", std::string(R"({"room":"A","message":"hi")") + '\0' + "junk",
         true},
        {"unterminated without nul", R"({"room":"A","message":"hi)", true},
    };
    for (const auto& r : rows) {
        exact_text t(r.text);
        request req{};
        EXPECT_EQ(r.readable, read_request(t.bytes, r.text.size(), &req)) << r.name;
        free_request(&req);
    }
}

}  // namespace
