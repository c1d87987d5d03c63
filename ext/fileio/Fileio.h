// File-system access from SQL: readfile(PATH), writefile(PATH, DATA [, MODE [, MTIME]]),
// lsmode(MODE) and the table-valued function fsdir(PATH [, DIR]), which walks a directory
// tree depth-first and yields one row per entry (name, mode, mtime, data).
#pragma once

#include <sqlite3.h>

// Registers readfile, writefile, lsmode and the fsdir module on db, in that order; the first
// result that is not SQLITE_OK stops the sequence and is returned.  readfile, writefile and
// fsdir may be used from top-level SQL only (never from views or triggers).
int fileioRegister(sqlite3* db);

// Renders a mode word the way a directory listing does: a type character ('-' regular file,
// 'd' directory, '?' anything else) and the nine permission characters for owner, group and
// others.  zOut receives 10 characters and a terminating zero.
void formatFileMode(unsigned mMode, char zOut[11]);
