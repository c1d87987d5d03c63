#include "ext/ieee754/Ieee754.h"

#include <cstring>

namespace {

constexpr uint64_t kSignBit = uint64_t{1} << 63;
constexpr uint64_t kMantissaMask = (uint64_t{1} << 52) - 1;
constexpr uint64_t kHiddenBit = uint64_t{1} << 52;
constexpr int kExponentBias = 1075;  // biased exponent of the unit in the mantissa's last place
constexpr int kMaxBiasedExponent = 2047;
constexpr int64_t kExponentClamp = 10000;

// Which part a one-argument decomposition returns.
enum class Selector { text = 0, mantissa = 1, exponent = 2 };

constexpr int aSelector[] = {static_cast<int>(Selector::text), static_cast<int>(Selector::mantissa),
                             static_cast<int>(Selector::exponent)};

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

uint64_t readImage(const unsigned char* a) {
  uint64_t u = 0;
  for (int i = 0; i < 8; i++) u = (u << 8) | a[i];
  return u;
}

bool isImage(sqlite3_value* pValue) {
  return sqlite3_value_type(pValue) == SQLITE_BLOB && sqlite3_value_bytes(pValue) == 8;
}

void decomposeFunc(sqlite3_context* pCtx, int, sqlite3_value** apArg) {
  double r;
  if (isImage(apArg[0])) {
    const auto* a = static_cast<const unsigned char*>(sqlite3_value_blob(apArg[0]));
    if (!a) {
      sqlite3_result_error_nomem(pCtx);
      return;
    }
    r = doubleOf(readImage(a));
  } else {
    r = sqlite3_value_double(apArg[0]);
  }
  const Ieee754Parts parts = ieee754Decompose(r);
  switch (static_cast<Selector>(*static_cast<const int*>(sqlite3_user_data(pCtx)))) {
    case Selector::text: {
      char zBuf[100];
      sqlite3_snprintf(sizeof zBuf, zBuf, "ieee754(%lld,%d)",
                       static_cast<long long>(parts.iMantissa), parts.iExponent);
      sqlite3_result_text(pCtx, zBuf, -1, SQLITE_TRANSIENT);
      break;
    }
    case Selector::mantissa:
      sqlite3_result_int64(pCtx, parts.iMantissa);
      break;
    case Selector::exponent:
      sqlite3_result_int(pCtx, parts.iExponent);
      break;
  }
}

void composeFunc(sqlite3_context* pCtx, int, sqlite3_value** apArg) {
  double r;
  if (ieee754Compose(sqlite3_value_int64(apArg[0]), sqlite3_value_int64(apArg[1]), &r)) {
    sqlite3_result_double(pCtx, r);
  }
}

void toBlobFunc(sqlite3_context* pCtx, int, sqlite3_value** apArg) {
  const int eType = sqlite3_value_type(apArg[0]);
  if (eType != SQLITE_FLOAT && eType != SQLITE_INTEGER) return;
  uint64_t u = bitsOf(sqlite3_value_double(apArg[0]));
  unsigned char a[8];
  for (int i = 7; i >= 0; i--, u >>= 8) a[i] = static_cast<unsigned char>(u & 0xff);
  sqlite3_result_blob(pCtx, a, sizeof a, SQLITE_TRANSIENT);
}

void fromBlobFunc(sqlite3_context* pCtx, int, sqlite3_value** apArg) {
  if (!isImage(apArg[0])) return;
  const auto* a = static_cast<const unsigned char*>(sqlite3_value_blob(apArg[0]));
  if (!a) {
    sqlite3_result_error_nomem(pCtx);
    return;
  }
  sqlite3_result_double(pCtx, doubleOf(readImage(a)));
}

}  // namespace

Ieee754Parts ieee754Decompose(double r) {
  const bool bNegative = r < 0;
  if (bNegative) r = -r;
  // The sign bit is left out: negative zero decomposes like zero (it would otherwise read as a
  // huge negative exponent over a non-zero mantissa), and a NaN's sign does not matter.
  const uint64_t a = bitsOf(r) & ~kSignBit;
  int64_t m = 0;
  int e = 0;
  if (a != 0) {
    e = static_cast<int>(a >> 52);
    m = static_cast<int64_t>(a & kMantissaMask);
    if (e == 0) {
      m <<= 1;  // subnormal
    } else {
      m += static_cast<int64_t>(kHiddenBit);
    }
    while (e < kExponentBias && m > 0 && (m & 1) == 0) {
      m >>= 1;
      e++;
    }
  }
  return {bNegative ? -m : m, e - kExponentBias};
}

bool ieee754Compose(int64_t iMantissa, int64_t iExponent, double* pResult) {
  int64_t e = iExponent < -kExponentClamp  ? -kExponentClamp
              : iExponent > kExponentClamp ? kExponentClamp
                                           : iExponent;
  bool bNegative = false;
  uint64_t m;
  if (iMantissa < 0) {
    if (iMantissa == INT64_MIN) return false;
    bNegative = true;
    m = static_cast<uint64_t>(-iMantissa);
  } else {
    m = static_cast<uint64_t>(iMantissa);
  }
  // A zero mantissa is zero, except that a large exponent over it is the way to write an
  // infinity.
  if (m == 0 && e < 1000) {
    *pResult = 0.0;
    return true;
  }
  while (m & ~(kHiddenBit | kMantissaMask)) {
    m >>= 1;
    e++;
  }
  while (m != 0 && (m & kHiddenBit) == 0) {
    m <<= 1;
    e--;
  }
  e += kExponentBias;
  if (e <= 0) {
    const int64_t nShift = 1 - e;
    m = nShift >= 64 ? 0 : m >> nShift;
    e = 0;
  }
  if (e >= kMaxBiasedExponent) {
    // Beyond the largest finite value: an infinity (an all-ones exponent over non-zero mantissa
    // bits would be a NaN).
    e = kMaxBiasedExponent;
    m = 0;
  }
  uint64_t u = (m & kMantissaMask) | (static_cast<uint64_t>(e) << 52);
  if (bNegative) u |= kSignBit;
  *pResult = doubleOf(u);
  return true;
}

int ieee754Register(sqlite3* db) {
  constexpr int kFlags = SQLITE_UTF8 | SQLITE_INNOCUOUS;
  struct Entry {
    const char* zName;
    int nArg;
    int iSelector;
    void (*xFunc)(sqlite3_context*, int, sqlite3_value**);
  };
  static constexpr Entry aEntry[] = {
      {"ieee754", 1, 0, decomposeFunc},          {"ieee754", 2, 0, composeFunc},
      {"ieee754_mantissa", 1, 1, decomposeFunc}, {"ieee754_exponent", 1, 2, decomposeFunc},
      {"ieee754_to_blob", 1, 0, toBlobFunc},     {"ieee754_from_blob", 1, 0, fromBlobFunc},
  };
  for (const Entry& f : aEntry) {
    const int rc = sqlite3_create_function(db, f.zName, f.nArg, kFlags,
                                           const_cast<int*>(&aSelector[f.iSelector]), f.xFunc,
                                           nullptr, nullptr);
    if (rc != SQLITE_OK) return rc;
  }
  return SQLITE_OK;
}
