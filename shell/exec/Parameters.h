// Statement parameters: the values kept in temp.sqlite_parameters.
#pragma once

#include <sqlite3.h>

struct ShellContext;

// Binds every parameter of pStmt to its value from temp.sqlite_parameters;
// parameters without a stored value (or without the table) stay NULL.
void bindParameters(ShellContext* p, sqlite3_stmt* pStmt);
