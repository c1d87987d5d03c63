// Speed of SHA-3 hashing: the hasher alone, sha3() on a large blob and sha3_query() over a
// table of blobs, each over the same amount of data (1 GiB by default), next to OpenSSL's
// EVP SHA3-256 over the same bytes where OpenSSL is available.  A last run hashes a table of
// small mixed values with sha3_query() against a bare loop that steps the same SELECT and
// reads every value, which shows the cost per value of the byte stream.  Prints the median
// processor time of several runs, MB/s and the ratios.
//
//   bench_sha3 [MiB] [runs]
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "BenchCommon.h"
#include "ext/sha3/Sha3.h"

#ifdef SQLSH_BENCH_OPENSSL
#include <openssl/evp.h>
#endif

namespace {

using bench::cpuSeconds;
using bench::median;

constexpr size_t kChunkBytes = 64u << 20;  // the buffer, the blob and the table: 64 MiB
constexpr int kBlobRowBytes = 4000;
constexpr int kMixedRows = 1000000;

struct Timing {
  double seconds;
  double megabytes;
};

template <typename F>
Timing timeRuns(int nRuns, double megabytes, F&& run) {
  std::vector<double> a;
  for (int i = 0; i < nRuns; ++i) {
    const double t0 = cpuSeconds();
    run();
    a.push_back(cpuSeconds() - t0);
  }
  return {median(a), megabytes};
}

void report(const char* zWhat, const Timing& t, const Timing* pBase) {
  std::printf("%-34s %8.3f s  %8.1f MB/s", zWhat, t.seconds, t.megabytes / t.seconds);
  if (pBase) std::printf("  x%.2f of %s", t.seconds / pBase->seconds, "OpenSSL");
  std::printf("\n");
}

// Steps zSql (one row, one column) nRepeat times; a failure ends the benchmark.
void stepRepeatedly(sqlite3* db, const char* zSql, int nRepeat, const void* pBlob, size_t nBlob) {
  sqlite3_stmt* pStmt = nullptr;
  if (sqlite3_prepare_v2(db, zSql, -1, &pStmt, nullptr) != SQLITE_OK) {
    std::fprintf(stderr, "prepare failed: %s\n", sqlite3_errmsg(db));
    std::exit(1);
  }
  if (pBlob) sqlite3_bind_blob64(pStmt, 1, pBlob, nBlob, SQLITE_STATIC);
  for (int i = 0; i < nRepeat; ++i) {
    if (sqlite3_step(pStmt) != SQLITE_ROW || sqlite3_column_bytes(pStmt, 0) == 0) {
      std::fprintf(stderr, "%s failed: %s\n", zSql, sqlite3_errmsg(db));
      std::exit(1);
    }
    sqlite3_reset(pStmt);
  }
  sqlite3_finalize(pStmt);
}

}  // namespace

int main(int argc, char** argv) {
  const int nMiB = argc > 1 ? std::atoi(argv[1]) : 1024;
  const int nRuns = argc > 2 ? std::atoi(argv[2]) : 3;
  const int nRepeat = std::max(1, nMiB / 64);
  const double megabytes = static_cast<double>(kChunkBytes) * nRepeat / 1e6;

  std::vector<unsigned char> aBuf(kChunkBytes);
  for (size_t i = 0; i < aBuf.size(); ++i)
    aBuf[i] = static_cast<unsigned char>(i * 2654435761u >> 13);

  sqlite3* db = nullptr;
  if (sqlite3_open(":memory:", &db) != SQLITE_OK || sha3Register(db) != SQLITE_OK) return 1;
  const int nBlobRows = static_cast<int>(kChunkBytes / kBlobRowBytes);
  char zValues[64];
  std::snprintf(zValues, sizeof(zValues), "randomblob(%d)", kBlobRowBytes);
  // fillTable fills a table named t: build the blob table under that name first.
  if (!bench::buildTable(db, "CREATE TABLE t(v BLOB);", zValues, nBlobRows) ||
      sqlite3_exec(db, "ALTER TABLE t RENAME TO b", nullptr, nullptr, nullptr) != SQLITE_OK) {
    return 1;
  }
  if (!bench::buildTable(db, "CREATE TABLE t(i INTEGER, f REAL, s TEXT, n);",
                         "x * 7919 - 500000, x * 0.37, 'customer ' || x,"
                         " CASE WHEN x % 3 = 0 THEN NULL ELSE x END",
                         kMixedRows)) {
    return 1;
  }
  const double blobTableMB = static_cast<double>(nBlobRows) * kBlobRowBytes * nRepeat / 1e6;

  std::printf("SHA3-256 over %.0f MB, median of %d runs (processor time)\n", megabytes, nRuns);
  Timing openssl{0, 0};
  const Timing* pBase = nullptr;
#ifdef SQLSH_BENCH_OPENSSL
  openssl = timeRuns(nRuns, megabytes, [&] {
    EVP_MD_CTX* pCtx = EVP_MD_CTX_new();
    EVP_DigestInit_ex(pCtx, EVP_sha3_256(), nullptr);
    for (int i = 0; i < nRepeat; ++i) EVP_DigestUpdate(pCtx, aBuf.data(), aBuf.size());
    unsigned char aDigest[32];
    unsigned nDigest = 0;
    EVP_DigestFinal_ex(pCtx, aDigest, &nDigest);
    EVP_MD_CTX_free(pCtx);
  });
  pBase = &openssl;
  report("OpenSSL EVP SHA3-256", openssl, nullptr);
#endif
  const Timing hasher = timeRuns(nRuns, megabytes, [&] {
    Sha3Hasher h;
    sha3Begin(&h, 256);
    for (int i = 0; i < nRepeat; ++i) sha3Absorb(&h, aBuf.data(), aBuf.size());
    sha3Finish(&h);
  });
  report("sha3Absorb", hasher, pBase);
  const Timing blob = timeRuns(nRuns, megabytes, [&] {
    stepRepeatedly(db, "SELECT sha3(?1)", nRepeat, aBuf.data(), aBuf.size());
  });
  report("sha3() of a 64 MiB blob", blob, pBase);
  const Timing query = timeRuns(nRuns, blobTableMB, [&] {
    stepRepeatedly(db, "SELECT sha3_query('SELECT v FROM b')", nRepeat, nullptr, 0);
  });
  report("sha3_query() over 4000-byte blobs", query, pBase);

  // Small values: the stream's framing per value against merely reading the values.
  const Timing bare = timeRuns(nRuns, 0, [&] {
    sqlite3_stmt* pStmt = nullptr;
    sqlite3_prepare_v2(db, "SELECT i, f, s, n FROM t", -1, &pStmt, nullptr);
    long long nSum = 0;
    while (sqlite3_step(pStmt) == SQLITE_ROW) {
      nSum +=
          sqlite3_column_int64(pStmt, 0) + static_cast<long long>(sqlite3_column_double(pStmt, 1));
      nSum += sqlite3_column_bytes(pStmt, 2) + sqlite3_column_type(pStmt, 3);
    }
    sqlite3_finalize(pStmt);
    if (nSum == 42) std::printf(" ");
  });
  const Timing mixed = timeRuns(nRuns, 0, [&] {
    stepRepeatedly(db, "SELECT sha3_query('SELECT i, f, s, n FROM t')", 1, nullptr, 0);
  });
  std::printf("%d mixed rows: bare loop %.3f s, sha3_query %.3f s (x%.2f)\n", kMixedRows,
              bare.seconds, mixed.seconds, mixed.seconds / bare.seconds);
  sqlite3_close(db);
  return 0;
}
