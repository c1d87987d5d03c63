// libFuzzer target for the decimal functions and the decimal and uint collations.  The input is
// split at newlines: the first two lines are the operands A and B, and every line is a row for
// decimal_sum, its window form and the sorts.  Everything runs through SQL on one in-memory
// connection whose length limit is lowered to 100000, so that '1e9999999' is refused quickly.
//
// Checked on every input: each call either succeeds or fails with "too big" (never anything
// else, never a crash); decimal_cmp is antisymmetric and agrees with the decimal collation, with
// decimalCompare on the parsed numbers and with the canonical texts; decimal is idempotent;
// addition and multiplication commute; (A + B) - B equals A; the uint collation is
// antisymmetric.
#include <sqlite3.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ext/decimal/Decimal.h"

namespace {

constexpr int kLengthLimit = 100000;

[[noreturn]] void fail(const std::string& zWhat) {
  std::fprintf(stderr, "fuzz_decimal: %s\n", zWhat.c_str());
  std::abort();
}

struct StmtDeleter {
  void operator()(sqlite3_stmt* p) const { sqlite3_finalize(p); }
};

sqlite3* connection() {
  static sqlite3* db = [] {
    sqlite3* p = nullptr;
    if (sqlite3_open(":memory:", &p) != SQLITE_OK || decimalRegister(p) != SQLITE_OK ||
        uintRegister(p) != SQLITE_OK) {
      fail("cannot open the connection");
    }
    sqlite3_limit(p, SQLITE_LIMIT_LENGTH, kLengthLimit);
    return p;
  }();
  return db;
}

// The text of the first column of the first row (nullopt for NULL); "too big" sets *pbTooBig.
std::optional<std::string> eval(const char* zSql, const std::vector<std::string>& azArg,
                                bool* pbTooBig) {
  sqlite3* db = connection();
  sqlite3_stmt* p = nullptr;
  if (sqlite3_prepare_v2(db, zSql, -1, &p, nullptr) != SQLITE_OK) fail(sqlite3_errmsg(db));
  std::unique_ptr<sqlite3_stmt, StmtDeleter> owner(p);
  for (size_t i = 0; i < azArg.size(); i++) {
    sqlite3_bind_text(p, static_cast<int>(i) + 1, azArg[i].data(),
                      static_cast<int>(azArg[i].size()), SQLITE_STATIC);
  }
  *pbTooBig = false;
  const int rc = sqlite3_step(p);
  if (rc == SQLITE_ROW) {
    if (sqlite3_column_type(p, 0) == SQLITE_NULL) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(sqlite3_column_text(p, 0)),
                       static_cast<size_t>(sqlite3_column_bytes(p, 0)));
  }
  if (rc == SQLITE_DONE) return std::nullopt;
  if (sqlite3_errcode(db) != SQLITE_TOOBIG) {
    fail(std::string(zSql) + ": unexpected error: " + sqlite3_errmsg(db));
  }
  *pbTooBig = true;
  return std::nullopt;
}

// A result that cannot be NULL; nullopt when it was too big.
std::optional<std::string> value(const char* zSql, const std::vector<std::string>& azArg) {
  bool bTooBig = false;
  std::optional<std::string> z = eval(zSql, azArg, &bTooBig);
  if (!z && !bTooBig) fail(std::string(zSql) + ": NULL");
  return z;
}

int cmp(const std::string& a, const std::string& b) {
  std::optional<std::string> z = value("SELECT decimal_cmp(?1, ?2)", {a, b});
  if (!z) fail("decimal_cmp too big");
  return std::atoi(z->c_str());
}

void checkDecimal(const std::string& a, const std::string& b) {
  const int c = cmp(a, b);
  if (c < -1 || c > 1) fail("decimal_cmp out of range");
  if (cmp(b, a) != -c) fail("decimal_cmp not antisymmetric");
  if (cmp(a, a) != 0) fail("decimal_cmp(A, A) not 0");
  if (value("SELECT ?1 < ?2 COLLATE decimal", {a, b}) != std::to_string(c < 0 ? 1 : 0)) {
    fail("collation disagrees with decimal_cmp");
  }
  if (decimalCompareText(a, b) != c) fail("decimalCompareText disagrees");
  DecimalNum x;
  DecimalNum y;
  decimalParse(&x, a, kLengthLimit);
  decimalParse(&y, b, kLengthLimit);
  if (x.isUsable() && y.isUsable() && decimalCompare(x, y) != c) fail("decimalCompare disagrees");

  for (const std::string& t : {a, b}) {
    std::optional<std::string> zCanon = value("SELECT decimal(?1)", {t});
    if (!zCanon) continue;
    if (value("SELECT decimal(?1)", {*zCanon}) != zCanon) fail("decimal not idempotent");
    if (cmp(*zCanon, t) != 0) fail("canonical text differs in value");
  }

  std::optional<std::string> zSum = value("SELECT decimal_add(?1, ?2)", {a, b});
  if (value("SELECT decimal_add(?2, ?1)", {a, b}) != zSum) fail("addition does not commute");
  if (zSum) {
    std::optional<std::string> zBack = value("SELECT decimal_sub(?1, ?2)", {*zSum, b});
    if (zBack && cmp(*zBack, a) != 0) fail("(A + B) - B differs from A");
  }
  std::optional<std::string> zProduct = value("SELECT decimal_mul(?1, ?2)", {a, b});
  if (value("SELECT decimal_mul(?2, ?1)", {a, b}) != zProduct) {
    fail("multiplication does not commute");
  }
  value("SELECT decimal_sub(?1, ?2)", {a, b});
}

void checkUint(const std::string& a, const std::string& b) {
  auto sign = [](int r) { return (r > 0) - (r < 0); };
  if (sign(uintCompare(a, b)) != -sign(uintCompare(b, a))) fail("uint not antisymmetric");
  if (uintCompare(a, a) != 0) fail("uint(A, A) not 0");
}

void checkRows(const std::vector<std::string>& azLine) {
  sqlite3* db = connection();
  sqlite3_exec(db, "CREATE TEMP TABLE IF NOT EXISTS r(i INTEGER PRIMARY KEY, v); DELETE FROM r",
               nullptr, nullptr, nullptr);
  sqlite3_stmt* p = nullptr;
  sqlite3_prepare_v2(db, "INSERT INTO r(v) VALUES (?1)", -1, &p, nullptr);
  std::unique_ptr<sqlite3_stmt, StmtDeleter> owner(p);
  for (const std::string& z : azLine) {
    sqlite3_bind_text(p, 1, z.data(), static_cast<int>(z.size()), SQLITE_STATIC);
    sqlite3_step(p);
    sqlite3_reset(p);
  }
  bool bTooBig = false;
  eval("SELECT decimal_sum(v) FROM r", {}, &bTooBig);
  eval(
      "SELECT group_concat(s, ',') FROM (SELECT decimal_sum(v) OVER (ORDER BY i ROWS BETWEEN 1 "
      "PRECEDING AND CURRENT ROW) AS s FROM r)",
      {}, &bTooBig);
  eval("SELECT group_concat(v, ',') FROM (SELECT v FROM r ORDER BY v COLLATE decimal)", {},
       &bTooBig);
  eval("SELECT group_concat(v, ',') FROM (SELECT v FROM r ORDER BY v COLLATE uint)", {}, &bTooBig);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t nData) {
  std::vector<std::string> azLine;
  const char* z = reinterpret_cast<const char*>(aData);
  size_t iStart = 0;
  for (size_t i = 0; i <= nData; i++) {
    if (i == nData || z[i] == '\n') {
      azLine.emplace_back(z + iStart, i - iStart);
      iStart = i + 1;
    }
  }
  const std::string a = azLine[0];
  const std::string b = azLine.size() > 1 ? azLine[1] : std::string();
  checkDecimal(a, b);
  checkUint(a, b);
  checkRows(azLine);
  return 0;
}
