// Start-up cost of sqlsh against bare programs, launch by launch.
//
// Two pairs, each run in paired rounds (A then B, then A, ...), every round
// launching its command N times with its output on /dev/null:
//   select1   sqlsh :memory: "SELECT 1"   against bench_startup_bare, a C
//             program that opens :memory:, runs SELECT 1 and prints it
//   version   sqlsh -version              against /bin/true
// For each pair it prints the median wall time of a round, the median of the
// ratios A/B paired by round, and the same for the processor time the
// launched processes used (user + system, from wait4).  The machine is
// shared: the paired ratio is the figure to quote.
//
//   bench_startup [launches] [rounds]   (sqlsh from $SQLSH_BIN or ../shell/sqlsh;
//                                        the bare program from $SQLSH_BARE or beside this one)
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchCommon.h"

extern char** environ;

namespace {

struct Round {
  double rWall = 0;
  double rCpu = 0;
  bool bOk = true;
};

// Launches azArgv nLaunch times, one after the other, output to /dev/null.
Round runRound(const std::vector<std::string>& azArgs, int nLaunch) {
  std::vector<char*> azArgv;
  for (const std::string& z : azArgs) azArgv.push_back(const_cast<char*>(z.c_str()));
  azArgv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  Round r;
  const auto t0 = std::chrono::steady_clock::now();
  for (int i = 0; i < nLaunch; i++) {
    pid_t pid = 0;
    if (posix_spawn(&pid, azArgv[0], &actions, nullptr, azArgv.data(), environ) != 0) {
      r.bOk = false;
      break;
    }
    int status = 0;
    rusage ru{};
    if (wait4(pid, &status, 0, &ru) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      r.bOk = false;
    }
    r.rCpu += static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
              static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
  }
  r.rWall = bench::secondsSince(t0);
  posix_spawn_file_actions_destroy(&actions);
  return r;
}

struct Pair {
  const char* zName;
  std::vector<std::string> azShell;
  std::vector<std::string> azBare;
  double rTarget;
};

}  // namespace

int main(int argc, char** argv) {
  const int nLaunch = argc > 1 ? std::atoi(argv[1]) : 200;
  const int nRounds = argc > 2 ? std::atoi(argv[2]) : 7;
  const std::filesystem::path dir = bench::selfDirectory();
  const std::string zShell = bench::fromEnvOr("SQLSH_BIN", dir.parent_path() / "shell" / "sqlsh");
  const std::string zBare = bench::fromEnvOr("SQLSH_BARE", dir / "bench_startup_bare");
  if (nLaunch <= 0 || nRounds <= 0 || access(zShell.c_str(), X_OK) != 0 ||
      access(zBare.c_str(), X_OK) != 0) {
    std::fprintf(stderr, "usage: %s [launches] [rounds]   (sqlsh: %s, bare: %s)\n", argv[0],
                 zShell.c_str(), zBare.c_str());
    return 1;
  }
  const Pair aPair[] = {
      {"select1", {zShell, ":memory:", "SELECT 1"}, {zBare}, 1.25},
      {"version", {zShell, "-version"}, {"/bin/true"}, 2.0},
  };

  std::printf("%d launches a round, %d rounds; medians, ratios paired by round\n", nLaunch,
              nRounds);
  std::printf("%-8s %10s %10s %8s %8s %8s\n", "work", "shell (s)", "bare (s)", "wall", "cpu",
              "target");
  bool bAllMet = true;
  for (const Pair& pair : aPair) {
    runRound(pair.azShell, nLaunch / 10 + 1);  // warm-up: the files in the page cache
    runRound(pair.azBare, nLaunch / 10 + 1);
    std::vector<double> aShell, aBare, aWallRatio, aCpuRatio;
    for (int i = 0; i < nRounds; i++) {
      const Round a = runRound(pair.azShell, nLaunch);
      const Round b = runRound(pair.azBare, nLaunch);
      if (!a.bOk || !b.bOk) {
        std::fprintf(stderr, "%s: a launch failed\n", pair.zName);
        return 1;
      }
      aShell.push_back(a.rWall);
      aBare.push_back(b.rWall);
      aWallRatio.push_back(a.rWall / b.rWall);
      aCpuRatio.push_back(a.rCpu / b.rCpu);
    }
    const double rRatio = bench::median(aWallRatio);
    const bool bMet = rRatio <= pair.rTarget;
    bAllMet = bAllMet && bMet;
    std::printf("%-8s %10.3f %10.3f %7.2fx %7.2fx %7.2fx%s\n", pair.zName, bench::median(aShell),
                bench::median(aBare), rRatio, bench::median(aCpuRatio), pair.rTarget,
                bMet ? "" : "  MISSED");
  }
  return bAllMet ? 0 : 2;
}
