// Tests of the index advisor.  The main oracle is the engine itself: the
// indexes the advisor proposes for a statement are created in a fresh copy of
// the schema, and the query plan the engine gives there must be the plan the
// advisor reported.
#include "advisor/Advisor.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

struct DbCloser {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
using DbPtr = std::unique_ptr<sqlite3, DbCloser>;

DbPtr openDb(const std::string& zSchema, const char* zFile = ":memory:") {
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open(zFile, &db), SQLITE_OK);
  DbPtr pDb(db);
  char* zErr = nullptr;
  EXPECT_EQ(sqlite3_exec(db, zSchema.c_str(), nullptr, nullptr, &zErr), SQLITE_OK)
      << (zErr ? zErr : "") << "\n"
      << zSchema;
  sqlite3_free(zErr);
  return pDb;
}

void exec(sqlite3* db, const std::string& zSql) {
  char* zErr = nullptr;
  ASSERT_EQ(sqlite3_exec(db, zSql.c_str(), nullptr, nullptr, &zErr), SQLITE_OK)
      << (zErr ? zErr : "") << "\n"
      << zSql;
  sqlite3_free(zErr);
}

// All rows of a query, one line each, values separated by '|'.
std::string queryText(sqlite3* db, const std::string& zSql) {
  sqlite3_stmt* pStmt = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db, zSql.c_str(), -1, &pStmt, nullptr), SQLITE_OK)
      << sqlite3_errmsg(db) << "\n"
      << zSql;
  std::string zOut;
  while (pStmt && sqlite3_step(pStmt) == SQLITE_ROW) {
    for (int i = 0; i < sqlite3_column_count(pStmt); i++) {
      if (i) zOut += '|';
      const unsigned char* z = sqlite3_column_text(pStmt, i);
      zOut += z ? reinterpret_cast<const char*>(z) : "NULL";
    }
    zOut += '\n';
  }
  sqlite3_finalize(pStmt);
  return zOut;
}

std::string schemaOf(sqlite3* db) {
  return queryText(db, "SELECT type, name, tbl_name, sql FROM sqlite_schema ORDER BY 1, 2") +
         queryText(db, "SELECT type, name, sql FROM temp.sqlite_schema ORDER BY 1, 2");
}

// The engine's own plan of zSql on db as the advisor reports plans: the detail
// lines that do not begin with '-', trigger programs included.
std::string planOf(sqlite3* db, const std::string& zSql) {
  sqlite3_db_config(db, SQLITE_DBCONFIG_TRIGGER_EQP, 1, nullptr);
  sqlite3_stmt* pStmt = nullptr;
  std::string zEqp = "EXPLAIN QUERY PLAN " + zSql;
  EXPECT_EQ(sqlite3_prepare_v2(db, zEqp.c_str(), -1, &pStmt, nullptr), SQLITE_OK)
      << sqlite3_errmsg(db);
  std::string zOut;
  while (pStmt && sqlite3_step(pStmt) == SQLITE_ROW) {
    const unsigned char* z = sqlite3_column_text(pStmt, 3);
    if (z == nullptr || z[0] == '-') continue;
    zOut += reinterpret_cast<const char*>(z);
    zOut += '\n';
  }
  sqlite3_finalize(pStmt);
  return zOut;
}

std::string orEmpty(const char* z) {
  return z ? z : "";
}

struct StmtReport {
  std::string zSql;
  const char* zIndexes;  // null: none
  std::string zIndexText;
  std::string zPlan;
};

struct Advice {
  int rc = SQLITE_OK;
  std::string zErr;
  std::string zCandidates;
  std::vector<StmtReport> aStmt;
  std::string zReport;  // the non-verbose report text
};

// Runs the advisor over zSql on db and collects every report.
Advice advise(sqlite3* db, const std::string& zSql, int iSample = 0) {
  Advice advice;
  char* zErr = nullptr;
  AdvisorPtr p(sqlite3_expert_new(db, &zErr));
  if (!p) {
    advice.rc = SQLITE_ERROR;
    advice.zErr = orEmpty(zErr);
    sqlite3_free(zErr);
    return advice;
  }
  EXPECT_EQ(advisorConfig(p.get(), ADVISOR_CONFIG_SAMPLE, iSample), SQLITE_OK);
  advice.rc = advisorAddSql(p.get(), zSql.c_str(), &zErr);
  if (advice.rc == SQLITE_OK) advice.rc = advisorAnalyze(p.get(), &zErr);
  advice.zErr = orEmpty(zErr);
  sqlite3_free(zErr);
  if (advice.rc != SQLITE_OK) return advice;
  advice.zCandidates = orEmpty(advisorReport(p.get(), 0, ADVISOR_REPORT_CANDIDATES));
  for (int i = 0; i < advisorCount(p.get()); i++) {
    StmtReport r;
    r.zSql = orEmpty(advisorReport(p.get(), i, ADVISOR_REPORT_SQL));
    r.zIndexes = advisorReport(p.get(), i, ADVISOR_REPORT_INDEXES);
    r.zIndexText = orEmpty(r.zIndexes);
    r.zPlan = orEmpty(advisorReport(p.get(), i, ADVISOR_REPORT_PLAN));
    advice.aStmt.push_back(r);
  }
  advice.zReport = advisorReportText(p.get(), false);
  return advice;
}

// The oracle: for each statement, a copy of the schema with only the indexes
// proposed for it must give the engine the plan the advisor reported.
void expectPlansReproduce(const std::string& zSchema, const Advice& advice) {
  for (const StmtReport& r : advice.aStmt) {
    DbPtr pCopy = openDb(zSchema);
    exec(pCopy.get(), r.zIndexText);
    EXPECT_EQ(planOf(pCopy.get(), r.zSql), r.zPlan) << "statement: " << r.zSql << "\nindexes:\n"
                                                    << r.zIndexText;
  }
}

std::multiset<std::string> linesOf(const std::string& z) {
  std::multiset<std::string> aLine;
  std::istringstream in(z);
  for (std::string zLine; std::getline(in, zLine);) aLine.insert(zLine);
  return aLine;
}

struct NameVector {
  const char* zTable;
  const char* zCols;
  int nAttempt;
  const char* zName;
};
const NameVector kNames[] = {
#include "advisor_vectors.inc"
};

std::string expectedName(const std::string& zTable, const std::string& zCols, int nAttempt = 1) {
  for (const NameVector& v : kNames) {
    if (zTable == v.zTable && zCols == v.zCols && nAttempt == v.nAttempt) return v.zName;
  }
  ADD_FAILURE() << "no oracle name for " << zTable << "(" << zCols << ")";
  return "";
}

const char* const kBaseSchema =
    "CREATE TABLE t1(a, b, c);"
    "CREATE TABLE t2(x INTEGER, y TEXT, z REAL);"
    "CREATE TABLE t3(p TEXT COLLATE NOCASE, q TEXT, r);"
    "CREATE TABLE w(k TEXT PRIMARY KEY, v, u) WITHOUT ROWID;"
    "CREATE TABLE pk2(m, n, o, PRIMARY KEY(m, n));"
    "CREATE TABLE ipk(id INTEGER PRIMARY KEY, val);"
    "CREATE VIEW v1 AS SELECT a, b FROM t1 WHERE c > 0;";

// ---------------------------------------------------------------------------

struct PlanCase {
  const char* zSql;
  bool bGainsIndex;  // whether the advisor should propose something
};

TEST(AdvisorPlans, ProposedIndexesReproduceTheReportedPlan) {
  const PlanCase aCase[] = {
      {"SELECT * FROM t1", false},
      {"SELECT * FROM t1 WHERE a = ?", true},
      {"SELECT * FROM t1 WHERE a = ? AND b > ?", true},
      {"SELECT * FROM t1 WHERE a = ? AND b = ? AND c > ?", true},
      {"SELECT * FROM t1 WHERE b BETWEEN 1 AND 5", true},
      {"SELECT * FROM t1 WHERE a IN (1, 2, 3)", true},
      {"SELECT * FROM t1 ORDER BY c", true},
      {"SELECT * FROM t1 WHERE a = ? ORDER BY b DESC", true},
      {"SELECT * FROM t1, t2 WHERE t1.a = t2.x AND t2.y = ?", true},
      {"SELECT t1.c, count(*) FROM t1 JOIN t2 ON t2.x = t1.b JOIN t3 ON t3.p = t2.y "
       "WHERE t1.a > 10 GROUP BY t1.c ORDER BY 2",
       true},
      {"SELECT * FROM t1 WHERE a IN (SELECT x FROM t2 WHERE y = ?)", true},
      {"SELECT * FROM w WHERE v = ? AND u > ?", true},
      {"SELECT * FROM w WHERE k = ?", false},
      {"SELECT * FROM pk2 WHERE m = ?", false},
      {"SELECT * FROM pk2 WHERE o = ? ORDER BY m", true},
      {"SELECT * FROM ipk WHERE id = ?", false},
      {"SELECT * FROM t1 WHERE rowid = ?", false},
      {"SELECT * FROM t3 WHERE p = ? AND q = ? COLLATE NOCASE", true},
      {"SELECT * FROM t3 WHERE q = ? COLLATE RTRIM", true},
      {"SELECT * FROM t1 WHERE a + 1 = 5", false},
      {"SELECT * FROM t1 WHERE substr(b, 1, 2) = 'ab'", false},
      {"SELECT * FROM t1 WHERE a LIKE 'x%' OR c IS NOT NULL", false},
      {"SELECT * FROM v1 WHERE a = ?", true},
      {"UPDATE t1 SET c = 1 WHERE a = ?", true},
      {"DELETE FROM t2 WHERE z > ?", true},
  };
  for (const PlanCase& c : aCase) {
    DbPtr pDb = openDb(kBaseSchema);
    Advice advice = advise(pDb.get(), c.zSql);
    ASSERT_EQ(advice.rc, SQLITE_OK) << c.zSql << ": " << advice.zErr;
    ASSERT_EQ(advice.aStmt.size(), 1u) << c.zSql;
    EXPECT_EQ(advice.aStmt[0].zIndexes != nullptr, c.bGainsIndex) << c.zSql << "\n"
                                                                  << advice.aStmt[0].zIndexText;
    EXPECT_FALSE(advice.aStmt[0].zPlan.empty()) << c.zSql;
    expectPlansReproduce(kBaseSchema, advice);
  }
}

TEST(AdvisorPlans, SeveralStatementsReportInInputOrder) {
  DbPtr pDb = openDb(kBaseSchema);
  Advice advice = advise(pDb.get(),
                         "SELECT * FROM t1 WHERE a = 1;\n"
                         "-- a comment only\n"
                         "SELECT * FROM t2 WHERE x = 2;  SELECT * FROM t1;");
  ASSERT_EQ(advice.rc, SQLITE_OK) << advice.zErr;
  ASSERT_EQ(advice.aStmt.size(), 3u);
  EXPECT_EQ(advice.aStmt[0].zSql, "SELECT * FROM t1 WHERE a = 1;");
  EXPECT_NE(advice.aStmt[0].zIndexText.find(" ON t1(a);"), std::string::npos);
  EXPECT_NE(advice.aStmt[1].zSql.find("SELECT * FROM t2 WHERE x = 2;"), std::string::npos);
  EXPECT_NE(advice.aStmt[1].zIndexText.find(" ON t2(x);"), std::string::npos);
  EXPECT_EQ(advice.aStmt[2].zIndexes, nullptr);
  EXPECT_EQ(advice.aStmt[2].zPlan, "SCAN t1\n");
  expectPlansReproduce(kBaseSchema, advice);
}

TEST(AdvisorPlans, JoinOfManyTablesReproduces) {
  std::string zSchema;
  for (int i = 0; i < 12; i++) {
    zSchema += "CREATE TABLE j" + std::to_string(i) + "(id, ref, val, tag);";
  }
  std::string zSql = "SELECT * FROM j0";
  for (int i = 1; i < 8; i++) {
    zSql += " JOIN j" + std::to_string(i) + " ON j" + std::to_string(i) + ".ref = j" +
            std::to_string(i - 1) + ".id";
  }
  zSql += " WHERE j0.tag = ? AND j7.val > ? ORDER BY j3.val";
  DbPtr pDb = openDb(zSchema);
  Advice advice = advise(pDb.get(), zSql);
  ASSERT_EQ(advice.rc, SQLITE_OK) << advice.zErr;
  ASSERT_NE(advice.aStmt[0].zIndexes, nullptr);
  expectPlansReproduce(zSchema, advice);
}

// ---------------------------------------------------------------------------
// The candidates themselves.

TEST(AdvisorCandidates, EqualityAndRangeGiveTwoNamedCandidates) {
  DbPtr pDb = openDb("CREATE TABLE t1(a, b, c);");
  Advice advice = advise(pDb.get(), "SELECT * FROM t1 WHERE a=? AND b>?");
  ASSERT_EQ(advice.rc, SQLITE_OK) << advice.zErr;
  std::string zA = expectedName("t1", "a");
  std::string zAB = expectedName("t1", "a, b");
  EXPECT_EQ(zA, "t1_idx_00000061");
  EXPECT_EQ(linesOf(advice.zCandidates),
            (std::multiset<std::string>{"CREATE INDEX " + zA + " ON t1(a);",
                                        "CREATE INDEX " + zAB + " ON t1(a, b);"}));
  EXPECT_EQ(advice.aStmt[0].zIndexText, "CREATE INDEX " + zAB + " ON t1(a, b);\n");
  EXPECT_EQ(advice.aStmt[0].zPlan, "SEARCH t1 USING INDEX " + zAB + " (a=? AND b>?)\n");
  EXPECT_EQ(advice.zReport, "CREATE INDEX " + zAB + " ON t1(a, b);\n\nSEARCH t1 USING INDEX " +
                                zAB + " (a=? AND b>?)\n\n");
}

TEST(AdvisorCandidates, CollationAndDescendingOrderAreSpelledOut) {
  DbPtr pDb = openDb("CREATE TABLE t1(a, b, c);");
  Advice advice = advise(pDb.get(),
                         "SELECT * FROM t1 WHERE a = ? COLLATE NOCASE;"
                         "SELECT * FROM t1 ORDER BY b DESC;");
  ASSERT_EQ(advice.rc, SQLITE_OK) << advice.zErr;
  std::string zNocase = expectedName("t1", "a COLLATE NOCASE");
  std::string zDesc = expectedName("t1", "b DESC");
  EXPECT_EQ(advice.aStmt[0].zIndexText, "CREATE INDEX " + zNocase + " ON t1(a COLLATE NOCASE);\n");
  EXPECT_EQ(advice.aStmt[1].zIndexText, "CREATE INDEX " + zDesc + " ON t1(b DESC);\n");
  expectPlansReproduce("CREATE TABLE t1(a, b, c);", advice);
}

TEST(AdvisorCandidates, ExistingIndexWithTheSameCollationSuppressesTheCandidate) {
  const char* zSchema =
      "CREATE TABLE t1(a, b, c);"
      "CREATE INDEX i1 ON t1(b, a);";
  DbPtr pDb = openDb(zSchema);
  Advice same = advise(pDb.get(), "SELECT * FROM t1 WHERE a = ? AND b = ?");
  ASSERT_EQ(same.rc, SQLITE_OK) << same.zErr;
  EXPECT_EQ(same.zCandidates, "");
  EXPECT_EQ(same.aStmt[0].zIndexes, nullptr);
  EXPECT_EQ(same.aStmt[0].zPlan, "SEARCH t1 USING INDEX i1 (b=? AND a=?)\n");

  Advice other = advise(pDb.get(), "SELECT * FROM t1 WHERE a = ? AND b = ? COLLATE NOCASE");
  ASSERT_EQ(other.rc, SQLITE_OK) << other.zErr;
  EXPECT_NE(other.zCandidates.find("b COLLATE NOCASE"), std::string::npos) << other.zCandidates;
  expectPlansReproduce(zSchema, other);
}

TEST(AdvisorCandidates, TakenNameMovesToTheNextHash) {
  const char* zSchema =
      "CREATE TABLE t1(a, b, c);"
      "CREATE TABLE t1_idx_00000061(z);";
  DbPtr pDb = openDb(zSchema);
  Advice advice = advise(pDb.get(), "SELECT * FROM t1 WHERE a = ?");
  ASSERT_EQ(advice.rc, SQLITE_OK) << advice.zErr;
  EXPECT_EQ(advice.aStmt[0].zIndexText,
            "CREATE INDEX " + expectedName("t1", "a", 2) + " ON t1(a);\n");
}

TEST(AdvisorCandidates, TriggerProgramsAreAdvisedToo) {
  const char* zSchema =
      "CREATE TABLE orders(id INTEGER PRIMARY KEY, item, qty);"
      "CREATE TABLE stock(item, level);"
      "CREATE TABLE audit(item, note);"
      "CREATE TRIGGER orders_ai AFTER INSERT ON orders BEGIN"
      "  UPDATE stock SET level = level - new.qty WHERE item = new.item;"
      "END;"
      "CREATE TRIGGER stock_au AFTER UPDATE ON stock BEGIN"
      "  DELETE FROM audit WHERE item = old.item;"
      "END;";
  DbPtr pDb = openDb(zSchema);
  Advice advice = advise(pDb.get(), "INSERT INTO orders(item, qty) VALUES(?, ?)");
  ASSERT_EQ(advice.rc, SQLITE_OK) << advice.zErr;
  EXPECT_NE(advice.zCandidates.find(" ON stock(item);"), std::string::npos) << advice.zCandidates;
  EXPECT_NE(advice.zCandidates.find(" ON audit(item);"), std::string::npos) << advice.zCandidates;
  EXPECT_NE(advice.aStmt[0].zIndexText.find(" ON stock(item);"), std::string::npos);
  expectPlansReproduce(zSchema, advice);
}

TEST(AdvisorCandidates, TriggersOnTablesWithGeneratedColumns) {
  const char* zSchema =
      "CREATE TABLE item(id INTEGER PRIMARY KEY, price, qty,"
      "  total AS (price * qty), taxed AS (price * 1.2) STORED);"
      "CREATE TABLE hist(item_id, total);"
      "CREATE TRIGGER item_au AFTER UPDATE ON item BEGIN"
      "  UPDATE hist SET total = new.total WHERE item_id = new.id;"
      "END;"
      "CREATE TRIGGER item_ai AFTER INSERT ON item BEGIN"
      "  DELETE FROM hist WHERE item_id = new.id;"
      "END;";
  DbPtr pDb = openDb(zSchema);
  Advice advice = advise(pDb.get(),
                         "UPDATE item SET qty = 2 WHERE price > 10;"
                         "INSERT INTO item(price, qty) VALUES(1, 2);");
  ASSERT_EQ(advice.rc, SQLITE_OK) << advice.zErr;
  EXPECT_NE(advice.zCandidates.find(" ON hist(item_id);"), std::string::npos) << advice.zCandidates;
  expectPlansReproduce(zSchema, advice);
}

// ---------------------------------------------------------------------------
// Hostile names.

TEST(AdvisorNames, QuotedAndUnusualNamesWork) {
  const char* zSchema =
      "CREATE TABLE \"my table\"(\"it's\", \"order\", plain);"
      "CREATE TABLE \"select\"(\"from\", \"a b\", \"x\"\"y\");"
      "CREATE TABLE \"[br]acket\"(\"[col]1]\", \"2nd\");"
      "CREATE TABLE \"ταβλε\"(\"ñame\", \"δ\");"
      "CREATE TABLE \"1st\"(\"9lives\", \"\");"
      "CREATE TABLE \"paren (x\"(\"q (\", r);"
      "CREATE TABLE \"pct%s\"(\"%d\", \"%n\");";
  DbPtr pDb = openDb(zSchema);
  const char* aSql[] = {
      "SELECT * FROM \"my table\" WHERE \"it's\" = ? AND \"order\" > ?",
      "SELECT * FROM \"select\" WHERE \"from\" = ? AND \"x\"\"y\" = ? ORDER BY \"a b\"",
      "SELECT * FROM \"[br]acket\" WHERE \"[col]1]\" = ? AND \"2nd\" < 3",
      "SELECT * FROM \"ταβλε\" WHERE \"ñame\" = ? ORDER BY \"δ\" DESC",
      "SELECT * FROM \"1st\" WHERE \"9lives\" = ? AND \"\" = ?",
      "SELECT * FROM \"paren (x\" WHERE \"q (\" = ? AND r = ?",
      "SELECT * FROM \"pct%s\" WHERE \"%d\" = ? AND \"%n\" = ?",
  };
  for (const char* zSql : aSql) {
    Advice advice = advise(pDb.get(), zSql);
    ASSERT_EQ(advice.rc, SQLITE_OK) << zSql << ": " << advice.zErr;
    EXPECT_NE(advice.aStmt[0].zIndexes, nullptr) << zSql << "\n" << advice.zCandidates;
    expectPlansReproduce(zSchema, advice);
  }
  Advice advice = advise(pDb.get(), aSql[0]);
  std::string zName = expectedName("my table", "'it''s', 'order'");
  EXPECT_EQ(advice.aStmt[0].zIndexText,
            "CREATE INDEX \"" + zName + "\" ON \"my table\"('it''s', 'order');\n");
}

// ---------------------------------------------------------------------------
// Statistics.

// The sqlite_stat1 text of an index on columns of zTable, computed by distinct
// counting: the row count, then for each key prefix the rows per distinct
// value, rounded to the nearest integer.
std::string expectedStat(sqlite3* db, const std::string& zTable,
                         const std::vector<std::string>& aCol) {
  long long nRow = std::stoll(queryText(db, "SELECT count(*) FROM " + zTable));
  std::string zStat = std::to_string(nRow);
  std::string zPrefix;
  for (const std::string& zCol : aCol) {
    zPrefix += (zPrefix.empty() ? "" : ", ") + zCol;
    long long nDistinct = std::stoll(queryText(
        db, "SELECT count(*) FROM (SELECT DISTINCT " + zPrefix + " FROM " + zTable + ")"));
    zStat += " " + std::to_string((nRow + nDistinct / 2) / nDistinct);
  }
  return zStat;
}

const char* const kStatSchema =
    "CREATE TABLE s(a, b TEXT COLLATE NOCASE, c);"
    "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n WHERE i < 1999)"
    "  INSERT INTO s SELECT i % 7, CASE WHEN i % 2 THEN 'K' ELSE 'k' END || (i % 13),"
    "  CASE WHEN i % 5 = 0 THEN NULL ELSE i % 3 END FROM n;"
    "CREATE TABLE empty(e, f);";

TEST(AdvisorStats, FullSampleMatchesDistinctCounts) {
  DbPtr pDb = openDb(kStatSchema);
  Advice advice = advise(pDb.get(),
                         "SELECT * FROM s WHERE a = ? AND b = ? AND c = ?;"
                         "SELECT * FROM empty WHERE e = ?",
                         100);
  ASSERT_EQ(advice.rc, SQLITE_OK) << advice.zErr;
  std::string zStat = expectedStat(pDb.get(), "s", {"a", "b", "c"});
  EXPECT_NE(advice.zCandidates.find("ON s(a, b, c); -- stat1: " + zStat + "\n"), std::string::npos)
      << advice.zCandidates << "expected " << zStat;
  // An empty table gets no statistics.
  EXPECT_NE(advice.zCandidates.find("ON empty(e);\n"), std::string::npos) << advice.zCandidates;
}

TEST(AdvisorStats, NoSampleNoStatistics) {
  DbPtr pDb = openDb(kStatSchema);
  Advice advice = advise(pDb.get(), "SELECT * FROM s WHERE a = ? AND b = ?", 0);
  ASSERT_EQ(advice.rc, SQLITE_OK) << advice.zErr;
  EXPECT_NE(advice.zCandidates, "");
  EXPECT_EQ(advice.zCandidates.find("stat1"), std::string::npos);
}

TEST(AdvisorStats, HalfSampleReadsAboutHalfTheRows) {
  DbPtr pDb = openDb(kStatSchema);
  Advice advice = advise(pDb.get(), "SELECT * FROM s WHERE c = ?", 50);
  ASSERT_EQ(advice.rc, SQLITE_OK) << advice.zErr;
  size_t iStat = advice.zCandidates.find(" -- stat1: ");
  ASSERT_NE(iStat, std::string::npos) << advice.zCandidates;
  long long nRow = std::stoll(advice.zCandidates.substr(iStat + 11));
  EXPECT_GE(nRow, 900);
  EXPECT_LE(nRow, 1200);
}

TEST(AdvisorStats, ExpressionIndexOfTheUserIsSkipped) {
  const char* zSchema =
      "CREATE TABLE t(a, b);"
      "CREATE INDEX t_expr ON t(a + b, lower(b));"
      "INSERT INTO t VALUES(1, 'x'), (2, 'y'), (2, 'y');";
  for (int iSample : {100, 50}) {
    DbPtr pDb = openDb(zSchema);
    Advice advice = advise(pDb.get(), "SELECT * FROM t WHERE a = ?", iSample);
    ASSERT_EQ(advice.rc, SQLITE_OK) << advice.zErr;
    // A sample of half the rows holds 2 or 3 of them.
    const char* zStat = iSample == 100 ? "ON t(a); -- stat1: 3 2\n" : "ON t(a); -- stat1: ";
    EXPECT_NE(advice.zCandidates.find(zStat), std::string::npos) << advice.zCandidates;
  }
}

// ---------------------------------------------------------------------------
// The user's database is only read.

std::string fileBytes(const std::string& zPath) {
  std::ifstream in(zPath, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(AdvisorSafety, UserDatabaseIsUnchanged) {
  char zDir[] = "/tmp/advisor_testXXXXXX";
  ASSERT_NE(mkdtemp(zDir), nullptr);
  std::string zPath = std::string(zDir) + "/user.db";
  std::string zSchema = std::string(kStatSchema) +
                        "CREATE TABLE log(a, n);"
                        "CREATE TRIGGER s_ai AFTER INSERT ON s BEGIN"
                        "  UPDATE log SET n = n + 1 WHERE a = new.a;"
                        "END;" +
                        kBaseSchema;
  { DbPtr pDb = openDb(zSchema, zPath.c_str()); }
  std::string zBefore = fileBytes(zPath);
  ASSERT_FALSE(zBefore.empty());

  DbPtr pDb = openDb("", zPath.c_str());
  std::string zSchemaBefore = schemaOf(pDb.get());
  int nChanges = sqlite3_total_changes(pDb.get());
  for (int iSample : {0, 100, 30}) {
    Advice advice = advise(pDb.get(),
                           "SELECT * FROM s WHERE a = ? AND b > ? ORDER BY c;"
                           "INSERT INTO s VALUES(1, 2, 3);"
                           "UPDATE t1 SET a = 1 WHERE b = 2;"
                           "DELETE FROM w WHERE v = 3;"
                           "CREATE TABLE extra(x); DROP TABLE t2;",
                           iSample);
    ASSERT_EQ(advice.rc, SQLITE_OK) << advice.zErr;
    EXPECT_EQ(schemaOf(pDb.get()), zSchemaBefore) << iSample;
    EXPECT_EQ(sqlite3_total_changes(pDb.get()), nChanges) << iSample;
  }
  // The statistics functions do not outlive the analysis.
  for (const char* zCall : {"SELECT sample()", "SELECT rem(0, 1)"}) {
    sqlite3_stmt* pStmt = nullptr;
    EXPECT_NE(sqlite3_prepare_v2(pDb.get(), zCall, -1, &pStmt, nullptr), SQLITE_OK) << zCall;
    sqlite3_finalize(pStmt);
  }
  pDb.reset();
  EXPECT_EQ(fileBytes(zPath), zBefore);
  std::remove(zPath.c_str());
  rmdir(zDir);
}

TEST(AdvisorSafety, TemporaryTablesOfTheUserDoNotShadowTheMainOnes) {
  DbPtr pDb = openDb(
      "CREATE TABLE t(a, b);"
      "INSERT INTO t VALUES(1, 1), (1, 2), (2, 3);"
      "CREATE TEMP TABLE t(zz);"
      "INSERT INTO temp.t VALUES(5);");
  Advice advice = advise(pDb.get(), "SELECT * FROM main.t WHERE a = ?", 100);
  ASSERT_EQ(advice.rc, SQLITE_OK) << advice.zErr;
  EXPECT_NE(advice.zCandidates.find("ON t(a); -- stat1: 3 2\n"), std::string::npos)
      << advice.zCandidates;
  EXPECT_EQ(queryText(pDb.get(), "SELECT * FROM temp.t"), "5\n");
}

// ---------------------------------------------------------------------------
// Errors and the life cycle.

TEST(AdvisorErrors, StatementsThatDoNotPrepareAreRejectedWhole) {
  DbPtr pDb = openDb(kBaseSchema);
  AdvisorPtr p(sqlite3_expert_new(pDb.get(), nullptr));
  ASSERT_TRUE(p);
  struct {
    const char* zSql;
    const char* zErr;
  } aCase[] = {
      {"SELECT * FROM t1 WHERE a = 1; SELECT * FROM nosuch", "no such table: nosuch"},
      {"SELEC 1", "near \"SELEC\": syntax error"},
      {"SELECT nocol FROM t1", "no such column: nocol"},
      {"SELECT * FROM t1 WHERE a = 'unterminated", "unrecognized token: \"'unterminated\""},
  };
  for (const auto& c : aCase) {
    char* zErr = nullptr;
    EXPECT_EQ(advisorAddSql(p.get(), c.zSql, &zErr), SQLITE_ERROR) << c.zSql;
    EXPECT_STREQ(zErr, c.zErr);
    sqlite3_free(zErr);
    EXPECT_EQ(advisorCount(p.get()), 0) << c.zSql;
  }
  // Nothing of the failed texts survives: only this statement is analysed.
  ASSERT_EQ(advisorAddSql(p.get(), "SELECT * FROM t2 WHERE y = 1", nullptr), SQLITE_OK);
  EXPECT_EQ(advisorReport(p.get(), 0, ADVISOR_REPORT_PLAN), nullptr);  // not analysed yet
  ASSERT_EQ(advisorAnalyze(p.get(), nullptr), SQLITE_OK);
  EXPECT_EQ(advisorCount(p.get()), 1);
  EXPECT_EQ(orEmpty(advisorReport(p.get(), 0, ADVISOR_REPORT_CANDIDATES)).find("t1"),
            std::string::npos);
  EXPECT_EQ(advisorReport(p.get(), 1, ADVISOR_REPORT_SQL), nullptr);
  EXPECT_EQ(advisorReport(p.get(), -1, ADVISOR_REPORT_PLAN), nullptr);
  EXPECT_EQ(advisorReport(p.get(), 0, 99), nullptr);
  EXPECT_EQ(advisorAddSql(p.get(), "SELECT 1", nullptr), SQLITE_MISUSE);
  EXPECT_EQ(advisorAnalyze(p.get(), nullptr), SQLITE_MISUSE);
}

TEST(AdvisorErrors, Configuration) {
  DbPtr pDb = openDb("CREATE TABLE t(a);");
  AdvisorPtr p(sqlite3_expert_new(pDb.get(), nullptr));
  ASSERT_TRUE(p);
  EXPECT_EQ(advisorConfig(p.get(), 2, 5), SQLITE_NOTFOUND);
  EXPECT_EQ(advisorConfig(p.get(), ADVISOR_CONFIG_SAMPLE, 250), SQLITE_OK);
  EXPECT_EQ(advisorConfig(p.get(), ADVISOR_CONFIG_SAMPLE, -3), SQLITE_OK);
  EXPECT_EQ(advisorCount(p.get()), 0);
  EXPECT_EQ(advisorReportText(p.get(), true), "");
}

TEST(AdvisorErrors, VirtualTablesGiveAClearError) {
  const char* zSchema =
      "CREATE TABLE t(a, b);"
      "CREATE VIRTUAL TABLE ft USING fts5(body);"
      "CREATE VIEW ftv AS SELECT body FROM ft;"
      "CREATE TABLE log(a);"
      "CREATE TRIGGER t_ai AFTER INSERT ON t BEGIN DELETE FROM log WHERE a = new.a; END;"
      "PRAGMA writable_schema = ON;"
      "INSERT INTO sqlite_schema VALUES('table', 'gone', 'gone', 0,"
      "  'CREATE VIRTUAL TABLE gone USING nosuchmodule(x)');"
      "PRAGMA writable_schema = OFF;";
  char zDir[] = "/tmp/advisor_testXXXXXX";
  ASSERT_NE(mkdtemp(zDir), nullptr);
  std::string zPath = std::string(zDir) + "/vt.db";
  { DbPtr pDb = openDb(zSchema, zPath.c_str()); }
  DbPtr pDb = openDb("", zPath.c_str());

  Advice ok = advise(pDb.get(), "SELECT * FROM t WHERE a = ?; INSERT INTO t VALUES(1, 2);");
  ASSERT_EQ(ok.rc, SQLITE_OK) << ok.zErr;
  EXPECT_NE(ok.aStmt[0].zIndexes, nullptr);
  EXPECT_NE(ok.aStmt[1].zIndexText.find(" ON log(a);"), std::string::npos);

  Advice fts = advise(pDb.get(), "SELECT * FROM ft WHERE ft MATCH 'x'");
  EXPECT_EQ(fts.rc, SQLITE_ERROR);
  EXPECT_EQ(fts.zErr, "the index advisor cannot analyze virtual table ft");
  Advice view = advise(pDb.get(), "SELECT * FROM ftv");
  EXPECT_EQ(view.rc, SQLITE_ERROR);
  EXPECT_EQ(view.zErr, "the index advisor cannot analyze virtual table ft");
  Advice gone = advise(pDb.get(), "SELECT * FROM t, gone WHERE t.a = gone.x");
  EXPECT_EQ(gone.rc, SQLITE_ERROR);
  EXPECT_EQ(gone.zErr, "the index advisor cannot analyze virtual table gone");
  pDb.reset();
  std::remove(zPath.c_str());
  rmdir(zDir);
}

TEST(AdvisorErrors, SchemaThatCannotBeCopiedFailsCreation) {
  DbPtr pDb = openDb("CREATE TABLE t(a);");
  sqlite3_create_collation(pDb.get(), "mine", SQLITE_UTF8, nullptr,
                           [](void*, int n1, const void* z1, int n2, const void* z2) {
                             int n = std::memcmp(z1, z2, static_cast<size_t>(std::min(n1, n2)));
                             return n ? n : n1 - n2;
                           });
  exec(pDb.get(), "CREATE TABLE u(a TEXT COLLATE mine)");
  char* zErr = nullptr;
  IndexAdvisor* p = sqlite3_expert_new(pDb.get(), &zErr);
  EXPECT_EQ(p, nullptr);
  EXPECT_STREQ(zErr, "no such collation sequence: mine");
  sqlite3_free(zErr);
  advisorFree(p);
}

// ---------------------------------------------------------------------------
// The report text.

TEST(AdvisorReportText, VerboseReportWithoutCandidatesOrPlanLines) {
  DbPtr pDb = openDb("CREATE TABLE t(a);");
  AdvisorPtr p(sqlite3_expert_new(pDb.get(), nullptr));
  ASSERT_TRUE(p);
  ASSERT_EQ(advisorAddSql(p.get(), "BEGIN; SELECT * FROM t;", nullptr), SQLITE_OK);
  ASSERT_EQ(advisorAnalyze(p.get(), nullptr), SQLITE_OK);
  EXPECT_EQ(advisorReport(p.get(), 0, ADVISOR_REPORT_CANDIDATES), nullptr);
  EXPECT_EQ(advisorReport(p.get(), 0, ADVISOR_REPORT_PLAN), nullptr);
  EXPECT_EQ(advisorReportText(p.get(), true),
            "-- Candidates -----------------------------\n"
            "\n"
            "-- Query 1 --------------------------------\n"
            "BEGIN;\n"
            "\n"
            "(no new indexes)\n"
            "\n"
            "\n"
            "-- Query 2 --------------------------------\n"
            " SELECT * FROM t;\n"
            "\n"
            "(no new indexes)\n"
            "\n"
            "SCAN t\n"
            "\n");
}

}  // namespace
