// The columnar renderer (column, table, markdown and box modes) and the
// width-aware printing it shares with the explain layout.
//
// Widths are display columns as a terminal shows them: East Asian wide and
// fullwidth characters take two columns, combining and other zero-width
// characters none (widths from utf8proc).  A character is never split: a cut
// keeps a base character together with the zero-width marks that follow it.
#include "shell/exec/Columnar.h"

#include <utf8proc.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "shell/core/Output.h"
#include "shell/core/ShellContext.h"

namespace {

// The "no limit" width of a cell, and the largest width honoured anywhere
// (keeps width + 2 and padding arithmetic far from overflow).
constexpr int kNoLimit = 1000000;

int clampWidth(int w) {
  if (w < 0) w = (w < -kNoLimit) ? kNoLimit : -w;
  return w > kNoLimit ? kNoLimit : w;
}

// Whether z[0, n) is printable ASCII only (one column a byte).
bool isPlainAscii(const char* zText, size_t n) {
  const auto* z = reinterpret_cast<const unsigned char*>(zText);
  size_t i = 0;
#if defined(__SSE2__)
  if (n >= 16) {
    // Sixteen bytes at a time, the last block overlapping the one before.
    const __m128i control = _mm_set1_epi8(0x1f);
    const __m128i del = _mm_set1_epi8(0x7f);
    for (;; i += 16) {
      if (i + 16 > n) i = n - 16;
      const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(z + i));
      const __m128i bad = _mm_or_si128(_mm_cmpeq_epi8(_mm_max_epu8(x, control), control),
                                       _mm_cmpeq_epi8(_mm_min_epu8(x, del), del));
      if (_mm_movemask_epi8(bad) != 0) return false;
      if (i + 16 == n) return true;
    }
  }
#endif
  for (; i + 8 <= n; i += 8) {
    uint64_t x;
    std::memcpy(&x, z + i, 8);
    // Bit 7 of a byte from 0x80 up is set in x; with none such, adding 1 to
    // every byte sets it only for 0x7f, and subtracting 0x20 sets it in the
    // lowest byte below 0x20.
    constexpr uint64_t kLow = 0x0101010101010101ULL, kHigh = 0x8080808080808080ULL;
    if (((x | (x + kLow) | (x - kLow * 0x20)) & kHigh) != 0) return false;
  }
  for (; i < n; i++) {
    if (z[i] < 0x20 || z[i] >= 0x7f) return false;
  }
  return true;
}

// Decodes the character at z (z[0] != 0): returns its length in bytes and
// stores its display width.  An invalid byte is one character of width 1
// (terminals show a replacement mark); controls have width 0.
inline int charInfo(const unsigned char* z, int* pnWidth) {
  unsigned c = z[0];
  if (c < 0x80) {
    *pnWidth = (c >= 0x20 && c < 0x7f) ? 1 : 0;
    return 1;
  }
  int nByte;
  utf8proc_int32_t cp;
  if (c >= 0xC2 && c <= 0xDF) {
    nByte = 2;
    cp = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    nByte = 3;
    cp = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    nByte = 4;
    cp = c & 0x07;
  } else {
    *pnWidth = 1;
    return 1;
  }
  for (int j = 1; j < nByte; j++) {
    if ((z[j] & 0xC0) != 0x80) {
      *pnWidth = 1;
      return 1;
    }
    cp = (cp << 6) | (z[j] & 0x3F);
  }
  if ((nByte == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
      (nByte == 4 && (cp < 0x10000 || cp > 0x10FFFF))) {
    *pnWidth = 1;
    return 1;
  }
  *pnWidth = utf8proc_charwidth(cp);
  return nByte;
}

// True when a line may be cut before byte k: k starts a character and that
// character is not a zero-width mark belonging to the one before it.
bool isCutPoint(const unsigned char* z, int k) {
  if ((z[k] & 0xC0) == 0x80) return false;
  if (z[k] < 0x80) return true;
  int w;
  charInfo(z + k, &w);
  return w > 0;
}

void writeBlanks(FILE* out, int n) {
  static const char zBlanks[] = "                                                                ";
  constexpr int nChunk = static_cast<int>(sizeof(zBlanks) - 1);
  while (n > 0) {
    int m = n < nChunk ? n : nChunk;
    std::fwrite(zBlanks, 1, static_cast<size_t>(m), out);
    n -= m;
  }
}

// Where the first display line of a text ends (see cellForDisplay).
struct CellCut {
  int nCopy;          // bytes of the text that form the line
  int nWidth;         // display width of the line (valid when bSimple)
  bool bSimple;       // the line is the first nCopy bytes, without tabs
  int nTab;           // tabs within the line
  const char* zRest;  // start of the next line, or null
};

CellCut measureCell(const char* zText, int nLimit, bool bWordWrap) {
  const auto* z = reinterpret_cast<const unsigned char*>(zText);
  int i = 0, n = 0, nTab = 0;
  bool bFull = false;
  while (z[i]) {
    unsigned c = z[i];
    if (c < 0x20) {
      if (c != '\t' || n >= nLimit) break;
      n = (n + 8) & ~7;
      if (n > nLimit) n = nLimit;
      nTab++;
      i++;
      continue;
    }
    int cw;
    int len = charInfo(z + i, &cw);
    if (n + cw > nLimit) {
      // A character wider than the whole limit still has to go somewhere.
      if (i == 0) {
        n = cw;
        i = len;
        while (z[i] >= 0x20) {
          int lenMark = charInfo(z + i, &cw);
          if (cw != 0) break;
          i += lenMark;
        }
      }
      bFull = true;
      break;
    }
    n += cw;
    i += len;
  }
  bool bLimit = bFull || n >= nLimit;
  const int iMeasured = i;
  int k = i;
  if (bLimit && bWordWrap) {
    int j;
    for (j = i; j > i / 2; j--) {
      if (std::isspace(z[j - 1]) && isCutPoint(z, j)) break;
    }
    if (j <= i / 2) {
      for (j = i; j > i / 2; j--) {
        bool bA = std::isalnum(z[j - 1]) != 0;
        bool bB = std::isalnum(z[j]) != 0;
        if (bA != bB && isCutPoint(z, j)) break;
      }
    }
    if (j > i / 2) {
      k = j;
      i = j;
      while (z[i] == ' ') i++;
    }
  }
  const char* zRest;
  if (bLimit && z[i] >= 0x20) {
    zRest = zText + i;
  } else if (z[i] == '\r' && z[i + 1] == '\n') {
    zRest = z[i + 2] ? zText + i + 2 : nullptr;
  } else if (z[i] == 0 || z[i + 1] == 0) {
    zRest = nullptr;
  } else {
    zRest = zText + i + 1;
  }
  return CellCut{k, n, k == iMeasured && nTab == 0, nTab, zRest};
}

// Copies the line into zOut, tabs expanded; returns (bytes, width).  With a
// null zOut it only measures.
std::pair<int, int> copyCell(const char* zText, const CellCut& cut, int nLimit, char* zOut) {
  if (cut.bSimple) {
    if (zOut != nullptr) {
      std::memcpy(zOut, zText, static_cast<size_t>(cut.nCopy));
      zOut[cut.nCopy] = 0;
    }
    return {cut.nCopy, cut.nWidth};
  }
  const auto* z = reinterpret_cast<const unsigned char*>(zText);
  int j = 0, col = 0;
  for (int i = 0; i < cut.nCopy && z[i];) {
    if (z[i] == '\t') {
      int next = (col + 8) & ~7;
      if (next > nLimit) next = nLimit;
      if (zOut != nullptr) {
        while (col < next) zOut[j++] = ' ', col++;
      } else {
        j += next - col;
        col = next;
      }
      i++;
      continue;
    }
    if (z[i] < 0x20) break;
    int cw;
    int len = charInfo(z + i, &cw);
    if (zOut != nullptr) std::memcpy(zOut + j, z + i, static_cast<size_t>(len));
    j += len;
    i += len;
    col += cw;
  }
  if (zOut != nullptr) zOut[j] = 0;
  return {j, col};
}

// Bytes a copy of the line may need: each tab grows to at most 8 blanks.
size_t cellCapacity(const CellCut& cut) {
  return static_cast<size_t>(cut.nCopy) + 7u * static_cast<size_t>(cut.nTab) + 1u;
}

// The cells of one result, kept as they arrive: each one's text and a NUL,
// one after another in row order, in large blocks.  No index, no allocation
// per cell: a result takes little more than its text.  Read back front to
// back with a Cursor, as often as the layout needs.
class CellStore {
 public:
  CellStore() = default;
  CellStore(const CellStore&) = delete;
  CellStore& operator=(const CellStore&) = delete;
  ~CellStore() {
    for (Block& b : aBlock_) std::free(b.a);
  }

  void add(const char* z, size_t n) {
    if (aBlock_.empty() || n + 1 > aBlock_.back().nSize - aBlock_.back().nUsed) {
      const size_t nSize = n + 1 > kBlock ? n + 1 : kBlock;
      aBlock_.push_back({checkAlloc(static_cast<char*>(std::malloc(nSize))), 0, nSize});
    }
    Block& b = aBlock_.back();
    std::memcpy(b.a + b.nUsed, z, n);
    b.a[b.nUsed + n] = 0;
    b.nUsed += n + 1;
  }

  struct Cursor {
    size_t iBlock = 0;
    size_t iAt = 0;
  };
  // The cell at c, which moves on to the next; called at most once per cell
  // added since c started.
  const char* next(Cursor& c, size_t* pnByte = nullptr) const {
    if (c.iAt == aBlock_[c.iBlock].nUsed) {
      c.iBlock++;
      c.iAt = 0;
    }
    const char* z = aBlock_[c.iBlock].a + c.iAt;
    const size_t n = std::strlen(z);
    c.iAt += n + 1;
    if (pnByte != nullptr) *pnByte = n;
    return z;
  }

 private:
  static constexpr size_t kBlock = 1u << 20;
  struct Block {
    char* a;
    size_t nUsed;
    size_t nSize;
  };
  std::vector<Block> aBlock_;
};

// The limit of a wrap width w (0: none).
int wrapLimit(int w) {
  return w == 0 ? kNoLimit : clampWidth(w);
}

// The first display line of zText (null: none) at wrap width w, as text, and
// its width.
std::string firstLine(const char* zText, int w, bool bWordWrap, int* pnWidth) {
  *pnWidth = 0;
  if (zText == nullptr) return std::string();
  const int nLimit = wrapLimit(w);
  const CellCut cut = measureCell(zText, nLimit, bWordWrap);
  std::string zLine(cellCapacity(cut), '\0');
  auto [nByte, nWidth] = copyCell(zText, cut, nLimit, zLine.data());
  zLine.resize(static_cast<size_t>(nByte));
  *pnWidth = nWidth;
  return zLine;
}

// The width of zText (n bytes) when it is one display line as it stands at limit
// nLimit: printable ASCII that fits (at the limit itself a word wrap may
// still cut it); else -1, and the caller measures.
int fitsAsIs(const char* zText, size_t n, int nLimit, bool bWordWrap) {
  const size_t nMax = static_cast<size_t>(nLimit);
  if (n > nMax || (n == nMax && bWordWrap) || !isPlainAscii(zText, n)) return -1;
  return static_cast<int>(n);
}

// The width of the widest display line of zText (nByte bytes) at wrap width w; sets
// *pbMultiLine when it has more than one line.
int cellWidth(const char* zText, size_t nByte, int w, bool bWordWrap, bool* pbMultiLine) {
  const int nLimit = wrapLimit(w);
  if (const int n = fitsAsIs(zText, nByte, nLimit, bWordWrap); n >= 0) return n;
  int nMax = 0;
  const char* zSrc = zText;
  while (true) {
    const CellCut cut = measureCell(zSrc, nLimit, bWordWrap);
    const int nWidth = copyCell(zSrc, cut, nLimit, nullptr).second;
    if (nWidth > nMax) nMax = nWidth;
    if (cut.zRest == nullptr) break;
    *pbMultiLine = true;
    zSrc = cut.zRest;
  }
  return nMax;
}

// Cuts the display lines of a cell one by one, for printing.  A line that is
// the rest of the text as it stands is used in place; any other is copied
// (tabs expanded) into a buffer kept from line to line.
struct CellLine {
  const char* z;
  int nByte;
  int nWidth;
};
class LineCutter {
 public:
  // The next line of zSrc (nSrc bytes) at wrap width w; *pzRest receives
  // the start of the rest or null.
  CellLine line(const char* zSrc, size_t nSrc, int w, bool bWordWrap, const char** pzRest) {
    const int nLimit = wrapLimit(w);
    if (const int n = fitsAsIs(zSrc, nSrc, nLimit, bWordWrap); n >= 0) {
      *pzRest = nullptr;
      return {zSrc, n, n};
    }
    const CellCut cut = measureCell(zSrc, nLimit, bWordWrap);
    *pzRest = cut.zRest;
    if (cut.bSimple && zSrc[cut.nCopy] == 0) return {zSrc, cut.nCopy, cut.nWidth};
    const size_t nNeed = cellCapacity(cut);
    if (aBuf_.size() < nNeed) aBuf_.resize(nNeed);
    auto [nByte, nWidth] = copyCell(zSrc, cut, nLimit, aBuf_.data());
    return {aBuf_.data(), nByte, nWidth};
  }

 private:
  std::vector<char> aBuf_;
};

// Appends the value of column i as an SQL literal.
void appendQuoted(std::string& s, sqlite3_stmt* pStmt, int i) {
  static const char zHex[] = "0123456789abcdef";
  switch (sqlite3_column_type(pStmt, i)) {
    case SQLITE_INTEGER:
    case SQLITE_FLOAT: {
      const char* z = reinterpret_cast<const char*>(sqlite3_column_text(pStmt, i));
      s += z ? z : "";
      break;
    }
    case SQLITE_TEXT: {
      const char* z = reinterpret_cast<const char*>(sqlite3_column_text(pStmt, i));
      if (z == nullptr) {
        s += "NULL";
        break;
      }
      s += '\'';
      for (; *z; z++) {
        s += *z;
        if (*z == '\'') s += '\'';
      }
      s += '\'';
      break;
    }
    case SQLITE_BLOB: {
      const auto* a = static_cast<const unsigned char*>(sqlite3_column_blob(pStmt, i));
      int n = sqlite3_column_bytes(pStmt, i);
      s += "x'";
      for (int j = 0; j < n; j++) {
        s += zHex[a[j] >> 4];
        s += zHex[a[j] & 0xF];
      }
      s += '\'';
      break;
    }
    default:
      s += "NULL";
      break;
  }
}

// Prints a name centered in w columns (extra blank after it when uneven).
void printCentered(FILE* out, int w, const char* z) {
  if (z == nullptr) z = "";
  int n = textWidth(z);
  int nPad = w > n ? w - n : 0;
  writeBlanks(out, nPad / 2);
  std::fputs(z, out);
  writeBlanks(out, (nPad + 1) / 2);
}

struct FrameText {
  const char* zLineStart;
  const char* zColSep;
  const char* zLineEnd;
};

FrameText frameFor(OutputMode eMode) {
  switch (eMode) {
    case OutputMode::Box:
      return {"\xe2\x94\x82 ", " \xe2\x94\x82 ", " \xe2\x94\x82\n"};
    case OutputMode::Table:
    case OutputMode::Markdown:
      return {"| ", " | ", " |\n"};
    default:
      return {"", "  ", "\n"};
  }
}

// The pieces of the box mode's three rules, UTF-8.
struct BoxRule {
  const char* zLeft;
  const char* zMiddle;
  const char* zRight;
};
constexpr BoxRule boxTop{"\xe2\x94\x8c", "\xe2\x94\xac", "\xe2\x94\x90"};     // ┌ ┬ ┐
constexpr BoxRule boxMiddle{"\xe2\x94\x9c", "\xe2\x94\xbc", "\xe2\x94\xa4"};  // ├ ┼ ┤
constexpr BoxRule boxBottom{"\xe2\x94\x94", "\xe2\x94\xb4", "\xe2\x94\x98"};  // └ ┴ ┘

void printBoxRule(ShellContext* p, int nArg, const BoxRule& rule) {
  printBoxRule(p, nArg, rule.zLeft, rule.zMiddle, rule.zRight);
}

void printBoxFill(FILE* out, int n) {
  static const char zFill[] =
      "\xe2\x94\x80\xe2\x94\x80\xe2\x94\x80\xe2\x94\x80\xe2\x94\x80\xe2\x94\x80\xe2\x94\x80"
      "\xe2\x94\x80\xe2\x94\x80\xe2\x94\x80\xe2\x94\x80\xe2\x94\x80\xe2\x94\x80\xe2\x94\x80"
      "\xe2\x94\x80\xe2\x94\x80";
  constexpr int nChunk = 16;
  while (n > 0) {
    int m = n < nChunk ? n : nChunk;
    std::fwrite(zFill, 3, static_cast<size_t>(m), out);
    n -= m;
  }
}

// Makes aColWidth cover nColumn columns (new entries 0) and points aWidthNow
// at the second half of the allocation.
void prepareWidths(ShellContext* p, int nColumn) {
  if (nColumn > p->nColWidth) {
    size_t nInt = 2 * (static_cast<size_t>(nColumn) + 1);
    int* a = checkAlloc(static_cast<int*>(std::realloc(p->aColWidth, nInt * sizeof(int))));
    for (int i = p->nColWidth; i < nColumn; i++) a[i] = 0;
    p->aColWidth = a;
    p->nColWidth = nColumn;
    p->aWidthNow = a + nColumn;
  }
  for (int i = 0; i < nColumn; i++) p->aWidthNow[i] = clampWidth(p->aColWidth[i]);
}

}  // namespace

int textWidth(const char* z) {
  if (z == nullptr) return 0;
  const auto* u = reinterpret_cast<const unsigned char*>(z);
  int n = 0;
  while (*u) {
    if (*u >= 0x20 && *u < 0x7f) {
      n++;
      u++;
      continue;
    }
    int cw;
    u += charInfo(u, &cw);
    n += cw;
  }
  return n;
}

void widthPrint(FILE* out, int w, const char* zUtf) {
  if (zUtf == nullptr) zUtf = "";
  if (w == 0) {
    std::fputs(zUtf, out);
    return;
  }
  int aw = clampWidth(w);
  const auto* z = reinterpret_cast<const unsigned char*>(zUtf);
  int i = 0, n = 0;
  while (z[i]) {
    int cw;
    int len;
    if (z[i] >= 0x20 && z[i] < 0x7f) {
      cw = 1;
      len = 1;
    } else {
      len = charInfo(z + i, &cw);
    }
    if (n + cw > aw) break;
    n += cw;
    i += len;
  }
  if (w < 0) writeBlanks(out, aw - n);
  std::fwrite(zUtf, 1, static_cast<size_t>(i), out);
  if (w > 0) writeBlanks(out, aw - n);
}

char* cellForDisplay(const char* zText, const char** pzRest, int w, bool bWordWrap) {
  if (zText == nullptr) {
    *pzRest = nullptr;
    return nullptr;
  }
  int nLimit = w == 0 ? kNoLimit : clampWidth(w);
  CellCut cut = measureCell(zText, nLimit, bWordWrap);
  *pzRest = cut.zRest;
  char* zOut = checkAlloc(static_cast<char*>(std::malloc(cellCapacity(cut))));
  copyCell(zText, cut, nLimit, zOut);
  return zOut;
}

char* quotedValue(sqlite3_stmt* pStmt, int i) {
  std::string s;
  appendQuoted(s, pStmt, i);
  return checkAlloc(sqlite3_mprintf("%s", s.c_str()));
}

void printDashes(FILE* out, int n) {
  static const char zDash[] = "--------------------------------------------------";
  constexpr int nChunk = 50;
  while (n > 0) {
    int m = n < nChunk ? n : nChunk;
    std::fwrite(zDash, 1, static_cast<size_t>(m), out);
    n -= m;
  }
}

void printDashRule(ShellContext* p, int nArg, const char* zSep) {
  if (nArg > 0) {
    std::fputs(zSep, p->pOut);
    for (int i = 0; i < nArg; i++) {
      printDashes(p->pOut, p->aWidthNow[i] + 2);
      std::fputs(zSep, p->pOut);
    }
  }
  std::fputs("\n", p->pOut);
}

void printBoxRule(ShellContext* p, int nArg, const char* zSep1, const char* zSep2,
                  const char* zSep3) {
  if (nArg > 0) {
    std::fputs(zSep1, p->pOut);
    for (int i = 0; i < nArg; i++) {
      if (i > 0) std::fputs(zSep2, p->pOut);
      printBoxFill(p->pOut, p->aWidthNow[i] + 2);
    }
    std::fputs(zSep3, p->pOut);
  }
  std::fputs("\n", p->pOut);
}

namespace {

// The whole result as kept: the column names and every cell's text (the
// value as the table shows it: quoted with --quote, the null text for NULL).
struct ResultTexts {
  std::vector<std::string> azName;
  CellStore cells;
  size_t nRow = 0;
};

// How the columns are laid out: the wrap width of each (0: none), whether it
// wraps at words, and what the layout found.
struct ColumnLayout {
  std::vector<int> aWrap;
  std::vector<unsigned char> abWordWrap;
  // Per column: every cell was one display line as it stands (printable
  // ASCII that fits), so that printing needs no measuring.
  std::vector<unsigned char> abAsIs;
  std::vector<std::string> azHead;  // the first line of each name
  bool bMultiLineRow = false;       // some row takes more than one line
};

// The width a table of these columns takes on the screen, frame included.
int tableWidth(OutputMode eMode, const int* aWidth, int nColumn) {
  long long n = 0;
  for (int i = 0; i < nColumn; i++) n += aWidth[i];
  n += eMode == OutputMode::Column ? 2LL * (nColumn - 1) : 3LL * nColumn + 1;
  return n > kNoLimit ? kNoLimit : static_cast<int>(n);
}

// The layout's wraps from .width and the mode's options.
void initLayout(const ShellContext* p, int nColumn, ColumnLayout& layout) {
  const size_t nCol = static_cast<size_t>(nColumn);
  layout.aWrap.assign(nCol, 0);
  layout.abWordWrap.assign(nCol, p->cmOpts.bWordWrap);
  for (int i = 0; i < nColumn; i++) {
    layout.aWrap[static_cast<size_t>(i)] = p->aColWidth[i] ? p->aColWidth[i] : p->cmOpts.nWrap;
  }
}

// Starts aWidthNow at the widths set with .width and raises them to the
// first lines of the names.
void measureNames(ShellContext* p, int nColumn, const ResultTexts& texts, ColumnLayout& layout) {
  int* aWidth = p->aWidthNow;
  layout.azHead.clear();
  layout.abAsIs.assign(static_cast<size_t>(nColumn), 1);
  for (int i = 0; i < nColumn; i++) {
    const size_t iu = static_cast<size_t>(i);
    aWidth[i] = clampWidth(p->aColWidth[i]);
    int nWidth;
    layout.azHead.push_back(
        firstLine(texts.azName[iu].c_str(), layout.aWrap[iu], layout.abWordWrap[iu] != 0, &nWidth));
    if (nWidth > aWidth[i]) aWidth[i] = nWidth;
  }
}

// Raises aWidthNow to what a cell of column i needs.
inline void widenForCell(ShellContext* p, ColumnLayout& layout, int i, const char* z, size_t n) {
  const size_t iu = static_cast<size_t>(i);
  const bool bWordWrap = layout.abWordWrap[iu] != 0;
  int nWidth = fitsAsIs(z, n, wrapLimit(layout.aWrap[iu]), bWordWrap);
  if (nWidth < 0) {
    layout.abAsIs[iu] = 0;
    nWidth = cellWidth(z, n, layout.aWrap[iu], bWordWrap, &layout.bMultiLineRow);
  }
  if (nWidth > p->aWidthNow[i]) p->aWidthNow[i] = nWidth;
}

// One more pass over the kept rows at the layout's wraps: the widths, and
// whether a row takes more than one line.
void measureTexts(ShellContext* p, int nColumn, const ResultTexts& texts, ColumnLayout& layout) {
  measureNames(p, nColumn, texts, layout);
  layout.bMultiLineRow = false;
  CellStore::Cursor cur;
  for (size_t iRow = 0; iRow < texts.nRow; iRow++) {
    for (int i = 0; i < nColumn; i++) {
      size_t n;
      const char* z = texts.cells.next(cur, &n);
      widenForCell(p, layout, i, z, n);
    }
  }
}

// Steps the statement (on its first row) to its end, keeping every value as
// the table shows it and, with bMeasure, raising the widths as rows arrive.
void collectTexts(ShellContext* p, sqlite3_stmt* pStmt, int nColumn, ResultTexts& texts,
                  ColumnLayout& layout, bool bMeasure) {
  const bool bQuote = p->cmOpts.bQuote != 0;
  std::string zQuoted;
  for (int i = 0; i < nColumn; i++) {
    const char* z = sqlite3_column_name(pStmt, i);
    texts.azName.emplace_back(z ? z : "");
  }
  if (bMeasure) measureNames(p, nColumn, texts, layout);
  if (nColumn == 0) return;
  do {
    for (int i = 0; i < nColumn; i++) {
      const char* z;
      size_t n;
      if (bQuote) {
        zQuoted.clear();
        appendQuoted(zQuoted, pStmt, i);
        z = zQuoted.c_str();
        n = std::strlen(z);
      } else {
        z = reinterpret_cast<const char*>(sqlite3_column_text(pStmt, i));
        if (z == nullptr) z = p->zNullText;
        n = std::strlen(z);
      }
      texts.cells.add(z, n);
      if (bMeasure) widenForCell(p, layout, i, z, n);
    }
    texts.nRow++;
  } while (nInterrupts == 0 && sqlite3_step(pStmt) == SQLITE_ROW);
}

void putBlanks(StagedOutput& out, int n) {
  static const char zBlanks[] = "                                                                ";
  constexpr int nChunk = static_cast<int>(sizeof(zBlanks) - 1);
  while (n > 0) {
    const int m = n < nChunk ? n : nChunk;
    out.put(zBlanks, static_cast<size_t>(m));
    n -= m;
  }
}

// The rule between rows when some row takes more than one line.
void printRowRule(ShellContext* p, OutputMode eMode, int nColumn) {
  switch (eMode) {
    case OutputMode::Table:
      printDashRule(p, nColumn, "+");
      break;
    case OutputMode::Box:
      printBoxRule(p, nColumn, boxMiddle);
      break;
    case OutputMode::Column:
      std::fputs("\n", p->pOut);
      break;
    default:
      break;
  }
}

// Prints the kept rows with the header, separators and frame of the mode, at
// the widths of aWidthNow, cutting each cell into its display lines as it
// goes.
void printTable(ShellContext* p, OutputMode eMode, int nColumn, const ResultTexts& texts,
                const ColumnLayout& layout) {
  FILE* out = p->pOut;
  const int* aWidth = p->aWidthNow;
  const FrameText frame = frameFor(eMode);
  switch (eMode) {
    case OutputMode::Column:
      if (p->bHeaders) {
        for (int i = 0; i < nColumn; i++) {
          int w = p->aColWidth[i] < 0 ? -aWidth[i] : aWidth[i];
          widthPrint(out, w, layout.azHead[static_cast<size_t>(i)].c_str());
          std::fputs(i == nColumn - 1 ? "\n" : "  ", out);
        }
        for (int i = 0; i < nColumn; i++) {
          printDashes(out, aWidth[i]);
          std::fputs(i == nColumn - 1 ? "\n" : "  ", out);
        }
      }
      break;
    case OutputMode::Table:
    case OutputMode::Markdown:
      if (eMode == OutputMode::Table) printDashRule(p, nColumn, "+");
      std::fputs("| ", out);
      for (int i = 0; i < nColumn; i++) {
        printCentered(out, aWidth[i], layout.azHead[static_cast<size_t>(i)].c_str());
        std::fputs(i == nColumn - 1 ? " |\n" : " | ", out);
      }
      printDashRule(p, nColumn, eMode == OutputMode::Table ? "+" : "|");
      break;
    case OutputMode::Box:
      printBoxRule(p, nColumn, boxTop);
      std::fputs(frame.zLineStart, out);
      for (int i = 0; i < nColumn; i++) {
        printCentered(out, aWidth[i], layout.azHead[static_cast<size_t>(i)].c_str());
        std::fputs(i == nColumn - 1 ? frame.zLineEnd : frame.zColSep, out);
      }
      printBoxRule(p, nColumn, boxMiddle);
      break;
    default:
      break;
  }

  const size_t nCol = static_cast<size_t>(nColumn);
  std::vector<const char*> azCell(nCol), azNext(nCol);
  std::vector<size_t> anCell(nCol);
  const size_t nLineStart = std::strlen(frame.zLineStart);
  const size_t nColSep = std::strlen(frame.zColSep);
  const size_t nLineEnd = std::strlen(frame.zLineEnd);
  LineCutter cutter;
  CellStore::Cursor cur;
  for (size_t iRow = 0; iRow < texts.nRow && nInterrupts == 0; iRow++) {
    for (size_t i = 0; i < nCol; i++) azCell[i] = texts.cells.next(cur, &anCell[i]);
    bool bRowStart = true;
    bool bContinues;
    do {
      bContinues = false;
      StagedOutput line(out);
      line.put(frame.zLineStart, nLineStart);
      for (int i = 0; i < nColumn; i++) {
        const size_t iu = static_cast<size_t>(i);
        CellLine cell{};
        if (bRowStart && layout.abAsIs[iu]) {
          // Measured as one line as it stands when it arrived.
          const int n = static_cast<int>(anCell[iu]);
          cell = {azCell[iu], n, n};
          azNext[iu] = nullptr;
        } else {
          const char* zSrc = bRowStart ? azCell[iu] : (azNext[iu] ? azNext[iu] : "");
          const size_t nSrc = bRowStart ? anCell[iu] : std::strlen(zSrc);
          cell = cutter.line(zSrc, nSrc, layout.aWrap[iu], layout.abWordWrap[iu] != 0, &azNext[iu]);
        }
        // The column is at least as wide as every line of it: only padding
        // is added, on the left for a negative .width.
        const int nPad = aWidth[i] > cell.nWidth ? aWidth[i] - cell.nWidth : 0;
        if (p->aColWidth[i] < 0) putBlanks(line, nPad);
        line.put(cell.z, static_cast<size_t>(cell.nByte));
        if (p->aColWidth[i] >= 0) putBlanks(line, nPad);
        if (i == nColumn - 1) {
          line.put(frame.zLineEnd, nLineEnd);
        } else {
          line.put(frame.zColSep, nColSep);
        }
        if (azNext[iu]) bContinues = true;
      }
      bRowStart = false;
    } while (bContinues && nInterrupts == 0);
    if (nInterrupts) break;
    if (layout.bMultiLineRow && iRow + 1 < texts.nRow) printRowRule(p, eMode, nColumn);
  }
  if (nInterrupts == 0) {
    if (eMode == OutputMode::Table) printDashRule(p, nColumn, "+");
    if (eMode == OutputMode::Box) printBoxRule(p, nColumn, boxBottom);
  }
}

// One record per block: a rule naming the record, then a line per column
// with the names aligned.  Values wrap to the available width, if any.  The
// rules are as wide as the widest line, found by a pass over the values
// before the one that prints them.
void printVertical(ShellContext* p, int nColumn, const ResultTexts& texts) {
  FILE* out = p->pOut;
  const int nFit = p->nFitWidth;
  int nNameWidth = 0;
  for (const std::string& z : texts.azName) nNameWidth = std::max(nNameWidth, textWidth(z.c_str()));
  if (nFit > 0 && nNameWidth > nFit / 2) nNameWidth = std::max(nFit / 2, 1);
  const int nValueLimit = nFit > 0 ? std::max(nFit - nNameWidth - 3, 10) : 0;
  const bool bWordWrap = nFit > 0 || p->cmOpts.bWordWrap != 0;

  const size_t nCell = texts.nRow * static_cast<size_t>(nColumn);
  int nValueWidth = 0;
  {
    bool bMultiLine = false;
    CellStore::Cursor cur;
    for (size_t iCell = 0; iCell < nCell; iCell++) {
      size_t n;
      const char* z = texts.cells.next(cur, &n);
      nValueWidth = std::max(nValueWidth, cellWidth(z, n, nValueLimit, bWordWrap, &bMultiLine));
    }
  }
  int nRuleWidth = nNameWidth + 3 + nValueWidth;
  if (nFit > 0 && nRuleWidth > nFit) nRuleWidth = nFit;

  char zLabel[40];
  LineCutter cutter;
  CellStore::Cursor cur;
  for (size_t iRow = 0; iRow < texts.nRow && nInterrupts == 0; iRow++) {
    sqlite3_snprintf(static_cast<int>(sizeof(zLabel)), zLabel, "-[ RECORD %llu ]",
                     static_cast<unsigned long long>(iRow + 1));
    const int nLabelLen = textLength(zLabel);
    std::fputs(zLabel, out);
    printDashes(out, nRuleWidth - nLabelLen);
    std::fputs("\n", out);
    for (int i = 0; i < nColumn; i++) {
      const char* zSrc = texts.cells.next(cur);
      bool bFirst = true;
      do {
        const char* zRest;
        const char* zLine = cutter.line(zSrc, std::strlen(zSrc), nValueLimit, bWordWrap, &zRest).z;
        widthPrint(out, nNameWidth, bFirst ? texts.azName[static_cast<size_t>(i)].c_str() : "");
        if (zLine[0] != 0) {
          std::fputs(" | ", out);
          std::fputs(zLine, out);
          std::fputs("\n", out);
        } else {
          std::fputs(" |\n", out);
        }
        bFirst = false;
        zSrc = zRest;
      } while (zSrc != nullptr);
    }
  }
}

// The aligned modes at a terminal, or with .expanded on: the result as a
// table that fits the window, else as vertical records.  The rows are kept
// once; fitting them costs one more pass over them, not a copy.
void renderToWindow(ShellContext* p, sqlite3_stmt* pStmt, int nColumn) {
  const OutputMode eMode = p->eModeNow;
  prepareWidths(p, nColumn);
  ResultTexts texts;
  ColumnLayout layout;
  initLayout(p, nColumn, layout);
  const bool bVertical = p->eExpanded == ExpandedMode::On || nColumn == 0;
  collectTexts(p, pStmt, nColumn, texts, layout, !bVertical);
  if (nInterrupts) {
    std::fputs("Interrupt\n", p->pOut);
    return;
  }
  if (bVertical) {
    if (nColumn > 0) printVertical(p, nColumn, texts);
    if (nInterrupts) std::fputs("Interrupt\n", p->pOut);
    return;
  }
  const size_t nCol = static_cast<size_t>(nColumn);
  const int nAvailable = p->nFitWidth;
  if (tableWidth(eMode, p->aWidthNow, nColumn) > nAvailable) {
    // Narrow the widest columns, none below its floor: the width of its
    // name, or 10, or what it needs when that is less.  A width set with
    // .width stays as it is.
    std::vector<int> aNatural(p->aWidthNow, p->aWidthNow + nColumn);
    std::vector<int> aFloor(nCol), aFit(nCol);
    for (size_t i = 0; i < nCol; i++) {
      const int nName = textWidth(layout.azHead[i].c_str());
      aFloor[i] = p->aColWidth[i] != 0 ? aNatural[i] : std::min(aNatural[i], std::max(nName, 10));
    }
    const int nFrame = tableWidth(eMode, std::vector<int>(nCol, 0).data(), nColumn);
    if (!fitColumnWidths(aNatural, aFloor, nAvailable - nFrame, aFit)) {
      printVertical(p, nColumn, texts);
      if (nInterrupts) std::fputs("Interrupt\n", p->pOut);
      return;
    }
    for (size_t i = 0; i < nCol; i++) {
      if (aFit[i] < aNatural[i]) {
        layout.aWrap[i] = aFit[i];
        layout.abWordWrap[i] = 1;
      }
    }
    measureTexts(p, nColumn, texts, layout);
  }
  printTable(p, eMode, nColumn, texts, layout);
  if (nInterrupts) std::fputs("Interrupt\n", p->pOut);
}

}  // namespace

bool fitColumnWidths(std::span<const int> aNatural, std::span<const int> aFloor, int nBudget,
                     std::span<int> aFit) {
  const size_t nColumn = aNatural.size();
  long long nFloorSum = 0;
  int nMax = 0;
  for (size_t i = 0; i < nColumn; i++) {
    nFloorSum += aFloor[i];
    nMax = std::max(nMax, aNatural[i]);
  }
  if (nFloorSum > nBudget) return false;
  // The largest cap c for which every column at min(natural, max(floor, c))
  // fits; the columns wider than c are the ones narrowed.
  auto widthAt = [&](int c, size_t i) { return std::min(aNatural[i], std::max(aFloor[i], c)); };
  auto sumAt = [&](int c) {
    long long n = 0;
    for (size_t i = 0; i < nColumn; i++) n += widthAt(c, i);
    return n;
  };
  int lo = 0, hi = nMax;
  while (lo < hi) {
    const int mid = lo + (hi - lo + 1) / 2;
    if (sumAt(mid) <= nBudget) {
      lo = mid;
    } else {
      hi = mid - 1;
    }
  }
  long long nLeft = nBudget - sumAt(lo);
  for (size_t i = 0; i < nColumn; i++) {
    aFit[i] = widthAt(lo, i);
    if (nLeft > 0 && aFit[i] < aNatural[i]) {
      aFit[i]++;
      nLeft--;
    }
  }
  return true;
}

void renderColumnar(ShellContext* p, sqlite3_stmt* pStmt) {
  int rc = sqlite3_step(pStmt);
  if (rc != SQLITE_ROW) return;
  const int nColumn = sqlite3_column_count(pStmt);
  if (p->eExpanded == ExpandedMode::On ||
      (p->eExpanded == ExpandedMode::Auto && p->nFitWidth > 0 && !p->bWrapGiven)) {
    renderToWindow(p, pStmt, nColumn);
    return;
  }
  // Every value kept once, the widths raised as the rows arrive; the lines
  // of each cell are cut again as the table is printed.
  prepareWidths(p, nColumn);
  ResultTexts texts;
  ColumnLayout layout;
  initLayout(p, nColumn, layout);
  collectTexts(p, pStmt, nColumn, texts, layout, true);
  if (nInterrupts == 0 && nColumn > 0) printTable(p, p->eModeNow, nColumn, texts, layout);
  if (nInterrupts) std::fputs("Interrupt\n", p->pOut);
}
