#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ext/regexp/Regexp.h"

namespace {

struct Vector {
  const char* zPattern;
  const char* zSubject;
  int bNoCase;
  int bMatch;
};

const Vector kVectors[] = {
#include "regexp_vectors.inc"
};

// Compiles and matches through the helpers; -2 when the pattern does not compile.
int run(std::string_view zPattern, std::string_view zSubject, bool bNoCase = false) {
  RegexProgramPtr p;
  if (compileRegex(zPattern, bNoCase, &p)) return -2;
  return matchRegex(p.get(), zSubject);
}

std::string compileError(std::string_view zPattern, bool bNoCase = false) {
  RegexProgramPtr p;
  const char* zErr = compileRegex(zPattern, bNoCase, &p);
  EXPECT_EQ(zErr == nullptr, p != nullptr);
  return zErr ? zErr : "";
}

// An in-memory connection with the functions registered.
class RegexpSql : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
    ASSERT_EQ(regexpRegister(db), SQLITE_OK);
  }
  void TearDown() override { sqlite3_close(db); }

  // The first column of the first row as text ("NULL" for NULL), or "error: <message>".
  std::string query(const std::string& zSql) {
    sqlite3_stmt* pStmt = nullptr;
    if (sqlite3_prepare_v2(db, zSql.c_str(), -1, &pStmt, nullptr) != SQLITE_OK) {
      return std::string("error: ") + sqlite3_errmsg(db);
    }
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> owner(pStmt, sqlite3_finalize);
    int rc = sqlite3_step(pStmt);
    if (rc == SQLITE_ROW) {
      const auto* z = reinterpret_cast<const char*>(sqlite3_column_text(pStmt, 0));
      return z ? z : "NULL";
    }
    if (rc == SQLITE_DONE) return "no row";
    return std::string("error: ") + sqlite3_errmsg(db);
  }

  sqlite3* db = nullptr;
};

// Runs the program every way it can run: with each shortcut (literal prefix, first-byte skip,
// needed literal) on and off, simulated and memoized.  Each answer is paired with a
// description of the way; the program is left as it was, memo included.
std::vector<std::pair<int, std::string>> everyWay(RegexProgram* p, std::string_view zSubject) {
  std::vector<std::pair<int, std::string>> aOut;
  const int nPrefix = p->nPrefix;
  const bool bSkip = p->bFirstByteSkip;
  const int nNeeded = p->nNeeded;
  for (int mWays = 0; mWays < 16; mWays++) {
    p->nPrefix = (mWays & 1) ? 0 : nPrefix;
    p->bFirstByteSkip = (mWays & 2) ? false : bSkip;
    p->nNeeded = (mWays & 4) ? 0 : nNeeded;
    auto eMode = (mWays & 8) ? RegexMatchMode::Memoize : RegexMatchMode::Simulate;
    std::string zWay = std::string((mWays & 8) ? "memoized" : "simulated") +
                       ((mWays & 1) ? ", no prefix" : "") + ((mWays & 2) ? ", no skip" : "") +
                       ((mWays & 4) ? ", no needed literal" : "");
    aOut.emplace_back(matchRegex(p, zSubject, eMode), zWay);
  }
  p->nPrefix = nPrefix;
  p->bFirstByteSkip = bSkip;
  p->nNeeded = nNeeded;
  return aOut;
}

TEST(RegexpOracle, RandomPatternsAgreeWithPython) {
  int nChecked = 0;
  for (const auto& v : kVectors) {
    RegexProgramPtr p;
    const char* zErr = compileRegex(v.zPattern, v.bNoCase != 0, &p);
    ASSERT_EQ(zErr, nullptr) << "pattern " << v.zPattern;
    EXPECT_EQ(matchRegex(p.get(), v.zSubject), v.bMatch)
        << "pattern \"" << v.zPattern << "\" subject \"" << v.zSubject << "\" nocase " << v.bNoCase;
    // The shortcuts and the memo only save time: every way gives the same answer.
    for (const auto& [iGot, zWay] : everyWay(p.get(), v.zSubject)) {
      EXPECT_EQ(iGot, v.bMatch) << zWay << ": pattern \"" << v.zPattern << "\" subject \""
                                << v.zSubject << "\" nocase " << v.bNoCase;
    }
    nChecked++;
  }
  EXPECT_GT(nChecked, 1000);
}

TEST(RegexpOracle, OneProgramServesManySubjects) {
  // The memo lives with the program: run each pattern over the subjects of every vector, in
  // two rounds, and compare with the plain simulation without any shortcut (which the test
  // above holds to Python's answers).  Vectors come four per pattern, so each program sees
  // its own subjects among many foreign ones, matching and not.
  std::vector<std::string> aSubject;
  for (const auto& v : kVectors) aSubject.emplace_back(v.zSubject);
  int nMismatch = 0;
  for (size_t i = 0; i < std::size(kVectors); i += 4) {
    const auto& v = kVectors[i];
    RegexProgramPtr pMemo, pPlain;
    ASSERT_EQ(compileRegex(v.zPattern, v.bNoCase != 0, &pMemo), nullptr);
    ASSERT_EQ(compileRegex(v.zPattern, v.bNoCase != 0, &pPlain), nullptr);
    pPlain->nPrefix = 0;
    pPlain->bFirstByteSkip = false;
    pPlain->nNeeded = 0;
    for (int iRound = 0; iRound < 2; iRound++) {
      for (size_t k = 0; k < aSubject.size(); k += 7) {
        const std::string& zSubject = aSubject[(k + i) % aSubject.size()];
        int iWant = matchRegex(pPlain.get(), zSubject, RegexMatchMode::Simulate);
        // Memoized and simulated, each with its shortcuts.
        int iGot = matchRegex(pMemo.get(), zSubject, RegexMatchMode::Memoize);
        if (iGot == iWant) iGot = matchRegex(pMemo.get(), zSubject, RegexMatchMode::Simulate);
        if (iGot != iWant && ++nMismatch < 20) {
          ADD_FAILURE() << "pattern \"" << v.zPattern << "\" subject \"" << zSubject << "\" nocase "
                        << v.bNoCase << ": memoized " << iGot << ", simulated " << iWant;
        }
      }
    }
  }
  EXPECT_EQ(nMismatch, 0);
}

TEST(RegexpMatch, MemoStartsAfreshWhenFull) {
  // '(a|b)*a(a|b){8}' holds when some 'a' has eight characters after it; remembering its
  // steps takes hundreds of states, far more than the memo keeps, so it fills and restarts
  // many times while these subjects run.
  RegexProgramPtr p;
  ASSERT_EQ(compileRegex("(a|b)*a(a|b){8}", false, &p), nullptr);
  uint32_t uSeed = 12345;
  int nYes = 0;
  for (int i = 0; i < 3000; i++) {
    std::string zSubject;
    int nLen = static_cast<int>(uSeed % 24);
    for (int k = 0; k < nLen; k++) {
      uSeed = uSeed * 1103515245u + 12345u;
      zSubject += ((uSeed >> 16) & 1) ? 'a' : 'b';
    }
    uSeed = uSeed * 1103515245u + 12345u;
    size_t iFirstA = zSubject.find('a');
    int iWant = iFirstA != std::string::npos && iFirstA + 8 < zSubject.size();
    nYes += iWant;
    ASSERT_EQ(matchRegex(p.get(), zSubject, RegexMatchMode::Memoize), iWant) << zSubject;
    ASSERT_EQ(matchRegex(p.get(), zSubject + "c", RegexMatchMode::Memoize), iWant) << zSubject;
  }
  EXPECT_GT(nYes, 500);
  EXPECT_LT(nYes, 2500);
}

TEST(RegexpCompile, FirstByteTable) {
  // The bytes a match can begin with, as a string of the ASCII ones plus a note on the rest:
  // "+high" all bytes from 0x80, "+XX" the single lead byte XX (hex); "-" no table at all.
  struct Case {
    const char* zPattern;
    bool bNoCase;
    const char* zWant;
  } cases[] = {
      {"alpha|beta|zeta", false, "abz"},
      {"[0-9]{5}$", false, "0123456789"},
      {"\\bx42\\b", false, "x"},
      {"gamma", false, "g"},
      {"a?b*c", false, "abc"},
      {"(x|y?)z", false, "xyz"},
      {"ABC", true, "Aa"},
      {"[b-c]x|Q", true, "BCQbcq"},
      {"\\d\\s", false, "0123456789"},
      {"é+", false, "+c3"},
      {"😀", false, "+f0"},
      {"\\xff", false, "+c3"},
      {"\xff", false, "+high"},  // a malformed pattern byte: U+FFFD, any high byte
      {"[à-é]", false, "+high"},
      {"^abc", false, "-"},   // anchored: nothing to skip
      {"x*", false, "-"},     // matches without reading a character
      {"\\b", false, "-"},    // likewise, where the boundary holds
      {"a|^", false, "-"},    //
      {"$", false, ""},       // only at the end, which is always visited
      {"(a|$)", false, "a"},  //
      {"^a|b", false, "ab"},  // the start test is passed over, adding bytes
  };
  auto describe = [](const RegexProgram* p) {
    if (!p->bFirstByteSkip) return std::string("-");
    std::string z;
    for (int b = 1; b < 0x80; b++) {
      if (p->aFirstByte[b]) z += static_cast<char>(b);
    }
    int nHigh = 0, iLast = 0;
    for (int b = 0x80; b < 0x100; b++) {
      if (p->aFirstByte[b]) {
        nHigh++;
        iLast = b;
      }
    }
    char zHex[16];
    std::snprintf(zHex, sizeof(zHex), "+%02x", iLast);
    if (nHigh == 0x80)
      z += "+high";
    else if (nHigh == 1)
      z += zHex;
    else if (nHigh > 1)
      z += "+several";
    return z;
  };
  for (const auto& c : cases) {
    RegexProgramPtr p;
    ASSERT_EQ(compileRegex(c.zPattern, c.bNoCase, &p), nullptr) << c.zPattern;
    EXPECT_EQ(describe(p.get()), c.zWant) << c.zPattern;
    EXPECT_FALSE(p->aFirstByte[0]) << c.zPattern;  // a zero byte ends the subject
  }
}

TEST(RegexpCompile, NeededLiteral) {
  struct Case {
    const char* zPattern;
    bool bNoCase;
    const char* zWant;
  } cases[] = {
      {"\\bx42\\b", false, "x42"},
      {"^order [a-z]+", false, "order "},
      {"[ab]cd+e", false, "cd"},  // a jump back into the run comes too late to matter
      {"[ab]cd*e", false, "c"},   // but 'd' may be jumped over
      {".(abc)+", false, "abc"},  //
      {".x{2}y", false, "xxy"},   //
      {"(abc)+", false, ""},      // the prefix does this job already
      {".(a|b)?cd(e|f)*g", false, "cd"},
      {"a?bcd", false, "bcd"},                       //
      {"\\s(ab|cd)ef", false, "ef"},                 //
      {"\\wé€z", false, "é€z"},                      //
      {".x\\u00e9", false, "xé"},                    //
      {"[0-9]{5}$", false, ""},                      // no literal; the end marker is none
      {"ab|cd", false, ""},                          // either branch may be the one
      {"(ab)?c", false, "c"},                        //
      {"(ab)*", false, ""},                          //
      {".a(b|c)d", false, "a"},                      // two equal runs: the first
      {"gamma", false, ""},                          // the prefix does this job already
      {".\\bx42", true, ""},                         // case-insensitive: none
      {".\xff", false, ""},                          // U+FFFD also stands for malformed bytes
      {".abcdefghijklmnop", false, "abcdefghijkl"},  // at most twelve bytes
  };
  for (const auto& c : cases) {
    RegexProgramPtr p;
    ASSERT_EQ(compileRegex(c.zPattern, c.bNoCase, &p), nullptr) << c.zPattern;
    EXPECT_EQ(std::string(reinterpret_cast<char*>(p->aNeeded), p->nNeeded), c.zWant) << c.zPattern;
  }
  // Every vector that matches contains its pattern's needed literal.
  for (const auto& v : kVectors) {
    RegexProgramPtr p;
    ASSERT_EQ(compileRegex(v.zPattern, v.bNoCase != 0, &p), nullptr);
    if (!v.bMatch || p->nNeeded == 0) continue;
    EXPECT_NE(std::string_view(v.zSubject)
                  .find(std::string_view(reinterpret_cast<char*>(p->aNeeded), p->nNeeded)),
              std::string_view::npos)
        << v.zPattern << " on " << v.zSubject;
  }
}

TEST(RegexpMatch, HandPickedCases) {
  struct Case {
    const char* zPattern;
    const char* zSubject;
    bool bNoCase;
    int iWant;
  } cases[] = {
      {"abc", "xxabcxx", false, 1},
      {"^abc", "xxabc", false, 0},
      {"abc$", "abcx", false, 0},
      {"a$", "ba", false, 1},
      {"ABC", "xabcx", true, 1},
      {"ABC", "xabcx", false, 0},
      {"a{2,3}", "caab", false, 1},
      {"^a{2}$", "aaa", false, 0},
      {"^a{2,}$", "aaaaa", false, 1},
      {"^a{2,}$", "a", false, 0},
      {"^a{,2}$", "aa", false, 1},
      {"^a{,2}$", "aaa", false, 0},
      {"[a-c]+x", "zzbx", false, 1},
      {"[^0-9]", "123", false, 0},
      {"[]a]", "]", false, 1},
      {"[^]a]", "]a", false, 0},
      {"\\d+", "abc", false, 0},
      {"\\bfoo\\b", "a foo b", false, 1},
      {"\\bfoo\\b", "afoo b", false, 0},
      {"\\Bx", "x", false, -2},
      {"^$", "", false, 1},
      {"", "", false, 1},
      {"x*", "", false, 1},
      {"^.*$", "any\nthing", false, 1},
      {"a.c", "a\nc", false, 1},
      {"a|b|c", "zzc", false, 1},
      {"^(a|b|c)$", "d", false, 0},
      {"\\x41\\u00e9", "A\xc3\xa9", false, 1},
      {"\\t\\n\\r\\f\\v\\a", "\t\n\r\f\v\a", false, 1},
      {"\\(\\)\\*\\.\\+\\?\\[\\$\\^\\{\\|\\}\\]\\\\", "()*.+?[$^{|}]\\", false, 1},
      // Non-ASCII literals at the front go through the prefix search.
      {"été", "un été chaud", false, 1},
      {"€+5", "prix €€5", false, 1},
      {"€+5", "prix € 5", false, 0},
      // A subject that ends in a 4-byte character decodes to that character.
      {"😀$", "smile 😀", false, 1},
      {"^.$", "😀", false, 1},
      {"[😀-😏]$", "x😅", false, 1},
      // Case folding touches ASCII letters only.
      {"é", "É", true, 0},
      {"[A-C]x", "bX", true, 1},
      {"\\W", "\xc3\xa9", false, 1},
      // A pattern that would take a backtracking matcher exponential time.
      {"^(x+x+)+y$", "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx", false, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(run(c.zPattern, c.zSubject, c.bNoCase), c.iWant)
        << c.zPattern << " on " << c.zSubject << (c.bNoCase ? " (nocase)" : "");
  }
}

// Faults mended here: each case answered differently (or read memory it should not) before.
TEST(RegexpMatch, EndAnchorIsZeroWidth) {
  // '$' holds at the end without consuming it: what follows is tried there too.
  EXPECT_EQ(run("a$$", "a"), 1);
  EXPECT_EQ(run("a$(b)?", "a"), 1);
  EXPECT_EQ(run("a$\\b", "a"), 1);
  EXPECT_EQ(run("a$b", "a"), 0);
  EXPECT_EQ(run("(a$|b)c", "ac"), 0);
  EXPECT_EQ(run("(a$|b)c", "bc"), 1);
  // The end is no member of any class.
  EXPECT_EQ(run("[\\x00]", "abc"), 0);
  EXPECT_EQ(run("a[^b]", "a"), 0);
}

TEST(RegexpMatch, LeadingCaretBindsToTheFirstBranchOnly) {
  EXPECT_EQ(run("^a|b", "xb"), 1);
  EXPECT_EQ(run("^a|b", "xa"), 0);
  EXPECT_EQ(run("^a|b", "ax"), 1);
  EXPECT_EQ(run("^(a|b)", "xb"), 0);
  EXPECT_EQ(run("^a|^b", "xb"), 0);
  EXPECT_EQ(run("^a|b|^c", "xc"), 0);
  EXPECT_EQ(run("^a|b|^c", "cx"), 1);
  EXPECT_EQ(run("^a|b", "xa", true), 0);
  EXPECT_EQ(run("^A|B", "xb", true), 1);
}

TEST(RegexpMatch, StackedQuantifiersApplyToTheWholeItem) {
  EXPECT_EQ(run("^a*?$", ""), 1);
  EXPECT_EQ(run("^a*?$", "aaa"), 1);
  EXPECT_EQ(run("^a+?$", ""), 1);
  EXPECT_EQ(run("^a{2}{3}$", "aaaaaa"), 1);
  EXPECT_EQ(run("^a{2}{3}$", "aaaa"), 0);
  EXPECT_EQ(run("^(ab){1,2}+$", "ababab"), 1);
  EXPECT_EQ(run("^b?*c$", "bbc"), 1);
}

TEST(RegexpMatch, EscapedLettersFoldInCaseInsensitivePatterns) {
  EXPECT_EQ(run("\\x41", "a", true), 1);
  EXPECT_EQ(run("\\u0042", "xb", true), 1);
  EXPECT_EQ(run("[\\x41-\\x43]", "b", true), 1);
  EXPECT_EQ(run("\\x41", "a", false), 0);
}

TEST(RegexpMatch, CaseSensitiveAndFoldedSearchesAgree) {
  // A subject stops at a zero byte whichever way the search goes.
  std::string zNul("abc\0def", 7);
  EXPECT_EQ(run("def", zNul), 0);
  EXPECT_EQ(run("def", zNul, true), 0);
  EXPECT_EQ(run("abc", zNul), 1);
  EXPECT_EQ(run("^$", std::string_view()), 1);  // an empty view may have no data at all
  EXPECT_EQ(run("a", std::string_view()), 0);
  // U+FFFD in a pattern stands for malformed subject bytes too, with or without the prefix.
  EXPECT_EQ(run("\xff", "\xff"), 1);
  EXPECT_EQ(run("\xff", "\xff", true), 1);
  EXPECT_EQ(run("\xef\xbf\xbdz", "a\x80z"), 1);
}

TEST(RegexpMatch, NeverReadsPastTheSubject) {
  // Exact-size heap copies, so the address sanitizer sees any read beyond the last byte.
  auto onHeap = [](std::string_view z) {
    auto a = std::make_unique<char[]>(z.size());
    std::copy(z.begin(), z.end(), a.get());
    return a;
  };
  struct Case {
    const char* zPattern;
    std::string zSubject;
    int iWant;
  } cases[] = {
      {"x\\u00e9", "x\xc3", 0},         // truncated 2-byte sequence
      {"x\xef\xbf\xbd$", "x\xc3", 1},   // ... which is one U+FFFD
      {"x.$", "x\xe2\x82", 0},          // truncated 3-byte sequence: two characters
      {"x..$", "x\xe2\x82", 1},         //
      {"x...$", "x\xf0\x9f\x98", 1},    // truncated 4-byte sequence: three characters
      {"abcdef", "abcde", 0},           // the prefix runs off the end
      {"abcdef", "xxxxxabcde", 0},      //
      {"\xe2\x82\xac", "\xe2\x82", 0},  // a prefix cut inside a character
      {"a$", "a", 1},                   //
      {"[^a]", "\xf0", 1},              //
      {"\\b", "", 0},                   //
  };
  for (const auto& c : cases) {
    auto a = onHeap(c.zSubject);
    EXPECT_EQ(run(c.zPattern, std::string_view(a.get(), c.zSubject.size())), c.iWant) << c.zPattern;
  }
  // The pattern too is read only within its length.
  std::string zPattern = "ab\\u00e";
  auto a = onHeap(zPattern);
  EXPECT_EQ(compileError(std::string_view(a.get(), zPattern.size())), "unknown \\ escape");
  std::string zDangling = "ab\\";
  auto b = onHeap(zDangling);
  EXPECT_EQ(run(std::string_view(b.get(), zDangling.size()), "ab"), 1);  // a final '\' is '$'
}

TEST(RegexpDecode, Utf8Table) {
  struct Case {
    std::string zIn;
    unsigned cWant;
    size_t nUsed;
  } cases[] = {
      {"", 0, 0},
      {"A", 'A', 1},
      {"\xc3\xa9", 0xE9, 2},
      {"\xc0\x80", 0xFFFD, 2},  // overlong
      {"\xc3", 0xFFFD, 1},      // truncated
      {"\xc3(", 0xFFFD, 1},     // no continuation
      {"\xe2\x82\xac", 0x20AC, 3},
      {"\xe0\x9f\xbf", 0xFFFD, 3},  // overlong
      {"\xed\xa0\x80", 0xFFFD, 3},  // surrogate
      {"\xe2\x82", 0xFFFD, 1},
      {"\xf0\x9f\x98\x80", 0x1F600, 4},
      {"\xf4\x8f\xbf\xbf", 0x10FFFF, 4},
      {"\xf4\x90\x80\x80", 0xFFFD, 4},  // beyond U+10FFFF
      {"\xf0\x8f\xbf\xbf", 0xFFFD, 4},  // overlong
      {"\xf0\x9f\x98", 0xFFFD, 1},
      {"\x80", 0xFFFD, 1},
      {"\xf8\x88\x80\x80\x80", 0xFFFD, 1},
      {"\xff", 0xFFFD, 1},
  };
  for (const auto& c : cases) {
    size_t i = 0;
    EXPECT_EQ(
        regexDecodeUtf8(reinterpret_cast<const unsigned char*>(c.zIn.data()), c.zIn.size(), &i),
        c.cWant)
        << testing::PrintToString(c.zIn);
    EXPECT_EQ(i, c.nUsed) << testing::PrintToString(c.zIn);
  }
}

TEST(RegexpCompile, ErrorTexts) {
  struct Case {
    const char* zPattern;
    const char* zError;
  } cases[] = {
      {"(", "unmatched '('"},
      {"(a|(b)", "unmatched '('"},
      {"*a", "'*' without operand"},
      {"a|*b", "'*' without operand"},
      {"(+)", "'+' without operand"},
      {"?", "'?' without operand"},
      {"{2}", "'{m,n}' without operand"},
      {"a{2", "unmatched '{'"},
      {"a{2,x}", "unmatched '{'"},
      {"a{3,2}", "n less than m in '{m,n}'"},
      {"x{0,0}", "both m and n are zero in '{m,n}'"},
      {"x{0}", "both m and n are zero in '{m,n}'"},
      {"[[:alpha:]]", "POSIX character classes not supported"},
      {"[abc", "unclosed '['"},
      {"[]", "unclosed '['"},
      {"[a-", "unclosed '['"},
      {"\\q", "unknown \\ escape"},
      {"\\u12g4", "unknown \\ escape"},
      {"\\x4", "unknown \\ escape"},
      {"[\\d]", "unknown \\ escape"},
      {"a)", "unrecognized character"},
      {"a{70000}", "pattern too large"},
      {"(a{1000}){1000}", "pattern too large"},
      {"(((((a{10}){10}){10}){10}){10})", "pattern too large"},
  };
  for (const auto& c : cases) EXPECT_EQ(compileError(c.zPattern), c.zError) << c.zPattern;
}

TEST(RegexpCompile, SizeAndNestingLimits) {
  // The largest program is one of 65535 instructions: the leading any-run, the items and
  // the accept.  It compiles and matches; one more instruction is refused.
  EXPECT_EQ(compileError("a{65533}"), "");
  EXPECT_EQ(compileError("a{65534}"), "pattern too large");
  EXPECT_EQ(run("^a{65534}", std::string(65534, 'a')), 1);
  EXPECT_EQ(run("^a{65534}", std::string(65533, 'a')), 0);
  // Repetition counts saturate rather than overflow.
  EXPECT_EQ(compileError("a{99999999999999999999}"), "pattern too large");
  EXPECT_EQ(compileError("a{1,99999999999999999999}"), "pattern too large");
  EXPECT_EQ(run("x(){99999999999999999999}y", "xy"), 1);  // an empty item repeats freely

  // Nesting is bounded so that compiling never exhausts the stack.
  auto nested = [](int nDepth) {
    return std::string(nDepth, '(') + "a" + std::string(nDepth, ')');
  };
  EXPECT_EQ(run(nested(kRegexMaxDepth), "a"), 1);
  EXPECT_EQ(compileError(nested(kRegexMaxDepth + 1)), "parentheses nested too deeply");
  EXPECT_EQ(compileError(std::string(100000, '(')), "parentheses nested too deeply");
}

TEST(RegexpMatch, PathologicalPatternsStayLinear) {
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(run("(a?){25}a{25}", std::string(25, 'a')), 1);
  EXPECT_EQ(run("^(a?){25}a{25}$", std::string(24, 'a')), 0);
  EXPECT_EQ(run("^(a?){500}a{500}$", std::string(500, 'a')), 1);
  EXPECT_EQ(run("(x+x+)+y", std::string(20000, 'x')), 0);
  EXPECT_EQ(run("(a|aa)*b", std::string(20000, 'a') + "b"), 1);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                  start)
                .count();
  EXPECT_LT(ms, 2000);
}

TEST(RegexpMatch, LargeProgramsReuseTheirScratch) {
  // More than fifty instructions: the state sets live with the program and are reused.
  RegexProgramPtr p;
  ASSERT_EQ(compileRegex("(ab|cd){20}e", false, &p), nullptr);
  ASSERT_GT(p->nInstr, 50);
  std::string zYes, zNo;
  for (int i = 0; i < 20; i++) zYes += (i % 3) ? "ab" : "cd";
  zNo = zYes;
  zYes += "e";
  zNo += "f";
  for (int i = 0; i < 3; i++) {
    EXPECT_EQ(matchRegex(p.get(), zYes), 1);
    EXPECT_EQ(matchRegex(p.get(), zNo), 0);
    EXPECT_EQ(matchRegex(p.get(), "x" + zYes.substr(2)), 0);
  }
}

TEST(RegexpCompile, ProgramShape) {
  // Jump targets and class lengths stay inside the program for every vector.
  for (const auto& v : kVectors) {
    RegexProgramPtr p;
    ASSERT_EQ(compileRegex(v.zPattern, v.bNoCase != 0, &p), nullptr);
    ASSERT_EQ(p->aCode[p->nInstr - 1], RegexOp::RX_ACCEPT);
    for (int i = 0; i < p->nInstr; i++) {
      RegexOp e = p->aCode[i];
      if (e == RegexOp::RX_SPLIT || e == RegexOp::RX_JUMP) {
        int t = i + p->aOperand[i];
        EXPECT_TRUE(t >= 0 && t < p->nInstr) << v.zPattern << " at " << i;
      }
      if (e == RegexOp::RX_SET || e == RegexOp::RX_NOTSET) {
        EXPECT_TRUE(p->aOperand[i] >= 1 && i + p->aOperand[i] < p->nInstr) << v.zPattern;
      }
    }
  }
  RegexProgramPtr p;
  ASSERT_EQ(compileRegex("café €😀", false, &p), nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(p->aPrefix), p->nPrefix), "café €");
  ASSERT_EQ(compileRegex("abcdefghijklmn$", false, &p), nullptr);
  EXPECT_EQ(p->nPrefix, 10);
  ASSERT_EQ(compileRegex("ab$", false, &p), nullptr);
  EXPECT_EQ(p->nPrefix, 2);
  ASSERT_EQ(compileRegex("abc", true, &p), nullptr);
  EXPECT_EQ(p->nPrefix, 0);
  ASSERT_EQ(compileRegex("^abc", false, &p), nullptr);
  EXPECT_EQ(p->nPrefix, 0);
}

TEST_F(RegexpSql, FunctionsAndOperator) {
  struct Case {
    const char* zSql;
    const char* zWant;
  } cases[] = {
      {"SELECT regexp('abc', 'xxabcxx')", "1"},
      {"SELECT 'xxabcxx' REGEXP 'abc'", "1"},
      {"SELECT 'xxabc' REGEXP '^abc'", "0"},
      {"SELECT regexpi('ABC', 'xabcx')", "1"},
      {"SELECT regexp('ABC', 'xabcx')", "0"},
      {"SELECT regexp('\\bfoo\\b', 'a foo b')", "1"},
      {"SELECT regexp(NULL, 'x')", "NULL"},
      {"SELECT regexp('x', NULL)", "NULL"},
      {"SELECT NULL REGEXP 'x'", "NULL"},
      {"SELECT regexp('^12', 123)", "1"},
      {"SELECT regexp('x{0,0}', 'x')", "error: both m and n are zero in '{m,n}'"},
      {"SELECT regexp('[[:alpha:]]', 'a')", "error: POSIX character classes not supported"},
      {"SELECT regexp('(', 'x')", "error: unmatched '('"},
      {"SELECT regexp('a)', 'x')", "error: unrecognized character"},
      {"SELECT regexp('*a', 'x')", "error: '*' without operand"},
      {"SELECT regexp('(', NULL)", "error: unmatched '('"},
      {"SELECT regexpi('éTé', 'un été')", "1"},
      {"SELECT regexp(x'ff', x'ff')", "1"},
  };
  for (const auto& c : cases) EXPECT_EQ(query(c.zSql), c.zWant) << c.zSql;
}

TEST_F(RegexpSql, ConstantAndVaryingPatternsOverManyRows) {
  ASSERT_EQ(sqlite3_exec(db,
                         "CREATE TABLE t(p, s);"
                         "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<300)"
                         " INSERT INTO t SELECT CASE i%3 WHEN 0 THEN '^a' WHEN 1 THEN 'b$'"
                         " ELSE '[0-9]' END, printf('%s%d%s', char(97+i%4), i, char(97+i%5))"
                         " FROM n;",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  // A constant pattern is compiled once and cached; the answers must not drift.
  EXPECT_EQ(query("SELECT count(*) FROM t WHERE s REGEXP '^[ab][0-9]+[cd]$'"),
            query("SELECT count(*) FROM t WHERE (substr(s,1,1) IN ('a','b')) AND"
                  " substr(s,-1) IN ('c','d')"));
  // A pattern from a column changes per row.
  EXPECT_EQ(query("SELECT count(*) FROM t WHERE regexp(p, s)"),
            query("SELECT count(*) FROM t WHERE (p='^a' AND s LIKE 'a%') OR"
                  " (p='b$' AND s LIKE '%b') OR p='[0-9]'"));
}

TEST_F(RegexpSql, DeterministicAndInnocuous) {
  // Indexes on expressions take deterministic functions only.
  EXPECT_EQ(sqlite3_exec(db,
                         "CREATE TABLE u(x); CREATE INDEX ux ON u(regexp('a', x));"
                         "INSERT INTO u VALUES('cat'),('dog');",
                         nullptr, nullptr, nullptr),
            SQLITE_OK)
      << sqlite3_errmsg(db);
  // With an untrusted schema, views may call innocuous functions only.
  EXPECT_EQ(sqlite3_exec(db,
                         "CREATE VIEW v AS SELECT regexpi('A', x) AS m FROM u;"
                         "PRAGMA trusted_schema=OFF;",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  EXPECT_EQ(query("SELECT sum(m) FROM v"), "1");
}

}  // namespace
