// SHA-3 hashing: the hasher and the SQL functions against Python's hashlib, sha3_query's byte
// stream against a stream built by Python from its own sqlite3 module, and the exact errors.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "ext/sha3/Sha3.h"

namespace {

struct MessageVector {
  int iSize;
  int nLength;
  const char* zDigestHex;
};

struct QueryVector {
  const char* zName;
  int iSize;
  const char* zSql;
  const char* zDigestHex;
};

struct Sha3sumVector {
  const char* zName;
  int iSize;
  const char* zDigestHex;
};

#include "sha3_vectors.inc"

constexpr const char* kSizeError = "SHA3 size should be one of: 224 256 384 512";

std::vector<unsigned char> message(size_t n) {
  std::vector<unsigned char> a(n);
  for (size_t i = 0; i < n; ++i) a[i] = static_cast<unsigned char>((i * 167 + 13) % 256);
  return a;
}

std::string toHex(const void* p, size_t n) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string z;
  for (size_t i = 0; i < n; ++i) {
    const unsigned char c = static_cast<const unsigned char*>(p)[i];
    z += kDigits[c >> 4];
    z += kDigits[c & 15];
  }
  return z;
}

std::string emptyDigest(int iSize) {
  for (const MessageVector& v : kMessageVectors) {
    if (v.iSize == iSize && v.nLength == 0) return v.zDigestHex;
  }
  return "";
}

// The first column of the first row of one statement, or the error it raised.
struct Result {
  int rc = SQLITE_OK;  // the step's result (SQLITE_ROW or an error) or the prepare's error
  int eType = SQLITE_NULL;
  std::string zHex;  // the value's bytes in lower-case hex
  std::string zText;
  std::string zErr;
};

class Sha3Sql : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
    ASSERT_EQ(sha3Register(db), SQLITE_OK);
  }
  void TearDown() override { sqlite3_close(db); }

  void exec(const char* zSql) {
    char* zErr = nullptr;
    ASSERT_EQ(sqlite3_exec(db, zSql, nullptr, nullptr, &zErr), SQLITE_OK) << (zErr ? zErr : "");
  }

  Result eval(const std::string& zSql, const std::function<void(sqlite3_stmt*)>& bind = {}) {
    Result r;
    sqlite3_stmt* pStmt = nullptr;
    r.rc = sqlite3_prepare_v2(db, zSql.c_str(), -1, &pStmt, nullptr);
    if (r.rc == SQLITE_OK) {
      if (bind) bind(pStmt);
      r.rc = sqlite3_step(pStmt);
      if (r.rc == SQLITE_ROW) {
        r.eType = sqlite3_column_type(pStmt, 0);
        const void* p = sqlite3_column_blob(pStmt, 0);
        r.zHex = toHex(p, static_cast<size_t>(sqlite3_column_bytes(pStmt, 0)));
        const unsigned char* z = sqlite3_column_text(pStmt, 0);
        if (z) r.zText = reinterpret_cast<const char*>(z);
      }
    }
    if (r.rc != SQLITE_ROW) r.zErr = sqlite3_errmsg(db);
    sqlite3_finalize(pStmt);
    return r;
  }

  Result hashQuery(const char* zSql, int iSize) {
    return eval("SELECT sha3_query(?1, ?2)", [&](sqlite3_stmt* pStmt) {
      sqlite3_bind_text(pStmt, 1, zSql, -1, SQLITE_STATIC);
      sqlite3_bind_int(pStmt, 2, iSize);
    });
  }

  sqlite3* db = nullptr;
};

TEST(Sha3Hasher, RateFollowsTheDigestSize) {
  const struct {
    int iSize;
    unsigned nBlockBytes;
  } aCase[] = {{224, 144}, {256, 136}, {384, 104}, {512, 72},  {128, 168}, {160, 160},
               {200, 144}, {511, 72},  {127, 136}, {513, 136}, {0, 136},   {-256, 136}};
  for (const auto& c : aCase) {
    Sha3Hasher hasher;
    std::memset(&hasher, 0xAB, sizeof(hasher));
    sha3Begin(&hasher, c.iSize);
    EXPECT_EQ(hasher.nBlockBytes, c.nBlockBytes) << c.iSize;
    EXPECT_EQ(hasher.nInBlock, 0u);
    for (uint64_t lane : hasher.aLane) EXPECT_EQ(lane, 0u);
  }
}

// Each message is fed in uneven pieces from a misaligned address, so that the lane-at-a-time
// path, the byte path and the switches between them all meet block boundaries.
TEST(Sha3Hasher, PiecewiseAbsorbMatchesHashlib) {
  constexpr size_t aPiece[] = {1, 3, 8, 13, 64, 200, 5, 7, 16};
  for (const MessageVector& v : kMessageVectors) {
    const std::vector<unsigned char> aMsg = message(static_cast<size_t>(v.nLength));
    for (size_t iOffset = 0; iOffset < 8; iOffset += 3) {
      std::vector<unsigned char> aBuf(iOffset + aMsg.size() + 1);
      std::copy(aMsg.begin(), aMsg.end(), aBuf.begin() + static_cast<ptrdiff_t>(iOffset));
      Sha3Hasher hasher;
      sha3Begin(&hasher, v.iSize);
      size_t iPos = 0;
      for (size_t iPiece = 0; iPos < aMsg.size(); ++iPiece) {
        const size_t n = std::min(aPiece[iPiece % std::size(aPiece)], aMsg.size() - iPos);
        sha3Absorb(&hasher, aBuf.data() + iOffset + iPos, n);
        iPos += n;
      }
      EXPECT_EQ(toHex(sha3Finish(&hasher), static_cast<size_t>(v.iSize / 8)), v.zDigestHex)
          << "size " << v.iSize << ", length " << v.nLength << ", offset " << iOffset;
    }
  }
}

TEST(Sha3Hasher, NullAndFormattedInput) {
  Sha3Hasher hasher;
  sha3Begin(&hasher, 256);
  sha3Absorb(&hasher, nullptr, 17);
  EXPECT_EQ(toHex(sha3Finish(&hasher), 32), emptyDigest(256));

  // The formatted text is absorbed without its terminator and cut to 49 bytes.
  const std::string zLong(60, 'q');
  Sha3Hasher formatted;
  Sha3Hasher plain;
  sha3Begin(&formatted, 384);
  sha3Begin(&plain, 384);
  sha3AbsorbFormat(&formatted, "T%d:%s|%s", 12, "ab", zLong.c_str());
  const std::string zExpected = ("T12:ab|" + zLong).substr(0, 49);
  sha3Absorb(&plain, zExpected.data(), zExpected.size());
  EXPECT_EQ(toHex(sha3Finish(&formatted), 48), toHex(sha3Finish(&plain), 48));
}

TEST_F(Sha3Sql, MessageDigestsMatchHashlib) {
  for (const MessageVector& v : kMessageVectors) {
    const std::vector<unsigned char> aMsg = message(static_cast<size_t>(v.nLength));
    const auto bindMessage = [&](sqlite3_stmt* pStmt) {
      // A null pointer would bind NULL, so the empty message needs an address.
      sqlite3_bind_blob(pStmt, 1, aMsg.empty() ? static_cast<const void*>("") : aMsg.data(),
                        static_cast<int>(aMsg.size()), SQLITE_STATIC);
      sqlite3_bind_int(pStmt, 2, v.iSize);
    };
    Result r = eval("SELECT sha3(?1, ?2)", bindMessage);
    ASSERT_EQ(r.rc, SQLITE_ROW) << r.zErr;
    EXPECT_EQ(r.eType, SQLITE_BLOB);
    EXPECT_EQ(r.zHex, v.zDigestHex) << "size " << v.iSize << ", length " << v.nLength;
    if (v.iSize == 256) {
      EXPECT_EQ(eval("SELECT sha3(?1)", bindMessage).zHex, v.zDigestHex) << v.nLength;
    }
  }
}

TEST_F(Sha3Sql, ValuesHashAsTheirTextOrBytes) {
  const struct {
    const char* zSql;
    const char* zSameAs;
  } aCase[] = {
      {"sha3(123)", "sha3('123')"},
      {"sha3(-1.5, 512)", "sha3('-1.5', 512)"},
      {"sha3(X'616263', 224)", "sha3('abc', 224)"},
      {"sha3(CAST('h\xc3\xa9' AS BLOB))", "sha3('h\xc3\xa9')"},
      {"sha3('x', '384')", "sha3('x', 384)"},
      {"sha3('x', 512.0)", "sha3('x', 512)"},
  };
  for (const auto& c : aCase) {
    const Result r = eval(std::string("SELECT ") + c.zSql);
    ASSERT_EQ(r.rc, SQLITE_ROW) << c.zSql << ": " << r.zErr;
    EXPECT_EQ(r.zHex, eval(std::string("SELECT ") + c.zSameAs).zHex) << c.zSql;
  }
  EXPECT_EQ(eval("SELECT sha3('')").zHex, emptyDigest(256));
  EXPECT_EQ(eval("SELECT sha3(X'', 384)").zHex, emptyDigest(384));
  EXPECT_EQ(eval("SELECT sha3('abc', 512)").zHex.size(), 128u);
  const Result rNull = eval("SELECT sha3(NULL, 224)");
  ASSERT_EQ(rNull.rc, SQLITE_ROW);
  EXPECT_EQ(rNull.eType, SQLITE_NULL);
}

TEST_F(Sha3Sql, SizeOutsideTheFourIsAnError) {
  // The size is checked first, so a NULL message does not hide a bad size.  A size that only
  // matches in its low 32 bits is rejected too.
  const char* aSql[] = {
      "SELECT sha3('a', 255)",
      "SELECT sha3('a', 0)",
      "SELECT sha3('a', NULL)",
      "SELECT sha3(NULL, 255)",
      "SELECT sha3('a', 4294967552)",
      "SELECT sha3('a', 'big')",
      "SELECT sha3_query('SELECT 1', 100)",
      "SELECT sha3_query(NULL, NULL)",
      "SELECT sha3_query('SELECT 1', 4294967520)",
  };
  for (const char* zSql : aSql) {
    const Result r = eval(zSql);
    EXPECT_EQ(r.rc, SQLITE_ERROR) << zSql;
    EXPECT_EQ(r.zErr, kSizeError) << zSql;
  }
}

TEST_F(Sha3Sql, QueryDigestsMatchTheCanonicalStream) {
  exec(kFixtureSql);
  for (const QueryVector& v : kQueryVectors) {
    const Result r = hashQuery(v.zSql, v.iSize);
    ASSERT_EQ(r.rc, SQLITE_ROW) << v.zName << ": " << r.zErr;
    EXPECT_EQ(r.eType, SQLITE_BLOB) << v.zName;
    EXPECT_EQ(r.zHex, v.zDigestHex) << v.zName;
    if (v.iSize == 256) {
      const Result rOneArg = eval("SELECT sha3_query(?1)", [&](sqlite3_stmt* pStmt) {
        sqlite3_bind_text(pStmt, 1, v.zSql, -1, SQLITE_STATIC);
      });
      EXPECT_EQ(rOneArg.zHex, v.zDigestHex) << v.zName;
    }
  }
  const Result rNull = eval("SELECT sha3_query(NULL, 384)");
  ASSERT_EQ(rNull.rc, SQLITE_ROW);
  EXPECT_EQ(rNull.eType, SQLITE_NULL);
}

TEST_F(Sha3Sql, QueryFailuresNameTheStatement) {
  exec(kFixtureSql);
  const struct {
    const char* zSql;
    const char* zErr;
  } aCase[] = {
      // A prepare failure quotes the text the engine left unparsed.
      {"SELECT 1; SELEC 2; SELECT 3",
       "error SQL statement [ 2; SELECT 3]: near \"SELEC\": syntax error"},
      {"SELECT * FROM nosuch; SELECT 2", "error SQL statement [ SELECT 2]: no such table: nosuch"},
      {"SELECT 1 +", "error SQL statement []: incomplete input"},
      {"INSERT INTO t VALUES(99, 1)", "non-query: [INSERT INTO t VALUES(99, 1)]"},
      {"SELECT 1; DELETE FROM t; SELECT 2", "non-query: [ DELETE FROM t;]"},
      {"CREATE TABLE z(a)", "non-query: [CREATE TABLE z(a)]"},
      // An error while stepping fails the call rather than hashing part of the rows.
      {"SELECT 1; SELECT abs(-9223372036854775808)",
       "error SQL statement [ SELECT abs(-9223372036854775808)]: integer overflow"},
      {"SELECT v, CASE WHEN id = 4 THEN abs(v) END FROM t ORDER BY id",
       "error SQL statement [SELECT v, CASE WHEN id = 4 THEN abs(v) END FROM t ORDER BY id]: "
       "integer overflow"},
  };
  for (const auto& c : aCase) {
    const Result r = hashQuery(c.zSql, 256);
    EXPECT_EQ(r.rc, SQLITE_ERROR) << c.zSql;
    EXPECT_EQ(r.zErr, c.zErr) << c.zSql;
  }
  EXPECT_EQ(eval("SELECT count(*) FROM t").zText, "15");
  EXPECT_EQ(eval("SELECT count(*) FROM sqlite_schema WHERE name = 'z'").zText, "0");
}

TEST_F(Sha3Sql, RegistrationFlags) {
  // sha3 is deterministic and innocuous: fit for an index expression and for a view with an
  // untrusted schema.  sha3_query runs SQL, so the schema may not call it.
  exec(
      "PRAGMA trusted_schema = OFF;"
      "CREATE TABLE h(x); CREATE INDEX hx ON h(sha3(x)); INSERT INTO h VALUES('abc');"
      "CREATE VIEW vh AS SELECT sha3(x) AS d FROM h;"
      "CREATE VIEW vq AS SELECT sha3_query('SELECT 1') AS d;");
  EXPECT_EQ(eval("SELECT d FROM vh").zHex, eval("SELECT sha3('abc')").zHex);
  const Result r = eval("SELECT d FROM vq");
  EXPECT_EQ(r.rc, SQLITE_ERROR);
  EXPECT_EQ(r.zErr, "unsafe use of sha3_query()");
}

TEST(Sha3sum, TableQueries) {
  const struct {
    const char* zName;
    const char* zQuery;
  } aCase[] = {
      {"t", "SELECT * FROM \"t\" NOT INDEXED;"},
      {"a\"b c", "SELECT * FROM \"a\"\"b c\" NOT INDEXED;"},
      {"sqlite_schema", "SELECT type,name,tbl_name,sql FROM sqlite_schema ORDER BY name;"},
      {"sqlite_sequence", "SELECT name,seq FROM sqlite_sequence ORDER BY name;"},
      {"sqlite_stat1", "SELECT tbl,idx,stat FROM sqlite_stat1 ORDER BY tbl,idx;"},
      {"sqlite_stat4", "SELECT * FROM sqlite_stat4 ORDER BY tbl, idx, rowid;\n"},
      {"sqlite_stat3", "SELECT * FROM \"sqlite_stat3\" NOT INDEXED;"},
  };
  for (const auto& c : aCase) EXPECT_EQ(sha3sumTableQuery(c.zName), c.zQuery) << c.zName;
}

class Sha3sumSql : public Sha3Sql {
 protected:
  std::string build(const char* zPattern, bool bInternal, int iSize) {
    char* zSql = nullptr;
    EXPECT_EQ(sha3sumBuildSql(db, zPattern, bInternal, iSize, &zSql), SQLITE_OK);
    std::string z = zSql ? zSql : "";
    sqlite3_free(zSql);
    return z;
  }

  // Every row of zSql as "hash|label" (or "hash").
  std::vector<std::string> rows(const std::string& zSql) {
    std::vector<std::string> a;
    sqlite3_stmt* pStmt = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, zSql.c_str(), -1, &pStmt, nullptr), SQLITE_OK)
        << sqlite3_errmsg(db);
    while (pStmt && sqlite3_step(pStmt) == SQLITE_ROW) {
      std::string z = reinterpret_cast<const char*>(sqlite3_column_text(pStmt, 0));
      if (sqlite3_column_count(pStmt) > 1) {
        z += "|";
        z += reinterpret_cast<const char*>(sqlite3_column_text(pStmt, 1));
      }
      a.push_back(z);
    }
    sqlite3_finalize(pStmt);
    return a;
  }

  std::string digest(const char* zName) {
    for (const Sha3sumVector& v : kSha3sumVectors) {
      if (std::strcmp(v.zName, zName) == 0) return v.zDigestHex;
    }
    return "";
  }
};

TEST_F(Sha3sumSql, StatementText) {
  exec("CREATE TABLE \"It's\"(a); CREATE TABLE b(x);");
  EXPECT_EQ(build(nullptr, false, 224),
            "WITH [sha3sum$query](a,b) AS(VALUES('SELECT * FROM \"b\" NOT INDEXED;','b'),"
            "('SELECT * FROM \"it''s\" NOT INDEXED;','it''s'))"
            " SELECT lower(hex(sha3_query(group_concat(a,''),224))) AS hash"
            "   FROM [sha3sum$query]");
  EXPECT_EQ(build("b%", false, 512),
            "WITH [sha3sum$query](a,b) AS(VALUES('SELECT * FROM \"b\" NOT INDEXED;','b'))"
            " SELECT lower(hex(sha3_query(a,512))) AS hash, b AS label   FROM [sha3sum$query]");
}

TEST_F(Sha3sumSql, DigestsMatchPython) {
  exec(kFixtureSql);
  EXPECT_EQ(rows(build(nullptr, false, 224)), std::vector<std::string>{digest("whole")});
  EXPECT_EQ(rows(build("MIXED%", false, 512)),
            std::vector<std::string>{digest("mixed") + "|mixed case"});
  EXPECT_EQ(rows(build("s%", false, 512)), std::vector<std::string>{digest("seq") + "|seq"});
  EXPECT_EQ(rows(build(nullptr, true, 256)), std::vector<std::string>{digest("schema")});

  // A pattern that begins with "sqlite_" reaches the internal tables.
  const std::vector<std::string> aInternal = rows(build("sqlite_s%", false, 224));
  ASSERT_EQ(aInternal.size(), 2u);
  EXPECT_EQ(aInternal[0].substr(56), "|sqlite_schema");
  EXPECT_EQ(aInternal[1].substr(56), "|sqlite_sequence");

  // With no table selected the statement does not prepare.
  const std::string zNone = build("zzz%", false, 224);
  sqlite3_stmt* pStmt = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db, zNone.c_str(), -1, &pStmt, nullptr), SQLITE_ERROR);
  sqlite3_finalize(pStmt);
}

}  // namespace
