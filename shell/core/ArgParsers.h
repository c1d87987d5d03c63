// Parsers for the words of dot-commands and command-line options.
#pragma once

#include <sqlite3.h>

// 0-15 for a hexadecimal digit character, -1 otherwise.
int hexNibble(char c);

// Rewrites z in place, replacing backslash escapes (\n, \t, \033, ...) by the
// bytes they stand for.  Never makes the text longer.
void expandBackslashEscapes(char* z);

// Reads on/off, yes/no and numbers; warns on stderr and gives 0 for anything else.
int parseBooleanArg(const char* zArg);

// Decimal or 0x-hexadecimal integer with an optional size suffix (KiB, MB, K, ...).
sqlite3_int64 parseIntegerArg(const char* zArg);
