#include "command.h"

int main(int argc, char** argv) { return chatdraft_main(argc, argv); }
