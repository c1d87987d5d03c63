// A progress line on standard error for operations that may run long (copies,
// clones).  It appears only when standard error is a terminal and the work has
// taken more than half a second, is redrawn at most ten times a second, and is
// erased when the work ends; otherwise nothing is written.
#pragma once

#include <sqlite3.h>

#include <chrono>

class TerminalProgress {
 public:
  // bWanted false keeps the line off whatever standard error is.
  explicit TerminalProgress(const char* zUnit, bool bWanted = true);
  TerminalProgress(const TerminalProgress&) = delete;
  TerminalProgress& operator=(const TerminalProgress&) = delete;
  ~TerminalProgress() { finish(); }

  // nDone of nTotal units are done.
  void update(sqlite3_int64 nDone, sqlite3_int64 nTotal);
  // Erases the line, if one was drawn.
  void finish();

 private:
  using Clock = std::chrono::steady_clock;
  const char* zUnit_;
  bool bEnabled_;
  bool bShown_ = false;
  Clock::time_point tStart_;
  Clock::time_point tLastDrawn_;
};
