// Rendering speed of the row-at-a-time modes against a bare loop over the
// engine's C interface.
//
// Builds a 1,000,000-row table of seven mixed columns in memory (integers,
// reals, short text, long text with quotes and commas, text that needs
// escaping, integers with NULLs, blobs with NULLs) and renders
// "SELECT * FROM t" through runStatements in the list, csv, json and insert
// modes to /dev/null.  The reference is the read loop: the same query stepped
// with the C interface, every value fetched as text and nothing written, so
// the ratio is what formatting and writing the values costs on top of the
// engine.  Rounds alternate reference and shell; the ratio printed is the
// median of the ratios paired by round (processor time), and a second table
// gives the same figure for one column at a time, by the type of its values.
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

bool buildTable(sqlite3* db, int nRows) {
  return bench::buildTable(
      db, "CREATE TABLE t(i INTEGER, f REAL, s TEXT, l TEXT, e TEXT, n INTEGER, b BLOB);",
      "  (x * 7919) % 1000003 - 500000,"
      "  x * 0.37 + 1.0 / x,"
      "  'k' || (x % 1000),"
      "  'Long text, with \"quotes\", commas, and more: row ' || x ||"
      "    ', lorem ipsum dolor sit amet, consectetur adipiscing elit',"
      "  'path C:\\dir\\' || x || char(9) || 'tab' || char(10) || 'line \"q\" ' || char(233),"
      "  CASE WHEN x % 3 = 0 THEN NULL ELSE x END,"
      "  CASE WHEN x % 4 = 0 THEN NULL ELSE randomblob(8) END",
      nRows);
}

// The reference: step, fetch each value as text, write nothing.  The sum of
// the lengths keeps the fetches from being optimised away.
double runReadLoop(sqlite3* db, const char* zQuery, long long* pnSink) {
  double t0 = cpuSeconds();
  sqlite3_stmt* pStmt = nullptr;
  sqlite3_prepare_v2(db, zQuery, -1, &pStmt, nullptr);
  int nCol = sqlite3_column_count(pStmt);
  long long n = 0;
  while (sqlite3_step(pStmt) == SQLITE_ROW) {
    for (int i = 0; i < nCol; i++) {
      if (sqlite3_column_text(pStmt, i) != nullptr) n += sqlite3_column_bytes(pStmt, i);
    }
  }
  sqlite3_finalize(pStmt);
  *pnSink += n;
  return cpuSeconds() - t0;
}

double runShell(ShellContext* p, FILE* out, const char* zQuery) {
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

void setMode(ShellContext* p, const Mode& m) {
  p->eMode = m.eMode;
  if (m.zColSep) setSettingText(p->zColSep, m.zColSep);
  if (m.zRowSep) setSettingText(p->zRowSep, m.zRowSep);
}

// nRuns paired rounds of the read loop and the shell on zQuery; returns the
// median of the paired ratios and the two median times.
struct Figures {
  double rShell;
  double rBase;
  double rRatio;
};
Figures measure(ShellContext* p, FILE* out, const char* zQuery, int nRuns, long long* pnSink) {
  runShell(p, out, zQuery);
  std::vector<double> aShell, aBase, aRatio;
  for (int i = 0; i < nRuns; i++) {
    double rBase = runReadLoop(p->db, zQuery, pnSink);
    double rShell = runShell(p, out, zQuery);
    aBase.push_back(rBase);
    aShell.push_back(rShell);
    aRatio.push_back(rShell / rBase);
  }
  return {median(aShell), median(aBase), median(aRatio)};
}

}  // namespace

int main(int argc, char** argv) {
  int nRows = argc > 1 ? std::atoi(argv[1]) : 1000000;
  int nRuns = argc > 2 ? std::atoi(argv[2]) : 5;
  const char* zOnly = argc > 3 ? argv[3] : nullptr;
  if (nRows <= 0 || nRuns <= 0) {
    std::fprintf(stderr, "usage: %s [rows] [runs] [mode]\n", argv[0]);
    return 1;
  }

  ShellContext shell;
  initShellContext(&shell);
  if (sqlite3_open(":memory:", &shell.db) != SQLITE_OK) return 1;
  if (!buildTable(shell.db, nRows)) return 1;
  FILE* out = std::fopen("/dev/null", "w");
  if (out == nullptr) return 1;

  const Mode aMode[] = {
      {"list", OutputMode::List, "|", "\n", 1.15},
      {"csv", OutputMode::Csv, ",", "\r\n", 1.15},
      {"json", OutputMode::Json, nullptr, nullptr, 1.3},
      {"insert", OutputMode::Insert, nullptr, nullptr, 1.5},
  };
  setInsertTable(&shell, "t");
  long long nSink = 0;

  // One warm-up pass, so that every run finds the same caches.
  runReadLoop(shell.db, "SELECT * FROM t", &nSink);
  long nRssBefore = peakRssKiB();

  std::printf(
      "%d rows x 7 columns, %d rounds, processor time; ratio: median of the ratios\n"
      "paired by round against the read loop (step, fetch every value as text)\n",
      nRows, nRuns);
  std::printf("%-8s %12s %12s %8s %8s\n", "mode", "shell (s)", "read (s)", "ratio", "target");
  bool bAllMet = true;
  for (const Mode& m : aMode) {
    if (zOnly && std::strcmp(zOnly, m.zName) != 0) continue;
    setMode(&shell, m);
    Figures f = measure(&shell, out, "SELECT * FROM t", nRuns, &nSink);
    bool bMet = f.rRatio <= m.rTarget;
    bAllMet = bAllMet && bMet;
    std::printf("%-8s %12.3f %12.3f %7.2fx %7.2fx%s\n", m.zName, f.rShell, f.rBase, f.rRatio,
                m.rTarget, bMet ? "" : "  MISSED");
  }
  long nRssAfter = peakRssKiB();

  // One column at a time: what each type of value costs in each mode.
  struct Column {
    const char* zName;
    const char* zQuery;
  };
  const Column aColumn[] = {
      {"integer", "SELECT i FROM t"},   {"real", "SELECT f FROM t"},
      {"short", "SELECT s FROM t"},     {"long", "SELECT l FROM t"},
      {"escapes", "SELECT e FROM t"},   {"int/null", "SELECT n FROM t"},
      {"blob/null", "SELECT b FROM t"},
  };
  std::printf("\nby column, ratio to the read loop of the same column\n%-10s", "column");
  for (const Mode& m : aMode) {
    if (!zOnly || std::strcmp(zOnly, m.zName) == 0) std::printf(" %8s", m.zName);
  }
  std::printf("\n");
  for (const Column& c : aColumn) {
    std::printf("%-10s", c.zName);
    for (const Mode& m : aMode) {
      if (zOnly && std::strcmp(zOnly, m.zName) != 0) continue;
      setMode(&shell, m);
      Figures f = measure(&shell, out, c.zQuery, nRuns, &nSink);
      std::printf(" %7.2fx", f.rRatio);
    }
    std::printf("\n");
  }

  std::printf("peak memory: %ld KiB before rendering, %ld KiB after (growth %ld KiB)\n", nRssBefore,
              nRssAfter, nRssAfter - nRssBefore);
  if (nSink < 0) std::printf("%lld\n", nSink);

  setInsertTable(&shell, nullptr);
  std::fclose(out);
  sqlite3_close(shell.db);
  return bAllMet ? 0 : 2;
}
