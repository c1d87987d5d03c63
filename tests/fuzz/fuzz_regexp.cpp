// libFuzzer target for the regular-expression compiler and matcher.  The first input byte
// holds the switches (bit 0: case-insensitive; bit 1: also run through SQL); the rest is the
// pattern, a zero byte, and the subject (which may hold further zero bytes).
//
// Checked on every input: compiling ends with a program or one of the known error texts;
// every jump target and class length stays inside the program, which ends in RX_ACCEPT and
// is never larger than kRegexMaxInstr; a match answers 0 or 1, the same with and without the
// literal-prefix shortcut; a case-insensitive match ignores the case of the subject's ASCII
// letters; regexp()/regexpi() through an in-memory connection agree with the helpers.
//
// Build (from the repository root):
//   clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -I. -o fuzz_regexp
//     tests/fuzz/fuzz_regexp.cpp ext/regexp/Regexp.cpp -lsqlite3
#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "ext/regexp/Regexp.h"

namespace {

// Program size times subject length above which the matcher is not run: it is linear but
// a 65535-instruction program over a long subject would only slow the fuzzer down.
constexpr size_t kMatchBudget = 20000000;

[[noreturn]] void fail(const char* zWhat, std::string_view zPattern) {
  std::fprintf(stderr, "fuzz_regexp: %s (pattern %zu bytes)\n", zWhat, zPattern.size());
  std::abort();
}

bool knownError(const char* zErr) {
  static const char* const azKnown[] = {
      "unmatched '('",
      "'*' without operand",
      "'+' without operand",
      "'?' without operand",
      "'{m,n}' without operand",
      "unmatched '{'",
      "n less than m in '{m,n}'",
      "both m and n are zero in '{m,n}'",
      "POSIX character classes not supported",
      "unclosed '['",
      "unknown \\ escape",
      "unrecognized character",
      "out of memory",
      "pattern too large",
      "parentheses nested too deeply",
  };
  for (const char* z : azKnown) {
    if (std::strcmp(z, zErr) == 0) return true;
  }
  return false;
}

void checkShape(const RegexProgram* p, std::string_view zPattern) {
  if (p->nInstr < 1 || p->nInstr > kRegexMaxInstr) fail("program size", zPattern);
  if (p->aCode[p->nInstr - 1] != RegexOp::RX_ACCEPT) fail("no accept at the end", zPattern);
  if (p->nPrefix < 0 || p->nPrefix > 12) fail("prefix length", zPattern);
  for (int i = 0; i < p->nInstr; i++) {
    RegexOp e = p->aCode[i];
    int iArg = p->aOperand[i];
    if (e == RegexOp::RX_SPLIT || e == RegexOp::RX_JUMP) {
      if (i + iArg < 0 || i + iArg >= p->nInstr) fail("jump out of the program", zPattern);
    } else if (e == RegexOp::RX_SET || e == RegexOp::RX_NOTSET) {
      if (iArg < 1 || i + iArg >= p->nInstr) fail("class out of the program", zPattern);
      for (int j = i + 1; j < i + iArg; j++) {
        if (p->aCode[j] != RegexOp::RX_SETCHAR && p->aCode[j] != RegexOp::RX_SETRANGE) {
          fail("class with a foreign member", zPattern);
        }
      }
    } else if (e < RegexOp::RX_CHAR || e > RegexOp::RX_ATSTART) {
      fail("unknown instruction", zPattern);
    }
  }
}

sqlite3* sharedDb() {
  static sqlite3* db = [] {
    sqlite3* d = nullptr;
    if (sqlite3_open(":memory:", &d) != SQLITE_OK || regexpRegister(d) != SQLITE_OK) {
      std::abort();
    }
    return d;
  }();
  return db;
}

// regexp()/regexpi() through SQL: 0 or 1, -2 for an error (with *pzErr set), -3 for NULL.
int viaSql(std::string_view zPattern, std::string_view zSubject, bool bNoCase, std::string* pzErr) {
  sqlite3* db = sharedDb();
  sqlite3_stmt* pStmt = nullptr;
  const char* zSql = bNoCase ? "SELECT regexpi(?1, ?2)" : "SELECT regexp(?1, ?2)";
  if (sqlite3_prepare_v2(db, zSql, -1, &pStmt, nullptr) != SQLITE_OK) std::abort();
  sqlite3_bind_text(pStmt, 1, zPattern.data(), static_cast<int>(zPattern.size()), SQLITE_STATIC);
  sqlite3_bind_text(pStmt, 2, zSubject.data(), static_cast<int>(zSubject.size()), SQLITE_STATIC);
  int iResult;
  if (sqlite3_step(pStmt) == SQLITE_ROW) {
    iResult = sqlite3_column_type(pStmt, 0) == SQLITE_NULL ? -3 : sqlite3_column_int(pStmt, 0);
  } else {
    iResult = -2;
    *pzErr = sqlite3_errmsg(db);
  }
  sqlite3_finalize(pStmt);
  return iResult;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t nData) {
  if (nData < 1) return 0;
  bool bNoCase = (aData[0] & 1) != 0;
  bool bSql = (aData[0] & 2) != 0;
  std::string_view zRest(reinterpret_cast<const char*>(aData + 1), nData - 1);
  size_t iSplit = zRest.find('\0');
  std::string_view zPattern = zRest.substr(0, iSplit);
  std::string_view zSubject =
      iSplit == std::string_view::npos ? std::string_view() : zRest.substr(iSplit + 1);

  // Exact-size copies, so that any read beyond either text is caught.
  std::string pattern(zPattern), subject(zSubject);
  auto* aPattern = static_cast<char*>(std::malloc(pattern.size() + 1));
  auto* aSubject = static_cast<char*>(std::malloc(subject.size() + 1));
  std::memcpy(aPattern, pattern.data(), pattern.size());
  std::memcpy(aSubject, subject.data(), subject.size());
  zPattern = std::string_view(aPattern, pattern.size());
  zSubject = std::string_view(aSubject, subject.size());

  RegexProgramPtr p;
  const char* zErr = compileRegex(zPattern, bNoCase, &p);
  if (zErr) {
    if (p) fail("error with a program", zPattern);
    if (!knownError(zErr)) fail("unknown error text", zPattern);
    if (bSql) {
      std::string zSqlErr;
      if (viaSql(zPattern, zSubject, bNoCase, &zSqlErr) != -2 || zSqlErr != zErr) {
        fail("SQL error differs", zPattern);
      }
    }
  } else {
    if (!p) fail("no program and no error", zPattern);
    checkShape(p.get(), zPattern);
    if (static_cast<size_t>(p->nInstr) * (zSubject.size() + 1) <= kMatchBudget) {
      int iMatch = matchRegex(p.get(), zSubject);
      if (iMatch != 0 && iMatch != 1) fail("match result", zPattern);
      if (p->nPrefix > 0) {
        int nPrefix = p->nPrefix;
        p->nPrefix = 0;
        if (matchRegex(p.get(), zSubject) != iMatch)
          fail("prefix shortcut changes answer", zPattern);
        p->nPrefix = nPrefix;
      }
      if (bNoCase) {
        for (char& c : subject) {
          if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
          } else if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
          }
        }
        if (matchRegex(p.get(), subject) != iMatch) fail("case changes a folded answer", zPattern);
      }
      if (bSql) {
        std::string zSqlErr;
        if (viaSql(zPattern, zSubject, bNoCase, &zSqlErr) != iMatch) {
          fail("SQL answer differs", zPattern);
        }
      }
    }
  }
  std::free(aPattern);
  std::free(aSubject);
  return 0;
}
