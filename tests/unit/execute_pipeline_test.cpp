// The statement pipeline: several statements per text, errors with their phase
// and SQL excerpt, plan displays, the explain layout, count mode, parameters.
#include <string>

#include "tests/unit/execute_fixture.h"

TEST_F(ShellRun, RunsEveryStatementOfTheText) {
  EXPECT_EQ(run("SELECT 1; SELECT 'a', NULL;\n-- only a comment after the last\n"), "1\na|\n");
  int rc = -1;
  std::string zErr;
  EXPECT_EQ(run("  /* nothing */  ", &rc, &zErr), "");
  EXPECT_EQ(rc, SQLITE_OK);
  EXPECT_EQ(zErr, "");
}

TEST_F(ShellRun, PrepareErrorStopsTheTextAtThatStatement) {
  exec("CREATE TABLE t(x);");
  int rc = 0;
  std::string zErr;
  std::string out = run("INSERT INTO t VALUES(1); SELEC 2; INSERT INTO t VALUES(3);", &rc, &zErr);
  EXPECT_EQ(out, "");
  EXPECT_EQ(rc, SQLITE_ERROR);
  // Code 1 adds no number; the excerpt starts at the failing statement.
  EXPECT_EQ(zErr,
            "in prepare, near \"SELEC\": syntax error\n"
            "  SELEC 2; INSERT INTO t VALUES(3);\n"
            "  ^--- error here");
  EXPECT_EQ(run("SELECT group_concat(x) FROM t;"), "1\n");
}

TEST_F(ShellRun, StepErrorCarriesTheCodeAndNoExcerpt) {
  exec("CREATE TABLE t(x UNIQUE);");
  int rc = 0;
  std::string zErr;
  run("INSERT INTO t VALUES(1); INSERT INTO t VALUES(1); INSERT INTO t VALUES(2);", &rc, &zErr);
  EXPECT_EQ(rc, SQLITE_CONSTRAINT);
  EXPECT_EQ(zErr, "stepping, UNIQUE constraint failed: t.x (19)");
  EXPECT_EQ(run("SELECT count(*) FROM t;"), "1\n");

  // A failure after some rows were rendered keeps those rows.
  EXPECT_EQ(run("SELECT 1 UNION ALL SELECT abs(-9223372036854775807-1);", &rc, &zErr), "1\n");
  EXPECT_EQ(rc, SQLITE_ERROR);
  EXPECT_EQ(zErr, "stepping, integer overflow");
}

TEST_F(ShellRun, PhaseErrorTextAddsTheCodeAboveOne) {
  sqlite3_stmt* pStmt = nullptr;
  sqlite3_prepare_v2(s.db, "SELECT nosuch", -1, &pStmt, nullptr);
  SqlitePtr z1(phaseErrorText(s.db, "in prepare", 1, nullptr));
  EXPECT_STREQ(z1.get(), "in prepare, no such column: nosuch");
  SqlitePtr z2(phaseErrorText(s.db, "stepping", 19, nullptr));
  EXPECT_STREQ(z2.get(), "stepping, no such column: nosuch (19)");
  SqlitePtr z3(phaseErrorText(s.db, "in prepare", 1, "SELECT nosuch"));
  EXPECT_STREQ(z3.get(),
               "in prepare, no such column: nosuch\n  SELECT nosuch\n         ^--- error here");
}

TEST_F(ShellRun, SqlErrorContextMarksTheErrorOffset) {
  // A statement of 150 bytes whose unknown column sits at byte 100.
  std::string zLong = "SELECT ";
  while (zLong.size() < 100) zLong += "1, ";
  zLong += "nosuch FROM (SELECT 1 AS a, 2 AS b, 3 AS c, 4 AS d) AS sub";
  struct Case {
    std::string zSql;
    int iOffset;
    const char* zWant;
  } cases[] = {
      {"     x", 5, "\n       x\n       ^--- error here"},
      {"SELECT 1,\n2, 3, 4, 5, 66, 77, nosuch", 30,
       "\n  SELECT 1, 2, 3, 4, 5, 66, 77, nosuch\n                  error here ---^"},
      {zLong, 100,
       "\n  , 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, nosuch FROM (SELECT 1 AS a, "
       "\n                                      error here ---^"},
  };
  for (const auto& c : cases) {
    sqlite3_stmt* pStmt = nullptr;
    EXPECT_NE(sqlite3_prepare_v2(s.db, c.zSql.c_str(), -1, &pStmt, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_error_offset(s.db), c.iOffset) << c.zSql;
    SqlitePtr z(sqlErrorContext(c.zSql.c_str(), s.db));
    EXPECT_STREQ(z.get(), c.zWant) << c.zSql;
  }
  // No text, or no offset: an empty text.
  SqlitePtr zNone(sqlErrorContext(nullptr, s.db));
  EXPECT_STREQ(zNone.get(), "");
  sqlite3_stmt* pStmt = nullptr;
  sqlite3_prepare_v2(s.db, "SELECT 1 FROM nosuch", -1, &pStmt, nullptr);
  ASSERT_LT(sqlite3_error_offset(s.db), 0);
  SqlitePtr zNoOffset(sqlErrorContext("SELECT 1 FROM nosuch", s.db));
  EXPECT_STREQ(zNoOffset.get(), "");
}

TEST_F(ShellRun, SqlErrorContextNeverSplitsACharacter) {
  // Two-byte characters before and after the error: the excerpt starts and
  // ends on character boundaries.
  std::string zSql = "SELECT '";
  for (int i = 0; i < 40; i++) zSql += "\xc3\xa9";
  zSql += "', nosuch1, '";
  for (int i = 0; i < 60; i++) zSql += "\xc3\xa9";
  zSql += "'";
  sqlite3_stmt* pStmt = nullptr;
  sqlite3_prepare_v2(s.db, zSql.c_str(), -1, &pStmt, nullptr);
  ASSERT_EQ(sqlite3_error_offset(s.db), 91);
  SqlitePtr z(sqlErrorContext(zSql.c_str(), s.db));
  std::string zOut(z.get());
  std::string zExcerpt = zOut.substr(3, zOut.find('\n', 3) - 3);
  // Starts 42 bytes in (41 dropped, then the continuation byte after them),
  // and is cut back from 78 bytes to the last whole character.
  EXPECT_EQ(zExcerpt, zSql.substr(42, 77));
  EXPECT_EQ(zOut.substr(3 + zExcerpt.size()), "\n  " + std::string(35, ' ') + "error here ---^");
}

TEST_F(ShellRun, CountModeAndEmptyResults) {
  exec("CREATE TABLE t(x); INSERT INTO t VALUES(1),(2),(3);");
  setMode(OutputMode::Count);
  EXPECT_EQ(run("SELECT x FROM t; SELECT 1; SELECT x FROM t WHERE 0;"), "3 rows\n1 row\n");
  s.bHeaders = 1;
  // No rows: no header, no brackets, no count, in any row-at-a-time mode.
  for (OutputMode eMode : {OutputMode::Line, OutputMode::List, OutputMode::Html, OutputMode::Insert,
                           OutputMode::Quote, OutputMode::Tcl, OutputMode::Csv, OutputMode::Ascii,
                           OutputMode::Json, OutputMode::Count, OutputMode::Off}) {
    setMode(eMode);
    setInsertTable(&s, "t");
    EXPECT_EQ(run("SELECT x FROM t WHERE x > 5;"), "") << modeName(eMode);
  }
  setMode(OutputMode::Off);
  EXPECT_EQ(run("SELECT x FROM t;"), "");
}

TEST_F(ShellRun, EqpOnShowsThePlanTreeBeforeTheRows) {
  exec(
      "CREATE TABLE t1(a INTEGER PRIMARY KEY, b); CREATE TABLE t2(c, d);"
      "INSERT INTO t1 VALUES(1, 'x'); INSERT INTO t2 VALUES('x', 1);");
  s.eEqpMode = 1;
  EXPECT_EQ(run("SELECT t1.a, s.n FROM t1 JOIN (SELECT c, count(*) AS n FROM t2 GROUP BY c) AS s"
                " ON s.c = t1.b WHERE t1.a IN (SELECT d FROM t2);"),
            "QUERY PLAN\n"
            "|--MATERIALIZE s\n"
            "|  |--SCAN t2\n"
            "|  `--USE TEMP B-TREE FOR GROUP BY\n"
            "|--SEARCH t1 USING INTEGER PRIMARY KEY (rowid=?)\n"
            "|--LIST SUBQUERY 2\n"
            "|  `--SCAN t2\n"
            "`--SEARCH s USING AUTOMATIC COVERING INDEX (c=?)\n"
            "1|1\n");
  // A statement that is itself an EXPLAIN is not explained again; with
  // automatic explain it is shown as a tree.
  EXPECT_EQ(run("EXPLAIN QUERY PLAN SELECT * FROM t2;"), "QUERY PLAN\n`--SCAN t2\n");
  s.bAutoExplain = 0;
  std::string out = run("EXPLAIN QUERY PLAN SELECT * FROM t2;");
  EXPECT_EQ(out.find("QUERY PLAN"), std::string::npos);
  EXPECT_NE(out.find("SCAN t2"), std::string::npos);
}

TEST_F(ShellRun, EqpTriggerRestoresTheTriggerPlanSetting) {
  exec(
      "CREATE TABLE t(x); CREATE TABLE log(y);"
      "CREATE TRIGGER tr AFTER INSERT ON t BEGIN UPDATE log SET y = y + 1 WHERE y = new.x; END;");
  s.eEqpMode = 2;
  // The trigger's plan comes under its own heading.
  EXPECT_EQ(run("INSERT INTO t VALUES(1);"), "TRIGGER tr\n`--SCAN log\n");
  int bTrigger = -1;
  sqlite3_db_config(s.db, SQLITE_DBCONFIG_TRIGGER_EQP, -1, &bTrigger);
  EXPECT_EQ(bTrigger, 0);
  // The statement was prepared again and ran exactly once.
  s.eEqpMode = 0;
  EXPECT_EQ(run("SELECT count(*) FROM t;"), "1\n");
}

TEST_F(ShellRun, ExplainLayoutIndentsLoopBodies) {
  exec("CREATE TABLE t1(a INTEGER PRIMARY KEY, b); CREATE TABLE t2(c, d);");
  std::string out = run("EXPLAIN SELECT * FROM t1, t2 WHERE t2.c > t1.b;");
  // The address and opcode columns: the inner loop is two blanks deeper than
  // the outer one, and the loop ends come back out.
  const char* azWant[] = {
      "addr  opcode       ", "----  -------------", "0     Init         ", "1     OpenRead     ",
      "2     OpenRead     ", "3     Rewind       ", "4       Rewind     ", "5         Column   ",
      "6         Column   ", "7         Le       ", "8         Rowid    ", "9         Column   ",
      "10        Column   ", "11        Column   ", "12        ResultRow", "13      Next       ",
      "14    Next         ", "15    Halt         ", "16    Transaction  ", "17    Goto         ",
  };
  size_t iPos = 0;
  for (const char* zWant : azWant) {
    size_t iEnd = out.find('\n', iPos);
    ASSERT_NE(iEnd, std::string::npos);
    EXPECT_EQ(out.substr(iPos, 19), zWant);
    iPos = iEnd + 1;
  }
  EXPECT_EQ(iPos, out.size());
  EXPECT_EQ(out.substr(0, out.find('\n') + 1),
            "addr  opcode         p1    p2    p3    p4             p5  comment      \n");
  EXPECT_NE(out.find("\n7         Le             2     13    1     BINARY-8       81  \n"),
            std::string::npos)
      << out;
  // The indentation belongs to that statement only.
  EXPECT_EQ(s.aiExplainIndent, nullptr);
  EXPECT_EQ(run("SELECT 1;"), "1\n");
}

TEST_F(ShellRun, EqpFullListsTheBytecodeThenRunsInTheNormalMode) {
  s.eEqpMode = 3;
  std::string out = run("SELECT 42;");
  EXPECT_EQ(out.rfind("QUERY PLAN\n`--SCAN CONSTANT ROW\naddr  opcode", 0), 0u) << out;
  EXPECT_NE(out.find("ResultRow"), std::string::npos);
  EXPECT_EQ(out.substr(out.size() - 3), "42\n");
}

TEST_F(ShellRun, PlanTreeStopsAfterThirtyTwoLevels) {
  FILE* out = std::tmpfile();
  s.pOut = out;
  for (int i = 1; i <= 40; i++) {
    std::string zText = "L";
    zText += std::to_string(i);
    planAppend(&s, i, i - 1, zText.c_str());
  }
  planRender(&s);
  EXPECT_EQ(s.planTree.pFirst, nullptr);
  std::string got = readBackAndClose(out);
  std::string want = "QUERY PLAN\n";
  for (int i = 1; i <= 32; i++) {
    want += std::string(3 * (i - 1), ' ') + "`--L" + std::to_string(i) + "\n";
  }
  EXPECT_EQ(got, want);
}

TEST_F(ShellRun, PlanHeadingRowReplacesTheTitle) {
  FILE* out = std::tmpfile();
  s.pOut = out;
  planAppend(&s, 1, 0, "-- TRIGGER tr");
  planRender(&s);  // a heading alone prints nothing
  planAppend(&s, 1, 0, "-- TRIGGER tr");
  planAppend(&s, 2, 0, "SCAN a");
  planAppend(&s, 3, 2, "SCAN b");
  planAppend(&s, 4, 0, "SCAN c");
  planAppend(&s, 5, 0, nullptr);
  planRender(&s);
  EXPECT_EQ(readBackAndClose(out), "TRIGGER tr\n|--SCAN a\n|  `--SCAN b\n`--SCAN c\n");
}

TEST_F(ShellRun, BindsParametersFromTheParameterTable) {
  // Without the table every parameter is NULL.
  EXPECT_EQ(run("SELECT quote(:x), quote(?2);"), "NULL|NULL\n");
  sqlite3_db_config(s.db, SQLITE_DBCONFIG_WRITABLE_SCHEMA, 1, nullptr);
  exec(
      "CREATE TABLE temp.sqlite_parameters(key TEXT PRIMARY KEY, value) WITHOUT ROWID;"
      "INSERT INTO temp.sqlite_parameters VALUES(':x', 5), ('?2', 'two'), ('@b', x'00ff');");
  sqlite3_db_config(s.db, SQLITE_DBCONFIG_WRITABLE_SCHEMA, 0, nullptr);
  EXPECT_EQ(run("SELECT :x, typeof(:x), ?2, quote(@b), quote($x);"),
            "5|integer|two|X'00FF'|NULL\n");
  EXPECT_EQ(run("SELECT ?, ?;"), "|two\n");
}

TEST_F(ShellRun, RowCallbackRendersWithoutTypes) {
  s.bHeaders = 1;
  s.eModeNow = OutputMode::List;
  FILE* out = std::tmpfile();
  s.pOut = out;
  ASSERT_EQ(sqlite3_exec(s.db, "SELECT 1 AS a, NULL AS b", rowCallback, &s, nullptr), SQLITE_OK);
  s.eModeNow = OutputMode::Json;
  s.nRowsShown = 0;
  ASSERT_EQ(sqlite3_exec(s.db, "SELECT 1.5 AS a, 'x\"y' AS b", rowCallback, &s, nullptr),
            SQLITE_OK);
  EXPECT_EQ(readBackAndClose(out), "a|b\n1|\n[{\"a\":1.5,\"b\":\"x\\\"y\"}");
}
