// Exact decimal arithmetic on numbers written as text (decimal, decimal_cmp, decimal_add,
// decimal_sub, decimal_mul, the decimal_sum aggregate and window function, the "decimal"
// collation) and the "uint" collation, which orders text naturally with embedded runs of digits
// compared as unsigned integers of any length.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <string_view>

// A decimal number: the digits read as an integer, divided by 10 to the power nFracDigits,
// negated when bNegative is set.  The same value may be held with extra leading zeros or extra
// trailing fraction zeros.  Small numbers keep their digits inline; larger ones in memory from
// the engine's allocator.  Not copyable or movable (aDigit may point into the object).
struct DecimalNum {
  bool bNegative = false;
  bool bNoMem = false;   // an allocation failed; the number is unusable
  bool bIsNull = false;  // SQL NULL
  bool bReady = false;   // decimal_sum's accumulator has been initialised
  bool bTooBig = false;  // would need more digits than allowed; the number is unusable
  int64_t nDigitCount = 0;
  int64_t nFracDigits = 0;
  unsigned char* aDigit;  // nDigitCount digit values 0..9, most significant first

  DecimalNum() : aDigit(aInline) {}
  ~DecimalNum();
  DecimalNum(const DecimalNum&) = delete;
  DecimalNum& operator=(const DecimalNum&) = delete;

  // Makes room for n digits (keeping the first nDigitCount); false (and bNoMem) on failure.
  bool reserve(int64_t n);
  // Back to the empty, non-null, non-negative number with no digits; keeps the storage.
  void clear();
  bool isUsable() const { return !bNoMem && !bTooBig; }

 private:
  static constexpr int kInlineDigits = 40;
  unsigned char aInline[kInlineDigits];
  int64_t nAlloc = kInlineDigits;
};

// The most digits a number may have when no connection says otherwise.
inline constexpr int64_t kDecimalDefaultMaxDigits = 1000000000;

// Parses zText: leading white space, an optional sign, then digits with an optional '.' (other
// characters are ignored) and an optional exponent after 'e' or 'E'.  A number that would need
// more than nMaxDigits digits is marked bTooBig.  Any previous content of *p is replaced.
void decimalParse(DecimalNum* p, std::string_view zText,
                  int64_t nMaxDigits = kDecimalDefaultMaxDigits);

// The same from an SQL value (through its UTF-8 text); NULL gives bIsNull.
void decimalParseValue(DecimalNum* p, sqlite3_value* pValue, int64_t nMaxDigits);

// The canonical text: "0" for no integer digits, otherwise the integer digits without leading
// zeros; then '.' and every fraction digit when there are any.  Zero carries no sign.
// Returns memory from sqlite3_malloc (the caller frees it with sqlite3_free) and its length in
// *pnText, or null when out of memory.  The number must be usable and not NULL.
char* decimalText(const DecimalNum& x, int64_t* pnText);

// -1, 0 or 1 as a is less than, equal to or greater than b, by value ('1.0' equals '1', '-0'
// equals '0').  Both must be usable and not NULL.
int decimalCompare(const DecimalNum& a, const DecimalNum& b);

// The same for two texts, read as decimalParse reads them, without building the numbers.
int decimalCompareText(std::string_view zA, std::string_view zB);

// *pA += b.  Nothing happens when *pA is unusable; an unusable b makes *pA unusable; a NULL
// operand makes *pA NULL.  A result of more than nMaxDigits digits makes *pA bTooBig.  b must
// not be *pA.
void decimalAdd(DecimalNum* pA, const DecimalNum& b, int64_t nMaxDigits = kDecimalDefaultMaxDigits);

// *pA *= b, with the same rules as decimalAdd.  Products whose schoolbook cost would be
// excessive are refused as bTooBig as well.
void decimalMul(DecimalNum* pA, const DecimalNum& b, int64_t nMaxDigits = kDecimalDefaultMaxDigits);

// The uint collation: natural order of two byte strings; runs of digits compare as unsigned
// integers (leading zeros ignored), everything else bytewise.  Negative, zero or positive.
int uintCompare(std::string_view zA, std::string_view zB);

// Registers decimal, decimal_cmp, decimal_add, decimal_sub, decimal_mul, decimal_sum and the
// "decimal" collation with db, in that order; returns the first failure, or SQLITE_OK.
int decimalRegister(sqlite3* db);

// Registers the "uint" collation with db.
int uintRegister(sqlite3* db);
