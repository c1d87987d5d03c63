#include "shell/core/Progress.h"

#include <unistd.h>

#include <cstdio>

namespace {
constexpr auto tFirstDraw = std::chrono::milliseconds(500);
constexpr auto tRedraw = std::chrono::milliseconds(100);
}  // namespace

TerminalProgress::TerminalProgress(const char* zUnit, bool bWanted)
    : zUnit_(zUnit), bEnabled_(bWanted && isatty(STDERR_FILENO) != 0), tStart_(Clock::now()) {}

void TerminalProgress::update(sqlite3_int64 nDone, sqlite3_int64 nTotal) {
  if (!bEnabled_) return;
  const auto tNow = Clock::now();
  if (tNow - tStart_ < tFirstDraw) return;
  if (bShown_ && tNow - tLastDrawn_ < tRedraw) return;
  tLastDrawn_ = tNow;
  bShown_ = true;
  const int nPercent = nTotal > 0 ? static_cast<int>(nDone * 100 / nTotal) : 0;
  std::fprintf(stderr, "\r%lld of %lld %s (%d%%)\x1b[K", static_cast<long long>(nDone),
               static_cast<long long>(nTotal), zUnit_, nPercent);
  std::fflush(stderr);
}

void TerminalProgress::finish() {
  if (!bShown_) return;
  bShown_ = false;
  std::fputs("\r\x1b[K", stderr);
  std::fflush(stderr);
}
