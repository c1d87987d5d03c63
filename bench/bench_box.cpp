// The box mode's time and memory for a whole result against a bare C program
// that holds every display line and draws the same frame
// (bench/bare/columnar_box.c).
//
// Writes a database of nRows rows of seven columns (integers, reals, short
// and long text, integers with NULLs, blobs with NULLs, all ASCII) to a
// temporary folder, then runs, in paired rounds, "sqlsh DB '.mode box'
// 'SELECT * FROM t'" and the bare program on it, output to /dev/null.  Prints
// the medians of processor time and peak memory of each, and the medians of
// the ratios paired by round.  Before timing, the two outputs of a small
// table are compared byte for byte.
//
//   bench_box [rows] [rounds]    (sqlsh from $SQLSH_BIN or ../shell/sqlsh;
//                                 the bare program from $SQLSH_BARE_BOX or beside this one)
#include <fcntl.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "BenchCommon.h"

extern char** environ;

namespace {

bool makeDatabase(const std::string& zPath, int nRows) {
  std::filesystem::remove(zPath);
  sqlite3* db = nullptr;
  if (sqlite3_open(zPath.c_str(), &db) != SQLITE_OK) return false;
  const bool bOk = bench::buildTable(
      db,
      "CREATE TABLE t(i INTEGER, f REAL, s TEXT, l TEXT, n INTEGER, b BLOB, k INTEGER);"
      "BEGIN;",
      "  (x * 7919) % 1000003 - 500000,"
      "  x * 0.37 + 1.0 / x,"
      "  'k' || (x % 1000),"
      "  'customer ' || x || ', account ' || (x * 31 % 99991) || ', lorem ipsum dolor',"
      "  CASE WHEN x % 3 = 0 THEN NULL ELSE x END,"
      "  CASE WHEN x % 4 = 0 THEN NULL ELSE CAST('b' || (x * 13 % 9973) AS BLOB) END,"
      "  x",
      nRows);
  const bool bCommit = bOk && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_close(db);
  return bCommit;
}

struct Run {
  double rCpu = 0;
  long nPeakKiB = 0;
  bool bOk = false;
};

// Runs azArgs with its output on zOut; the child's processor time and peak.
Run runOnce(const std::vector<std::string>& azArgs, const char* zOut) {
  std::vector<char*> azArgv;
  for (const std::string& z : azArgs) azArgv.push_back(const_cast<char*>(z.c_str()));
  azArgv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, zOut, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  Run r;
  pid_t pid = 0;
  if (posix_spawn(&pid, azArgv[0], &actions, nullptr, azArgv.data(), environ) == 0) {
    int status = 0;
    rusage ru{};
    if (wait4(pid, &status, 0, &ru) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0) {
      r.bOk = true;
      r.rCpu = static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
               static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
      r.nPeakKiB = ru.ru_maxrss;
    }
  }
  posix_spawn_file_actions_destroy(&actions);
  return r;
}

std::string readAll(const std::string& zPath) {
  std::ifstream in(zPath, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

int main(int argc, char** argv) {
  const int nRows = argc > 1 ? std::atoi(argv[1]) : 1000000;
  const int nRounds = argc > 2 ? std::atoi(argv[2]) : 5;
  const std::filesystem::path dir = bench::selfDirectory();
  const std::string zShell = bench::fromEnvOr("SQLSH_BIN", dir.parent_path() / "shell" / "sqlsh");
  const std::string zBare = bench::fromEnvOr("SQLSH_BARE_BOX", dir / "bench_box_bare");
  if (nRows <= 0 || nRounds <= 0 || access(zShell.c_str(), X_OK) != 0 ||
      access(zBare.c_str(), X_OK) != 0) {
    std::fprintf(stderr, "usage: %s [rows] [rounds]   (sqlsh: %s, bare: %s)\n", argv[0],
                 zShell.c_str(), zBare.c_str());
    return 1;
  }
  char zTemplate[] = "/tmp/bench_box.XXXXXX";
  if (mkdtemp(zTemplate) == nullptr) return 1;
  const std::string zDir = zTemplate;
  setenv("HOME", zDir.c_str(), 1);  // no initialization file
  const std::string zDb = zDir + "/t.db";
  auto shellArgs = [&] {
    return std::vector<std::string>{zShell, zDb, ".mode box", "SELECT * FROM t"};
  };
  auto bareArgs = [&] { return std::vector<std::string>{zBare, zDb}; };

  // The same bytes first, on a small table.
  int rc = 0;
  if (!makeDatabase(zDb, 2000)) {
    std::fprintf(stderr, "building the table failed\n");
    rc = 1;
  } else {
    const std::string zA = zDir + "/a.out", zB = zDir + "/b.out";
    if (!runOnce(shellArgs(), zA.c_str()).bOk || !runOnce(bareArgs(), zB.c_str()).bOk) {
      std::fprintf(stderr, "a run failed\n");
      rc = 1;
    } else if (readAll(zA) != readAll(zB)) {
      std::fprintf(stderr, "the shell and the bare program print different bytes (%s, %s)\n",
                   zA.c_str(), zB.c_str());
      return 1;
    }
  }
  if (rc == 0 && !makeDatabase(zDb, nRows)) rc = 1;
  if (rc != 0) {
    std::filesystem::remove_all(zDir);
    return rc;
  }

  runOnce(shellArgs(), "/dev/null");  // warm-up: the file in the page cache
  runOnce(bareArgs(), "/dev/null");
  std::vector<double> aShellCpu, aBareCpu, aCpuRatio, aShellPeak, aBarePeak, aPeakRatio;
  for (int i = 0; i < nRounds; i++) {
    const Run a = runOnce(shellArgs(), "/dev/null");
    const Run b = runOnce(bareArgs(), "/dev/null");
    if (!a.bOk || !b.bOk) {
      std::fprintf(stderr, "a run failed\n");
      rc = 1;
      break;
    }
    aShellCpu.push_back(a.rCpu);
    aBareCpu.push_back(b.rCpu);
    aCpuRatio.push_back(a.rCpu / b.rCpu);
    aShellPeak.push_back(static_cast<double>(a.nPeakKiB));
    aBarePeak.push_back(static_cast<double>(b.nPeakKiB));
    aPeakRatio.push_back(static_cast<double>(a.nPeakKiB) / static_cast<double>(b.nPeakKiB));
  }
  std::filesystem::remove_all(zDir);
  if (rc != 0) return rc;

  const double rTime = bench::median(aCpuRatio);
  const double rPeak = bench::median(aPeakRatio);
  std::printf("%d rows x 7 columns in box mode, %d rounds; medians, ratios paired by round\n",
              nRows, nRounds);
  std::printf("%-8s %12s %12s %8s %8s\n", "figure", "shell", "bare", "ratio", "target");
  std::printf("%-8s %11.3fs %11.3fs %7.2fx %7.2fx%s\n", "cpu", bench::median(aShellCpu),
              bench::median(aBareCpu), rTime, 0.6, rTime <= 0.6 ? "" : "  MISSED");
  std::printf("%-8s %9.0fKiB %9.0fKiB %7.2fx %7.2fx%s\n", "peak", bench::median(aShellPeak),
              bench::median(aBarePeak), rPeak, 1.1, rPeak <= 1.1 ? "" : "  MISSED");
  return rTime <= 0.6 && rPeak <= 1.1 ? 0 : 2;
}
