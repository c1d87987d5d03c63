// One press of Tab on a large schema: 1,000 tables of 20 columns, then
// 10,000 tables of 20 columns, in a database file.  For each kind of place
// (a table after FROM, a column of the named table, a column after an
// alias, every column when no table is named, a dot-command's table) it
// prints the first Tab (which reads the catalog), then the median and the
// worst of the next 50, and the Tab after the schema changed; and, for
// comparison, the engine's own first read of the schema.
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/BenchCommon.h"
#include "shell/app/TabCompletion.h"

namespace {

double millisecondsOf(const CompletionSource& source, const std::string& zLine, size_t* pnFound) {
  const auto t0 = std::chrono::steady_clock::now();
  TabCandidates found = tabCandidates(source, "", zLine, zLine.size());
  const double r = bench::secondsSince(t0) * 1000.0;
  *pnFound = found.aWords.size();
  return r;
}

bool makeSchema(sqlite3* db, int nTables) {
  std::string zSql = "BEGIN;";
  for (int i = 0; i < nTables; i++) {
    zSql += "CREATE TABLE t" + std::to_string(i) + "(id INTEGER PRIMARY KEY";
    for (int j = 1; j < 20; j++) zSql += ", c" + std::to_string(j) + "_" + std::to_string(i % 97);
    zSql += ");";
  }
  zSql += "COMMIT;";
  return sqlite3_exec(db, zSql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
}

}  // namespace

int main() {
  const char* const azLines[] = {
      "SELECT * FROM t99",               // tables after FROM
      "SELECT * FROM t1 WHERE c1",       // the named table's columns
      "SELECT * FROM t1 AS a WHERE a.",  // after an alias
      "SELECT c19_",                     // every column: no table is named yet
      ".schema t12",                     // a dot-command's table names
  };
  std::printf("%-8s %-32s %8s %10s %10s %10s %12s\n", "tables", "line", "found", "first ms",
              "median ms", "worst ms", "changed ms");
  for (int nTables : {1000, 10000}) {
    char zName[] = "/tmp/bench_completion_XXXXXX";
    const int fd = mkstemp(zName);
    if (fd < 0) return 1;
    close(fd);
    sqlite3* db = nullptr;
    if (sqlite3_open(zName, &db) != SQLITE_OK || !makeSchema(db, nTables)) {
      std::fprintf(stderr, "cannot build the schema\n");
      return 1;
    }
    // A fresh connection, as a session that opens the file.
    sqlite3_close(db);
    // The engine's own first read of the schema, which the first Tab includes
    // (as does the first statement of a session).
    {
      sqlite3_open(zName, &db);
      const auto t0 = std::chrono::steady_clock::now();
      sqlite3_exec(db, "SELECT * FROM t0 LIMIT 0", nullptr, nullptr, nullptr);
      std::printf("%-8d the engine's first read of the schema: %.2f ms\n", nTables,
                  bench::secondsSince(t0) * 1000.0);
      sqlite3_close(db);
    }
    unsigned nOpened = 0;
    for (const char* zLine : azLines) {
      sqlite3_open(zName, &db);
      CompletionSource source;
      source.db = db;
      source.nOpened = ++nOpened;
      size_t nFound = 0;
      const double rFirst = millisecondsOf(source, zLine, &nFound);
      std::vector<double> aTimes;
      for (int i = 0; i < 50; i++) aTimes.push_back(millisecondsOf(source, zLine, &nFound));
      const double rWorst = *std::max_element(aTimes.begin(), aTimes.end());
      sqlite3_exec(db, "CREATE TABLE extra_table(x)", nullptr, nullptr, nullptr);
      size_t nAfter = 0;
      const double rChanged = millisecondsOf(source, zLine, &nAfter);
      sqlite3_exec(db, "DROP TABLE extra_table", nullptr, nullptr, nullptr);
      std::printf("%-8d %-32s %8zu %10.2f %10.3f %10.3f %12.2f\n", nTables, zLine, nFound, rFirst,
                  bench::median(aTimes), rWorst, rChanged);
      sqlite3_close(db);
    }
    unlink(zName);
  }
  return 0;
}
