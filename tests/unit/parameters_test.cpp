// Binding from temp.sqlite_parameters: every bound value is checked against a
// direct query of the table while a random script changes the table, opens
// and ends transactions, drops and re-creates it and reopens the temporary
// database, so that no value can outlive the row it came from.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "shell/core/OpenDatabase.h"
#include "shell/exec/Parameters.h"
#include "tests/unit/execute_fixture.h"

namespace {

class Parameters : public ShellRun {
 protected:
  // The value of zKey as the table holds it now, as an SQL literal ("NULL"
  // without a row or without the table).
  static std::string storedValue(sqlite3* db, const std::string& zKey) {
    StmtPtr pStmt = prepareStmt(db, "SELECT quote(value) FROM temp.sqlite_parameters WHERE key=?1");
    if (!pStmt) return "NULL";
    sqlite3_bind_text(pStmt.get(), 1, zKey.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(pStmt.get()) != SQLITE_ROW) return "NULL";
    return reinterpret_cast<const char*>(sqlite3_column_text(pStmt.get(), 0));
  }

  // Binds a statement that shows each key's value and compares every column
  // with the table.
  static void expectBoundAsStored(ShellContext* p, sqlite3* db,
                                  const std::vector<std::string>& azKeys, int iStep) {
    std::string zSql = "SELECT ";
    for (size_t i = 0; i < azKeys.size(); i++) {
      zSql += (i ? ", quote(" : "quote(") + azKeys[i] + ")";
    }
    StmtPtr pStmt = prepareStmt(db, zSql.c_str());
    ASSERT_TRUE(pStmt) << zSql << ": " << sqlite3_errmsg(db);
    bindParameters(p, pStmt.get());
    ASSERT_EQ(sqlite3_step(pStmt.get()), SQLITE_ROW);
    for (size_t i = 0; i < azKeys.size(); i++) {
      const char* z = reinterpret_cast<const char*>(sqlite3_column_text(pStmt.get(), int(i)));
      std::string zKey = azKeys[i] == "?" ? "?" + std::to_string(i + 1) : azKeys[i];
      EXPECT_EQ(z ? z : "", storedValue(db, zKey)) << "step " << iStep << ", " << zKey;
    }
  }
};

TEST_F(Parameters, EveryBindingMatchesTheTableUnderRandomChanges) {
  sqlite3* db2 = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db2), SQLITE_OK);
  ShellContext s2 = s;
  s2.db = db2;
  createParameterTable(&s);
  createParameterTable(&s2);

  const std::vector<std::string> azKeys = {":a", "@b", "$c", ":long_name_42", "?5", "?6"};
  const std::vector<std::string> azValues = {"1",    "-7",      "2.5",      "'text'",     "x'00ff'",
                                             "NULL", "'it''s'", "1e300*10", "zeroblob(3)"};
  std::mt19937 rng(20261210);
  auto pick = [&](size_t n) { return static_cast<size_t>(rng() % n); };
  bool bInTxn = false;
  for (int iStep = 0; iStep < 3000; iStep++) {
    sqlite3* db = pick(4) == 0 ? db2 : s.db;
    ShellContext* p = db == db2 ? &s2 : &s;
    std::string zSql;
    switch (pick(12)) {
      case 0:
      case 1:
      case 2:
        zSql = "REPLACE INTO temp.sqlite_parameters VALUES('" + azKeys[pick(azKeys.size())] +
               "', " + azValues[pick(azValues.size())] + ")";
        break;
      case 3:
        zSql = "DELETE FROM temp.sqlite_parameters WHERE key='" + azKeys[pick(azKeys.size())] + "'";
        break;
      case 4:
        zSql = "UPDATE temp.sqlite_parameters SET value=value||'x'";
        break;
      case 5:
        zSql = bInTxn ? (pick(2) ? "COMMIT" : "ROLLBACK") : "BEGIN";
        if (db == s.db) bInTxn = !bInTxn;
        if (db == db2) zSql = "SELECT 1";
        break;
      case 6:
        if (pick(3) == 0) zSql = "DROP TABLE IF EXISTS temp.sqlite_parameters";
        break;
      case 7:
        createParameterTable(p);
        break;
      case 8:
        zSql = "CREATE TABLE IF NOT EXISTS main.t(a); INSERT INTO main.t VALUES(1)";
        break;
      case 9:
        // Closes the temporary database (outside a transaction): the table is
        // gone and a new one starts its change count again.
        if (!bInTxn || db == db2)
          zSql = pick(2) ? "PRAGMA temp_store=file" : "PRAGMA temp_store=memory";
        break;
      default:
        break;
    }
    if (!zSql.empty()) sqlite3_exec(db, zSql.c_str(), nullptr, nullptr, nullptr);
    // Names in a random order; a nameless parameter takes the key "?N".
    std::vector<std::string> azUse;
    for (size_t n = 1 + pick(4); n > 0; n--) azUse.push_back(azKeys[pick(4)]);
    if (pick(3) == 0) azUse.insert(azUse.begin(), "?");
    expectBoundAsStored(p, db, azUse, iStep);
    if (HasFailure()) break;
  }
  sqlite3_close(db2);
}

TEST_F(Parameters, WithoutTheTableEveryParameterIsNull) {
  StmtPtr pStmt = prepareStmt(s.db, "SELECT :x IS NULL, ?2 IS NULL");
  bindParameters(&s, pStmt.get());
  ASSERT_EQ(sqlite3_step(pStmt.get()), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int(pStmt.get(), 0), 1);
  EXPECT_EQ(sqlite3_column_int(pStmt.get(), 1), 1);
}

TEST_F(Parameters, ManyDistinctNamesStillBindTheirOwnValues) {
  createParameterTable(&s);
  exec(
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<6000) "
      "INSERT INTO temp.sqlite_parameters SELECT ':p' || i, i * 3 FROM n");
  for (int i = 1; i <= 6000; i += 7) {
    std::string zSql = "SELECT :p" + std::to_string(i) + ", :nothing" + std::to_string(i);
    StmtPtr pStmt = prepareStmt(s.db, zSql.c_str());
    bindParameters(&s, pStmt.get());
    ASSERT_EQ(sqlite3_step(pStmt.get()), SQLITE_ROW);
    ASSERT_EQ(sqlite3_column_int(pStmt.get(), 0), i * 3);
    ASSERT_EQ(sqlite3_column_type(pStmt.get(), 1), SQLITE_NULL);
  }
}

TEST_F(Parameters, BindingLeavesNoStatementThatKeepsTheConnectionOpen) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  ShellContext s2 = s;
  s2.db = db;
  createParameterTable(&s2);
  sqlite3_exec(db, "INSERT INTO temp.sqlite_parameters VALUES(':x', 1)", nullptr, nullptr, nullptr);
  StmtPtr pStmt = prepareStmt(db, "SELECT :x");
  bindParameters(&s2, pStmt.get());
  pStmt.reset();
  testing::internal::CaptureStderr();
  closeConnection(db);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(Parameters, CreatingTheTableRestoresTheConnectionSettings) {
  for (int bDefensive : {0, 1}) {
    sqlite3_db_config(s.db, SQLITE_DBCONFIG_DEFENSIVE, bDefensive, nullptr);
    createParameterTable(&s);
    int bNow = -1;
    int bWritable = -1;
    sqlite3_db_config(s.db, SQLITE_DBCONFIG_DEFENSIVE, -1, &bNow);
    sqlite3_db_config(s.db, SQLITE_DBCONFIG_WRITABLE_SCHEMA, -1, &bWritable);
    EXPECT_EQ(bNow, bDefensive);
    EXPECT_EQ(bWritable, 0);
  }
  EXPECT_EQ(run("SELECT sql FROM sqlite_temp_schema"),
            "CREATE TABLE sqlite_parameters(\n  key TEXT PRIMARY KEY,\n  value\n) WITHOUT ROWID\n");
}

}  // namespace
