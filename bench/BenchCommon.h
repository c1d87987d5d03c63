// Helpers shared by the benchmarks: clocks, peak memory, medians, generated
// tables and one timed run of a query through the shell's pipeline.
#pragma once

#include <sqlite3.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "shell/core/ShellContext.h"
#include "shell/exec/Execute.h"

namespace bench {

// The folder of the running benchmark, where the programs it compares live.
inline std::filesystem::path selfDirectory() {
  std::error_code ec;
  auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::path() : self.parent_path();
}

// The program named by the environment variable zVar, else fallback.
inline std::string fromEnvOr(const char* zVar, const std::filesystem::path& fallback) {
  if (const char* z = std::getenv(zVar); z && *z) return z;
  return fallback.string();
}

// Processor time of this process: the machine is shared, and wall-clock time
// would mostly measure the neighbours.
inline double cpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Wall-clock seconds since t0.
inline double secondsSince(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Peak resident memory of the process so far.
inline long peakRssKiB() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_maxrss;
}

inline double median(std::vector<double> a) {
  std::sort(a.begin(), a.end());
  return a[a.size() / 2];
}

// Runs zPrefix (which creates table t, and any pragmas before it), then fills
// t with nRows rows whose values are zValues, a select list over x = 1..nRows.
// Returns the engine's result; *pzErr receives its message on failure.
inline int fillTable(sqlite3* db, const char* zPrefix, const char* zValues, int nRows,
                     std::string* pzErr) {
  char* zSql = sqlite3_mprintf(
      "%s"
      "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < %d)"
      "INSERT INTO t SELECT %s FROM c;",
      zPrefix, nRows, zValues);
  char* zErr = nullptr;
  int rc = sqlite3_exec(db, zSql, nullptr, nullptr, &zErr);
  sqlite3_free(zSql);
  if (pzErr) *pzErr = zErr ? zErr : "";
  sqlite3_free(zErr);
  return rc;
}

// fillTable that reports a failure on standard error.
inline bool buildTable(sqlite3* db, const char* zPrefix, const char* zValues, int nRows) {
  std::string zErr;
  if (fillTable(db, zPrefix, zValues, nRows, &zErr) == SQLITE_OK) return true;
  std::fprintf(stderr, "building the table failed: %s\n", zErr.c_str());
  return false;
}

// Renders zQuery through the shell's pipeline to out (flushed); a failure
// ends the benchmark.
inline void renderQuery(ShellContext* p, FILE* out, const char* zQuery) {
  p->pOut = out;
  char* zErr = nullptr;
  if (runStatements(p, zQuery, &zErr) != SQLITE_OK) {
    std::fprintf(stderr, "runStatements failed: %s\n", zErr ? zErr : "");
    std::exit(1);
  }
  std::fflush(out);
}

}  // namespace bench
