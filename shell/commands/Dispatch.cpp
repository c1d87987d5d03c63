// The dot-command dispatcher: splits a line into words, finds the command by
// an ordered chain of name tests, runs its handler and finishes the command.
#include "shell/commands/Dispatch.h"

#include <cctype>
#include <cstring>
#include <vector>

#include "shell/commands/Commands.h"
#include "shell/core/ArgParsers.h"
#include "shell/core/Redirect.h"
#include "shell/core/ShellContext.h"
#include "shell/core/Output.h"
#include "shell/exec/Expert.h"

namespace {

constexpr MatchRule P = MatchRule::Prefix;
constexpr MatchRule X = MatchRule::Exact;

// The dispatch chain, tested first to last; an abbreviation selects the
// earliest command it abbreviates.  Commands sharing a handler have one row
// per word.  Rows without a handler are commands not present in this build.
const DotCommandRow dispatchOrder[] = {
    {"auth", 1, P, doAuth},
    {"backup", 3, P, doBackup},
    {"save", 3, P, doBackup},
    {"bail", 3, P, doBail},
    {"binary", 3, P, doBinary},
    {"breakpoint", 3, P, doBreakpoint},
    {"cd", 0, X, doCd},
    {"changes", 3, P, doChanges},
    {"check", 3, P, doCheck},
    {"clone", 1, P, doClone},
    {"connection", 1, P, doConnection},
    {"databases", 2, P, doDatabases},
    {"dbconfig", 3, P, doDbconfig},
    {"dump", 1, P, doDump},
    {"echo", 1, P, doEcho},
    {"eqp", 1, P, doEqp},
    {"exit", 1, P, doExit},
    {"explain", 1, P, doExplain},
    {"expert", 1, P, doExpert},
    {"filectrl", 1, P, doFilectrl},
    {"fullschema", 1, P, doFullschema},
    {"headers", 1, P, doHeaders},
    {"help", 1, P, doHelp},
    {"import", 1, P, doImport},
    {"imposter", 1, P, doImposter},
    {"limits", 5, P, doLimits},
    {"lint", 3, P, doLint},
    {"load", 1, P, doLoad},
    {"log", 1, P, doLog},
    {"mode", 1, P, doMode},
    {"nonce", 0, X, doNonce},
    {"nullvalue", 1, P, doNullvalue},
    {"open", 2, P, doOpen},
    {"output", 1, P, doOutput},
    {"once", 1, P, doOutput},
    {"excel", 0, X, doOutput},
    {"parameter", 3, P, doParameter},
    {"print", 3, P, doPrint},
    {"progress", 3, P, doProgress},
    {"prompt", 1, P, doPrompt},
    {"quit", 1, P, doQuit},
    {"read", 3, P, doRead},
    {"restore", 3, P, doRestore},
    {"scanstats", 1, P, doScanstats},
    {"schema", 1, P, doSchema},
    {"selecttrace", 0, X, doSelecttrace},
    {"treetrace", 0, X, doSelecttrace},
    {"selftest", 4, P, doSelftest},
    {"separator", 1, P, doSeparator},
    {"sha3sum", 4, P, doSha3sum},
    {"shell", 1, P, doShell},
    {"system", 1, P, doShell},
    {"show", 1, P, doShow},
    {"stats", 1, P, doStats},
    {"tables", 2, P, doTables},
    {"indices", 1, P, doTables},
    {"indexes", 1, P, doTables},
    {"testcase", 0, X, doTestcase},
    {"testctrl", 8, P, doTestctrl},
    {"timeout", 5, P, doTimeout},
    {"timer", 5, P, doTimer},
    {"trace", 1, P, doTrace},
    {"version", 1, P, doVersion},
    {"vfsinfo", 1, P, doVfsinfo},
    {"vfslist", 1, P, doVfslist},
    {"vfsname", 1, P, doVfsname},
    {"wheretrace", 1, P, doWheretrace},
    {"width", 1, P, doWidth},
    {"edit", 2, P, doEdit},
    {"watch", 2, P, doWatch},
};

// The commands of the terminal, tested after every row above, with
// abbreviations long enough that each word that selected a command above
// still selects it.
const DotCommandRow terminalOrder[] = {
    {"expanded", 4, P, doExpanded},
    {"pager", 3, P, doPager},
};

bool rowAccepts(const DotCommandRow& row, const char* zWord, int n) {
  if (row.eRule == MatchRule::Exact) return safeCompare(zWord, row.zName) == 0;
  return zWord[0] == row.zName[0] && n >= row.nMinLength && safeCompareN(zWord, row.zName, n) == 0;
}

bool isSpace(char c) {
  return std::isspace(static_cast<unsigned char>(c)) != 0;
}

}  // namespace

std::span<const DotCommandRow> dotCommandRows() {
  return dispatchOrder;
}

std::span<const DotCommandRow> terminalCommandRows() {
  return terminalOrder;
}

const DotCommandRow* findDotCommand(const char* zWord) {
  int n = textLength(zWord);
  for (const auto& row : dispatchOrder) {
    if (rowAccepts(row, zWord, n)) return &row;
  }
  for (const auto& row : terminalOrder) {
    if (rowAccepts(row, zWord, n)) return &row;
  }
  return nullptr;
}

int reportUnknownCommand(const char* zCmd) {
  printConsole(stderr,
               "Error: unknown command or invalid arguments:  \"%s\". Enter \".help\" for help\n",
               zCmd);
  return 1;
}

int splitDotCommandLine(char* zLine, char** azArg) {
  int h = 1;
  int nArg = 0;
  while (zLine[h] && nArg < maxDotArgs) {
    while (isSpace(zLine[h])) h++;
    if (zLine[h] == 0) break;
    char cDelim = zLine[h];
    if (cDelim == '\'' || cDelim == '"') {
      h++;
      char* zWord = &zLine[h];
      azArg[nArg++] = zWord;
      while (zLine[h] && zLine[h] != cDelim) {
        if (cDelim == '"' && zLine[h] == '\\' && zLine[h + 1]) h++;
        h++;
      }
      if (zLine[h] == cDelim) zLine[h++] = 0;
      if (cDelim == '"') expandBackslashEscapes(zWord);
    } else {
      char* zWord = &zLine[h];
      azArg[nArg++] = zWord;
      while (zLine[h] && !isSpace(zLine[h])) h++;
      if (zLine[h]) zLine[h++] = 0;
      expandBackslashEscapes(zWord);
    }
  }
  azArg[nArg] = nullptr;
  return nArg;
}

int runDotCommand(char* zLine, ShellContext* p) {
  // A dot-command cancels an index analysis that is still waiting for its SQL.
  if (p->expert.pExpert) closeExpert(p, true, nullptr);
  char* azArg[maxDotArgs + 1];
  int nArg = splitDotCommandLine(zLine, azArg);
  if (nArg == 0) return 0;

  discardTempFile(p);
  int rc = 0;
  const int nWriteFailuresBefore = writeFailureCount();
  const DotCommandRow* pRow = findDotCommand(azArg[0]);
  if (pRow && pRow->xHandler) {
    rc = pRow->xHandler(p, nArg, azArg);
  } else {
    rc = reportUnknownCommand(azArg[0]);
  }
  // Output the command could not write (to any destination, including one
  // it closed) fails the command.
  checkCommandOutput(p);
  if (writeFailureCount() != nWriteFailuresBefore && (rc & ~dotSkipEndSteps) == 0) rc |= 1;
  if (rc & dotSkipEndSteps) {
    // A handler that ends early still re-arms safe mode, or a lifted safe
    // mode would outlast a failing command; only .nonce itself leaves it
    // lifted, for the next command.
    if (pRow == nullptr || pRow->xHandler != doNonce) p->bSafeActive = p->bSafePersistent;
    return rc & ~dotSkipEndSteps;
  }

  if (p->nOnceCount != 0 && --p->nOnceCount == 0 && restoreOutput(p) && rc == 0) rc = 1;
  p->bSafeActive = p->bSafePersistent;
  return rc;
}

int printHelpLines(FILE* out, const char* zPattern) {
  return printHelpLines(out, zPattern, false);
}

int printHelpLines(FILE* out, const char* zPattern, bool bTerminal) {
  std::vector<const char*> azLines(helpLines, helpLines + nHelpLines);
  if (bTerminal) {
    azLines.insert(azLines.end(), terminalHelpLines, terminalHelpLines + nTerminalHelpLines);
  }
  const int nLines = static_cast<int>(azLines.size());
  int n = 0;
  if (zPattern == nullptr || zPattern[0] == '0' || std::strcmp(zPattern, "-a") == 0 ||
      std::strcmp(zPattern, "-all") == 0 || std::strcmp(zPattern, "--all") == 0) {
    for (const char* zLine : azLines) {
      if (zPattern == nullptr && zLine[0] != '.') continue;
      printConsole(out, "%s\n", zLine);
      n++;
    }
    return n;
  }

  // A glob on the command names: one match also shows its detail lines.
  int j = 0;
  {
    SqlitePtr zGlob(checkAlloc(sqlite3_mprintf(".%s*", zPattern)));
    for (int i = 0; i < nLines; i++) {
      if (sqlite3_strglob(zGlob.get(), azLines[i]) == 0) {
        printConsole(out, "%s\n", azLines[i]);
        j = i + 1;
        n++;
      }
    }
  }
  if (n > 0) {
    if (n == 1) {
      while (j < nLines && azLines[j][0] != '.') printConsole(out, "%s\n", azLines[j++]);
    }
    return n;
  }

  // Otherwise a LIKE over every line; each matching entry is shown whole, once.
  SqlitePtr zLike(checkAlloc(sqlite3_mprintf("%%%s%%", zPattern)));
  for (int i = 0; i < nLines; i++) {
    if (azLines[i][0] == '.') j = i;
    if (sqlite3_strlike(zLike.get(), azLines[i], 0) == 0) {
      printConsole(out, "%s\n", azLines[j]);
      while (j < nLines - 1 && azLines[j + 1][0] != '.') {
        printConsole(out, "%s\n", azLines[++j]);
      }
      i = j;
      n++;
    }
  }
  return n;
}

int doHelp(ShellContext* p, int nArg, char** azArg) {
  if (nArg >= 2) {
    if (printHelpLines(p->pOut, azArg[1], isTerminalOutput(p)) == 0) {
      printConsole(p->pOut, "Nothing matches '%s'\n", azArg[1]);
    }
  } else {
    printHelpLines(p->pOut, nullptr, isTerminalOutput(p));
  }
  return 0;
}
