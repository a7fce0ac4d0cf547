// `chatdraft mcp`: a Model Context Protocol server on standard input and
// output, whose tools list rooms, write drafts and send with the person's yes.
#pragma once

struct command_line;

int run_mcp(const command_line& cmd);
