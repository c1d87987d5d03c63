// The .timer display: wall-clock time from the default VFS and the process's
// user and system processor times around each SQL chunk.
#include "shell/exec/Timer.h"

#include <sqlite3.h>
#include <sys/resource.h>

#include <cstdio>

#include "shell/core/ShellContext.h"

namespace {

// Processor times in 100-nanosecond units.
struct ProcessTimes {
  sqlite3_int64 iUser;
  sqlite3_int64 iKernel;
};

ProcessTimes startTimes;
sqlite3_int64 iStartMillis = 0;
sqlite3_vfs* pClockVfs = nullptr;

sqlite3_int64 toHundredNanos(const timeval& tv) {
  return static_cast<sqlite3_int64>(tv.tv_sec) * 10000000 +
         static_cast<sqlite3_int64>(tv.tv_usec) * 10;
}

bool readProcessTimes(ProcessTimes* pTimes) {
  rusage usage{};
  if (getrusage(RUSAGE_SELF, &usage) != 0) return false;
  pTimes->iUser = toHundredNanos(usage.ru_utime);
  pTimes->iKernel = toHundredNanos(usage.ru_stime);
  return true;
}

// The current time in milliseconds from the default VFS (0 without one).
sqlite3_int64 clockMillis() {
  if (pClockVfs == nullptr) pClockVfs = sqlite3_vfs_find(nullptr);
  if (pClockVfs == nullptr) return 0;
  sqlite3_int64 t = 0;
  if (pClockVfs->iVersion >= 2 && pClockVfs->xCurrentTimeInt64 != nullptr) {
    pClockVfs->xCurrentTimeInt64(pClockVfs, &t);
  } else {
    double r = 0.0;
    pClockVfs->xCurrentTime(pClockVfs, &r);
    t = static_cast<sqlite3_int64>(r * 86400000.0);
  }
  return t;
}

double elapsedSeconds(sqlite3_int64 iStart, sqlite3_int64 iEnd) {
  return static_cast<double>(iEnd - iStart) / 10000000.0;
}

}  // namespace

bool hasTimer() {
  ProcessTimes t{};
  return readProcessTimes(&t);
}

void startTimer() {
  if (!bTimer) return;
  readProcessTimes(&startTimes);
  iStartMillis = clockMillis();
}

void stopTimer() {
  if (!bTimer) return;
  sqlite3_int64 iEndMillis = clockMillis();
  ProcessTimes endTimes{};
  readProcessTimes(&endTimes);
  std::printf("Run Time: real %.3f user %f sys %f\n",
              static_cast<double>(iEndMillis - iStartMillis) * 0.001,
              elapsedSeconds(startTimes.iUser, endTimes.iUser),
              elapsedSeconds(startTimes.iKernel, endTimes.iKernel));
}
