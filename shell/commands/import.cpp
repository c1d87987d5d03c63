// Placeholder handlers: each reports an unknown command until its group is built.
#include "shell/commands/Commands.h"
#include "shell/commands/Dispatch.h"

int doImport(ShellContext*, int, char** azArg) {
  return reportUnknownCommand(azArg[0]);
}
