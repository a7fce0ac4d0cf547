// Finding what one run needs: the Wine prefix, the TMPDIR of its wineserver,
// the Wine loader and chatdraft.exe.
#pragma once

#include <string>
#include <vector>

struct command_line;

struct wine_setup {
    std::string prefix;         // absolute
    std::string prefix_origin;  // how it was found, for messages
    bool win32 = false;         // "#arch=win32" in the prefix's system.reg
    std::string loader;         // wine64, or wine for a 32-bit prefix
    std::string exe;            // chatdraft.exe or chatdraft32.exe
    std::string server_tmpdir;  // TMPDIR for the exe; empty: leave the caller's
};

// False with *error set when something is missing: no prefix, no Wine, no exe.
bool locate_wine(const command_line& cmd, wine_setup* setup, std::string* error);

// The caller's own TMPDIR, or /tmp.
std::string caller_tmpdir();

// The processes of this user that run KakaoTalk.exe in `prefix` (absolute):
// the client, whose windows the focus guard tells by their _NET_WM_PID.
std::vector<long> client_pids(const std::string& prefix);
