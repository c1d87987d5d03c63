// The SQL function edit(VALUE [, EDITOR]): hands a value to an external editor through a
// temporary file and returns what the editor left in the file.
#pragma once

#include <sqlite3.h>

// The function's callback. EDITOR is a command line for /bin/sh, which gets the temporary file's
// name appended as one quoted word; without EDITOR the environment variable VISUAL is used. A BLOB
// comes back as a BLOB, anything else as TEXT.
void editSqlFunction(sqlite3_context* pCtx, int nArg, sqlite3_value** apArg);

// Registers edit with one and with two arguments, SQLITE_UTF8 | SQLITE_DIRECTONLY: it runs a
// program, so it must not be reachable from views, triggers or schema expressions. Returns the
// first failure.
int editRegister(sqlite3* db);
