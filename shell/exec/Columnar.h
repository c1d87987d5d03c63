// The columnar renderer: column, table, markdown and box modes.
#pragma once

#include <sqlite3.h>

#include <cstdio>

struct ShellContext;

// Steps pStmt to its end and prints the whole result as an aligned table.
void renderColumnar(ShellContext* p, sqlite3_stmt* pStmt);
char* cellForDisplay(const char* zText, const char** pzRest, int w, bool bWordWrap);
char* quotedValue(sqlite3_stmt* pStmt, int i);
void widthPrint(FILE* out, int w, const char* zUtf);
int textWidth(const char* z);
void printDashes(FILE* out, int n);
void printDashRule(ShellContext* p, int nArg, const char* zSep);
void printBoxRule(ShellContext* p, int nArg, const char* zSep1, const char* zSep2,
                  const char* zSep3);
