// .edit: the last SQL statement in the user's editor; what is saved is read
// next as if typed (by the input that ran the command; on the command line,
// as an input of its own).
#include <cstdio>
#include <string>
#include <utility>

#include "shell/commands/Commands.h"
#include "shell/core/ExternalEditor.h"
#include "shell/core/InputRecall.h"
#include "shell/core/NestedInput.h"
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
  if (p->nInputDepth > 0) {
    // The input loop running this command reads the text next.
    queueInput(edited.zText);
    return 0;
  }
  // A command of the command line, with no input being read: the text runs
  // as an input of its own.
  std::string zText = std::move(edited.zText);
  FILE* pIn = fmemopen(zText.data(), zText.size(), "r");
  if (pIn == nullptr) {
    printRaw(stderr, "Error: cannot read the edited text\n");
    return 1;
  }
  FILE* pInSaved = p->pIn;
  const int iLineNoSaved = p->iLineNo;
  p->pIn = pIn;
  const int rc = runNestedInput(p);
  std::fclose(pIn);
  p->pIn = pInSaved;
  p->iLineNo = iLineNoSaved;
  return rc;
}
