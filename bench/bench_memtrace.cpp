// The cost of -memtrace: a 100,000-row insert (one statement per row, as a
// script would run it) timed without tracing, then again with every
// allocation traced to /dev/null.  Prints the median processor times and the
// ratio (target 3).
//
//   bench_memtrace [rows] [runs]
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "BenchCommon.h"
#include "ext/memtrace/Memtrace.h"

namespace {

double insertRows(int nRows) {
  const double t0 = bench::cpuSeconds();
  sqlite3* db = nullptr;
  sqlite3_open(":memory:", &db);
  sqlite3_exec(db, "CREATE TABLE t(i INTEGER, s TEXT)", nullptr, nullptr, nullptr);
  for (int i = 0; i < nRows; i++) {
    char* zSql = sqlite3_mprintf("INSERT INTO t VALUES(%d, 'value %d')", i, i);
    sqlite3_exec(db, zSql, nullptr, nullptr, nullptr);
    sqlite3_free(zSql);
  }
  sqlite3_close(db);
  return bench::cpuSeconds() - t0;
}

}  // namespace

int main(int argc, char** argv) {
  const int nRows = argc > 1 ? std::atoi(argv[1]) : 100000;
  const int nRuns = argc > 2 ? std::atoi(argv[2]) : 3;
  std::vector<double> aPlain, aTraced;
  for (int r = 0; r < nRuns; r++) aPlain.push_back(insertRows(nRows));
  FILE* pNull = std::fopen("/dev/null", "w");
  sqlite3_shutdown();
  memtraceStart(pNull);
  sqlite3_initialize();
  for (int r = 0; r < nRuns; r++) aTraced.push_back(insertRows(nRows));
  std::printf("%d inserts: traced %.3f s, untraced %.3f s, ratio %.2f (target 3)\n", nRows,
              bench::median(aTraced), bench::median(aPlain),
              bench::median(aTraced) / bench::median(aPlain));
  return 0;
}
