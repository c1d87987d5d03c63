#include "shell/commands/ImportTypes.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

inline bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

// Whether the nDigits digits at z (no leading zero) fit a 64-bit integer with
// the given sign.
bool fitsInt64(const char* z, int nDigits, bool bNegative) {
  if (nDigits < 19) return true;
  if (nDigits > 19) return false;
  return std::memcmp(z, bNegative ? "9223372036854775808" : "9223372036854775807", 19) <= 0;
}

}  // namespace

ImportValueKind classifyImportValue(const char* z, int n) {
  if (n <= 0) return ImportValueKind::Empty;
  int i = 0;
  const bool bNegative = z[0] == '-';
  if (z[0] == '+' || z[0] == '-') i++;
  const int iInt = i;
  while (i < n && isDigit(z[i])) i++;
  const int nInt = i - iInt;
  int nFrac = 0;
  bool bPoint = false;
  if (i < n && z[i] == '.') {
    bPoint = true;
    i++;
    while (i < n && isDigit(z[i])) i++, nFrac++;
  }
  if (nInt == 0 && nFrac == 0) return ImportValueKind::Text;
  // A leading zero marks a code (a postal code, an account number), not a number.
  if (nInt > 1 && z[iInt] == '0') return ImportValueKind::Text;
  bool bExponent = false;
  int nExpDigits = 0;
  if (i < n && (z[i] == 'e' || z[i] == 'E')) {
    bExponent = true;
    i++;
    if (i < n && (z[i] == '+' || z[i] == '-')) i++;
    while (i < n && isDigit(z[i])) i++, nExpDigits++;
    if (nExpDigits == 0) return ImportValueKind::Text;
  }
  if (i != n) return ImportValueKind::Text;
  if (!bPoint && !bExponent && fitsInt64(z + iInt, nInt, bNegative)) {
    return ImportValueKind::Integer;
  }
  // Only a long integer part or a long exponent can reach past the largest
  // double; such a value is text, not infinity.
  if (nInt > 300 || nExpDigits >= 3) {
    const double r = std::strtod(z, nullptr);
    if (std::isinf(r)) return ImportValueKind::Text;
  }
  return ImportValueKind::Real;
}
