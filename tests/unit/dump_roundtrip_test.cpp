// Data safety of .dump: a dump replayed into an empty database must rebuild
// the original exactly (schema, every value with its type and bytes, and the
// rowids with --preserve-rowids), and a damaged database must dump what can
// be read, report the damage inside the script and end with a rollback.
//
// The dump and the replay run the real sqlsh executable, found next to this
// test's build folder.  The original and the copy are compared through the
// engine's C interface.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/unit/shell_process.h"

namespace fs = std::filesystem;

namespace {

using shell_process::readFile;
using shell_process::writeFile;

std::string shellQuote(const std::string& s) {
  std::string r = "'";
  for (char c : s) {
    if (c == '\'') {
      r += "'\\''";
    } else {
      r += c;
    }
  }
  return r + "'";
}

struct RunResult {
  int status = -1;  // exit code, or -1 when the process did not exit normally
  std::string out;
  std::string err;
};

// Runs sqlsh with the arguments, standard input from zStdin (or none).
RunResult runShell(const fs::path& dir, const std::vector<std::string>& args,
                   const fs::path& stdinFile = {}) {
  const shell_process::ScopedEnv home("HOME", dir.string());
  std::string cmd =
      "cd " + shellQuote(dir.string()) + " && " + shellQuote(shell_process::shellPath());
  for (const auto& a : args) {
    cmd += ' ';
    cmd += shellQuote(a);
  }
  if (stdinFile.empty()) {
    cmd += " </dev/null";
  } else {
    cmd += " <";
    cmd += shellQuote(stdinFile.string());
  }
  cmd += " >run.out 2>run.err";
  int rc = std::system(cmd.c_str());
  RunResult r;
  if (rc != -1 && WIFEXITED(rc)) r.status = WEXITSTATUS(rc);
  r.out = readFile(dir / "run.out");
  r.err = readFile(dir / "run.err");
  return r;
}

struct Db {
  sqlite3* db = nullptr;
  explicit Db(const fs::path& path) { EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK); }
  ~Db() { sqlite3_close(db); }
  void exec(const std::string& sql) const {
    char* zErr = nullptr;
    int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &zErr);
    ASSERT_EQ(rc, SQLITE_OK) << (zErr ? zErr : "") << "\nin: " << sql;
  }
};

// One value, encoded with its type so that 1, 1.0 and '1' differ and floats
// compare bit for bit (-0.0 and 0.0 differ).
std::string encodeValue(sqlite3_stmt* pStmt, int i) {
  switch (sqlite3_column_type(pStmt, i)) {
    case SQLITE_INTEGER:
      return "i:" + std::to_string(sqlite3_column_int64(pStmt, i));
    case SQLITE_FLOAT: {
      double r = sqlite3_column_double(pStmt, i);
      unsigned char a[sizeof r];
      std::memcpy(a, &r, sizeof r);
      char zHex[2 * sizeof r + 1];
      for (size_t k = 0; k < sizeof r; k++) std::snprintf(zHex + 2 * k, 3, "%02x", a[k]);
      char zShow[40];
      std::snprintf(zShow, sizeof zShow, "%.17g", r);
      return std::string("r:") + zHex + "(" + zShow + ")";
    }
    case SQLITE_TEXT: {
      const char* z = reinterpret_cast<const char*>(sqlite3_column_text(pStmt, i));
      return "t:" + std::string(z, static_cast<size_t>(sqlite3_column_bytes(pStmt, i)));
    }
    case SQLITE_BLOB: {
      const char* z = static_cast<const char*>(sqlite3_column_blob(pStmt, i));
      return "b:" + std::string(z ? z : "", static_cast<size_t>(sqlite3_column_bytes(pStmt, i)));
    }
    default:
      return "n:";
  }
}

// The rows of a query, each row's values joined; sorted unless asked not to.
std::vector<std::string> queryRows(sqlite3* db, const std::string& sql, bool bSort = true) {
  std::vector<std::string> rows;
  sqlite3_stmt* pStmt = nullptr;
  int rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &pStmt, nullptr);
  EXPECT_EQ(rc, SQLITE_OK) << sqlite3_errmsg(db) << "\nin: " << sql;
  if (rc != SQLITE_OK) return rows;
  while (sqlite3_step(pStmt) == SQLITE_ROW) {
    std::string row;
    for (int i = 0; i < sqlite3_column_count(pStmt); i++) {
      row += encodeValue(pStmt, i);
      row += '\x1f';
    }
    rows.push_back(row);
  }
  EXPECT_EQ(sqlite3_finalize(pStmt), SQLITE_OK) << sqlite3_errmsg(db) << "\nin: " << sql;
  if (bSort) std::sort(rows.begin(), rows.end());
  return rows;
}

std::string quoteId(const std::string& name) {
  std::string r = "\"";
  for (char c : name) {
    r += c;
    if (c == '"') r += '"';
  }
  return r + "\"";
}

// The original database: every kind of object and value a dump must carry.
void buildCorpus(const Db& d) {
  d.exec(R"sql(
CREATE TABLE "select"("order" INTEGER, "a""b" TEXT, "c]d" REAL, "e--f" BLOB, "g;h", "line
feed", "x'y");
CREATE TABLE "br]ack[et"(v);
CREATE TABLE "t;DROP TABLE t0;--"(v);
CREATE TABLE "new
line"(v);
CREATE TABLE 'single''quote'(v);
CREATE TABLE [where](v);
CREATE TABLE t0(v);
CREATE TABLE r1(rowid TEXT, v);
CREATE TABLE r2(rowid, "_ROWID_", v);
CREATE TABLE r3(rowid, _rowid_, oid);
CREATE TABLE ipk(id INTEGER PRIMARY KEY, v);
CREATE TABLE ipkdesc(id INTEGER PRIMARY KEY DESC, v);
CREATE TABLE pk2(a INTEGER, b TEXT, PRIMARY KEY(a,b));
CREATE TABLE wr(k TEXT PRIMARY KEY, v) WITHOUT ROWID;
CREATE TABLE ai(id INTEGER PRIMARY KEY AUTOINCREMENT, v);
CREATE TABLE vals(v, note TEXT);
CREATE TABLE typed(i INTEGER, r REAL, t TEXT, b BLOB, n NUMERIC);
CREATE TABLE gen(a INTEGER, b INTEGER GENERATED ALWAYS AS (a*2) VIRTUAL, c AS (a||'x') STORED);
CREATE TABLE fk_parent(id INTEGER PRIMARY KEY);
CREATE TABLE fk_child(p REFERENCES fk_parent(id));
CREATE INDEX "idx--x" ON "select"("order");
CREATE UNIQUE INDEX "u""q" ON "br]ack[et"(v);
CREATE INDEX "i;x" ON vals(v);
CREATE INDEX expr_idx ON typed(i + 1, lower(t)) WHERE i > 0;
CREATE VIEW "v--1" AS SELECT 1 AS one -- a comment
  , 2 AS two;
CREATE VIEW "v;2" AS SELECT "order" FROM "select" /* c */;
CREATE TRIGGER "tr;1" AFTER INSERT ON ipk BEGIN
  INSERT INTO t0 VALUES('trigger fired'); -- must not fire during the replay
END;
CREATE VIRTUAL TABLE ft USING fts5(body, "ti-tle");
CREATE VIRTUAL TABLE rt USING rtree(id, x0, x1);
)sql");

  d.exec(R"sql(
INSERT INTO "select" VALUES(1, 'a"b', 1.5, X'00ff00', ';', 'x
y', 'it''s');
INSERT INTO "select" VALUES(NULL, NULL, NULL, NULL, NULL, NULL, NULL);
INSERT INTO "br]ack[et" VALUES(']'), ('[');
INSERT INTO "t;DROP TABLE t0;--" VALUES('--'), (';');
INSERT INTO "new
line" VALUES('nl');
INSERT INTO 'single''quote' VALUES('q');
INSERT INTO [where] VALUES(1);
INSERT INTO t0 VALUES('victim');
INSERT INTO r1(_rowid_, rowid, v) VALUES(10, 'r', 1), (-5, 's', 2), (9223372036854775807, 't', 3);
INSERT INTO r2(oid, rowid, "_ROWID_", v) VALUES(42, 'a', 'b', 'c');
INSERT INTO r3(_rowid_, rowid, oid) VALUES(1, 2, 3);
INSERT INTO ipk VALUES(-9223372036854775808, 'min'), (7, 'seven'), (9223372036854775807, 'max');
INSERT INTO ipkdesc(rowid, id, v) VALUES(100, 1, 'a'), (50, 2, 'b');
INSERT INTO pk2 VALUES(1, 'a'), (1, 'b');
INSERT INTO wr VALUES('k1', 1), ('k''2', X'00');
INSERT INTO ai(v) VALUES('a'), ('b'), ('c');
DELETE FROM ai WHERE v = 'c';
INSERT INTO typed VALUES(1, 2, 3, 4, 5), ('1', '2.5', 3.25, 'x', '7.0'), (NULL, 0, NULL, NULL, 'abc');
INSERT INTO gen(a) VALUES(1), (NULL), (-3);
INSERT INTO fk_parent VALUES(1);
INSERT INTO fk_child VALUES(1), (2);
INSERT INTO ft VALUES('hello world', 'it''s'), ('line
break', '--'), ('fünf ünïcödé', ';');
INSERT INTO rt VALUES(1, 0.5, 1.5), (2, -1e10, 1e10);
)sql");

  // The value corpus: every storage class with its awkward members.
  const char* const azValues[] = {
      "NULL",
      "0",
      "-1",
      "9223372036854775807",
      "-9223372036854775808",
      "0.1",
      "1.0/3",
      "2.0",
      "-2.5e-300",
      "1e-320",
      "2.2250738585072014e-308",
      "1.7976931348623157e308",
      "0.30000000000000004",
      "123456789012345678.0",
      "9.2233720368547758e18",
      "-9.2233720368547758e18",
      "1e15 + 0.3",
      "1e999",
      "-1e999",
      "''",
      "'it''s'",
      "'\"double\"'",
      "'a' || char(10) || 'b'",
      "'c' || char(13) || char(10) || 'd'",
      "char(13)",
      "char(10)",
      "'\\n and ' || char(10)",
      "'\\n \\012 \\r \\015 ' || char(10) || char(13)",
      "'''); DROP TABLE t0; --'",
      "'-- not a comment'",
      "'/* not a comment'",
      "'žćč 日本語 🙂'",
      "'tab' || char(9) || 'bell' || char(7)",
      "CAST(X'ff80fe' AS TEXT)",
      "'A' || char(0) || 'B'",
      "char(0, 1, 2, 10, 13)",
      "char(0)",
      "'it''s' || char(0) || char(13) || char(10)",
      "X''",
      "X'00'",
      "X'000102ff00'",
      "zeroblob(100)",
      "randomblob(3000)",
      "printf('%.*c', 5000, 'x')",
  };
  for (const char* zValue : azValues) {
    char* zSql = sqlite3_mprintf("INSERT INTO vals VALUES(%s, %Q)", zValue, zValue);
    d.exec(zSql);
    sqlite3_free(zSql);
  }
  d.exec("ANALYZE");
}

// The objects of a database as (type, name, tbl_name, sql) rows.  The engine
// keeps the white space before the ';' of a CREATE INDEX, and the script puts
// the ';' of a statement holding "--" on a line of its own, so trailing white
// space of the stored text is not compared.
std::vector<std::string> schemaRows(sqlite3* db) {
  return queryRows(
      db, "SELECT type, name, tbl_name, rtrim(sql, ' '||char(9,10,13)) FROM sqlite_schema");
}

std::vector<std::string> tableNames(sqlite3* db) {
  std::vector<std::string> names;
  for (const auto& row : queryRows(db, "SELECT name FROM sqlite_schema WHERE type='table'")) {
    names.push_back(row.substr(2, row.size() - 3));
  }
  return names;
}

// Name of the rowid a --preserve-rowids dump carries, or "" when none.
std::string preservedRowidName(sqlite3* db, const std::string& table) {
  for (const char* zAlias : {"rowid", "_rowid_", "oid"}) {
    auto taken = queryRows(db, "SELECT 1 FROM pragma_table_info(" + quoteId(table) +
                                   ") WHERE name = '" + zAlias + "' COLLATE NOCASE");
    if (!taken.empty()) continue;
    if (sqlite3_table_column_metadata(db, "main", table.c_str(), zAlias, nullptr, nullptr, nullptr,
                                      nullptr, nullptr) != SQLITE_OK) {
      return "";
    }
    return zAlias;
  }
  return "";
}

// The closing message of a dump that met errors, naming the first of them.
std::string incompleteDump(const std::string& zFirstError) {
  return "Error: .dump met errors reading the database (" + zFirstError +
         "); the script is incomplete\n";
}

class DumpRoundTrip : public ::testing::Test {
 protected:
  void SetUp() override {
    if (shell_process::shellPath().empty()) GTEST_SKIP() << "sqlsh is not built";
    char zTemplate[] = "/tmp/sqlsh-dump-XXXXXX";
    ASSERT_NE(mkdtemp(zTemplate), nullptr);
    dir = zTemplate;
  }
  void TearDown() override {
    if (!dir.empty()) fs::remove_all(dir);
  }

  // Dumps src with the options, replays the script into a new database and
  // returns its path.
  fs::path dumpAndReplay(const fs::path& src, const std::string& options, std::string* pScript) {
    RunResult dump = runShell(dir, {src.string(), options.empty() ? ".dump" : ".dump " + options});
    EXPECT_EQ(dump.status, 0) << dump.err;
    EXPECT_EQ(dump.err, "");
    fs::path script = dir / ("script" + std::to_string(++nRun) + ".sql");
    writeFile(script, dump.out);
    fs::path dst = dir / ("replay" + std::to_string(nRun) + ".db");
    RunResult replay = runShell(dir, {dst.string()}, script);
    EXPECT_EQ(replay.status, 0) << replay.err;
    EXPECT_EQ(replay.err, "") << "script:\n" << dump.out;
    EXPECT_EQ(replay.out, "");
    if (pScript) *pScript = dump.out;
    return dst;
  }

  fs::path dir;
  int nRun = 0;
};

// A row for a failure message: control and non-ASCII bytes escaped, cut.
std::string showRow(const std::string& row) {
  std::string r;
  for (unsigned char c : row) {
    if (r.size() > 160) return r + "...";
    if (c == 0x1f) {
      r += " | ";
    } else if (c < 0x20 || c >= 0x7f) {
      char z[8];
      std::snprintf(z, sizeof z, "\\x%02x", c);
      r += z;
    } else {
      r += static_cast<char>(c);
    }
  }
  return r;
}

// Compares two sorted row lists and reports only the rows that differ.
void expectSameRows(const std::vector<std::string>& want, const std::vector<std::string>& got,
                    const std::string& what) {
  std::vector<std::string> missing;
  std::vector<std::string> extra;
  std::set_difference(want.begin(), want.end(), got.begin(), got.end(),
                      std::back_inserter(missing));
  std::set_difference(got.begin(), got.end(), want.begin(), want.end(), std::back_inserter(extra));
  std::string msg;
  for (const auto& row : missing) msg += "  lost:   " + showRow(row) + "\n";
  for (const auto& row : extra) msg += "  gained: " + showRow(row) + "\n";
  EXPECT_TRUE(missing.empty() && extra.empty()) << what << "\n" << msg;
}

void expectSameDatabase(sqlite3* a, sqlite3* b, bool bRowids) {
  expectSameRows(schemaRows(a), schemaRows(b), "schema");
  for (const auto& name : tableNames(a)) {
    std::string cols = "*";
    if (bRowids) {
      std::string zRowid = preservedRowidName(a, name);
      if (!zRowid.empty()) cols = zRowid + ", *";
    }
    std::string sql = "SELECT " + cols + " FROM " + quoteId(name);
    expectSameRows(queryRows(a, sql), queryRows(b, sql), "table " + name);
  }
}

TEST_F(DumpRoundTrip, CorpusRebuildsExactly) {
  fs::path src = dir / "orig.db";
  {
    Db d(src);
    buildCorpus(d);
  }
  Db orig(src);
  // Every variant carries every value, carriage returns before line feeds
  // (which --newlines must not write literally) and NUL bytes included.
  struct Variant {
    const char* zOptions;
    bool bRowids;
  } variants[] = {
      {"", false},
      {"--newlines", false},
      {"--preserve-rowids", true},
      {"--preserve-rowids --newlines", true},
  };
  for (const auto& v : variants) {
    SCOPED_TRACE(std::string(".dump ") + v.zOptions);
    std::string script;
    fs::path dst = dumpAndReplay(src, v.zOptions, &script);
    Db copy(dst);
    expectSameDatabase(orig.db, copy.db, v.bRowids);
    EXPECT_EQ(queryRows(copy.db, "PRAGMA integrity_check"), std::vector<std::string>{"t:ok\x1f"});
    EXPECT_EQ(queryRows(copy.db, "SELECT rowid, body FROM ft WHERE ft MATCH 'hello OR break'"),
              queryRows(orig.db, "SELECT rowid, body FROM ft WHERE ft MATCH 'hello OR break'"));
    copy.exec("INSERT INTO ft(ft) VALUES('integrity-check')");
    EXPECT_EQ(queryRows(copy.db, "SELECT id FROM rt WHERE x0 < 0"),
              std::vector<std::string>{"i:2\x1f"});
  }
}

// The other ways of copying a database keep the same corpus: .backup and .save
// copy it page for page, a dump replayed through .read rebuilds it, and
// .clone copies it table by table (without the engine's own tables, which
// cannot be made by name; a virtual table's content comes over in its shadow
// tables, and a table with generated columns by its stored columns).
TEST_F(DumpRoundTrip, BackupSaveReadAndCloneCopyTheCorpus) {
  fs::path src = dir / "orig.db";
  {
    Db d(src);
    buildCorpus(d);
  }
  Db orig(src);
  for (const char* zCommand : {".backup", ".save"}) {
    SCOPED_TRACE(zCommand);
    fs::path dst = dir / (std::string(zCommand + 1) + ".db");
    RunResult run = runShell(dir, {src.string(), std::string(zCommand) + " " + dst.string()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    Db copy(dst);
    expectSameDatabase(orig.db, copy.db, true);
  }
  {
    SCOPED_TRACE(".read of a dump");
    RunResult dump = runShell(dir, {src.string(), ".dump"});
    ASSERT_EQ(dump.status, 0) << dump.err;
    writeFile(dir / "dump.sql", dump.out);
    fs::path dst = dir / "read.db";
    RunResult run = runShell(dir, {dst.string(), ".read dump.sql"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    Db copy(dst);
    expectSameDatabase(orig.db, copy.db, false);
  }
  {
    SCOPED_TRACE(".clone");
    fs::path dst = dir / "clone.db";
    RunResult run = runShell(dir, {src.string(), ".clone " + dst.string()});
    EXPECT_EQ(run.status, 0) << run.err;
    Db copy(dst);
    for (const auto& name : tableNames(orig.db)) {
      if (name.rfind("sqlite_", 0) == 0) continue;
      std::string sql = "SELECT * FROM " + quoteId(name);
      expectSameRows(queryRows(orig.db, sql), queryRows(copy.db, sql), "table " + name);
    }
    const char* zSchema = "SELECT type, name, sql FROM sqlite_schema WHERE name NOT LIKE 'sqlite%'";
    expectSameRows(queryRows(orig.db, zSchema), queryRows(copy.db, zSchema), "schema");
    // The engine's own tables are reported; the shadow tables are not made
    // twice.
    EXPECT_EQ(run.err.find("already exists"), std::string::npos) << run.err;
    copy.exec("INSERT INTO ft(ft) VALUES('integrity-check')");
    EXPECT_EQ(queryRows(copy.db, "PRAGMA integrity_check"), std::vector<std::string>{"t:ok\x1f"});
  }
}

// .clone reads a plain file's tables with one INSERT ... SELECT each where
// that gives the rows the row-by-row copy gives; inside a transaction it
// copies row by row.  Both must leave the same file contents (rowids too)
// and write the same bytes, spinner marks included.  (Generated columns are
// left out: row by row they cannot be inserted, and that table stays empty.)
TEST_F(DumpRoundTrip, CloneByWholeTablesEqualsCloneRowByRow) {
  fs::path src = dir / "orig.db";
  {
    Db d(src);
    buildCorpus(d);
    d.exec(
        "CREATE TABLE many(a, b);"
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<25000)"
        " INSERT INTO many SELECT i, hex(i) FROM n;"
        "CREATE TABLE gaps(a); INSERT INTO gaps VALUES(1), (2), (3); DELETE FROM gaps WHERE a=2;"
        "CREATE TABLE negative(a); INSERT INTO negative(rowid, a) VALUES(-1, 'x'), (2, 'y');"
        "CREATE TABLE described(id INTEGER PRIMARY KEY, description);"
        "INSERT INTO described VALUES(5, 'five'), (9, 'nine');");
  }
  RunResult whole = runShell(dir, {src.string(), ".clone whole.db"});
  RunResult byRow = runShell(dir, {src.string(), "BEGIN", ".clone byrow.db", "COMMIT"});
  EXPECT_EQ(whole.status, byRow.status);
  EXPECT_EQ(whole.out, byRow.out);
  EXPECT_EQ(whole.err, byRow.err);
  EXPECT_NE(whole.out.find("many... /\b-\bdone\n"), std::string::npos) << whole.out;
  Db a(dir / "whole.db");
  Db b(dir / "byrow.db");
  expectSameDatabase(a.db, b.db, true);
}

// Shadow tables listed before their virtual table (as a replayed dump or an
// edited schema may leave them): .clone makes the virtual table first, and a
// contentless full-text index, which cannot be read back through the virtual
// table, keeps its content.
TEST_F(DumpRoundTrip, CloneCopiesShadowTablesMetBeforeTheirVirtualTable) {
  fs::path src = dir / "orig.db";
  {
    Db d(dir / "model.db");
    d.exec(
        "CREATE VIRTUAL TABLE rt USING rtree(id, x0, x1);"
        "INSERT INTO rt VALUES(1, 0, 1), (2, -5, -1), (3, 2, 9);"
        "CREATE VIRTUAL TABLE fc USING fts5(body, content='');"
        "INSERT INTO fc(rowid, body) VALUES(7, 'secret words'), (8, 'other text');");
  }
  {
    // The shadow tables first, as ordinary tables with their rows, then the
    // virtual tables' entries written into the schema.
    Db d(src);
    d.exec("ATTACH '" + (dir / "model.db").string() + "' AS m");
    for (const auto& row :
         queryRows(d.db, "SELECT name FROM m.sqlite_schema WHERE rootpage > 0 ORDER BY rowid")) {
      std::string name = row.substr(2, row.size() - 3);
      auto create = queryRows(d.db, "SELECT sql FROM m.sqlite_schema WHERE name = '" + name + "'");
      d.exec(create[0].substr(2, create[0].size() - 3));
      d.exec("INSERT INTO main." + quoteId(name) + " SELECT * FROM m." + quoteId(name));
    }
    d.exec(
        "PRAGMA writable_schema=ON;"
        "INSERT INTO sqlite_schema SELECT * FROM m.sqlite_schema WHERE rootpage = 0;"
        "PRAGMA writable_schema=OFF;");
  }
  fs::path dst = dir / "clone.db";
  RunResult run = runShell(dir, {src.string(), ".clone " + dst.string()});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  Db orig(dir / "model.db");
  Db copy(dst);
  for (const char* zSql : {"SELECT id, x0, x1 FROM rt WHERE x1 > 0", "SELECT * FROM rt_node",
                           "SELECT rowid FROM fc WHERE fc MATCH 'secret'", "SELECT * FROM fc_data",
                           "PRAGMA integrity_check"}) {
    SCOPED_TRACE(zSql);
    EXPECT_EQ(queryRows(copy.db, zSql), queryRows(orig.db, zSql));
  }
}

TEST_F(DumpRoundTrip, PatternDumpOfAVirtualTableCarriesItsShadowTables) {
  fs::path src = dir / "orig.db";
  {
    Db d(src);
    d.exec(
        "CREATE TABLE other(x); INSERT INTO other VALUES(1);"
        "CREATE VIRTUAL TABLE ft USING fts5(body);"
        "INSERT INTO ft VALUES('alpha beta'), ('gamma');");
  }
  std::string script;
  fs::path dst = dumpAndReplay(src, "ft", &script);
  EXPECT_EQ(script.find("other"), std::string::npos) << script;
  Db orig(src);
  Db copy(dst);
  EXPECT_EQ(queryRows(copy.db, "SELECT name FROM sqlite_schema WHERE name = 'other'"),
            std::vector<std::string>{});
  for (const char* zTable : {"ft", "ft_data", "ft_idx", "ft_content", "ft_docsize", "ft_config"}) {
    std::string sql = std::string("SELECT * FROM ") + zTable;
    EXPECT_EQ(queryRows(orig.db, sql), queryRows(copy.db, sql)) << zTable;
  }
  EXPECT_EQ(queryRows(copy.db, "SELECT body FROM ft WHERE ft MATCH 'beta'"),
            std::vector<std::string>{"t:alpha beta\x1f"});
}

// Damage one page of a copy in several places; every dump must finish,
// report the damage as comments, end in the rollback line, and hold every
// row of the undamaged tables.
TEST_F(DumpRoundTrip, DamagedPageDumpsWhatCanBeRead) {
  fs::path src = dir / "orig.db";
  {
    Db d(src);
    d.exec("PRAGMA page_size=1024");
    d.exec(
        "CREATE TABLE a(id INTEGER PRIMARY KEY, v TEXT);"
        "CREATE TABLE b(id INTEGER PRIMARY KEY, v TEXT);"
        "CREATE INDEX bv ON b(v);"
        "CREATE TABLE c(id INTEGER PRIMARY KEY, v TEXT);"
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<400)"
        "  INSERT INTO a SELECT i, printf('a-%04d-%.*c', i, 60, 'x') FROM n;"
        "INSERT INTO b SELECT id, replace(v, 'a-', 'b-') FROM a;"
        "INSERT INTO c SELECT id, replace(v, 'a-', 'c-') FROM a;");
  }
  Db orig(src);
  // Pages to damage: a leaf and the root (interior) page of b, and a leaf of
  // the index on b.
  std::vector<std::pair<std::string, int>> targets;
  for (const char* zQuery :
       {"SELECT pageno FROM dbstat WHERE name='b' AND pagetype='leaf' ORDER BY pageno LIMIT 1 "
        "OFFSET 3",
        "SELECT pageno FROM dbstat WHERE name='b' AND pagetype='internal' LIMIT 1",
        "SELECT pageno FROM dbstat WHERE name='bv' AND pagetype='leaf' LIMIT 1"}) {
    auto rows = queryRows(orig.db, zQuery);
    ASSERT_EQ(rows.size(), 1u) << zQuery;
    targets.emplace_back(zQuery, std::stoi(rows[0].substr(2)));
  }
  std::string aRows = "SELECT * FROM a";
  std::string cRows = "SELECT * FROM c";
  auto bOrig = queryRows(orig.db, "SELECT * FROM b");
  for (const auto& [zWhat, iPage] : targets) {
    SCOPED_TRACE(zWhat);
    fs::path damaged = dir / ("damaged" + std::to_string(iPage) + ".db");
    fs::copy_file(src, damaged, fs::copy_options::overwrite_existing);
    {
      std::fstream f(damaged, std::ios::binary | std::ios::in | std::ios::out);
      f.seekp(static_cast<std::streamoff>(iPage - 1) * 1024);
      std::string garbage(1024, '\0');
      for (size_t k = 0; k < garbage.size(); k++) garbage[k] = static_cast<char>(k * 37 + 11);
      f.write(garbage.data(), static_cast<std::streamsize>(garbage.size()));
    }
    RunResult dump = runShell(dir, {damaged.string(), ".dump"});
    bool bIndexPage = std::strstr(zWhat.c_str(), "'bv'") != nullptr;
    if (bIndexPage) {
      // The rows are read from the table, so a damaged index loses nothing.
      EXPECT_EQ(dump.status, 0) << dump.err;
      EXPECT_TRUE(dump.out.ends_with("COMMIT;\n")) << dump.out.substr(dump.out.size() - 200);
    } else {
      // An incomplete script must not pass for a good backup.
      EXPECT_EQ(dump.status, 1);
      EXPECT_EQ(dump.err, incompleteDump("database disk image is malformed"));
      EXPECT_NE(dump.out.find("/****** CORRUPTION ERROR *******/\n"), std::string::npos);
      ASSERT_TRUE(dump.out.ends_with("\nROLLBACK; -- due to errors\n"));
    }
    // Replay what was read, committing it, and compare.
    std::string script = dump.out;
    if (!bIndexPage) {
      script.resize(script.size() - std::strlen("ROLLBACK; -- due to errors\n"));
      script += "COMMIT;\n";
    }
    fs::path scriptFile = dir / "damaged.sql";
    writeFile(scriptFile, script);
    fs::path dst = dir / ("rescued" + std::to_string(iPage) + ".db");
    // Rows read twice (once from each end) make the replay report duplicate
    // keys; those statements fail alone and the rest is committed.
    RunResult replay = runShell(dir, {dst.string()}, scriptFile);
    EXPECT_NE(replay.status, -1) << replay.err;
    Db copy(dst);
    EXPECT_EQ(queryRows(orig.db, aRows), queryRows(copy.db, aRows));
    EXPECT_EQ(queryRows(orig.db, cRows), queryRows(copy.db, cRows));
    auto bCopy = queryRows(copy.db, "SELECT DISTINCT * FROM b");
    EXPECT_TRUE(std::includes(bOrig.begin(), bOrig.end(), bCopy.begin(), bCopy.end()));
    bool bLeafPage = std::strstr(zWhat.c_str(), "'leaf'") != nullptr && !bIndexPage;
    if (bLeafPage) {
      EXPECT_GE(bCopy.size(), bOrig.size() - 30);
    }
    if (bIndexPage) {
      EXPECT_EQ(bCopy, bOrig);
    }
  }
}

// A damaged page of the schema table: the dump lists what it can from the
// other end, reports the damage, and must not claim success.
TEST_F(DumpRoundTrip, DamagedSchemaPageEndsInRollback) {
  fs::path src = dir / "orig.db";
  int iPage = 0;
  {
    Db d(src);
    d.exec("PRAGMA page_size=1024");
    for (int i = 0; i < 40; i++) {
      d.exec("CREATE TABLE t" + std::to_string(i) + "(id INTEGER PRIMARY KEY, " +
             std::string(60, 'a') + " TEXT, " + std::string(60, 'b') + " TEXT)");
    }
    auto rows = queryRows(d.db,
                          "SELECT pageno FROM dbstat WHERE name='sqlite_schema' AND "
                          "pagetype='leaf' ORDER BY pageno LIMIT 1 OFFSET 2");
    ASSERT_EQ(rows.size(), 1u);
    iPage = std::stoi(rows[0].substr(2));
  }
  {
    std::fstream f(src, std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(static_cast<std::streamoff>(iPage - 1) * 1024);
    std::string garbage(1024, '\x5a');
    f.write(garbage.data(), static_cast<std::streamsize>(garbage.size()));
  }
  RunResult dump = runShell(dir, {src.string(), ".dump"});
  EXPECT_EQ(dump.status, 1);
  EXPECT_NE(dump.err.find("; the script is incomplete\n"), std::string::npos) << dump.err;
  EXPECT_NE(dump.out.find("/****** CORRUPTION ERROR *******/\n"), std::string::npos);
  EXPECT_TRUE(dump.out.ends_with("\nROLLBACK; -- due to errors\n")) << dump.out;
}

// A database cut short inside its first page, and a file that is no database
// at all: the schema cannot be read, which the dump reports on standard error
// and in the script instead of writing the script of an empty database.
// --data-only writes no transaction lines but fails all the same.
TEST_F(DumpRoundTrip, UnreadableFirstPageIsReportedAsDamage) {
  fs::path src = dir / "orig.db";
  {
    Db d(src);
    d.exec("CREATE TABLE t(a, b); INSERT INTO t VALUES(1, 'x'); CREATE INDEX tb ON t(b);");
  }
  const std::string whole = readFile(src);
  ASSERT_GT(whole.size(), 1024u);
  writeFile(dir / "cut.db", whole.substr(0, 512));
  writeFile(dir / "text.db", "this is a text file, not a database\n");
  struct Case {
    const char* zFile;
    const char* zOptions;
    const char* zEngineMessage;
  } cases[] = {
      {"cut.db", "", "database disk image is malformed"},
      {"cut.db", " --data-only", "database disk image is malformed"},
      {"text.db", "", "file is not a database"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.zFile) + c.zOptions);
    RunResult dump = runShell(dir, {c.zFile, std::string(".dump") + c.zOptions});
    EXPECT_EQ(dump.status, 1);
    EXPECT_EQ(dump.err,
              std::string("Error: ") + c.zEngineMessage + "\n" + incompleteDump(c.zEngineMessage));
    EXPECT_NE(dump.out.find(std::string("/****** ERROR: ") + c.zEngineMessage + " ******/\n"),
              std::string::npos)
        << dump.out;
    EXPECT_EQ(dump.out.find("COMMIT;"), std::string::npos) << dump.out;
    if (c.zOptions[0] == 0) {
      EXPECT_TRUE(dump.out.ends_with("\nROLLBACK; -- due to errors\n"));
    }
  }
}

// Negative zero is a value of its own (1/-0.0 is -inf): a dump must keep its
// sign.
TEST_F(DumpRoundTrip, NegativeZeroKeepsItsSign) {
  fs::path src = dir / "orig.db";
  {
    Db d(src);
    d.exec("CREATE TABLE z(v); INSERT INTO z VALUES(-0.0), (0.0);");
  }
  std::string script;
  fs::path dst = dumpAndReplay(src, "", &script);
  EXPECT_NE(script.find("INSERT INTO z VALUES(-0.0);\n"), std::string::npos) << script;
  Db orig(src);
  Db copy(dst);
  expectSameRows(queryRows(orig.db, "SELECT * FROM z"), queryRows(copy.db, "SELECT * FROM z"),
                 "table z");
}

}  // namespace
