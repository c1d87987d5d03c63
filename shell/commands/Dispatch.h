// The dot-command dispatcher, the help table and its printer.
#pragma once

#include <cstdio>

struct ShellContext;

// A dot-command handler: the words of the line (azArg[nArg] is null).
// Returns 0 success, 1 error, 2 stop reading input.
using DotHandler = int (*)(ShellContext* p, int nArg, char** azArg);

int runDotCommand(char* zLine, ShellContext* p);
int printHelpLines(FILE* out, const char* zPattern);

// The unknown-command message on stderr; returns 1.
int reportUnknownCommand(const char* zCmd);
