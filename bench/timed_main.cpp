// chatdraft_timed.exe: chatdraft with a stopwatch around the whole run. It
// prints the milliseconds from entering main to leaving it on standard
// error, so the benchmark can tell the program's own time from Wine's
// process start and exit, and of them the time spent waiting for the
// client's answers and in the fixed waits.
#include <windows.h>

#include <cstdio>

#include "command.h"
#include "stopwatch.h"
#include "waits.h"

int main(int argc, char** argv) {
    const double started = now_ms();
    const int rc = chatdraft_main(argc, argv);
    fprintf(stderr, "in_process_ms %.3f answers_ms %.3f sleeps_ms %.3f\n", now_ms() - started,
            waited().answers, waited().sleeps);
    return rc;
}
