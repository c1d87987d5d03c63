// libFuzzer target for the database file itself: a damaged image is opened
// (deserialized) and .schema, .tables, .indexes and .dump run on it, then
// every table is scanned in full.
//
// The input is either a whole image (it starts with the file header; the seeds
// hold the target's own small database, which the fuzzer mutates page by page)
// or a list of patches to that database: three bytes each, a 16-bit offset
// into the image and the byte to put there.
//
// Checked on every input: nothing crashes or runs past the work budget; the
// dump ends in one of its two closing lines; when the full scan of a table the
// dump writes (or of the schema), read with writable_schema on as the dump
// reads, meets damage, the dump ends in "ROLLBACK; -- due to errors".
#include <sqlite3.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "shell/commands/Commands.h"
#include "tests/fuzz/FuzzShell.h"

namespace {

using fuzzshell::Budget;

[[noreturn]] void fail(std::string_view zWhat) {
  fuzzshell::fail("fuzz_dbfile", zWhat);
}

constexpr size_t kLargestImage = 1 << 17;

// A small database with every kind of schema object the dump writes, on
// 512-byte pages so that a few rows span several pages and an overflow chain.
const char* const zBuildSql =
    "PRAGMA page_size=512;"
    "CREATE TABLE t1(a INTEGER PRIMARY KEY, b TEXT, c BLOB, d REAL);"
    "CREATE TABLE t2(k TEXT PRIMARY KEY, v) WITHOUT ROWID;"
    "CREATE TABLE \"odd name\"(x, y DEFAULT 'it''s');"
    "CREATE TABLE t3(id INTEGER PRIMARY KEY AUTOINCREMENT, s);"
    "CREATE INDEX t1b ON t1(b);"
    "CREATE UNIQUE INDEX t1cd ON t1(d, c);"
    "CREATE VIEW v1 AS SELECT a, b FROM t1 WHERE a > 2;"
    "CREATE TRIGGER tr1 AFTER INSERT ON t1 BEGIN INSERT INTO t3(s) VALUES (new.b); END;"
    "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 40)"
    "  INSERT INTO t1(b, c, d) SELECT 'row ' || i || ' '' quote', CAST(printf('%.*c', i % 7, 'b') "
    "AS BLOB), i * 1.5"
    "  FROM n;"
    "INSERT INTO t1(b, c) VALUES (printf('%.900c', 'x'), zeroblob(700));"
    "INSERT INTO t1(b) VALUES ('line' || char(10) || 'break' || char(13));"
    "INSERT INTO t2 VALUES ('alpha', 1), ('beta', x'00ff'), ('gamma', NULL), ('delta', 2.5);"
    "INSERT INTO \"odd name\"(x) VALUES (1), (2);"
    "ANALYZE;";

const std::string& baseImage() {
  static const std::string zImage = [] {
    sqlite3* db = nullptr;
    sqlite3_open(":memory:", &db);
    if (sqlite3_exec(db, zBuildSql, nullptr, nullptr, nullptr) != SQLITE_OK) {
      fail(sqlite3_errmsg(db));
    }
    sqlite3_int64 n = 0;
    unsigned char* a = sqlite3_serialize(db, "main", &n, 0);
    if (a == nullptr) fail("cannot serialize the base image");
    std::string z(reinterpret_cast<const char*>(a), static_cast<size_t>(n));
    sqlite3_free(a);
    sqlite3_close(db);
    // FUZZ_DBFILE_WRITE_SEED=path writes the image, for the seed directory.
    if (const char* zPath = std::getenv("FUZZ_DBFILE_WRITE_SEED")) {
      if (FILE* f = std::fopen(zPath, "wb")) {
        std::fwrite(z.data(), 1, z.size(), f);
        std::fclose(f);
      }
    }
    return z;
  }();
  return zImage;
}

bool isCorrupt(int rc) {
  return (rc & 0xff) == SQLITE_CORRUPT || rc == SQLITE_NOTADB;
}

bool scanWithDumpSettings(sqlite3* db) {
  std::vector<std::string> azTable;
  int rc = SQLITE_OK;
  {
    StmtPtr pStmt = prepareStmt(db,
                                "SELECT name FROM sqlite_schema WHERE type='table' AND sql NOT NULL"
                                " AND name NOT LIKE 'sqlite_%' AND sql NOT LIKE 'CREATE VIRTUAL%'",
                                &rc);
    if (!pStmt) return isCorrupt(rc) || isCorrupt(sqlite3_extended_errcode(db));
    while ((rc = sqlite3_step(pStmt.get())) == SQLITE_ROW) {
      const auto* z = reinterpret_cast<const char*>(sqlite3_column_text(pStmt.get(), 0));
      if (z) azTable.emplace_back(z);
    }
    if (isCorrupt(rc)) return true;
  }
  bool bDamage = false;
  for (const std::string& zTable : azTable) {
    // NOT INDEXED: the table's own b-tree, as the dump reads it, not a covering index.
    char* zSql = sqlite3_mprintf("SELECT * FROM \"%w\" NOT INDEXED", zTable.c_str());
    StmtPtr pStmt = prepareStmt(db, zSql, &rc);
    sqlite3_free(zSql);
    if (!pStmt) {
      bDamage = bDamage || isCorrupt(rc);
      continue;
    }
    while ((rc = sqlite3_step(pStmt.get())) == SQLITE_ROW) {
    }
    bDamage = bDamage || isCorrupt(rc);
  }
  return bDamage;
}

// Scans sqlite_schema and every table the dump writes; true when damage was met.
// The dump reads with writable_schema on, which lets the engine pass over a
// schema entry it cannot parse (an index, say) while every table's rows are
// still there to read: the scan reads the same way.
bool scanMeetsDamage(sqlite3* db) {
  sqlite3_exec(db, "PRAGMA writable_schema=ON", nullptr, nullptr, nullptr);
  const bool bDamage = scanWithDumpSettings(db);
  sqlite3_exec(db, "PRAGMA writable_schema=OFF", nullptr, nullptr, nullptr);
  return bDamage;
}

std::string buildImage(std::string_view zInput) {
  static constexpr std::string_view zHeader("SQLite format 3", 16);
  if (zInput.size() >= 100 && zInput.substr(0, 16) == zHeader) return std::string(zInput);
  std::string zImage = baseImage();
  for (size_t i = 0; i + 3 <= zInput.size(); i += 3) {
    const size_t iAt =
        (static_cast<unsigned char>(zInput[i]) << 8 | static_cast<unsigned char>(zInput[i + 1])) %
        zImage.size();
    zImage[iAt] = zInput[i + 2];
  }
  return zImage;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t nData) {
  if (nData > kLargestImage) return 0;
  static ShellContext ctx;
  ShellContext* p = &ctx;
  fuzzshell::resetContext(p);
  FILE* const pNull = p->pOut;
  const std::string zImage =
      buildImage(std::string_view(reinterpret_cast<const char*>(aData), nData));

  Budget budget;
  fuzzshell::openShellDb(p, &budget);
  if (fuzzshell::deserializeCopy(p->db, zImage.data(), zImage.size()) != SQLITE_OK) {
    fail("deserialize refused the image");
  }

  char zSchema[] = "schema";
  char zTables[] = "tables";
  char zIndexes[] = "indexes";
  char zDump[] = "dump";
  char* azSchema[] = {zSchema, nullptr};
  char* azTables[] = {zTables, nullptr};
  char* azIndexes[] = {zIndexes, nullptr};
  char* azDump[] = {zDump, nullptr};
  doSchema(p, 1, azSchema);
  doTables(p, 1, azTables);
  doTables(p, 1, azIndexes);

  char* zOut = nullptr;
  size_t nOut = 0;
  p->pOut = open_memstream(&zOut, &nOut);
  if (p->pOut == nullptr) fail("open_memstream");
  doDump(p, 1, azDump);
  std::fclose(p->pOut);
  p->pOut = pNull;
  const std::string zDumped(zOut, nOut);
  std::free(zOut);

  budget.nTicks = 0;
  const bool bDamage = scanMeetsDamage(p->db);
  if (!budget.bExhausted) {
    constexpr std::string_view zRollback = "ROLLBACK; -- due to errors\n";
    const bool bRolledBack = zDumped.ends_with(zRollback);
    if (!bRolledBack && !zDumped.ends_with("\nCOMMIT;\n")) fail("the dump has no closing line");
    if (bDamage && !bRolledBack) fail("the dump met damage but ends in COMMIT");
  }
  fuzzshell::releaseContext(p, pNull);
  return 0;
}
