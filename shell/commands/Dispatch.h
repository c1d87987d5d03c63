// The dot-command dispatcher, the help table and its printer.
#pragma once

#include <cstdio>
#include <span>

struct ShellContext;

// A dot-command handler: the words of the line (azArg[nArg] is null).
// Returns 0 success, 1 error, 2 stop reading input.  A handler that must
// return without the end-of-command steps (one-shot countdown, safe-mode
// re-arm) adds dotSkipEndSteps to its result.
using DotHandler = int (*)(ShellContext* p, int nArg, char** azArg);
inline constexpr int dotSkipEndSteps = 0x100;

// How a command word is compared with a row's name.
enum class MatchRule {
  Prefix,  // an abbreviation of at least nMinLength bytes, first letter equal
  Exact,   // the whole name only
};

// One row of the dispatch chain.  A row without a handler belongs to a
// command that is not available in this build: its words report the
// unknown-command message, but they still claim their abbreviations.
struct DotCommandRow {
  const char* zName;
  int nMinLength;
  MatchRule eRule;
  DotHandler xHandler;
};

// The rows in the order in which they are tested.
std::span<const DotCommandRow> dotCommandRows();
// The rows of the terminal's commands, tested after all of dotCommandRows.
std::span<const DotCommandRow> terminalCommandRows();
// The first row that accepts zWord, or null.
const DotCommandRow* findDotCommand(const char* zWord);

// The argument vector: at most maxDotArgs words plus the terminating null.
inline constexpr int maxDotArgs = 51;
// Splits the line (byte 0 is the period) into words in place; returns their
// number.  azArg needs maxDotArgs + 1 slots; azArg[result] is null.
int splitDotCommandLine(char* zLine, char** azArg);

int runDotCommand(char* zLine, ShellContext* p);
int printHelpLines(FILE* out, const char* zPattern);
// The same over the help table followed by the entries of the terminal's
// commands (terminalHelpLines) when bTerminal is set.
int printHelpLines(FILE* out, const char* zPattern, bool bTerminal);

// The unknown-command message on stderr; returns 1.
int reportUnknownCommand(const char* zCmd);

// The help table (HelpLines.cpp).
inline constexpr int nHelpLines = 175;
extern const char* const helpLines[nHelpLines];
// The entries of the commands that came with the terminal's features
// (.edit and .watch also run in scripts); .help shows them after the others
// when its output goes to the terminal, so that a script's .help prints the
// table it always printed.
inline constexpr int nTerminalHelpLines = 15;
extern const char* const terminalHelpLines[nTerminalHelpLines];
