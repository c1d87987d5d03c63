// .sha3sum: SHA-3 digests of the main database's tables, through sha3_query.
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ext/sha3/Sha3.h"
#include "shell/commands/Commands.h"
#include "shell/commands/Dispatch.h"
#include "shell/core/OpenDatabase.h"
#include "shell/core/Output.h"
#include "shell/core/ShellContext.h"
#include "shell/exec/Execute.h"

// .sha3sum ?OPTIONS? ?LIKE-PATTERN?
int doSha3sum(ShellContext* p, int nArg, char** azArg) {
  openDatabase(p, 0);
  const char* zLike = nullptr;
  bool bInternal = false;
  bool bDebug = false;
  int iSize = 224;
  for (int i = 1; i < nArg; i++) {
    const char* z = azArg[i];
    if (z[0] == '-') {
      z++;
      if (z[0] == '-') z++;
      if (std::strcmp(z, "schema") == 0) {
        bInternal = true;
      } else if (std::strcmp(z, "sha3-224") == 0 || std::strcmp(z, "sha3-256") == 0 ||
                 std::strcmp(z, "sha3-384") == 0 || std::strcmp(z, "sha3-512") == 0) {
        iSize = std::atoi(z + 5);
      } else if (std::strcmp(z, "debug") == 0) {
        bDebug = true;
      } else {
        printConsole(stderr, "Unknown option \"%s\" on \"%s\"\n", azArg[i], azArg[0]);
        printHelpLines(p->pOut, azArg[0]);
        return 1;
      }
    } else if (zLike != nullptr) {
      printRaw(stderr, "Usage: .sha3sum ?OPTIONS? ?LIKE-PATTERN?\n");
      return 1;
    } else {
      zLike = z;
    }
  }
  char* zSqlRaw = nullptr;
  const int rc = sha3sumBuildSql(p->db, zLike, bInternal, iSize, &zSqlRaw);
  SqlitePtr zSql(zSqlRaw);
  if (rc == SQLITE_NOMEM) exitOutOfMemory();
  if (rc != SQLITE_OK) return reportDatabaseError(p->db);
  if (bDebug) {
    printConsole(p->pOut, "%s\n", zSql.get());
    return 0;
  }
  char* zErrRaw = nullptr;
  runStatements(p, zSql.get(), &zErrRaw);
  SqlitePtr zErr(zErrRaw);
  if (zErr) {
    printConsole(stderr, "Error: %s\n", zErr.get());
    return 1;
  }
  return 0;
}
