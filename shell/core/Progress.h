// A progress line on standard error for operations that may run long (copies,
// clones, imports, dumps).  It appears only when standard error is a terminal
// and the work has taken more than a second, is redrawn at most ten times a
// second, and is erased when the work ends; otherwise nothing is written.
#pragma once

#include <sqlite3.h>

#include <chrono>
#include <cstddef>

class TerminalProgress {
 public:
  // bWanted false keeps the line off whatever standard error is.  With the
  // unit "bytes" amounts are shown in KiB, MiB and GiB.
  explicit TerminalProgress(const char* zUnit, bool bWanted = true);
  TerminalProgress(const TerminalProgress&) = delete;
  TerminalProgress& operator=(const TerminalProgress&) = delete;
  ~TerminalProgress() { finish(); }

  // Whether update() would draw now: lets a caller skip working out the
  // amount done when nothing would be shown.
  bool isDue() const;
  // nDone of nTotal units are done; a total of 0 or less is unknown.
  void update(sqlite3_int64 nDone, sqlite3_int64 nTotal);
  // Erases the line, if one was drawn.
  void finish();

  // The text of the line (without the carriage return and erasure) after
  // tElapsed of work; written into zBuf of nBuf bytes.  For the tests.
  static void formatLine(char* zBuf, size_t nBuf, const char* zUnit, sqlite3_int64 nDone,
                         sqlite3_int64 nTotal, double rElapsedSeconds);

 private:
  using Clock = std::chrono::steady_clock;
  const char* zUnit_;
  bool bEnabled_;
  bool bShown_ = false;
  bool bPlainTerminal_ = false;  // TERM=dumb: erase by overwriting with blanks
  int nDrawn_ = 0;               // length of the line drawn last
  Clock::time_point tStart_;
  Clock::time_point tLastDrawn_;
};
