// The columnar renderer (column, table, markdown and box modes) and the
// width-aware printing it shares with the explain layout.
//
// Widths are display columns as a terminal shows them: East Asian wide and
// fullwidth characters take two columns, combining and other zero-width
// characters none (widths from utf8proc).  A character is never split: a cut
// keeps a base character together with the zero-width marks that follow it.
#include "shell/exec/Columnar.h"

#include <utf8proc.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "shell/core/ShellContext.h"

namespace {

// The "no limit" width of a cell, and the largest width honoured anywhere
// (keeps width + 2 and padding arithmetic far from overflow).
constexpr int kNoLimit = 1000000;

int clampWidth(int w) {
  if (w < 0) w = (w < -kNoLimit) ? kNoLimit : -w;
  return w > kNoLimit ? kNoLimit : w;
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

// Copies the line into zOut, tabs expanded; returns (bytes, width).
std::pair<int, int> copyCell(const char* zText, const CellCut& cut, int nLimit, char* zOut) {
  if (cut.bSimple) {
    std::memcpy(zOut, zText, static_cast<size_t>(cut.nCopy));
    zOut[cut.nCopy] = 0;
    return {cut.nCopy, cut.nWidth};
  }
  const auto* z = reinterpret_cast<const unsigned char*>(zText);
  int j = 0, col = 0;
  for (int i = 0; i < cut.nCopy && z[i];) {
    if (z[i] == '\t') {
      int next = (col + 8) & ~7;
      if (next > nLimit) next = nLimit;
      while (col < next) zOut[j++] = ' ', col++;
      i++;
      continue;
    }
    if (z[i] < 0x20) break;
    int cw;
    int len = charInfo(z + i, &cw);
    std::memcpy(zOut + j, z + i, static_cast<size_t>(len));
    j += len;
    i += len;
    col += cw;
  }
  zOut[j] = 0;
  return {j, col};
}

// Bytes a copy of the line may need: each tab grows to at most 8 blanks.
size_t cellCapacity(const CellCut& cut) {
  return static_cast<size_t>(cut.nCopy) + 7u * static_cast<size_t>(cut.nTab) + 1u;
}

// Storage for the cells of one result: large blocks, no allocation per cell.
class CellArena {
 public:
  CellArena() = default;
  CellArena(const CellArena&) = delete;
  CellArena& operator=(const CellArena&) = delete;
  ~CellArena() {
    for (char* b : aBlock_) std::free(b);
  }
  char* reserve(size_t n) {
    if (n > nFree_) {
      size_t nBlock = n > kBlock ? n : kBlock;
      pFree_ = checkAlloc(static_cast<char*>(std::malloc(nBlock)));
      aBlock_.push_back(pFree_);
      nFree_ = nBlock;
    }
    return pFree_;
  }
  void commit(size_t n) {
    pFree_ += n;
    nFree_ -= n;
  }

 private:
  static constexpr size_t kBlock = 1u << 20;
  std::vector<char*> aBlock_;
  char* pFree_ = nullptr;
  size_t nFree_ = 0;
};

// cellForDisplay into the arena; stores the line's display width.
const char* arenaCell(CellArena& arena, const char* zText, const char** pzRest, int w,
                      bool bWordWrap, int* pnWidth) {
  *pnWidth = 0;
  if (zText == nullptr) {
    *pzRest = nullptr;
    return nullptr;
  }
  int nLimit = w == 0 ? kNoLimit : clampWidth(w);
  CellCut cut = measureCell(zText, nLimit, bWordWrap);
  *pzRest = cut.zRest;
  char* zOut = arena.reserve(cellCapacity(cut));
  auto [nByte, nWidth] = copyCell(zText, cut, nLimit, zOut);
  arena.commit(static_cast<size_t>(nByte) + 1);
  *pnWidth = nWidth;
  return zOut;
}

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

void renderColumnar(ShellContext* p, sqlite3_stmt* pStmt) {
  int rc = sqlite3_step(pStmt);
  if (rc != SQLITE_ROW) return;
  const int nColumn = sqlite3_column_count(pStmt);
  const OutputMode eMode = p->eModeNow;
  const bool bWordWrap = p->cmOpts.bWordWrap != 0;
  const bool bQuote = p->cmOpts.bQuote != 0;
  FILE* out = p->pOut;

  prepareWidths(p, nColumn);
  int* aWidth = p->aWidthNow;
  std::vector<int> aWrap(static_cast<size_t>(nColumn));
  for (int i = 0; i < nColumn; i++) {
    aWrap[static_cast<size_t>(i)] = p->aColWidth[i] ? p->aColWidth[i] : p->cmOpts.nWrap;
  }

  CellArena arena;
  std::vector<const char*> azData;
  azData.reserve(4 * static_cast<size_t>(nColumn > 0 ? nColumn : 1));
  std::vector<unsigned char> abRowDiv;
  std::vector<const char*> azNextLine(static_cast<size_t>(nColumn), nullptr);
  std::vector<std::string> azQuoted(bQuote ? static_cast<size_t>(nColumn) : 0);

  // Line 0: the column names (the rest of a long name is dropped).
  for (int i = 0; i < nColumn; i++) {
    const char* zRest;
    int nWidth;
    azData.push_back(arenaCell(arena, sqlite3_column_name(pStmt, i), &zRest,
                               aWrap[static_cast<size_t>(i)], bWordWrap, &nWidth));
    if (nWidth > aWidth[i]) aWidth[i] = nWidth;
  }

  // Gather every display line of every row.
  bool bMultiLineRow = false;
  bool bContinues = false;
  if (nColumn > 0) {
    do {
      bool bRowStart = !bContinues;
      bContinues = false;
      for (int i = 0; i < nColumn; i++) {
        const size_t iu = static_cast<size_t>(i);
        const char* zSrc;
        if (bRowStart) {
          if (bQuote) {
            azQuoted[iu].clear();
            appendQuoted(azQuoted[iu], pStmt, i);
            zSrc = azQuoted[iu].c_str();
          } else {
            zSrc = reinterpret_cast<const char*>(sqlite3_column_text(pStmt, i));
            if (zSrc == nullptr) zSrc = p->zNullText;
          }
        } else {
          zSrc = azNextLine[iu] ? azNextLine[iu] : "";
        }
        int nWidth;
        azData.push_back(arenaCell(arena, zSrc, &azNextLine[iu], aWrap[iu], bWordWrap, &nWidth));
        if (nWidth > aWidth[i]) aWidth[i] = nWidth;
        if (azNextLine[iu]) bContinues = true;
      }
      abRowDiv.push_back(bContinues ? 0 : 1);
      if (bContinues) bMultiLineRow = true;
      if (nInterrupts) break;
    } while (bContinues || sqlite3_step(pStmt) == SQLITE_ROW);
  }

  if (nInterrupts == 0 && nColumn > 0) {
    const FrameText frame = frameFor(eMode);
    const char** azName = azData.data();
    switch (eMode) {
      case OutputMode::Column:
        if (p->bHeaders) {
          for (int i = 0; i < nColumn; i++) {
            int w = p->aColWidth[i] < 0 ? -aWidth[i] : aWidth[i];
            widthPrint(out, w, azName[i]);
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
          printCentered(out, aWidth[i], azName[i]);
          std::fputs(i == nColumn - 1 ? " |\n" : " | ", out);
        }
        printDashRule(p, nColumn, eMode == OutputMode::Table ? "+" : "|");
        break;
      case OutputMode::Box:
        printBoxRule(p, nColumn, boxTop);
        std::fputs(frame.zLineStart, out);
        for (int i = 0; i < nColumn; i++) {
          printCentered(out, aWidth[i], azName[i]);
          std::fputs(i == nColumn - 1 ? frame.zLineEnd : frame.zColSep, out);
        }
        printBoxRule(p, nColumn, boxMiddle);
        break;
      default:
        break;
    }

    const size_t nLine = abRowDiv.size();
    for (size_t iLine = 0; iLine < nLine; iLine++) {
      const char** azCell = azData.data() + (iLine + 1) * static_cast<size_t>(nColumn);
      std::fputs(frame.zLineStart, out);
      for (int i = 0; i < nColumn; i++) {
        int w = p->aColWidth[i] < 0 ? -aWidth[i] : aWidth[i];
        widthPrint(out, w, azCell[i] ? azCell[i] : p->zNullText);
        std::fputs(i == nColumn - 1 ? frame.zLineEnd : frame.zColSep, out);
      }
      if (abRowDiv[iLine] && bMultiLineRow && iLine + 1 < nLine) {
        switch (eMode) {
          case OutputMode::Table:
            printDashRule(p, nColumn, "+");
            break;
          case OutputMode::Box:
            printBoxRule(p, nColumn, boxMiddle);
            break;
          case OutputMode::Column:
            std::fputs("\n", out);
            break;
          default:
            break;
        }
      }
      if (nInterrupts) break;
    }
    if (nInterrupts == 0) {
      if (eMode == OutputMode::Table) printDashRule(p, nColumn, "+");
      if (eMode == OutputMode::Box) printBoxRule(p, nColumn, boxBottom);
    }
  }
  if (nInterrupts) std::fputs("Interrupt\n", out);
}
