// Opening databases in every mode, database images and the shell's SQL functions.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "tests/unit/shell_process.h"
#include "shell/core/OpenDatabase.h"
#include "shell/core/ShellContext.h"

namespace fs = std::filesystem;

namespace {

using shell_process::readFile;
using shell_process::writeFile;

class OpenDatabaseTest : public ::testing::Test {
 protected:
  // A record initialized by another test may have left its address as the
  // engine's log callback argument; these tests make the engine log (failed
  // opens, read-only writes), so the log goes back to none.
  static void SetUpTestSuite() {
    sqlite3_shutdown();
    sqlite3_config(SQLITE_CONFIG_LOG, nullptr, nullptr);
  }
  void SetUp() override {
    char zTemplate[] = "/tmp/sqlsh-opendb-XXXXXX";
    ASSERT_NE(mkdtemp(zTemplate), nullptr);
    dir = zTemplate;
    ctx = ShellContext{};
    ctx.pConn = &ctx.aConn[0];
    ctx.pOut = stdout;
  }
  void TearDown() override {
    if (ctx.db) closeConnection(ctx.db);
    fs::remove_all(dir);
  }

  std::string path(const char* zName) const { return (dir / zName).string(); }

  // Opens zFile in eMode through openDatabase; returns its result.
  int open(const std::string& zFile, OpenMode eMode, int flags = 0) {
    name = zFile;
    ctx.pConn->zFilename = name.c_str();
    ctx.eOpenMode = eMode;
    return openDatabase(&ctx, flags);
  }

  fs::path dir;
  std::string name;
  ShellContext ctx;
};

// Makes a real database file with a few tables spread over several pages.
void makeDatabase(const std::string& zPath, int nPageSize = 1024) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(zPath.c_str(), &db), SQLITE_OK);
  std::string sql = "PRAGMA page_size=" + std::to_string(nPageSize) +
                    ";"
                    "CREATE TABLE t(a INTEGER PRIMARY KEY, b TEXT, c BLOB);"
                    "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<200)"
                    " INSERT INTO t SELECT i, printf('row %d', i), randomblob(i % 40) FROM n;"
                    "CREATE INDEX tb ON t(b);"
                    "CREATE VIEW v AS SELECT a, b AS \"b c\" FROM t;";
  ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_close(db), SQLITE_OK);
}

// The hex-dump text of an image: page headers, non-zero 16-byte lines only.
std::string hexDump(const std::string& image, int nPageSize, const char* zEnd = "x.db") {
  std::string s =
      "| size " + std::to_string(image.size()) + " pagesize " + std::to_string(nPageSize) + "\n";
  char zLine[200];
  for (size_t iPage = 0; iPage * nPageSize < image.size(); iPage++) {
    size_t iBase = iPage * nPageSize;
    s += "| page " + std::to_string(iPage + 1) + " offset " + std::to_string(iBase) + "\n";
    for (size_t i = 0; i < static_cast<size_t>(nPageSize) && iBase + i < image.size(); i += 16) {
      const auto* a = reinterpret_cast<const unsigned char*>(image.data() + iBase + i);
      bool bZero = true;
      for (int k = 0; k < 16; k++) bZero = bZero && a[k] == 0;
      if (bZero) continue;
      int n = std::snprintf(zLine, sizeof(zLine), "| %6zu:", i);
      for (int k = 0; k < 16; k++) {
        n += std::snprintf(zLine + n, sizeof(zLine) - n, " %02x", a[k]);
      }
      s += zLine;
      s += "\n";
    }
  }
  s += "| end ";
  s += zEnd;
  s += "\n";
  return s;
}

// Every row of t as one text, for comparing two databases.
std::string tableDigest(sqlite3* db) {
  sqlite3_stmt* pStmt = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db,
                               "SELECT group_concat(a || ':' || b || ':' || hex(c), ';') FROM "
                               "(SELECT * FROM t ORDER BY a)",
                               -1, &pStmt, nullptr),
            SQLITE_OK)
      << sqlite3_errmsg(db);
  std::string s;
  if (sqlite3_step(pStmt) == SQLITE_ROW && sqlite3_column_text(pStmt, 0)) {
    s = reinterpret_cast<const char*>(sqlite3_column_text(pStmt, 0));
  }
  sqlite3_finalize(pStmt);
  return s;
}

std::string serialized(sqlite3* db) {
  sqlite3_int64 n = 0;
  unsigned char* a = sqlite3_serialize(db, "main", &n, 0);
  std::string s(reinterpret_cast<const char*>(a), static_cast<size_t>(n));
  sqlite3_free(a);
  return s;
}

// The first column of the first row of zSql, or nullopt for NULL.
std::optional<std::string> queryOne(sqlite3* db, const std::string& zSql) {
  sqlite3_stmt* pStmt = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db, zSql.c_str(), -1, &pStmt, nullptr), SQLITE_OK)
      << zSql << ": " << sqlite3_errmsg(db);
  std::optional<std::string> r;
  if (pStmt && sqlite3_step(pStmt) == SQLITE_ROW && sqlite3_column_type(pStmt, 0) != SQLITE_NULL) {
    r = std::string(reinterpret_cast<const char*>(sqlite3_column_text(pStmt, 0)),
                    static_cast<size_t>(sqlite3_column_bytes(pStmt, 0)));
  }
  sqlite3_finalize(pStmt);
  return r;
}

// ---------------------------------------------------------------------------

TEST_F(OpenDatabaseTest, DetectsFileKinds) {
  makeDatabase(path("real.db"));
  std::string realDb = readFile(path("real.db"));
  std::string appendTrailer = "Start-Of-SQLite3-" + std::string(8, '\0');
  std::string zipEnd = std::string("PK\x05\x06", 4) + std::string(18, '\0');
  writeFile(path("db-with-trailer"), realDb + appendTrailer);
  writeFile(path("appended"), std::string(3000, 'x') + appendTrailer);
  writeFile(path("archive.bin"), std::string(100, 'z') + zipEnd);
  writeFile(path("text.txt"), std::string(100, 't'));
  writeFile(path("short.zip"), "tiny");
  writeFile(path("empty.zip"), "");
  struct Case {
    std::string zName;
    int bZip;
    OpenMode eKind;
  };
  const std::vector<Case> cases = {
      {path("real.db"), 0, OpenMode::Normal},    {path("db-with-trailer"), 0, OpenMode::Normal},
      {path("appended"), 0, OpenMode::Append},   {path("archive.bin"), 0, OpenMode::Zip},
      {path("text.txt"), 0, OpenMode::Unknown},  {path("text.txt"), 1, OpenMode::Unknown},
      {path("short.zip"), 0, OpenMode::Unknown}, {path("short.zip"), 1, OpenMode::Zip},
      {path("empty.zip"), 1, OpenMode::Zip},     {path("missing.db"), 0, OpenMode::Normal},
      {path("missing.db"), 1, OpenMode::Normal}, {path("missing.ZIP"), 0, OpenMode::Normal},
      {path("missing.ZIP"), 1, OpenMode::Zip},   {":memory:", 0, OpenMode::Normal},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(detectDatabaseKind(c.zName.c_str(), c.bZip), c.eKind) << c.zName << " " << c.bZip;
  }
}

TEST_F(OpenDatabaseTest, DetectModeOpensAndRemembersKind) {
  makeDatabase(path("real.db"));
  std::string want = [&] {
    sqlite3* db = nullptr;
    sqlite3_open(path("real.db").c_str(), &db);
    std::string s = tableDigest(db);
    sqlite3_close(db);
    return s;
  }();
  open(path("real.db"), OpenMode::Unknown);
  ASSERT_NE(ctx.db, nullptr);
  EXPECT_EQ(ctx.eOpenMode, OpenMode::Normal);
  EXPECT_EQ(dbForInterrupt, ctx.db);
  EXPECT_EQ(tableDigest(ctx.db), want);
  closeConnection(ctx.db);
  EXPECT_EQ(dbForInterrupt, nullptr);
  ctx.db = nullptr;

  // An unrecognized file opens as an ordinary one; the mode stays undecided.
  writeFile(path("text.txt"), std::string(100, 't'));
  open(path("text.txt"), OpenMode::Unknown);
  ASSERT_NE(ctx.db, nullptr);
  EXPECT_EQ(ctx.eOpenMode, OpenMode::Unknown);
  closeConnection(ctx.db);
  ctx.db = nullptr;

  // A name that does not exist is created on first write.
  open(path("new.db"), OpenMode::Unknown);
  EXPECT_EQ(ctx.eOpenMode, OpenMode::Normal);
  ASSERT_EQ(sqlite3_exec(ctx.db, "CREATE TABLE x(y)", nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_TRUE(fs::exists(path("new.db")));
}

TEST_F(OpenDatabaseTest, ReadOnlyModeRefusesWrites) {
  makeDatabase(path("real.db"));
  open(path("real.db"), OpenMode::ReadOnly);
  ASSERT_NE(ctx.db, nullptr);
  EXPECT_EQ(queryOne(ctx.db, "SELECT count(*) FROM t"), "200");
  EXPECT_EQ(sqlite3_exec(ctx.db, "DELETE FROM t", nullptr, nullptr, nullptr), SQLITE_READONLY);
}

TEST_F(OpenDatabaseTest, ZipModeGivesAnEmptyMemoryDatabase) {
  writeFile(path("a.zip"), std::string(100, 'z'));
  open(path("a.zip"), OpenMode::Zip);
  ASSERT_NE(ctx.db, nullptr);
  EXPECT_EQ(queryOne(ctx.db, "SELECT count(*) FROM sqlite_schema"), "0");
  EXPECT_EQ(queryOne(ctx.db, "SELECT shell_idquote('z')"), "\"z\"");
}

TEST_F(OpenDatabaseTest, FailedOpenKeepsAliveWithMemoryDatabase) {
  testing::internal::CaptureStderr();
  // A failed open is a failure, also where a connection is left to go on with.
  EXPECT_EQ(open(path("x.db"), OpenMode::Append, keepAlive), 1);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err, "Error: unable to open database \"" + path("x.db") + "\": no such vfs: apndvfs\n");
  ASSERT_NE(ctx.db, nullptr);
  EXPECT_EQ(dbForInterrupt, ctx.db);
  EXPECT_EQ(queryOne(ctx.db, "SELECT 1+1"), "2");
  EXPECT_EQ(sqlite3_db_filename(ctx.db, "main"), std::string());
}

TEST_F(OpenDatabaseTest, FailedOpenWithoutKeepAliveExits) {
  EXPECT_EXIT(
      {
        fs::create_directories(path("sub"));
        open(path("sub/missing/x.db"), OpenMode::Normal);
      },
      testing::ExitedWithCode(1), "Error: unable to open database \".*x.db\": unable to open");
}

TEST_F(OpenDatabaseTest, DeserializedImageIsAPrivateCopy) {
  makeDatabase(path("real.db"));
  std::string image = readFile(path("real.db"));
  EXPECT_EQ(open(path("real.db"), OpenMode::Deserialize), 0);
  ASSERT_NE(ctx.db, nullptr);
  EXPECT_EQ(serialized(ctx.db), image);
  ASSERT_EQ(sqlite3_exec(ctx.db, "DELETE FROM t", nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_EQ(queryOne(ctx.db, "SELECT count(*) FROM t"), "0");
  EXPECT_EQ(readFile(path("real.db")), image);

  // A file that cannot be read gives an empty database, and a failed open that says so.
  closeConnection(ctx.db);
  ctx.db = nullptr;
  testing::internal::CaptureStderr();
  EXPECT_EQ(open(path("missing.db"), OpenMode::Deserialize), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "cannot open \"" + path("missing.db") + "\" for reading\n");
  ASSERT_NE(ctx.db, nullptr);
  EXPECT_EQ(queryOne(ctx.db, "SELECT count(*) FROM sqlite_schema"), "0");
}

TEST_F(OpenDatabaseTest, DeserializedImageHonoursSizeLimit) {
  makeDatabase(path("real.db"));
  ctx.nMaxDbSize = static_cast<sqlite3_int64>(fs::file_size(path("real.db"))) + 4096;
  open(path("real.db"), OpenMode::Deserialize);
  ASSERT_NE(ctx.db, nullptr);
  int rc = sqlite3_exec(ctx.db, "CREATE TABLE big(x); INSERT INTO big VALUES(zeroblob(100000))",
                        nullptr, nullptr, nullptr);
  EXPECT_EQ(rc, SQLITE_FULL);
}

TEST_F(OpenDatabaseTest, HexDumpFileRoundTrip) {
  makeDatabase(path("real.db"), 1024);
  std::string image = readFile(path("real.db"));
  ASSERT_EQ(image.size() % 1024, 0u);
  // Lines of other forms and a line too long for one read are ignored.
  std::string dump = hexDump(image, 1024);
  dump.insert(dump.find('\n') + 1, "a comment line\n" + std::string(2500, '#') + "\n");
  writeFile(path("dump.txt"), dump);
  EXPECT_EQ(open(path("dump.txt"), OpenMode::HexDump), 0);
  ASSERT_NE(ctx.db, nullptr);
  EXPECT_EQ(serialized(ctx.db), image);
  EXPECT_EQ(queryOne(ctx.db, "PRAGMA integrity_check"), "ok");
  EXPECT_EQ(queryOne(ctx.db, "SELECT b FROM t WHERE a=123"), "row 123");
}

TEST_F(OpenDatabaseTest, HexDumpFromCurrentInputAdvancesLineNumber) {
  makeDatabase(path("real.db"), 512);
  std::string image = readFile(path("real.db"));
  std::string dump = hexDump(image, 512);
  int nDumpLines = 0;
  for (char c : dump) nDumpLines += c == '\n';
  std::string input = dump + "SELECT 'after';\n";
  FILE* in = fmemopen(input.data(), input.size(), "r");
  ctx.pIn = in;
  ctx.iLineNo = 7;
  ctx.pConn->zFilename = nullptr;
  ctx.eOpenMode = OpenMode::HexDump;
  openDatabase(&ctx, 0);
  ASSERT_NE(ctx.db, nullptr);
  EXPECT_EQ(serialized(ctx.db), image);
  EXPECT_EQ(ctx.iLineNo, 7 + nDumpLines);
  char zLine[100];
  ASSERT_NE(std::fgets(zLine, sizeof(zLine), in), nullptr);
  EXPECT_STREQ(zLine, "SELECT 'after';\n");
  std::fclose(in);
}

TEST_F(OpenDatabaseTest, HexDumpRejectsBadFirstLine) {
  const std::vector<std::string> firstLines = {
      "| size 8192 pagesize 1000",
      "| size 8192 pagesize 256",
      "| size 8192 pagesize 131072",
      "| size -1 pagesize 512",
      "| size 8192",
      "size 8192 pagesize 4096",
      "| size 2147483647 pagesize 65536",
  };
  for (const auto& zFirst : firstLines) {
    // From a file: reported on line 1.
    writeFile(path("bad.txt"), zFirst + "\n| page 1 offset 0\n| end bad.txt\n");
    ctx.pConn->zFilename = nullptr;
    name = path("bad.txt");
    ctx.pConn->zFilename = name.c_str();
    int nData = -1;
    testing::internal::CaptureStderr();
    EXPECT_EQ(readHexDump(&ctx, &nData), nullptr) << zFirst;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error on line 1 of --hexdb input\n");

    // From the current input: the dump is skipped up to its end line, and the
    // error names the line reached.
    std::string input = zFirst + "\n| page 1 offset 0\n|      0: 01\n| end x\nnext\n";
    FILE* in = fmemopen(input.data(), input.size(), "r");
    ctx.pIn = in;
    ctx.iLineNo = 10;
    ctx.pConn->zFilename = nullptr;
    testing::internal::CaptureStderr();
    EXPECT_EQ(readHexDump(&ctx, &nData), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error on line 14 of --hexdb input\n");
    EXPECT_EQ(ctx.iLineNo, 14);
    char zLine[20];
    ASSERT_NE(std::fgets(zLine, sizeof(zLine), in), nullptr);
    EXPECT_STREQ(zLine, "next\n");
    std::fclose(in);
  }
  ctx.pIn = nullptr;
}

TEST_F(OpenDatabaseTest, HexDumpBoundsAndRounding) {
  auto load = [&](const std::string& text, int* pn) {
    writeFile(path("d.txt"), text);
    name = path("d.txt");
    ctx.pConn->zFilename = name.c_str();
    return std::unique_ptr<unsigned char, SqliteFree>(readHexDump(&ctx, pn));
  };
  const std::string ones = " 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f 1ff\n";
  int n = -1;
  // Size 0: an empty image.
  auto a = load("| size 0 pagesize 512\n| end\n", &n);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(n, 0);
  // The size is rounded up to whole pages; data lines are stored only when
  // all 16 bytes fit, relative to the page offset.
  a = load(
      "| size 600 pagesize 512\n"
      "| page 1 offset 0\n|    0:" +
          ones + "| 1008:" + ones + "| 1009:" + ones + "| page 2 offset 512\n|   16:" + ones +
          "| page 0 offset -16\n|    0:" + ones + "|   15:" + ones + "| end x\n|   32:" + ones,
      &n);
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(n, 1024);
  std::string got(reinterpret_cast<const char*>(a.get()), 1024);
  std::string want(1024, '\0');
  std::string row = "\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f\xff";
  want.replace(0, 16, row);
  want.replace(1008, 16, row);
  want.replace(528, 16, row);
  EXPECT_EQ(got.substr(0, 16), row);
  EXPECT_EQ(got, want);
}

// ---------------------------------------------------------------------------
// The shell's SQL functions.

class ShellFunctionsTest : public OpenDatabaseTest {
 protected:
  void SetUp() override {
    OpenDatabaseTest::SetUp();
    open(":memory:", OpenMode::Unknown);
    ASSERT_NE(ctx.db, nullptr);
    ASSERT_EQ(sqlite3_exec(ctx.db,
                           "CREATE TABLE t(a, \"b c\", \"select\");"
                           "CREATE TABLE \"order\"(x);"
                           "CREATE VIEW v AS SELECT a, \"b c\" AS bc FROM t;"
                           "CREATE TEMP TABLE tt(q);",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
  }
  std::optional<std::string> q(const std::string& zSql) { return queryOne(ctx.db, zSql); }
};

TEST_F(ShellFunctionsTest, Int32) {
  const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
      {"shell_int32(x'0000000100000002', 0)", "1"},
      {"shell_int32(x'0000000100000002', 1)", "2"},
      {"shell_int32(x'0000000100000002', 2)", std::nullopt},
      {"shell_int32(x'00000001000000', 1)", std::nullopt},
      {"shell_int32(x'FFFFFFFF', 0)", "4294967295"},
      {"shell_int32(x'80000000', 0)", "2147483648"},
      {"shell_int32(x'FFFFFFFF', -1)", std::nullopt},
      {"shell_int32(x'FFFFFFFF', 4611686018427387904)", std::nullopt},
      {"shell_int32(x'FFFFFFFF', 9223372036854775807)", std::nullopt},
      {"shell_int32(x'', 0)", std::nullopt},
      {"shell_int32(NULL, 0)", std::nullopt},
  };
  for (const auto& [zExpr, want] : cases) EXPECT_EQ(q("SELECT " + zExpr), want) << zExpr;
}

TEST_F(ShellFunctionsTest, EscapeCrnl) {
  // Arguments as SQL expressions, and the expected results.
  const std::vector<std::pair<std::string, std::string>> cases = {
      {R"('''plain''')", R"('plain')"},
      {R"('''a' || char(10) || 'b''')", R"(replace('a\nb','\n', char(10)))"},
      {R"('''a' || char(13) || 'b''')", R"(replace('a\rb','\r', char(13)))"},
      {R"('''a\n' || char(10) || '''')", R"(replace('a\n\012','\012', char(10)))"},
      {R"('''\n\012' || char(10) || '''')", R"(replace('\n\012(\n0)','(\n0)', char(10)))"},
      {R"('''a' || char(13,10) || 'b''')",
       R"(replace(replace('a\r\nb','\n', char(10)),'\r', char(13)))"},
  };
  for (const auto& [zArg, want] : cases) {
    EXPECT_EQ(q("SELECT shell_escape_crnl(" + zArg + ")"), want) << zArg;
  }
  // Non-text values and texts without a leading quote come back unchanged.
  EXPECT_EQ(q("SELECT typeof(shell_escape_crnl(12))"), "integer");
  EXPECT_EQ(q("SELECT shell_escape_crnl(NULL)"), std::nullopt);
  EXPECT_EQ(q("SELECT shell_escape_crnl('x' || char(10))"), "x\n");
  EXPECT_EQ(q("SELECT hex(shell_escape_crnl(x'270a'))"), "270A");
}

// Evaluating the escaped literal gives back the original text.
TEST_F(ShellFunctionsTest, EscapeCrnlRoundTrip) {
  const std::vector<std::string> texts = {
      "a\nb", "\r\n\r\n", "it's\n", "\\n\\012(\\n0)\n\\r\r", "x\\\ny", "\n", "(\\n0)\n",
  };
  for (const auto& t : texts) {
    sqlite3_stmt* pStmt = nullptr;
    ASSERT_EQ(
        sqlite3_prepare_v2(ctx.db, "SELECT shell_escape_crnl(quote(?1))", -1, &pStmt, nullptr),
        SQLITE_OK);
    sqlite3_bind_text(pStmt, 1, t.data(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
    ASSERT_EQ(sqlite3_step(pStmt), SQLITE_ROW);
    std::string lit = reinterpret_cast<const char*>(sqlite3_column_text(pStmt, 0));
    sqlite3_finalize(pStmt);
    EXPECT_EQ(lit.find('\n'), std::string::npos) << lit;
    EXPECT_EQ(lit.find('\r'), std::string::npos) << lit;
    EXPECT_EQ(q("SELECT " + lit), t) << lit;
  }
}

TEST_F(ShellFunctionsTest, AddSchema) {
  const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
      {"'CREATE TABLE t(a)', 'main', 't'", "CREATE TABLE main.t(a)"},
      {"'CREATE TABLE t(a)', 'temp', 't'", "CREATE TABLE temp.t(a)"},
      {"'CREATE TABLE t(a)', 'TeMp', 't'", "CREATE TABLE TeMp.t(a)"},
      {"'CREATE TABLE t(a)', 'select', 't'", "CREATE TABLE \"select\".t(a)"},
      {"'CREATE TABLE t(a)', 'my \"db', 't'", "CREATE TABLE \"my \"\"db\".t(a)"},
      {"'CREATE TABLE t(a)', NULL, 't'", "CREATE TABLE t(a)"},
      {"'CREATE INDEX i ON t(a)', 'aux1', 'i'", "CREATE INDEX aux1.i ON t(a)"},
      {"'CREATE UNIQUE INDEX i ON t(a)', 'aux1', 'i'", "CREATE UNIQUE INDEX aux1.i ON t(a)"},
      {"'CREATE TRIGGER r AFTER INSERT ON t BEGIN SELECT 1; END', 'main', 'r'",
       "CREATE TRIGGER main.r AFTER INSERT ON t BEGIN SELECT 1; END"},
      {"'CREATE TEMP TABLE x(a)', 'temp', 'x'", "CREATE TEMP TABLE x(a)"},
      {"'CREATE TABLEx(a)', 'main', 'x'", "CREATE TABLEx(a)"},
      {"'create table t(a)', 'main', 't'", "create table t(a)"},
      {"'CREATE VIEW v AS SELECT 1', 'main', 'v'",
       "CREATE VIEW main.v AS SELECT 1\n/* main.v(a,bc) */"},
      {"'CREATE VIEW v AS SELECT 1', NULL, 'v'", "CREATE VIEW v AS SELECT 1\n/* v(a,bc) */"},
      {"'CREATE VIEW v AS SELECT 1', 'main', NULL", "CREATE VIEW main.v AS SELECT 1"},
      {"'CREATE VIEW w AS SELECT 1', NULL, 'w'", "CREATE VIEW w AS SELECT 1"},
      {"'CREATE VIRTUAL TABLE t USING m', NULL, 't'",
       "CREATE VIRTUAL TABLE t USING m\n/* t(a,\"b c\",\"select\") */"},
      {"NULL, 'main', 't'", std::nullopt},
  };
  for (const auto& [zArgs, want] : cases) {
    EXPECT_EQ(q("SELECT shell_add_schema(" + zArgs + ")"), want) << zArgs;
  }
  EXPECT_EQ(q("SELECT typeof(shell_add_schema(5, 'main', 't'))"), "integer");
}

TEST_F(ShellFunctionsTest, FakeSchemaAndModuleSchema) {
  auto fake = [&](const char* zSchema, const char* zName) -> std::optional<std::string> {
    bool bNoMemory = true;
    CPtr z(fakeSchema(ctx.db, zSchema, zName, &bNoMemory));
    EXPECT_FALSE(bNoMemory);
    if (!z) return std::nullopt;
    return std::string(z.get());
  };
  EXPECT_EQ(fake(nullptr, "t"), "t(a,\"b c\",\"select\")");
  EXPECT_EQ(fake("main", "order"), "main.\"order\"(x)");
  EXPECT_EQ(fake("temp", "tt"), "temp.tt(q)");
  EXPECT_EQ(fake("TEMP", "tt"), "TEMP.tt(q)");
  EXPECT_EQ(fake(nullptr, "nosuch"), std::nullopt);
  EXPECT_EQ(fake("nosuchschema", "t"), std::nullopt);
  EXPECT_EQ(q("SELECT shell_module_schema('v')"), "/* v(a,bc) */");
  EXPECT_EQ(q("SELECT shell_module_schema('nosuch')"), std::nullopt);
  EXPECT_EQ(q("SELECT shell_module_schema(NULL)"), std::nullopt);
}

TEST_F(ShellFunctionsTest, IdQuotePutsnlUsleep) {
  EXPECT_EQ(q("SELECT shell_idquote('a\"b')"), "\"a\"\"b\"");
  EXPECT_EQ(q("SELECT shell_idquote('')"), "\"\"");
  EXPECT_EQ(q("SELECT shell_idquote(NULL)"), std::nullopt);

  char* zBuf = nullptr;
  size_t nBuf = 0;
  ctx.pOut = open_memstream(&zBuf, &nBuf);
  EXPECT_EQ(q("SELECT shell_putsnl('héllo') || shell_putsnl(42)"), "héllo42");
  EXPECT_EQ(q("SELECT typeof(shell_putsnl(1.5))"), "real");
  std::fclose(ctx.pOut);
  ctx.pOut = stdout;
  EXPECT_EQ(std::string(zBuf, nBuf), "héllo\n42\n1.5\n");
  std::free(zBuf);

  EXPECT_EQ(q("SELECT usleep(2000)"), "2000");
  EXPECT_EQ(q("SELECT usleep(-5)"), "-5");
}

// ---------------------------------------------------------------------------

TEST_F(OpenDatabaseTest, CloseReportsBusyConnection) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  sqlite3_stmt* pStmt = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT 1", -1, &pStmt, nullptr), SQLITE_OK);
  testing::internal::CaptureStderr();
  closeConnection(db);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Error: sqlite3_close() returns 5: unable to close due to unfinalized statements or "
            "unfinished backups\n");
  sqlite3_finalize(pStmt);
  testing::internal::CaptureStderr();
  closeConnection(db);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(OpenDatabaseTest, SafeModeAuthorizerIsInstalled) {
  ctx.bSafePersistent = 1;
  open(":memory:", OpenMode::Unknown);
  ASSERT_NE(ctx.db, nullptr);
  // Suspended (as after .nonce): the authorizer is there but lets ATTACH pass.
  EXPECT_EQ(sqlite3_exec(ctx.db, "ATTACH ':memory:' AS aux", nullptr, nullptr, nullptr), SQLITE_OK);
  ctx.bSafeActive = 1;
  ctx.iLineNo = 7;
  EXPECT_EXIT(sqlite3_exec(ctx.db, "ATTACH ':memory:' AS aux2", nullptr, nullptr, nullptr),
              testing::ExitedWithCode(1), "^line 7: cannot run ATTACH in safe mode\n$");
  // Also on an already open connection whose authorizer was removed.
  sqlite3_set_authorizer(ctx.db, nullptr, nullptr);
  openDatabase(&ctx, 0);
  EXPECT_EXIT(sqlite3_exec(ctx.db, "SELECT Load_Extension('x')", nullptr, nullptr, nullptr),
              testing::ExitedWithCode(1),
              "^line 7: cannot use the load_extension\\(\\) function in safe mode\n$");
}

TEST_F(OpenDatabaseTest, ReadWholeFile) {
  std::string data("ab\0cd", 5);
  writeFile(path("f.bin"), data);
  int n = -1;
  std::unique_ptr<unsigned char, SqliteFree> a(readWholeFile(path("f.bin").c_str(), &n));
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(n, 5);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(a.get()), 5), data);
  EXPECT_EQ(a.get()[5], 0);
  writeFile(path("empty"), "");
  a.reset(readWholeFile(path("empty").c_str(), &n));
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(readWholeFile(path("missing").c_str(), &n), nullptr);
  EXPECT_EQ(readWholeFile(dir.c_str(), &n), nullptr);
}

}  // namespace
