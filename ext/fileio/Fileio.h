// File-system access from SQL: readfile(PATH), writefile(PATH, DATA [, MODE [, MTIME]]),
// lsmode(MODE) and the table-valued function fsdir(PATH [, DIR]), which walks a directory
// tree depth-first and yields one row per entry (name, mode, mtime, data).
#pragma once

#include <sqlite3.h>

// The host's say over every use of the file system: asked with the function's name before each
// call of readfile or writefile and before fsdir reads anything, wherever the call comes from
// (top-level SQL, a trigger, or an expression of the schema, which the engine's authorizer is
// not asked about).  A nonzero answer lets the call go on; zero fails it with "not authorized".
// The host may also end the process there.  The gate must outlive the connection.
struct FileioGate {
  int (*xAllow)(void* pArg, const char* zFunction);
  void* pArg;
};

// Registers readfile, writefile, lsmode and the fsdir module on db, in that order; the first
// result that is not SQLITE_OK stops the sequence and is returned.  readfile, writefile and
// fsdir may be used from top-level SQL only (never from views or triggers).  pGate, when given,
// is asked before every call of readfile, writefile and fsdir.
int fileioRegister(sqlite3* db, const FileioGate* pGate = nullptr);

// Renders a mode word the way a directory listing does: a type character ('-' regular file,
// 'd' directory, '?' anything else) and the nine permission characters for owner, group and
// others.  zOut receives 10 characters and a terminating zero.
void formatFileMode(unsigned mMode, char zOut[11]);
