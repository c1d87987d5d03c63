// Speed of the fsdir table against a bare directory walk.
//
// Generates a tree of small files (100 directories of 1,000 files by default) in a temporary
// directory, then walks it with SELECT name, mode, mtime FROM fsdir(...) stepped through the
// engine's C interface, and next to it the baseline: nftw without following links, which
// lstats every entry, with a callback that reads the same three values.  Prints the median
// processor time of several runs of both and their ratio.  The tree is removed at the end.
//
//   bench_fsdir [files] [runs]
#include <fcntl.h>
#include <ftw.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "BenchCommon.h"
#include "ext/fileio/Fileio.h"

namespace {

using bench::cpuSeconds;
using bench::median;

constexpr int nFilesPerDir = 1000;

// What each walk reads from every entry, summed so that nothing is optimised away.
struct Tally {
  long nEntries = 0;
  long long nNameBytes = 0;
  long long iModeSum = 0;
  long long iMtimeSum = 0;
};

Tally nftwTally;

int nftwVisit(const char* zPath, const struct stat* pStat, int /*eFlag*/, FTW* /*pFtw*/) {
  nftwTally.nEntries++;
  nftwTally.nNameBytes += static_cast<long long>(std::strlen(zPath));
  nftwTally.iModeSum += pStat->st_mode;
  nftwTally.iMtimeSum += pStat->st_mtime;
  return 0;
}

int removeVisit(const char* zPath, const struct stat* /*pStat*/, int eFlag, FTW* /*pFtw*/) {
  return eFlag == FTW_DP ? ::rmdir(zPath) : ::unlink(zPath);
}

bool buildTree(const std::string& zRoot, int nFiles) {
  for (int i = 0; i < nFiles; ++i) {
    std::string zDir = zRoot + "/d" + std::to_string(i / nFilesPerDir);
    if (i % nFilesPerDir == 0 && ::mkdir(zDir.c_str(), 0755) != 0) return false;
    std::string zFile = zDir + "/file" + std::to_string(i);
    int fd = ::open(zFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    bool bOk = ::write(fd, "x", 1) == 1;
    ::close(fd);
    if (!bOk) return false;
  }
  return true;
}

Tally walkWithFsdir(sqlite3* db, const std::string& zRoot) {
  Tally t;
  sqlite3_stmt* pStmt = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT name, mode, mtime FROM fsdir(?1)", -1, &pStmt, nullptr) !=
      SQLITE_OK) {
    std::fprintf(stderr, "prepare failed: %s\n", sqlite3_errmsg(db));
    std::exit(1);
  }
  sqlite3_bind_text(pStmt, 1, zRoot.c_str(), -1, SQLITE_STATIC);
  while (sqlite3_step(pStmt) == SQLITE_ROW) {
    t.nEntries++;
    t.nNameBytes += sqlite3_column_bytes(pStmt, 0);
    t.iModeSum += sqlite3_column_int64(pStmt, 1);
    t.iMtimeSum += sqlite3_column_int64(pStmt, 2);
  }
  if (sqlite3_finalize(pStmt) != SQLITE_OK) {
    std::fprintf(stderr, "fsdir failed: %s\n", sqlite3_errmsg(db));
    std::exit(1);
  }
  return t;
}

}  // namespace

int main(int argc, char** argv) {
  const int nFiles = argc > 1 ? std::atoi(argv[1]) : 100000;
  const int nRuns = argc > 2 ? std::atoi(argv[2]) : 5;
  const char* zTmp = std::getenv("TMPDIR");
  std::string zTemplate = std::string(zTmp && *zTmp ? zTmp : "/tmp") + "/bench_fsdir.XXXXXX";
  if (!::mkdtemp(zTemplate.data())) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::string zRoot = zTemplate;
  std::printf("building %d files below %s\n", nFiles, zRoot.c_str());
  if (!buildTree(zRoot, nFiles)) {
    std::perror("building the tree");
    ::nftw(zRoot.c_str(), removeVisit, 64, FTW_DEPTH | FTW_PHYS);
    return 1;
  }

  sqlite3* db = nullptr;
  sqlite3_open(":memory:", &db);
  if (fileioRegister(db) != SQLITE_OK) {
    std::fprintf(stderr, "fileioRegister failed: %s\n", sqlite3_errmsg(db));
    return 1;
  }

  // One untimed pass each warms the directory and inode caches.
  Tally fsdirResult = walkWithFsdir(db, zRoot);
  ::nftw(zRoot.c_str(), nftwVisit, 64, FTW_PHYS);

  std::vector<double> aFsdir;
  std::vector<double> aNftw;
  for (int i = 0; i < nRuns; ++i) {
    double t0 = cpuSeconds();
    fsdirResult = walkWithFsdir(db, zRoot);
    aFsdir.push_back(cpuSeconds() - t0);

    nftwTally = Tally{};
    t0 = cpuSeconds();
    ::nftw(zRoot.c_str(), nftwVisit, 64, FTW_PHYS);
    aNftw.push_back(cpuSeconds() - t0);
  }
  sqlite3_close(db);
  ::nftw(zRoot.c_str(), removeVisit, 64, FTW_DEPTH | FTW_PHYS);

  if (fsdirResult.nEntries != nftwTally.nEntries || fsdirResult.iModeSum != nftwTally.iModeSum ||
      fsdirResult.iMtimeSum != nftwTally.iMtimeSum) {
    std::fprintf(stderr, "the walks disagree: fsdir %ld entries, nftw %ld\n", fsdirResult.nEntries,
                 nftwTally.nEntries);
    return 1;
  }
  const double tFsdir = median(aFsdir);
  const double tNftw = median(aNftw);
  std::printf("entries: %ld\n", fsdirResult.nEntries);
  std::printf("fsdir:   %.3f s\n", tFsdir);
  std::printf("nftw:    %.3f s\n", tNftw);
  std::printf("ratio:   %.2f (target 1.5 or less)\n", tNftw > 0 ? tFsdir / tNftw : 0.0);
  return 0;
}
