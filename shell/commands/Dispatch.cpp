// Placeholder dispatcher: every command is unknown until the table is built.
#include "shell/commands/Dispatch.h"

#include "shell/commands/Commands.h"

int reportUnknownCommand(const char* zCmd) {
  std::fprintf(stderr,
               "Error: unknown command or invalid arguments:  \"%s\". Enter \".help\" for help\n",
               zCmd);
  return 1;
}

int runDotCommand(char* zLine, ShellContext*) {
  return reportUnknownCommand(zLine + 1);
}

int printHelpLines(FILE*, const char*) {
  return 0;
}

int doHelp(ShellContext*, int, char**) {
  return 0;
}
