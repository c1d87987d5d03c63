// The decimal functions and the decimal and uint collations, through SQL on an in-memory
// connection, against vectors computed with Python's decimal module
// (tests/ext/oracles/decimal.py), plus the parser's quirks, the sign of zero and the bounds on
// the size of numbers.
#include "ext/decimal/Decimal.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

#include "tests/ext/decimal_vectors.inc"

struct StmtDeleter {
  void operator()(sqlite3_stmt* p) const { sqlite3_finalize(p); }
};
using Stmt = std::unique_ptr<sqlite3_stmt, StmtDeleter>;

// The outcome of one single-value query: its text (nullopt for NULL) or the engine's error.
struct Outcome {
  std::optional<std::string> zValue;
  std::string zError;
  bool operator==(const Outcome&) const = default;
};

Outcome value(const char* z) {
  return {std::string(z), ""};
}
Outcome sqlNull() {
  return {std::nullopt, ""};
}
Outcome error(const char* z) {
  return {std::nullopt, z};
}

std::ostream& operator<<(std::ostream& os, const Outcome& o) {
  if (!o.zError.empty()) return os << "error: " << o.zError;
  return os << (o.zValue ? "'" + *o.zValue + "'" : std::string("NULL"));
}

class DecimalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
    ASSERT_EQ(decimalRegister(db), SQLITE_OK);
    ASSERT_EQ(uintRegister(db), SQLITE_OK);
  }
  void TearDown() override { sqlite3_close(db); }

  Stmt prepare(const std::string& zSql) {
    sqlite3_stmt* p = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, zSql.c_str(), -1, &p, nullptr), SQLITE_OK)
        << zSql << ": " << sqlite3_errmsg(db);
    return Stmt(p);
  }

  // Steps a prepared statement once and reads its first column.
  Outcome stepOne(sqlite3_stmt* p) {
    Outcome o;
    const int rc = sqlite3_step(p);
    if (rc == SQLITE_ROW) {
      if (sqlite3_column_type(p, 0) != SQLITE_NULL) {
        o.zValue = reinterpret_cast<const char*>(sqlite3_column_text(p, 0));
      }
    } else {
      o.zError = sqlite3_errmsg(db);
    }
    sqlite3_reset(p);
    return o;
  }

  Outcome eval(const std::string& zSql) {
    Stmt p = prepare(zSql);
    return p ? stepOne(p.get()) : error("prepare failed");
  }

  void exec(const std::string& zSql) {
    char* zErr = nullptr;
    EXPECT_EQ(sqlite3_exec(db, zSql.c_str(), nullptr, nullptr, &zErr), SQLITE_OK)
        << zSql << ": " << (zErr ? zErr : "");
    sqlite3_free(zErr);
  }

  sqlite3* db = nullptr;
};

void bindText(sqlite3_stmt* p, int i, const char* z) {
  if (z) {
    sqlite3_bind_text(p, i, z, -1, SQLITE_STATIC);
  } else {
    sqlite3_bind_null(p, i);
  }
}

TEST_F(DecimalTest, FunctionsMatchPythonDecimal) {
  for (const DecimalCase& c : kDecimalCases) {
    const std::string zFunc = c.zFunc;
    Stmt p = prepare("SELECT " + zFunc + (c.zB ? "(?1, ?2)" : "(?1)"));
    ASSERT_TRUE(p);
    bindText(p.get(), 1, c.zA);
    if (c.zB) bindText(p.get(), 2, c.zB);
    EXPECT_EQ(stepOne(p.get()), value(c.zExpect))
        << zFunc << "('" << c.zA << "'" << (c.zB ? std::string(", '") + c.zB + "'" : "") << ")";
  }
}

TEST_F(DecimalTest, ExamplesAndParserQuirks) {
  struct Case {
    const char* zSql;
    Outcome expect;
  };
  const Case aCase[] = {
      {"SELECT decimal('1e3')", value("1000")},
      {"SELECT decimal('  +001.50')", value("1.50")},
      {"SELECT decimal('12abc3')", value("123")},
      {"SELECT decimal('-0')", value("0")},
      {"SELECT decimal('')", value("0")},
      {"SELECT decimal('abc')", value("0")},
      {"SELECT decimal('-.')", value("0")},
      {"SELECT decimal('12e')", value("12")},       // a final 'e' is ignored
      {"SELECT decimal('12e+2')", value("1200")},   //
      {"SELECT decimal('1x2e-x1')", value("1.2")},  // non-digits in the exponent are skipped
      {"SELECT decimal('1.2.3')", value("12.3")},   // the last point counts
      {"SELECT decimal('1e2e3')", value("100000000000000000000000")},  // exponent 23
      {"SELECT decimal('- 5')", value("-5")},
      {"SELECT decimal('+-5')", value("5")},
      {"SELECT decimal('0e-5')", value("0.00000")},
      {"SELECT decimal(12)", value("12")},
      {"SELECT decimal(-2.5)", value("-2.5")},
      {"SELECT decimal(x'2D31322E3530')", value("-12.50")},
      {"SELECT decimal(NULL)", sqlNull()},
      {"SELECT decimal_add('0.1', '0.2')", value("0.3")},
      {"SELECT decimal_sub('1', '0.001')", value("0.999")},
      {"SELECT decimal_mul('1.5', '2.25')", value("3.375")},
      {"SELECT decimal_mul('2.50', '4.0')", value("10.0")},
      {"SELECT decimal_cmp('10', '9.99')", value("1")},
      {"SELECT decimal_cmp('-1', '1')", value("-1")},
      {"SELECT decimal_add(NULL, '1')", sqlNull()},
      {"SELECT decimal_add('1', NULL)", sqlNull()},
      {"SELECT decimal_sub(NULL, NULL)", sqlNull()},
      {"SELECT decimal_mul('2', NULL)", sqlNull()},
      {"SELECT decimal_cmp(NULL, '1')", sqlNull()},
      {"SELECT decimal_cmp('1', NULL)", sqlNull()},
      // Exponent digits stop being read once the exponent has reached 1000000.
      {"SELECT decimal_cmp('1e1000000999', '1e1000000')", value("0")},
      {"SELECT decimal_cmp('1e0000001234', '1e1234')", value("0")},
      {"SELECT decimal_cmp('1e-99999999', '1e-9999999')", value("0")},
      {"SELECT decimal_cmp('2e9999999', '1e9999999')", value("1")},
      {"SELECT decimal_cmp('-2e-9999999', '-1e-9999999')", value("-1")},
  };
  for (const Case& c : aCase) EXPECT_EQ(eval(c.zSql), c.expect) << c.zSql;
}

TEST_F(DecimalTest, ComparisonIsByValue) {
  // Equal values written differently are equal; a leading zero that the exponent leaves in front
  // of the point does not make a number larger.
  struct Case {
    const char* zA;
    const char* zB;
    int iExpect;
  };
  const Case aCase[] = {
      {"5e-1", "0.6", -1},    {"0.6", "5e-1", 1},   {"5e-1", "0.5", 0},    {"1.0", "1", 0},
      {"1", "1.000", 0},      {"-0", "0", 0},       {"-0.00", "0", 0},     {"0e5", "-0e-5", 0},
      {"", "0", 0},           {"-1.0", "-1", 0},    {"-1.01", "-1", -1},   {"-1", "-1.01", 1},
      {"12e-1", "1.2", 0},    {"120e-2", "1.2", 0}, {"0.012e2", "1.2", 0}, {"1e2", "99.99", 1},
      {"-1e2", "-99.99", -1}, {"0.001", "1e-3", 0}, {"0.001", "2e-3", -1}, {"-5", "3", -1},
      {"007", "7.0e0", 0},    {"10", "9", 1},       {"100e-2", "1", 0},    {"1e-2", "0.1", -1},
  };
  Stmt p = prepare("SELECT decimal_cmp(?1, ?2)");
  for (const Case& c : aCase) {
    sqlite3_bind_text(p.get(), 1, c.zA, -1, SQLITE_STATIC);
    sqlite3_bind_text(p.get(), 2, c.zB, -1, SQLITE_STATIC);
    EXPECT_EQ(stepOne(p.get()), value(std::to_string(c.iExpect).c_str())) << c.zA << " " << c.zB;
    // The parsed numbers compare the same way as their texts.
    DecimalNum a;
    DecimalNum b;
    decimalParse(&a, c.zA);
    decimalParse(&b, c.zB);
    EXPECT_EQ(decimalCompare(a, b), c.iExpect) << c.zA << " " << c.zB;
    EXPECT_EQ(decimalCompareText(c.zA, c.zB), c.iExpect) << c.zA << " " << c.zB;
  }
}

TEST_F(DecimalTest, ZeroCarriesNoSign) {
  EXPECT_EQ(eval("SELECT decimal('-0.00')"), value("0.00"));
  EXPECT_EQ(eval("SELECT decimal('-0e-3')"), value("0.000"));
  EXPECT_EQ(eval("SELECT decimal_mul('-1', '0')"), value("0"));
  EXPECT_EQ(eval("SELECT decimal_mul('-1.5', '0.00')"), value("0.0"));
  EXPECT_EQ(eval("SELECT decimal_add('-1.00', '1')"), value("0.00"));
  EXPECT_EQ(eval("SELECT decimal_sub('-2.5', '-2.50')"), value("0.00"));
}

// (10^n - 1)^2 = 10^2n - 2 * 10^n + 1: n - 1 nines, an 8, n - 1 zeros and a 1.
TEST_F(DecimalTest, LargeProductsAndSums) {
  for (int n : {1, 8, 9, 10, 17, 18, 19, 500, 4001}) {
    const std::string zNines(static_cast<size_t>(n), '9');
    const std::string zExpect = std::string(static_cast<size_t>(n - 1), '9') + "8" +
                                std::string(static_cast<size_t>(n - 1), '0') + "1";
    EXPECT_EQ(eval("SELECT decimal_mul('" + zNines + "', '" + zNines + "')"),
              value(zExpect.c_str()))
        << n;
    // The same digits with n + 3 fraction digits.
    const size_t nFrac = static_cast<size_t>(n) + 3;
    const std::string zScaled = nFrac >= zExpect.size()
                                    ? "0." + std::string(nFrac - zExpect.size(), '0') + zExpect
                                    : zExpect.substr(0, zExpect.size() - nFrac) + "." +
                                          zExpect.substr(zExpect.size() - nFrac);
    EXPECT_EQ(eval("SELECT decimal_mul('-0." + zNines + "', '" + zNines + "e-3')"),
              value(("-" + zScaled).c_str()))
        << n;
    EXPECT_EQ(eval("SELECT decimal_add('" + zNines + "', '1')"),
              value(("1" + std::string(static_cast<size_t>(n), '0')).c_str()))
        << n;
  }
  // A sparse product of ten million digits is quick: zero limbs are skipped.
  Outcome o = eval("SELECT length(decimal_mul('1e5000000', '-3e4999999'))");
  EXPECT_EQ(o, value("10000001"));
}

TEST_F(DecimalTest, HugeNumbersAreRefusedNotAllocated) {
  // The default length limit lets the largest exponent through: ten million digits.
  EXPECT_EQ(eval("SELECT length(decimal('1e9999999'))"), value("10000000"));
  EXPECT_EQ(eval("SELECT length(decimal('-1e-9999999'))"), value("10000002"));

  sqlite3_limit(db, SQLITE_LIMIT_LENGTH, 1000);
  const char* zTooBig = "string or blob too big";
  // 600 sevens, built in SQL: a statement may not be longer than the limit either.
  const std::string z600 = "replace(hex(zeroblob(300)), '0', '7')";
  struct Case {
    std::string zSql;
    Outcome expect;
  };
  const Case aCase[] = {
      {"SELECT decimal('1e999')", value(("1" + std::string(999, '0')).c_str())},
      {"SELECT decimal('1e1000')", error(zTooBig)},
      {"SELECT decimal('1e999999999')", error(zTooBig)},
      {"SELECT decimal('-1e-9999999')", error(zTooBig)},
      {"SELECT decimal_add('1e600', '1e-600')", error(zTooBig)},
      {"SELECT decimal_sub('1e-9999999', '1')", error(zTooBig)},
      {"SELECT decimal_mul(" + z600 + ", " + z600 + ")", error(zTooBig)},
      {"SELECT decimal_mul('1e9999999', NULL)", sqlNull()},
      {"SELECT decimal_add(NULL, '1e9999999')", sqlNull()},
      // Comparisons build no digits, so they have no size limit.
      {"SELECT decimal_cmp('1e9999999', '1e9999998')", value("1")},
      {"SELECT '1e9999999' < '2' COLLATE decimal", value("0")},
      {"SELECT decimal_sum(x) FROM (SELECT '1e600' AS x UNION ALL SELECT '1e-600')",
       error(zTooBig)},
  };
  for (const Case& c : aCase) EXPECT_EQ(eval(c.zSql), c.expect) << c.zSql;
}

TEST_F(DecimalTest, FailedAllocationsAreReportedAsOutOfMemory) {
  // The engine's allocator refuses anything beyond a megabyte more than is in use now.
  const sqlite3_int64 nOldLimit = sqlite3_hard_heap_limit64(sqlite3_memory_used() + 1000000);
  const char* zNoMem = "out of memory";
  struct Case {
    const char* zSql;
    Outcome expect;
  };
  const Case aCase[] = {
      {"SELECT decimal('1e5000000')", error(zNoMem)},
      {"SELECT decimal_add('1e3000000', '1')", error(zNoMem)},
      {"SELECT decimal_mul('1e5000', '1e5000')", value(("1" + std::string(10000, '0')).c_str())},
      {"SELECT decimal_sum(x) FROM (SELECT '1' AS x UNION ALL SELECT '1e-2000000')", error(zNoMem)},
      {"SELECT decimal_cmp('1e5000000', '1')", value("1")},
  };
  for (const Case& c : aCase) EXPECT_EQ(eval(c.zSql), c.expect) << c.zSql;
  sqlite3_hard_heap_limit64(nOldLimit);
  EXPECT_EQ(eval("SELECT length(decimal('1e5000000'))"), value("5000001"));
}

TEST_F(DecimalTest, DenseProductsBeyondTheWorkBoundAreRefusedQuickly) {
  // Two dense numbers of 200000 digits would take tens of seconds of schoolbook
  // multiplication; 20000 digits each is computed.
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(eval("SELECT decimal_mul(decimal_sub('1e200000', '1'), decimal_sub('1e200000', '1'))"),
            error("string or blob too big"));
  EXPECT_EQ(
      eval("SELECT substr(decimal_mul(decimal_sub('1e20000', '1'), decimal_sub('1e20000', '3')), "
           "19997, 6)"),
      value("999600"));
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 20.0);
}

TEST_F(DecimalTest, SumMatchesPythonDecimal) {
  exec("CREATE TABLE t(g INTEGER, i INTEGER, v TEXT)");
  Stmt ins = prepare("INSERT INTO t VALUES (?1, ?2, ?3)");
  int i = 0;
  for (const DecimalSumRow& r : kDecimalSumRows) {
    sqlite3_bind_int(ins.get(), 1, r.iGroup);
    sqlite3_bind_int(ins.get(), 2, i++);
    bindText(ins.get(), 3, r.zValue);
    ASSERT_EQ(sqlite3_step(ins.get()), SQLITE_DONE);
    sqlite3_reset(ins.get());
  }
  Stmt groups = prepare("SELECT g, decimal_sum(v) FROM t GROUP BY g ORDER BY g");
  size_t iGroup = 0;
  while (sqlite3_step(groups.get()) == SQLITE_ROW) {
    ASSERT_LT(iGroup, std::size(kDecimalSumGroups));
    EXPECT_EQ(sqlite3_column_int(groups.get(), 0), kDecimalSumGroups[iGroup].iGroup);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(groups.get(), 1)),
                 kDecimalSumGroups[iGroup].zSum)
        << "group " << kDecimalSumGroups[iGroup].iGroup;
    iGroup++;
  }
  EXPECT_EQ(iGroup, std::size(kDecimalSumGroups));

  // A sliding frame: the values leaving it are subtracted.
  Stmt window = prepare(
      "SELECT decimal_sum(v) OVER (PARTITION BY g ORDER BY i ROWS BETWEEN 2 PRECEDING AND "
      "CURRENT ROW) FROM t ORDER BY g, i");
  size_t iRow = 0;
  while (sqlite3_step(window.get()) == SQLITE_ROW) {
    ASSERT_LT(iRow, std::size(kDecimalSumRows));
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(window.get(), 0)),
                 kDecimalSumRows[iRow].zWindow)
        << "row " << iRow;
    iRow++;
  }
  EXPECT_EQ(iRow, std::size(kDecimalSumRows));

  EXPECT_EQ(eval("SELECT decimal_sum(v) FROM t WHERE 0"), sqlNull());
  EXPECT_EQ(eval("SELECT decimal_sum(v) FROM t WHERE v IS NULL"), value("0"));
  EXPECT_EQ(eval("SELECT decimal_sum(v) FROM (SELECT 1.1 AS v UNION ALL SELECT 2.2 UNION ALL "
                 "SELECT NULL)"),
            value("3.3"));
  // An aborted aggregation releases its accumulator (the sanitizer build checks for leaks).
  Stmt p = prepare("SELECT decimal_sum(v) FROM t");
  sqlite3_step(p.get());
  p.reset();
}

// Sorts zText under the collation and checks that the ranks come out in order; compares every
// pair with zCompare as well.
template <size_t N, class Compare>
void checkOrder(DecimalTest* pTest, sqlite3* db, const RankedText (&aText)[N],
                const char* zCollation, Compare compare) {
  (void)pTest;
  char* zErr = nullptr;
  ASSERT_EQ(sqlite3_exec(db, "CREATE TEMP TABLE s(x TEXT, r INTEGER)", nullptr, nullptr, &zErr),
            SQLITE_OK);
  sqlite3_stmt* pIns = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "INSERT INTO s VALUES (?1, ?2)", -1, &pIns, nullptr), SQLITE_OK);
  Stmt ins(pIns);
  for (const RankedText& t : aText) {
    sqlite3_bind_text(pIns, 1, t.zText, -1, SQLITE_STATIC);
    sqlite3_bind_int(pIns, 2, t.iRank);
    ASSERT_EQ(sqlite3_step(pIns), SQLITE_DONE);
    sqlite3_reset(pIns);
  }
  const std::string zSql = std::string("SELECT x, r FROM s ORDER BY x COLLATE ") + zCollation;
  sqlite3_stmt* pSel = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, zSql.c_str(), -1, &pSel, nullptr), SQLITE_OK);
  Stmt sel(pSel);
  int iPrev = -1;
  size_t nRows = 0;
  std::string zPrev;
  while (sqlite3_step(pSel) == SQLITE_ROW) {
    const std::string zText = reinterpret_cast<const char*>(sqlite3_column_text(pSel, 0));
    const int iRank = sqlite3_column_int(pSel, 1);
    EXPECT_LE(iPrev, iRank) << "'" << zPrev << "' sorted before '" << zText << "'";
    iPrev = iRank;
    zPrev = zText;
    nRows++;
  }
  EXPECT_EQ(nRows, N);
  for (const RankedText& a : aText) {
    for (const RankedText& b : aText) {
      const int iExpect = (a.iRank > b.iRank) - (a.iRank < b.iRank);
      const int c = compare(a.zText, b.zText);
      ASSERT_EQ((c > 0) - (c < 0), iExpect) << "'" << a.zText << "' vs '" << b.zText << "'";
    }
  }
  sqlite3_exec(db, "DROP TABLE s", nullptr, nullptr, nullptr);
}

TEST_F(DecimalTest, DecimalCollationOrdersByValue) {
  checkOrder(this, db, kDecimalOrder, "decimal",
             [](const char* a, const char* b) { return decimalCompareText(a, b); });
  Stmt p = prepare("SELECT decimal_cmp(?1, ?2)");
  for (const RankedText& a : kDecimalOrder) {
    for (const RankedText& b : kDecimalOrder) {
      sqlite3_bind_text(p.get(), 1, a.zText, -1, SQLITE_STATIC);
      sqlite3_bind_text(p.get(), 2, b.zText, -1, SQLITE_STATIC);
      const int iExpect = (a.iRank > b.iRank) - (a.iRank < b.iRank);
      ASSERT_EQ(stepOne(p.get()), value(std::to_string(iExpect).c_str()))
          << a.zText << " vs " << b.zText;
    }
  }
  // '9', '10' and '1e2' sort numerically.
  EXPECT_EQ(eval("SELECT group_concat(x, ' ') FROM (SELECT x FROM (SELECT '1e2' AS x UNION ALL "
                 "SELECT '10' UNION ALL SELECT '9') ORDER BY x COLLATE decimal)"),
            value("9 10 1e2"));
}

TEST_F(DecimalTest, UintCollationIsNaturalOrder) {
  checkOrder(this, db, kUintOrder, "uint",
             [](const char* a, const char* b) { return uintCompare(a, b); });
  struct Case {
    const char* zA;
    const char* zB;
    int iSign;
  };
  const Case aCase[] = {
      {"a9", "a10", -1},
      {"x01", "x1", 0},
      {"B", "a", -1},
      {"", "", 0},
      {"", "0", -1},
      {"a", "", 1},
      {"0a", "a", -1},
      {"x0", "x", 1},
      {"a00", "a0b", -1},
      {"9", "10", -1},
      {"A", "a", -1},
      {"\xc3\xa9", "z", 1},  // bytes compare unsigned
      {"99999999999999999999999", "100000000000000000000000", -1},
  };
  for (const Case& c : aCase) {
    const int r = uintCompare(c.zA, c.zB);
    EXPECT_EQ((r > 0) - (r < 0), c.iSign) << c.zA << " vs " << c.zB;
  }
  EXPECT_EQ(eval("SELECT 'a9' < 'a10' COLLATE uint"), value("1"));
}

TEST(DecimalRegistration, FlagsAndNames) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  ASSERT_EQ(decimalRegister(db), SQLITE_OK);
  // Deterministic functions are allowed in index expressions and CHECK constraints.
  char* zErr = nullptr;
  EXPECT_EQ(sqlite3_exec(db,
                         "CREATE TABLE t(a, CHECK (decimal_cmp(a, '0') >= 0));"
                         "CREATE INDEX ti ON t(decimal(a), decimal_add(a, 1), decimal_sub(a, 1),"
                         " decimal_mul(a, 2));",
                         nullptr, nullptr, &zErr),
            SQLITE_OK)
      << (zErr ? zErr : "");
  sqlite3_free(zErr);
  // uint comes separately.
  const char* zUint = "SELECT 'a' < 'b' COLLATE uint";
  EXPECT_NE(sqlite3_exec(db, zUint, nullptr, nullptr, nullptr), SQLITE_OK);
  ASSERT_EQ(uintRegister(db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, zUint, nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
}

}  // namespace
