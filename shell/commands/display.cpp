// Display-setting commands: how results are shown and what is reported around
// them.  The handlers only change settings; the renderers read them when the
// next statement runs.
#include <cstdlib>
#include <cstring>

#include "shell/commands/Commands.h"
#include "shell/commands/Dispatch.h"
#include "shell/core/ArgParsers.h"
#include "shell/core/Redirect.h"
#include "shell/core/ShellContext.h"
#include "shell/exec/Execute.h"
#include "shell/core/Output.h"
#include "shell/exec/Stats.h"
#include "shell/exec/Timer.h"

namespace {

int usage(const char* zText) {
  printRaw(stderr, "%s", zText);
  return 1;
}

// Copies at most the first 19 bytes of zValue into a 20-byte settings text.
template <size_t N>
void setCutText(char (&zDest)[N], const char* zValue) {
  sqlite3_snprintf(static_cast<int>(N), zDest, "%.*s", static_cast<int>(N) - 1, zValue);
}

const char* const azEqpNames[] = {"off", "on", "trigger", "full"};

// Prints the current mode: "PREFIX%s" or, for the columnar modes, the mode
// with its wrap, word-wrap and quote options.
void printModeLine(ShellContext* p, const char* zPrefix) {
  const char* zName = modeName(p->eMode);
  if (isColumnarMode(p->eMode)) {
    printConsole(p->pOut, "%s%s --wrap %d --wordwrap %s --%squote\n", zPrefix, zName,
                 p->cmOpts.nWrap, p->cmOpts.bWordWrap ? "on" : "off", p->cmOpts.bQuote ? "" : "no");
  } else {
    printConsole(p->pOut, "%s%s\n", zPrefix, zName);
  }
}

}  // namespace

int doBail(ShellContext*, int nArg, char** azArg) {
  if (nArg != 2) return usage("Usage: .bail on|off\n");
  bBailOnError = parseBooleanArg(azArg[1]);
  return 0;
}

int doBinary(ShellContext* p, int nArg, char** azArg) {
  if (nArg != 2) return usage("Usage: .binary on|off\n");
  if (parseBooleanArg(azArg[1])) {
    setBinaryOutput(p->pOut, true);
  } else {
    setTextOutput(p->pOut, true);
  }
  return 0;
}

int doChanges(ShellContext* p, int nArg, char** azArg) {
  if (nArg != 2) return usage("Usage: .changes on|off\n");
  setFlagFromBoolean(p, ShellFlag::CountChanges, azArg[1]);
  return 0;
}

int doEcho(ShellContext* p, int nArg, char** azArg) {
  if (nArg != 2) return usage("Usage: .echo on|off\n");
  setFlagFromBoolean(p, ShellFlag::Echo, azArg[1]);
  return 0;
}

int doEqp(ShellContext* p, int nArg, char** azArg) {
  if (nArg != 2) return usage("Usage: .eqp off|on|trace|trigger|full\n");
  if (std::strcmp(azArg[1], "full") == 0) {
    p->eEqpMode = 3;
  } else if (std::strcmp(azArg[1], "trigger") == 0) {
    p->eEqpMode = 2;
  } else {
    p->eEqpMode = static_cast<unsigned char>(parseBooleanArg(azArg[1]));
  }
  return 0;
}

int doExplain(ShellContext* p, int nArg, char** azArg) {
  int val = 1;
  if (nArg >= 2) {
    val = std::strcmp(azArg[1], "auto") == 0 ? 99 : parseBooleanArg(azArg[1]);
  }
  if (val == 1) {
    if (p->eMode != OutputMode::Explain) {
      p->eModeBeforeExplain = p->eMode;
      p->eMode = OutputMode::Explain;
      p->bAutoExplain = 0;
    }
  } else if (val == 0) {
    if (p->eMode == OutputMode::Explain) p->eMode = p->eModeBeforeExplain;
    p->bAutoExplain = 0;
  } else if (val == 99) {
    if (p->eMode == OutputMode::Explain) p->eMode = p->eModeBeforeExplain;
    p->bAutoExplain = 1;
  }
  return 0;
}

int doHeaders(ShellContext* p, int nArg, char** azArg) {
  if (nArg != 2) return usage("Usage: .headers on|off\n");
  p->bHeaders = parseBooleanArg(azArg[1]);
  p->mFlags |= ShellFlag::HeaderSet;
  return 0;
}

int doMode(ShellContext* p, int nArg, char** azArg) {
  const char* zMode = nullptr;
  const char* zTabname = nullptr;
  ColumnarOptions cmOpts{60, 0, 0};
  bool bWrapGiven = false;
  for (int i = 1; i < nArg; i++) {
    const char* z = azArg[i];
    if (matchOption(z, "wrap") && i + 1 < nArg) {
      cmOpts.nWrap = static_cast<int>(parseIntegerArg(azArg[++i]));
      bWrapGiven = true;
    } else if (matchOption(z, "ww")) {
      cmOpts.bWordWrap = 1;
    } else if (matchOption(z, "wordwrap") && i + 1 < nArg) {
      cmOpts.bWordWrap = static_cast<unsigned char>(parseBooleanArg(azArg[++i]));
    } else if (matchOption(z, "quote")) {
      cmOpts.bQuote = 1;
    } else if (matchOption(z, "noquote")) {
      cmOpts.bQuote = 0;
    } else if (zMode == nullptr) {
      zMode = z;
      if (std::strcmp(z, "qbox") == 0) {
        cmOpts = ColumnarOptions{60, 1, 0};
        bWrapGiven = false;
        zMode = "box";
      }
    } else if (zTabname == nullptr) {
      zTabname = z;
    } else if (z[0] == '-') {
      printConsole(stderr, "unknown option: %s\n", z);
      printRaw(stderr,
               "options:\n"
               "  --noquote\n"
               "  --quote\n"
               "  --wordwrap on/off\n"
               "  --wrap N\n"
               "  --ww\n");
      return 1;
    } else {
      printConsole(stderr, "extra argument: \"%s\"\n", z);
      return 1;
    }
  }
  if (zMode == nullptr) {
    printModeLine(p, "current output mode: ");
    zMode = modeName(p->eMode);
  }
  const int n = textLength(zMode);
  auto is = [&](const char* zName) { return safeCompareN(zMode, zName, n) == 0; };
  int rc = 0;
  if (is("lines")) {
    p->eMode = OutputMode::Line;
    setSettingText(p->zRowSep, "\n");
  } else if (is("columns")) {
    p->eMode = OutputMode::Column;
    if ((p->mFlags & ShellFlag::HeaderSet) == 0) p->bHeaders = 1;
    setSettingText(p->zRowSep, "\n");
    p->cmOpts = cmOpts;
    p->bWrapGiven = bWrapGiven;
  } else if (is("list")) {
    p->eMode = OutputMode::List;
    setSettingText(p->zColSep, "|");
    setSettingText(p->zRowSep, "\n");
  } else if (is("html")) {
    p->eMode = OutputMode::Html;
  } else if (is("tcl")) {
    p->eMode = OutputMode::Tcl;
    setSettingText(p->zColSep, " ");
    setSettingText(p->zRowSep, "\n");
  } else if (is("csv")) {
    p->eMode = OutputMode::Csv;
    setSettingText(p->zColSep, ",");
    setSettingText(p->zRowSep, "\r\n");
  } else if (is("tabs")) {
    p->eMode = OutputMode::List;
    setSettingText(p->zColSep, "\t");
  } else if (is("insert")) {
    p->eMode = OutputMode::Insert;
    setInsertTable(p, zTabname ? zTabname : "table");
  } else if (is("quote")) {
    p->eMode = OutputMode::Quote;
    setSettingText(p->zColSep, ",");
    setSettingText(p->zRowSep, "\n");
  } else if (is("ascii")) {
    p->eMode = OutputMode::Ascii;
    setSettingText(p->zColSep, zUnitSeparator);
    setSettingText(p->zRowSep, zRecordSeparator);
  } else if (is("markdown")) {
    p->eMode = OutputMode::Markdown;
    p->cmOpts = cmOpts;
    p->bWrapGiven = bWrapGiven;
  } else if (is("table")) {
    p->eMode = OutputMode::Table;
    p->cmOpts = cmOpts;
    p->bWrapGiven = bWrapGiven;
  } else if (is("box")) {
    p->eMode = OutputMode::Box;
    p->cmOpts = cmOpts;
    p->bWrapGiven = bWrapGiven;
  } else if (is("count")) {
    p->eMode = OutputMode::Count;
  } else if (is("off")) {
    p->eMode = OutputMode::Off;
  } else if (is("json")) {
    p->eMode = OutputMode::Json;
  } else {
    printRaw(stderr,
             "Error: mode should be one of: ascii box column csv html insert json line list "
             "markdown qbox quote table tabs tcl\n");
    rc = 1;
  }
  p->eModeNow = p->eMode;
  return rc;
}

int doNullvalue(ShellContext* p, int nArg, char** azArg) {
  if (nArg != 2) return usage("Usage: .nullvalue STRING\n");
  setCutText(p->zNullText, azArg[1]);
  return 0;
}

int doPrint(ShellContext* p, int nArg, char** azArg) {
  for (int i = 1; i < nArg; i++) {
    if (i > 1) std::fputc(' ', p->pOut);
    printConsole(p->pOut, "%s", azArg[i]);
  }
  std::fputc('\n', p->pOut);
  return 0;
}

int doPrompt(ShellContext*, int nArg, char** azArg) {
  if (nArg >= 2) std::strncpy(zMainPrompt, azArg[1], nSepSize - 1);
  if (nArg >= 3) std::strncpy(zContPrompt, azArg[2], nSepSize - 1);
  return 0;
}

int doScanstats(ShellContext* p, int nArg, char** azArg) {
  if (nArg != 2) return usage("Usage: .scanstats on|off\n");
  p->bScanStats = static_cast<unsigned char>(parseBooleanArg(azArg[1]));
  printRaw(stderr, "Warning: .scanstats not available in this build.\n");
  return 0;
}

int doSeparator(ShellContext* p, int nArg, char** azArg) {
  int rc = 0;
  if (nArg < 2 || nArg > 3) rc = usage("Usage: .separator COL ?ROW?\n");
  if (nArg >= 2) setCutText(p->zColSep, azArg[1]);
  if (nArg >= 3) setCutText(p->zRowSep, azArg[2]);
  return rc;
}

int doShow(ShellContext* p, int nArg, char**) {
  if (nArg != 1) return usage("Usage: .show\n");
  FILE* out = p->pOut;
  printRaw(out, "%12.12s: %s\n", "echo", (p->mFlags & ShellFlag::Echo) ? "on" : "off");
  printRaw(out, "%12.12s: %s\n", "eqp", azEqpNames[p->eEqpMode % 4]);
  printRaw(out, "%12.12s: %s\n", "explain",
           p->eMode == OutputMode::Explain ? "on" : (p->bAutoExplain ? "auto" : "off"));
  printRaw(out, "%12.12s: %s\n", "headers", p->bHeaders ? "on" : "off");
  printModeLine(p, "        mode: ");
  printRaw(out, "%12.12s: ", "nullvalue");
  writeCString(out, p->zNullText);
  printRaw(out, "\n");
  printConsole(out, "%12.12s: %s\n", "output", p->zOutName[0] ? p->zOutName : "stdout");
  printRaw(out, "%12.12s: ", "colseparator");
  writeCString(out, p->zColSep);
  printRaw(out, "\n");
  printRaw(out, "%12.12s: ", "rowseparator");
  writeCString(out, p->zRowSep);
  printRaw(out, "\n");
  const char* zStats = "on";
  if (p->eStatsMode == 0) zStats = "off";
  if (p->eStatsMode == 2) zStats = "stmt";
  if (p->eStatsMode == 3) zStats = "vmstep";
  printRaw(out, "%12.12s: %s\n", "stats", zStats);
  printRaw(out, "%12.12s: ", "width");
  for (int i = 0; i < p->nColWidth; i++) printRaw(out, "%d ", p->aColWidth[i]);
  printRaw(out, "\n");
  const char* zFile = p->pConn && p->pConn->zFilename ? p->pConn->zFilename : "";
  printConsole(out, "%12.12s: %s\n", "filename", zFile);
  // The settings of the terminal's commands, only where they matter.
  if (isTerminalOutput(p)) {
    printRaw(out, "%12.12s: %s\n", "expanded", expandedModeName(p->eExpanded));
    printConsole(out, "%12.12s: %s\n", "pager", pagerSetting(p).c_str());
  }
  return 0;
}

int doStats(ShellContext* p, int nArg, char** azArg) {
  if (nArg == 2) {
    if (std::strcmp(azArg[1], "stmt") == 0) {
      p->eStatsMode = 2;
    } else if (std::strcmp(azArg[1], "vmstep") == 0) {
      p->eStatsMode = 3;
    } else {
      p->eStatsMode = static_cast<unsigned char>(parseBooleanArg(azArg[1]));
    }
    return 0;
  }
  if (nArg == 1) {
    displayStats(p->db, p, 0);
    return 0;
  }
  return usage("Usage: .stats ?on|off|stmt|vmstep?\n");
}

int doTimer(ShellContext*, int nArg, char** azArg) {
  if (nArg != 2) return usage("Usage: .timer on|off\n");
  bTimer = parseBooleanArg(azArg[1]);
  if (bTimer && !hasTimer()) {
    printRaw(stderr, "Error: timer not available on this system.\n");
    bTimer = 0;
  }
  return 0;
}

int doWidth(ShellContext* p, int nArg, char** azArg) {
  const int nWidth = nArg > 1 ? nArg - 1 : 0;
  size_t nInt = 2 * (static_cast<size_t>(nWidth) + 1);
  int* a = static_cast<int*>(std::realloc(p->aColWidth, nInt * sizeof(int)));
  if (a == nullptr) {
    if (nWidth > 0) exitOutOfMemory();
  } else {
    p->aColWidth = a;
  }
  p->nColWidth = nWidth;
  // aWidthNow always points into the current allocation, even when no widths
  // are given, so that nothing is left pointing at the released one.
  p->aWidthNow = p->aColWidth ? p->aColWidth + nWidth : nullptr;
  for (int i = 1; i <= nWidth; i++) {
    p->aColWidth[i - 1] = static_cast<int>(parseIntegerArg(azArg[i]));
  }
  return 0;
}
