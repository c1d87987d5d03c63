// Lazy opening of the current connection in every open mode, database-kind
// detection, database images, and the shell's own SQL functions.
#pragma once

#include <sqlite3.h>

struct ShellContext;
enum class OpenMode : unsigned char;

// Flags of openDatabase.
enum : int {
  keepAlive = 0x001,   // fall back to :memory: instead of exiting
  zipDefault = 0x002,  // an unknown *.zip file counts as a zip archive
};

// Opens p->db when it is null; installs the safe-mode authorizer when needed.
// Returns 0, or 1 when the file could not be opened (with keepAlive, p->db is
// then an in-memory database) or its image could not be loaded (p->db is then
// an empty database); the error has been reported on standard error.
int openDatabase(ShellContext* p, int openFlags);
// The open mode for the file: Unknown, Normal, Append or Zip.
OpenMode detectDatabaseKind(const char* zName, int bDfltZip);
// Whole file contents, zero-terminated, engine allocation; null on failure.
unsigned char* readWholeFile(const char* zName, int* pnByte);
// The image described by hex-dump text, engine allocation; null on error.
unsigned char* readHexDump(ShellContext* p, int* pnData);
// Closes a connection of the shell, reporting a failure on stderr.
void closeConnection(sqlite3* db);
// "name(col,col,...)" from PRAGMA table_info, malloc'd; null without columns,
// and null with *pbNoMemory set when memory ran out.
char* fakeSchema(sqlite3* db, const char* zSchema, const char* zName, bool* pbNoMemory);
