// .import run in-process: tables imported from tricky CSV files must equal an
// independent RFC 4180 reading of the same bytes; the command's results,
// messages and transactions.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "shell/commands/Commands.h"
#include "shell/core/ShellContext.h"

namespace import_command_test {

using Value = std::optional<std::string>;  // nullopt is SQL NULL
using Rows = std::vector<std::vector<Value>>;

// A reference reader: RFC 4180 records (CRLF or LF line ends, quoted fields
// with doubled quotes, line ends inside quotes kept), a leading UTF-8
// byte-order mark ignored, a quote inside an unquoted field taken literally.
std::vector<std::vector<std::string>> referenceParse(std::string in) {
  if (in.rfind("\xEF\xBB\xBF", 0) == 0) in.erase(0, 3);
  std::vector<std::vector<std::string>> records;
  std::vector<std::string> record;
  std::string field;
  enum { FieldStart, Unquoted, Quoted, QuoteInQuoted } state = FieldStart;
  auto endField = [&] {
    record.push_back(field);
    field.clear();
  };
  auto endRecord = [&] {
    endField();
    records.push_back(record);
    record.clear();
  };
  for (size_t i = 0; i < in.size(); i++) {
    const char c = in[i];
    const bool bLineEnd = c == '\n' || (c == '\r' && i + 1 < in.size() && in[i + 1] == '\n');
    switch (state) {
      case Quoted:
        if (c == '"') {
          state = QuoteInQuoted;
        } else {
          field += c;
        }
        continue;
      case QuoteInQuoted:
        if (c == '"') {
          field += '"';
          state = Quoted;
          continue;
        }
        break;
      case FieldStart:
        if (c == '"') {
          state = Quoted;
          continue;
        }
        break;
      case Unquoted:
        break;
    }
    if (c == ',') {
      endField();
      state = FieldStart;
    } else if (bLineEnd) {
      if (c == '\r') i++;
      endRecord();
      state = FieldStart;
    } else {
      field += c;
      state = Unquoted;
    }
  }
  if (state != FieldStart || !record.empty()) endRecord();
  return records;
}

struct Outcome {
  int rc;
  std::string out;
  std::string err;
};

class ImportCommand : public testing::Test {
 protected:
  void SetUp() override {
    bSavedStdinIsTty = bStdinIsTty;
    bStdinIsTty = 0;
    std::memset(static_cast<void*>(&ctx), 0, sizeof(ctx));
    ctx.eMode = ctx.eModeNow = OutputMode::List;
    ctx.pConn = &ctx.aConn[0];
    setSettingText(ctx.zColSep, "|");
    setSettingText(ctx.zRowSep, "\n");
    char zDir[] = "/tmp/import_test_XXXXXX";
    dir = mkdtemp(zDir);
    ASSERT_EQ(sqlite3_open((dir + "/test.db").c_str(), &ctx.db), SQLITE_OK);
  }

  void TearDown() override {
    bStdinIsTty = bSavedStdinIsTty;
    sqlite3_close(ctx.db);
    std::string cmd = "rm -rf '" + dir + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
  }

  std::string path(const std::string& name) { return dir + "/" + name; }

  void writeFile(const std::string& name, const std::string& body) {
    FILE* f = std::fopen(path(name).c_str(), "wb");
    std::fwrite(body.data(), 1, body.size(), f);
    std::fclose(f);
  }

  // Runs .import with the words (blank-separated; no quoting needed here).
  Outcome run(const std::vector<std::string>& words) {
    std::vector<std::string> store = {".import"};
    store.insert(store.end(), words.begin(), words.end());
    std::vector<char*> azArg;
    for (auto& w : store) azArg.push_back(w.data());
    azArg.push_back(nullptr);
    char* zOut = nullptr;
    size_t nOut = 0;
    ctx.pOut = open_memstream(&zOut, &nOut);
    testing::internal::CaptureStderr();
    Outcome r;
    r.rc = doImport(&ctx, static_cast<int>(store.size()), azArg.data());
    r.err = testing::internal::GetCapturedStderr();
    std::fclose(ctx.pOut);
    ctx.pOut = nullptr;
    r.out.assign(zOut, nOut);
    std::free(zOut);
    return r;
  }

  void exec(const char* zSql) {
    char* zErr = nullptr;
    ASSERT_EQ(sqlite3_exec(ctx.db, zSql, nullptr, nullptr, &zErr), SQLITE_OK) << zErr;
  }

  Rows rows(const std::string& table) {
    Rows result;
    StmtPtr pStmt = prepareStmt(ctx.db, ("SELECT * FROM \"" + table + "\" ORDER BY rowid").c_str());
    EXPECT_TRUE(pStmt) << sqlite3_errmsg(ctx.db);
    while (pStmt && sqlite3_step(pStmt.get()) == SQLITE_ROW) {
      std::vector<Value> row;
      for (int i = 0; i < sqlite3_column_count(pStmt.get()); i++) {
        const char* z = reinterpret_cast<const char*>(sqlite3_column_text(pStmt.get(), i));
        if (z) {
          row.emplace_back(
              std::string(z, static_cast<size_t>(sqlite3_column_bytes(pStmt.get(), i))));
        } else {
          row.emplace_back(std::nullopt);
        }
      }
      result.push_back(row);
    }
    return result;
  }

  std::vector<std::string> columns(const std::string& table) {
    std::vector<std::string> names;
    StmtPtr pStmt = prepareStmt(
        ctx.db, ("SELECT name FROM pragma_table_info('" + table + "') ORDER BY cid").c_str());
    while (pStmt && sqlite3_step(pStmt.get()) == SQLITE_ROW) {
      names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(pStmt.get(), 0)));
    }
    return names;
  }

  ShellContext ctx;
  std::string dir;
  int bSavedStdinIsTty = 1;
};

// Table rows from reference records: short records filled with NULL, extra
// fields dropped.
Rows expectedRows(const std::vector<std::vector<std::string>>& records, size_t iFirst,
                  size_t nCol) {
  Rows out;
  for (size_t i = iFirst; i < records.size(); i++) {
    std::vector<Value> row;
    for (size_t j = 0; j < nCol; j++) {
      row.emplace_back(j < records[i].size() ? Value(records[i][j]) : std::nullopt);
    }
    out.push_back(row);
  }
  return out;
}

TEST_F(ImportCommand, TablesEqualAnRfc4180Reading) {
  std::string wide;
  for (int i = 0; i < 1500; i++) wide += (i ? "," : "") + std::string("c") + std::to_string(i);
  wide += "\n";
  for (int r = 0; r < 3; r++) {
    for (int i = 0; i < 1500; i++) {
      wide += (i ? "," : "") +
              ((i + r) % 7 ? std::to_string(i * r) : "\"q,\"\"" + std::to_string(i) + "\"");
    }
    wide += "\r\n";
  }
  const std::string files[] = {
      "a,b,c\n1,2,3\n4,5,6\n",
      "a,b\r\n\"x,y\",\"line1\nline2\"\r\n\"crlf\r\ninside\",\"\"\"quoted\"\" word\"\r\n",
      "a,b,c\n,\"\",\n\"\",,\"\"\n",  // empty fields, quoted and not
      "\xEF\xBB\xBF"
      "id,name\n1,\xC3\xA9t\xC3\xA9\n2,\xE6\x97\xA5\n",  // byte-order mark, UTF-8
      "a,b,c\n1\n1,2\n1,2,3,4,5\n\n7,8,9",               // ragged rows, no final newline
      "h1,h2\n x , y \nq\"uote,mid\"dle\n\"a\"\"\"\"b\",\"\"\"\"\n",
      "h\n\"\"\"\"\n\"\n\"\n\"\r\n\"\n",
      wide,
  };
  int iFile = 0;
  for (const auto& body : files) {
    SCOPED_TRACE("file " + std::to_string(iFile));
    const std::string name = "f" + std::to_string(iFile) + ".csv";
    const std::string table = "t" + std::to_string(iFile++);
    writeFile(name, body);
    Outcome r = run({"--csv", path(name), table});
    EXPECT_EQ(r.rc, 0) << r.err;
    auto records = referenceParse(body);
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(columns(table), records[0]);
    EXPECT_EQ(rows(table), expectedRows(records, 1, records[0].size()));

    // Into the existing table, every record is data.
    r = run({"--csv", path(name), table});
    EXPECT_EQ(rows(table).size(), 2 * records.size() - 1);
  }
}

TEST_F(ImportCommand, RaggedRowsAreReported) {
  writeFile("r.csv", "a,b,c\n1\n1,2\n1,2,3,4,5\n\n7,8,9");
  Outcome r = run({"--csv", path("r.csv"), "t"});
  const std::string f = path("r.csv");
  EXPECT_EQ(r.err, f + ":2: expected 3 columns but found 1 - filling the rest with NULL\n" + f +
                       ":3: expected 3 columns but found 2 - filling the rest with NULL\n" + f +
                       ":4: expected 3 columns but found 5 - extras ignored\n" + f +
                       ":5: expected 3 columns but found 1 - filling the rest with NULL\n");
  EXPECT_EQ(r.rc, 0);
  EXPECT_EQ(rows("t").size(), 5u);
}

// Every rejected row is reported and fails the command; accepted rows stay.
TEST_F(ImportCommand, RejectedRowsFailTheCommand) {
  exec("CREATE TABLE t(a INTEGER PRIMARY KEY, b TEXT NOT NULL)");
  writeFile("d.csv", "1,x\n1,dup\n2\n3,z\n");
  Outcome r = run({"--csv", path("d.csv"), "t", "-v"});
  const std::string f = path("d.csv");
  EXPECT_EQ(r.rc, 1);
  EXPECT_EQ(r.err, f + ":2: INSERT failed: UNIQUE constraint failed: t.a\n" + f +
                       ":3: expected 2 columns but found 1 - filling the rest with NULL\n" + f +
                       ":3: INSERT failed: NOT NULL constraint failed: t.b\n");
  EXPECT_EQ(r.out, "Added 2 rows with 2 errors using 4 lines of input\n");
  EXPECT_EQ(rows("t"), (Rows{{"1", "x"}, {"3", "z"}}));
  EXPECT_EQ(sqlite3_get_autocommit(ctx.db), 1);
}

TEST_F(ImportCommand, InsideAnOpenTransaction) {
  exec("CREATE TABLE t(a,b); BEGIN; INSERT INTO t VALUES('before',0)");
  writeFile("d.csv", "1,2\n3,4\n");
  Outcome r = run({"--csv", path("d.csv"), "t"});
  EXPECT_EQ(r.rc, 0);
  EXPECT_EQ(sqlite3_get_autocommit(ctx.db), 0);
  exec("ROLLBACK");
  EXPECT_TRUE(rows("t").empty());
}

// When a failed insert takes the whole transaction with it, the rows before
// it are gone: the import must stop there and say so, and no later row may be
// committed on its own.  A full database (the page limit reached with a small
// cache, so that pages spill during the import) and a trigger's
// RAISE(ROLLBACK), in the import's own transaction and in the user's.
TEST_F(ImportCommand, EngineRollbackStopsTheImport) {
  std::string body;
  for (int i = 1; i <= 3000; i++) body += std::to_string(i) + "," + std::string(100, 'x') + "\n";
  writeFile("d.csv", body);
  const std::string f = path("d.csv");
  struct Case {
    const char* zWhat;
    const char* zSetup;
    const char* zFirstError;  // the INSERT failure, up to the line number
    const char* zFailure;     // the engine's message
  } cases[] = {
      {"full database", "PRAGMA cache_size=10; PRAGMA max_page_count=30;", nullptr,
       "database or disk is full"},
      {"trigger",
       "CREATE TRIGGER tr BEFORE INSERT ON t WHEN new.a = '6' "
       "BEGIN SELECT RAISE(ROLLBACK, 'boom'); END;",
       ":6: INSERT failed: boom\n", "boom"},
      {"trigger in the user's transaction",
       "CREATE TRIGGER tr BEFORE INSERT ON t WHEN new.a = '6' "
       "BEGIN SELECT RAISE(ROLLBACK, 'boom'); END; BEGIN; INSERT INTO t VALUES('mine', 0);",
       ":6: INSERT failed: boom\n", "boom"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.zWhat);
    exec("DROP TABLE IF EXISTS t; CREATE TABLE t(a, b)");
    exec(c.zSetup);
    Outcome r = run({"--csv", "-v", f, "t"});
    EXPECT_EQ(r.rc, 1);
    // Exactly one failure, then the stop, naming the same line.
    const std::string zFailed = ": INSERT failed: " + std::string(c.zFailure) + "\n";
    const size_t iColon = r.err.find(':', f.size() + 1);
    ASSERT_EQ(r.err.rfind(f + ":", 0), 0u) << r.err;
    ASSERT_NE(iColon, std::string::npos) << r.err;
    const std::string zAt = r.err.substr(0, iColon);  // "FILE:LINE"
    const int iLine = std::stoi(zAt.substr(f.size() + 1));
    if (c.zFirstError) {
      EXPECT_EQ(r.err.substr(f.size(), std::strlen(c.zFirstError)), c.zFirstError);
    }
    EXPECT_EQ(r.err,
              zAt + zFailed + zAt + ": import stopped: the transaction was rolled back, so the " +
                  std::to_string(iLine - 1) + " rows before this line are not in the table\n");
    EXPECT_EQ(r.out,
              "Added 0 rows with 1 errors using " + std::to_string(iLine) + " lines of input\n");
    EXPECT_EQ(sqlite3_get_autocommit(ctx.db), 1);
    EXPECT_TRUE(rows("t").empty());
    exec("DROP TRIGGER IF EXISTS tr; PRAGMA max_page_count=4294967294; PRAGMA cache_size=-2000");
  }
}

// A commit that fails (here another connection's read lock keeps the writer
// out) is reported, and the import's transaction is ended there instead of
// staying open for whatever statement comes next to commit.
TEST_F(ImportCommand, FailedCommitEndsTheTransaction) {
  exec("CREATE TABLE t(a, b)");
  writeFile("d.csv", "1,2\n3,4\n");
  sqlite3* dbReader = nullptr;
  ASSERT_EQ(sqlite3_open(path("test.db").c_str(), &dbReader), SQLITE_OK);
  sqlite3_stmt* pRead = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(dbReader, "SELECT * FROM sqlite_schema", -1, &pRead, nullptr),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_step(pRead), SQLITE_ROW);  // holds the read lock
  Outcome r = run({"--csv", "-v", path("d.csv"), "t"});
  sqlite3_finalize(pRead);
  sqlite3_close(dbReader);
  EXPECT_EQ(r.rc, 1);
  EXPECT_EQ(r.err, "Error: database is locked\n" + path("d.csv") +
                       ": the import was rolled back: its 2 rows are not in the table\n");
  EXPECT_EQ(r.out, "Added 0 rows with 0 errors using 2 lines of input\n");
  EXPECT_EQ(sqlite3_get_autocommit(ctx.db), 1);
  EXPECT_TRUE(rows("t").empty());
}

// The exit status of a command read through "|" is checked once its output
// has been read to the end: a failing command fails the import (the rows it
// did write are kept), and is reported by name.
TEST_F(ImportCommand, FailingCommandFailsTheImport) {
  writeFile("d.csv", "a,b\n1,2\n");
  const std::string cat = "cat " + path("d.csv");
  struct Case {
    std::string zSource;
    int rc;
    std::string err;
    size_t nRows;
  } cases[] = {
      {"|" + cat, 0, "", 1},
      {"|" + cat + "; exit 3", 1, "Error: command \"" + cat + "; exit 3\" exited with status 3\n",
       1},
      {"|" + cat + "; kill -TERM $$", 1,
       "Error: command \"" + cat + "; kill -TERM $$\" was ended by signal 15\n", 1},
      {"|false", 1, "<pipe>: empty file\nError: command \"false\" exited with status 1\n", 0},
  };
  int iCase = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.zSource);
    const std::string table = "t" + std::to_string(iCase++);
    Outcome r = run({"--csv", c.zSource, table});
    EXPECT_EQ(r.rc, c.rc);
    EXPECT_EQ(r.err, c.err);
    if (c.nRows > 0) {
      EXPECT_EQ(rows(table), (Rows{{"1", "2"}}));
    }
  }
  EXPECT_EQ(sqlite3_get_autocommit(ctx.db), 1);
}

// A field is stored as text, which ends at a NUL byte: a field cut there is
// reported with its line and column, quoted or not.
TEST_F(ImportCommand, FieldCutAtANulByteIsReported) {
  writeFile("d.csv", std::string("a,b\nx\0y,\"p\0q\"\nclean,row\n", 24));
  Outcome r = run({"--csv", path("d.csv"), "t"});
  const std::string f = path("d.csv");
  EXPECT_EQ(r.rc, 0);
  EXPECT_EQ(r.err, f + ":2: field 1 holds a NUL byte - cut at it\n" + f +
                       ":2: field 2 holds a NUL byte - cut at it\n");
  EXPECT_EQ(rows("t"), (Rows{{"x", "p"}, {"clean", "row"}}));
}

TEST_F(ImportCommand, SkipSchemaAndVerbose) {
  exec("ATTACH '' AS aux; CREATE TABLE aux.t(x,y)");
  writeFile("d.csv", "a,b\n1,2\n3,4\n");
  Outcome r = run({"--skip", "1", "--schema", "aux", "-v", "-v", "--csv", path("d.csv"), "t"});
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(r.out,
            "Column separator \",\", row separator \"\\n\"\n"
            "Insert using: INSERT INTO \"aux\".\"t\" VALUES(?,?)\n"
            "Added 2 rows with 0 errors using 3 lines of input\n");
  StmtPtr pStmt = prepareStmt(ctx.db, "SELECT group_concat(x||y,' ') FROM aux.t");
  ASSERT_EQ(sqlite3_step(pStmt.get()), SQLITE_ROW);
  EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(pStmt.get(), 0)), "12 34");
}

TEST_F(ImportCommand, NewTableWithRenamedColumnsAndVerbose) {
  writeFile("d.csv", "a,A,\n1,2,3\n");
  Outcome r = run({"--csv", "-v", path("d.csv"), "t"});
  EXPECT_EQ(r.rc, 0);
  EXPECT_EQ(r.err, "Columns renamed during .import " + path("d.csv") +
                       " due to duplicates:\n\"a\" to \"a_1\",\n\"A\" to \"A_2\"\n");
  EXPECT_EQ(r.out,
            "CREATE TABLE \"t\"(\n\"a_1\" TEXT, \"A_2\" TEXT, \"?\" TEXT)\n\n"
            "Added 1 rows with 0 errors using 2 lines of input\n");
}

TEST_F(ImportCommand, SeparatorsFromTheOutputMode) {
  writeFile("d.csv", "a,b\r\n1,2\r\n");
  ctx.eMode = OutputMode::Csv;
  setSettingText(ctx.zColSep, ",");
  setSettingText(ctx.zRowSep, "\r\n");
  Outcome r = run({path("d.csv"), "t", "-v"});
  EXPECT_EQ(r.rc, 0);
  EXPECT_STREQ(ctx.zRowSep, "\n");
  EXPECT_EQ(rows("t"), (Rows{{"1", "2"}}));
  EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "Column separator \",\", row separator \"\\n\"");

  struct Case {
    const char* zCol;
    const char* zRow;
    const char* zErr;
  } cases[] = {
      {"", "\n", "Error: non-null column separator required for import\n"},
      {";;", "\n", "Error: multi-character column separators not allowed for import\n"},
      {",", "", "Error: non-null row separator required for import\n"},
      {",", "\r\n", "Error: multi-character row separators not allowed for import\n"},
  };
  ctx.eMode = OutputMode::List;
  for (const auto& c : cases) {
    setSettingText(ctx.zColSep, c.zCol);
    setSettingText(ctx.zRowSep, c.zRow);
    r = run({path("d.csv"), "t"});
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.err, c.zErr);
  }
  setSettingText(ctx.zColSep, ";;");
  r = run({"--csv", path("d.csv"), "t"});
  EXPECT_EQ(r.rc, 0) << r.err;
}

TEST_F(ImportCommand, AsciiMode) {
  ctx.eMode = OutputMode::Ascii;
  setSettingText(ctx.zColSep, zUnitSeparator);
  setSettingText(ctx.zRowSep, zRecordSeparator);
  writeFile("d.txt",
            "a\x1F"
            "b\x1E\"1\"\x1F"
            "2\r\x1E\x1E\x1F"
            "y\x1E");
  Outcome r = run({path("d.txt"), "t"});
  EXPECT_EQ(r.rc, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(rows("t"), (Rows{{"\"1\"", "2\r"}, {"", "y"}}));
}

TEST_F(ImportCommand, SourcesThatCannotBeRead) {
  mkdir(path("adir").c_str(), 0700);
  struct Case {
    std::string file;
    std::string err;
  } cases[] = {
      {path("missing.csv"), "Error: cannot open \"" + path("missing.csv") + "\"\n"},
      {path("adir"), "Error: cannot open \"" + path("adir") + "\"\n"},
  };
  for (const auto& c : cases) {
    Outcome r = run({c.file, "t"});
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.err, c.err);
  }
  writeFile("empty.csv", "");
  Outcome r = run({"--csv", path("empty.csv"), "t"});
  EXPECT_EQ(r.rc, 1);
  EXPECT_EQ(r.err, path("empty.csv") + ": empty file\n");
  r = run({"--csv", "|true", "t"});
  EXPECT_EQ(r.rc, 1);
  EXPECT_EQ(r.err, "<pipe>: empty file\n");
}

TEST_F(ImportCommand, PipeSource) {
  writeFile("d.csv", "a,b\n1,2,3\n\"x\n");
  Outcome r = run({"--csv", "|cat " + path("d.csv"), "t"});
  EXPECT_EQ(r.rc, 0);
  EXPECT_EQ(r.err,
            "<pipe>:2: expected 2 columns but found 3 - extras ignored\n"
            "<pipe>:3: unterminated \"-quoted field\n"
            "<pipe>:3: expected 2 columns but found 1 - filling the rest with NULL\n");
  EXPECT_EQ(rows("t"), (Rows{{"1", "2"}, {"x\n", std::nullopt}}));
}

TEST_F(ImportCommand, UsageErrors) {
  struct Case {
    std::vector<std::string> words;
    std::string firstLine;
  } cases[] = {
      {{}, "ERROR: missing FILE argument. Usage:"},
      {{"x"}, "ERROR: missing TABLE argument. Usage:"},
      {{"x", "y", "z"}, "ERROR: extra argument: \"z\".  Usage:"},
      {{"--bogus", "x", "y"}, "ERROR: unknown option: \"-bogus\".  Usage:"},
      {{"x", "y", "--skip"}, "ERROR: unknown option: \"-skip\".  Usage:"},
  };
  for (const auto& c : cases) {
    Outcome r = run(c.words);
    EXPECT_EQ(r.rc, 1);
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')), c.firstLine);
    EXPECT_EQ(r.err, "");
  }
}

TEST_F(ImportCommand, FailuresOfTheTargetTable) {
  writeFile("d.csv", "a,a b\n1,2\n");
  exec("CREATE VIEW v AS SELECT 1 AS x");
  Outcome r = run({"--csv", path("d.csv"), "v"});
  EXPECT_EQ(r.rc, 1);
  EXPECT_EQ(r.err, "Error: cannot modify v because it is a view\n");
  r = run({"--csv", "--schema", "nosuch", path("d.csv"), "t"});
  EXPECT_EQ(r.rc, 1);
  EXPECT_EQ(r.err,
            "CREATE TABLE \"nosuch\".\"t\"(\n\"a\" TEXT, \"a b\" TEXT)\n failed:\n"
            "unknown database \"nosuch\"\n");
}

// A header wider than the engine allows fails cleanly and quickly.
TEST_F(ImportCommand, HeaderBeyondTheColumnLimit) {
  sqlite3_limit(ctx.db, SQLITE_LIMIT_COLUMN, 10);
  writeFile("d.csv", std::string(200000, ',') + "\n");
  Outcome r = run({"--csv", path("d.csv"), "t"});
  EXPECT_EQ(r.rc, 1);
  EXPECT_NE(r.err.find(" failed:\ntoo many columns on t\n"), std::string::npos) << r.err;
}

TEST_F(ImportCommand, FieldLongerThanTheEngineAllows) {
  sqlite3_limit(ctx.db, SQLITE_LIMIT_LENGTH, 1000);
  exec("CREATE TABLE t(a,b)");
  writeFile("d.csv", "1," + std::string(5000, 'x') + "\n2,y\n");
  Outcome r = run({"--csv", path("d.csv"), "t"});
  EXPECT_EQ(r.rc, 1);
  EXPECT_EQ(r.err, path("d.csv") + ":1: INSERT failed: string or blob too big\n");
  EXPECT_EQ(rows("t"), (Rows{{"2", "y"}}));
}

// At the interactive console the rename report is part of the output.
TEST_F(ImportCommand, RenameReportAtTheConsoleGoesToTheOutput) {
  bStdinIsTty = 1;
  writeFile("d.csv", "a,a\n");
  Outcome r = run({"--csv", path("d.csv"), "t"});
  bStdinIsTty = 0;
  EXPECT_EQ(r.rc, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "Columns renamed during .import " + path("d.csv") +
                       " due to duplicates:\n\"a\" to \"a_1\",\n\"a\" to \"a_2\"\n");
}

}  // namespace import_command_test
