// Placeholder handlers: each reports an unknown command until its group is built.
#include "shell/commands/Commands.h"
#include "shell/commands/Dispatch.h"

int doDatabases(ShellContext*, int, char** azArg) {
  return reportUnknownCommand(azArg[0]);
}
int doFullschema(ShellContext*, int, char** azArg) {
  return reportUnknownCommand(azArg[0]);
}
int doSchema(ShellContext*, int, char** azArg) {
  return reportUnknownCommand(azArg[0]);
}
int doTables(ShellContext*, int, char** azArg) {
  return reportUnknownCommand(azArg[0]);
}
