// The command: its line and its two modes, probe and request, each ending
// in one result file.
#pragma once

// The whole program: argument handling, both modes, exit code 0 or 2.
int chatdraft_main(int argc, char** argv);
