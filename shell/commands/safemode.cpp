// .auth and .nonce: tracing the engine's authorization requests, and lifting
// safe mode for exactly one command.
#include <cstdio>
#include <cstdlib>

#include "shell/commands/Commands.h"
#include "shell/commands/Dispatch.h"
#include "shell/core/ArgParsers.h"
#include "shell/core/OpenDatabase.h"
#include "shell/core/Output.h"
#include "shell/core/SafeMode.h"
#include "shell/core/ShellContext.h"

int doAuth(ShellContext* p, int nArg, char** azArg) {
  if (nArg != 2) {
    printRaw(stderr, "Usage: .auth ON|OFF\n");
    return 1;
  }
  openDatabase(p, 0);
  installAuthorizer(p, parseBooleanArg(azArg[1]) ? AuthChoice::Trace : AuthChoice::Plain);
  return 0;
}

int doNonce(ShellContext* p, int nArg, char** azArg) {
  if (nArg != 2) {
    printRaw(stderr, "Usage: .nonce NONCE\n");
    return 1;
  }
  if (p->zSafeNonce == nullptr || safeCompare(azArg[1], p->zSafeNonce) != 0) {
    printConsole(stderr, "line %d: incorrect nonce: \"%s\"\n", p->iLineNo, azArg[1]);
    std::fflush(stderr);
    std::exit(1);
  }
  // Safe mode stays lifted until the end of the next command: this command
  // skips the end-of-command steps that would re-arm it.
  p->bSafeActive = 0;
  return 0 | dotSkipEndSteps;
}
