// Speed of decimal_sum against a bare loop over the engine's C interface.
//
// Fills an in-memory table with 1,000,000 rows of 30-digit decimal texts (15 integer and 15
// fraction digits, every third one negative), then times SELECT decimal_sum(v) FROM t and, as
// the baseline, the same rows stepped with the C interface and each value's text fetched.
// Prints the median processor time of several runs of both, their ratio and the sum.
//
//   bench_decimal [rows] [runs]
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "BenchCommon.h"
#include "ext/decimal/Decimal.h"

namespace {

using bench::cpuSeconds;
using bench::median;

struct StmtDeleter {
  void operator()(sqlite3_stmt* p) const { sqlite3_finalize(p); }
};

sqlite3_stmt* prepareOrDie(sqlite3* db, const char* zSql) {
  sqlite3_stmt* p = nullptr;
  if (sqlite3_prepare_v2(db, zSql, -1, &p, nullptr) != SQLITE_OK) {
    std::fprintf(stderr, "prepare failed: %s\n", sqlite3_errmsg(db));
    std::exit(1);
  }
  return p;
}

// The decimal_sum query; returns the sum's text.
std::string runSum(sqlite3* db) {
  std::unique_ptr<sqlite3_stmt, StmtDeleter> p(prepareOrDie(db, "SELECT decimal_sum(v) FROM t"));
  if (sqlite3_step(p.get()) != SQLITE_ROW) {
    std::fprintf(stderr, "decimal_sum failed: %s\n", sqlite3_errmsg(db));
    std::exit(1);
  }
  return reinterpret_cast<const char*>(sqlite3_column_text(p.get(), 0));
}

// The baseline: every value's text fetched, nothing computed.
size_t runBare(sqlite3* db) {
  std::unique_ptr<sqlite3_stmt, StmtDeleter> p(prepareOrDie(db, "SELECT v FROM t"));
  size_t nBytes = 0;
  while (sqlite3_step(p.get()) == SQLITE_ROW) {
    if (sqlite3_column_text(p.get(), 0))
      nBytes += static_cast<size_t>(sqlite3_column_bytes(p.get(), 0));
  }
  return nBytes;
}

}  // namespace

int main(int argc, char** argv) {
  const int nRows = argc > 1 ? std::atoi(argv[1]) : 1000000;
  const int nRuns = argc > 2 ? std::atoi(argv[2]) : 5;
  sqlite3* db = nullptr;
  if (sqlite3_open(":memory:", &db) != SQLITE_OK || decimalRegister(db) != SQLITE_OK) {
    std::fprintf(stderr, "cannot open the database\n");
    return 1;
  }
  if (!bench::buildTable(db, "CREATE TABLE t(v TEXT);",
                         "printf('%s%015lld.%015lld', CASE WHEN x % 3 = 0 THEN '-' ELSE '' END,"
                         " (x * 104729) % 1000000000000000, (x * 7919 + 13) % 1000000000000000)",
                         nRows)) {
    return 1;
  }
  std::vector<double> aSum;
  std::vector<double> aBare;
  std::string zSum;
  size_t nBytes = 0;
  for (int i = 0; i < nRuns; i++) {
    double t0 = cpuSeconds();
    zSum = runSum(db);
    aSum.push_back(cpuSeconds() - t0);
    t0 = cpuSeconds();
    nBytes = runBare(db);
    aBare.push_back(cpuSeconds() - t0);
  }
  const double tSum = median(aSum);
  const double tBare = median(aBare);
  std::printf(
      "decimal_sum over %d rows (%zu bytes of text): %.3f s, bare loop %.3f s, ratio %.2f\n", nRows,
      nBytes, tSum, tBare, tBare > 0 ? tSum / tBare : 0.0);
  std::printf("sum: %s\n", zSum.c_str());
  sqlite3_close(db);
  return 0;
}
