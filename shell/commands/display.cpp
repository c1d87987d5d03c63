// Placeholder handlers: each reports an unknown command until its group is built.
#include "shell/commands/Commands.h"
#include "shell/commands/Dispatch.h"

int doBail(ShellContext*, int, char** azArg) {
  return reportUnknownCommand(azArg[0]);
}
int doBinary(ShellContext*, int, char** azArg) {
  return reportUnknownCommand(azArg[0]);
}
int doChanges(ShellContext*, int, char** azArg) {
  return reportUnknownCommand(azArg[0]);
}
int doEcho(ShellContext*, int, char** azArg) {
  return reportUnknownCommand(azArg[0]);
}
int doEqp(ShellContext*, int, char** azArg) {
  return reportUnknownCommand(azArg[0]);
}
int doExplain(ShellContext*, int, char** azArg) {
  return reportUnknownCommand(azArg[0]);
}
int doHeaders(ShellContext*, int, char** azArg) {
  return reportUnknownCommand(azArg[0]);
}
int doMode(ShellContext*, int, char** azArg) {
  return reportUnknownCommand(azArg[0]);
}
int doNullvalue(ShellContext*, int, char** azArg) {
  return reportUnknownCommand(azArg[0]);
}
int doPrint(ShellContext*, int, char** azArg) {
  return reportUnknownCommand(azArg[0]);
}
int doPrompt(ShellContext*, int, char** azArg) {
  return reportUnknownCommand(azArg[0]);
}
int doScanstats(ShellContext*, int, char** azArg) {
  return reportUnknownCommand(azArg[0]);
}
int doSeparator(ShellContext*, int, char** azArg) {
  return reportUnknownCommand(azArg[0]);
}
int doShow(ShellContext*, int, char** azArg) {
  return reportUnknownCommand(azArg[0]);
}
int doStats(ShellContext*, int, char** azArg) {
  return reportUnknownCommand(azArg[0]);
}
int doTimer(ShellContext*, int, char** azArg) {
  return reportUnknownCommand(azArg[0]);
}
int doWidth(ShellContext*, int, char** azArg) {
  return reportUnknownCommand(azArg[0]);
}
