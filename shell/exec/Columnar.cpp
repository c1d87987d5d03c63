// Placeholder: the columnar modes print nothing until the renderer is built.
#include "shell/exec/Columnar.h"

#include "shell/core/ShellContext.h"

void renderColumnar(ShellContext*, sqlite3_stmt* pStmt) {
  while (sqlite3_step(pStmt) == SQLITE_ROW) {
  }
}
