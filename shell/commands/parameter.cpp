// .parameter: the values bound to SQL parameters, kept in the table
// temp.sqlite_parameters of the current connection.
#include <cstring>

#include "shell/commands/Commands.h"
#include "shell/commands/Dispatch.h"
#include "shell/core/OpenDatabase.h"
#include "shell/core/Output.h"
#include "shell/core/ShellContext.h"
#include "shell/exec/Parameters.h"

namespace {

constexpr int maxKeyWidth = 40;

// Lists "KEY VALUE" lines, the keys padded to the widest (at most 40), the
// values as SQL literals.  Without the table nothing is listed.
void listParameters(ShellContext* p) {
  int nWidth = 0;
  {
    int rc = SQLITE_OK;
    StmtPtr pStmt = prepareStmt(p->db, "SELECT max(length(key)) FROM temp.sqlite_parameters;", &rc);
    if (rc == SQLITE_NOMEM) exitOutOfMemory();
    rc = pStmt ? sqlite3_step(pStmt.get()) : SQLITE_DONE;
    if (rc == SQLITE_NOMEM) exitOutOfMemory();
    if (rc == SQLITE_ROW) {
      nWidth = sqlite3_column_int(pStmt.get(), 0);
      if (nWidth > maxKeyWidth) nWidth = maxKeyWidth;
    }
  }
  if (nWidth == 0) return;
  int rc = SQLITE_OK;
  StmtPtr pStmt = prepareStmt(p->db, "SELECT key, quote(value) FROM temp.sqlite_parameters;", &rc);
  if (rc == SQLITE_NOMEM) exitOutOfMemory();
  if (!pStmt) return;
  while ((rc = sqlite3_step(pStmt.get())) == SQLITE_ROW) {
    const unsigned char* zKey = sqlite3_column_text(pStmt.get(), 0);
    const unsigned char* zValue = sqlite3_column_text(pStmt.get(), 1);
    if ((zKey == nullptr || zValue == nullptr) && sqlite3_errcode(p->db) == SQLITE_NOMEM) {
      exitOutOfMemory();
    }
    printConsole(p->pOut, "%-*s %s\n", nWidth, zKey, zValue);
  }
  if (rc == SQLITE_NOMEM) exitOutOfMemory();
}

// Stores zValue for zKey: as the SQL expression it is, or, when it is none,
// as text.
int setParameter(ShellContext* p, const char* zKey, const char* zValue) {
  createParameterTable(p);
  SqlitePtr zSql(checkAlloc(sqlite3_mprintf(
      "REPLACE INTO temp.sqlite_parameters(key,value)VALUES(%Q,%s);", zKey, zValue)));
  int rc = SQLITE_OK;
  StmtPtr pStmt = prepareStmt(p->db, zSql.get(), &rc);
  // Out of memory is no sign that the value is not an expression: storing it
  // as text then would silently change its type.
  if (rc == SQLITE_NOMEM) exitOutOfMemory();
  if (!pStmt) {
    zSql.reset(checkAlloc(sqlite3_mprintf(
        "REPLACE INTO temp.sqlite_parameters(key,value)VALUES(%Q,%Q);", zKey, zValue)));
    pStmt = prepareStmt(p->db, zSql.get());
    if (!pStmt) {
      printConsole(p->pOut, "Error: %s\n", sqlite3_errmsg(p->db));
      return 1;
    }
  }
  if (sqlite3_step(pStmt.get()) == SQLITE_NOMEM) exitOutOfMemory();
  return 0;
}

}  // namespace

int doParameter(ShellContext* p, int nArg, char** azArg) {
  openDatabase(p, 0);
  const char* zCmd = nArg >= 2 ? azArg[1] : "";
  if (nArg == 2 && std::strcmp(zCmd, "clear") == 0) {
    sqlite3_exec(p->db, "DROP TABLE IF EXISTS temp.sqlite_parameters;", nullptr, nullptr, nullptr);
    return 0;
  }
  if (nArg == 2 && std::strcmp(zCmd, "init") == 0) {
    createParameterTable(p);
    return 0;
  }
  if (nArg == 2 && std::strcmp(zCmd, "list") == 0) {
    listParameters(p);
    return 0;
  }
  if (nArg == 4 && std::strcmp(zCmd, "set") == 0) return setParameter(p, azArg[2], azArg[3]);
  if (nArg == 3 && std::strcmp(zCmd, "unset") == 0) {
    SqlitePtr zSql(
        checkAlloc(sqlite3_mprintf("DELETE FROM temp.sqlite_parameters WHERE key=%Q", azArg[2])));
    sqlite3_exec(p->db, zSql.get(), nullptr, nullptr, nullptr);
    return 0;
  }
  printHelpLines(p->pOut, "parameter");
  return 0;
}
