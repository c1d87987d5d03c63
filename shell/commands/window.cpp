// The commands of the terminal's window: how aligned results are laid out
// when they are wider than the window.
#include <cstring>
#include <iterator>

#include "shell/commands/Commands.h"
#include "shell/core/Output.h"
#include "shell/core/ShellContext.h"

namespace {

constexpr const char* azExpandedNames[] = {"auto", "on", "off"};

}  // namespace

const char* expandedModeName(ExpandedMode eMode) {
  const auto i = static_cast<size_t>(eMode);
  return i < std::size(azExpandedNames) ? azExpandedNames[i] : "auto";
}

int doExpanded(ShellContext* p, int nArg, char** azArg) {
  if (nArg > 2) {
    printRaw(stderr, "Usage: .expanded ?auto|on|off?\n");
    return 1;
  }
  if (nArg == 1) {
    printRaw(p->pOut, "expanded: %s\n", expandedModeName(p->eExpanded));
    return 0;
  }
  for (size_t i = 0; i < std::size(azExpandedNames); i++) {
    if (std::strcmp(azArg[1], azExpandedNames[i]) == 0) {
      p->eExpanded = static_cast<ExpandedMode>(i);
      return 0;
    }
  }
  printConsole(stderr, "Error: .expanded takes auto, on or off, not \"%s\"\n", azArg[1]);
  return 1;
}
