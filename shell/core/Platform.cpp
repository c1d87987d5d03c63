#include "shell/core/Platform.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "shell/core/ShellContext.h"

bool isTerminal(int fd) {
  return isatty(fd) != 0;
}

int terminalColumns(int fd) {
  winsize size{};
  if (ioctl(fd, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
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

namespace {

volatile sig_atomic_t iTerminationSignal = 0;
// An empty input put in place of standard input when the session ends (-1: none).
int fdEmptyInput = -1;

// How long the session may take to end after the signal, in seconds.  A
// statement that started just after the interrupt, or a command that does
// not watch for one, could otherwise keep it going.
constexpr unsigned nTerminationGrace = 2;

// Ends the process by the signal that asked it to end (signal context).
void endBySignalNow(int iSignal) {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(iSignal, &action, nullptr);
  sigset_t mSignal;
  sigemptyset(&mSignal);
  sigaddset(&mSignal, iSignal);
  sigprocmask(SIG_UNBLOCK, &mSignal, nullptr);
  raise(iSignal);
  _exit(128 + iSignal);
}

void onTerminationOverdue(int) {
  endBySignalNow(iTerminationSignal != 0 ? iTerminationSignal : SIGTERM);
}

// Runs in signal context: only flags, sqlite3_interrupt, dup2 and alarm.
void onTermination(int iSignal) {
  const int iErrno = errno;
  if (iTerminationSignal == 0) {
    iTerminationSignal = iSignal;
    alarm(nTerminationGrace);
  }
  // Commands that watch for Ctrl-C stop as for one; the count never reaches
  // the point where the process ends at once.
  if (nInterrupts == 0) nInterrupts = 1;
  sqlite3* db = dbForInterrupt;
  if (db != nullptr) sqlite3_interrupt(db);
  if (fdEmptyInput >= 0) dup2(fdEmptyInput, STDIN_FILENO);
  errno = iErrno;
}

}  // namespace

void installTerminationHandlers(bool bDropInput) {
  if (bDropInput && fdEmptyInput < 0) fdEmptyInput = open("/dev/null", O_RDONLY | O_CLOEXEC);
  for (const int iSignal : {SIGHUP, SIGTERM}) {
    struct sigaction previous {};
    if (sigaction(iSignal, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = onTermination;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGHUP);
    sigaddset(&action.sa_mask, SIGTERM);
    // A read interrupted at the terminal starts again, and then finds the
    // empty input (or the input loop's wait sees the signal).
    action.sa_flags = SA_RESTART;
    sigaction(iSignal, &action, nullptr);
  }
  struct sigaction overdue {};
  overdue.sa_handler = onTerminationOverdue;
  sigemptyset(&overdue.sa_mask);
  sigaction(SIGALRM, &overdue, nullptr);
}

int terminationSignal() {
  return iTerminationSignal;
}

void endByTerminationSignal() {
  const int iSignal = iTerminationSignal;
  if (iSignal == 0) return;
  std::fflush(nullptr);
  endBySignalNow(iSignal);
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

bool writeFully(int fd, std::string_view z) {
  while (!z.empty()) {
    const ssize_t n = write(fd, z.data(), z.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    z.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}
