// Rendering speed of the row-at-a-time modes against a bare loop over the
// engine's C interface.
//
// Builds a 1,000,000-row table of mixed columns in memory, renders
// "SELECT * FROM t" through runStatements in the list, csv, json and insert
// modes to /dev/null, and, next to each, runs the baseline: the same query
// stepped with the C interface, every value written with fwrite.  Prints the
// median of several runs of both and their ratio, and the growth of the
// process's peak memory while rendering.
//
//   render_bench [rows] [runs] [mode]     (mode: only that one, e.g. for a profiler)
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "BenchCommon.h"
#include "shell/core/ShellContext.h"
#include "shell/exec/Execute.h"

namespace {

using bench::cpuSeconds;
using bench::median;
using bench::peakRssKiB;

constexpr const char* zQuery = "SELECT * FROM t";

bool buildTable(sqlite3* db, int nRows) {
  return bench::buildTable(db,
                           "CREATE TABLE t(i INTEGER, f REAL, s TEXT, l TEXT, n INTEGER, b BLOB);",
                           "  (x * 7919) % 1000003 - 500000,"
                           "  x * 0.37 + 1.0 / x,"
                           "  'k' || (x % 1000),"
                           "  'Long text, with \"quotes\", commas, and more: row ' || x ||"
                           "    ', lorem ipsum dolor sit amet, consectetur adipiscing elit',"
                           "  CASE WHEN x % 3 = 0 THEN NULL ELSE x END,"
                           "  CASE WHEN x % 4 = 0 THEN NULL ELSE randomblob(8) END",
                           nRows);
}

// The bare loop: step, take each value's text, write it with fwrite.
double runBaseline(sqlite3* db, FILE* out) {
  double t0 = cpuSeconds();
  sqlite3_stmt* pStmt = nullptr;
  sqlite3_prepare_v2(db, zQuery, -1, &pStmt, nullptr);
  int nCol = sqlite3_column_count(pStmt);
  while (sqlite3_step(pStmt) == SQLITE_ROW) {
    for (int i = 0; i < nCol; i++) {
      if (sqlite3_column_type(pStmt, i) != SQLITE_NULL) {
        const unsigned char* z = sqlite3_column_text(pStmt, i);
        std::fwrite(z, 1, static_cast<size_t>(sqlite3_column_bytes(pStmt, i)), out);
      }
      std::fputc(i == nCol - 1 ? '\n' : '|', out);
    }
  }
  sqlite3_finalize(pStmt);
  std::fflush(out);
  return cpuSeconds() - t0;
}

double runShell(ShellContext* p, FILE* out) {
  double t0 = cpuSeconds();
  bench::renderQuery(p, out, zQuery);
  return cpuSeconds() - t0;
}

struct Mode {
  const char* zName;
  OutputMode eMode;
  const char* zColSep;
  const char* zRowSep;
  double rTarget;
};

}  // namespace

int main(int argc, char** argv) {
  int nRows = argc > 1 ? std::atoi(argv[1]) : 1000000;
  int nRuns = argc > 2 ? std::atoi(argv[2]) : 5;
  const char* zOnly = argc > 3 ? argv[3] : nullptr;
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

  const Mode aMode[] = {
      {"list", OutputMode::List, "|", "\n", 1.25},
      {"csv", OutputMode::Csv, ",", "\r\n", 1.25},
      {"json", OutputMode::Json, nullptr, nullptr, 1.5},
      {"insert", OutputMode::Insert, nullptr, nullptr, 1.5},
  };
  setInsertTable(&shell, "t");

  // One warm-up pass of each, so that every run finds the same caches.
  runBaseline(shell.db, out);
  long nRssBefore = peakRssKiB();

  std::printf("%d rows, median of %d runs, processor time\n", nRows, nRuns);
  std::printf("%-8s %12s %12s %8s %8s\n", "mode", "shell (s)", "baseline (s)", "ratio", "target");
  bool bAllMet = true;
  for (const Mode& m : aMode) {
    if (zOnly && std::strcmp(zOnly, m.zName) != 0) continue;
    shell.eMode = m.eMode;
    if (m.zColSep) setSettingText(shell.zColSep, m.zColSep);
    if (m.zRowSep) setSettingText(shell.zRowSep, m.zRowSep);
    runShell(&shell, out);
    std::vector<double> aShell;
    std::vector<double> aBase;
    for (int i = 0; i < nRuns; i++) {
      aBase.push_back(runBaseline(shell.db, out));
      aShell.push_back(runShell(&shell, out));
    }
    double rShell = median(aShell);
    double rBase = median(aBase);
    double rRatio = rShell / rBase;
    bool bMet = rRatio <= m.rTarget;
    bAllMet = bAllMet && bMet;
    std::printf("%-8s %12.3f %12.3f %8.2f %7.2fx%s\n", m.zName, rShell, rBase, rRatio, m.rTarget,
                bMet ? "" : "  MISSED");
  }
  long nRssAfter = peakRssKiB();
  std::printf("peak memory: %ld KiB before rendering, %ld KiB after (growth %ld KiB)\n", nRssBefore,
              nRssAfter, nRssAfter - nRssBefore);

  setInsertTable(&shell, nullptr);
  std::fclose(out);
  sqlite3_close(shell.db);
  return bAllMet ? 0 : 2;
}
