// The probe: the client's state and every open room with its draft, as one
// document. It only reads.
#pragma once

#include <cstdio>

// Writes the whole probe document to the stream; always 0.
int run_probe(FILE* out);
