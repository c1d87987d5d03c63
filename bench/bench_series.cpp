// Speed of generate_series against a recursive common table expression that
// counts the same integers on the same engine.
//
// Both queries sum the integers 1 .. N (N = 10,000,000 by default), so each
// checks the other's answer (N * (N + 1) / 2).  Prints the median processor
// time of several runs of both and their ratio.
//
//   bench_series [count] [runs]
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "BenchCommon.h"
#include "ext/series/Series.h"

namespace {

using bench::cpuSeconds;
using bench::median;

constexpr const char* zSeriesSum = "SELECT sum(value) FROM generate_series(1, ?1)";
constexpr const char* zCteSum =
    "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < ?1) "
    "SELECT sum(x) FROM c";

// Runs zSql with ?1 bound to nCount; returns the processor seconds and stores
// the sum.  A failure ends the benchmark.
double timeSum(sqlite3* db, const char* zSql, sqlite3_int64 nCount, sqlite3_int64* piSum) {
  sqlite3_stmt* pStmt = nullptr;
  if (sqlite3_prepare_v2(db, zSql, -1, &pStmt, nullptr) != SQLITE_OK) {
    std::fprintf(stderr, "prepare failed: %s\n", sqlite3_errmsg(db));
    std::exit(1);
  }
  sqlite3_bind_int64(pStmt, 1, nCount);
  double t0 = cpuSeconds();
  if (sqlite3_step(pStmt) != SQLITE_ROW) {
    std::fprintf(stderr, "step failed: %s\n", sqlite3_errmsg(db));
    std::exit(1);
  }
  double t = cpuSeconds() - t0;
  *piSum = sqlite3_column_int64(pStmt, 0);
  sqlite3_finalize(pStmt);
  return t;
}

}  // namespace

int main(int argc, char** argv) {
  sqlite3_int64 nCount = argc > 1 ? std::atoll(argv[1]) : 10000000;
  int nRuns = argc > 2 ? std::atoi(argv[2]) : 5;
  if (nCount < 1 || nRuns < 1) {
    std::fprintf(stderr, "usage: bench_series [count] [runs]\n");
    return 1;
  }
  sqlite3* db = nullptr;
  if (sqlite3_open(":memory:", &db) != SQLITE_OK || seriesRegister(db) != SQLITE_OK) {
    std::fprintf(stderr, "cannot open a database with generate_series\n");
    return 1;
  }
  const sqlite3_int64 iWant = nCount * (nCount + 1) / 2;
  std::vector<double> aSeries, aCte;
  for (int i = 0; i < nRuns; i++) {
    sqlite3_int64 iSeries = 0, iCte = 0;
    aSeries.push_back(timeSum(db, zSeriesSum, nCount, &iSeries));
    aCte.push_back(timeSum(db, zCteSum, nCount, &iCte));
    if (iSeries != iWant || iCte != iWant) {
      std::fprintf(stderr, "wrong sum: series %lld, cte %lld, expected %lld\n",
                   static_cast<long long>(iSeries), static_cast<long long>(iCte),
                   static_cast<long long>(iWant));
      return 1;
    }
  }
  sqlite3_close(db);
  double tSeries = median(aSeries);
  double tCte = median(aCte);
  std::printf("sum of %lld integers, median of %d runs (processor time)\n",
              static_cast<long long>(nCount), nRuns);
  std::printf("  generate_series  %8.3f s\n", tSeries);
  std::printf("  recursive CTE    %8.3f s\n", tCte);
  std::printf("  ratio            %8.2fx faster\n", tSeries > 0 ? tCte / tSeries : 0.0);
  return 0;
}
