// The SQL function edit(VALUE [, EDITOR]): hands a value to an external editor through a
// temporary file and returns what the editor left in the file.
#pragma once

#include <sqlite3.h>

// The function's callback. EDITOR is a command line for /bin/sh, which gets the temporary file's
// name appended as one quoted word; without EDITOR the environment variable VISUAL is used. A BLOB
// comes back as a BLOB, anything else as TEXT.
void editSqlFunction(sqlite3_context* pCtx, int nArg, sqlite3_value** apArg);

// The host's say over every run of the editor: asked with the function's name before each call,
// wherever it comes from (top-level SQL, a trigger, or an expression of the schema, which the
// engine's authorizer is not asked about).  A nonzero answer lets the call go on; zero fails it
// with "not authorized".  The host may also end the process there.  The gate must outlive the
// connection.
struct EditGate {
  int (*xAllow)(void* pArg, const char* zFunction);
  void* pArg;
};

// Registers edit with one and with two arguments, SQLITE_UTF8 | SQLITE_DIRECTONLY: it runs a
// program, so it must not be reachable from views, triggers or schema expressions. pGate, when
// given, is asked before every call (it is the functions' user data). Returns the first failure.
int editRegister(sqlite3* db, const EditGate* pGate = nullptr);
