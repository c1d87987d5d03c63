// The pieces of .dump, shared with the tests.
#pragma once

struct ShellContext;
struct sqlite3;

// Runs a listing of (name, type, sql) rows through dumpTableCallback, retrying
// in descending rowid order when the database reports corruption.
int runSchemaDumpQuery(ShellContext* p, const char* zQuery);
// sqlite3_exec callback: dumps one table (its CREATE statement and its rows).
int dumpTableCallback(void* pArg, int nCol, char** azVal, char** azCol);
// Writes every row of zSelect (its columns joined by ',') as one statement.
int runStatementDumpQuery(ShellContext* p, const char* zSelect);
// Slot 0: the rowid's name to dump, or null; slots 1..N: the column names
// (malloc'd); slot N+1: null.  Null when the table has no columns.
char** tableColumnNames(ShellContext* p, const char* zTable);
void freeColumnNames(char** azCol);
// Flips PRAGMA reverse_unordered_selects; returns the pragma's result code.
int toggleUnorderedSelects(sqlite3* db);
