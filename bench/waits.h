// chatdraft_timed's stopwatch on the waits: the time spent waiting for the
// client's answers to sent messages and in Sleep is added up, so the
// benchmark can tell chatdraft's own time from the client's and the fixed
// waits'. waits.cpp defines the platform's two waiting calls in place of the
// Windows forwarders; the program is otherwise the same.
#pragma once

struct waited_ms {
    double answers;  // inside SendMessageTimeoutW
    double sleeps;   // inside Sleep
};
waited_ms& waited();
