#include "front.h"

int main(int argc, char** argv) { return chatdraft_main(argc, argv); }
