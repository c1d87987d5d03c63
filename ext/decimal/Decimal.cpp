#include "ext/decimal/Decimal.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace {

// Exponent digits stop being read once the exponent has reached this value.
constexpr int64_t kExponentStop = 1000000;

// Products are computed in base 10^9 limbs; a product needing more limb multiplications than
// this (two dense operands of about 180000 digits each) is refused rather than left to run for
// minutes inside one SQL function call.
constexpr uint32_t kLimbBase = 1000000000;
constexpr int kLimbDigits = 9;
constexpr int64_t kMaxProductWork = 400000000;

bool isDigit(unsigned char c) {
  return c >= '0' && c <= '9';
}
bool isSpace(unsigned char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

struct SqliteFree {
  void operator()(void* p) const { sqlite3_free(p); }
};

// What a number's text says, before any digit is stored: the region of the mantissa (after
// the sign and the leading zeros, up to the 'e' or the end), its digit counts and the exponent.
struct DecimalScan {
  bool bNegative = false;
  const unsigned char* zBegin = nullptr;
  const unsigned char* zEnd = nullptr;
  int64_t nDigits = 0;
  int64_t nFracDigits = 0;
  int64_t iExponent = 0;
};

DecimalScan scanDecimal(std::string_view zText) {
  const auto* z = reinterpret_cast<const unsigned char*>(zText.data());
  const size_t n = zText.size();
  size_t i = 0;
  DecimalScan s;
  while (i < n && isSpace(z[i])) i++;
  if (i < n && z[i] == '-') {
    s.bNegative = true;
    i++;
  } else if (i < n && z[i] == '+') {
    i++;
  }
  while (i < n && z[i] == '0') i++;
  s.zBegin = z + i;
  int64_t iPoint = -1;
  for (; i < n; i++) {
    const unsigned char c = z[i];
    if (isDigit(c)) {
      s.nDigits++;
    } else if (c == '.') {
      iPoint = s.nDigits;
    } else if (c == 'e' || c == 'E') {
      break;
    }
  }
  s.zEnd = z + i;
  if (i + 1 < n) {  // an 'e' that is not the last character
    size_t j = i + 1;
    bool bNegExp = false;
    if (z[j] == '-') {
      bNegExp = true;
      j++;
    } else if (z[j] == '+') {
      j++;
    }
    int64_t iExp = 0;
    for (; j < n && iExp < kExponentStop; j++) {
      if (isDigit(z[j])) iExp = iExp * 10 + (z[j] - '0');
    }
    s.iExponent = bNegExp ? -iExp : iExp;
  }
  if (iPoint >= 0) s.nFracDigits = s.nDigits - iPoint;
  return s;
}

// Digit sources for the comparison: next() yields digit values, then -1 for ever.
struct TextDigits {
  const unsigned char* p;
  const unsigned char* pEnd;
  int next() {
    while (p < pEnd && !isDigit(*p)) ++p;
    return p < pEnd ? *p++ - '0' : -1;
  }
};

struct ArrayDigits {
  const unsigned char* p;
  const unsigned char* pEnd;
  int next() { return p < pEnd ? *p++ : -1; }
};

// A number as sign (-1, 0, 1) and 0.d1d2d3... times 10^iPower with d1 its first non-zero digit.
template <class Source>
struct NormalForm {
  int iSign;
  int64_t iPower;
  int iFirst;
  Source src;
};

template <class Source>
NormalForm<Source> normalize(Source src, int64_t nIntDigits, int64_t iExponent, bool bNegative) {
  int64_t nLead = 0;
  int d;
  while ((d = src.next()) == 0) nLead++;
  if (d < 0) return {0, 0, -1, src};
  return {bNegative ? -1 : 1, nIntDigits - nLead + iExponent, d, src};
}

template <class SourceA, class SourceB>
int compareNormal(NormalForm<SourceA> a, NormalForm<SourceB> b) {
  if (a.iSign != b.iSign) return a.iSign < b.iSign ? -1 : 1;
  if (a.iSign == 0) return 0;
  int c = 0;
  if (a.iPower != b.iPower) {
    c = a.iPower < b.iPower ? -1 : 1;
  } else {
    int da = a.iFirst;
    int db = b.iFirst;
    while (da >= 0 || db >= 0) {
      const int x = da < 0 ? 0 : da;
      const int y = db < 0 ? 0 : db;
      if (x != y) {
        c = x < y ? -1 : 1;
        break;
      }
      da = a.src.next();
      db = b.src.next();
    }
  }
  return a.iSign < 0 ? -c : c;
}

NormalForm<ArrayDigits> normalizeNum(const DecimalNum& x) {
  return normalize(ArrayDigits{x.aDigit, x.aDigit + x.nDigitCount}, x.nDigitCount - x.nFracDigits,
                   0, x.bNegative);
}

// Integer digits without the leading zeros.
int64_t significantIntDigits(const DecimalNum& x) {
  const int64_t nInt = x.nDigitCount - x.nFracDigits;
  int64_t i = 0;
  while (i < nInt && x.aDigit[i] == 0) i++;
  return nInt - i;
}

// Carries an operand's failure or NULL into *pA; true when there is nothing left to compute.
bool settleOperands(DecimalNum* pA, const DecimalNum& b) {
  if (!pA->isUsable()) return true;
  if (!b.isUsable()) {
    pA->bNoMem = pA->bNoMem || b.bNoMem;
    pA->bTooBig = pA->bTooBig || b.bTooBig;
    return true;
  }
  if (pA->bIsNull || b.bIsNull) {
    pA->bIsNull = true;
    return true;
  }
  return false;
}

// Base 10^9 limbs, least significant first; small operands stay on the stack.
class LimbBuffer {
 public:
  bool init(size_t n) {
    if (n <= kSmall) {
      p = aSmall;
    } else {
      pBig.reset(static_cast<uint32_t*>(sqlite3_malloc64(n * sizeof(uint32_t))));
      p = pBig.get();
      if (!p) return false;
    }
    std::memset(p, 0, n * sizeof(uint32_t));
    return true;
  }
  uint32_t* p = nullptr;

 private:
  static constexpr size_t kSmall = 16;
  uint32_t aSmall[kSmall];
  std::unique_ptr<uint32_t, SqliteFree> pBig;
};

size_t limbCount(int64_t nDigits) {
  return static_cast<size_t>((nDigits + kLimbDigits - 1) / kLimbDigits);
}

void digitsToLimbs(const unsigned char* aDigit, int64_t nDigits, uint32_t* aLimb) {
  size_t k = 0;
  for (int64_t iEnd = nDigits; iEnd > 0; iEnd -= kLimbDigits, k++) {
    uint32_t v = 0;
    for (int64_t i = std::max<int64_t>(0, iEnd - kLimbDigits); i < iEnd; i++)
      v = v * 10 + aDigit[i];
    aLimb[k] = v;
  }
}

// The lowest and one past the highest non-zero limb, and how many are non-zero.
struct LimbSpan {
  size_t iLow = 0;
  size_t iHigh = 0;
  size_t nNonZero = 0;
};

LimbSpan spanOf(const uint32_t* aLimb, size_t n) {
  LimbSpan s;
  s.iLow = n;
  for (size_t i = 0; i < n; i++) {
    if (aLimb[i] == 0) continue;
    if (s.nNonZero++ == 0) s.iLow = i;
    s.iHigh = i + 1;
  }
  if (s.nNonZero == 0) s.iLow = 0;
  return s;
}

int64_t connectionMaxDigits(sqlite3_context* pCtx) {
  return sqlite3_limit(sqlite3_context_db_handle(pCtx), SQLITE_LIMIT_LENGTH, -1);
}

void resultDecimal(sqlite3_context* pCtx, const DecimalNum& x) {
  if (x.bIsNull) {
    sqlite3_result_null(pCtx);
  } else if (x.bNoMem) {
    sqlite3_result_error_nomem(pCtx);
  } else if (x.bTooBig) {
    sqlite3_result_error_toobig(pCtx);
  } else {
    int64_t nText = 0;
    char* zText = decimalText(x, &nText);
    if (!zText) {
      sqlite3_result_error_nomem(pCtx);
      return;
    }
    // The engine frees the text and reports "too big" itself beyond its length limit.
    sqlite3_result_text64(pCtx, zText, static_cast<sqlite3_uint64>(nText), sqlite3_free,
                          SQLITE_UTF8);
  }
}

void decimalFunc(sqlite3_context* pCtx, int, sqlite3_value** apArg) {
  DecimalNum x;
  decimalParseValue(&x, apArg[0], connectionMaxDigits(pCtx));
  resultDecimal(pCtx, x);
}

void decimalCmpFunc(sqlite3_context* pCtx, int, sqlite3_value** apArg) {
  if (sqlite3_value_type(apArg[0]) == SQLITE_NULL || sqlite3_value_type(apArg[1]) == SQLITE_NULL) {
    return;
  }
  const auto* zA = reinterpret_cast<const char*>(sqlite3_value_text(apArg[0]));
  const int nA = sqlite3_value_bytes(apArg[0]);
  const auto* zB = reinterpret_cast<const char*>(sqlite3_value_text(apArg[1]));
  const int nB = sqlite3_value_bytes(apArg[1]);
  if (!zA || !zB) {
    sqlite3_result_error_nomem(pCtx);
    return;
  }
  sqlite3_result_int(
      pCtx, decimalCompareText({zA, static_cast<size_t>(nA)}, {zB, static_cast<size_t>(nB)}));
}

enum class Operation { add, sub, mul };

void binaryOp(sqlite3_context* pCtx, sqlite3_value** apArg, Operation eOp) {
  // NULL in, NULL out, whatever the other operand holds.
  if (sqlite3_value_type(apArg[0]) == SQLITE_NULL || sqlite3_value_type(apArg[1]) == SQLITE_NULL) {
    return;
  }
  const int64_t nMax = connectionMaxDigits(pCtx);
  DecimalNum a;
  DecimalNum b;
  decimalParseValue(&a, apArg[0], nMax);
  decimalParseValue(&b, apArg[1], nMax);
  if (eOp == Operation::sub) b.bNegative = !b.bNegative;
  if (eOp == Operation::mul) {
    decimalMul(&a, b, nMax);
  } else {
    decimalAdd(&a, b, nMax);
  }
  resultDecimal(pCtx, a);
}

void decimalAddFunc(sqlite3_context* pCtx, int, sqlite3_value** apArg) {
  binaryOp(pCtx, apArg, Operation::add);
}
void decimalSubFunc(sqlite3_context* pCtx, int, sqlite3_value** apArg) {
  binaryOp(pCtx, apArg, Operation::sub);
}
void decimalMulFunc(sqlite3_context* pCtx, int, sqlite3_value** apArg) {
  binaryOp(pCtx, apArg, Operation::mul);
}

// decimal_sum keeps its accumulator, and a number to parse each row into, behind a pointer in
// the aggregate context; the final call deletes them.
struct SumState {
  DecimalNum acc;
  DecimalNum value;
};

SumState** sumSlot(sqlite3_context* pCtx, bool bCreate) {
  return static_cast<SumState**>(sqlite3_aggregate_context(pCtx, bCreate ? sizeof(SumState*) : 0));
}

void sumAdd(sqlite3_context* pCtx, sqlite3_value* pValue, bool bInverse) {
  SumState** pp = sumSlot(pCtx, true);
  if (!pp) {
    sqlite3_result_error_nomem(pCtx);
    return;
  }
  if (!*pp) {
    *pp = new (std::nothrow) SumState;
    if (!*pp) {
      sqlite3_result_error_nomem(pCtx);
      return;
    }
  }
  DecimalNum& acc = (*pp)->acc;
  if (!acc.bReady) {
    acc.clear();
    if (acc.reserve(1)) {
      acc.aDigit[0] = 0;
      acc.nDigitCount = 1;
    }
    acc.bReady = true;
  }
  if (sqlite3_value_type(pValue) == SQLITE_NULL) return;
  const int64_t nMax = connectionMaxDigits(pCtx);
  DecimalNum& value = (*pp)->value;
  decimalParseValue(&value, pValue, nMax);
  if (bInverse) value.bNegative = !value.bNegative;
  decimalAdd(&acc, value, nMax);
  if (acc.bNoMem) {
    sqlite3_result_error_nomem(pCtx);
  } else if (acc.bTooBig) {
    sqlite3_result_error_toobig(pCtx);
  }
}

void sumStep(sqlite3_context* pCtx, int, sqlite3_value** apArg) {
  sumAdd(pCtx, apArg[0], false);
}
void sumInverse(sqlite3_context* pCtx, int, sqlite3_value** apArg) {
  sumAdd(pCtx, apArg[0], true);
}

void sumValue(sqlite3_context* pCtx) {
  SumState** pp = sumSlot(pCtx, false);
  if (pp && *pp) resultDecimal(pCtx, (*pp)->acc);
}

void sumFinal(sqlite3_context* pCtx) {
  SumState** pp = sumSlot(pCtx, false);
  if (pp && *pp) {
    resultDecimal(pCtx, (*pp)->acc);
    delete *pp;
    *pp = nullptr;
  }
}

int decimalCollate(void*, int nA, const void* pA, int nB, const void* pB) {
  return decimalCompareText({static_cast<const char*>(pA), static_cast<size_t>(nA)},
                            {static_cast<const char*>(pB), static_cast<size_t>(nB)});
}

int uintCollate(void*, int nA, const void* pA, int nB, const void* pB) {
  return uintCompare({static_cast<const char*>(pA), static_cast<size_t>(nA)},
                     {static_cast<const char*>(pB), static_cast<size_t>(nB)});
}

}  // namespace

DecimalNum::~DecimalNum() {
  if (aDigit != aInline) sqlite3_free(aDigit);
}

bool DecimalNum::reserve(int64_t n) {
  if (n <= nAlloc) return true;
  const int64_t nNew = std::max(n, nAlloc + nAlloc / 2);
  auto* p = static_cast<unsigned char*>(sqlite3_malloc64(static_cast<sqlite3_uint64>(nNew)));
  if (!p) {
    bNoMem = true;
    return false;
  }
  if (nDigitCount > 0) std::memcpy(p, aDigit, static_cast<size_t>(nDigitCount));
  if (aDigit != aInline) sqlite3_free(aDigit);
  aDigit = p;
  nAlloc = nNew;
  return true;
}

void DecimalNum::clear() {
  bNegative = bNoMem = bIsNull = bTooBig = false;
  nDigitCount = nFracDigits = 0;
}

void decimalParse(DecimalNum* p, std::string_view zText, int64_t nMaxDigits) {
  p->clear();
  const DecimalScan s = scanDecimal(zText);
  p->bNegative = s.bNegative;
  int64_t nFrac = s.nFracDigits;
  int64_t nLeadZeros = 0;
  int64_t nTrailZeros = 0;
  if (s.iExponent > 0) {
    // The exponent first consumes fraction digits, then appends zeros.
    const int64_t nTaken = std::min(s.iExponent, nFrac);
    nFrac -= nTaken;
    nTrailZeros = s.iExponent - nTaken;
  } else if (s.iExponent < 0) {
    // The point first moves left over the integer digits beyond the first; zeros prepended for
    // the rest become fraction digits as well.
    const int64_t nShift = -s.iExponent;
    const int64_t nMoved = std::min(nShift, std::max<int64_t>(0, s.nDigits - nFrac - 1));
    nLeadZeros = nShift - nMoved;
    nFrac += nShift;
  }
  const int64_t nTotal = nLeadZeros + s.nDigits + nTrailZeros;
  if (nTotal > nMaxDigits) {
    p->bTooBig = true;
    return;
  }
  if (!p->reserve(nTotal)) return;
  unsigned char* a = p->aDigit;
  std::memset(a, 0, static_cast<size_t>(nLeadZeros));
  int64_t i = nLeadZeros;
  for (const unsigned char* z = s.zBegin; z < s.zEnd; z++) {
    if (isDigit(*z)) a[i++] = static_cast<unsigned char>(*z - '0');
  }
  std::memset(a + i, 0, static_cast<size_t>(nTrailZeros));
  p->nDigitCount = nTotal;
  p->nFracDigits = nFrac;
}

void decimalParseValue(DecimalNum* p, sqlite3_value* pValue, int64_t nMaxDigits) {
  if (sqlite3_value_type(pValue) == SQLITE_NULL) {
    p->clear();
    p->bIsNull = true;
    return;
  }
  const auto* z = reinterpret_cast<const char*>(sqlite3_value_text(pValue));
  if (!z) {
    p->clear();
    p->bNoMem = true;
    return;
  }
  decimalParse(p, {z, static_cast<size_t>(sqlite3_value_bytes(pValue))}, nMaxDigits);
}

char* decimalText(const DecimalNum& x, int64_t* pnText) {
  const unsigned char* a = x.aDigit;
  const int64_t nInt = x.nDigitCount - x.nFracDigits;
  int64_t iFirst = 0;  // first integer digit written
  while (iFirst < nInt - 1 && a[iFirst] == 0) iFirst++;
  bool bZero = true;
  for (int64_t i = 0; i < x.nDigitCount && bZero; i++) bZero = a[i] == 0;
  const bool bSign = x.bNegative && !bZero;
  const int64_t nText =
      (bSign ? 1 : 0) + (nInt > 0 ? nInt - iFirst : 1) + (x.nFracDigits ? 1 + x.nFracDigits : 0);
  auto* z = static_cast<char*>(sqlite3_malloc64(static_cast<sqlite3_uint64>(nText) + 1));
  if (!z) return nullptr;
  char* q = z;
  if (bSign) *q++ = '-';
  if (nInt > 0) {
    for (int64_t i = iFirst; i < nInt; i++) *q++ = static_cast<char>('0' + a[i]);
  } else {
    *q++ = '0';
  }
  if (x.nFracDigits) {
    *q++ = '.';
    for (int64_t i = std::max<int64_t>(nInt, 0); i < x.nDigitCount; i++) {
      *q++ = static_cast<char>('0' + a[i]);
    }
  }
  *q = 0;
  *pnText = q - z;
  return z;
}

int decimalCompare(const DecimalNum& a, const DecimalNum& b) {
  return compareNormal(normalizeNum(a), normalizeNum(b));
}

int decimalCompareText(std::string_view zA, std::string_view zB) {
  const DecimalScan a = scanDecimal(zA);
  const DecimalScan b = scanDecimal(zB);
  return compareNormal(
      normalize(TextDigits{a.zBegin, a.zEnd}, a.nDigits - a.nFracDigits, a.iExponent, a.bNegative),
      normalize(TextDigits{b.zBegin, b.zEnd}, b.nDigits - b.nFracDigits, b.iExponent, b.bNegative));
}

void decimalAdd(DecimalNum* pA, const DecimalNum& b, int64_t nMaxDigits) {
  if (settleOperands(pA, b)) return;
  // Common layout: the wider integer part plus one spare digit for a carry, the wider fraction.
  const int64_t nInt = std::max(significantIntDigits(*pA), significantIntDigits(b));
  const int64_t nFrac = std::max(pA->nFracDigits, b.nFracDigits);
  const int64_t nTotal = nInt + nFrac + 1;
  if (nTotal > nMaxDigits) {
    pA->bTooBig = true;
    return;
  }
  if (!pA->reserve(nTotal)) return;
  unsigned char* a = pA->aDigit;
  // A's digit j moves to j + nShiftA (leading zeros beyond the layout are dropped).
  const int64_t nShiftA = nInt + 1 - (pA->nDigitCount - pA->nFracDigits);
  const int64_t nA = pA->nDigitCount;
  if (nShiftA >= 0) {
    std::memmove(a + nShiftA, a, static_cast<size_t>(nA));
    std::memset(a, 0, static_cast<size_t>(nShiftA));
  } else {
    std::memmove(a, a - nShiftA, static_cast<size_t>(nA + nShiftA));
  }
  std::memset(a + nA + nShiftA, 0, static_cast<size_t>(nTotal - (nA + nShiftA)));
  pA->nDigitCount = nTotal;
  pA->nFracDigits = nFrac;

  // B's digit j sits at j + nShiftB; it covers [iLow, iHigh) of the layout.
  const int64_t nShiftB = nInt + 1 - (b.nDigitCount - b.nFracDigits);
  const int64_t iLow = std::max<int64_t>(0, nShiftB);
  const int64_t iHigh = std::min(nTotal, nShiftB + b.nDigitCount);
  const unsigned char* bd = b.aDigit;  // bd[k - nShiftB] is B's digit at layout position k
  auto bAt = [&](int64_t k) -> int { return k >= iLow && k < iHigh ? bd[k - nShiftB] : 0; };

  if (pA->bNegative == b.bNegative) {
    int carry = 0;
    for (int64_t k = iHigh - 1; k >= iLow; k--) {
      const int s = a[k] + bd[k - nShiftB] + carry;
      carry = s >= 10;
      a[k] = static_cast<unsigned char>(s - 10 * carry);
    }
    for (int64_t k = iLow - 1; carry && k >= 0; k--) {
      const int s = a[k] + carry;
      carry = s >= 10;
      a[k] = static_cast<unsigned char>(s - 10 * carry);
    }
    return;
  }
  int c = 0;
  for (int64_t k = 0; k < nTotal && c == 0; k++) {
    const int y = bAt(k);
    if (a[k] != y) c = a[k] < y ? -1 : 1;
  }
  int borrow = 0;
  for (int64_t k = nTotal - 1; k >= 0; k--) {
    int s = c >= 0 ? a[k] - bAt(k) - borrow : bAt(k) - a[k] - borrow;
    borrow = s < 0;
    a[k] = static_cast<unsigned char>(s + 10 * borrow);
  }
  if (c < 0) pA->bNegative = !pA->bNegative;
}

void decimalMul(DecimalNum* pA, const DecimalNum& b, int64_t nMaxDigits) {
  if (settleOperands(pA, b)) return;
  const int64_t nA = pA->nDigitCount;
  const int64_t nB = b.nDigitCount;
  const int64_t nProduct = nA + nB;
  if (nProduct > nMaxDigits) {
    pA->bTooBig = true;
    return;
  }
  const size_t nLimbA = limbCount(nA);
  const size_t nLimbB = limbCount(nB);
  LimbBuffer limbA;
  LimbBuffer limbB;
  LimbBuffer product;
  if (!limbA.init(nLimbA) || !limbB.init(nLimbB) || !product.init(nLimbA + nLimbB + 1)) {
    pA->bNoMem = true;
    return;
  }
  digitsToLimbs(pA->aDigit, nA, limbA.p);
  digitsToLimbs(b.aDigit, nB, limbB.p);
  LimbSpan spanA = spanOf(limbA.p, nLimbA);
  LimbSpan spanB = spanOf(limbB.p, nLimbB);
  // The operand with fewer non-zero limbs drives the outer loop.
  const uint32_t* aOuter = limbA.p;
  const uint32_t* aInner = limbB.p;
  if (spanB.nNonZero < spanA.nNonZero) {
    std::swap(spanA, spanB);
    std::swap(aOuter, aInner);
  }
  const LimbSpan& outer = spanA;
  const LimbSpan& inner = spanB;
  if (static_cast<double>(outer.nNonZero) * static_cast<double>(inner.iHigh - inner.iLow) >
      static_cast<double>(kMaxProductWork)) {
    pA->bTooBig = true;
    return;
  }
  uint32_t* r = product.p;
  for (size_t i = outer.iLow; i < outer.iHigh; i++) {
    const uint64_t m = aOuter[i];
    if (m == 0) continue;
    uint64_t carry = 0;
    for (size_t j = inner.iLow; j < inner.iHigh; j++) {
      const uint64_t t = m * aInner[j] + r[i + j] + carry;
      r[i + j] = static_cast<uint32_t>(t % kLimbBase);
      carry = t / kLimbBase;
    }
    for (size_t k = i + inner.iHigh; carry; k++) {
      const uint64_t t = r[k] + carry;
      r[k] = static_cast<uint32_t>(t % kLimbBase);
      carry = t / kLimbBase;
    }
  }
  const int64_t nFracA = pA->nFracDigits;
  if (!pA->reserve(nProduct)) return;
  unsigned char* a = pA->aDigit;
  size_t k = 0;
  for (int64_t iEnd = nProduct; iEnd > 0; iEnd -= kLimbDigits, k++) {
    uint32_t v = r[k];
    for (int64_t i = iEnd - 1; i >= std::max<int64_t>(0, iEnd - kLimbDigits); i--) {
      a[i] = static_cast<unsigned char>(v % 10);
      v /= 10;
    }
  }
  pA->nDigitCount = nProduct;
  pA->nFracDigits = nFracA + b.nFracDigits;
  pA->bNegative = pA->bNegative != b.bNegative;
  // Trailing fraction zeros go, down to the smaller scale of the two operands.
  const int64_t nKeepFrac = std::min(nFracA, b.nFracDigits);
  while (pA->nFracDigits > nKeepFrac && a[pA->nDigitCount - 1] == 0) {
    pA->nDigitCount--;
    pA->nFracDigits--;
  }
}

int uintCompare(std::string_view zA, std::string_view zB) {
  const auto* a = reinterpret_cast<const unsigned char*>(zA.data());
  const auto* b = reinterpret_cast<const unsigned char*>(zB.data());
  const size_t nA = zA.size();
  const size_t nB = zB.size();
  size_t i = 0;
  size_t j = 0;
  while (i < nA && j < nB) {
    if (isDigit(a[i])) {
      if (!isDigit(b[j])) return a[i] - b[j];
      while (i < nA && a[i] == '0') i++;
      while (j < nB && b[j] == '0') j++;
      size_t k = 0;
      while (i + k < nA && j + k < nB && isDigit(a[i + k]) && isDigit(b[j + k])) k++;
      if (i + k < nA && isDigit(a[i + k])) return 1;
      if (j + k < nB && isDigit(b[j + k])) return -1;
      if (k > 0) {
        const int c = std::memcmp(a + i, b + j, k);
        if (c != 0) return c;
      }
      i += k;
      j += k;
    } else if (a[i] != b[j]) {
      return a[i] - b[j];
    } else {
      i++;
      j++;
    }
  }
  const size_t nLeftA = nA - i;
  const size_t nLeftB = nB - j;
  return nLeftA == nLeftB ? 0 : (nLeftA < nLeftB ? -1 : 1);
}

int decimalRegister(sqlite3* db) {
  constexpr int kFlags = SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS;
  struct Scalar {
    const char* zName;
    int nArg;
    void (*xFunc)(sqlite3_context*, int, sqlite3_value**);
  };
  static constexpr Scalar aScalar[] = {
      {"decimal", 1, decimalFunc},        {"decimal_cmp", 2, decimalCmpFunc},
      {"decimal_add", 2, decimalAddFunc}, {"decimal_sub", 2, decimalSubFunc},
      {"decimal_mul", 2, decimalMulFunc},
  };
  for (const Scalar& f : aScalar) {
    const int rc =
        sqlite3_create_function(db, f.zName, f.nArg, kFlags, nullptr, f.xFunc, nullptr, nullptr);
    if (rc != SQLITE_OK) return rc;
  }
  const int rc = sqlite3_create_window_function(db, "decimal_sum", 1, kFlags, nullptr, sumStep,
                                                sumFinal, sumValue, sumInverse, nullptr);
  if (rc != SQLITE_OK) return rc;
  return sqlite3_create_collation(db, "decimal", SQLITE_UTF8, nullptr, decimalCollate);
}

int uintRegister(sqlite3* db) {
  return sqlite3_create_collation(db, "uint", SQLITE_UTF8, nullptr, uintCollate);
}
