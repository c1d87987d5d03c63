// Output destinations: files, pipes, the one-shot redirection, and the
// temporary files handed to a viewer or an editor.
#include "shell/core/Redirect.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <csignal>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "shell/core/Output.h"
#include "shell/core/Pager.h"
#include "shell/core/Platform.h"
#include "shell/core/ShellContext.h"

namespace {

// How SIGPIPE was handled before an output pipe was opened.
void (*pfnPipeSignalBefore)(int) = SIG_DFL;
bool bPipeSignalIgnored = false;

// The directory for temporary files: $TEMP, else $TMP, else the system's
// usual $TMPDIR, else /tmp.
const char* tempDirectory() {
  for (const char* zVar : {"TEMP", "TMP", "TMPDIR"}) {
    const char* z = std::getenv(zVar);
    if (z && z[0]) return z;
  }
  return "/tmp";
}

bool endsWith(const char* z, const char* zSuffix) {
  size_t n = std::strlen(z), m = std::strlen(zSuffix);
  return n >= m && std::strcmp(z + n - m, zSuffix) == 0;
}

// A file name as one word of a shell command line: names made only of
// harmless characters are used as they are, others are single-quoted.
SqlitePtr shellWord(const char* zName) {
  bool bPlain = zName[0] != 0;
  for (const char* z = zName; *z; z++) {
    unsigned char c = static_cast<unsigned char>(*z);
    if (!(std::isalnum(c) || std::strchr("_./-+,:@%=", c) || c >= 0x80)) {
      bPlain = false;
      break;
    }
  }
  if (bPlain) return SqlitePtr(checkAlloc(sqlite3_mprintf("%s", zName)));
  sqlite3_str* pStr = sqlite3_str_new(nullptr);
  sqlite3_str_appendchar(pStr, 1, '\'');
  for (const char* z = zName; *z; z++) {
    if (*z == '\'') {
      sqlite3_str_appendall(pStr, "'\\''");
    } else {
      sqlite3_str_appendchar(pStr, 1, *z);
    }
  }
  sqlite3_str_appendchar(pStr, 1, '\'');
  return SqlitePtr(checkAlloc(sqlite3_str_finish(pStr)));
}

// Hands the temporary file to the program that shows it.  A text file goes
// to $VISUAL or $EDITOR, and the shell waits until the editor ends; anything
// else, or a text file when no editor is named, goes to the desktop's opener,
// after which the shell waits a moment so the file is read before it can be
// deleted.
void launchViewer(const char* zFile) {
  const char* zProgram = nullptr;
  if (endsWith(zFile, ".txt")) {
    zProgram = std::getenv("VISUAL");
    if (zProgram == nullptr || zProgram[0] == 0) zProgram = std::getenv("EDITOR");
    if (zProgram != nullptr && zProgram[0] == 0) zProgram = nullptr;
  }
  const bool bEditor = zProgram != nullptr;
  if (!bEditor) zProgram = "xdg-open";
  SqlitePtr zWord = shellWord(zFile);
  SqlitePtr zCmd(checkAlloc(sqlite3_mprintf("%s %s", zProgram, zWord.get())));
  std::fflush(stdout);
  int rc = std::system(zCmd.get());
  if (rc != 0) {
    std::fprintf(stderr, "Failed: [%s]\n", zCmd.get());
  } else if (!bEditor) {
    sqlite3_sleep(2000);
  }
}

}  // namespace

FILE* openOutputStream(const char* zFile, bool bTextMode) {
  if (safeCompare(zFile, "stdout") == 0) return stdout;
  if (safeCompare(zFile, "stderr") == 0) return stderr;
  if (safeCompare(zFile, "off") == 0) return nullptr;
  FILE* f = std::fopen(zFile, bTextMode ? "w" : "wb");
  if (f == nullptr) {
    std::fprintf(stderr, "Error: cannot open \"%s\"\n", zFile);
  } else {
    nameDestination(f, zFile);
  }
  return f;
}

FILE* openOutputPipe(const char* zCommand) {
  // Whatever is still buffered for the terminal goes out before the command
  // starts writing there too.
  std::fflush(stdout);
  FILE* pPipe = popen(zCommand, "w");
  if (pPipe && !bPipeSignalIgnored) {
    // Set after the command has started, so that it keeps the usual handling.
    pfnPipeSignalBefore = std::signal(SIGPIPE, SIG_IGN);
    bPipeSignalIgnored = true;
  }
  if (pPipe) {
    char zName[nOutNameSize];
    sqlite3_snprintf(static_cast<int>(sizeof(zName)), zName, "|%s", zCommand);
    nameDestination(pPipe, zName);
  }
  return pPipe;
}

bool closeOutputStream(FILE* f) {
  if (f == nullptr || f == stdout || f == stderr) return false;
  return closeDestination(f, false);
}

bool restoreOutput(ShellContext* p) {
  const int nBefore = writeFailureCount();
  if (p->zOutName[0] == '|') {
    if (p->pOut && p->pOut != stdout && p->pOut != stderr) {
      closeDestination(p->pOut, true);
    }
    if (bPipeSignalIgnored) {
      std::signal(SIGPIPE, pfnPipeSignalBefore);
      bPipeSignalIgnored = false;
    }
  } else {
    closeOutputStream(p->pOut);
    if (p->bLaunchViewer) {
      if (p->zTmpFile) launchViewer(p->zTmpFile);
      restoreOutputMode(p);
      p->bLaunchViewer = 0;
    }
  }
  p->zOutName[0] = 0;
  p->pOut = stdout;
  return writeFailureCount() != nBefore;
}

void makeTempFileName(ShellContext* p, const char* zSuffix) {
  discardTempFile(p);
  sqlite3_free(p->zTmpFile);
  p->zTmpFile = nullptr;
  if (p->db) {
    char* zTemp = nullptr;
    sqlite3_file_control(p->db, nullptr, SQLITE_FCNTL_TEMPFILENAME, &zTemp);
    if (zTemp) p->zTmpFile = sqlite3_mprintf("%z.%s", zTemp, zSuffix);
  }
  if (p->zTmpFile == nullptr) {
    std::uint64_t r = 0;
    sqlite3_randomness(sizeof(r), &r);
    p->zTmpFile = sqlite3_mprintf("%s/temp%llx.%s", tempDirectory(),
                                  static_cast<unsigned long long>(r), zSuffix);
  }
  checkAlloc(p->zTmpFile);
}

void discardTempFile(ShellContext* p) {
  if (p->zTmpFile && !p->bLaunchViewer) {
    // A file that is already gone counts as removed.
    if (std::remove(p->zTmpFile) == 0 || errno == ENOENT) {
      sqlite3_free(p->zTmpFile);
      p->zTmpFile = nullptr;
    }
  }
}

FILE* openInputFile(const char* zName) {
  FILE* f = std::fopen(zName, "rb");
  if (f == nullptr) return nullptr;
  struct stat st;
  if (fstat(fileno(f), &st) == 0 &&
      (S_ISREG(st.st_mode) || S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode))) {
    return f;
  }
  std::fclose(f);
  return nullptr;
}

bool isTerminalOutput(const ShellContext* p) {
  const bool bToTerminal = p->pOut == stdout || (p->pOut != nullptr && p->pOut == pagedStream());
  return bStdinIsTty && p->pIn == nullptr && bToTerminal && p->zOutName[0] == 0 &&
         isTerminal(STDOUT_FILENO);
}

int terminalOutputWidth(const ShellContext* p) {
  return isTerminalOutput(p) ? terminalColumns(STDOUT_FILENO) : 0;
}
