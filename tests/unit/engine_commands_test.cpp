// The engine control commands against the engine itself: each .dbconfig row
// must drive the switch it names and each .limit row the limit it names, as
// the engine's own behaviour shows (pragmas, statements that must now fail),
// rather than as the tables restate them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shell/commands/Commands.h"
#include "shell/commands/Dispatch.h"
#include "shell/commands/Engine.h"
#include "tests/unit/execute_fixture.h"

namespace {

class EngineCommands : public ShellRun {
 protected:
  // Runs a handler on the words; returns what it wrote to pOut.
  std::string command(DotHandler xHandler, std::vector<std::string> words, int* pRc = nullptr) {
    std::vector<char*> azArg;
    for (auto& w : words) azArg.push_back(w.data());
    azArg.push_back(nullptr);
    FILE* out = std::tmpfile();
    EXPECT_NE(out, nullptr);
    s.pOut = out;
    int rc = xHandler(&s, static_cast<int>(words.size()), azArg.data());
    if (pRc) *pRc = rc;
    s.pOut = nullptr;
    return readBackAndClose(out);
  }

  // The result code of preparing and stepping zSql once.
  int outcome(const char* zSql) {
    sqlite3_stmt* pStmt = nullptr;
    int rc = sqlite3_prepare_v2(s.db, zSql, -1, &pStmt, nullptr);
    if (rc == SQLITE_OK) {
      rc = sqlite3_step(pStmt);
      if (rc == SQLITE_ROW || rc == SQLITE_DONE) rc = SQLITE_OK;
    }
    sqlite3_finalize(pStmt);
    return rc;
  }

  int pragmaValue(const std::string& zPragma) {
    sqlite3_stmt* pStmt = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(s.db, ("PRAGMA " + zPragma).c_str(), -1, &pStmt, nullptr),
              SQLITE_OK);
    int v = -1;
    if (sqlite3_step(pStmt) == SQLITE_ROW) v = sqlite3_column_int(pStmt, 0);
    sqlite3_finalize(pStmt);
    return v;
  }
};

TEST_F(EngineCommands, DbconfigRowsDriveTheSwitchesTheyName) {
  // Switches with a pragma of their own read back through that pragma.
  struct Case {
    const char* zName;
    const char* zPragma;
  };
  const Case aCase[] = {
      {"enable_fkey", "foreign_keys"},
      {"trusted_schema", "trusted_schema"},
      {"writable_schema", "writable_schema"},
      {"legacy_alter_table", "legacy_alter_table"},
  };
  for (const Case& c : aCase) {
    for (const char* zValue : {"on", "off", "yes"}) {
      const bool bOn = std::string(zValue) != "off";
      int rc = -1;
      std::string out = command(doDbconfig, {"dbconfig", c.zName, zValue}, &rc);
      EXPECT_EQ(rc, 0);
      char zExpected[64];
      std::snprintf(zExpected, sizeof zExpected, "%19s %s\n", c.zName, bOn ? "on" : "off");
      EXPECT_EQ(out, zExpected);
      EXPECT_EQ(pragmaValue(c.zPragma), bOn ? 1 : 0) << c.zName << " " << zValue;
    }
  }
}

TEST_F(EngineCommands, DbconfigRowsWithoutAPragmaChangeWhatTheEngineAccepts) {
  exec("CREATE TABLE t(x); CREATE VIEW v AS SELECT x FROM t;");
  command(doDbconfig, {"dbconfig", "dqs_dml", "off"});
  EXPECT_NE(outcome("SELECT \"no such column\" FROM t"), SQLITE_OK);
  command(doDbconfig, {"dbconfig", "dqs_dml", "on"});
  EXPECT_EQ(outcome("SELECT \"no such column\" FROM t"), SQLITE_OK);

  command(doDbconfig, {"dbconfig", "enable_view", "off"});
  EXPECT_NE(outcome("SELECT * FROM v"), SQLITE_OK);
  command(doDbconfig, {"dbconfig", "enable_view", "on"});
  EXPECT_EQ(outcome("SELECT * FROM v"), SQLITE_OK);

  exec("PRAGMA writable_schema=ON");
  command(doDbconfig, {"dbconfig", "defensive", "on"});
  EXPECT_NE(outcome("UPDATE sqlite_schema SET sql=sql WHERE 0"), SQLITE_OK);
  command(doDbconfig, {"dbconfig", "defensive", "off"});
  EXPECT_EQ(outcome("UPDATE sqlite_schema SET sql=sql WHERE 0"), SQLITE_OK);
  exec("PRAGMA writable_schema=OFF");
}

TEST_F(EngineCommands, LimitRowsDriveTheLimitsTheyName) {
  std::string zManyColumns = "SELECT 0";
  for (int i = 1; i < 300; i++) {
    zManyColumns += ',';
    zManyColumns += std::to_string(i);
  }
  struct Case {
    const char* zName;
    const char* zValue;
    const char* zSetup;  // run before the limit is set, or null
    const char* zAllowed;
    const char* zRefused;
  };
  const Case aCase[] = {
      {"length", "100", nullptr, "SELECT zeroblob(100)", "SELECT zeroblob(101)"},
      {"sql_length", "30", nullptr, "SELECT 1", "SELECT 1 /* a comment that is long */"},
      {"column", "3", nullptr, "SELECT 1,2,3", "SELECT 1,2,3,4"},
      {"expr_depth", "5", nullptr, "SELECT 1+1", "SELECT 1+(1+(1+(1+(1+(1+1)))))"},
      {"compound_select", "2", nullptr, "SELECT 1 UNION SELECT 2",
       "SELECT 1 UNION SELECT 2 UNION SELECT 3"},
      {"vdbe_op", "100", nullptr, "SELECT 1", zManyColumns.c_str()},
      {"function_arg", "2", nullptr, "SELECT max(1,2)", "SELECT max(1,2,3)"},
      {"attached", "0", nullptr, "SELECT 1", "ATTACH ':memory:' AS aux"},
      {"like_pattern_length", "3", nullptr, "SELECT 'a' LIKE 'abc'", "SELECT 'a' LIKE 'abcd'"},
      {"variable_number", "2", nullptr, "SELECT ?2", "SELECT ?3"},
      {"trigger_depth", "2",
       "PRAGMA recursive_triggers=ON; CREATE TABLE r(x);"
       "CREATE TRIGGER rt AFTER INSERT ON r WHEN new.x<3 BEGIN INSERT INTO r VALUES(new.x+1); END;",
       "INSERT INTO r VALUES(2)", "INSERT INTO r VALUES(0)"},
  };
  for (const Case& c : aCase) {
    sqlite3_close(s.db);
    ASSERT_EQ(sqlite3_open(":memory:", &s.db), SQLITE_OK);
    if (c.zSetup) exec(c.zSetup);
    EXPECT_EQ(outcome(c.zRefused), SQLITE_OK) << c.zName << ": allowed before the limit";
    testing::internal::CaptureStdout();
    int rc = -1;
    command(doLimits, {"limits", c.zName, c.zValue}, &rc);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(rc, 0);
    char zExpected[64];
    std::snprintf(zExpected, sizeof zExpected, "%20s %s\n", c.zName, c.zValue);
    EXPECT_EQ(out, zExpected);
    EXPECT_EQ(outcome(c.zAllowed), SQLITE_OK) << c.zName;
    EXPECT_NE(outcome(c.zRefused), SQLITE_OK) << c.zName;
  }
}

TEST_F(EngineCommands, EveryFullNameReachesItsOwnRow) {
  // A name that is the prefix of another would be ambiguous and unreachable.
  for (const auto& row : testControls) {
    int nMatch = 0;
    EXPECT_EQ(findRowByPrefix(testControls, row.zName, &nMatch), &row);
    EXPECT_EQ(nMatch, 1) << row.zName;
  }
  for (const auto& row : fileControls) {
    int nMatch = 0;
    EXPECT_EQ(findRowByPrefix(fileControls, row.zName, &nMatch), &row);
    EXPECT_EQ(nMatch, 1) << row.zName;
  }
  for (size_t i = 0; i < limitNames.size(); i++) {
    for (size_t j = 0; j < limitNames.size(); j++) {
      if (i != j) {
        EXPECT_NE(std::string(limitNames[j]), limitNames[i]);
      }
    }
  }
}

TEST_F(EngineCommands, PrngSeedRandomReportsTheSeedItTook) {
  testing::internal::CaptureStdout();
  int rc = -1;
  std::string out = command(doTestctrl, {"testctrl", "prng_seed", "random"}, &rc);
  std::string seed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(out, "");
  // "-- random seed: " and a signed decimal number on one line.
  const std::string zPrefix = "-- random seed: ";
  ASSERT_EQ(seed.compare(0, zPrefix.size(), zPrefix), 0) << seed;
  std::string zNumber = seed.substr(zPrefix.size());
  ASSERT_FALSE(zNumber.empty());
  EXPECT_EQ(zNumber.back(), '\n');
  zNumber.pop_back();
  if (!zNumber.empty() && zNumber[0] == '-') zNumber.erase(0, 1);
  EXPECT_FALSE(zNumber.empty()) << seed;
  EXPECT_EQ(zNumber.find_first_not_of("0123456789"), std::string::npos) << seed;
}

TEST_F(EngineCommands, PrngSeedMakesTheGeneratorRepeat) {
  exec("CREATE TABLE r(v)");  // before seeding: opening storage may draw numbers
  command(doTestctrl, {"testctrl", "prng_seed", "12345"});
  exec("INSERT INTO r VALUES(random())");
  command(doTestctrl, {"testctrl", "--prng_seed", "12345"});
  exec("INSERT INTO r VALUES(random())");
  sqlite3_stmt* pStmt = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(s.db, "SELECT count(DISTINCT v) FROM r", -1, &pStmt, nullptr),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_step(pStmt), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(pStmt, 0), 1);
  sqlite3_finalize(pStmt);
}

TEST_F(EngineCommands, BreakpointRunsTheHook) {
  const int nBefore = breakpointCount();
  EXPECT_EQ(command(doBreakpoint, {"breakpoint"}), "");
  EXPECT_EQ(breakpointCount(), nBefore + 1);
}

TEST_F(EngineCommands, ProgressLimitIsKeptWithinTheCounter) {
  struct Case {
    const char* zLimit;
    unsigned nExpected;
  };
  const Case aCase[] = {
      {"3", 3u},
      {"4294967295", 4294967295u},
      {"4294967296", 4294967295u},  // the low bits would be 0: no limit at all
      {"4294967299", 4294967295u},  // the low bits would be 3
      {"-1", 0u},
      {"0", 0u},
  };
  for (const Case& c : aCase) {
    int rc = -1;
    command(doProgress, {"progress", "1", "--limit", c.zLimit}, &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(s.nProgressLimit, c.nExpected) << c.zLimit;
  }
  sqlite3_progress_handler(s.db, 0, nullptr, nullptr);
}

}  // namespace
