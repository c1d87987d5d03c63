// .output, .once and .excel: one handler that sends results to a file, a
// pipe, or a temporary file for a viewer, permanently or for one command.
#include <cstdio>
#include <cstring>

#include "shell/commands/Commands.h"
#include "shell/commands/Dispatch.h"
#include "shell/core/Redirect.h"
#include "shell/core/SafeMode.h"
#include "shell/core/ShellContext.h"
#include "shell/core/Output.h"

namespace {

int reportWithHelp(ShellContext* p, const char* zFormat, const char* zWord, const char* zCmd) {
  printConsole(p->pOut, zFormat, zWord);
  printHelpLines(p->pOut, zCmd);
  return 1;
}

}  // namespace

int doOutput(ShellContext* p, int nArg, char** azArg) {
  // Safe mode refuses this command before anything is looked at.
  rejectInSafeMode(p, "cannot run .%s in safe mode", azArg[0]);
  const char* zCmd = azArg[0];
  const int nCmd = textLength(zCmd);
  char cViewer = 0;
  int eOnce = 0;
  if (std::strcmp(zCmd, "excel") == 0) {
    cViewer = 'x';
    eOnce = 2;
  } else if (nCmd > 0 && std::strncmp(zCmd, "once", static_cast<size_t>(nCmd)) == 0) {
    eOnce = 1;
  }

  SqlitePtr zFile;
  char zBOM[4] = {0, 0, 0, 0};
  bool bTextMode = false;
  for (int i = 1; i < nArg; i++) {
    const char* z = azArg[i];
    if (z[0] == '-') {
      const char* zOpt = z[1] == '-' ? z + 1 : z;
      if (std::strcmp(zOpt, "-bom") == 0) {
        zBOM[0] = '\xef';
        zBOM[1] = '\xbb';
        zBOM[2] = '\xbf';
      } else if (eOnce != 2 && std::strcmp(zOpt, "-x") == 0) {
        cViewer = 'x';
      } else if (eOnce != 2 && std::strcmp(zOpt, "-e") == 0) {
        cViewer = 'e';
      } else {
        return reportWithHelp(p, "ERROR: unknown option: \"%s\".  Usage:\n", z, zCmd);
      }
    } else if (zFile == nullptr && cViewer != 'e' && cViewer != 'x') {
      zFile.reset(checkAlloc(sqlite3_mprintf("%s", z)));
      if (z[0] == '|') {
        // A pipe command takes every remaining word as its arguments.
        while (++i < nArg) {
          zFile.reset(checkAlloc(sqlite3_mprintf("%z %s", zFile.release(), azArg[i])));
        }
        break;
      }
    } else {
      return reportWithHelp(p, "ERROR: extra parameter: \"%s\".  Usage:\n", z, zCmd);
    }
  }
  if (zFile == nullptr) zFile.reset(checkAlloc(sqlite3_mprintf("stdout")));

  p->nOnceCount = eOnce ? 2 : 0;
  restoreOutput(p);
  if (cViewer == 'e' || cViewer == 'x') {
    // The previous temporary file has been handed over by restoreOutput:
    // release it now, before the new one takes its place.
    discardTempFile(p);
    p->bLaunchViewer = 1;
    saveOutputMode(p);
    if (cViewer == 'x') {
      makeTempFileName(p, "csv");
      p->mFlags &= ~static_cast<unsigned>(ShellFlag::Echo);
      p->eMode = OutputMode::Csv;
      setSettingText(p->zColSep, ",");
      setSettingText(p->zRowSep, "\r\n");
    } else {
      makeTempFileName(p, "txt");
      bTextMode = true;
    }
    zFile.reset(checkAlloc(sqlite3_mprintf("%s", p->zTmpFile)));
  }

  int rc = 0;
  if (zFile.get()[0] == '|') {
    FILE* pPipe = openOutputPipe(zFile.get() + 1);
    if (pPipe == nullptr) {
      printConsole(stderr, "Error: cannot open pipe \"%s\"\n", zFile.get() + 1);
      p->pOut = stdout;
      rc = 1;
    } else {
      p->pOut = pPipe;
      if (zBOM[0]) std::fwrite(zBOM, 1, 3, p->pOut);
      sqlite3_snprintf(nOutNameSize, p->zOutName, "%s", zFile.get());
    }
  } else {
    p->pOut = openOutputStream(zFile.get(), bTextMode);
    if (p->pOut == nullptr) {
      if (std::strcmp(zFile.get(), "off") != 0) {
        printConsole(stderr, "Error: cannot write to \"%s\"\n", zFile.get());
      }
      p->pOut = stdout;
      rc = 1;
    } else {
      if (zBOM[0]) std::fwrite(zBOM, 1, 3, p->pOut);
      sqlite3_snprintf(nOutNameSize, p->zOutName, "%s", zFile.get());
    }
  }
  return rc;
}
