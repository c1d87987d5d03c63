// IEEE-754 binary64 functions for SQL: ieee754(X) takes a REAL apart into an integer mantissa
// and a power-of-two exponent, ieee754(M, E) builds one back, ieee754_mantissa(X) and
// ieee754_exponent(X) give the parts, ieee754_to_blob(X) and ieee754_from_blob(B) convert
// between a REAL and its 8-byte image (most significant byte first).
#pragma once

#include <sqlite3.h>

#include <cstdint>

// X = iMantissa * 2^iExponent.
struct Ieee754Parts {
  int64_t iMantissa;
  int iExponent;
};

// The decomposition: the mantissa is halved while it is even and the exponent below 0, so it
// is odd unless the exponent reached 0 or the value is 0 (which gives 0 and -1075).
Ieee754Parts ieee754Decompose(double r);

// The composition of iMantissa * 2^iExponent, truncated toward zero where bits are lost; an
// exponent beyond the range gives an infinity of the mantissa's sign or zero.  False for the
// most negative 64-bit mantissa.
bool ieee754Compose(int64_t iMantissa, int64_t iExponent, double* pResult);

// Registers ieee754 (1 and 2 arguments), ieee754_mantissa, ieee754_exponent, ieee754_to_blob
// and ieee754_from_blob with db, in that order; returns the first failure, or SQLITE_OK.
int ieee754Register(sqlite3* db);
