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
#include <algorithm>
#include <cstring>
#include <memory>
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

namespace {

// The display lines of one result, line 0 holding the column names.
struct TableLayout {
  CellArena arena;
  std::vector<const char*> azData;
  std::vector<unsigned char> abRowDiv;  // per line after the header: 1 when it ends a row
  bool bMultiLineRow = false;
};

// The width a table of these columns takes on the screen, frame included.
int tableWidth(OutputMode eMode, const int* aWidth, int nColumn) {
  long long n = 0;
  for (int i = 0; i < nColumn; i++) n += aWidth[i];
  n += eMode == OutputMode::Column ? 2LL * (nColumn - 1) : 3LL * nColumn + 1;
  return n > kNoLimit ? kNoLimit : static_cast<int>(n);
}

// Prints the gathered lines with the header, separators and frame of the
// mode, at the widths of aWidthNow.
void printTable(ShellContext* p, OutputMode eMode, int nColumn, const TableLayout& layout) {
  FILE* out = p->pOut;
  const int* aWidth = p->aWidthNow;
  const FrameText frame = frameFor(eMode);
  const char* const* azName = layout.azData.data();
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

  const size_t nLine = layout.abRowDiv.size();
  for (size_t iLine = 0; iLine < nLine; iLine++) {
    const char* const* azCell = layout.azData.data() + (iLine + 1) * static_cast<size_t>(nColumn);
    std::fputs(frame.zLineStart, out);
    for (int i = 0; i < nColumn; i++) {
      int w = p->aColWidth[i] < 0 ? -aWidth[i] : aWidth[i];
      widthPrint(out, w, azCell[i] ? azCell[i] : p->zNullText);
      std::fputs(i == nColumn - 1 ? frame.zLineEnd : frame.zColSep, out);
    }
    if (layout.abRowDiv[iLine] && layout.bMultiLineRow && iLine + 1 < nLine) {
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

// The whole result as texts, kept so that it can be laid out more than once.
struct ResultTexts {
  CellArena arena;
  std::vector<const char*> azName;
  std::vector<const char*> azValue;  // nColumn per row, never null
  size_t nRow = 0;
};

const char* keepText(CellArena& arena, const char* z, size_t n) {
  char* zCopy = arena.reserve(n + 1);
  std::memcpy(zCopy, z, n);
  zCopy[n] = 0;
  arena.commit(n + 1);
  return zCopy;
}

// Steps the statement (on its first row) to its end, keeping every value as
// the table would show it.
void collectTexts(ShellContext* p, sqlite3_stmt* pStmt, int nColumn, ResultTexts& texts) {
  const bool bQuote = p->cmOpts.bQuote != 0;
  std::string zQuoted;
  for (int i = 0; i < nColumn; i++) {
    const char* z = sqlite3_column_name(pStmt, i);
    texts.azName.push_back(z ? keepText(texts.arena, z, std::strlen(z)) : nullptr);
  }
  do {
    for (int i = 0; i < nColumn; i++) {
      if (bQuote) {
        zQuoted.clear();
        appendQuoted(zQuoted, pStmt, i);
        texts.azValue.push_back(keepText(texts.arena, zQuoted.data(), zQuoted.size()));
      } else {
        const char* z = reinterpret_cast<const char*>(sqlite3_column_text(pStmt, i));
        if (z == nullptr) z = p->zNullText;
        texts.azValue.push_back(keepText(texts.arena, z, std::strlen(z)));
      }
    }
    texts.nRow++;
  } while (nInterrupts == 0 && sqlite3_step(pStmt) == SQLITE_ROW);
}

// Splits every kept value into display lines at the columns' wrap widths and
// raises aWidthNow to what they need.
void layoutTexts(ShellContext* p, int nColumn, const ResultTexts& texts, const int* aWrap,
                 const unsigned char* abWordWrap, TableLayout& layout) {
  int* aWidth = p->aWidthNow;
  for (int i = 0; i < nColumn; i++) aWidth[i] = clampWidth(p->aColWidth[i]);
  std::vector<const char*> azNextLine(static_cast<size_t>(nColumn), nullptr);
  for (int i = 0; i < nColumn; i++) {
    const char* zRest;
    int nWidth;
    layout.azData.push_back(arenaCell(layout.arena, texts.azName[static_cast<size_t>(i)], &zRest,
                                      aWrap[i], abWordWrap[i] != 0, &nWidth));
    if (nWidth > aWidth[i]) aWidth[i] = nWidth;
  }
  for (size_t iRow = 0; iRow < texts.nRow; iRow++) {
    const char* const* azValue = texts.azValue.data() + iRow * static_cast<size_t>(nColumn);
    bool bContinues = false;
    bool bRowStart = true;
    do {
      bContinues = false;
      for (int i = 0; i < nColumn; i++) {
        const size_t iu = static_cast<size_t>(i);
        const char* zSrc = bRowStart ? azValue[i] : (azNextLine[iu] ? azNextLine[iu] : "");
        int nWidth;
        layout.azData.push_back(
            arenaCell(layout.arena, zSrc, &azNextLine[iu], aWrap[i], abWordWrap[i] != 0, &nWidth));
        if (nWidth > aWidth[i]) aWidth[i] = nWidth;
        if (azNextLine[iu]) bContinues = true;
      }
      bRowStart = false;
      layout.abRowDiv.push_back(bContinues ? 0 : 1);
      if (bContinues) layout.bMultiLineRow = true;
    } while (bContinues);
  }
}

// One record per block: a rule naming the record, then a line per column
// with the names aligned.  Values wrap to the available width, if any.
void printVertical(ShellContext* p, int nColumn, const ResultTexts& texts) {
  FILE* out = p->pOut;
  const int nFit = p->nFitWidth;
  int nNameWidth = 0;
  for (const char* z : texts.azName) nNameWidth = std::max(nNameWidth, textWidth(z));
  if (nFit > 0 && nNameWidth > nFit / 2) nNameWidth = std::max(nFit / 2, 1);
  const int nValueLimit = nFit > 0 ? std::max(nFit - nNameWidth - 3, 10) : 0;
  const bool bWordWrap = nFit > 0 || p->cmOpts.bWordWrap != 0;

  // Every value's display lines first: the rules are as wide as the widest line.
  TableLayout lines;
  std::vector<size_t> aiFirstLine;  // per value, its first line in lines.azData
  aiFirstLine.reserve(texts.azValue.size() + 1);
  int nValueWidth = 0;
  for (const char* zValue : texts.azValue) {
    aiFirstLine.push_back(lines.azData.size());
    const char* zSrc = zValue;
    do {
      const char* zRest;
      int nWidth;
      lines.azData.push_back(arenaCell(lines.arena, zSrc, &zRest, nValueLimit, bWordWrap, &nWidth));
      nValueWidth = std::max(nValueWidth, nWidth);
      zSrc = zRest;
    } while (zSrc != nullptr);
  }
  aiFirstLine.push_back(lines.azData.size());
  int nRuleWidth = nNameWidth + 3 + nValueWidth;
  if (nFit > 0 && nRuleWidth > nFit) nRuleWidth = nFit;

  char zLabel[40];
  for (size_t iRow = 0; iRow < texts.nRow && nInterrupts == 0; iRow++) {
    sqlite3_snprintf(static_cast<int>(sizeof(zLabel)), zLabel, "-[ RECORD %llu ]",
                     static_cast<unsigned long long>(iRow + 1));
    const int nLabelLen = textLength(zLabel);
    std::fputs(zLabel, out);
    printDashes(out, nRuleWidth - nLabelLen);
    std::fputs("\n", out);
    for (int i = 0; i < nColumn; i++) {
      const size_t iValue = iRow * static_cast<size_t>(nColumn) + static_cast<size_t>(i);
      for (size_t iLine = aiFirstLine[iValue]; iLine < aiFirstLine[iValue + 1]; iLine++) {
        widthPrint(out, nNameWidth,
                   iLine == aiFirstLine[iValue] ? texts.azName[static_cast<size_t>(i)] : "");
        const char* zLine = lines.azData[iLine];
        if (zLine != nullptr && zLine[0] != 0) {
          std::fputs(" | ", out);
          std::fputs(zLine, out);
          std::fputs("\n", out);
        } else {
          std::fputs(" |\n", out);
        }
      }
    }
  }
}

// The aligned modes at a terminal, or with .expanded on: the result as a
// table that fits the window, else as vertical records.
void renderToWindow(ShellContext* p, sqlite3_stmt* pStmt, int nColumn) {
  const OutputMode eMode = p->eModeNow;
  prepareWidths(p, nColumn);
  ResultTexts texts;
  collectTexts(p, pStmt, nColumn, texts);
  if (nInterrupts) {
    std::fputs("Interrupt\n", p->pOut);
    return;
  }
  if (p->eExpanded == ExpandedMode::On || nColumn == 0) {
    if (nColumn > 0) printVertical(p, nColumn, texts);
    if (nInterrupts) std::fputs("Interrupt\n", p->pOut);
    return;
  }
  const size_t nCol = static_cast<size_t>(nColumn);
  std::vector<int> aWrap(nCol);
  std::vector<unsigned char> abWordWrap(nCol, p->cmOpts.bWordWrap);
  for (int i = 0; i < nColumn; i++) {
    aWrap[static_cast<size_t>(i)] = p->aColWidth[i] ? p->aColWidth[i] : p->cmOpts.nWrap;
  }
  auto layout = std::make_unique<TableLayout>();
  layoutTexts(p, nColumn, texts, aWrap.data(), abWordWrap.data(), *layout);
  const int nAvailable = p->nFitWidth;
  if (tableWidth(eMode, p->aWidthNow, nColumn) > nAvailable) {
    // Narrow the widest columns, none below its floor: the width of its
    // name, or 10, or what it needs when that is less.  A width set with
    // .width stays as it is.
    std::vector<int> aNatural(p->aWidthNow, p->aWidthNow + nColumn);
    std::vector<int> aFloor(nCol), aFit(nCol);
    for (size_t i = 0; i < nCol; i++) {
      const int nName = textWidth(layout->azData[i]);
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
        aWrap[i] = aFit[i];
        abWordWrap[i] = 1;
      }
    }
    layout = std::make_unique<TableLayout>();
    layoutTexts(p, nColumn, texts, aWrap.data(), abWordWrap.data(), *layout);
  }
  printTable(p, eMode, nColumn, *layout);
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

  TableLayout layout;
  CellArena& arena = layout.arena;
  std::vector<const char*>& azData = layout.azData;
  azData.reserve(4 * static_cast<size_t>(nColumn > 0 ? nColumn : 1));
  std::vector<unsigned char>& abRowDiv = layout.abRowDiv;
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
      if (bContinues) layout.bMultiLineRow = true;
      if (nInterrupts) break;
    } while (bContinues || sqlite3_step(pStmt) == SQLITE_ROW);
  }

  if (nInterrupts == 0 && nColumn > 0) printTable(p, eMode, nColumn, layout);
  if (nInterrupts) std::fputs("Interrupt\n", out);
}
