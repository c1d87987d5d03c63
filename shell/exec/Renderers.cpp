// Row-at-a-time renderers: one result row in the current output mode.
//
// These run once per value of every result, so they write straight into the
// buffered stream (fputs/putc/fwrite) and never allocate.  On this platform the
// console needs no code-page conversion, so a plain "%s" write gives the same
// bytes as the console printer.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "shell/core/ShellContext.h"
#include "shell/exec/Columnar.h"
#include "shell/exec/Execute.h"
#include "shell/core/Output.h"
#include "shell/core/SqlText.h"
#include "shell/exec/SchemaPrinters.h"

namespace {

// Widths of the eight columns of a bytecode listing in the explain layout.
constexpr int aExplainWidth[8] = {4, 13, 4, 4, 4, 13, 2, 13};

// The shell is single-threaded: its streams need no locking per write.
inline void put(FILE* out, const char* z) {
  fputs_unlocked(z, out);
}
inline void putChar(char c, FILE* out) {
  putc_unlocked(c, out);
}
inline void putBytes(FILE* out, const char* z, size_t n) {
  fwrite_unlocked(z, 1, n, out);
}

inline bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

// Doubles strictly inside the range of a 64-bit integer, where converting to
// an integer is defined.
inline bool fitsInt64(double r) {
  return r >= -9223372036854775808.0 && r < 9223372036854775808.0;
}

// A real in json: as %!.20g formats it, the infinities as 1e999 and -1e999.
void writeJsonReal(StagedOutput& out, double r) {
  if (std::isinf(r)) {
    out.put(r > 0 ? "1e999" : "-1e999");
    return;
  }
  char zBuf[50];
  sqlite3_snprintf(static_cast<int>(sizeof(zBuf)), zBuf, "%!.20g", r);
  out.put(zBuf);
}

// A column name as an SQL identifier: double-quoted with inner double quotes
// doubled when it needs quoting.
void writeIdentifier(StagedOutput& out, const char* zName) {
  if (!identQuoteChar(zName)) {
    out.put(zName);
    return;
  }
  out.put('"');
  for (const char* z = zName; *z; z++) {
    if (*z == '"') out.put('"');
    out.put(*z);
  }
  out.put('"');
}

// The SQL literal of a real: "1e999" and "-1e999" for the infinities (they
// read back as infinite; the formatter would write "Inf"), "-0.0" for a
// negative zero (the formatter drops its sign), N.0 for an integral value
// when bIntegralAsDecimal is set, else as %!.20g formats it.
void writeRealLiteral(StagedOutput& out, double r, bool bIntegralAsDecimal) {
  if (std::isinf(r)) {
    out.put(r > 0 ? "1e999" : "-1e999");
    return;
  }
  if (r == 0 && std::signbit(r)) {
    out.put("-0.0", 4);
    return;
  }
  char zBuf[50];
  // Only a double within the 64-bit range can be compared with its
  // truncation; anything larger takes the general form.
  if (bIntegralAsDecimal && fitsInt64(r)) {
    sqlite3_int64 v = static_cast<sqlite3_int64>(r);
    if (r == static_cast<double>(v)) {
      sqlite3_snprintf(static_cast<int>(sizeof(zBuf)), zBuf, "%lld.0", v);
      out.put(zBuf);
      return;
    }
  }
  sqlite3_snprintf(static_cast<int>(sizeof(zBuf)), zBuf, "%!.20g", r);
  out.put(zBuf);
}

void renderLine(ShellContext* p, int nArg, char** azArg, char** azCol) {
  int w = 5;
  for (int i = 0; i < nArg; i++) {
    int len = textLength(azCol[i]);
    if (len > w) w = len;
  }
  if (p->nRowsShown++ > 0) printConsole(p->pOut, "%s", p->zRowSep);
  for (int i = 0; i < nArg; i++) {
    printConsole(p->pOut, "%*s = %s%s", w, azCol[i], azArg[i] ? azArg[i] : p->zNullText,
                 p->zRowSep);
  }
}

// The list, csv and json rows go through the held row output of
// shell/core/Output.h: into a file or a pipe, a result's rows are written in
// large pieces.
StagedOutput& beginRow(const ShellContext* p) {
  return beginRowOutput(p->pOut, p->nRowsShown == 0);
}

void endRow() {
  endRowOutput();
}

void renderList(ShellContext* p, int nArg, char** azArg, char** azCol) {
  StagedOutput& out = beginRow(p);
  const char* zColSep = p->zColSep;
  const char* zRowSep = p->zRowSep;
  if (p->nRowsShown++ == 0 && p->bHeaders) {
    for (int i = 0; i < nArg; i++) {
      out.put(azCol[i] ? azCol[i] : "");
      out.put(i == nArg - 1 ? zRowSep : zColSep);
    }
  }
  const char* zNull = p->zNullText;
  const size_t nColSep = std::strlen(zColSep);
  const size_t nNull = std::strlen(zNull);
  for (int i = 0; i < nArg; i++) {
    if (azArg[i] == nullptr) {
      out.put(zNull, nNull);
    } else {
      out.put(azArg[i]);
    }
    if (i == nArg - 1) {
      out.put(zRowSep);
    } else if (nColSep == 1) {
      out.put(zColSep[0]);
    } else {
      out.put(zColSep, nColSep);
    }
  }
  endRow();
}

void renderHtml(ShellContext* p, int nArg, char** azArg, char** azCol) {
  FILE* out = p->pOut;
  if (p->nRowsShown++ == 0 && p->bHeaders) {
    put(out, "<TR>");
    for (int i = 0; i < nArg; i++) {
      put(out, "<TH>");
      writeHtmlText(out, azCol[i]);
      put(out, "</TH>\n");
    }
    put(out, "</TR>\n");
  }
  put(out, "<TR>");
  for (int i = 0; i < nArg; i++) {
    put(out, "<TD>");
    writeHtmlText(out, azArg[i] ? azArg[i] : p->zNullText);
    put(out, "</TD>\n");
  }
  put(out, "</TR>\n");
}

void renderTcl(ShellContext* p, int nArg, char** azArg, char** azCol) {
  FILE* out = p->pOut;
  if (p->nRowsShown++ == 0 && p->bHeaders) {
    for (int i = 0; i < nArg; i++) {
      writeCString(out, azCol[i] ? azCol[i] : "");
      if (i < nArg - 1) put(out, p->zColSep);
    }
    put(out, p->zRowSep);
  }
  for (int i = 0; i < nArg; i++) {
    writeCString(out, azArg[i] ? azArg[i] : p->zNullText);
    if (i < nArg - 1) put(out, p->zColSep);
  }
  put(out, p->zRowSep);
}

void renderCsv(ShellContext* p, int nArg, char** azArg, char** azCol) {
  // Line ends are never translated on this platform, so switching the stream
  // needs no flush for every row.
  setBinaryOutput(p->pOut, false);
  {
    StagedOutput& out = beginRow(p);
    const char* zSep = p->zColSep;
    const size_t nSep = std::strlen(zSep);
    if (p->nRowsShown++ == 0 && p->bHeaders) {
      for (int i = 0; i < nArg; i++) {
        const char* z = azCol[i] ? azCol[i] : "";
        writeCsvText(out, z, std::strlen(z), zSep, nSep);
        if (i < nArg - 1) out.put(zSep, nSep);
      }
      out.put(p->zRowSep);
    }
    if (nArg > 0) {
      const char* zNull = p->zNullText;
      const size_t nNull = std::strlen(zNull);
      for (int i = 0; i < nArg; i++) {
        if (azArg[i] == nullptr) {
          out.put(zNull, nNull);
        } else {
          writeCsvText(out, azArg[i], std::strlen(azArg[i]), zSep, nSep);
        }
        if (i == nArg - 1) break;
        if (nSep == 1) {
          out.put(zSep[0]);
        } else {
          out.put(zSep, nSep);
        }
      }
      out.put(p->zRowSep);
    }
    endRow();
  }
  setTextOutput(p->pOut, false);
}

void renderExplain(ShellContext* p, int nArg, char** azArg, char** azCol) {
  FILE* out = p->pOut;
  if (nArg > 8) nArg = 8;
  if (p->nRowsShown++ == 0) {
    for (int i = 0; i < nArg; i++) {
      widthPrint(out, aExplainWidth[i], azCol[i] ? azCol[i] : "");
      put(out, i == nArg - 1 ? "\n" : "  ");
    }
    for (int i = 0; i < nArg; i++) {
      printDashes(out, aExplainWidth[i]);
      put(out, i == nArg - 1 ? "\n" : "  ");
    }
  }
  for (int i = 0; i < nArg; i++) {
    int w = i == nArg - 1 ? 0 : aExplainWidth[i];
    if (azArg[i]) {
      int nWidth = textWidth(azArg[i]);
      if (nWidth > w) w = nWidth;
    }
    if (i == 1 && p->aiExplainIndent && p->pCurStmt) {
      if (p->iExplainIndent < p->nExplainIndent) {
        printRaw(out, "%*.s", p->aiExplainIndent[p->iExplainIndent], "");
      }
      p->iExplainIndent++;
    }
    widthPrint(out, w, azArg[i] ? azArg[i] : p->zNullText);
    put(out, i == nArg - 1 ? "\n" : "  ");
  }
}

void renderAscii(ShellContext* p, int nArg, char** azArg, char** azCol) {
  FILE* out = p->pOut;
  if (p->nRowsShown++ == 0 && p->bHeaders) {
    for (int i = 0; i < nArg; i++) {
      if (i > 0) put(out, p->zColSep);
      put(out, azCol[i] ? azCol[i] : "");
    }
    put(out, p->zRowSep);
  }
  for (int i = 0; i < nArg; i++) {
    if (i > 0) put(out, p->zColSep);
    put(out, azArg[i] ? azArg[i] : p->zNullText);
  }
  put(out, p->zRowSep);
}

void renderEqp(ShellContext* p, int nArg, char** azArg) {
  if (nArg < 4) return;
  int iEqpId = azArg[0] ? std::atoi(azArg[0]) : 0;
  int iParentId = azArg[1] ? std::atoi(azArg[1]) : 0;
  planAppend(p, iEqpId, iParentId, azArg[3]);
}

void renderInsert(ShellContext* p, int nArg, char** azArg, char** azCol, int* aiType) {
  sqlite3_stmt* pStmt = p->pCurStmt;
  const bool bNewlines = (p->mFlags & ShellFlag::Newlines) != 0;
  setBinaryOutput(p->pOut, false);
  StagedOutput& out = beginRow(p);
  out.put("INSERT INTO ", 12);
  out.put(p->zInsertTable ? p->zInsertTable : "");
  if (p->bHeaders) {
    out.put('(');
    for (int i = 0; i < nArg; i++) {
      if (i > 0) out.put(',');
      writeIdentifier(out, azCol[i] ? azCol[i] : "");
    }
    out.put(')');
  }
  p->nRowsShown++;
  for (int i = 0; i < nArg; i++) {
    if (i > 0) {
      out.put(',');
    } else {
      out.put(" VALUES(", 8);
    }
    int eType = aiType ? aiType[i] : 0;
    if (azArg[i] == nullptr || eType == SQLITE_NULL) {
      out.put("NULL", 4);
    } else if (eType == SQLITE_TEXT) {
      // The byte count, not the terminator, says where a text ends: it may
      // hold NUL bytes.
      const size_t n =
          pStmt ? static_cast<size_t>(sqlite3_column_bytes(pStmt, i)) : std::strlen(azArg[i]);
      writeSqlText(out, azArg[i], n, bNewlines);
    } else if (eType == SQLITE_INTEGER) {
      out.put(azArg[i]);
    } else if (eType == SQLITE_FLOAT) {
      writeRealLiteral(out, sqlite3_column_double(pStmt, i), true);
    } else if (eType == SQLITE_BLOB && pStmt) {
      writeHexBlob(out, sqlite3_column_blob(pStmt, i), sqlite3_column_bytes(pStmt, i));
    } else if (isNumberText(azArg[i], nullptr)) {
      out.put(azArg[i]);
    } else if (bNewlines) {
      writeSqlStringKeepLineFeeds(out, azArg[i]);
    } else {
      writeSqlStringEscaped(out, azArg[i]);
    }
  }
  out.put(");\n", 3);
  endRow();
  setTextOutput(p->pOut, false);
}

void renderQuote(ShellContext* p, int nArg, char** azArg, char** azCol, int* aiType) {
  sqlite3_stmt* pStmt = p->pCurStmt;
  setBinaryOutput(p->pOut, false);
  StagedOutput& out = beginRow(p);
  if (p->nRowsShown++ == 0 && p->bHeaders) {
    for (int i = 0; i < nArg; i++) {
      if (i > 0) out.put(p->zColSep);
      writeSqlString(out, azCol[i]);
    }
    out.put(p->zRowSep);
  }
  for (int i = 0; i < nArg; i++) {
    if (i > 0) out.put(p->zColSep);
    int eType = aiType ? aiType[i] : 0;
    if (azArg[i] == nullptr || eType == SQLITE_NULL) {
      out.put("NULL", 4);
    } else if (eType == SQLITE_TEXT) {
      // A text holding NUL bytes would end at the first of them in quotes:
      // it is written as its bytes, cast back to text.
      const size_t n =
          pStmt ? static_cast<size_t>(sqlite3_column_bytes(pStmt, i)) : std::strlen(azArg[i]);
      if (std::memchr(azArg[i], 0, n) != nullptr) {
        writeSqlText(out, azArg[i], n, false);
      } else {
        writeSqlString(out, azArg[i]);
      }
    } else if (eType == SQLITE_INTEGER) {
      out.put(azArg[i]);
    } else if (eType == SQLITE_FLOAT) {
      // The formatter writes infinities as "Inf", which is no SQL literal.
      writeRealLiteral(out, sqlite3_column_double(pStmt, i), false);
    } else if (eType == SQLITE_BLOB && pStmt) {
      writeHexBlob(out, sqlite3_column_blob(pStmt, i), sqlite3_column_bytes(pStmt, i));
    } else if (isNumberText(azArg[i], nullptr)) {
      out.put(azArg[i]);
    } else {
      writeSqlString(out, azArg[i]);
    }
  }
  out.put(p->zRowSep);
  endRow();
  setTextOutput(p->pOut, false);
}

// The keys of the json objects, each written as "name": (with the comma that
// separates it from the previous member).  They are made once and reused for
// every row while the column names stay the same: the rows of one statement
// are recognised by the statement and its array of names, anything else
// compares the names.
class JsonKeys {
 public:
  const std::string& key(int i) const { return aKey_[static_cast<size_t>(i)]; }

  void prepare(const ShellContext* p, int nArg, char** azCol) {
    if (p->nRowsShown > 0 && p->pCurStmt != nullptr && p->pCurStmt == pStmt_ && azCol == azCol_ &&
        static_cast<size_t>(nArg) == aKey_.size()) {
      return;
    }
    pStmt_ = p->pCurStmt;
    azCol_ = azCol;
    if (matches(nArg, azCol)) return;
    aName_.clear();
    aKey_.clear();
    for (int i = 0; i < nArg; i++) {
      aName_.emplace_back(azCol[i] ? azCol[i] : "");
      char* zBuf = nullptr;
      size_t nBuf = 0;
      FILE* mem = open_memstream(&zBuf, &nBuf);
      if (mem == nullptr) exitOutOfMemory();
      if (i > 0) std::fputc(',', mem);
      writeJsonString(mem, azCol[i], -1);
      std::fputc(':', mem);
      std::fclose(mem);
      aKey_.emplace_back(zBuf, nBuf);
      std::free(zBuf);
    }
  }

 private:
  bool matches(int nArg, char** azCol) const {
    if (aName_.size() != static_cast<size_t>(nArg)) return false;
    for (int i = 0; i < nArg; i++) {
      if (aName_[static_cast<size_t>(i)] != (azCol[i] ? azCol[i] : "")) return false;
    }
    return true;
  }

  const sqlite3_stmt* pStmt_ = nullptr;
  char** azCol_ = nullptr;
  std::vector<std::string> aName_;
  std::vector<std::string> aKey_;
};

void renderJson(ShellContext* p, int nArg, char** azArg, char** azCol, int* aiType) {
  static JsonKeys keys;
  keys.prepare(p, nArg, azCol);
  StagedOutput& out = beginRow(p);
  sqlite3_stmt* pStmt = p->pCurStmt;
  out.put(p->nRowsShown++ == 0 ? "[{" : ",\n{");
  for (int i = 0; i < nArg; i++) {
    const std::string& zKey = keys.key(i);
    out.put(zKey.data(), zKey.size());
    int eType = aiType ? aiType[i] : 0;
    if (azArg[i] == nullptr || eType == SQLITE_NULL) {
      out.put("null", 4);
    } else if (eType == SQLITE_FLOAT) {
      writeJsonReal(out, sqlite3_column_double(pStmt, i));
    } else if (eType == SQLITE_BLOB && pStmt) {
      // Blob bytes are not text: bytes from 0x80 up are escaped so that the
      // output stays valid UTF-8.
      // One engine call for the column; its value holds the bytes as they are.
      sqlite3_value* pVal = sqlite3_column_value(pStmt, i);
      writeJsonBlob(out, sqlite3_value_blob(pVal), sqlite3_value_bytes(pVal));
    } else if (eType == SQLITE_TEXT) {
      writeJsonString(out, azArg[i], -1);
    } else if (eType != 0 || isNumberText(azArg[i], nullptr)) {
      out.put(azArg[i]);
    } else {
      // Without column types a value that is not a number is a string.
      writeJsonString(out, azArg[i], -1);
    }
  }
  out.put('}');
  endRow();
}

}  // namespace

int renderRow(ShellContext* p, int nArg, char** azArg, char** azCol, int* aiType) {
  if (azArg == nullptr) return 0;
  const OutputMode eMode = p->eModeNow;
  if (eMode != OutputMode::List && eMode != OutputMode::Csv && eMode != OutputMode::Json) {
    flushRowOutput();
  }
  switch (eMode) {
    case OutputMode::Line:
      renderLine(p, nArg, azArg, azCol);
      break;
    case OutputMode::List:
      renderList(p, nArg, azArg, azCol);
      break;
    case OutputMode::Semi:
      if (nArg > 0 && azArg[0]) writeSchemaStatement(p->pOut, azArg[0], ";\n");
      break;
    case OutputMode::Html:
      renderHtml(p, nArg, azArg, azCol);
      break;
    case OutputMode::Insert:
      renderInsert(p, nArg, azArg, azCol, aiType);
      break;
    case OutputMode::Quote:
      renderQuote(p, nArg, azArg, azCol, aiType);
      break;
    case OutputMode::Tcl:
      renderTcl(p, nArg, azArg, azCol);
      break;
    case OutputMode::Csv:
      renderCsv(p, nArg, azArg, azCol);
      break;
    case OutputMode::Explain:
      renderExplain(p, nArg, azArg, azCol);
      break;
    case OutputMode::Ascii:
      renderAscii(p, nArg, azArg, azCol);
      break;
    case OutputMode::Pretty:
      if (nArg == 1 && azArg[0]) printIndentedSchema(p->pOut, azArg[0]);
      break;
    case OutputMode::Eqp:
      renderEqp(p, nArg, azArg);
      break;
    case OutputMode::Json:
      renderJson(p, nArg, azArg, azCol, aiType);
      break;
    default:
      // column, markdown, table and box are rendered whole; count and off
      // print no rows.
      break;
  }
  return 0;
}

void setInsertTable(ShellContext* p, const char* zName) {
  std::free(p->zInsertTable);
  p->zInsertTable = nullptr;
  if (zName == nullptr) return;
  char cQuote = identQuoteChar(zName);
  if (cQuote == 0) {
    p->zInsertTable = checkAlloc(strdup(zName));
    return;
  }
  size_t n = std::strlen(zName);
  for (const char* z = zName; *z; z++) {
    if (*z == cQuote) n++;
  }
  char* zOut = checkAlloc(static_cast<char*>(std::malloc(n + 3)));
  p->zInsertTable = zOut;
  *zOut++ = cQuote;
  for (const char* z = zName; *z; z++) {
    *zOut++ = *z;
    if (*z == cQuote) *zOut++ = cQuote;
  }
  *zOut++ = cQuote;
  *zOut = 0;
}

bool isNumberText(const char* z, int* pbRealNum) {
  if (pbRealNum) *pbRealNum = 0;
  if (z == nullptr) return false;
  if (*z == '-' || *z == '+') z++;
  if (!isDigit(*z)) return false;
  while (isDigit(*z)) z++;
  if (*z == '.') {
    z++;
    if (!isDigit(*z)) return false;
    while (isDigit(*z)) z++;
    if (pbRealNum) *pbRealNum = 1;
  }
  if (*z == 'e' || *z == 'E') {
    z++;
    if (*z == '+' || *z == '-') z++;
    if (!isDigit(*z)) return false;
    while (isDigit(*z)) z++;
    if (pbRealNum) *pbRealNum = 1;
  }
  return *z == 0;
}
