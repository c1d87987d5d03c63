// Connection and file commands: .exit and .quit.
#include <cstdio>
#include <cstdlib>

#include "shell/commands/Commands.h"
#include "shell/core/ArgParsers.h"
#include "shell/core/ShellContext.h"

// .exit ?CODE?: a non-zero CODE ends the process at once with that status;
// otherwise input reading stops as for .quit.
int doExit(ShellContext*, int nArg, char** azArg) {
  if (nArg > 1) {
    int rc = static_cast<int>(parseIntegerArg(azArg[1]));
    if (rc != 0) std::exit(rc);
  }
  return 2;
}

int doQuit(ShellContext*, int, char**) {
  return 2;
}
