// The columnar renderer: column, table, markdown and box modes.
#pragma once

#include <sqlite3.h>

#include <cstdio>
#include <span>

struct ShellContext;

// Widths are terminal columns: wide characters count 2, combining and other
// zero-width characters 0.

// Steps pStmt to its end and prints the whole result as an aligned table;
// prints "Interrupt" instead when Ctrl-C arrives.
// At a terminal (ShellContext::nFitWidth set) with .expanded auto, a table
// wider than the window is fitted by wrapping its widest columns, or shown as
// vertical records when even that does not fit; .expanded on shows every
// result as vertical records.
void renderColumnar(ShellContext* p, sqlite3_stmt* pStmt);
// Chooses column widths that sum to at most nBudget: the widest columns are
// narrowed first, to a common cap, none below its floor nor above its natural
// width; what the cap leaves over widens the narrowed columns from the left.
// False (aFit untouched) when even the floors do not fit.
bool fitColumnWidths(std::span<const int> aNatural, std::span<const int> aFloor, int nBudget,
                     std::span<int> aFit);
// The first display line of zText, at most |w| columns (w = 0: no limit),
// tabs expanded; *pzRest receives the start of the rest or null.  The result
// is released with free; null for a null text.
char* cellForDisplay(const char* zText, const char** pzRest, int w, bool bWordWrap);
// The value of column i as an SQL literal, released with sqlite3_free.
char* quotedValue(sqlite3_stmt* pStmt, int i);
// Prints zUtf cut and padded to |w| columns: left-aligned for w > 0,
// right-aligned for w < 0, whole and unpadded for w = 0.
void widthPrint(FILE* out, int w, const char* zUtf);
int textWidth(const char* z);
void printDashes(FILE* out, int n);
// Rules across the columns of the last result, each aWidthNow + 2 wide.
void printDashRule(ShellContext* p, int nArg, const char* zSep);
void printBoxRule(ShellContext* p, int nArg, const char* zSep1, const char* zSep2,
                  const char* zSep3);
