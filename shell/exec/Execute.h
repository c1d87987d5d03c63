// The statement pipeline: run SQL text, show plans and bytecode, render rows.
#pragma once

#include <sqlite3.h>

struct ShellContext;

// Runs every statement of zSql; returns the failing result code or SQLITE_OK.
// *pzErrMsg (engine allocation) receives the error text when asked for.
int runStatements(ShellContext* p, const char* zSql, char** pzErrMsg);
// Reports on standard error the failure of SQL run by runStatements: its
// error text zErrMsg (null: the connection's message), as "Parse error",
// "Runtime error" or "Error", followed by " near line N" when iLine > 0.
void reportStatementError(ShellContext* p, const char* zErrMsg, int iLine);
int runPrepared(ShellContext* p, sqlite3_stmt* pStmt);
char* phaseErrorText(sqlite3* db, const char* zPhase, int rc, const char* zSql);
char* sqlErrorContext(const char* zSql, sqlite3* db);
void prepareExplainIndent(ShellContext* p, sqlite3_stmt* pSql);
void clearExplainIndent(ShellContext* p);
void planAppend(ShellContext* p, int iEqpId, int iParentId, const char* zText);
void planRender(ShellContext* p);
void planClear(ShellContext* p);
// sqlite3_exec callback form of renderRow (no column types).
int rowCallback(void* pArg, int nArg, char** azArg, char** azCol);

// Row-at-a-time renderers.
int renderRow(ShellContext* p, int nArg, char** azArg, char** azCol, int* aiType);
void setInsertTable(ShellContext* p, const char* zName);
bool isNumberText(const char* z, int* pbRealNum);
