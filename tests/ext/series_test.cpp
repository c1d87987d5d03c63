// generate_series against Python's range (series_vectors.inc), plus the hidden
// columns, row ids, plans and failures the vectors cannot show.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ext/series/Series.h"

namespace {

struct SeriesCase {
  const char* zSql;
  std::vector<int64_t> aExpected;
};

const SeriesCase aSeriesCases[] = {
#include "series_vectors.inc"
};

struct DbCloser {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
struct StmtFinalizer {
  void operator()(sqlite3_stmt* pStmt) const { sqlite3_finalize(pStmt); }
};
using DbPtr = std::unique_ptr<sqlite3, DbCloser>;
using StmtPtr = std::unique_ptr<sqlite3_stmt, StmtFinalizer>;

// Rows of one query, each row its columns' 64-bit values.  A runaway series
// (one that wraps around instead of ending) is cut off by the progress handler
// and by nMaxRows, so a fault fails the test instead of hanging it.
struct QueryResult {
  int rc = SQLITE_OK;
  std::string zErr;
  std::vector<std::vector<int64_t>> aRows;
};

int stopRunaway(void* pArg) {
  auto* pnTicks = static_cast<int64_t*>(pArg);
  return --*pnTicks <= 0;
}

class SeriesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sqlite3* pDb = nullptr;
    ASSERT_EQ(sqlite3_open(":memory:", &pDb), SQLITE_OK);
    db.reset(pDb);
    char* zErr = nullptr;
    ASSERT_EQ(seriesRegister(db.get(), &zErr), SQLITE_OK);
    EXPECT_EQ(zErr, nullptr);
  }

  QueryResult run(const std::string& zSql, size_t nMaxRows = 100000) {
    QueryResult result;
    int64_t nTicks = 20000;  // x 1000 virtual-machine steps
    sqlite3_progress_handler(db.get(), 1000, stopRunaway, &nTicks);
    sqlite3_stmt* pRaw = nullptr;
    result.rc = sqlite3_prepare_v2(db.get(), zSql.c_str(), -1, &pRaw, nullptr);
    StmtPtr pStmt(pRaw);
    if (result.rc == SQLITE_OK) {
      while ((result.rc = sqlite3_step(pStmt.get())) == SQLITE_ROW) {
        std::vector<int64_t> aRow;
        for (int i = 0; i < sqlite3_column_count(pStmt.get()); i++) {
          aRow.push_back(sqlite3_column_int64(pStmt.get(), i));
        }
        result.aRows.push_back(std::move(aRow));
        if (result.aRows.size() > nMaxRows) break;
      }
      if (result.rc == SQLITE_DONE) result.rc = SQLITE_OK;
    }
    if (result.rc != SQLITE_OK) result.zErr = sqlite3_errmsg(db.get());
    sqlite3_progress_handler(db.get(), 0, nullptr, nullptr);
    return result;
  }

  // The first column of every row.
  std::vector<int64_t> values(const std::string& zSql) {
    QueryResult result = run(zSql);
    EXPECT_EQ(result.rc, SQLITE_OK) << zSql << ": " << result.zErr;
    std::vector<int64_t> aValues;
    for (const auto& aRow : result.aRows) aValues.push_back(aRow.at(0));
    return aValues;
  }

  DbPtr db;
};

TEST_F(SeriesTest, MatchesPythonRange) {
  for (const SeriesCase& c : aSeriesCases) {
    EXPECT_EQ(values(c.zSql), c.aExpected) << c.zSql;
  }
}

// The vectors only read value; the hidden columns report the arguments as the
// series uses them: the stop default, a zero step as 1, a negative step by its
// magnitude.  A step of -2^63 has no positive 64-bit form and is reported as given.
TEST_F(SeriesTest, HiddenColumnsReportTheArguments) {
  struct {
    const char* zArgs;
    std::vector<int64_t> aRow;  // start, stop, step of every row
    size_t nRows;
  } aCases[] = {
      {"1, 10, -3", {1, 10, 3}, 4},
      {"1, 10, 0", {1, 10, 1}, 10},
      {"4294967294", {4294967294LL, 4294967295LL, 1}, 2},
      {"-5, 5, 5", {-5, 5, 5}, 3},
      {"0, -1", {0, -1, 1}, 0},
      {"(-9223372036854775807-1), 0, (-9223372036854775807-1)", {INT64_MIN, 0, INT64_MIN}, 2},
  };
  for (const auto& c : aCases) {
    std::string zSql =
        std::string("SELECT start, stop, step FROM generate_series(") + c.zArgs + ")";
    QueryResult result = run(zSql);
    ASSERT_EQ(result.rc, SQLITE_OK) << zSql << ": " << result.zErr;
    ASSERT_EQ(result.aRows.size(), c.nRows) << zSql;
    for (const auto& aRow : result.aRows) EXPECT_EQ(aRow, c.aRow) << zSql;
  }
}

// Row ids count from 1 in the order the series is produced, whichever way it runs.
TEST_F(SeriesTest, RowIdsCountInOutputOrder) {
  for (const char* zSql : {
           "SELECT rowid, value FROM generate_series(1, 10, 3)",
           "SELECT rowid, value FROM generate_series(1, 10, -3)",
           "SELECT rowid, value FROM generate_series(1, 10, 3) ORDER BY value DESC",
           "SELECT rowid, value FROM generate_series(9223372036854775800, 9223372036854775807, 2)",
       }) {
    QueryResult result = run(zSql);
    ASSERT_EQ(result.rc, SQLITE_OK) << zSql << ": " << result.zErr;
    ASSERT_EQ(result.aRows.size(), 4u) << zSql;
    for (size_t i = 0; i < result.aRows.size(); i++) {
      EXPECT_EQ(result.aRows[i][0], static_cast<int64_t>(i + 1)) << zSql;
    }
  }
}

// Arguments are read as 64-bit integers: texts and reals convert as the engine
// converts them, a real beyond the range saturates.
TEST_F(SeriesTest, ArgumentsConvertToIntegers) {
  EXPECT_EQ(values("SELECT value FROM generate_series('2', '4')"), (std::vector<int64_t>{2, 3, 4}));
  EXPECT_EQ(values("SELECT value FROM generate_series(1.9, 3.5)"), (std::vector<int64_t>{1, 2, 3}));
  EXPECT_EQ(values("SELECT value FROM generate_series(1e300, 1e300, -1)"),
            (std::vector<int64_t>{INT64_MAX}));
  EXPECT_EQ(values("SELECT value FROM generate_series(-1e300, -1e300) LIMIT 5"),
            (std::vector<int64_t>{INT64_MIN}));
  EXPECT_EQ(values("SELECT value FROM generate_series(9223372036854775806, 1e300)"),
            (std::vector<int64_t>{INT64_MAX - 1, INT64_MAX}));
}

// The arguments also arrive as equalities on the hidden columns, from a WHERE
// clause or from another table of a join.
TEST_F(SeriesTest, ArgumentsFromWhereAndJoins) {
  EXPECT_EQ(values("SELECT value FROM generate_series WHERE start = 3 AND stop = 6"),
            (std::vector<int64_t>{3, 4, 5, 6}));
  EXPECT_EQ(values("SELECT value FROM generate_series WHERE start = 1 AND stop = 9 AND step = -4"),
            (std::vector<int64_t>{9, 5, 1}));
  ASSERT_EQ(sqlite3_exec(db.get(),
                         "CREATE TABLE r(a, b, c);"
                         "INSERT INTO r VALUES (1, 3, 1), (10, 4, -2), (9223372036854775806, "
                         "9223372036854775807, 5), (5, 5, NULL);",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  // The planner may try the series before r, where its arguments are unusable:
  // that plan is refused and the series runs after r.
  EXPECT_EQ(values("SELECT value FROM r, generate_series(r.a, r.b, r.c) ORDER BY r.rowid, "
                   "generate_series.rowid"),
            (std::vector<int64_t>{1, 2, 3, INT64_MAX - 1}));
  EXPECT_EQ(values("SELECT value FROM generate_series(r.b, 10), r WHERE r.a = 10"),
            (std::vector<int64_t>{4, 5, 6, 7, 8, 9, 10}));
  // A join order that puts the series first leaves it without its first argument.
  QueryResult crossed = run("SELECT value FROM generate_series(r.b, 10) CROSS JOIN r");
  EXPECT_EQ(crossed.zErr, "first argument to \"generate_series()\" missing or unusable");
  EXPECT_EQ(values("SELECT s.value FROM r JOIN generate_series AS s ON s.start = r.a AND s.stop "
                   "= r.b + 3 WHERE r.rowid = 1"),
            (std::vector<int64_t>{1, 2, 3, 4, 5, 6}));
}

// Only the series' own ORDER BY on value is consumed; other orders are sorted by the engine.
TEST_F(SeriesTest, OrderByConsumedOnlyWhenBoundsArePassed) {
  struct {
    const char* zSql;
    bool bSorter;  // whether the plan needs a temporary b-tree for the ORDER BY
  } aCases[] = {
      {"SELECT value FROM generate_series(1, 10) ORDER BY value DESC", false},
      {"SELECT value FROM generate_series(1, 10, -1) ORDER BY value", false},
      {"SELECT value FROM generate_series(1, 10) ORDER BY value DESC, rowid", false},
      {"SELECT value FROM generate_series(1) ORDER BY value DESC", true},
      {"SELECT value FROM generate_series(1, 10) ORDER BY rowid DESC", true},
  };
  for (const auto& c : aCases) {
    sqlite3_stmt* pRaw = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db.get(), (std::string("EXPLAIN QUERY PLAN ") + c.zSql).c_str(),
                                 -1, &pRaw, nullptr),
              SQLITE_OK);
    StmtPtr pStmt(pRaw);
    bool bSorter = false;
    while (sqlite3_step(pStmt.get()) == SQLITE_ROW) {
      std::string zDetail = reinterpret_cast<const char*>(sqlite3_column_text(pStmt.get(), 3));
      if (zDetail.find("TEMP B-TREE") != std::string::npos) bSorter = true;
    }
    EXPECT_EQ(bSorter, c.bSorter) << c.zSql;
  }
  EXPECT_EQ(values("SELECT value FROM generate_series(1, 4) ORDER BY rowid DESC"),
            (std::vector<int64_t>{4, 3, 2, 1}));
}

TEST_F(SeriesTest, Failures) {
  struct {
    const char* zSql;
    const char* zErr;
  } aCases[] = {
      {"SELECT * FROM generate_series",
       "first argument to \"generate_series()\" missing or unusable"},
      {"SELECT * FROM generate_series()",
       "first argument to \"generate_series()\" missing or unusable"},
      {"SELECT * FROM generate_series WHERE stop = 5",
       "first argument to \"generate_series()\" missing or unusable"},
      {"SELECT * FROM generate_series(1, 2, 3, 4)",
       "too many arguments on generate_series() - max 3"},
      {"CREATE VIRTUAL TABLE t USING generate_series", "no such module: generate_series"},
  };
  for (const auto& c : aCases) {
    QueryResult result = run(c.zSql);
    EXPECT_NE(result.rc, SQLITE_OK) << c.zSql;
    EXPECT_EQ(result.zErr, c.zErr) << c.zSql;
  }
  // A start constraint other than equality is left to the engine.
  EXPECT_EQ(values("SELECT value FROM generate_series WHERE start > 5 AND start = 7 AND stop = 9"),
            (std::vector<int64_t>{7, 8, 9}));
  EXPECT_EQ(values("SELECT value FROM generate_series WHERE start > 7 AND start = 7 AND stop = 9"),
            (std::vector<int64_t>{}));
}

// The two pure helpers at the very ends of the range.
TEST(SeriesHelpers, StepEndsAtTheBoundsWithoutWrapping) {
  constexpr uint64_t nHalf = uint64_t{1} << 63;
  struct {
    int64_t iCurrent, iFirst, iLast;
    uint64_t nStep;
    bool bDescending;
    bool bMoved;
    int64_t iNext;
  } aCases[] = {
      {INT64_MAX - 1, 0, INT64_MAX, 1, false, true, INT64_MAX},
      {INT64_MAX, 0, INT64_MAX, 1, false, false, INT64_MAX},
      {INT64_MIN, INT64_MIN, INT64_MAX, nHalf, false, true, 0},
      {0, INT64_MIN, INT64_MAX, nHalf, false, false, 0},
      {-1, INT64_MIN, INT64_MAX, nHalf, false, true, INT64_MAX},
      {INT64_MAX, INT64_MIN, INT64_MAX, nHalf, true, true, -1},
      {0, INT64_MIN, INT64_MAX, nHalf, true, true, INT64_MIN},
      {INT64_MIN, INT64_MIN, INT64_MAX, 1, true, false, INT64_MIN},
      {INT64_MIN + 1, INT64_MIN, 5, 1, true, true, INT64_MIN},
      {10, 0, 12, 3, false, false, 10},
      {10, 0, 13, 3, false, true, 13},
      {2, 0, 13, 3, true, false, 2},
  };
  for (const auto& c : aCases) {
    int64_t iCurrent = c.iCurrent;
    EXPECT_EQ(seriesStep(&iCurrent, c.iFirst, c.iLast, c.nStep, c.bDescending), c.bMoved)
        << c.iCurrent << " step " << c.nStep;
    EXPECT_EQ(iCurrent, c.iNext) << c.iCurrent << " step " << c.nStep;
  }
  EXPECT_EQ(seriesLastMember(INT64_MIN, INT64_MAX, 1), INT64_MAX);
  EXPECT_EQ(seriesLastMember(INT64_MIN, INT64_MAX, nHalf), 0);
  EXPECT_EQ(seriesLastMember(INT64_MIN + 1, INT64_MAX, nHalf), 1);
  EXPECT_EQ(seriesLastMember(INT64_MIN, INT64_MAX, 3), INT64_MAX);
  EXPECT_EQ(seriesLastMember(0, 100, 7), 98);
  EXPECT_EQ(seriesLastMember(10, 1, 3), 1);
}

}  // namespace
