// Statement parameters: the values kept in temp.sqlite_parameters.
#pragma once

#include <sqlite3.h>

struct ShellContext;

// Creates temp.sqlite_parameters on the current connection when it is missing
// (with the defensive setting off and the schema writable for the moment).
void createParameterTable(ShellContext* p);

// Binds every parameter of pStmt to its value from temp.sqlite_parameters;
// parameters without a stored value (or without the table) bind NULL.
void bindParameters(ShellContext* p, sqlite3_stmt* pStmt);
