// costs.exe: the costs of a chatdraft run that chatdraft's own code does not
// decide, measured alone so that the benchmark can tell them from the rest:
//   costs.exe message HWND N    one sent message's round trip to a box of
//                               another process: half a box read, the
//                               median of N
//   costs.exe files OUT [REQ]   chatdraft's file work once, in a fresh
//                               process as in a run: read REQ, write OUT.tmp,
//                               rename it over OUT
//   costs.exe sleep MS          how much longer than MS a Sleep(MS) lasts,
//                               the median of 5
// Prints "cost_ms X" on standard error; exit code 2 on a bad command line.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "stopwatch.h"

namespace {

constexpr UINT kTimeoutMs = 2000;

// Half of one box read (WM_GETTEXTLENGTH, then WM_GETTEXT of the whole text),
// since reads are most of what every path sends.
double message_ms(HWND hwnd, int count) {
    std::vector<double> times;
    std::vector<WCHAR> text(4096);
    for (int i = 0; i < count; ++i) {
        DWORD_PTR length = 0, copied = 0;
        const double started = now_ms();
        SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kTimeoutMs, &length);
        const WPARAM units = std::min<DWORD_PTR>(length + 1, text.size());
        SendMessageTimeoutW(hwnd, WM_GETTEXT, units, reinterpret_cast<LPARAM>(text.data()),
                            SMTO_ABORTIFHUNG, kTimeoutMs, &copied);
        times.push_back((now_ms() - started) / 2);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void read_request(const char* path) {
    FILE* in = fopen(path, "rb");
    if (!in) return;
    fseek(in, 0, SEEK_END);
    long size = ftell(in);
    fseek(in, 0, SEEK_SET);
    char* text = static_cast<char*>(calloc(static_cast<size_t>(size) + 1, 1));
    if (text && size > 0) (void)!fread(text, 1, static_cast<size_t>(size), in);
    fclose(in);
    free(text);
}

double oversleep_ms(DWORD ms) {
    std::vector<double> over;
    for (int i = 0; i < 5; ++i) {
        const double started = now_ms();
        Sleep(ms);
        over.push_back(now_ms() - started - ms);
    }
    std::sort(over.begin(), over.end());
    return over[over.size() / 2];
}

// A document of a typical result's size.
void write_and_rename(const char* output) {
    char temp[MAX_PATH + 8];
    snprintf(temp, sizeof temp, "%s.tmp", output);
    FILE* out = fopen(temp, "wb");
    if (!out) return;
    for (int i = 0; i < 6; ++i) fputs("{\"status\":\"draft_written\",\"room_title\":\"Room\"}", out);
    fputs("\n", out);
    fflush(out);
    fclose(out);
    MoveFileExA(temp, output, MOVEFILE_REPLACE_EXISTING);
}

}  // namespace

int main(int argc, char** argv) {
    double cost = 0;
    if (argc == 4 && strcmp(argv[1], "message") == 0) {
        HWND hwnd = reinterpret_cast<HWND>(static_cast<uintptr_t>(_strtoui64(argv[2], nullptr, 0)));
        cost = message_ms(hwnd, std::max(1, atoi(argv[3])));
    } else if ((argc == 3 || argc == 4) && strcmp(argv[1], "files") == 0) {
        const double started = now_ms();
        if (argc == 4) read_request(argv[3]);
        write_and_rename(argv[2]);
        cost = now_ms() - started;
    } else if (argc == 3 && strcmp(argv[1], "sleep") == 0) {
        cost = oversleep_ms(static_cast<DWORD>(atoi(argv[2])));
    } else {
        fputs("usage: costs.exe message HWND N | files OUT [REQ] | sleep MS\n", stderr);
        return 2;
    }
    fprintf(stderr, "cost_ms %.4f\n", cost);
    return 0;
}
