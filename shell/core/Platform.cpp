#include "shell/core/Platform.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>

#include "shell/core/ShellContext.h"

bool isTerminal(int fd) {
  return isatty(fd) != 0;
}

// Runs in signal context: touches only the volatile counter and the
// connection pointer; sqlite3_interrupt only sets a flag on the connection.
void onInterrupt() {
  int n = nInterrupts + 1;
  nInterrupts = n;
  if (n > 2) _exit(1);
  sqlite3* db = dbForInterrupt;
  if (db != nullptr) sqlite3_interrupt(db);
}

// The Ctrl-C (SIGINT) handler.
static void onCtrlEvent(int) {
  onInterrupt();
}

void installInterruptHandler() {
  struct sigaction action {};
  action.sa_handler = onCtrlEvent;
  sigemptyset(&action.sa_mask);
  // Restart interrupted reads: a Ctrl-C at the prompt must not look like the
  // end of input.
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
}

void debugBreak() {
  raise(SIGTRAP);
}

int currentProcessId() {
  return static_cast<int>(getpid());
}

void printHighlighted(const char* zText) {
  if (bStdoutIsConsole) {
    std::printf("%s%s%s", zHighlightOn, zText, zHighlightOff);
  } else {
    std::printf("%s", zText);
  }
}
