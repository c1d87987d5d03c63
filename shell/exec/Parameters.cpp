// Binding the shell's named parameters before a statement runs, and the table
// that holds their values.
//
// Every statement with parameters looks its names up afresh, with a lookup
// prepared for that statement alone: nothing is remembered between
// statements, so a value always comes from the table as it stands (whatever
// changed it, on whichever schema), and .trace and .auth show the lookup of
// every statement.
#include "shell/exec/Parameters.h"

#include "shell/core/ShellContext.h"

void createParameterTable(ShellContext* p) {
  int bDefensive = 0;
  int bWritableSchema = 0;
  sqlite3_db_config(p->db, SQLITE_DBCONFIG_DEFENSIVE, -1, &bDefensive);
  sqlite3_db_config(p->db, SQLITE_DBCONFIG_DEFENSIVE, 0, nullptr);
  sqlite3_db_config(p->db, SQLITE_DBCONFIG_WRITABLE_SCHEMA, -1, &bWritableSchema);
  sqlite3_db_config(p->db, SQLITE_DBCONFIG_WRITABLE_SCHEMA, 1, nullptr);
  sqlite3_exec(p->db,
               "CREATE TABLE IF NOT EXISTS temp.sqlite_parameters(\n"
               "  key TEXT PRIMARY KEY,\n"
               "  value\n"
               ") WITHOUT ROWID;",
               nullptr, nullptr, nullptr);
  sqlite3_db_config(p->db, SQLITE_DBCONFIG_WRITABLE_SCHEMA, bWritableSchema, nullptr);
  sqlite3_db_config(p->db, SQLITE_DBCONFIG_DEFENSIVE, bDefensive, nullptr);
}

void bindParameters(ShellContext* /*p*/, sqlite3_stmt* pStmt) {
  const int nVar = sqlite3_bind_parameter_count(pStmt);
  if (nVar == 0) return;
  // The values come from the statement's own connection.
  sqlite3* db = sqlite3_db_handle(pStmt);
  const int rcTable = sqlite3_table_column_metadata(db, "TEMP", "sqlite_parameters", "key", nullptr,
                                                    nullptr, nullptr, nullptr, nullptr);
  // Out of memory must not look like a parameter without a value.
  if (rcTable == SQLITE_NOMEM) exitOutOfMemory();
  if (rcTable != SQLITE_OK) return;
  int rcPrepare = SQLITE_OK;
  StmtPtr pLookup =
      prepareStmt(db, "SELECT value FROM temp.sqlite_parameters WHERE key=?1", &rcPrepare);
  if (rcPrepare == SQLITE_NOMEM) exitOutOfMemory();
  if (rcPrepare != SQLITE_OK) return;

  for (int i = 1; i <= nVar; i++) {
    char zNum[30];
    const char* zVar = sqlite3_bind_parameter_name(pStmt, i);
    if (zVar == nullptr) {
      sqlite3_snprintf(static_cast<int>(sizeof(zNum)), zNum, "?%d", i);
      zVar = zNum;
    }
    sqlite3_bind_text(pLookup.get(), 1, zVar, -1, SQLITE_STATIC);
    const int rcStep = sqlite3_step(pLookup.get());
    if (rcStep == SQLITE_NOMEM) exitOutOfMemory();
    if (rcStep == SQLITE_ROW) {
      if (sqlite3_bind_value(pStmt, i, sqlite3_column_value(pLookup.get(), 0)) == SQLITE_NOMEM) {
        exitOutOfMemory();
      }
    } else {
      sqlite3_bind_null(pStmt, i);
    }
    sqlite3_reset(pLookup.get());
  }
}
