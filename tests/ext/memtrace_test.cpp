// Memory tracing. The tracing allocator can only be installed while the engine is not
// initialised, so every test shuts the engine down first; the layer stays installed for the
// rest of this process and each test only points it at a fresh stream.

#include "ext/memtrace/Memtrace.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct FileCloser {
  void operator()(FILE* p) const { std::fclose(p); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

struct DbCloser {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
using DbPtr = std::unique_ptr<sqlite3, DbCloser>;

std::string readAll(FILE* pFile) {
  std::fflush(pFile);
  std::rewind(pFile);
  std::string zText;
  char aBuf[4096];
  std::size_t n = 0;
  while ((n = std::fread(aBuf, 1, sizeof(aBuf), pFile)) > 0) zText.append(aBuf, n);
  return zText;
}

// The traced lines summed up: every line must be one of the three forms.
struct Ledger {
  std::int64_t nAllocated = 0;
  std::int64_t nFreed = 0;
  int nAllocLines = 0;
  int nFreeLines = 0;
  int nResizeLines = 0;
  std::vector<std::string> azStray;
  std::int64_t net() const { return nAllocated - nFreed; }
};

// Matches a whole line against a format of "%lld" conversions; true when all of it matched.
template <typename... Values>
bool scanLine(const std::string& zLine, const char* zFormat, Values*... apValue) {
  int nUsed = -1;
  std::string zFull = zFormat;
  zFull += "%n";
  const int nFields = std::sscanf(zLine.c_str(), zFull.c_str(), apValue..., &nUsed);
  return nFields == static_cast<int>(sizeof...(Values)) && nUsed == static_cast<int>(zLine.size());
}

Ledger tally(const std::string& zTrace) {
  Ledger ledger;
  std::istringstream in(zTrace);
  std::string zLine;
  long long n1 = 0;
  long long n2 = 0;
  while (std::getline(in, zLine)) {
    if (scanLine(zLine, "MEMTRACE: allocate %lld bytes", &n1)) {
      ledger.nAllocated += n1;
      ++ledger.nAllocLines;
    } else if (scanLine(zLine, "MEMTRACE: free %lld bytes", &n1)) {
      ledger.nFreed += n1;
      ++ledger.nFreeLines;
    } else if (scanLine(zLine, "MEMTRACE: resize %lld -> %lld bytes", &n1, &n2)) {
      ledger.nFreed += n1;
      ledger.nAllocated += n2;
      ++ledger.nResizeLines;
    } else {
      ledger.azStray.push_back(zLine);
    }
  }
  if (!zTrace.empty() && zTrace.back() != '\n') ledger.azStray.emplace_back("<no final newline>");
  return ledger;
}

class MemtraceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pTrace.reset(std::tmpfile());
    ASSERT_NE(pTrace, nullptr);
    ASSERT_EQ(sqlite3_shutdown(), SQLITE_OK);
    ASSERT_EQ(memtraceStart(pTrace.get()), SQLITE_OK);
  }
  void TearDown() override {
    memtraceStart(nullptr);
    sqlite3_initialize();
  }

  static void exec(sqlite3* db, const char* zSql) {
    ASSERT_EQ(sqlite3_exec(db, zSql, nullptr, nullptr, nullptr), SQLITE_OK) << zSql;
  }

  FilePtr pTrace;
};

TEST_F(MemtraceTest, AllocationsAndReleasesBalanceToWhatTheEngineHasInUse) {
  const std::int64_t nUsedBefore = sqlite3_memory_used();
  ASSERT_EQ(sqlite3_initialize(), SQLITE_OK);
  {
    sqlite3* pDb = nullptr;
    ASSERT_EQ(sqlite3_open(":memory:", &pDb), SQLITE_OK);
    DbPtr db(pDb);
    sqlite3* pDb2 = nullptr;
    ASSERT_EQ(sqlite3_open(":memory:", &pDb2), SQLITE_OK);
    DbPtr db2(pDb2);
    exec(db.get(),
         "CREATE TABLE t(a, b); "
         "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<2000) "
         "INSERT INTO t SELECT i, randomblob(i % 700) FROM n; "
         "CREATE INDEX tb ON t(b); SELECT group_concat(a) FROM t;");
    exec(db2.get(), "CREATE TABLE u(x); INSERT INTO u VALUES(zeroblob(100000));");
    char* zText = sqlite3_mprintf("%s-%d", "grow", 1);
    for (int i = 0; i < 20; ++i) zText = sqlite3_mprintf("%z%s", zText, "0123456789abcdef");
    sqlite3_free(zText);
  }
  // Both connections are closed; what the engine still holds is its own caches.
  std::string zTrace = readAll(pTrace.get());
  Ledger ledger = tally(zTrace);
  EXPECT_TRUE(ledger.azStray.empty()) << ledger.azStray.front();
  EXPECT_GT(ledger.nAllocLines, 100);
  EXPECT_GT(ledger.nFreeLines, 100);
  EXPECT_GT(ledger.nResizeLines, 0);
  EXPECT_EQ(ledger.net(), sqlite3_memory_used() - nUsedBefore);

  // After shutdown everything the engine allocated has been released.
  ASSERT_EQ(sqlite3_shutdown(), SQLITE_OK);
  zTrace = readAll(pTrace.get());
  ledger = tally(zTrace);
  EXPECT_TRUE(ledger.azStray.empty());
  EXPECT_EQ(ledger.net(), sqlite3_memory_used() - nUsedBefore);
  EXPECT_EQ(ledger.net(), 0);
}

// The layer's own methods, fetched back from the engine while it is shut down.
TEST_F(MemtraceTest, LinesForEachOperation) {
  sqlite3_mem_methods methods{};
  ASSERT_EQ(sqlite3_config(SQLITE_CONFIG_GETMALLOC, &methods), SQLITE_OK);
  ASSERT_NE(methods.xMalloc, nullptr);
  EXPECT_EQ(methods.pAppData, nullptr);

  methods.xFree(nullptr);
  EXPECT_EQ(readAll(pTrace.get()), "") << "freeing a null pointer prints nothing";

  void* p = methods.xMalloc(13);
  ASSERT_NE(p, nullptr);
  // Called directly the request is not rounded first, as the engine would: the line shows the
  // rounded request and later lines the size the allocator reports.
  const int nSize = methods.xSize(p);
  EXPECT_GE(nSize, 13);
  p = methods.xRealloc(p, 1001);
  ASSERT_NE(p, nullptr);
  const int nNewSize = methods.xSize(p);
  EXPECT_EQ(methods.xRealloc(p, 0), nullptr);  // a release
  void* q = methods.xRealloc(nullptr, 7);      // an allocation
  ASSERT_NE(q, nullptr);
  const int nQ = methods.xSize(q);
  methods.xFree(q);

  const std::string zExpect =
      "MEMTRACE: allocate " + std::to_string(methods.xRoundup(13)) + " bytes\n" +  //
      "MEMTRACE: resize " + std::to_string(nSize) + " -> " +                       //
      std::to_string(methods.xRoundup(1001)) + " bytes\n" +                        //
      "MEMTRACE: free " + std::to_string(nNewSize) + " bytes\n" +                  //
      "MEMTRACE: allocate " + std::to_string(methods.xRoundup(7)) + " bytes\n" +   //
      "MEMTRACE: free " + std::to_string(nQ) + " bytes\n";
  EXPECT_EQ(readAll(pTrace.get()), zExpect);
}

TEST_F(MemtraceTest, ASecondStartOnlyRedirectsAndANullStreamSilences) {
  FilePtr pOther(std::tmpfile());
  ASSERT_NE(pOther, nullptr);
  EXPECT_EQ(memtraceStart(pOther.get()), SQLITE_OK);
  ASSERT_EQ(sqlite3_initialize(), SQLITE_OK);
  sqlite3_free(sqlite3_malloc(40));
  EXPECT_EQ(readAll(pTrace.get()), "");
  const std::string zOther = readAll(pOther.get());
  EXPECT_NE(zOther.find("MEMTRACE: allocate 40 bytes\nMEMTRACE: free 40 bytes\n"),
            std::string::npos)
      << zOther;

  memtraceStart(nullptr);  // after initialisation: only the stream changes
  sqlite3_free(sqlite3_malloc(40));
  EXPECT_EQ(readAll(pOther.get()), zOther);
}

}  // namespace
