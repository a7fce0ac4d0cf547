// The command: its line, its two modes (probe and request), and the result
// file written under a temporary name and renamed over the output.
#pragma once

// The whole program: argument handling, both modes, exit code 0 or 2.
int chatdraft_main(int argc, char** argv);
