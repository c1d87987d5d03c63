// Speed of the REGEXP operator over many rows of short text.
//
// Fills an in-memory table with 1,000,000 short texts, then for a few typical patterns counts
// the matching rows with SELECT count(*) ... WHERE s REGEXP pattern (the extension as SQL
// sees it) and, next to it, with a bare loop that steps SELECT s and calls the matcher
// directly (the engine's cost of reading the rows plus the matcher).  For the plain literal
// the engine's own LIKE '%...%' is measured as well.  Prints the median processor time of
// several runs as rows per second, and the ratio of SQL to the bare loop.
//
//   bench_regexp [rows] [runs]
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchCommon.h"
#include "ext/regexp/Regexp.h"

namespace {

using bench::cpuSeconds;
using bench::median;

struct Pattern {
  const char* zLabel;
  const char* zPattern;
  bool bNoCase;
};

constexpr Pattern kPatterns[] = {
    {"literal", "order", false},
    {"anchored class", "^[a-z]+ [0-9]+", false},
    {"alternation", "(paid|open|late)$", false},
    {"word boundary", "\\bref\\d{3}\\b", false},
    {"case-insensitive", "ORDER [0-9]*7", true},
};

long long countSql(sqlite3* db, const std::string& zSql) {
  sqlite3_stmt* pStmt = nullptr;
  if (sqlite3_prepare_v2(db, zSql.c_str(), -1, &pStmt, nullptr) != SQLITE_OK) {
    std::fprintf(stderr, "prepare failed: %s\n", sqlite3_errmsg(db));
    std::exit(1);
  }
  long long n = sqlite3_step(pStmt) == SQLITE_ROW ? sqlite3_column_int64(pStmt, 0) : -1;
  sqlite3_finalize(pStmt);
  return n;
}

long long countBare(sqlite3* db, RegexProgram* p) {
  sqlite3_stmt* pStmt = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT s FROM t", -1, &pStmt, nullptr) != SQLITE_OK) std::exit(1);
  long long n = 0;
  while (sqlite3_step(pStmt) == SQLITE_ROW) {
    const auto* z = reinterpret_cast<const char*>(sqlite3_column_text(pStmt, 0));
    int nBytes = sqlite3_column_bytes(pStmt, 0);
    n += matchRegex(p, std::string_view(z, static_cast<size_t>(nBytes)));
  }
  sqlite3_finalize(pStmt);
  return n;
}

template <typename F>
double timeRuns(int nRuns, long long* pnHits, F f) {
  std::vector<double> a;
  for (int i = 0; i < nRuns; i++) {
    double t0 = cpuSeconds();
    *pnHits = f();
    a.push_back(cpuSeconds() - t0);
  }
  return median(a);
}

}  // namespace

int main(int argc, char** argv) {
  int nRows = argc > 1 ? std::atoi(argv[1]) : 1000000;
  int nRuns = argc > 2 ? std::atoi(argv[2]) : 3;
  sqlite3* db = nullptr;
  if (sqlite3_open(":memory:", &db) != SQLITE_OK || regexpRegister(db) != SQLITE_OK) return 1;
  if (!bench::buildTable(db, "CREATE TABLE t(s TEXT);",
                         "CASE x % 4 WHEN 0 THEN 'order ' WHEN 1 THEN 'Order ' WHEN 2 THEN"
                         " 'invoice ' ELSE 'ref' END || (x * 7919 % 100003) || CASE x % 3"
                         " WHEN 0 THEN ' paid' WHEN 1 THEN ' open' ELSE ' late' END",
                         nRows)) {
    return 1;
  }
  std::printf("%d rows, median of %d runs (processor time)\n", nRows, nRuns);
  std::printf("%-18s %10s %14s %14s %7s\n", "pattern", "matches", "SQL rows/s", "bare rows/s",
              "ratio");
  for (const auto& pat : kPatterns) {
    char* zSql = sqlite3_mprintf("SELECT count(*) FROM t WHERE %s(%Q, s)",
                                 pat.bNoCase ? "regexpi" : "regexp", pat.zPattern);
    std::string sql(zSql);
    sqlite3_free(zSql);
    RegexProgramPtr p;
    if (const char* zErr = compileRegex(pat.zPattern, pat.bNoCase, &p)) {
      std::fprintf(stderr, "%s: %s\n", pat.zPattern, zErr);
      return 1;
    }
    long long nSql = 0, nBare = 0;
    double tSql = timeRuns(nRuns, &nSql, [&] { return countSql(db, sql); });
    double tBare = timeRuns(nRuns, &nBare, [&] { return countBare(db, p.get()); });
    if (nSql != nBare) {
      std::fprintf(stderr, "%s: SQL counts %lld, bare loop %lld\n", pat.zPattern, nSql, nBare);
      return 1;
    }
    std::printf("%-18s %10lld %14.0f %14.0f %7.2f\n", pat.zLabel, nSql, nRows / tSql, nRows / tBare,
                tSql / tBare);
  }
  long long nLike = 0;
  double tLike = timeRuns(
      nRuns, &nLike, [&] { return countSql(db, "SELECT count(*) FROM t WHERE s GLOB '*order*'"); });
  std::printf("%-18s %10lld %14.0f   (the engine's GLOB '*order*', for scale)\n", "GLOB", nLike,
              nRows / tLike);
  sqlite3_close(db);
  return 0;
}
