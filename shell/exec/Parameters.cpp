// Binding the shell's named parameters before a statement runs.
#include "shell/exec/Parameters.h"

#include "shell/core/ShellContext.h"

void bindParameters(ShellContext* p, sqlite3_stmt* pStmt) {
  int nVar = sqlite3_bind_parameter_count(pStmt);
  if (nVar == 0) return;
  if (sqlite3_table_column_metadata(p->db, "TEMP", "sqlite_parameters", "key", nullptr, nullptr,
                                    nullptr, nullptr, nullptr) != SQLITE_OK) {
    return;
  }
  StmtPtr pQ = prepareStmt(p->db, "SELECT value FROM temp.sqlite_parameters WHERE key=?1");
  if (!pQ) return;
  for (int i = 1; i <= nVar; i++) {
    char zNum[30];
    const char* zVar = sqlite3_bind_parameter_name(pStmt, i);
    if (zVar == nullptr) {
      sqlite3_snprintf(static_cast<int>(sizeof(zNum)), zNum, "?%d", i);
      zVar = zNum;
    }
    sqlite3_bind_text(pQ.get(), 1, zVar, -1, SQLITE_STATIC);
    if (sqlite3_step(pQ.get()) == SQLITE_ROW) {
      sqlite3_bind_value(pStmt, i, sqlite3_column_value(pQ.get(), 0));
    } else {
      sqlite3_bind_null(pStmt, i);
    }
    sqlite3_reset(pQ.get());
  }
}
