// The IEEE-754 functions through SQL on an in-memory connection, against vectors computed with
// Python's struct and float.as_integer_ratio (tests/ext/oracles/ieee754.py), plus infinities,
// NaN images, negative zero and the argument types.
#include "ext/ieee754/Ieee754.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

namespace {

#include "tests/ext/ieee754_vectors.inc"

struct StmtDeleter {
  void operator()(sqlite3_stmt* p) const { sqlite3_finalize(p); }
};
using Stmt = std::unique_ptr<sqlite3_stmt, StmtDeleter>;

uint64_t bitsOf(double r) {
  uint64_t u;
  std::memcpy(&u, &r, sizeof u);
  return u;
}

double doubleOf(uint64_t u) {
  double r;
  std::memcpy(&r, &u, sizeof r);
  return r;
}

class Ieee754Test : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
    ASSERT_EQ(ieee754Register(db), SQLITE_OK);
  }
  void TearDown() override { sqlite3_close(db); }

  Stmt prepare(const char* zSql) {
    sqlite3_stmt* p = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, zSql, -1, &p, nullptr), SQLITE_OK)
        << zSql << ": " << sqlite3_errmsg(db);
    return Stmt(p);
  }

  // The first column of the only row, shown as the SQL literal it would be: NULL, an integer,
  // 'text', X'HEX', or a REAL as "real:" and its bit pattern in hexadecimal.
  std::string eval(const char* zSql) {
    Stmt p = prepare(zSql);
    if (!p || sqlite3_step(p.get()) != SQLITE_ROW) return "error";
    return show(p.get(), 0);
  }

  static std::string show(sqlite3_stmt* p, int i) {
    switch (sqlite3_column_type(p, i)) {
      case SQLITE_NULL:
        return "NULL";
      case SQLITE_INTEGER:
        return std::to_string(sqlite3_column_int64(p, i));
      case SQLITE_FLOAT: {
        char z[40];
        std::snprintf(z, sizeof z, "real:%016llX",
                      static_cast<unsigned long long>(bitsOf(sqlite3_column_double(p, i))));
        return z;
      }
      case SQLITE_TEXT:
        return "'" + std::string(reinterpret_cast<const char*>(sqlite3_column_text(p, i))) + "'";
      default: {
        const auto* a = static_cast<const unsigned char*>(sqlite3_column_blob(p, i));
        std::string z = "X'";
        for (int k = 0; k < sqlite3_column_bytes(p, i); k++) {
          char zHex[3];
          std::snprintf(zHex, sizeof zHex, "%02X", a[k]);
          z += zHex;
        }
        return z + "'";
      }
    }
  }

  sqlite3* db = nullptr;
};

TEST_F(Ieee754Test, DecompositionMatchesPython) {
  Stmt p = prepare(
      "SELECT ieee754(?1), ieee754_mantissa(?1), ieee754_exponent(?1), ieee754_to_blob(?1),"
      " ieee754(ieee754_to_blob(?1)), ieee754_from_blob(ieee754_to_blob(?1)),"
      " ieee754(ieee754_mantissa(?1), ieee754_exponent(?1))");
  for (const DecomposeCase& c : kDecomposeCases) {
    const double x = doubleOf(c.uBits);
    SCOPED_TRACE(testing::Message() << std::hex << c.uBits << std::dec << " (" << x << ")");
    sqlite3_bind_double(p.get(), 1, x);
    ASSERT_EQ(sqlite3_step(p.get()), SQLITE_ROW);
    const std::string zText =
        "'ieee754(" + std::to_string(c.iMantissa) + "," + std::to_string(c.iExponent) + ")'";
    EXPECT_EQ(show(p.get(), 0), zText);
    EXPECT_EQ(sqlite3_column_int64(p.get(), 1), c.iMantissa);
    EXPECT_EQ(sqlite3_column_int64(p.get(), 2), c.iExponent);
    EXPECT_EQ(show(p.get(), 3), std::string("X'") + c.zImage + "'");
    EXPECT_EQ(show(p.get(), 4), zText);  // an 8-byte BLOB decomposes the value it encodes
    EXPECT_EQ(bitsOf(sqlite3_column_double(p.get(), 5)), c.uBits);
    // Composing the parts gives the value back exactly.
    EXPECT_EQ(bitsOf(sqlite3_column_double(p.get(), 6)), c.uBits);
    sqlite3_reset(p.get());

    const Ieee754Parts parts = ieee754Decompose(x);
    EXPECT_EQ(parts.iMantissa, c.iMantissa);
    EXPECT_EQ(parts.iExponent, c.iExponent);
  }
}

TEST_F(Ieee754Test, CompositionMatchesPython) {
  Stmt p = prepare("SELECT ieee754(?1, ?2)");
  for (const ComposeCase& c : kComposeCases) {
    SCOPED_TRACE(testing::Message() << "ieee754(" << c.iMantissa << ", " << c.iExponent << ")");
    sqlite3_bind_int64(p.get(), 1, c.iMantissa);
    sqlite3_bind_int64(p.get(), 2, c.iExponent);
    ASSERT_EQ(sqlite3_step(p.get()), SQLITE_ROW);
    if (c.bNull) {
      EXPECT_EQ(sqlite3_column_type(p.get(), 0), SQLITE_NULL);
    } else {
      ASSERT_EQ(sqlite3_column_type(p.get(), 0), SQLITE_FLOAT);
      EXPECT_EQ(bitsOf(sqlite3_column_double(p.get(), 0)), c.uBits);
    }
    sqlite3_reset(p.get());
  }
}

TEST_F(Ieee754Test, Examples) {
  struct Case {
    const char* zSql;
    const char* zExpect;
  };
  const Case aCase[] = {
      // The mantissa is halved only while the exponent is below 0.
      {"SELECT ieee754(2.0)", "'ieee754(2,0)'"},
      {"SELECT ieee754(0.5)", "'ieee754(1,-1)'"},
      {"SELECT ieee754(-3.0)", "'ieee754(-3,0)'"},
      {"SELECT ieee754(0.0)", "'ieee754(0,-1075)'"},
      {"SELECT ieee754(-0.75)", "'ieee754(-3,-2)'"},
      {"SELECT ieee754(3)", "'ieee754(3,0)'"},
      {"SELECT ieee754('1.5')", "'ieee754(3,-1)'"},
      {"SELECT ieee754('abc')", "'ieee754(0,-1075)'"},
      {"SELECT ieee754(NULL)", "'ieee754(0,-1075)'"},
      {"SELECT ieee754_mantissa(10.0)", "10"},
      {"SELECT ieee754_exponent(10.0)", "0"},
      {"SELECT ieee754_mantissa(0.625)", "5"},
      {"SELECT ieee754_exponent(0.625)", "-3"},
      {"SELECT ieee754(5, 1)", "real:4024000000000000"},
      {"SELECT ieee754(1, -1074)", "real:0000000000000001"},
      {"SELECT ieee754(1, 1024)", "real:7FF0000000000000"},
      {"SELECT ieee754(0, 5)", "real:0000000000000000"},
      {"SELECT ieee754(0, 2000)", "real:7FF0000000000000"},
      {"SELECT ieee754('5', '1')", "real:4024000000000000"},
      {"SELECT ieee754(-9223372036854775808, 0)", "NULL"},
      // An exponent beyond the range gives an infinity of the mantissa's sign, never a NaN
      // (SQLite would show a NaN as NULL).
      {"SELECT ieee754(3, 1023)", "real:7FF0000000000000"},
      {"SELECT ieee754(-3, 1023)", "real:FFF0000000000000"},
      {"SELECT ieee754(-1, 5000000)", "real:FFF0000000000000"},
      {"SELECT ieee754(9007199254740991, 972)", "real:7FF0000000000000"},
      {"SELECT ieee754(9007199254740991, 971)", "real:7FEFFFFFFFFFFFFF"},
      // A zero mantissa is zero for small exponents as well.
      {"SELECT ieee754(0, -1000)", "real:0000000000000000"},
      {"SELECT ieee754(0, -1074)", "real:0000000000000000"},
      {"SELECT ieee754(-1, -1075)", "real:8000000000000000"},
      // Images.
      {"SELECT ieee754_to_blob(1.0)", "X'3FF0000000000000'"},
      {"SELECT ieee754_to_blob(1)", "X'3FF0000000000000'"},
      {"SELECT ieee754_to_blob(-2.5)", "X'C004000000000000'"},
      {"SELECT ieee754_to_blob('abc')", "NULL"},
      {"SELECT ieee754_to_blob('1.0')", "NULL"},
      {"SELECT ieee754_to_blob(x'3FF0000000000000')", "NULL"},
      {"SELECT ieee754_to_blob(NULL)", "NULL"},
      {"SELECT ieee754_from_blob(x'3FF0000000000000')", "real:3FF0000000000000"},
      {"SELECT ieee754_from_blob(x'3FF00000000000')", "NULL"},
      {"SELECT ieee754_from_blob(x'3FF000000000000000')", "NULL"},
      {"SELECT ieee754_from_blob('3FF0000000000000')", "NULL"},
      {"SELECT ieee754_from_blob(1.0)", "NULL"},
      {"SELECT ieee754_from_blob(x'7FF0000000000000')", "real:7FF0000000000000"},
      // Infinities, NaN images and negative zero decompose without a sign-bit artefact.
      {"SELECT ieee754(x'7FF0000000000000')", "'ieee754(4503599627370496,972)'"},
      {"SELECT ieee754(x'FFF0000000000000')", "'ieee754(-4503599627370496,972)'"},
      {"SELECT ieee754(4503599627370496, 972)", "real:7FF0000000000000"},
      {"SELECT ieee754(x'7FF8000000000000')", "'ieee754(6755399441055744,972)'"},
      {"SELECT ieee754(x'FFF8000000000000')", "'ieee754(6755399441055744,972)'"},
      {"SELECT ieee754(x'8000000000000000')", "'ieee754(0,-1075)'"},
      {"SELECT ieee754_mantissa(x'8000000000000000')", "0"},
      {"SELECT ieee754(x'0000000000000001')", "'ieee754(1,-1074)'"},
      {"SELECT ieee754(x'3FF00000000000')", "'ieee754(0,-1075)'"},  // 7 bytes: not an image
  };
  for (const Case& c : aCase) EXPECT_EQ(eval(c.zSql), c.zExpect) << c.zSql;
}

TEST_F(Ieee754Test, CompositionIsTruncatedTowardZero) {
  // 2^53 + 3 needs 54 bits: the lowest is dropped, not rounded.
  double r = 0;
  ASSERT_TRUE(ieee754Compose((int64_t{1} << 53) + 3, 0, &r));
  EXPECT_EQ(r, 9007199254740994.0);
  ASSERT_TRUE(ieee754Compose(-((int64_t{1} << 53) + 3), 0, &r));
  EXPECT_EQ(r, -9007199254740994.0);
  ASSERT_TRUE(ieee754Compose(3, -1075, &r));  // 1.5 times the smallest subnormal
  EXPECT_EQ(bitsOf(r), 1u);
  EXPECT_FALSE(ieee754Compose(INT64_MIN, 0, &r));
}

TEST(Ieee754Registration, NotDeterministic) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  ASSERT_EQ(ieee754Register(db), SQLITE_OK);
  // Functions that are not deterministic may not appear in an index expression.
  EXPECT_NE(sqlite3_exec(db, "CREATE TABLE t(a); CREATE INDEX ti ON t(ieee754(a));", nullptr,
                         nullptr, nullptr),
            SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db,
                         "SELECT ieee754(1.0), ieee754(1, 2), ieee754_mantissa(1.0),"
                         " ieee754_exponent(1.0), ieee754_to_blob(1.0),"
                         " ieee754_from_blob(x'0000000000000000')",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
}

}  // namespace
