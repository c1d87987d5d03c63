#include "ext/regexp/Regexp.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

namespace {

constexpr unsigned kStartMarker = 0xFFFFFFF;   // previous character at the subject's start
constexpr unsigned kPrefixMarker = 0xFFFFFFE;  // previous character after a skipped prefix
constexpr unsigned kReplacement = 0xFFFD;
constexpr int kInitialInstr = 30;
constexpr int kMaxPrefixWalk = 10;  // collect prefix bytes while fewer than this
constexpr int kLocalStates = 50;    // programs up to this size match without allocation
constexpr unsigned kRepeatClamp = 1000000;

constexpr char kErrOutOfMemory[] = "out of memory";
constexpr char kErrTooLarge[] = "pattern too large";
constexpr char kErrTooDeep[] = "parentheses nested too deeply";

inline bool isContinuation(unsigned char b) {
  return (b & 0xC0) == 0x80;
}

inline bool isWordChar(unsigned c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}
inline bool isDigitChar(unsigned c) {
  return c >= '0' && c <= '9';
}
inline bool isSpaceChar(unsigned c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}
inline unsigned foldAscii(unsigned c) {
  return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c;
}

inline unsigned decodeAt(const unsigned char* z, size_t n, size_t* piPos) {
  size_t i = *piPos;
  if (i >= n) return 0;
  unsigned c = z[i++];
  if (c < 0x80) {
    // itself
  } else if (c >= 0xC0 && c <= 0xDF && i < n && isContinuation(z[i])) {
    c = ((c & 0x1F) << 6) | (z[i++] & 0x3F);
    if (c < 0x80) c = kReplacement;
  } else if (c >= 0xE0 && c <= 0xEF && n - i >= 2 && isContinuation(z[i]) &&
             isContinuation(z[i + 1])) {
    c = ((c & 0x0F) << 12) | ((z[i] & 0x3F) << 6) | (z[i + 1] & 0x3F);
    i += 2;
    if (c <= 0x7FF || (c >= 0xD800 && c <= 0xDFFF)) c = kReplacement;
  } else if (c >= 0xF0 && c <= 0xF7 && n - i >= 3 && isContinuation(z[i]) &&
             isContinuation(z[i + 1]) && isContinuation(z[i + 2])) {
    c = ((c & 0x07) << 18) | ((z[i] & 0x3F) << 12) | ((z[i + 1] & 0x3F) << 6) | (z[i + 2] & 0x3F);
    i += 3;
    if (c < 0x10000 || c > 0x10FFFF) c = kReplacement;
  } else {
    c = kReplacement;
  }
  *piPos = i;
  return c;
}

unsigned readCharPlain(RegexProgram* p) {
  return decodeAt(p->zInput, p->nLen, &p->iPos);
}
unsigned readCharFolded(RegexProgram* p) {
  return foldAscii(decodeAt(p->zInput, p->nLen, &p->iPos));
}

// ---------------------------------------------------------------------------------------------
// Compiler

inline bool atEnd(const RegexProgram* p) {
  return p->iPos >= p->nLen;
}
inline int peekByte(const RegexProgram* p) {
  return atEnd(p) ? -1 : p->zInput[p->iPos];
}

void setError(RegexProgram* p, const char* zErr) {
  if (!p->zCompileErr) p->zCompileErr = zErr;
}

// Makes room for nMore further instructions; false (with the error set) when that fails.
bool reserve(RegexProgram* p, int nMore) {
  if (p->zCompileErr) return false;
  if (nMore > kRegexMaxInstr - p->nInstr) {
    setError(p, kErrTooLarge);
    return false;
  }
  int nNeed = p->nInstr + nMore;
  if (nNeed <= p->nInstrAlloc) return true;
  int nNew = std::min(std::max(nNeed, p->nInstrAlloc * 2), kRegexMaxInstr);
  auto* aCode = static_cast<RegexOp*>(sqlite3_realloc64(p->aCode, sizeof(RegexOp) * nNew));
  if (!aCode) {
    setError(p, kErrOutOfMemory);
    return false;
  }
  p->aCode = aCode;
  auto* aOperand = static_cast<int*>(sqlite3_realloc64(p->aOperand, sizeof(int) * nNew));
  if (!aOperand) {
    setError(p, kErrOutOfMemory);
    return false;
  }
  p->aOperand = aOperand;
  p->nInstrAlloc = nNew;
  return true;
}

// Appends an instruction; returns its index, or -1 on failure.
int emit(RegexProgram* p, RegexOp eOp, int iArg) {
  if (!reserve(p, 1)) return -1;
  p->aCode[p->nInstr] = eOp;
  p->aOperand[p->nInstr] = iArg;
  return p->nInstr++;
}

// Inserts an instruction before index iAt, shifting the rest up by one.
void insertAt(RegexProgram* p, int iAt, RegexOp eOp, int iArg) {
  if (!reserve(p, 1)) return;
  int nMove = p->nInstr - iAt;
  std::memmove(p->aCode + iAt + 1, p->aCode + iAt, sizeof(RegexOp) * nMove);
  std::memmove(p->aOperand + iAt + 1, p->aOperand + iAt, sizeof(int) * nMove);
  p->aCode[iAt] = eOp;
  p->aOperand[iAt] = iArg;
  p->nInstr++;
}

// Appends a copy of the nCopy instructions at iFrom (their relative targets stay valid).
void appendCopy(RegexProgram* p, int iFrom, int nCopy) {
  if (!reserve(p, nCopy)) return;
  std::memcpy(p->aCode + p->nInstr, p->aCode + iFrom, sizeof(RegexOp) * nCopy);
  std::memcpy(p->aOperand + p->nInstr, p->aOperand + iFrom, sizeof(int) * nCopy);
  p->nInstr += nCopy;
}

int hexValue(unsigned char b) {
  if (b >= '0' && b <= '9') return b - '0';
  if (b >= 'a' && b <= 'f') return b - 'a' + 10;
  if (b >= 'A' && b <= 'F') return b - 'A' + 10;
  return -1;
}

// Reads nDigits hexadecimal digits at the read position without consuming them; -1 when they
// are not all there.
int peekHex(const RegexProgram* p, size_t iAt, int nDigits) {
  if (p->nLen - iAt < static_cast<size_t>(nDigits)) return -1;
  int v = 0;
  for (int k = 0; k < nDigits; k++) {
    int h = hexValue(p->zInput[iAt + k]);
    if (h < 0) return -1;
    v = v * 16 + h;
  }
  return v;
}

// The character after a backslash (read as a raw byte); 0 at the end of the pattern.
unsigned readEscape(RegexProgram* p) {
  if (atEnd(p)) return 0;
  unsigned char b = p->zInput[p->iPos];
  unsigned c = 0;
  int v;
  if (b == 'u' && (v = peekHex(p, p->iPos + 1, 4)) >= 0) {
    p->iPos += 5;
    c = static_cast<unsigned>(v);
  } else if (b == 'x' && (v = peekHex(p, p->iPos + 1, 2)) >= 0) {
    p->iPos += 3;
    c = static_cast<unsigned>(v);
  } else {
    static constexpr char kEscapable[] = "afnrtv\\()*.+?[$^{|}]";
    static constexpr char kControls[] = "\a\f\n\r\t\v";
    const char* zHit = b ? std::strchr(kEscapable, b) : nullptr;
    if (!zHit) {
      setError(p, "unknown \\ escape");
      return 0;
    }
    p->iPos++;
    auto iHit = zHit - kEscapable;
    c = iHit < 6 ? static_cast<unsigned char>(kControls[iHit]) : b;
  }
  // A case-insensitive pattern folds what it reads; escaped letters are no exception.
  return p->xReadChar == readCharFolded ? foldAscii(c) : c;
}

// A class member: a character, or a backslash and an escaped character.
unsigned readClassChar(RegexProgram* p) {
  unsigned c = p->xReadChar(p);
  if (c == '\\') c = readEscape(p);
  return c;
}

void compileClass(RegexProgram* p) {
  int iSet = emit(p, RegexOp::RX_SET, 0);
  if (iSet < 0) return;
  if (peekByte(p) == '^') {
    p->iPos++;
    p->aCode[iSet] = RegexOp::RX_NOTSET;
  }
  for (;;) {
    if (atEnd(p)) {
      setError(p, "unclosed '['");
      return;
    }
    unsigned c = p->xReadChar(p);
    if (c == '[' && peekByte(p) == ':') {
      setError(p, "POSIX character classes not supported");
      return;
    }
    if (c == '\\') c = readEscape(p);
    if (p->zCompileErr) return;
    if (peekByte(p) == '-') {
      emit(p, RegexOp::RX_SETRANGE, static_cast<int>(c));
      p->iPos++;
      unsigned cHigh = readClassChar(p);
      emit(p, RegexOp::RX_SETRANGE, static_cast<int>(cHigh));
    } else {
      emit(p, RegexOp::RX_SETCHAR, static_cast<int>(c));
    }
    if (p->zCompileErr) return;
    if (peekByte(p) == ']') {
      p->iPos++;
      break;
    }
  }
  p->aOperand[iSet] = p->nInstr - iSet;
}

// Reads decimal digits (possibly none, giving 0), saturating far above any usable count.
unsigned readCount(RegexProgram* p) {
  unsigned v = 0;
  while (!atEnd(p) && isDigitChar(p->zInput[p->iPos])) {
    v = std::min(v * 10 + (p->zInput[p->iPos] - '0'), kRepeatClamp);
    p->iPos++;
  }
  return v;
}

// '{m,n}' after the item that starts at iItem (the '{' already read).
void compileRepeat(RegexProgram* p, int iItem) {
  if (iItem < 0) {
    setError(p, "'{m,n}' without operand");
    return;
  }
  unsigned m = readCount(p);
  unsigned n = m;
  if (peekByte(p) == ',') {
    p->iPos++;
    n = readCount(p);
  }
  if (peekByte(p) != '}') {
    setError(p, "unmatched '{'");
    return;
  }
  p->iPos++;
  if (n > 0 && n < m) {
    setError(p, "n less than m in '{m,n}'");
    return;
  }
  if (m == 0 && n == 0) {
    setError(p, "both m and n are zero in '{m,n}'");
    return;
  }
  int nItem = p->nInstr - iItem;
  if (nItem == 0) return;  // an empty group repeated is still empty
  if (m == 0) {
    insertAt(p, iItem, RegexOp::RX_SPLIT, nItem + 1);
    iItem++;
    n--;
  } else {
    for (unsigned k = 1; k < m && !p->zCompileErr; k++) appendCopy(p, iItem, nItem);
  }
  for (unsigned k = m; k < n && !p->zCompileErr; k++) {
    emit(p, RegexOp::RX_SPLIT, nItem + 1);
    appendCopy(p, iItem, nItem);
  }
  if (n == 0 && m > 0) emit(p, RegexOp::RX_SPLIT, -nItem);
}

bool compileAlternation(RegexProgram* p, int iDepth);

void compileSequence(RegexProgram* p, int iDepth) {
  int iPrev = -1;  // start of the item a quantifier applies to
  while (!atEnd(p) && !p->zCompileErr) {
    int iStart = p->nInstr;
    size_t iBefore = p->iPos;
    bool bQuantifier = false;
    unsigned c = p->xReadChar(p);
    switch (c) {
      case '(':
        if (iDepth >= kRegexMaxDepth) {
          setError(p, kErrTooDeep);
          return;
        }
        compileAlternation(p, iDepth + 1);
        if (p->zCompileErr) return;
        if (peekByte(p) != ')') {
          setError(p, "unmatched '('");
          return;
        }
        p->iPos++;
        break;
      case ')':
      case '|':
        p->iPos = iBefore;
        return;
      case '.':
        if (peekByte(p) == '*') {
          p->iPos++;
          emit(p, RegexOp::RX_ANYSTAR, 0);
        } else {
          emit(p, RegexOp::RX_ANY, 0);
        }
        break;
      case '*': {
        if (iPrev < 0) {
          setError(p, "'*' without operand");
          return;
        }
        int nItem = p->nInstr - iPrev;
        insertAt(p, iPrev, RegexOp::RX_JUMP, nItem + 1);
        emit(p, RegexOp::RX_SPLIT, -nItem);
        bQuantifier = true;
        break;
      }
      case '+':
        if (iPrev < 0) {
          setError(p, "'+' without operand");
          return;
        }
        emit(p, RegexOp::RX_SPLIT, iPrev - p->nInstr);
        bQuantifier = true;
        break;
      case '?':
        if (iPrev < 0) {
          setError(p, "'?' without operand");
          return;
        }
        insertAt(p, iPrev, RegexOp::RX_SPLIT, p->nInstr - iPrev + 1);
        bQuantifier = true;
        break;
      case '{':
        compileRepeat(p, iPrev);
        bQuantifier = true;
        break;
      case '[':
        compileClass(p);
        break;
      case '^':
        emit(p, RegexOp::RX_ATSTART, 0);
        break;
      case '$':
        emit(p, RegexOp::RX_CHAR, 0);
        break;
      case '\\': {
        RegexOp eOp = RegexOp::RX_CHAR;
        switch (peekByte(p)) {
          case 'b':
            eOp = RegexOp::RX_BOUNDARY;
            break;
          case 'd':
            eOp = RegexOp::RX_DIGIT;
            break;
          case 'D':
            eOp = RegexOp::RX_NOTDIGIT;
            break;
          case 's':
            eOp = RegexOp::RX_SPACE;
            break;
          case 'S':
            eOp = RegexOp::RX_NOTSPACE;
            break;
          case 'w':
            eOp = RegexOp::RX_WORD;
            break;
          case 'W':
            eOp = RegexOp::RX_NOTWORD;
            break;
          default:
            break;
        }
        if (eOp != RegexOp::RX_CHAR) {
          p->iPos++;
          emit(p, eOp, 0);
        } else {
          unsigned cEsc = readEscape(p);
          emit(p, RegexOp::RX_CHAR, static_cast<int>(cEsc));
        }
        break;
      }
      default:
        emit(p, RegexOp::RX_CHAR, static_cast<int>(c));
        break;
    }
    // A quantifier leaves the quantified item (now with its jumps) as the previous item, so a
    // second quantifier applies to all of it rather than to a slice of its instructions.
    if (!bQuantifier) iPrev = iStart;
  }
}

// Returns true when there was more than one branch.
bool compileAlternation(RegexProgram* p, int iDepth) {
  int iStart = p->nInstr;
  bool bBranches = false;
  compileSequence(p, iDepth);
  while (!p->zCompileErr && peekByte(p) == '|') {
    bBranches = true;
    int iEnd = p->nInstr;
    insertAt(p, iStart, RegexOp::RX_SPLIT, iEnd + 2 - iStart);
    int iJump = emit(p, RegexOp::RX_JUMP, 0);
    if (iJump < 0) return bBranches;
    p->iPos++;
    compileSequence(p, iDepth);
    p->aOperand[iJump] = p->nInstr - iJump;
  }
  return bBranches;
}

// Literal bytes that every match must begin with: the characters right after a leading
// RX_ANYSTAR.  The end marker, U+FFFD (which also stands for malformed subject bytes) and
// characters beyond the basic plane end the walk.
void collectPrefix(RegexProgram* p) {
  p->nPrefix = 0;
  if (p->xReadChar != readCharPlain || p->nInstr == 0 || p->aCode[0] != RegexOp::RX_ANYSTAR) return;
  for (int i = 1; i < p->nInstr && p->aCode[i] == RegexOp::RX_CHAR && p->nPrefix < kMaxPrefixWalk;
       i++) {
    auto c = static_cast<unsigned>(p->aOperand[i]);
    unsigned char* z = p->aPrefix + p->nPrefix;
    if (c == 0 || c == kReplacement || c > 0xFFFF) break;
    if (c <= 0x7F) {
      z[0] = static_cast<unsigned char>(c);
      p->nPrefix += 1;
    } else if (c <= 0x7FF) {
      z[0] = static_cast<unsigned char>(0xC0 | (c >> 6));
      z[1] = static_cast<unsigned char>(0x80 | (c & 0x3F));
      p->nPrefix += 2;
    } else {
      z[0] = static_cast<unsigned char>(0xE0 | (c >> 12));
      z[1] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
      z[2] = static_cast<unsigned char>(0x80 | (c & 0x3F));
      p->nPrefix += 3;
    }
  }
}

// Whether the class instruction at x (RX_SET or RX_NOTSET) accepts the character c (not the end).
inline bool classHolds(const RegexOp* aCode, const int* aOperand, unsigned x, unsigned c) {
  auto nSet = static_cast<unsigned>(aOperand[x]);
  bool bHit = false;
  for (unsigned j = 1; j < nSet && !bHit; j++) {
    auto v = static_cast<unsigned>(aOperand[x + j]);
    if (aCode[x + j] == RegexOp::RX_SETCHAR) {
      bHit = (c == v);
    } else {
      bHit = (v <= c && c <= static_cast<unsigned>(aOperand[x + j + 1]));
      j++;
    }
  }
  return bHit != (aCode[x] == RegexOp::RX_NOTSET);
}

// Whether the character-reading instruction at x accepts the character c (not the end).
bool readerHolds(const RegexProgram* p, unsigned x, unsigned c) {
  switch (p->aCode[x]) {
    case RegexOp::RX_CHAR:
      return static_cast<unsigned>(p->aOperand[x]) == c;
    case RegexOp::RX_ANY:
    case RegexOp::RX_ANYSTAR:
      return true;
    case RegexOp::RX_WORD:
      return isWordChar(c);
    case RegexOp::RX_NOTWORD:
      return !isWordChar(c);
    case RegexOp::RX_DIGIT:
      return isDigitChar(c);
    case RegexOp::RX_NOTDIGIT:
      return !isDigitChar(c);
    case RegexOp::RX_SPACE:
      return isSpaceChar(c);
    case RegexOp::RX_NOTSPACE:
      return !isSpaceChar(c);
    case RegexOp::RX_SET:
    case RegexOp::RX_NOTSET:
      return classHolds(p->aCode, p->aOperand, x, c);
    default:
      return false;
  }
}

// Marks in aByte the first bytes of the subject characters that the reading instruction at x
// accepts.  ASCII bytes are tried one by one (folded as the matcher folds them).  A character
// from 0x80 up starts with a byte from 0x80 up: a valid character only with its own lead byte
// (overlong forms decode to U+FFFD), anything else, U+FFFD included, with any of them.  So the
// bytes from 0x80 up are marked either as exact lead bytes or all together, never as lone
// continuation bytes: a scan that stops at a marked byte stops where a character begins.
void markFirstBytes(const RegexProgram* p, unsigned x, bool* aByte) {
  bool bFold = p->xReadChar == readCharFolded;
  if (p->aCode[x] == RegexOp::RX_CHAR) {
    // The common case at once: the byte itself, and its capital when folding.
    auto c = static_cast<unsigned>(p->aOperand[x]);
    if (c < 0x80) {
      if (!bFold || foldAscii(c) == c) aByte[c] = true;
      if (bFold && c >= 'a' && c <= 'z') aByte[c - ('a' - 'A')] = true;
    }
  } else {
    for (unsigned b = 1; b < 0x80; b++) {
      if (readerHolds(p, x, bFold ? foldAscii(b) : b)) aByte[b] = true;
    }
  }
  bool bAllHigh = false;
  switch (p->aCode[x]) {
    case RegexOp::RX_CHAR: {
      auto c = static_cast<unsigned>(p->aOperand[x]);
      if (c < 0x80) break;
      if (c == kReplacement || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        bAllHigh = true;
      } else if (c < 0x800) {
        aByte[0xC0 | (c >> 6)] = true;
      } else if (c < 0x10000) {
        aByte[0xE0 | (c >> 12)] = true;
      } else {
        aByte[0xF0 | (c >> 18)] = true;
      }
      break;
    }
    case RegexOp::RX_SET: {
      auto nSet = static_cast<unsigned>(p->aOperand[x]);
      for (unsigned j = 1; j < nSet; j++) {
        // A member or the high end of a range from 0x80 up: any non-ASCII character may do.
        if (static_cast<unsigned>(p->aOperand[x + j]) >= 0x80) bAllHigh = true;
      }
      break;
    }
    case RegexOp::RX_ANY:
    case RegexOp::RX_ANYSTAR:
    case RegexOp::RX_NOTWORD:
    case RegexOp::RX_NOTDIGIT:
    case RegexOp::RX_NOTSPACE:
    case RegexOp::RX_NOTSET:
      bAllHigh = true;
      break;
    default:
      break;
  }
  if (bAllHigh) std::fill(aByte + 0x80, aByte + 0x100, true);
}

struct FreeDeleter {
  void operator()(void* p) const { sqlite3_free(p); }
};

// The bytes that can begin a match after the leading RX_ANYSTAR: the reading instructions
// reachable from instruction 1 without reading a character.  Zero-width tests on the way
// (word boundary, start of subject) are passed as if they held, which only adds bytes; '$'
// holds at the end alone, which the matcher always visits.  Reaching RX_ACCEPT that way
// means a match may begin anywhere: no table then.
void collectFirstBytes(RegexProgram* p) {
  p->bFirstByteSkip = false;
  std::fill(std::begin(p->aFirstByte), std::end(p->aFirstByte), false);
  if (p->nInstr < 2 || p->aCode[0] != RegexOp::RX_ANYSTAR) return;
  auto nInstr = static_cast<size_t>(p->nInstr);
  // A work list and a visited mark per instruction; every instruction enters the list once.
  // Small programs keep them on the stack.
  constexpr size_t kLocalWork = 64;
  std::array<int, kLocalWork + kLocalWork / sizeof(int)> aLocal;
  std::unique_ptr<int, FreeDeleter> aWork;
  int* aStack = aLocal.data();
  if (nInstr > kLocalWork) {
    aWork.reset(static_cast<int*>(sqlite3_malloc64(sizeof(int) * nInstr + nInstr)));
    if (!aWork) return;  // only a shortcut is lost
    aStack = aWork.get();
  }
  auto* aSeen = reinterpret_cast<unsigned char*>(aStack + nInstr);
  std::memset(aSeen, 0, nInstr);
  size_t nStack = 0;
  auto push = [&](int x) {
    if (x >= 0 && static_cast<size_t>(x) < nInstr && !aSeen[x]) {
      aSeen[x] = 1;
      aStack[nStack++] = x;
    }
  };
  push(1);
  while (nStack > 0) {
    int x = aStack[--nStack];
    switch (p->aCode[x]) {
      case RegexOp::RX_ACCEPT:
        std::fill(std::begin(p->aFirstByte), std::end(p->aFirstByte), false);
        return;
      case RegexOp::RX_SPLIT:
        push(x + 1);
        push(x + p->aOperand[x]);
        break;
      case RegexOp::RX_JUMP:
        push(x + p->aOperand[x]);
        break;
      case RegexOp::RX_BOUNDARY:
      case RegexOp::RX_ATSTART:
        push(x + 1);
        break;
      case RegexOp::RX_ANYSTAR:
        markFirstBytes(p, static_cast<unsigned>(x), p->aFirstByte);
        push(x + 1);
        break;
      case RegexOp::RX_CHAR:
        if (p->aOperand[x] != 0) markFirstBytes(p, static_cast<unsigned>(x), p->aFirstByte);
        break;
      case RegexOp::RX_SETCHAR:
      case RegexOp::RX_SETRANGE:
        break;  // never reached but through their class
      default:
        markFirstBytes(p, static_cast<unsigned>(x), p->aFirstByte);
        break;
    }
  }
  // A table that holds every byte would only cost a look-up per character.
  p->bFirstByteSkip = std::find(std::begin(p->aFirstByte) + 1, std::end(p->aFirstByte), false) !=
                      std::end(p->aFirstByte);
}

// Literal bytes that every match contains.  Control moves only to the next instruction or
// along RX_SPLIT / RX_JUMP (class members are skipped by their class), and every path runs
// from instruction 0 to RX_ACCEPT, the last one.  So a path that is before a run of RX_CHAR
// instructions can get past its first instruction only through it, unless a jump from
// before the run lands beyond that first instruction; and once in the run it reads the run
// to its end.  The run from the furthest such landing place on is therefore read whole by
// every match (a jump back into the run from after it comes too late to matter).  The
// longest of these, cut to the room in aNeeded, is kept.  Only for case-sensitive
// programs, and only when no prefix already gives the same check.
void collectNeeded(RegexProgram* p) {
  p->nNeeded = 0;
  if (p->xReadChar != readCharPlain || p->nPrefix > 0) return;
  auto isLiteral = [p](int x) {
    if (p->aCode[x] != RegexOp::RX_CHAR) return false;
    auto c = static_cast<unsigned>(p->aOperand[x]);
    return c != 0 && c != kReplacement && c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF);
  };
  int iFurthest = 0;  // the furthest target of forward jumps from before the position
  int x = 0;
  while (x < p->nInstr) {
    if (!isLiteral(x)) {
      if (p->aCode[x] == RegexOp::RX_SPLIT || p->aCode[x] == RegexOp::RX_JUMP) {
        iFurthest = std::max(iFurthest, x + p->aOperand[x]);
      }
      x++;
      continue;
    }
    int iEnd = x + 1;
    while (iEnd < p->nInstr && isLiteral(iEnd)) iEnd++;
    unsigned char aRun[sizeof(p->aNeeded)];
    int nRun = 0;
    for (int k = std::max(x, iFurthest); k < iEnd; k++) {
      auto c = static_cast<unsigned>(p->aOperand[k]);
      unsigned char aEnc[4];
      int nEnc;
      if (c < 0x80) {
        aEnc[0] = static_cast<unsigned char>(c);
        nEnc = 1;
      } else if (c < 0x800) {
        aEnc[0] = static_cast<unsigned char>(0xC0 | (c >> 6));
        aEnc[1] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        nEnc = 2;
      } else if (c < 0x10000) {
        aEnc[0] = static_cast<unsigned char>(0xE0 | (c >> 12));
        aEnc[1] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
        aEnc[2] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        nEnc = 3;
      } else {
        aEnc[0] = static_cast<unsigned char>(0xF0 | (c >> 18));
        aEnc[1] = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
        aEnc[2] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
        aEnc[3] = static_cast<unsigned char>(0x80 | (c & 0x3F));
        nEnc = 4;
      }
      if (nRun + nEnc > static_cast<int>(sizeof(aRun))) break;
      std::memcpy(aRun + nRun, aEnc, nEnc);
      nRun += nEnc;
    }
    if (nRun > p->nNeeded) {
      std::memcpy(p->aNeeded, aRun, nRun);
      p->nNeeded = nRun;
    }
    x = iEnd;
  }
}

// ---------------------------------------------------------------------------------------------
// Matcher

// A set of state numbers with constant-time insertion, membership and clearing: aState lists
// the members in insertion order, aIndex[x] is x's place in aState when x is a member (any
// initialized value otherwise).
struct StateSet {
  uint16_t* aState;
  uint16_t* aIndex;
  unsigned nState;

  void clear() { nState = 0; }
  void add(unsigned x) {
    unsigned k = aIndex[x];
    if (k < nState && aState[k] == x) return;
    aIndex[x] = static_cast<uint16_t>(nState);
    aState[nState++] = static_cast<uint16_t>(x);
  }
};

// One step of the simulation: pCur holds the states waiting for the character c (cPrev the
// character before it); states added to pCur while it is processed join the same pass, and
// the states waiting for the following character collect in pNext (emptied by the caller).
// Returns true when RX_ACCEPT is reached.
inline bool stepStates(const RegexOp* aCode, const int* aOperand, StateSet* pCur, StateSet* pNext,
                       unsigned cPrev, unsigned c) {
  for (unsigned k = 0; k < pCur->nState; k++) {
    unsigned x = pCur->aState[k];
    switch (aCode[x]) {
      case RegexOp::RX_CHAR:
        if (static_cast<unsigned>(aOperand[x]) == c) {
          // The end is not a character: '$' holds there without consuming anything, so
          // whatever follows it is tried at the same place.
          (c == 0 ? pCur : pNext)->add(x + 1);
        }
        break;
      case RegexOp::RX_ATSTART:
        if (cPrev == kStartMarker) pCur->add(x + 1);
        break;
      case RegexOp::RX_ANY:
        if (c != 0) pNext->add(x + 1);
        break;
      case RegexOp::RX_WORD:
        if (isWordChar(c)) pNext->add(x + 1);
        break;
      case RegexOp::RX_NOTWORD:
        if (c != 0 && !isWordChar(c)) pNext->add(x + 1);
        break;
      case RegexOp::RX_DIGIT:
        if (isDigitChar(c)) pNext->add(x + 1);
        break;
      case RegexOp::RX_NOTDIGIT:
        if (c != 0 && !isDigitChar(c)) pNext->add(x + 1);
        break;
      case RegexOp::RX_SPACE:
        if (isSpaceChar(c)) pNext->add(x + 1);
        break;
      case RegexOp::RX_NOTSPACE:
        if (c != 0 && !isSpaceChar(c)) pNext->add(x + 1);
        break;
      case RegexOp::RX_BOUNDARY:
        if (isWordChar(c) != isWordChar(cPrev)) pCur->add(x + 1);
        break;
      case RegexOp::RX_ANYSTAR:
        pNext->add(x);
        pCur->add(x + 1);
        break;
      case RegexOp::RX_SPLIT:
        pCur->add(x + aOperand[x]);
        pCur->add(x + 1);
        break;
      case RegexOp::RX_JUMP:
        pCur->add(x + aOperand[x]);
        break;
      case RegexOp::RX_ACCEPT:
        return true;
      case RegexOp::RX_SET:
      case RegexOp::RX_NOTSET:
        // The end is in no class, nor in a negated one.
        if (c != 0 && classHolds(aCode, aOperand, x, c)) pNext->add(x + aOperand[x]);
        break;
      case RegexOp::RX_SETCHAR:
      case RegexOp::RX_SETRANGE:
        break;  // only read through their class
    }
  }
  return false;
}

// Reads the character at *piPos (folded when bFold), with ASCII bytes taken directly.
template <bool bFold>
inline unsigned nextChar(const unsigned char* z, size_t n, size_t* piPos) {
  unsigned c;
  if (*piPos < n && z[*piPos] < 0x80) {
    c = z[(*piPos)++];
  } else {
    c = decodeAt(z, n, piPos);
  }
  if constexpr (bFold) c = foldAscii(c);
  return c;
}

// The simulation, a step per character.
template <bool bFold>
int runProgram(const RegexProgram* p, const unsigned char* z, size_t n, size_t iPos,
               unsigned cPrevStart, StateSet* pCur, StateSet* pNext) {
  const bool* aFirstByte = p->bFirstByteSkip ? p->aFirstByte : nullptr;
  unsigned c = cPrevStart;
  unsigned cPrev;
  pNext->clear();
  pNext->add(0);
  while (c != 0 && pNext->nState > 0) {
    if (aFirstByte && pNext->nState == 1) {
      // Only the leading any-run is alive (it is always state 0 and always survives): no
      // match can begin before the next byte of the table.  The end is always visited.
      size_t i = iPos;
      while (i < n && !aFirstByte[z[i]]) i++;
      if (i != iPos) {
        iPos = i;
        // The skipped character before the new position: an ASCII byte is a character of
        // its own; any other byte ends a non-ASCII character, which is no word character.
        c = z[i - 1] < 0x80 ? z[i - 1] : kReplacement;
      }
    }
    cPrev = c;
    c = nextChar<bFold>(z, n, &iPos);
    std::swap(pCur, pNext);
    pNext->clear();
    if (stepStates(p->aCode, p->aOperand, pCur, pNext, cPrev, c)) return 1;
  }
  return 0;
}

// ---------------------------------------------------------------------------------------------
// Memoized steps
//
// A program that serves many subjects remembers its steps: a cached state is the list of
// program states waiting for the next character together with what the step needs to know
// of the character before it (start of the subject, a word character, anything else), and
// for each ASCII byte it records the cached state the step leads to (or that it accepts, or
// that nothing is left alive).  A step not yet recorded, and every non-ASCII character, is
// simulated as above.  The cache is bounded and starts afresh when full, so a subject never
// costs more than the plain simulation plus a look-up per character.
//
// States 0, 1 and 2 are always the leading any-run alone (state 0 of the program) after the
// start, a word character and any other character: where a match may begin next, and the
// only states from which the first-byte table lets the matcher skip.  A recorded transition
// holds the target state's index times 128, the start of its row of transitions.

constexpr unsigned kDfaAfterMatches = 8;  // matches a program runs before it builds the cache
constexpr int kDfaMaxInstr = 256;         // larger programs are always simulated
constexpr int kDfaMaxStates = 128;
constexpr int kDfaBuckets = 512;  // hash buckets, a power of two
constexpr int kDfaRow = 128;      // transitions per state: one per ASCII byte
constexpr int32_t kTransUnknown = -1;
constexpr int32_t kTransAccept = -2;
constexpr int32_t kTransDead = -3;

enum class PrevKind : unsigned char { Start = 0, Word = 1, Other = 2 };
constexpr int kIdleStates = 3;  // one per kind
// A character standing for each kind: all a step asks of the previous character is whether
// it is the start marker and whether it is a word character.
constexpr unsigned kPrevStandIn[kIdleStates] = {kStartMarker, 'a', kPrefixMarker};

inline PrevKind kindOf(unsigned c) {
  return isWordChar(c) ? PrevKind::Word : PrevKind::Other;
}

}  // namespace

struct RegexDfa {
  int32_t* aTrans;      // kDfaMaxStates rows of kDfaRow transitions
  int32_t* aHashNext;   // next state in the same bucket, or -1
  int32_t* aHashHead;   // first state of each bucket, or -1
  uint16_t* aSets;      // kDfaMaxStates x nStride program states
  uint16_t* aSetLen;    // program states of each state
  PrevKind* aPrev;      // the previous character's kind of each state
  signed char* aAtEnd;  // the outcome at the end of the subject: 1, 0, or -1 not yet known
  int nStride;
  int nState;
};

namespace {

void freeDfa(RegexDfa* d) {
  sqlite3_free(d);
}

uint32_t hashState(const uint16_t* aSet, unsigned nSet, PrevKind ePrev) {
  uint32_t h = 2166136261u ^ static_cast<uint32_t>(ePrev);
  for (unsigned k = 0; k < nSet; k++) h = (h ^ aSet[k]) * 16777619u;
  return h & (kDfaBuckets - 1);
}

int addState(RegexDfa* d, const uint16_t* aSet, unsigned nSet, PrevKind ePrev, uint32_t h) {
  int s = d->nState++;
  std::memcpy(d->aSets + static_cast<size_t>(s) * d->nStride, aSet, sizeof(uint16_t) * nSet);
  d->aSetLen[s] = static_cast<uint16_t>(nSet);
  d->aPrev[s] = ePrev;
  d->aAtEnd[s] = -1;
  std::fill(d->aTrans + static_cast<size_t>(s) * kDfaRow,
            d->aTrans + static_cast<size_t>(s + 1) * kDfaRow, kTransUnknown);
  d->aHashNext[s] = d->aHashHead[h];
  d->aHashHead[h] = s;
  return s;
}

// Empties the cache but for the three idle states.
void resetDfa(RegexDfa* d) {
  d->nState = 0;
  std::fill(d->aHashHead, d->aHashHead + kDfaBuckets, -1);
  constexpr uint16_t aIdle[1] = {0};
  for (int k = 0; k < kIdleStates; k++) {
    auto ePrev = static_cast<PrevKind>(k);
    addState(d, aIdle, 1, ePrev, hashState(aIdle, 1, ePrev));
  }
}

// One allocation holding the header and every array; null when memory is short.
RegexDfa* allocDfa(int nInstr) {
  auto nStates = static_cast<size_t>(kDfaMaxStates);
  size_t nBytes = sizeof(RegexDfa) + sizeof(int32_t) * (nStates * kDfaRow + nStates + kDfaBuckets) +
                  sizeof(uint16_t) * (nStates * nInstr + nStates) + 2 * nStates;
  auto* zBlock = static_cast<unsigned char*>(sqlite3_malloc64(nBytes));
  if (!zBlock) return nullptr;
  auto* d = reinterpret_cast<RegexDfa*>(zBlock);
  unsigned char* zAt = zBlock + sizeof(RegexDfa);
  auto take = [&zAt](size_t nTake) {
    unsigned char* z = zAt;
    zAt += nTake;
    return z;
  };
  d->aTrans = reinterpret_cast<int32_t*>(take(sizeof(int32_t) * nStates * kDfaRow));
  d->aHashNext = reinterpret_cast<int32_t*>(take(sizeof(int32_t) * nStates));
  d->aHashHead = reinterpret_cast<int32_t*>(take(sizeof(int32_t) * kDfaBuckets));
  d->aSets = reinterpret_cast<uint16_t*>(take(sizeof(uint16_t) * nStates * nInstr));
  d->aSetLen = reinterpret_cast<uint16_t*>(take(sizeof(uint16_t) * nStates));
  d->aPrev = reinterpret_cast<PrevKind*>(take(nStates));
  d->aAtEnd = reinterpret_cast<signed char*>(take(nStates));
  d->nStride = nInstr;
  resetDfa(d);
  return d;
}

// The cached state for the program states of pSet and the previous character's kind, added
// when new.  *pbReset is set when the cache had to start afresh (earlier indexes are void).
int findOrAddState(RegexDfa* d, const StateSet* pSet, PrevKind ePrev, bool* pbReset) {
  uint32_t h = hashState(pSet->aState, pSet->nState, ePrev);
  for (int32_t s = d->aHashHead[h]; s >= 0; s = d->aHashNext[s]) {
    if (d->aPrev[s] == ePrev && d->aSetLen[s] == pSet->nState &&
        std::memcmp(d->aSets + static_cast<size_t>(s) * d->nStride, pSet->aState,
                    sizeof(uint16_t) * pSet->nState) == 0) {
      return s;
    }
  }
  if (d->nState == kDfaMaxStates) {
    resetDfa(d);
    *pbReset = true;
  }
  return addState(d, pSet->aState, pSet->nState, ePrev, h);
}

// Simulates one step from cached state s over the character c; the result is left in pNext.
inline bool stepFromState(const RegexProgram* p, const RegexDfa* d, int s, unsigned c,
                          StateSet* pCur, StateSet* pNext) {
  pCur->clear();
  const uint16_t* aSet = d->aSets + static_cast<size_t>(s) * d->nStride;
  for (unsigned k = 0; k < d->aSetLen[s]; k++) pCur->add(aSet[k]);
  pNext->clear();
  return stepStates(p->aCode, p->aOperand, pCur, pNext, kPrevStandIn[static_cast<int>(d->aPrev[s])],
                    c);
}

template <bool bFold>
int runMemoized(const RegexProgram* p, const unsigned char* z, size_t n, size_t iPos,
                unsigned cPrevStart, StateSet* pCur, StateSet* pNext) {
  RegexDfa* d = p->pDfa;
  const int32_t* aTrans = d->aTrans;
  const bool* aFirstByte = p->bFirstByteSkip ? p->aFirstByte : nullptr;
  // The current state as the start of its row (state index times kDfaRow).
  int32_t iRow =
      static_cast<int32_t>(cPrevStart == kStartMarker ? PrevKind::Start : PrevKind::Other) *
      kDfaRow;
  for (;;) {
    if (aFirstByte && iRow < kIdleStates * kDfaRow) {
      size_t i = iPos;
      while (i < n && !aFirstByte[z[i]]) i++;
      if (i != iPos) {
        iPos = i;
        // As in the simulation: the kind of the skipped character before the new position.
        PrevKind ePrev = z[i - 1] < 0x80 ? kindOf(z[i - 1]) : PrevKind::Other;
        iRow = static_cast<int32_t>(ePrev) * kDfaRow;
      }
    }
    if (iPos >= n) break;
    unsigned b = z[iPos];
    if (b < 0x80) {
      int32_t t = aTrans[iRow + b];
      iPos++;
      if (t >= 0) {
        iRow = t;
        continue;
      }
      if (t == kTransAccept) return 1;
      if (t == kTransDead) return 0;
      int s = iRow / kDfaRow;
      unsigned c = bFold ? foldAscii(b) : b;
      if (stepFromState(p, d, s, c, pCur, pNext)) {
        d->aTrans[iRow + b] = kTransAccept;
        return 1;
      }
      if (pNext->nState == 0) {
        d->aTrans[iRow + b] = kTransDead;
        return 0;
      }
      bool bReset = false;
      t = findOrAddState(d, pNext, kindOf(c), &bReset) * kDfaRow;
      if (!bReset) d->aTrans[iRow + b] = t;
      iRow = t;
    } else {
      unsigned c = decodeAt(z, n, &iPos);  // never an ASCII letter: nothing to fold
      if (stepFromState(p, d, iRow / kDfaRow, c, pCur, pNext)) return 1;
      if (pNext->nState == 0) return 0;
      bool bReset = false;
      iRow = findOrAddState(d, pNext, PrevKind::Other, &bReset) * kDfaRow;
    }
  }
  // The end of the subject.
  int s = iRow / kDfaRow;
  if (d->aAtEnd[s] < 0) d->aAtEnd[s] = stepFromState(p, d, s, 0, pCur, pNext) ? 1 : 0;
  return d->aAtEnd[s];
}

// Room for the matcher's two state sets kept with the program: four arrays of nInstr state
// numbers, allocated and zeroed on first use (afterwards every entry stays an initialized
// value, which is all the membership test needs).  Null when memory is short.
uint16_t* programScratch(RegexProgram* p) {
  if (!p->aScratch) {
    auto nBytes = sizeof(uint16_t) * 4 * static_cast<size_t>(p->nInstr);
    p->aScratch = static_cast<uint16_t*>(sqlite3_malloc64(nBytes));
    if (p->aScratch) std::memset(p->aScratch, 0, nBytes);
  }
  return p->aScratch;
}

}  // namespace

RegexProgram::~RegexProgram() {
  freeDfa(pDfa);
  sqlite3_free(aCode);
  sqlite3_free(aOperand);
  sqlite3_free(aScratch);
}

unsigned regexDecodeUtf8(const unsigned char* z, size_t n, size_t* piPos) {
  return decodeAt(z, n, piPos);
}

const char* compileRegex(std::string_view zPattern, bool bNoCase, RegexProgramPtr* pOut) {
  pOut->reset();
  RegexProgramPtr p(new (std::nothrow) RegexProgram());
  if (!p) return kErrOutOfMemory;
  if (!reserve(p.get(), kInitialInstr)) return p->zCompileErr;
  p->xReadChar = bNoCase ? readCharFolded : readCharPlain;
  p->zInput = reinterpret_cast<const unsigned char*>(zPattern.data());
  p->nLen = zPattern.size();
  p->iPos = 0;
  // A leading '^' anchors the program: no RX_ANYSTAR in front.  It binds to the first branch
  // only, though, so when the pattern has several top-level branches it is compiled again
  // unanchored, the '^' becoming an RX_ATSTART of its branch.
  bool bAnchored = peekByte(p.get()) == '^';
  if (bAnchored) {
    p->iPos++;
  } else {
    emit(p.get(), RegexOp::RX_ANYSTAR, 0);
  }
  if (compileAlternation(p.get(), 0) && bAnchored && !p->zCompileErr) {
    p->nInstr = 0;
    p->iPos = 0;
    emit(p.get(), RegexOp::RX_ANYSTAR, 0);
    compileAlternation(p.get(), 0);
  }
  if (!p->zCompileErr) {
    if (atEnd(p.get())) {
      emit(p.get(), RegexOp::RX_ACCEPT, 0);
    } else {
      setError(p.get(), "unrecognized character");
    }
  }
  p->zInput = nullptr;
  p->iPos = p->nLen = 0;
  if (p->zCompileErr) return p->zCompileErr;
  collectPrefix(p.get());
  collectFirstBytes(p.get());
  collectNeeded(p.get());
  *pOut = std::move(p);
  return nullptr;
}

int matchRegex(RegexProgram* p, std::string_view zSubject, RegexMatchMode eMode) {
  const auto* z = reinterpret_cast<const unsigned char*>(zSubject.data());
  // The subject ends at its first zero byte, where decoding would report the end anyway;
  // cutting it there keeps the prefix search from looking beyond.
  size_t n = zSubject.size();
  if (n == 0) {
    z = reinterpret_cast<const unsigned char*>("");
  } else if (const void* zZero = std::memchr(z, 0, n)) {
    n = static_cast<size_t>(static_cast<const unsigned char*>(zZero) - z);
  }

  size_t iStart = 0;
  unsigned cPrev = kStartMarker;
  std::string_view zHay(reinterpret_cast<const char*>(z), n);
  if (p->nNeeded > 0 && zHay.find(std::string_view(reinterpret_cast<const char*>(p->aNeeded),
                                                   p->nNeeded)) == std::string_view::npos) {
    return 0;
  }
  if (p->nPrefix > 0) {
    size_t iHit =
        zHay.find(std::string_view(reinterpret_cast<const char*>(p->aPrefix), p->nPrefix));
    if (iHit == std::string_view::npos) return 0;
    iStart = iHit;
    cPrev = kPrefixMarker;
  }

  auto nInstr = static_cast<unsigned>(p->nInstr);
  bool bFold = p->xReadChar == readCharFolded;
  if (eMode != RegexMatchMode::Simulate && p->nInstr <= kDfaMaxInstr &&
      (p->pDfa || eMode == RegexMatchMode::Memoize || ++p->nMatches > kDfaAfterMatches)) {
    // The memo and the state sets it steps with live with the program, built once.
    if (!p->pDfa) p->pDfa = allocDfa(p->nInstr);
    uint16_t* aBase = p->pDfa ? programScratch(p) : nullptr;
    if (aBase) {
      StateSet aStateSet[2] = {{aBase, aBase + nInstr, 0},
                               {aBase + 2 * nInstr, aBase + 3 * nInstr, 0}};
      return bFold ? runMemoized<true>(p, z, n, iStart, cPrev, &aStateSet[0], &aStateSet[1])
                   : runMemoized<false>(p, z, n, iStart, cPrev, &aStateSet[0], &aStateSet[1]);
    }
    // Without the memory the plain simulation serves, and the memo is tried again later.
    p->nMatches = 0;
  }
  uint16_t* aBase;
  std::array<uint16_t, 4 * kLocalStates> aSpace;
  if (nInstr <= static_cast<unsigned>(kLocalStates)) {
    // Only the index halves need initialized values (members are written before they are
    // read), and only as far as the program reaches.
    aBase = aSpace.data();
    std::memset(aBase + nInstr, 0, sizeof(uint16_t) * nInstr);
    std::memset(aBase + 3 * nInstr, 0, sizeof(uint16_t) * nInstr);
  } else {
    aBase = programScratch(p);
    if (!aBase) return -1;
  }
  StateSet aStateSet[2] = {{aBase, aBase + nInstr, 0}, {aBase + 2 * nInstr, aBase + 3 * nInstr, 0}};
  return bFold ? runProgram<true>(p, z, n, iStart, cPrev, &aStateSet[0], &aStateSet[1])
               : runProgram<false>(p, z, n, iStart, cPrev, &aStateSet[0], &aStateSet[1]);
}

namespace {

void regexpFunc(sqlite3_context* ctx, int /*nArg*/, sqlite3_value** argv) {
  auto* p = static_cast<RegexProgram*>(sqlite3_get_auxdata(ctx, 0));
  RegexProgramPtr pNew;
  if (!p) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) return;
    const auto* zPattern = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
    if (!zPattern) {
      sqlite3_result_error_nomem(ctx);
      return;
    }
    std::string_view pattern(zPattern, static_cast<size_t>(sqlite3_value_bytes(argv[0])));
    const char* zErr = compileRegex(pattern, sqlite3_user_data(ctx) != nullptr, &pNew);
    if (zErr == kErrOutOfMemory) {
      sqlite3_result_error_nomem(ctx);
      return;
    }
    if (zErr) {
      sqlite3_result_error(ctx, zErr, -1);
      return;
    }
    p = pNew.get();
  }
  if (sqlite3_value_type(argv[1]) != SQLITE_NULL) {
    const auto* zSubject = reinterpret_cast<const char*>(sqlite3_value_text(argv[1]));
    int rc = zSubject
                 ? matchRegex(p, std::string_view(
                                     zSubject, static_cast<size_t>(sqlite3_value_bytes(argv[1]))))
                 : -1;
    // Running out of memory is an error, not an answer.
    if (rc < 0) {
      sqlite3_result_error_nomem(ctx);
    } else {
      sqlite3_result_int(ctx, rc);
    }
  }
  // Last: SQLite may free the program at once (when it cannot keep it).
  if (pNew) {
    sqlite3_set_auxdata(ctx, 0, pNew.release(),
                        [](void* pArg) { delete static_cast<RegexProgram*>(pArg); });
  }
}

}  // namespace

int regexpRegister(sqlite3* db) {
  constexpr int kFlags = SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS;
  int rc = sqlite3_create_function(db, "regexp", 2, kFlags, nullptr, regexpFunc, nullptr, nullptr);
  if (rc == SQLITE_OK) {
    rc = sqlite3_create_function(db, "regexpi", 2, kFlags, db, regexpFunc, nullptr, nullptr);
  }
  return rc;
}
