// chatdraft_main on the native desktop, which has no windows at all: the
// command forms, exit codes, standard streams and the result file.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "command.h"
#include "golden_texts.h"

namespace {

constexpr char kUsage[] =
    "Usage: prog --probe [out_json] | <req_json_path> <out_json_path>\n";
constexpr char kNoClientProbe[] =
    "{\"status\":\"ok\",\"main_hwnd\":0,\"kakao_pid\":0,\"login_state\":\"logged_out\","
    "\"open_rooms\":[]}\n";
std::string main_window_not_found_doc() { return golden_error_doc("MAIN_WINDOW_NOT_FOUND"); }
std::string needs_open_room_short_doc() { return golden_error_doc("NEEDS_OPEN_ROOM short"); }

struct run_result {
    int rc;
    std::string out;
    std::string err;
};

std::string read_fd_file(FILE* f) {
    std::string s;
    rewind(f);
    for (int c; (c = fgetc(f)) != EOF;) s += static_cast<char>(c);
    fclose(f);
    return s;
}

// Runs chatdraft_main with argv[0] "prog", its standard output and error
// going to temporary files for the call.
run_result run_main(std::vector<std::string> args) {
    args.insert(args.begin(), "prog");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    FILE* out = tmpfile();
    FILE* err = tmpfile();
    fflush(stdout);
    fflush(stderr);
    int saved_out = dup(1), saved_err = dup(2);
    dup2(fileno(out), 1);
    dup2(fileno(err), 2);
    int rc = chatdraft_main(static_cast<int>(args.size()), argv.data());
    fflush(stdout);
    fflush(stderr);
    dup2(saved_out, 1);
    dup2(saved_err, 2);
    close(saved_out);
    close(saved_err);
    return {rc, read_fd_file(out), read_fd_file(err)};
}

bool write_file(const std::string& path, const std::string& bytes) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    fwrite(bytes.data(), 1, bytes.size(), f);
    return fclose(f) == 0;
}

std::string read_file(const std::string& path) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return "<missing>";
    return read_fd_file(f);
}

// A fresh directory per test, listed and removed afterwards.
class FrontMain : public ::testing::Test {
protected:
    std::string dir;
    void SetUp() override {
        char tmpl[] = "/tmp/chatdraft_front_XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(tmpl));
        dir = tmpl;
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }
    std::string path(const std::string& name) const { return dir + "/" + name; }
    std::vector<std::string> entries() const {
        std::vector<std::string> names;
        DIR* d = opendir(dir.c_str());
        while (dirent* e = d ? readdir(d) : nullptr)
            if (e->d_name[0] != '.') names.push_back(e->d_name);
        if (d) closedir(d);
        std::sort(names.begin(), names.end());
        return names;
    }
};

using names = std::vector<std::string>;

struct misuse_row {
    const char* name;
    std::vector<std::string> args;
};

TEST_F(FrontMain, MisuseGivesUsageOnStandardErrorAndExitTwo) {
    const misuse_row rows[] = {
        {"no argument", {}},
        {"one request path", {"req.json"}},
        {"one unknown option", {"--help"}},
        {"empty argument", {""}},
    };
    for (const auto& row : rows) {
        run_result r = run_main(row.args);
        EXPECT_EQ(2, r.rc) << row.name;
        EXPECT_EQ(kUsage, r.err) << row.name;
        EXPECT_EQ("", r.out) << row.name;
    }
    EXPECT_EQ(names{}, entries());
}

TEST_F(FrontMain, NoProgramNameStillGivesUsage) {
    char* argv[] = {nullptr};
    fflush(stderr);
    int saved = dup(2);
    FILE* err = tmpfile();
    dup2(fileno(err), 2);
    int rc = chatdraft_main(0, argv);
    fflush(stderr);
    dup2(saved, 2);
    close(saved);
    EXPECT_EQ(2, rc);
    EXPECT_EQ(0u, read_fd_file(err).find("Usage: "));
}

TEST_F(FrontMain, ProbeToStandardOutput) {
    run_result r = run_main({"--probe"});
    EXPECT_EQ(0, r.rc);
    EXPECT_EQ(kNoClientProbe, r.out);
    EXPECT_EQ("", r.err);
    EXPECT_EQ(names{}, entries());
}

TEST_F(FrontMain, ProbeToFileIgnoresExtraArguments) {
    write_file(path("out.json"), "old document that is longer than the new one");
    run_result r = run_main({"--probe", path("out.json"), "extra"});
    EXPECT_EQ(0, r.rc);
    EXPECT_EQ("", r.out);
    EXPECT_EQ("", r.err);
    EXPECT_EQ(kNoClientProbe, read_file(path("out.json")));
    EXPECT_EQ(names{"out.json"}, entries());
}

TEST_F(FrontMain, ProbeIntoMissingDirectoryExitsTwo) {
    run_result r = run_main({"--probe", path("no/out.json")});
    EXPECT_EQ(2, r.rc);
    EXPECT_EQ("", r.out + r.err);
    EXPECT_EQ(names{}, entries());
}

TEST_F(FrontMain, ProbeInCapitalsIsARequestPath) {
    run_result r = run_main({"--PROBE", path("out.json")});
    EXPECT_EQ(2, r.rc);
    EXPECT_EQ("", r.out + r.err);
    EXPECT_EQ(names{}, entries());
}

struct request_row {
    const char* name;
    std::string request;
    std::string document;
};

TEST_F(FrontMain, RequestWithoutClientEndsInOneDocument) {
    const std::string not_found = main_window_not_found_doc();
    const std::string no_room = needs_open_room_short_doc();
    const request_row rows[] = {
        {"room only", R"({"room":"Team A","message":"hi"})", not_found},
        {"empty request", "", not_found},
        {"no known key", R"({"other":1})", not_found},
        {"other ui_mode", R"({"room":"A","ui_mode":"strict"})", not_found},
        {"ui_mode in capitals", R"({"room":"A","ui_mode":"STRICT_OPEN_ONLY"})",
         not_found},
        {"strict_open_only", R"({"room":"A","ui_mode":"strict_open_only"})", no_room},
        {"strict_open_only after a NUL byte", std::string("{\"room\":\"A\"}\0", 13) +
             R"({"ui_mode":"strict_open_only"})", not_found},
        {"escaped strict_open_only", R"({"ui_mode":"strict\u005fopen_only"})",
         no_room},
    };
    for (const auto& row : rows) {
        ASSERT_TRUE(write_file(path("req.json"), row.request));
        run_result r = run_main({path("req.json"), path("out.json"), "ignored"});
        EXPECT_EQ(0, r.rc) << row.name;
        EXPECT_EQ("", r.out + r.err) << row.name;
        EXPECT_EQ(row.document, read_file(path("out.json"))) << row.name;
        EXPECT_EQ((names{"out.json", "req.json"}), entries()) << row.name;
    }
}

TEST_F(FrontMain, ExistingOutputAndTemporaryFilesAreReplaced) {
    write_file(path("req.json"), R"({"room":"A","ui_mode":"strict_open_only"})");
    write_file(path("out.json"), "previous result");
    write_file(path("out.json.tmp"), std::string(4000, 'x'));
    run_result r = run_main({path("req.json"), path("out.json")});
    EXPECT_EQ(0, r.rc);
    EXPECT_EQ(needs_open_room_short_doc(), read_file(path("out.json")));
    EXPECT_EQ((names{"out.json", "req.json"}), entries());
}

// A document that cannot be put under the output path is a failure, not a
// success with no document: exit 2, and the complete document stays under the
// temporary name.
TEST_F(FrontMain, OutputPathThatCannotBeReplacedExitsTwo) {
    write_file(path("req.json"), R"({"room":"A","ui_mode":"strict_open_only"})");
    ASSERT_EQ(0, mkdir(path("out.json").c_str(), 0700));
    run_result r = run_main({path("req.json"), path("out.json")});
    EXPECT_EQ(2, r.rc);
    EXPECT_EQ(needs_open_room_short_doc(), read_file(path("out.json.tmp")));
    EXPECT_EQ((names{"out.json", "out.json.tmp", "req.json"}), entries());
    rmdir(path("out.json").c_str());
    ASSERT_EQ(0, mkdir(path("probe.json").c_str(), 0700));
    r = run_main({"--probe", path("probe.json")});
    EXPECT_EQ(2, r.rc);
    EXPECT_NE(std::string::npos, read_file(path("probe.json.tmp")).find("\"open_rooms\":[]"));
}

TEST_F(FrontMain, UnreadableRequestLeavesNoFile) {
    mkdir(path("sub").c_str(), 0700);
    write_file(path("req.json"), R"({"room":"A"})");
    const misuse_row rows[] = {
        {"missing request file", {path("none.json"), path("out.json")}},
        {"output directory missing", {path("req.json"), path("no/out.json")}},
    };
    for (const auto& row : rows) {
        run_result r = run_main(row.args);
        EXPECT_EQ(2, r.rc) << row.name;
        EXPECT_EQ("", r.out + r.err) << row.name;
        EXPECT_EQ((names{"req.json", "sub"}), entries()) << row.name;
    }
}

// A pipe has no size to take: the request cannot be read, and the client
// must not be acted on for a request nobody could read.
TEST_F(FrontMain, UnseekableRequestExitsTwo) {
    ASSERT_EQ(0, mkfifo(path("req.fifo").c_str(), 0600));
    // The reader may close before the writer has written.
    auto previous = signal(SIGPIPE, SIG_IGN);
    std::thread writer([&] {
        int fd = open(path("req.fifo").c_str(), O_WRONLY);
        if (fd < 0) return;
        const char text[] = R"({"room":"A","ui_mode":"strict_open_only"})";
        (void)!write(fd, text, sizeof text - 1);
        close(fd);
    });
    run_result r = run_main({path("req.fifo"), path("out.json")});
    writer.join();
    signal(SIGPIPE, previous);
    EXPECT_EQ(2, r.rc);
    EXPECT_EQ("", r.out + r.err);
    EXPECT_EQ(names{"req.fifo"}, entries());
}

// A size beyond a signed 32-bit count cannot be read as one request text.
TEST_F(FrontMain, RequestBeyondTwoGigabytesExitsTwo) {
    write_file(path("big.json"), R"({"room":"A","ui_mode":"strict_open_only"})");
    ASSERT_EQ(0, truncate(path("big.json").c_str(), 3LL << 30));
    run_result r = run_main({path("big.json"), path("out.json")});
    EXPECT_EQ(2, r.rc);
    EXPECT_EQ("", r.out + r.err);
    EXPECT_EQ(names{"big.json"}, entries());
}

// The temporary path is the output path plus ".tmp" at any length; a cut
// temporary path could name the output file itself and the final delete
// would destroy the document.
TEST_F(FrontMain, LongOutputPathKeepsTheDocument) {
    std::string deep = dir;
    std::string segment(200, 'd');
    for (int i = 0; i < 4; ++i) {
        deep += "/" + segment;
        ASSERT_EQ(0, mkdir(deep.c_str(), 0700));
    }
    write_file(path("req.json"), R"({"room":"A","ui_mode":"strict_open_only"})");
    for (size_t pad : {0u, 1u, 2u, 3u, 4u, 5u, 40u}) {
        std::string out = deep + "/";
        out += std::string(1024 - 4 - (deep.size() + 1) + pad, 'o');
        ASSERT_GE(out.size() + 4, 1020u);
        run_result r = run_main({path("req.json"), out});
        EXPECT_EQ(0, r.rc) << out.size();
        EXPECT_EQ(needs_open_room_short_doc(), read_file(out)) << out.size();
        EXPECT_NE(0, access((out + ".tmp").c_str(), F_OK)) << out.size();
        unlink(out.c_str());
    }
}

}  // namespace
