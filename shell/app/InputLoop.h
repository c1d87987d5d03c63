// Reading input lines, assembling statements, running them and reporting errors.
#pragma once

#include <cstdio>

struct ShellContext;

int processInput(ShellContext* p);
char* readLine(FILE* in, char* zPrior, int isContinuation);
char* getLine(char* zLine, FILE* in);
// The scanner's state: the low 8 bits hold the character that closes the
// construct being scanned (0 in plain SQL); the bits above mark what was seen.
using LineScanState = int;
enum : LineScanState {
  hasContent = 0x100,         // text other than white space, comments and semicolons
  endsWithSemicolon = 0x200,  // the last thing seen in plain SQL was a semicolon
};

LineScanState scanLine(const char* zLine, LineScanState state);
bool isCommandTerminator(const char* zLine);
bool isCompleteSql(const char* zSql, int nSql);
void echoInput(ShellContext* p, const char* zText);
int runSqlChunk(ShellContext* p, char* zSql, FILE* in, int iStartLine);
