// Reading input lines, assembling statements, running them and reporting errors.
#pragma once

#include <cstdio>

struct ShellContext;

int processInput(ShellContext* p);
char* readLine(FILE* in, char* zPrior, int isContinuation);
char* getLine(char* zLine, FILE* in);
int scanLine(const char* zLine, int state);
bool isCommandTerminator(const char* zLine);
bool isCompleteSql(const char* zSql, int nSql);
void echoInput(ShellContext* p, const char* zText);
int runSqlChunk(ShellContext* p, char* zSql, FILE* in, int iStartLine);
