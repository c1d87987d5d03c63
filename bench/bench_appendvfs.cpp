// The append VFS against the default VFS on the same work: a write-heavy run
// (building a database of about the given size in one transaction) and a
// read-heavy run (full scans of it), once on an ordinary file and once with the
// database appended to a host file (a copy of this benchmark's executable).
// Prints the median wall-clock times and the ratios (target 1.05).
//
//   bench_appendvfs [megabytes] [runs]
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchCommon.h"
#include "ext/appendvfs/AppendVfs.h"

namespace fs = std::filesystem;

namespace {

using bench::median;
using bench::secondsSince;
using Clock = std::chrono::steady_clock;

sqlite3* openDb(const std::string& zPath, const char* zVfs) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(zPath.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, zVfs) !=
      SQLITE_OK) {
    std::fprintf(stderr, "cannot open %s: %s\n", zPath.c_str(), sqlite3_errmsg(db));
    std::exit(1);
  }
  return db;
}

double writeHeavy(const std::string& zPath, const char* zVfs, int nRows) {
  const auto t0 = Clock::now();
  sqlite3* db = openDb(zPath, zVfs);
  bench::buildTable(db, "CREATE TABLE t(i INTEGER PRIMARY KEY, s TEXT, b BLOB);",
                    "x, printf('row %d %.*c', x, 100, 'x'), randomblob(300)", nRows);
  sqlite3_close(db);
  return secondsSince(t0);
}

double readHeavy(const std::string& zPath, const char* zVfs) {
  const auto t0 = Clock::now();
  sqlite3* db = openDb(zPath, zVfs);
  for (int i = 0; i < 3; i++) {
    sqlite3_exec(db, "SELECT sum(length(s)), sum(length(b)) FROM t", nullptr, nullptr, nullptr);
  }
  sqlite3_close(db);
  return secondsSince(t0);
}

}  // namespace

int main(int argc, char** argv) {
  const int nMegabytes = argc > 1 ? std::atoi(argv[1]) : 200;
  const int nRuns = argc > 2 ? std::atoi(argv[2]) : 3;
  const int nRows = nMegabytes * 1024 * 1024 / 450;
  appendVfsRegister();
  char zDir[] = "/tmp/bench_appendvfs_XXXXXX";
  if (mkdtemp(zDir) == nullptr) return 1;
  const std::string zPlain = std::string(zDir) + "/plain.db";
  const std::string zHost = std::string(zDir) + "/host.bin";
  std::vector<double> aWritePlain, aWriteAppend, aReadPlain, aReadAppend;
  for (int r = 0; r < nRuns; r++) {
    fs::remove(zPlain);
    fs::copy_file("/proc/self/exe", zHost, fs::copy_options::overwrite_existing);
    aWritePlain.push_back(writeHeavy(zPlain, nullptr, nRows));
    aWriteAppend.push_back(writeHeavy(zHost, appendVfsName, nRows));
    aReadPlain.push_back(readHeavy(zPlain, nullptr));
    aReadAppend.push_back(readHeavy(zHost, appendVfsName));
  }
  fs::remove_all(zDir);
  std::printf("write-heavy (%d MB): appended %.3f s, plain %.3f s, ratio %.3f (target 1.05)\n",
              nMegabytes, median(aWriteAppend), median(aWritePlain),
              median(aWriteAppend) / median(aWritePlain));
  std::printf("read-heavy:          appended %.3f s, plain %.3f s, ratio %.3f (target 1.05)\n",
              median(aReadAppend), median(aReadPlain), median(aReadAppend) / median(aReadPlain));
  return 0;
}
