/* The bare reference of the start-up benchmark: what "sqlsh :memory: 'SELECT 1'"
 * must do at the least.  Opens an in-memory database, runs SELECT 1 and prints
 * its value. */
#include <sqlite3.h>
#include <stdio.h>

int main(void) {
  sqlite3* db = NULL;
  sqlite3_stmt* pStmt = NULL;
  int rc = 1;
  if (sqlite3_open(":memory:", &db) == SQLITE_OK &&
      sqlite3_prepare_v2(db, "SELECT 1", -1, &pStmt, NULL) == SQLITE_OK) {
    while (sqlite3_step(pStmt) == SQLITE_ROW) {
      printf("%s\n", (const char*)sqlite3_column_text(pStmt, 0));
    }
    rc = sqlite3_finalize(pStmt) == SQLITE_OK ? 0 : 1;
  }
  sqlite3_close(db);
  return rc;
}
