// The command's one file reader: a file whole or its head, and a failure
// told, never an empty text passed off as the file's.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "files.h"

namespace {

TEST(ReadFile, WholeHeadOrFailure) {
    char folder[] = "/tmp/chatdraft-files-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(folder));
    const std::string path = std::string(folder) + "/system.reg";
    const std::string bytes = std::string(70000, 'x') + "\n#arch=win32\n";
    FILE* out = fopen(path.c_str(), "wb");
    ASSERT_NE(nullptr, out);
    ASSERT_EQ(bytes.size(), fwrite(bytes.data(), 1, bytes.size(), out));
    ASSERT_EQ(0, fclose(out));
    struct row {
        const char* name;
        std::string path;
        size_t limit;
        bool read;
        std::string expected;
        int error;  // errno on failure
    };
    const row rows[] = {
        {"whole, beyond one buffer", path, SIZE_MAX, true, bytes, 0},
        {"its head", path, 4096, true, bytes.substr(0, 4096), 0},
        {"no such file", path + ".none", SIZE_MAX, false, "", ENOENT},
        {"a folder opens but cannot be read", folder, SIZE_MAX, false, "", EISDIR},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        std::string got = "left over";
        errno = 0;
        EXPECT_EQ(r.read, read_file(r.path, &got, r.limit));
        EXPECT_EQ(r.expected, got);
        if (!r.read) EXPECT_EQ(r.error, errno);
    }
    remove(path.c_str());
    remove(folder);
}

}  // namespace
