// Speed of .dump against a bare loop over the engine's C interface.
//
// Builds a database file with one 1,000,000-row table of mixed columns, then
// runs .dump (doDump, the shell's own code) with the output on /dev/null, and
// next to it the baseline: the same SELECT stepped with the C interface, each
// row written as an INSERT statement with buffered fwrite (texts quoted with
// their apostrophes doubled, blobs in hex, floats with 20 significant digits
// as the dump writes them).  Prints the median processor time of several runs
// of both and their ratio.
//
//   bench_dump [rows] [runs]
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "BenchCommon.h"
#include "shell/commands/Commands.h"
#include "shell/core/ShellContext.h"

namespace {

using bench::cpuSeconds;
using bench::median;

constexpr const char* zSelect = "SELECT i,f,s,n,b FROM t";

bool buildDatabase(const char* zPath, int nRows) {
  sqlite3* db = nullptr;
  if (sqlite3_open(zPath, &db) != SQLITE_OK) return false;
  int rc = bench::fillTable(
      db,
      "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;"
      "CREATE TABLE t(i INTEGER, f REAL, s TEXT, n INTEGER, b BLOB);",
      "  (x * 7919) % 1000003 - 500000,"
      "  x * 0.37 + 1.0 / x,"
      "  'customer ' || x || CASE WHEN x % 5 = 0 THEN ' O''Brien' ELSE ', street 12' END,"
      "  CASE WHEN x % 3 = 0 THEN NULL ELSE x END,"
      "  CASE WHEN x % 4 = 0 THEN NULL ELSE randomblob(8) END",
      nRows, nullptr);
  sqlite3_close(db);
  return rc == SQLITE_OK;
}

void putText(FILE* out, const char* z, int n) {
  std::fputc('\'', out);
  const char* zEnd = z + n;
  while (z < zEnd) {
    const char* q = static_cast<const char*>(std::memchr(z, '\'', static_cast<size_t>(zEnd - z)));
    if (q == nullptr) {
      std::fwrite(z, 1, static_cast<size_t>(zEnd - z), out);
      break;
    }
    std::fwrite(z, 1, static_cast<size_t>(q - z + 1), out);
    std::fputc('\'', out);
    z = q + 1;
  }
  std::fputc('\'', out);
}

// The baseline: one INSERT statement per row, written with buffered fwrite.
void baselineDump(const char* zPath, FILE* out) {
  sqlite3* db = nullptr;
  sqlite3_open(zPath, &db);
  sqlite3_stmt* pStmt = nullptr;
  sqlite3_prepare_v2(db, zSelect, -1, &pStmt, nullptr);
  int nCol = sqlite3_column_count(pStmt);
  static const char zHex[] = "0123456789abcdef";
  char zBuf[64];
  while (sqlite3_step(pStmt) == SQLITE_ROW) {
    std::fwrite("INSERT INTO t VALUES(", 1, 21, out);
    for (int i = 0; i < nCol; i++) {
      if (i > 0) std::fputc(',', out);
      switch (sqlite3_column_type(pStmt, i)) {
        case SQLITE_INTEGER: {
          const char* z = reinterpret_cast<const char*>(sqlite3_column_text(pStmt, i));
          std::fwrite(z, 1, static_cast<size_t>(sqlite3_column_bytes(pStmt, i)), out);
          break;
        }
        case SQLITE_FLOAT:
          sqlite3_snprintf(sizeof(zBuf), zBuf, "%!.20g", sqlite3_column_double(pStmt, i));
          std::fputs(zBuf, out);
          break;
        case SQLITE_TEXT:
          putText(out, reinterpret_cast<const char*>(sqlite3_column_text(pStmt, i)),
                  sqlite3_column_bytes(pStmt, i));
          break;
        case SQLITE_BLOB: {
          const auto* a = static_cast<const unsigned char*>(sqlite3_column_blob(pStmt, i));
          int n = sqlite3_column_bytes(pStmt, i);
          std::fwrite("X'", 1, 2, out);
          for (int k = 0; k < n; k++) {
            std::fputc(zHex[a[k] >> 4], out);
            std::fputc(zHex[a[k] & 0xf], out);
          }
          std::fputc('\'', out);
          break;
        }
        default:
          std::fwrite("NULL", 1, 4, out);
      }
    }
    std::fwrite(");\n", 1, 3, out);
  }
  sqlite3_finalize(pStmt);
  sqlite3_close(db);
}

// The shell's state record, initialized before the engine is first used.
ShellContext ctx;

// The shell's .dump, as the command line runs it on a freshly opened file.
void shellDump(const char* zPath, FILE* out) {
  ctx.pOut = out;
  ctx.pConn->zFilename = zPath;
  char zCmd[] = ".dump";
  char* azArg[] = {zCmd, nullptr};
  doDump(&ctx, 1, azArg);
  std::fflush(out);
  sqlite3_close(ctx.db);
  ctx.db = nullptr;
  ctx.pConn->db = nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  int nRows = argc > 1 ? std::atoi(argv[1]) : 1000000;
  int nRuns = argc > 2 ? std::atoi(argv[2]) : 5;
  initShellContext(&ctx);
  char zPath[] = "/tmp/bench_dump_XXXXXX";
  int fd = mkstemp(zPath);
  if (fd < 0) return 1;
  close(fd);
  std::printf("building a table of %d rows...\n", nRows);
  if (!buildDatabase(zPath, nRows)) {
    std::fprintf(stderr, "cannot build the database\n");
    std::remove(zPath);
    return 1;
  }
  FILE* out = std::fopen("/dev/null", "w");
  std::vector<double> aDump, aBase;
  for (int r = 0; r < nRuns; r++) {
    double t0 = cpuSeconds();
    baselineDump(zPath, out);
    std::fflush(out);
    double t1 = cpuSeconds();
    shellDump(zPath, out);
    double t2 = cpuSeconds();
    aBase.push_back(t1 - t0);
    aDump.push_back(t2 - t1);
  }
  std::fclose(out);
  std::remove(zPath);
  double base = median(aBase);
  double dump = median(aDump);
  std::printf(".dump of %d rows: %.3f s, baseline %.3f s, ratio %.2f (target 1.5)\n", nRows, dump,
              base, dump / base);
  return 0;
}
