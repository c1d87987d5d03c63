// .watch: runs a statement again and again at an interval, each result under
// a line with the interval, the statement and the local time, until Ctrl-C or
// a given number of runs.
#include <time.h>

#include <chrono>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "shell/commands/Commands.h"
#include "shell/core/ArgParsers.h"
#include "shell/core/InputRecall.h"
#include "shell/core/OpenDatabase.h"
#include "shell/core/Output.h"
#include "shell/core/Pager.h"
#include "shell/core/Platform.h"
#include "shell/core/ShellContext.h"
#include "shell/exec/Execute.h"
#include "shell/exec/Timer.h"

namespace {

constexpr double rMinInterval = 0.1;
constexpr double rMaxInterval = 86400;
// The statement shown in the heading is cut after this many characters.
constexpr size_t nShownChars = 60;

int watchUsage() {
  printRaw(stderr, "Usage: .watch SECONDS ?SQL? ?--count N?\n");
  return 1;
}

// The interval as given: "2" gives "2.0", "0.25" gives "0.25".
std::string intervalText(double rSeconds) {
  char zBuf[64];
  std::snprintf(zBuf, sizeof zBuf, "%.3f", rSeconds);
  std::string z = zBuf;
  while (z.size() > 2 && z.back() == '0' && z[z.size() - 2] != '.') z.pop_back();
  return z;
}

// The statement on one line: every run of white space becomes one blank,
// and a long statement is cut, at a character's boundary, with "...".
std::string shownStatement(std::string_view zSql) {
  std::string z;
  bool bBlank = false;
  for (char c : zSql) {
    if (std::strchr(" \t\r\n\f\v", c) != nullptr && c != 0) {
      bBlank = !z.empty();
      continue;
    }
    if (bBlank) z += ' ';
    bBlank = false;
    z += c;
  }
  size_t nChars = 0;
  for (size_t i = 0; i < z.size(); i++) {
    if ((static_cast<unsigned char>(z[i]) & 0xc0) == 0x80) continue;
    if (nChars == nShownChars) {
      z.erase(i);
      z += "...";
      break;
    }
    nChars++;
  }
  return z;
}

std::string localTimeText() {
  const time_t now = time(nullptr);
  struct tm local {};
  char zBuf[64] = "";
  if (localtime_r(&now, &local) != nullptr) {
    strftime(zBuf, sizeof zBuf, "%Y-%m-%d %H:%M:%S", &local);
  }
  return zBuf;
}

// Waits rSeconds in slices short enough that a Ctrl-C, or a signal that ends
// the session, is seen at once; false when one came.
bool waitOrInterrupt(double rSeconds) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                           std::chrono::duration<double>(rSeconds));
  while (true) {
    if (nInterrupts != 0 || terminationSignal() != 0) return false;
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) return true;
    const auto slice = std::min<Clock::duration>(left, std::chrono::milliseconds(50));
    const auto nNanos = std::chrono::duration_cast<std::chrono::nanoseconds>(slice).count();
    struct timespec ts {};
    ts.tv_sec = static_cast<time_t>(nNanos / 1000000000);
    ts.tv_nsec = static_cast<long>(nNanos % 1000000000);
    nanosleep(&ts, nullptr);
  }
}

}  // namespace

int doWatch(ShellContext* p, int nArg, char** azArg) {
  if (nArg < 2) return watchUsage();
  const char* zInterval = azArg[1];
  char* zEnd = nullptr;
  const double rSeconds = std::strtod(zInterval, &zEnd);
  if (zEnd == zInterval || *zEnd != 0 || !std::isfinite(rSeconds) || rSeconds < rMinInterval ||
      rSeconds > rMaxInterval) {
    printConsole(stderr, "Error: .watch needs an interval of %g to %g seconds, not \"%s\"\n",
                 rMinInterval, rMaxInterval, zInterval);
    return 1;
  }
  const char* zGiven = nullptr;
  long long nCount = 0;  // 0: until Ctrl-C
  for (int i = 2; i < nArg; i++) {
    const char* z = azArg[i];
    if (std::strcmp(z, "--count") == 0 || std::strcmp(z, "-count") == 0) {
      if (i + 1 >= nArg) return watchUsage();
      const char* zCount = azArg[++i];
      char* zCountEnd = nullptr;
      errno = 0;
      nCount = std::strtoll(zCount, &zCountEnd, 10);
      if (zCountEnd == zCount || *zCountEnd != 0 || errno != 0 || nCount < 1) {
        printConsole(stderr, "Error: .watch --count needs a whole number above 0, not \"%s\"\n",
                     zCount);
        return 1;
      }
    } else if (z[0] == '-' && z[1] == '-') {
      printConsole(stderr, "Error: .watch has no option \"%s\"\n", z);
      return 1;
    } else if (zGiven == nullptr) {
      zGiven = z;
    } else {
      return watchUsage();
    }
  }
  const std::string zSql = zGiven != nullptr ? std::string(zGiven) : lastStatement();
  if (zSql.find_first_not_of(" \t\r\n\f\v;") == std::string::npos) {
    printRaw(stderr, "Error: no statement to watch: run one first, or give it: .watch %s SQL\n",
             zInterval);
    return 1;
  }

  // Someone at the keyboard ends the watch with Ctrl-C; the shell goes on.
  const bool bAtKeyboard = p->pIn == nullptr && bStdinIsTty;
  // Output that never ends does not wait for a pager: what was held goes
  // to the terminal now, and every run follows it there.
  if (pagedStream() != nullptr && p->pOut == pagedStream() && !pagerRunning()) {
    endPagedOutput(p);
  }
  openDatabase(p, 0);
  const std::string zHeading = "Every " + intervalText(rSeconds) + "s: " + shownStatement(zSql);
  const int nWriteFailuresBefore = writeFailureCount();
  std::vector<char> aText(zSql.begin(), zSql.end());
  aText.push_back(0);
  if (p->mFlags & ShellFlag::Backslash) expandBackslashEscapes(aText.data());
  int rc = 0;
  for (long long iRun = 0; nCount == 0 || iRun < nCount; iRun++) {
    if (iRun > 0 && !waitOrInterrupt(rSeconds)) break;
    if (iRun > 0) printRaw(p->pOut, "\n");
    printConsole(p->pOut, "%s    %s\n", zHeading.c_str(), localTimeText().c_str());
    if (p->mProgressFlags & 2) p->nProgressCalls = 0;
    char* zErrMsg = nullptr;
    startTimer();
    const int rcRun = runStatements(p, aText.data(), &zErrMsg);
    stopTimer();
    SqlitePtr zOwnedErr(zErrMsg);
    std::fflush(p->pOut);
    // Ctrl-C during the statement ends the watch as during the wait.
    if (nInterrupts != 0 || terminationSignal() != 0) break;
    if (rcRun != 0 || zErrMsg != nullptr) {
      reportStatementError(p, zErrMsg, bAtKeyboard ? 0 : p->iLineNo);
      rc = 1;
      break;
    }
    // Output that cannot be written ends the watch: it would fail for ever.
    if (writeFailureCount() != nWriteFailuresBefore) {
      rc = 1;
      break;
    }
  }
  if (bAtKeyboard && nInterrupts != 0) {
    // The Ctrl-C is used up here; the prompt comes back on a line of its own.
    nInterrupts = 0;
    std::fputs("\n", stdout);
    std::fflush(stdout);
  }
  return rc;
}
