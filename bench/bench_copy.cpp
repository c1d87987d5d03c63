// Speed of .backup and .clone against bare loops over the engine's C interface.
//
// Builds a database file of about the given size (one table of mixed rows and
// an index), then copies it, several times each, with
//   - .backup (doBackup, the shell's own code) against a bare loop over the
//     backup interface stepping 100 pages at a time, and
//   - .clone (doClone) against the bare table-by-table copy: the schema
//     statements run on the new file and each table's rows copied with
//     INSERT INTO new.t SELECT * FROM t through ATTACH.
// Prints the median wall-clock times (the copies are mostly file writes) and
// the ratios.
//
//   bench_copy [megabytes] [runs]
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "BenchCommon.h"
#include "shell/commands/Commands.h"
#include "shell/core/ShellContext.h"

namespace {

using bench::median;
using bench::secondsSince;
using Clock = std::chrono::steady_clock;

bool buildDatabase(const std::string& zPath, int nRows) {
  sqlite3* db = nullptr;
  if (sqlite3_open(zPath.c_str(), &db) != SQLITE_OK) return false;
  bool bOk = bench::buildTable(db,
                               "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF;"
                               "CREATE TABLE t(i INTEGER PRIMARY KEY, f REAL, s TEXT, b BLOB);",
                               "  x, x * 0.37, printf('row %d %.*c', x, 150, 'x'), randomblob(200)",
                               nRows) &&
             sqlite3_exec(db, "CREATE INDEX tf ON t(f);", nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_close(db);
  return bOk;
}

void baselineBackup(const std::string& zSrc, const std::string& zDest) {
  sqlite3* dbSrc = nullptr;
  sqlite3* dbDest = nullptr;
  sqlite3_open(zSrc.c_str(), &dbSrc);
  sqlite3_open(zDest.c_str(), &dbDest);
  sqlite3_backup* pBackup = sqlite3_backup_init(dbDest, "main", dbSrc, "main");
  while (sqlite3_backup_step(pBackup, 100) == SQLITE_OK) {
  }
  sqlite3_backup_finish(pBackup);
  sqlite3_close(dbDest);
  sqlite3_close(dbSrc);
}

void baselineClone(const std::string& zSrc, const std::string& zDest) {
  sqlite3* db = nullptr;
  sqlite3_open(zSrc.c_str(), &db);
  sqlite3* dbNew = nullptr;
  sqlite3_open(zDest.c_str(), &dbNew);
  sqlite3_exec(dbNew, "CREATE TABLE t(i INTEGER PRIMARY KEY, f REAL, s TEXT, b BLOB)", nullptr,
               nullptr, nullptr);
  sqlite3_close(dbNew);
  std::string zSql = "ATTACH '" + zDest +
                     "' AS new; BEGIN; INSERT INTO new.t SELECT * FROM t;"
                     "CREATE INDEX new.tf ON t(f); COMMIT; DETACH new;";
  sqlite3_exec(db, zSql.c_str(), nullptr, nullptr, nullptr);
  sqlite3_close(db);
}

ShellContext ctx;

void runShellCommand(const std::string& zSrc, const char* zCommand, const std::string& zDest) {
  ctx.pConn->zFilename = zSrc.c_str();
  std::string zCmd = zCommand;
  std::string zArg = zDest;
  char* azArg[] = {zCmd.data(), zArg.data(), nullptr};
  if (zCmd == "backup") {
    doBackup(&ctx, 2, azArg);
  } else {
    doClone(&ctx, 2, azArg);
  }
  sqlite3_close(ctx.db);
  ctx.db = nullptr;
}

void removeDatabase(const std::string& zPath) {
  for (const char* zSuffix : {"", "-journal", "-wal"}) std::remove((zPath + zSuffix).c_str());
}

}  // namespace

int main(int argc, char** argv) {
  const int nMegabytes = argc > 1 ? std::atoi(argv[1]) : 500;
  const int nRuns = argc > 2 ? std::atoi(argv[2]) : 3;
  initShellContext(&ctx);
  char zDir[] = "/tmp/bench_copy_XXXXXX";
  if (mkdtemp(zDir) == nullptr) return 1;
  const std::string zSrc = std::string(zDir) + "/src.db";
  const std::string zDest = std::string(zDir) + "/dest.db";
  const int nRows = nMegabytes * 1024 * 1024 / 430;
  std::printf("building a database of about %d MB (%d rows)...\n", nMegabytes, nRows);
  if (!buildDatabase(zSrc, nRows)) {
    std::fprintf(stderr, "cannot build the database\n");
    return 1;
  }
  // .clone writes a line per schema entry on standard output.
  FILE* pNull = std::freopen("/dev/null", "w", stdout);
  (void)pNull;
  std::vector<double> aBackup, aBackupBase, aClone, aCloneBase;
  for (int r = 0; r < nRuns; r++) {
    auto t0 = Clock::now();
    baselineBackup(zSrc, zDest);
    aBackupBase.push_back(secondsSince(t0));
    removeDatabase(zDest);
    t0 = Clock::now();
    runShellCommand(zSrc, "backup", zDest);
    aBackup.push_back(secondsSince(t0));
    removeDatabase(zDest);
    t0 = Clock::now();
    baselineClone(zSrc, zDest);
    aCloneBase.push_back(secondsSince(t0));
    removeDatabase(zDest);
    t0 = Clock::now();
    runShellCommand(zSrc, "clone", zDest);
    aClone.push_back(secondsSince(t0));
    removeDatabase(zDest);
  }
  removeDatabase(zSrc);
  rmdir(zDir);
  std::fprintf(stderr, ".backup: %.3f s, bare backup loop %.3f s, ratio %.2f (target 1.1)\n",
               median(aBackup), median(aBackupBase), median(aBackup) / median(aBackupBase));
  std::fprintf(stderr, ".clone:  %.3f s, bare INSERT ... SELECT %.3f s, ratio %.2f (target 1.1)\n",
               median(aClone), median(aCloneBase), median(aClone) / median(aCloneBase));
  return 0;
}
