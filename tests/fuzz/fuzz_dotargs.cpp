// libFuzzer target for the dot-command tokenizer splitDotCommandLine and the
// argument parsers expandBackslashEscapes, parseIntegerArg and parseBooleanArg.
//
// Checked on every input:
// - the input as a command line: at most maxDotArgs words, a null after the
//   last, every word inside the line, in order and zero-terminated there;
// - the input cut at zero bytes as a list of words: written as a command line
//   (each word unquoted, in single or in double quotes, with backslash escapes
//   where needed) and split again, it gives the same words back;
// - expandBackslashEscapes never lengthens a text and decodes what an
//   independent encoder made of arbitrary bytes;
// - parseIntegerArg agrees with std::strtoull times the suffix's factor, and
//   parseBooleanArg with its on/off words and with parseIntegerArg.
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "shell/commands/Dispatch.h"
#include "shell/core/ArgParsers.h"

namespace {

[[noreturn]] void fail(const char* zWhat) {
  std::fprintf(stderr, "fuzz_dotargs: %s\n", zWhat);
  std::abort();
}

bool isSpaceByte(char c) {
  return std::isspace(static_cast<unsigned char>(c)) != 0;
}

// One byte as an escape the decoder knows: named escapes, otherwise three
// octal digits.
void appendEscaped(std::string* pz, unsigned char c) {
  switch (c) {
    case '\n':
      *pz += "\\n";
      return;
    case '\t':
      *pz += "\\t";
      return;
    case '\r':
      *pz += "\\r";
      return;
    case '\\':
      *pz += "\\\\";
      return;
    case '"':
      *pz += "\\\"";
      return;
    case '\'':
      *pz += "\\'";
      return;
    default:
      break;
  }
  if (c < 0x20 || c == 0x7f || c == ' ') {
    char zOct[5];
    std::snprintf(zOct, sizeof(zOct), "\\%03o", c);
    *pz += zOct;
  } else {
    *pz += static_cast<char>(c);
  }
}

std::string encodeEscapes(std::string_view zWord) {
  std::string z;
  for (char c : zWord) appendEscaped(&z, static_cast<unsigned char>(c));
  return z;
}

void checkLineShape(std::string_view zInput) {
  std::string zLine = ".";
  zLine.append(zInput.data(), zInput.size());
  zLine += '\0';  // the line as the reader gives it: zero-terminated
  char* const zBegin = zLine.data();
  char* const zEnd = zBegin + zLine.size();
  char* azArg[maxDotArgs + 1];
  const int nArg = splitDotCommandLine(zBegin, azArg);
  if (nArg < 0 || nArg > maxDotArgs) fail("word count out of range");
  if (azArg[nArg] != nullptr) fail("no null after the last word");
  const char* zPrevEnd = zBegin;
  for (int i = 0; i < nArg; i++) {
    if (azArg[i] < zPrevEnd || azArg[i] >= zEnd) fail("word outside the line or out of order");
    const void* pZero = std::memchr(azArg[i], 0, static_cast<size_t>(zEnd - azArg[i]));
    if (pZero == nullptr) fail("word not terminated inside the line");
    zPrevEnd = static_cast<const char*>(pZero);
  }
}

void checkRoundTrip(std::string_view zInput) {
  if (zInput.empty()) return;
  const unsigned iForm0 = static_cast<unsigned char>(zInput[0]);
  std::vector<std::string> azWord;
  size_t iStart = 1;
  for (size_t i = 1; i <= zInput.size(); i++) {
    if (i == zInput.size() || zInput[i] == '\0') {
      azWord.emplace_back(zInput.substr(iStart, i - iStart));
      iStart = i + 1;
    }
  }
  std::string zLine = ".";
  for (size_t i = 0; i < azWord.size(); i++) {
    const std::string& zWord = azWord[i];
    unsigned eForm = (iForm0 + static_cast<unsigned>(i)) % 3;
    bool bPlainOk = !zWord.empty() && zWord[0] != '\'' && zWord[0] != '"';
    for (char c : zWord) bPlainOk = bPlainOk && !isSpaceByte(c);
    if (eForm == 0 && !bPlainOk) eForm = 2;
    if (eForm == 1 && zWord.find('\'') != std::string::npos) eForm = 2;
    if (i > 0) zLine += ' ';
    if (eForm == 0) {
      // Unquoted words are decoded too: only the backslash needs escaping.
      for (char c : zWord) {
        if (c == '\\') {
          zLine += "\\\\";
        } else {
          zLine += c;
        }
      }
    } else if (eForm == 1) {
      zLine += '\'' + zWord + '\'';  // single quotes take the text as it is
    } else {
      zLine += '"' + encodeEscapes(zWord) + '"';
    }
  }
  char* azArg[maxDotArgs + 1];
  const int nArg = splitDotCommandLine(zLine.data(), azArg);
  const size_t nExpect = azWord.size() < static_cast<size_t>(maxDotArgs)
                             ? azWord.size()
                             : static_cast<size_t>(maxDotArgs);
  if (static_cast<size_t>(nArg) != nExpect) fail("round trip: word count differs");
  for (size_t i = 0; i < nExpect; i++) {
    if (azWord[i] != azArg[i]) fail("round trip: word differs");
  }
}

void checkEscapes(std::string_view zInput) {
  // Arbitrary text: decoding never lengthens it.
  std::string z(zInput);
  z = z.c_str();
  const size_t nBefore = z.size();
  expandBackslashEscapes(z.data());
  if (std::strlen(z.c_str()) > nBefore) fail("decoding made the text longer");

  // Encoded bytes decode to themselves (up to the first zero byte, which ends the text).
  std::string zBytes(zInput);
  zBytes = zBytes.c_str();
  std::string zEncoded = encodeEscapes(zBytes);
  expandBackslashEscapes(zEncoded.data());
  if (std::string(zEncoded.c_str()) != zBytes) fail("escapes do not decode to their bytes");
}

struct Suffix {
  const char* zName;
  uint64_t iFactor;
};
constexpr Suffix aSuffix[] = {
    {"KiB", 1024ull}, {"MiB", 1024ull << 10}, {"GiB", 1024ull << 20},
    {"KB", 1000ull},  {"MB", 1000000ull},     {"GB", 1000000000ull},
    {"K", 1000ull},   {"M", 1000000ull},      {"G", 1000000000ull},
};

bool equalsNoCase(std::string_view a, const char* b) {
  if (a.size() != std::strlen(b)) return false;
  for (size_t i = 0; i < a.size(); i++) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

void checkIntegers(std::string_view zInput) {
  std::string zArg(zInput.substr(0, 64));
  zArg = zArg.c_str();
  const long long iGot = parseIntegerArg(zArg.c_str());

  // The oracle: sign, digits by strtoull (only when they fit), a suffix that
  // must match the whole rest of the text.
  size_t i = 0;
  bool bNeg = false;
  if (i < zArg.size() && (zArg[i] == '-' || zArg[i] == '+')) bNeg = zArg[i++] == '-';
  const bool bHex = zArg.compare(i, 2, "0x") == 0;
  size_t iDigits = bHex ? i + 2 : i;
  size_t iRest = iDigits;
  while (iRest < zArg.size() && (bHex ? std::isxdigit(static_cast<unsigned char>(zArg[iRest]))
                                      : std::isdigit(static_cast<unsigned char>(zArg[iRest])))) {
    iRest++;
  }
  const std::string zDigits = zArg.substr(iDigits, iRest - iDigits);
  uint64_t v = 0;
  if (!zDigits.empty()) {
    errno = 0;
    v = std::strtoull(zDigits.c_str(), nullptr, bHex ? 16 : 10);
    if (errno == ERANGE) return;  // beyond 64 bits: the parser wraps, no oracle
  }
  const std::string_view zRest = std::string_view(zArg).substr(iRest);
  for (const Suffix& s : aSuffix) {
    if (equalsNoCase(zRest, s.zName)) {
      if (__builtin_mul_overflow(v, s.iFactor, &v)) return;
      break;
    }
  }
  if (bNeg) v = 0 - v;
  if (static_cast<uint64_t>(iGot) != v) fail("parseIntegerArg disagrees with the oracle");

  // Booleans: the words, or a plain number's low 32 bits; anything else is 0.
  const int bGot = parseBooleanArg(zArg.c_str());
  int bExpect = 0;
  if (equalsNoCase(zArg, "on") || equalsNoCase(zArg, "yes")) {
    bExpect = 1;
  } else if (i == 0 && iRest == zArg.size() && iRest > 0 && (!bHex || iRest > 2)) {
    bExpect = static_cast<int>(static_cast<uint64_t>(iGot) & 0xffffffffu);
  } else if (i == 0 && bHex && iRest == 2 && zArg.size() == 2) {
    bExpect = 0;  // "0x" alone
  }
  if (bGot != bExpect) fail("parseBooleanArg disagrees with the oracle");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t nData) {
  if (nData > 4096) return 0;
  std::string_view zInput(reinterpret_cast<const char*>(aData), nData);
  checkLineShape(zInput);
  checkRoundTrip(zInput);
  checkEscapes(zInput);
  checkIntegers(zInput);
  return 0;
}
