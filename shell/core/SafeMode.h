// Safe mode: the refusal that ends the process, and the authorizers that
// enforce and trace what the engine is asked to do.
#pragma once

#include <sqlite3.h>

struct ShellContext;

// In safe mode (bSafeActive), prints "line N: " and the formatted message on
// standard error and ends the process with status 1; otherwise does nothing.
void rejectInSafeMode(ShellContext* p, const char* zFormat, ...);

// The engine authorizer of safe mode: refuses ATTACH and the functions that
// reach outside the database, by ending the process.  Always returns SQLITE_OK.
int safeModeAuthorizer(void* pCtx, int eAction, const char* zA1, const char* zA2, const char* zA3,
                       const char* zA4);

// The authorizer of `.auth on`: writes one line per request to pOut, e.g.
//   authorizer: READ "t1" "a" "main" NULL
// and applies the safe-mode rules while safe mode is in force.  Returns SQLITE_OK.
int traceAuthorizer(void* pCtx, int eAction, const char* zA1, const char* zA2, const char* zA3,
                    const char* zA4);

// The gate of every function that reaches files, programs or loadable code (readfile, writefile,
// fsdir, edit, load_extension), asked at the moment of each call: while safe mode is in force
// the call ends the process with "cannot use the NAME() function in safe mode".  The engine
// does not ask the authorizer about expressions of the schema (CHECK constraints, DEFAULT
// clauses, generated columns, indexes), so this check is the one nothing bypasses.  pCtx is
// the ShellContext.  Returns nonzero (allowed) otherwise.
int allowOutsideReach(void* pCtx, const char* zFunction);

// The published name of an authorizer action code without its "SQLITE_"
// prefix ("CREATE_INDEX" for 1 to "RECURSIVE" for 33); "" for any other code.
const char* authActionName(int eAction);

// Which authorizer a connection of the shell carries (and, in safe mode, the connection's
// two-argument fts3_tokenizer() is switched off again).  The tracer of
// `.auth on` stays with the connection it was chosen for; otherwise a
// connection carries the safe-mode authorizer when safe mode was requested for
// the run, and none else.
enum class AuthChoice {
  Keep,   // any connection: install again what it should carry (safe mode only)
  Fresh,  // a connection just opened: it inherits no earlier `.auth on`
  Trace,  // `.auth on`
  Plain,  // `.auth off`
};
void installAuthorizer(ShellContext* p, AuthChoice eChoice);
