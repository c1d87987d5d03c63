// The pager's cost: one million rows of list and csv output from sqlsh at a
// terminal, through a pager that reads everything (cat >/dev/null), against
// the same rows through a plain pipe (.once '|cat >/dev/null').  Each run is
// a fresh shell on a pseudo-terminal; the figures are the shell's own
// processor time and its peak memory, medians of the runs.
//
//   bench_pager [rows] [runs]      (sqlsh from $SQLSH_BIN or ../shell/sqlsh)
#include <pty.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <poll.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchCommon.h"

namespace {

std::string shellPath() {
  if (const char* z = std::getenv("SQLSH_BIN"); z && *z) return z;
  std::error_code ec;
  auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return "";
  return (self.parent_path().parent_path() / "shell" / "sqlsh").string();
}

struct RunResult {
  double cpuSeconds = 0;  // user + system time of the shell itself
  double wallSeconds = 0;
  long peakKiB = 0;
  bool bOk = false;
};

// Runs zInput in a fresh shell on a pseudo-terminal of 80x24 and waits for it
// to end, draining what it shows.
RunResult runAtTerminal(const std::string& zExe, const std::string& zInput) {
  RunResult r;
  int master = -1;
  winsize size{};
  size.ws_row = 24;
  size.ws_col = 80;
  const auto t0 = std::chrono::steady_clock::now();
  const pid_t pid = forkpty(&master, nullptr, nullptr, &size);
  if (pid < 0) return r;
  if (pid == 0) {
    setenv("SQLSH_PAGER", "cat >/dev/null", 1);
    setenv("TERM", "xterm", 1);
    setenv("HOME", "/nonexistent", 1);
    unsetenv("SQLSH_HISTORY");
    execl(zExe.c_str(), "sqlsh", ":memory:", static_cast<char*>(nullptr));
    _exit(127);
  }
  // Typing everything at once is fine: the shell reads it line by line.
  size_t nSent = 0;
  int status = 0;
  rusage ru{};
  while (true) {
    pollfd pfd{master, POLLIN, 0};
    if (nSent < zInput.size()) pfd.events |= POLLOUT;
    if (poll(&pfd, 1, 100) > 0) {
      if (pfd.revents & POLLIN) {
        char buf[65536];
        if (read(master, buf, sizeof buf) <= 0) pfd.revents |= POLLHUP;
      }
      if ((pfd.revents & POLLOUT) && nSent < zInput.size()) {
        const ssize_t n = write(master, zInput.data() + nSent, zInput.size() - nSent);
        if (n > 0) nSent += static_cast<size_t>(n);
      }
    }
    if (wait4(pid, &status, WNOHANG, &ru) == pid) break;
  }
  close(master);
  r.wallSeconds = bench::secondsSince(t0);
  r.cpuSeconds = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
                 static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
  r.peakKiB = ru.ru_maxrss;
  r.bOk = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  const int nRows = argc > 1 ? std::atoi(argv[1]) : 1000000;
  const int nRuns = argc > 2 ? std::atoi(argv[2]) : 3;
  const std::string zExe = shellPath();
  if (nRows <= 0 || nRuns <= 0 || access(zExe.c_str(), X_OK) != 0) {
    std::fprintf(stderr, "usage: %s [rows] [runs]   (sqlsh: %s)\n", argv[0], zExe.c_str());
    return 1;
  }
  char zQuery[300];
  std::snprintf(zQuery, sizeof zQuery,
                "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < %d) "
                "SELECT x, 'text ' || x, x * 0.5 FROM c;\n",
                nRows);

  std::printf("%d rows x 3 columns at an 80x24 terminal, median of %d runs\n", nRows, nRuns);
  std::printf("%-5s %-6s %10s %10s %10s %12s\n", "mode", "to", "cpu (s)", "wall (s)", "vs pipe",
              "peak KiB");
  for (const char* zMode : {"list", "csv"}) {
    double rPipe = 0;
    for (const char* zTo : {"pipe", "pager"}) {
      std::string zInput = std::string(".mode ") + zMode + "\n";
      if (std::string(zTo) == "pipe") zInput += ".once '|cat >/dev/null'\n";
      zInput += zQuery;
      zInput += ".quit\n";
      std::vector<double> aCpu, aWall, aPeak;
      for (int i = 0; i < nRuns; i++) {
        RunResult r = runAtTerminal(zExe, zInput);
        if (!r.bOk) {
          std::fprintf(stderr, "the shell failed (%s to %s)\n", zMode, zTo);
          return 1;
        }
        aCpu.push_back(r.cpuSeconds);
        aWall.push_back(r.wallSeconds);
        aPeak.push_back(static_cast<double>(r.peakKiB));
      }
      const double rCpu = bench::median(aCpu);
      if (rPipe == 0) rPipe = rCpu;
      std::printf("%-5s %-6s %10.3f %10.3f %9.3fx %12.0f\n", zMode, zTo, rCpu, bench::median(aWall),
                  rCpu / rPipe, bench::median(aPeak));
    }
  }
  return 0;
}
