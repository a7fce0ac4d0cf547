// The command: its line and its two modes, probe and request, each ending
// in one result file.
#pragma once

#include <cstdio>

#include "request.h"

// One request, from the search for the client's windows to the last piece
// of its result document.
void serve_request(const request* req, FILE* out);

// The whole program: argument handling, both modes, exit code 0 or 2.
int chatdraft_main(int argc, char** argv);
