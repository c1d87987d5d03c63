// Column names of a table that `.import` creates: the first record's fields,
// made unique (ignoring ASCII case) with numeric suffixes, gathered in a
// private in-memory database.
#pragma once

#include <sqlite3.h>

// With a name: records it as the next column; opens the scratch database *pDb
// on the first call.  Returns null.
// With zName null: returns the column-definition list "(\n"a" TEXT, ...)"
// (engine allocation, or null when no name was recorded), stores the report of
// renamed columns (engine allocation) or null through pzRenamed when it is not
// null, closes the scratch database and sets *pDb to null.
char* importColumnNames(const char* zName, sqlite3** pDb, char** pzRenamed);

// Declares the first nType recorded columns with the types azType (the
// column list gives TEXT otherwise); an empty type declares none.  Call between the names and the
// results.
void importColumnTypes(sqlite3* db, const char* const* azType, int nType);

// Column 0 of the first row of zSql as an int; 0 without a row or when the
// statement cannot be prepared.
int db_int(sqlite3* db, const char* zSql);
