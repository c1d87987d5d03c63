// Speed and memory of the columnar modes, which hold the whole result before
// printing, against the list mode, which streams it.
//
// Builds a table of mixed columns in memory and renders "SELECT * FROM t"
// through runStatements to /dev/null in list, box and column modes.  Prints
// the median time of each mode and its ratio to the list mode of the same
// run, and the growth of the process's peak memory (ru_maxrss) over the list
// mode, per result cell and against the bytes of text the cells hold.
//
//   bench_columnar [rows] [runs]
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "BenchCommon.h"
#include "shell/core/ShellContext.h"
#include "shell/exec/Execute.h"

namespace {

using bench::median;
using bench::peakRssKiB;

constexpr const char* zQuery = "SELECT * FROM t";
constexpr int nColumns = 5;

bool buildTable(sqlite3* db, int nRows) {
  return bench::buildTable(db, "CREATE TABLE t(i INTEGER, f REAL, s TEXT, m TEXT, n INTEGER);",
                           "  (x * 7919) % 1000003 - 500000,"
                           "  x * 0.37 + 1.0 / x,"
                           "  'k' || (x % 1000),"
                           "  'customer ' || x || ', account ' || (x * 31 % 99991) || ', ok',"
                           "  CASE WHEN x % 3 = 0 THEN NULL ELSE x END",
                           nRows);
}

// Bytes of text the result's values hold (what the cells must store).
long long textBytes(sqlite3* db) {
  sqlite3_stmt* pStmt = nullptr;
  sqlite3_prepare_v2(db,
                     "SELECT sum(length(CAST(i AS TEXT)) + length(CAST(f AS TEXT)) + length(s)"
                     " + length(m) + coalesce(length(CAST(n AS TEXT)), 0)) FROM t",
                     -1, &pStmt, nullptr);
  long long n = 0;
  if (sqlite3_step(pStmt) == SQLITE_ROW) n = sqlite3_column_int64(pStmt, 0);
  sqlite3_finalize(pStmt);
  return n;
}

// Wall-clock time of one rendering.
double runShell(ShellContext* p, FILE* out) {
  auto t0 = std::chrono::steady_clock::now();
  bench::renderQuery(p, out, zQuery);
  return bench::secondsSince(t0);
}

}  // namespace

int main(int argc, char** argv) {
  int nRows = argc > 1 ? std::atoi(argv[1]) : 1000000;
  int nRuns = argc > 2 ? std::atoi(argv[2]) : 3;
  if (nRows <= 0 || nRuns <= 0) {
    std::fprintf(stderr, "usage: %s [rows] [runs]\n", argv[0]);
    return 1;
  }

  ShellContext shell;
  initShellContext(&shell);
  if (sqlite3_open(":memory:", &shell.db) != SQLITE_OK) return 1;
  if (!buildTable(shell.db, nRows)) return 1;
  FILE* out = std::fopen("/dev/null", "w");
  if (out == nullptr) return 1;
  shell.cmOpts = ColumnarOptions{60, 0, 0};
  shell.bHeaders = 1;

  struct Mode {
    const char* zName;
    OutputMode eMode;
  };
  const Mode aMode[] = {
      {"list", OutputMode::List}, {"box", OutputMode::Box}, {"column", OutputMode::Column}};

  std::printf("%d rows x %d columns, median of %d runs\n", nRows, nColumns, nRuns);
  std::printf("%-8s %10s %10s %16s\n", "mode", "time (s)", "vs list", "peak growth KiB");
  double rList = 0;
  long nRssList = 0;
  for (const Mode& m : aMode) {
    shell.eMode = m.eMode;
    std::vector<double> aTime;
    for (int i = 0; i < nRuns; i++) aTime.push_back(runShell(&shell, out));
    double r = median(aTime);
    long nRss = peakRssKiB();
    if (m.eMode == OutputMode::List) {
      rList = r;
      nRssList = nRss;
    }
    std::printf("%-8s %10.3f %9.2fx %16ld\n", m.zName, r, r / rList, nRss - nRssList);
  }
  long long nCells = static_cast<long long>(nRows) * nColumns;
  long long nText = textBytes(shell.db);
  double rGrowth = static_cast<double>(peakRssKiB() - nRssList) * 1024.0;
  std::printf("cells: %lld, text bytes: %lld (%.1f per cell)\n", nCells, nText,
              static_cast<double>(nText) / static_cast<double>(nCells));
  std::printf("peak growth per cell: %.1f bytes (%.1f beyond the text)\n",
              rGrowth / static_cast<double>(nCells),
              (rGrowth - static_cast<double>(nText)) / static_cast<double>(nCells));

  std::fclose(out);
  std::free(shell.aColWidth);  // the widths the columnar renderer sized
  sqlite3_close(shell.db);
  return 0;
}
