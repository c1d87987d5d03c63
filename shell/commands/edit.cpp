// .edit: the last SQL statement in the user's editor; what is saved is read
// next as if typed.
#include <string>

#include "shell/commands/Commands.h"
#include "shell/core/ExternalEditor.h"
#include "shell/core/InputRecall.h"
#include "shell/core/Output.h"
#include "shell/core/SafeMode.h"
#include "shell/core/ShellContext.h"

int doEdit(ShellContext* p, int nArg, char** azArg) {
  (void)azArg;
  // The editor is a program of the user's choice.
  rejectInSafeMode(p, "cannot run .edit in safe mode");
  if (nArg != 1) {
    printRaw(stderr, "Usage: .edit\n");
    return 1;
  }
  const std::string zSql = lastStatement();
  if (zSql.empty()) {
    printRaw(stderr, "Error: no statement to edit: .edit opens the last SQL statement run\n");
    return 1;
  }
  std::fflush(p->pOut);
  EditedText edited = editInExternalEditor(zSql);
  if (!edited.bChanged) {
    printConsole(stderr, "Nothing changed: %s\n", edited.zWhy.c_str());
    return 1;
  }
  queueInput(edited.zText);
  return 0;
}
