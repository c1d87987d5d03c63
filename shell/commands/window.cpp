// The commands of the terminal's window: how aligned results are laid out
// when they are wider than the window, and the pager for output taller than
// the window.
#include <cstring>
#include <iterator>
#include <string>

#include "shell/commands/Commands.h"
#include "shell/core/Output.h"
#include "shell/core/Pager.h"
#include "shell/core/SafeMode.h"
#include "shell/core/ShellContext.h"

namespace {

constexpr const char* azExpandedNames[] = {"auto", "on", "off"};
constexpr const char* azPagerNames[] = {"on", "off", "always"};

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

std::string pagerSetting(const ShellContext* p) {
  const auto i = static_cast<size_t>(p->ePagerMode);
  std::string z = i < std::size(azPagerNames) ? azPagerNames[i] : "on";
  const std::string zCommand = pagerCommand(p);
  z += zCommand.empty() ? " (no pager)" : " (" + zCommand + ")";
  return z;
}

int doPager(ShellContext* p, int nArg, char** azArg) {
  if (nArg == 1) {
    printConsole(p->pOut, "pager: %s\n", pagerSetting(p).c_str());
    return 0;
  }
  if (nArg == 2) {
    for (size_t i = 0; i < std::size(azPagerNames); i++) {
      if (std::strcmp(azArg[1], azPagerNames[i]) == 0) {
        p->ePagerMode = static_cast<unsigned char>(i);
        return 0;
      }
    }
  }
  // Any other words name the pager to run, which safe mode forbids.
  rejectInSafeMode(p, "cannot set a pager command in safe mode");
  std::string zCommand;
  for (int i = 1; i < nArg; i++) {
    if (i > 1) zCommand += ' ';
    zCommand += azArg[i];
  }
  if (zCommand.size() >= sizeof(p->zPagerCommand)) {
    printRaw(stderr, "Error: the pager command is too long\n");
    return 1;
  }
  setSettingText(p->zPagerCommand, zCommand.c_str());
  p->ePagerMode = static_cast<unsigned char>(PagerMode::On);
  return 0;
}
