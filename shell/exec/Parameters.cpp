// Binding the shell's named parameters before a statement runs, and the table
// that holds their values.
#include "shell/exec/Parameters.h"

#include "shell/core/OpenDatabase.h"
#include "shell/core/ShellContext.h"

namespace {

// The value lookup, prepared once and reset after each use.  It belongs to
// one connection; a statement of another connection prepares it again there.
sqlite3_stmt* pLookup = nullptr;

sqlite3_stmt* lookupFor(sqlite3* db) {
  if (pLookup != nullptr && sqlite3_db_handle(pLookup) == db) return pLookup;
  releaseParameterLookup(nullptr);
  if (sqlite3_prepare_v3(db, "SELECT value FROM temp.sqlite_parameters WHERE key=?1", -1,
                         SQLITE_PREPARE_PERSISTENT, &pLookup, nullptr) != SQLITE_OK) {
    sqlite3_finalize(pLookup);
    pLookup = nullptr;
    return nullptr;
  }
  setBeforeCloseHook(releaseParameterLookup);
  return pLookup;
}

}  // namespace

void releaseParameterLookup(sqlite3* db) {
  if (pLookup == nullptr) return;
  if (db != nullptr && sqlite3_db_handle(pLookup) != db) return;
  sqlite3_finalize(pLookup);
  pLookup = nullptr;
}

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

void bindParameters(ShellContext* p, sqlite3_stmt* pStmt) {
  const int nVar = sqlite3_bind_parameter_count(pStmt);
  if (nVar == 0) return;
  // The statement's own connection holds the table it is bound from.
  sqlite3* db = sqlite3_db_handle(pStmt);
  (void)p;
  if (sqlite3_table_column_metadata(db, "TEMP", "sqlite_parameters", "key", nullptr, nullptr,
                                    nullptr, nullptr, nullptr) != SQLITE_OK) {
    return;
  }
  sqlite3_stmt* pQ = lookupFor(db);
  if (pQ == nullptr) return;
  for (int i = 1; i <= nVar; i++) {
    char zNum[30];
    const char* zVar = sqlite3_bind_parameter_name(pStmt, i);
    if (zVar == nullptr) {
      sqlite3_snprintf(static_cast<int>(sizeof(zNum)), zNum, "?%d", i);
      zVar = zNum;
    }
    sqlite3_bind_text(pQ, 1, zVar, -1, SQLITE_STATIC);
    if (sqlite3_step(pQ) == SQLITE_ROW) {
      sqlite3_bind_value(pStmt, i, sqlite3_column_value(pQ, 0));
    } else {
      sqlite3_bind_null(pStmt, i);
    }
    sqlite3_reset(pQ);
  }
  // The key text is the caller's: the lookup must not keep pointing at it.
  sqlite3_clear_bindings(pQ);
}
