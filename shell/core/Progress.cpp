#include "shell/core/Progress.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
constexpr auto tFirstDraw = std::chrono::milliseconds(1000);
constexpr auto tRedraw = std::chrono::milliseconds(100);

// An amount in the unit, bytes as KiB, MiB or GiB with one decimal.
int formatAmount(char* zBuf, size_t nBuf, bool bBytes, double r) {
  if (!bBytes) return std::snprintf(zBuf, nBuf, "%.0f", r);
  static const char* const azUnit[] = {"bytes", "KiB", "MiB", "GiB", "TiB"};
  int i = 0;
  while (r >= 1024.0 && i < 4) {
    r /= 1024.0;
    i++;
  }
  return i == 0 ? std::snprintf(zBuf, nBuf, "%.0f bytes", r)
                : std::snprintf(zBuf, nBuf, "%.1f %s", r, azUnit[i]);
}
}  // namespace

TerminalProgress::TerminalProgress(const char* zUnit, bool bWanted)
    : zUnit_(zUnit), bEnabled_(bWanted && isatty(STDERR_FILENO) != 0), tStart_(Clock::now()) {
  const char* zTerm = std::getenv("TERM");
  bPlainTerminal_ = zTerm != nullptr && std::strcmp(zTerm, "dumb") == 0;
}

bool TerminalProgress::isDue() const {
  if (!bEnabled_) return false;
  const auto tNow = Clock::now();
  if (tNow - tStart_ < tFirstDraw) return false;
  return !bShown_ || tNow - tLastDrawn_ >= tRedraw;
}

void TerminalProgress::formatLine(char* zBuf, size_t nBuf, const char* zUnit, sqlite3_int64 nDone,
                                  sqlite3_int64 nTotal, double rElapsedSeconds) {
  const bool bBytes = std::strcmp(zUnit, "bytes") == 0;
  const char* zShownUnit = bBytes ? "" : zUnit;
  const char* zUnitSep = bBytes ? "" : " ";
  char zDone[32];
  char zTotal[32];
  char zRate[32];
  formatAmount(zDone, sizeof zDone, bBytes, static_cast<double>(nDone));
  const double rRate = rElapsedSeconds > 0 ? static_cast<double>(nDone) / rElapsedSeconds : 0;
  if (!bBytes && rRate < 10) {
    std::snprintf(zRate, sizeof zRate, "%.1f", rRate);  // slow work still shows a rate
  } else {
    formatAmount(zRate, sizeof zRate, bBytes, rRate);
  }
  if (nTotal <= 0) {
    std::snprintf(zBuf, nBuf, "%s%s%s, %s%s%s/s", zDone, zUnitSep, zShownUnit, zRate, zUnitSep,
                  zShownUnit);
    return;
  }
  formatAmount(zTotal, sizeof zTotal, bBytes, static_cast<double>(nTotal));
  const int nPercent = static_cast<int>(nDone * 100 / nTotal);
  int n = std::snprintf(zBuf, nBuf, "%s of %s%s%s (%d%%), %s%s%s/s", zDone, zTotal, zUnitSep,
                        zShownUnit, nPercent, zRate, zUnitSep, zShownUnit);
  if (rRate > 0 && nDone < nTotal && n > 0 && static_cast<size_t>(n) < nBuf) {
    const long long nLeft =
        static_cast<long long>(static_cast<double>(nTotal - nDone) / rRate + 0.5);
    if (nLeft >= 60) {
      std::snprintf(zBuf + n, nBuf - static_cast<size_t>(n), ", %lld min %02lld s left", nLeft / 60,
                    nLeft % 60);
    } else {
      std::snprintf(zBuf + n, nBuf - static_cast<size_t>(n), ", %lld s left", nLeft);
    }
  }
}

void TerminalProgress::update(sqlite3_int64 nDone, sqlite3_int64 nTotal) {
  if (!isDue()) return;
  const auto tNow = Clock::now();
  tLastDrawn_ = tNow;
  const double rElapsed = std::chrono::duration<double>(tNow - tStart_).count();
  char zLine[160];
  formatLine(zLine, sizeof zLine, zUnit_, nDone, nTotal, rElapsed);
  const int nLine = static_cast<int>(std::strlen(zLine));
  if (bPlainTerminal_) {
    // No erase-to-end-of-line here: blanks cover what a longer line left.
    const int nPad = nDrawn_ > nLine ? nDrawn_ - nLine : 0;
    std::fprintf(stderr, "\r%s%*s", zLine, nPad, "");
  } else {
    std::fprintf(stderr, "\r%s\x1b[K", zLine);
  }
  nDrawn_ = nLine;
  bShown_ = true;
  std::fflush(stderr);
}

void TerminalProgress::finish() {
  if (!bShown_) return;
  bShown_ = false;
  if (bPlainTerminal_) {
    std::fprintf(stderr, "\r%*s\r", nDrawn_, "");
  } else {
    std::fputs("\r\x1b[K", stderr);
  }
  nDrawn_ = 0;
  std::fflush(stderr);
}
