// The native stand-in for the platform: UTF-8 conversion as CP_UTF8 with
// flags 0 does it, and a move that replaces an existing file only when asked.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"

namespace {

std::u16string to_utf16(const std::string& bytes) {
    int n = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()),
                                nullptr, 0);
    std::u16string out(static_cast<size_t>(n), u'\0');
    if (n > 0)
        EXPECT_EQ(n, MultiByteToWideChar(CP_UTF8, 0, bytes.data(),
                                         static_cast<int>(bytes.size()), out.data(), n));
    return out;
}

std::string to_utf8(const std::u16string& text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    if (n > 0)
        EXPECT_EQ(n, WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         out.data(), n, nullptr, nullptr));
    return out;
}

struct utf8_row {
    const char* name;
    std::string utf8;
    std::u16string utf16;
};

TEST(Utf8ToUtf16, DecodesValidAndReplacesInvalid) {
    const utf8_row rows[] = {
        {"ascii", "abc", u"abc"},
        {"hangul", "\xEC\xB9\xB4\xED\x86\xA1", u"\uCE74\uD1A1"},
        {"beyond BMP", "\xF0\x9F\x98\x80", u"\U0001F600"},
        {"lone continuation", "a\x80" "b", u"a\uFFFDb"},
        {"truncated sequence", "a\xEC\xB9", u"a\uFFFD"},
        {"overlong", "\xC0\xAF", u"\uFFFD\uFFFD"},
        {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
        {"above U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"byte FF", "\xFF", u"\uFFFD"},
    };
    for (const auto& row : rows) EXPECT_EQ(row.utf16, to_utf16(row.utf8)) << row.name;
}

TEST(Utf16ToUtf8, EncodesPairsAndReplacesLoneSurrogates) {
    const utf8_row rows[] = {
        {"hangul", "\xEC\xB9\xB4", u"\uCE74"},
        {"pair", "\xF0\x9F\x98\x80", u"\U0001F600"},
        {"lone high", "a\xEF\xBF\xBD", u"a\xD800"},
        {"lone low", "\xEF\xBF\xBDz", u"\xDC00z"},
        {"reversed pair", "\xEF\xBF\xBD\xEF\xBF\xBD", u"\xDC00\xD800"},
    };
    for (const auto& row : rows) EXPECT_EQ(row.utf8, to_utf8(row.utf16)) << row.name;
}

TEST(Utf8ToUtf16, MinusOneLengthCountsTheTerminator) {
    WCHAR buffer[8] = {};
    EXPECT_EQ(3, MultiByteToWideChar(CP_UTF8, 0, "ab", -1, nullptr, 0));
    EXPECT_EQ(3, MultiByteToWideChar(CP_UTF8, 0, "ab", -1, buffer, 8));
    EXPECT_EQ(u'b', buffer[1]);
    EXPECT_EQ(0, buffer[2]);
    EXPECT_EQ(0, MultiByteToWideChar(CP_UTF8, 0, "abc", -1, buffer, 2)) << "too small";
}

bool write_text(const std::string& path, const char* text) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = fputs(text, f) >= 0;
    return fclose(f) == 0 && ok;
}

std::string read_text(const std::string& path) {
    std::string text;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return text;
    for (int c; (c = fgetc(f)) != EOF;) text += static_cast<char>(c);
    fclose(f);
    return text;
}

struct move_row {
    const char* name;
    DWORD flags;
    bool target_is_directory;
    bool moved;
};

// The result file is renamed over the previous one in one step; a directory
// under the output path is never replaced.
TEST(MoveFileEx, ReplacesAFileOnlyWhenAskedAndNeverADirectory) {
    const move_row rows[] = {
        {"replace a file", MOVEFILE_REPLACE_EXISTING, false, true},
        {"existing file kept without the flag", 0, false, false},
        {"directory kept", MOVEFILE_REPLACE_EXISTING, true, false},
    };
    for (const auto& row : rows) {
        char dir[] = "/tmp/chatdraft_move_XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(dir));
        std::string from = std::string(dir) + "/a", to = std::string(dir) + "/b";
        ASSERT_TRUE(write_text(from, "new"));
        if (row.target_is_directory)
            ASSERT_EQ(0, mkdir(to.c_str(), 0700));
        else
            ASSERT_TRUE(write_text(to, "old"));
        EXPECT_EQ(row.moved, MoveFileExA(from.c_str(), to.c_str(), row.flags) != FALSE) << row.name;
        EXPECT_EQ(row.moved, access(from.c_str(), F_OK) != 0) << row.name;
        if (!row.target_is_directory)
            EXPECT_EQ(row.moved ? "new" : "old", read_text(to)) << row.name;
        std::system(("rm -rf '" + std::string(dir) + "'").c_str());
    }
}

}  // namespace
