// The append VFS against an independent oracle: the host's bytes are compared with a copy taken
// before, the mark is decoded by hand, and the database image cut out of the host file is opened
// with the default VFS and checked by the engine itself.

#include "ext/appendvfs/AppendVfs.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

struct DbCloser {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
using DbPtr = std::unique_ptr<sqlite3, DbCloser>;

Bytes readBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeBytes(const fs::path& path, const Bytes& aData) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(aData.data()),
            static_cast<std::streamsize>(aData.size()));
}

// Bytes that look like no database and no mark.
Bytes hostBytes(std::size_t nSize) {
  Bytes aData(nSize);
  std::uint32_t x = 2463534242u;
  for (auto& b : aData) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    b = static_cast<unsigned char>(x);
  }
  return aData;
}

std::int64_t roundUp(std::int64_t n, std::int64_t m) {
  return (n + m - 1) / m * m;
}

// The mark as the file layout describes it, decoded without the code under test.
struct Mark {
  bool bPrefixOk = false;
  std::uint64_t iStart = 0;
};
Mark decodeTail(const Bytes& aFile) {
  Mark mark;
  if (aFile.size() < 25) return mark;
  const unsigned char* aTail = aFile.data() + aFile.size() - 25;
  mark.bPrefixOk = std::string(reinterpret_cast<const char*>(aTail), 17) == "Start-Of-SQLite3-";
  for (int i = 17; i < 25; ++i) mark.iStart = mark.iStart * 256 + aTail[i];
  return mark;
}

class AppendVfsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_EQ(appendVfsRegister(), SQLITE_OK_LOAD_PERMANENTLY); }

  void SetUp() override {
    std::string zTemplate = (fs::temp_directory_path() / "apndvfs_test_XXXXXX").string();
    ASSERT_NE(mkdtemp(zTemplate.data()), nullptr);
    dir = zTemplate;
  }
  void TearDown() override { fs::remove_all(dir); }

  static int openAppended(const fs::path& path, DbPtr& db, int flags) {
    sqlite3* pDb = nullptr;
    const int rc = sqlite3_open_v2(path.c_str(), &pDb, flags, appendVfsName);
    db.reset(pDb);
    return rc;
  }
  static DbPtr openAppended(const fs::path& path) {
    DbPtr db;
    EXPECT_EQ(openAppended(path, db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE), SQLITE_OK);
    return db;
  }

  static void exec(sqlite3* db, const std::string& zSql) {
    char* zErr = nullptr;
    const int rc = sqlite3_exec(db, zSql.c_str(), nullptr, nullptr, &zErr);
    EXPECT_EQ(rc, SQLITE_OK) << zSql << ": " << (zErr ? zErr : "");
    sqlite3_free(zErr);
  }

  static std::string queryText(sqlite3* db, const std::string& zSql) {
    sqlite3_stmt* pStmt = nullptr;
    std::string zResult = "<error>";
    if (sqlite3_prepare_v2(db, zSql.c_str(), -1, &pStmt, nullptr) == SQLITE_OK) {
      zResult = "<no row>";
      if (sqlite3_step(pStmt) == SQLITE_ROW) {
        const unsigned char* z = sqlite3_column_text(pStmt, 0);
        zResult = z ? reinterpret_cast<const char*>(z) : "<null>";
      }
    }
    sqlite3_finalize(pStmt);
    return zResult;
  }

  static std::string vfsName(sqlite3* db) {
    char* zName = nullptr;
    if (sqlite3_file_control(db, "main", SQLITE_FCNTL_VFSNAME, &zName) != SQLITE_OK || !zName) {
      return "<none>";
    }
    std::string zResult = zName;
    sqlite3_free(zName);
    return zResult;
  }

  static void fillTable(sqlite3* db, int nRows) {
    exec(db, "CREATE TABLE t(a INTEGER PRIMARY KEY, b TEXT, c BLOB)");
    exec(db, "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<" +
                 std::to_string(nRows) +
                 ") INSERT INTO t SELECT i, printf('row %d', i), zeroblob(i % 300) FROM n");
  }

  // Checks a closed appended file against the host it was made from: the host's bytes are
  // untouched, the mark names the expected start and ends the file, and the image between
  // is a sound database when opened alone with the default VFS.
  void checkAppendedFile(const fs::path& path, const Bytes& aHost, std::int64_t iExpectStart,
                         const std::string& zExpectCount) {
    const Bytes aFile = readBytes(path);
    ASSERT_GE(aFile.size(), aHost.size() + 25);
    EXPECT_TRUE(std::equal(aHost.begin(), aHost.end(), aFile.begin())) << "host bytes changed";
    const Mark mark = decodeTail(aFile);
    ASSERT_TRUE(mark.bPrefixOk);
    EXPECT_EQ(static_cast<std::int64_t>(mark.iStart), iExpectStart);
    const std::int64_t nDb = static_cast<std::int64_t>(aFile.size()) - 25 - iExpectStart;
    ASSERT_GT(nDb, 0);
    EXPECT_EQ(nDb % 512, 0);
    const Bytes aImage(aFile.begin() + iExpectStart, aFile.end() - 25);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(aImage.data()), 16),
              std::string("SQLite format 3\0", 16));
    const fs::path imagePath = dir / "image.db";
    writeBytes(imagePath, aImage);
    {
      sqlite3* pDb = nullptr;
      ASSERT_EQ(sqlite3_open_v2(imagePath.c_str(), &pDb, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
      DbPtr image(pDb);
      EXPECT_EQ(queryText(image.get(), "PRAGMA integrity_check"), "ok");
      EXPECT_EQ(queryText(image.get(), "SELECT count(*) FROM t"), zExpectCount);
    }
    fs::remove(imagePath);
  }

  fs::path dir;
};

TEST_F(AppendVfsTest, RegistersAsNonDefaultOnce) {
  sqlite3_vfs* pVfs = sqlite3_vfs_find(appendVfsName);
  ASSERT_NE(pVfs, nullptr);
  EXPECT_NE(sqlite3_vfs_find(nullptr), pVfs);
  EXPECT_EQ(pVfs->pAppData, sqlite3_vfs_find(nullptr));
  EXPECT_EQ(pVfs->szOsFile, sqlite3_vfs_find(nullptr)->szOsFile + 24);
  EXPECT_EQ(pVfs->mxPathname, 1024);
  EXPECT_EQ(appendVfsRegister(nullptr, nullptr), SQLITE_OK_LOAD_PERMANENTLY);
  EXPECT_EQ(sqlite3_vfs_find(appendVfsName), pVfs);
  EXPECT_NE(sqlite3_vfs_find(nullptr), pVfs);
}

TEST_F(AppendVfsTest, DatabaseAppendedToARealBinaryLeavesTheBinaryIntact) {
  const fs::path host = dir / "ls";
  fs::copy_file("/bin/ls", host);
  const Bytes aHost = readBytes(host);
  ASSERT_FALSE(aHost.empty());
  const std::int64_t iStart = roundUp(static_cast<std::int64_t>(aHost.size()), 4096);
  {
    DbPtr db = openAppended(host);
    fillTable(db.get(), 2000);
  }
  checkAppendedFile(host, aHost, iStart, "2000");

  // Reopened, with and without the create flag, the same database is found and can grow.
  for (const int flags : {SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, SQLITE_OPEN_READWRITE}) {
    DbPtr db;
    ASSERT_EQ(openAppended(host, db, flags), SQLITE_OK);
    EXPECT_EQ(queryText(db.get(), "PRAGMA integrity_check"), "ok");
    EXPECT_EQ(queryText(db.get(), "SELECT b FROM t WHERE a=1234"), "row 1234");
    exec(db.get(), "INSERT INTO t VALUES(NULL, 'more', zeroblob(5000))");
  }
  checkAppendedFile(host, aHost, iStart, "2002");
}

TEST_F(AppendVfsTest, AwkwardHostSizes) {
  struct Case {
    std::size_t nHost;
    std::int64_t iStart;
  };
  const Case aCases[] = {
      {0, 0},        // empty: the database starts at once
      {10, 4096},    // shorter than a mark
      {25, 4096},    // exactly the size of a mark
      {537, 4096},   // the smallest size a mark can be valid for
      {4095, 4096},  // one byte short of a page boundary
      {4096, 4096},  // on a boundary
      {4097, 8192},  // one byte past a page boundary
      {10000, 12288},
  };
  for (const Case& c : aCases) {
    SCOPED_TRACE("host of " + std::to_string(c.nHost) + " bytes");
    const fs::path host = dir / ("host" + std::to_string(c.nHost));
    const Bytes aHost = hostBytes(c.nHost);
    writeBytes(host, aHost);
    {
      DbPtr db = openAppended(host);
      fillTable(db.get(), 50);
    }
    checkAppendedFile(host, aHost, c.iStart, "50");
    DbPtr db;
    ASSERT_EQ(openAppended(host, db, SQLITE_OPEN_READWRITE), SQLITE_OK);
    EXPECT_EQ(queryText(db.get(), "PRAGMA integrity_check"), "ok");
    EXPECT_EQ(vfsName(db.get()),
              "apnd(" + std::to_string(c.iStart) + ")/" + sqlite3_vfs_find(nullptr)->zName);
  }
}

TEST_F(AppendVfsTest, AHostWithAMarkShapeButNoDatabaseIsLeftAlone) {
  // A host that is exactly a well-formed mark is no appended database.
  Bytes aMarkOnly(25);
  appendBuildMark(0, aMarkOnly.data());
  const fs::path markOnly = dir / "markonly";
  writeBytes(markOnly, aMarkOnly);
  DbPtr db;
  EXPECT_EQ(openAppended(markOnly, db, SQLITE_OPEN_READWRITE), SQLITE_CANTOPEN);

  // A host whose tail is a plausible mark naming bytes that are no database opens, but the
  // engine refuses it and nothing is written.
  Bytes aFakeTail = hostBytes(537);
  appendBuildMark(0, aFakeTail.data() + 512);
  const fs::path fakeTail = dir / "faketail";
  writeBytes(fakeTail, aFakeTail);
  ASSERT_EQ(openAppended(fakeTail, db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db.get(), "CREATE TABLE x(y)", nullptr, nullptr, nullptr), SQLITE_NOTADB);
  db.reset();
  EXPECT_EQ(readBytes(fakeTail), aFakeTail);
}

TEST_F(AppendVfsTest, DamagedOrTruncatedMarkIsNotTakenForAnAppendedDatabase) {
  const fs::path original = dir / "original";
  const Bytes aHost = hostBytes(5000);
  writeBytes(original, aHost);
  {
    DbPtr db = openAppended(original);
    fillTable(db.get(), 100);
  }
  const Bytes aGood = readBytes(original);
  const std::size_t nGood = aGood.size();

  struct Damage {
    const char* zName;
    Bytes aFile;
  };
  std::vector<Damage> aDamage;
  aDamage.push_back({"prefix byte changed", aGood});
  aDamage.back().aFile[nGood - 25] ^= 0x20;
  aDamage.push_back({"last byte cut off", Bytes(aGood.begin(), aGood.end() - 1)});
  aDamage.push_back({"whole mark cut off", Bytes(aGood.begin(), aGood.end() - 25)});
  aDamage.push_back({"one byte appended", aGood});
  aDamage.back().aFile.push_back(0);
  aDamage.push_back({"start not a multiple of 512", aGood});
  aDamage.back().aFile[nGood - 2] ^= 0x01;
  aDamage.push_back({"start beyond the file", aGood});
  aDamage.back().aFile[nGood - 6] = 0x7f;
  aDamage.push_back({"start at the mark itself", aGood});
  {
    Bytes& aFile = aDamage.back().aFile;
    appendBuildMark(static_cast<std::int64_t>(nGood - 25) / 512 * 512, aFile.data() + nGood - 25);
  }
  aDamage.push_back({"start does not point at a database header", aGood});
  {
    Bytes& aFile = aDamage.back().aFile;
    appendBuildMark(0, aFile.data() + nGood - 25);
  }

  for (const Damage& d : aDamage) {
    SCOPED_TRACE(d.zName);
    const fs::path path = dir / "damaged";
    writeBytes(path, d.aFile);
    DbPtr db;
    const int rc = openAppended(path, db, SQLITE_OPEN_READWRITE);
    if (rc == SQLITE_OK) {
      // Only a mark whose start is plausible opens; what it finds must not be the old table.
      EXPECT_STREQ(d.zName, "start does not point at a database header");
      EXPECT_NE(queryText(db.get(), "SELECT count(*) FROM t"), "100");
    } else {
      EXPECT_EQ(rc, SQLITE_CANTOPEN);
    }
    db.reset();
    // Opening with the create flag and only reading writes nothing.
    ASSERT_EQ(openAppended(path, db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE), SQLITE_OK);
    queryText(db.get(), "SELECT count(*) FROM sqlite_schema");
    db.reset();
    EXPECT_EQ(readBytes(path), d.aFile);
  }
  // The untouched file still opens.
  DbPtr db;
  ASSERT_EQ(openAppended(original, db, SQLITE_OPEN_READWRITE), SQLITE_OK);
  EXPECT_EQ(queryText(db.get(), "SELECT count(*) FROM t"), "100");
}

TEST_F(AppendVfsTest, OrdinaryDatabaseIsServedAsIfTheShimWereAbsent) {
  const fs::path path = dir / "plain.db";
  {
    sqlite3* pDb = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &pDb), SQLITE_OK);
    DbPtr db(pDb);
    fillTable(db.get(), 300);
  }
  const Bytes aBefore = readBytes(path);
  {
    DbPtr db = openAppended(path);
    EXPECT_EQ(queryText(db.get(), "SELECT count(*) FROM t"), "300");
    EXPECT_EQ(vfsName(db.get()), sqlite3_vfs_find(nullptr)->zName);
  }
  EXPECT_EQ(readBytes(path), aBefore);
  {
    DbPtr db = openAppended(path);
    exec(db.get(), "INSERT INTO t VALUES(NULL, 'x', NULL)");
  }
  const Bytes aAfter = readBytes(path);
  EXPECT_EQ(aAfter.size() % 512, 0u);
  EXPECT_FALSE(decodeTail(aAfter).bPrefixOk);
}

TEST_F(AppendVfsTest, NonDatabaseWithoutCreateFlagCannotOpen) {
  const fs::path host = dir / "text";
  const Bytes aHost = hostBytes(10000);
  writeBytes(host, aHost);
  DbPtr db;
  EXPECT_EQ(openAppended(host, db, SQLITE_OPEN_READWRITE), SQLITE_CANTOPEN);
  db.reset();
  EXPECT_EQ(readBytes(host), aHost);
}

TEST_F(AppendVfsTest, ShrinkingTheDatabaseMovesTheMarkAndKeepsTheHost) {
  const fs::path host = dir / "host";
  const Bytes aHost = hostBytes(10000);
  writeBytes(host, aHost);
  std::uintmax_t nBigSize = 0;
  {
    DbPtr db = openAppended(host);
    fillTable(db.get(), 3000);
    db.reset();
    nBigSize = fs::file_size(host);
    db = openAppended(host);
    exec(db.get(), "DELETE FROM t WHERE a > 10; VACUUM;");
    EXPECT_EQ(queryText(db.get(), "PRAGMA integrity_check"), "ok");
  }
  EXPECT_LT(fs::file_size(host), nBigSize);
  checkAppendedFile(host, aHost, 12288, "10");
  // And again down to an empty database.
  {
    DbPtr db = openAppended(host);
    exec(db.get(), "DELETE FROM t; VACUUM;");
  }
  checkAppendedFile(host, aHost, 12288, "0");
}

TEST_F(AppendVfsTest, JournalsWalAndMemoryMappingAroundAnAppendedDatabase) {
  const fs::path host = dir / "host";
  const Bytes aHost = hostBytes(7000);
  writeBytes(host, aHost);
  {
    DbPtr db = openAppended(host);
    exec(db.get(), "PRAGMA journal_mode=PERSIST");
    fillTable(db.get(), 500);
    // The journal is an ordinary file of the default VFS: it holds no mark.
    const fs::path journal = dir / "host-journal";
    ASSERT_TRUE(fs::exists(journal));
    EXPECT_FALSE(decodeTail(readBytes(journal)).bPrefixOk);
    exec(db.get(), "PRAGMA journal_mode=DELETE");
  }
  checkAppendedFile(host, aHost, 8192, "500");
  {
    DbPtr db = openAppended(host);
    EXPECT_EQ(queryText(db.get(), "PRAGMA journal_mode=WAL"), "wal");
    exec(db.get(), "INSERT INTO t SELECT NULL, b, c FROM t");
    EXPECT_TRUE(fs::exists(dir / "host-wal"));
    EXPECT_EQ(queryText(db.get(), "PRAGMA integrity_check"), "ok");
    exec(db.get(), "PRAGMA wal_checkpoint(TRUNCATE); PRAGMA journal_mode=DELETE");
  }
  checkAppendedFile(host, aHost, 8192, "1000");
  // Read through memory mapping, the same rows come back.
  const std::string zSummary = "SELECT count(*) || ':' || sum(a) || ':' || sum(length(c)) FROM t";
  std::string zExpect;
  {
    DbPtr db = openAppended(host);
    zExpect = queryText(db.get(), zSummary);
  }
  {
    DbPtr db = openAppended(host);
    exec(db.get(), "PRAGMA mmap_size=268435456");
    EXPECT_EQ(queryText(db.get(), zSummary), zExpect);
    EXPECT_EQ(queryText(db.get(), "PRAGMA integrity_check"), "ok");
  }
}

TEST_F(AppendVfsTest, ChunkSizeCannotPushBytesPastTheMark) {
  const fs::path host = dir / "host";
  const Bytes aHost = hostBytes(3000);
  writeBytes(host, aHost);
  {
    DbPtr db = openAppended(host);
    int nChunk = 1 << 20;
    sqlite3_file_control(db.get(), "main", SQLITE_FCNTL_CHUNK_SIZE, &nChunk);
    fillTable(db.get(), 700);
    exec(db.get(), "DELETE FROM t WHERE a > 300; VACUUM");
  }
  checkAppendedFile(host, aHost, 4096, "300");
}

TEST_F(AppendVfsTest, HostLargerThanFourGigabytes) {
  const fs::path host = dir / "big";
  const Bytes aHead = hostBytes(1000);
  writeBytes(host, aHead);
  const std::int64_t nHost = (std::int64_t{5} << 30) + 123;
  if (truncate(host.c_str(), nHost) != 0) GTEST_SKIP() << "no sparse files here";
  const std::int64_t iStart = roundUp(nHost, 4096);
  {
    DbPtr db = openAppended(host);
    fillTable(db.get(), 100);
    EXPECT_EQ(vfsName(db.get()),
              "apnd(" + std::to_string(iStart) + ")/" + sqlite3_vfs_find(nullptr)->zName);
  }
  const auto nFile = static_cast<std::int64_t>(fs::file_size(host));
  std::ifstream in(host, std::ios::binary);
  Bytes aTail(25);
  in.seekg(nFile - 25);
  in.read(reinterpret_cast<char*>(aTail.data()), 25);
  const Mark mark = decodeTail(aTail);
  EXPECT_TRUE(mark.bPrefixOk);
  EXPECT_EQ(static_cast<std::int64_t>(mark.iStart), iStart);
  Bytes aHeadNow(aHead.size());
  in.seekg(0);
  in.read(reinterpret_cast<char*>(aHeadNow.data()), static_cast<std::streamsize>(aHeadNow.size()));
  EXPECT_EQ(aHeadNow, aHead);
  DbPtr db;
  ASSERT_EQ(openAppended(host, db, SQLITE_OPEN_READWRITE), SQLITE_OK);
  EXPECT_EQ(queryText(db.get(), "PRAGMA integrity_check"), "ok");
  EXPECT_EQ(queryText(db.get(), "SELECT count(*) FROM t"), "100");
}

// The file methods driven directly, for the limits SQL cannot reach cheaply.
TEST_F(AppendVfsTest, WriteLimitFileSizeAndFetchBounds) {
  const fs::path host = dir / "host";
  writeBytes(host, hostBytes(10));
  sqlite3_vfs* pVfs = sqlite3_vfs_find(appendVfsName);
  std::vector<std::max_align_t> aSpace(
      static_cast<std::size_t>(pVfs->szOsFile) / sizeof(std::max_align_t) + 1);
  auto* pFile = reinterpret_cast<sqlite3_file*>(aSpace.data());
  int outFlags = 0;
  ASSERT_EQ(
      pVfs->xOpen(pVfs, host.c_str(), pFile,
                  SQLITE_OPEN_MAIN_DB | SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, &outFlags),
      SQLITE_OK);
  const sqlite3_io_methods* pMethods = pFile->pMethods;
  ASSERT_NE(pMethods, nullptr);
  sqlite3_int64 nSize = -1;
  EXPECT_EQ(pMethods->xFileSize(pFile, &nSize), SQLITE_OK);
  EXPECT_EQ(nSize, 0);
  void* pPage = nullptr;
  EXPECT_EQ(pMethods->xFetch(pFile, 0, 512, &pPage), SQLITE_IOERR);  // no mark yet

  const Bytes aPage(4096, 0xab);
  EXPECT_EQ(pMethods->xWrite(pFile, aPage.data(), 4096, 0x40000000 - 4096), SQLITE_FULL);
  EXPECT_EQ(pMethods->xWrite(pFile, aPage.data(), 4096, 0x40000000 - 2048), SQLITE_FULL);
  EXPECT_EQ(pMethods->xWrite(pFile, aPage.data(), 4096, 0), SQLITE_OK);
  EXPECT_EQ(pMethods->xFileSize(pFile, &nSize), SQLITE_OK);
  EXPECT_EQ(nSize, 4096);
  EXPECT_EQ(fs::file_size(host), 4096u + 4096u + 25u);

  // Only bytes the mark covers can be fetched; the bound is in host offsets.
  pPage = nullptr;
  EXPECT_EQ(pMethods->xFetch(pFile, 0, 4096, &pPage), SQLITE_OK);
  if (pPage) {
    EXPECT_EQ(pMethods->xUnfetch(pFile, 0, pPage), SQLITE_OK);
  }
  EXPECT_EQ(pMethods->xFetch(pFile, 4096, 4096, &pPage), SQLITE_IOERR);
  EXPECT_EQ(pMethods->xFetch(pFile, 1, 4096, &pPage), SQLITE_IOERR);

  // A size hint is shifted for the host without changing the caller's value.
  sqlite3_int64 nHint = 8192;
  EXPECT_EQ(pMethods->xFileControl(pFile, SQLITE_FCNTL_SIZE_HINT, &nHint), SQLITE_OK);
  EXPECT_EQ(nHint, 8192);

  // Truncating moves the mark to the new end.
  EXPECT_EQ(pMethods->xTruncate(pFile, 1024), SQLITE_OK);
  EXPECT_EQ(pMethods->xFileSize(pFile, &nSize), SQLITE_OK);
  EXPECT_EQ(nSize, 1024);
  EXPECT_EQ(pMethods->xClose(pFile), SQLITE_OK);
  const Bytes aFile = readBytes(host);
  ASSERT_EQ(aFile.size(), 4096u + 1024u + 25u);
  EXPECT_TRUE(decodeTail(aFile).bPrefixOk);
  EXPECT_EQ(decodeTail(aFile).iStart, 4096u);
}

TEST(AppendMarkTest, EncodeAndDecode) {
  unsigned char aMark[25];
  appendBuildMark(0x0102030405060708 & ~std::int64_t{511}, aMark);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(aMark), 17), "Start-Of-SQLite3-");
  const unsigned char aExpect[8] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x06, 0x00};
  EXPECT_EQ(std::memcmp(aMark + 17, aExpect, 8), 0);

  struct Case {
    std::int64_t iStart;
    std::int64_t nFileSize;
    bool bValid;
  };
  const Case aCases[] = {
      {0, 537, true},
      {0, 536, false},    // size not 25 past a multiple of 512
      {512, 537, false},  // no room for a page before the mark
      {512, 1049, true},
      {4096, 4096 + 512 + 25, true},
      {4096 + 256, 8192 + 25, false},  // start not a multiple of 512
      {std::int64_t{3} << 31, (std::int64_t{3} << 31) + 4096 + 25, true},  // past 2^32
  };
  for (const Case& c : aCases) {
    SCOPED_TRACE(std::to_string(c.iStart) + " in " + std::to_string(c.nFileSize));
    appendBuildMark(c.iStart, aMark);
    const auto iDecoded = appendDecodeMark(aMark, c.nFileSize);
    EXPECT_EQ(iDecoded.has_value(), c.bValid);
    if (c.bValid && iDecoded) {
      EXPECT_EQ(*iDecoded, c.iStart);
    }
  }
  // The top bit of the start is ignored.
  appendBuildMark(4096, aMark);
  aMark[17] |= 0x80;
  EXPECT_EQ(appendDecodeMark(aMark, 4096 + 512 + 25), std::optional<std::int64_t>(4096));
}

}  // namespace
