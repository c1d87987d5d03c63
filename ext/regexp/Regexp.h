// Regular expressions for SQL: regexp(PATTERN, STRING), regexpi(PATTERN, STRING) and with
// them the operator STRING REGEXP PATTERN.
//
// A pattern is compiled into a small instruction program which is run over the subject by
// simulating every path at once: matching time grows with the product of program and subject
// length and never backtracks.  Characters are Unicode code points decoded from UTF-8.
#pragma once

#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

// Instruction codes; the argument of each instruction lives in RegexProgram::aOperand and jump
// targets are relative to the instruction's own index.
enum class RegexOp : unsigned char {
  RX_CHAR = 1,       // the current character equals the argument (0: the end of the input)
  RX_ANY = 2,        // any character except the end
  RX_ANYSTAR = 3,    // any run of characters, including none
  RX_SPLIT = 4,      // continue both at the next instruction and at the argument's offset
  RX_JUMP = 5,       // continue at the argument's offset
  RX_ACCEPT = 6,     // the pattern has matched
  RX_SET = 7,        // the character is in the class; argument: instructions of the class
  RX_NOTSET = 8,     // the character is not in the class (and is not the end)
  RX_SETCHAR = 9,    // class member: the argument character
  RX_SETRANGE = 10,  // class member range: low end here, high end in the next instruction
  RX_WORD = 11,      // an ASCII letter, digit or '_'
  RX_NOTWORD = 12,   // any other character except the end
  RX_DIGIT = 13,     // '0'-'9'
  RX_NOTDIGIT = 14,  // any other character except the end
  RX_SPACE = 15,     // space, tab, newline, carriage return, vertical tab or form feed
  RX_NOTSPACE = 16,  // any other character except the end
  RX_BOUNDARY = 17,  // word status of the current and the previous character differ
  RX_ATSTART = 18,   // at the start of the subject
};

// Matching keeps state numbers in 16 bits, so a program never grows beyond this many
// instructions; a longer one is refused with "pattern too large".
constexpr int kRegexMaxInstr = 65535;
// Parentheses may nest this deep ("parentheses nested too deeply" beyond).
constexpr int kRegexMaxDepth = 1000;

struct RegexDfa;  // the memo of simulation steps, private to the matcher

struct RegexProgram {
  // The input being read: the pattern while compiling, the subject while matching.
  const unsigned char* zInput = nullptr;
  size_t iPos = 0;
  size_t nLen = 0;
  const char* zCompileErr = nullptr;  // static text
  RegexOp* aCode = nullptr;           // sqlite3_malloc'd, nInstrAlloc entries
  int* aOperand = nullptr;            // sqlite3_malloc'd, nInstrAlloc entries
  unsigned (*xReadChar)(RegexProgram*) = nullptr;
  unsigned char aPrefix[12] = {};  // literal bytes every match begins with (case-sensitive only)
  int nPrefix = 0;
  int nInstr = 0;
  int nInstrAlloc = 0;
  // Bytes that can begin a match after the leading any-run (case folding included).  While
  // that any-run is the only live state, the matcher skips every subject byte not in the
  // table.  bFirstByteSkip is false when no table applies: an anchored program, one that can
  // match without reading a character, or one whose table could not be built.
  bool aFirstByte[256] = {};
  bool bFirstByteSkip = false;
  // Literal bytes that every match contains (case-sensitive programs without a prefix only):
  // a subject that lacks them fails without running the program.  nNeeded 0 when none.
  unsigned char aNeeded[12] = {};
  int nNeeded = 0;
  // Matching scratch for programs too large for the stack, and for memoized matching: four
  // arrays of nInstr state numbers, allocated on first need and reused by later matches.
  uint16_t* aScratch = nullptr;
  // Matches run so far, and the memo of simulation steps that a program builds once it has
  // served a few subjects (see matchRegex).
  unsigned nMatches = 0;
  RegexDfa* pDfa = nullptr;

  RegexProgram() = default;
  RegexProgram(const RegexProgram&) = delete;
  RegexProgram& operator=(const RegexProgram&) = delete;
  ~RegexProgram();
};

struct RegexProgramDeleter {
  void operator()(RegexProgram* p) const { delete p; }
};
using RegexProgramPtr = std::unique_ptr<RegexProgram, RegexProgramDeleter>;

// Compiles zPattern.  On success returns null and stores the program in *pOut; otherwise
// returns the error text (static storage, e.g. "unmatched '('" or "out of memory") and leaves
// *pOut empty.  bNoCase folds ASCII letters of pattern and subject.
const char* compileRegex(std::string_view zPattern, bool bNoCase, RegexProgramPtr* pOut);

// How matchRegex runs the program: Auto simulates the first few subjects and from then on
// remembers the steps it takes (a bounded memo kept with the program, built once); Simulate
// and Memoize force one way (the answers are the same, the tests compare them).
enum class RegexMatchMode : unsigned char { Auto, Simulate, Memoize };

// Runs the program over zSubject (which ends at its first zero byte, if any): 1 when the
// pattern matches somewhere, 0 when not, -1 when memory for the match ran out.
int matchRegex(RegexProgram* p, std::string_view zSubject,
               RegexMatchMode eMode = RegexMatchMode::Auto);

// Decodes the UTF-8 character at *piPos of z (length n) and advances *piPos past it: 0 at the
// end, U+FFFD for a malformed or overlong sequence (which consumes only its first byte when
// malformed).  Exposed for tests.
unsigned regexDecodeUtf8(const unsigned char* z, size_t n, size_t* piPos);

// Registers regexp and regexpi (two arguments each) with db.  Returns SQLITE_OK or the first
// registration's failure.
int regexpRegister(sqlite3* db);
