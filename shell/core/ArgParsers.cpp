#include "shell/core/ArgParsers.h"

#include <cctype>
#include <cstdio>
#include <cstring>

int hexNibble(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

static bool isOctalDigit(char c) {
  return c >= '0' && c <= '7';
}

void expandBackslashEscapes(char* z) {
  size_t i = 0;
  while (z[i] && z[i] != '\\') i++;
  size_t j = i;
  for (; z[i]; i++, j++) {
    char c = z[i];
    if (c == '\\' && z[i + 1]) {
      c = z[++i];
      switch (c) {
        case 'a':
          c = '\a';
          break;
        case 'b':
          c = '\b';
          break;
        case 't':
          c = '\t';
          break;
        case 'n':
          c = '\n';
          break;
        case 'v':
          c = '\v';
          break;
        case 'f':
          c = '\f';
          break;
        case 'r':
          c = '\r';
          break;
        case '"':
          c = '"';
          break;
        case '\'':
          c = '\'';
          break;
        case '\\':
          c = '\\';
          break;
        default:
          if (isOctalDigit(c)) {
            unsigned v = static_cast<unsigned>(c - '0');
            for (int k = 0; k < 2 && isOctalDigit(z[i + 1]); k++) {
              v = v * 8 + static_cast<unsigned>(z[++i] - '0');
            }
            c = static_cast<char>(v & 0xff);
          }
          break;
      }
    }
    z[j] = c;
  }
  if (j < i) z[j] = 0;
}

struct SizeSuffix {
  const char* zSuffix;
  sqlite3_int64 iMult;
};
static const SizeSuffix sizeSuffixes[] = {
    {"KiB", 1024}, {"MiB", 1024 * 1024}, {"GiB", 1024 * 1024 * 1024},
    {"KB", 1000},  {"MB", 1000000},      {"GB", 1000000000},
    {"K", 1000},   {"M", 1000000},       {"G", 1000000000},
};

sqlite3_int64 parseIntegerArg(const char* zArg) {
  bool bNeg = false;
  sqlite3_uint64 v = 0;
  if (*zArg == '-') {
    bNeg = true;
    zArg++;
  } else if (*zArg == '+') {
    zArg++;
  }
  if (zArg[0] == '0' && zArg[1] == 'x') {
    zArg += 2;
    int x;
    while ((x = hexNibble(*zArg)) >= 0) {
      v = (v << 4) + static_cast<sqlite3_uint64>(x);
      zArg++;
    }
  } else {
    while (std::isdigit(static_cast<unsigned char>(*zArg))) {
      v = v * 10 + static_cast<sqlite3_uint64>(*zArg - '0');
      zArg++;
    }
  }
  for (const auto& s : sizeSuffixes) {
    if (sqlite3_stricmp(s.zSuffix, zArg) == 0) {
      v *= static_cast<sqlite3_uint64>(s.iMult);
      break;
    }
  }
  if (bNeg) v = 0 - v;
  return static_cast<sqlite3_int64>(v);
}

int parseBooleanArg(const char* zArg) {
  int i = 0;
  if (zArg[0] == '0' && zArg[1] == 'x') {
    for (i = 2; hexNibble(zArg[i]) >= 0; i++) {
    }
  } else {
    for (i = 0; zArg[i] >= '0' && zArg[i] <= '9'; i++) {
    }
  }
  if (i > 0 && zArg[i] == 0) return static_cast<int>(parseIntegerArg(zArg) & 0xffffffff);
  if (sqlite3_stricmp(zArg, "on") == 0 || sqlite3_stricmp(zArg, "yes") == 0) return 1;
  if (sqlite3_stricmp(zArg, "off") == 0 || sqlite3_stricmp(zArg, "no") == 0) return 0;
  std::fprintf(stderr, "ERROR: Not a boolean value: \"%s\". Assuming \"no\".\n", zArg);
  return 0;
}
