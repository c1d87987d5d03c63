// .expert: arms the index advisor for the next SQL input.
#include <cstdio>

#include "shell/commands/Commands.h"
#include "shell/core/OpenDatabase.h"
#include "shell/core/Output.h"
#include "shell/core/ShellContext.h"
#include "shell/exec/Expert.h"

// .expert ?--verbose? ?--sample PERCENT?
int doExpert(ShellContext* p, int nArg, char** azArg) {
  if (p->bSafeActive) {
    printRaw(stderr, "Cannot run experimental commands such as \"%s\" in safe mode\n", azArg[0]);
    return 1;
  }
  openDatabase(p, 0);
  return armExpert(p, azArg, nArg);
}
