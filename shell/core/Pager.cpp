// The pager as an output destination: a stream whose writes are held back
// while they fit the window and then go to the pager's pipe.
#include "shell/core/Pager.h"

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "shell/core/Output.h"
#include "shell/core/Platform.h"
#include "shell/core/Redirect.h"
#include "shell/core/ShellContext.h"

namespace {

// True when the first word of zCommand names a program that can run: a path
// to an executable, or a name found on $PATH.
bool programExists(const std::string& zCommand) {
  const char* z = zCommand.c_str();
  while (*z == ' ' || *z == '\t') z++;
  const size_t nWord = std::strcspn(z, " \t");
  if (nWord == 0 || nWord >= 256) return false;
  char zWord[256];
  std::memcpy(zWord, z, nWord);
  zWord[nWord] = 0;
  if (std::strchr(zWord, '/') != nullptr) return access(zWord, X_OK) == 0;
  const char* zPath = std::getenv("PATH");
  if (zPath == nullptr) zPath = "/usr/bin:/bin";
  while (true) {
    const size_t nDir = std::strcspn(zPath, ":");
    char zFull[4096];
    sqlite3_snprintf(static_cast<int>(sizeof(zFull)), zFull, "%.*s/%s", static_cast<int>(nDir),
                     nDir == 0 ? "." : zPath, zWord);
    if (nDir == 0) sqlite3_snprintf(static_cast<int>(sizeof(zFull)), zFull, "./%s", zWord);
    struct stat st;
    if (stat(zFull, &st) == 0 && S_ISREG(st.st_mode) && access(zFull, X_OK) == 0) return true;
    if (zPath[nDir] == 0) return false;
    zPath += nDir + 1;
  }
}

// The paging of the current input.  Only one input at a time is paged.
struct PagedOutput {
  FILE* pStream = nullptr;  // what the printers write to
  FILE* pPipe = nullptr;    // the pager's input, once it runs
  bool bDirect = false;     // decided: everything goes to the terminal
  bool bGone = false;       // the pager has exited
  bool bAlways = false;     // the pager starts with the first output
  int nRows = 24;
  int nCols = 80;
  int nLines = 0;   // screen lines held so far
  int iColumn = 0;  // the column the held text ends in
  std::string zHeld;
  std::string zCommand;
  void (*pfnPipeBefore)(int) = SIG_DFL;
  void (*pfnIntBefore)(int) = SIG_DFL;
};

PagedOutput paged;
// The last pager command reported as impossible to start (reported once).
std::string zReportedCommand;

bool writeAll(int fd, const char* z, size_t n) {
  while (n > 0) {
    const ssize_t k = write(fd, z, n);
    if (k < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    z += k;
    n -= static_cast<size_t>(k);
  }
  return true;
}

// Starts the pager and hands it what was held; on failure the held text
// goes to the terminal and so does the rest.
void startPager() {
  std::fflush(stdout);
  if (!programExists(paged.zCommand)) {
    if (paged.zCommand != zReportedCommand) {
      printConsole(stderr, "Error: cannot start the pager \"%s\"\n", paged.zCommand.c_str());
      zReportedCommand = paged.zCommand;
    }
  } else {
    paged.pPipe = popen(paged.zCommand.c_str(), "w");
  }
  if (paged.pPipe == nullptr) {
    paged.bDirect = true;
    std::fwrite(paged.zHeld.data(), 1, paged.zHeld.size(), stdout);
    std::fflush(stdout);
  } else {
    // The pager owns the keyboard now: its Ctrl-C is its own, and a pager
    // that quits makes the writes fail instead of ending the shell.
    paged.pfnPipeBefore = std::signal(SIGPIPE, SIG_IGN);
    paged.pfnIntBefore = std::signal(SIGINT, SIG_IGN);
    if (!writeAll(fileno(paged.pPipe), paged.zHeld.data(), paged.zHeld.size())) {
      paged.bGone = true;
    }
  }
  paged.zHeld.clear();
  paged.zHeld.shrink_to_fit();
}

// Counts the screen lines of the text, long lines taking more than one.
void countLines(const char* z, size_t n) {
  for (size_t i = 0; i < n; i++) {
    const auto c = static_cast<unsigned char>(z[i]);
    if (c == '\n') {
      paged.nLines++;
      paged.iColumn = 0;
    } else if ((c & 0xC0) != 0x80 && c >= 0x20) {
      if (++paged.iColumn > paged.nCols) {
        paged.nLines++;
        paged.iColumn = 1;
      }
    }
  }
}

ssize_t pagedWrite(void*, const char* z, size_t n) {
  if (paged.bGone) {
    errno = EPIPE;
    return -1;
  }
  if (paged.pPipe != nullptr) {
    if (!writeAll(fileno(paged.pPipe), z, n)) {
      paged.bGone = true;
      errno = EPIPE;
      return -1;
    }
    return static_cast<ssize_t>(n);
  }
  if (paged.bDirect) {
    std::fwrite(z, 1, n, stdout);
    return static_cast<ssize_t>(n);
  }
  if (paged.bAlways) {
    startPager();
    return pagedWrite(nullptr, z, n);
  }
  paged.zHeld.append(z, n);
  countLines(z, n);
  // The prompt keeps the window's last line.
  if (paged.nLines >= paged.nRows - 1) startPager();
  return static_cast<ssize_t>(n);
}

// The end of the paged stream (at the end of the input, or when a command
// such as .output closes the current output).
int pagedClose(void*) {
  if (paged.pPipe != nullptr) {
    pclose(paged.pPipe);
    paged.pPipe = nullptr;
    std::signal(SIGPIPE, paged.pfnPipeBefore);
    std::signal(SIGINT, paged.pfnIntBefore);
  } else if (!paged.zHeld.empty()) {
    std::fwrite(paged.zHeld.data(), 1, paged.zHeld.size(), stdout);
  }
  std::fflush(stdout);
  paged.pStream = nullptr;
  paged.zHeld.clear();
  return 0;
}

}  // namespace

std::string pagerCommand(const ShellContext* p) {
  if (p->zPagerCommand[0] != 0) return p->zPagerCommand;
  for (const char* zVar : {"SQLSH_PAGER", "PAGER"}) {
    if (const char* z = std::getenv(zVar)) return z;
  }
  // A terminal that cannot move its cursor (TERM unset or dumb, as in an
  // editor's shell window) cannot run a screen pager.
  const char* zTerm = std::getenv("TERM");
  if (zTerm == nullptr || zTerm[0] == 0 || std::strcmp(zTerm, "dumb") == 0) return "";
  if (programExists("less")) return "less -FRXS";
  if (programExists("more")) return "more";
  return "";
}

void beginPagedOutput(ShellContext* p) {
  if (paged.pStream != nullptr || static_cast<PagerMode>(p->ePagerMode) == PagerMode::Off) return;
  if (!isTerminalOutput(p)) return;
  std::string zCommand = pagerCommand(p);
  if (zCommand.find_first_not_of(" \t") == std::string::npos) return;
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_row == 0) return;
  cookie_io_functions_t io{};
  io.write = pagedWrite;
  io.close = pagedClose;
  FILE* f = fopencookie(nullptr, "w", io);
  if (f == nullptr) return;
  paged = PagedOutput{};
  paged.pStream = f;
  paged.nRows = size.ws_row;
  paged.nCols = size.ws_col > 0 ? size.ws_col : 80;
  paged.zCommand = std::move(zCommand);
  std::fflush(stdout);
  nameDestination(f, "|pager");
  p->pOut = f;
  paged.bAlways = static_cast<PagerMode>(p->ePagerMode) == PagerMode::Always;
}

void endPagedOutput(ShellContext* p) {
  if (paged.pStream == nullptr) return;
  FILE* f = paged.pStream;
  if (p->pOut == f) p->pOut = stdout;
  forgetDestination(f);
  std::fclose(f);
}

bool pagerRunning() {
  return paged.pPipe != nullptr;
}

FILE* pagedStream() {
  return paged.pStream;
}
