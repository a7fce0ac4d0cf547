// write_json_escaped: the byte table, null and empty texts, UTF-16 to UTF-8.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "documents.h"
#include "stream_capture.h"

namespace {

struct escape_row {
    const char* name;
    const WCHAR* text;
    std::string expected;
};

TEST(WriteJsonEscaped, ByteTable) {
    const escape_row rows[] = {
        {"null", nullptr, R"("")"},
        {"empty", u"", R"("")"},
        {"plain", u"Team A", R"("Team A")"},
        {"quote", u"a\"b", R"("a\"b")"},
        {"backslash", u"a\\b", R"("a\\b")"},
        {"CR LF", u"1\r\n2", R"("1\r\n2")"},
        {"TAB", u"a\tb", R"("a\tb")"},
        {"0x01", u"\x01", R"("\u0001")"},
        {"backspace", u"\x08", R"("\u0008")"},
        {"form feed", u"\x0C", R"("\u000c")"},
        {"0x1F", u"\x1F", R"("\u001f")"},
        {"0x0B", u"a\x0B", R"("a\u000b")"},
        {"space is raw", u" ", R"(" ")"},
        {"slash is raw", u"a/b", R"("a/b")"},
        {"DEL is raw", u"a\x7F", "\"a\x7F\""},
        {"korean raw", u"\uCE74\uD1A1", "\"\xEC\xB9\xB4\xED\x86\xA1\""},
        {"middle dot raw", u"\u00B7", "\"\xC2\xB7\""},
        {"beyond BMP four bytes", u"\U0001F600", "\"\xF0\x9F\x98\x80\""},
        {"lone high surrogate", u"a\xD800z", "\"a\xEF\xBF\xBDz\""},
        {"lone low surrogate", u"\xDC00", "\"\xEF\xBF\xBD\""},
        {"all escapes together", u"\"\\\n\r\t\x01/", R"("\"\\\n\r\t\u0001/")"},
    };
    for (const auto& row : rows) EXPECT_EQ(row.expected, capture_stream([&](FILE* out) {
                                               write_json_escaped(out, row.text);
                                           })) << row.name;
}

TEST(WriteJsonEscaped, EveryControlUnitIsEscaped) {
    for (WCHAR c = 1; c < 0x20; ++c) {
        const WCHAR text[] = {c, 0};
        std::string written = capture_stream([&](FILE* out) { write_json_escaped(out, text); });
        for (size_t i = 1; i + 1 < written.size(); ++i)
            EXPECT_GE(static_cast<unsigned char>(written[i]), 0x20) << "unit " << int(c);
        EXPECT_EQ('\\', written[1]) << "unit " << int(c);
    }
}

TEST(WriteJsonEscaped, LongTextIsWrittenWhole) {
    std::u16string text(100000, u'\uAC00');
    std::string written =
        capture_stream([&](FILE* out) { write_json_escaped(out, text.c_str()); });
    ASSERT_EQ(2 + 3 * text.size(), written.size());
    EXPECT_EQ("\"\xEA\xB0\x80", written.substr(0, 4));
    EXPECT_EQ('"', written.back());
}

}  // namespace
