// libFuzzer target for the value writers of the output modes: each writes the
// input as a literal, and the literal is read back by a parser that does not
// share the writer's code; the bytes must come back unchanged.
//
//   writeSqlString, writeSqlStringEscaped  SELECT <literal> through the engine
//   writeHexBlob                           SELECT <literal> through the engine
//   writeJsonString, writeJsonBlob         the engine's JSON parser (json_valid,
//                                          json_extract); a blob's bytes come back
//                                          as the code points U+0000..U+00FF
//   writeCString                           expandBackslashEscapes
//   writeCsvField                          the .import CSV reader
//   writeHtmlText                          a five-entity decoder, and no markup
//                                          character left in the output
//
// The C-string writers take the input up to its first zero byte; the JSON and
// blob writers take all of it.  The engine's JSON parser ends a string at an
// escaped zero (\u0000), so JSON is compared up to the first zero byte.
#include <sqlite3.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "shell/commands/ImportReader.h"
#include "shell/core/ArgParsers.h"
#include "shell/core/Output.h"
#include "tests/fuzz/FuzzShell.h"

namespace {

using fuzzshell::Budget;

[[noreturn]] void fail(std::string_view zWhat) {
  fuzzshell::fail("fuzz_literals", zWhat);
}

// Runs xWrite on a memory stream and returns what it wrote.
template <typename F>
std::string capture(F xWrite) {
  char* zBuf = nullptr;
  size_t nBuf = 0;
  FILE* out = open_memstream(&zBuf, &nBuf);
  if (out == nullptr) fail("open_memstream");
  xWrite(out);
  std::fclose(out);
  std::string z(zBuf, nBuf);
  std::free(zBuf);
  return z;
}

sqlite3* engine() {
  static Budget budget;
  static sqlite3* db = fuzzshell::openBounded(&budget);
  budget.nTicks = 0;
  return db;
}

// The value of SELECT <zExpr> as bytes; fails when the expression does not
// parse as exactly one complete expression.
std::string selectValue(const std::string& zExpr, int eTypeWanted, const char* zWriter) {
  sqlite3* db = engine();
  const std::string zSql = "SELECT " + zExpr;
  sqlite3_stmt* pStmt = nullptr;
  const char* zTail = nullptr;
  if (sqlite3_prepare_v2(db, zSql.c_str(), static_cast<int>(zSql.size()), &pStmt, &zTail) !=
      SQLITE_OK) {
    std::fprintf(stderr, "%s: %s\n", zWriter, sqlite3_errmsg(db));
    fail("the literal does not parse");
  }
  StmtPtr owner(pStmt);
  if (zTail != zSql.data() + zSql.size()) fail("text left after the literal");
  if (sqlite3_step(pStmt) != SQLITE_ROW) fail("the literal does not evaluate");
  if (sqlite3_column_type(pStmt, 0) != eTypeWanted) fail("the literal has another type");
  const void* p = eTypeWanted == SQLITE_BLOB
                      ? sqlite3_column_blob(pStmt, 0)
                      : static_cast<const void*>(sqlite3_column_text(pStmt, 0));
  const int n = sqlite3_column_bytes(pStmt, 0);
  return p ? std::string(static_cast<const char*>(p), static_cast<size_t>(n)) : std::string();
}

// json_valid and json_extract(..., '$') on zJson, bound as a parameter.
std::string parseJson(const std::string& zJson) {
  sqlite3* db = engine();
  StmtPtr pStmt = prepareStmt(db, "SELECT json_valid(?1), json_extract(?1, '$')");
  if (!pStmt) fail("prepare json");
  sqlite3_bind_text(pStmt.get(), 1, zJson.data(), static_cast<int>(zJson.size()), SQLITE_STATIC);
  if (sqlite3_step(pStmt.get()) != SQLITE_ROW) fail("json_extract failed");
  if (sqlite3_column_int(pStmt.get(), 0) != 1) fail("the writer's JSON is not valid");
  const auto* z = reinterpret_cast<const char*>(sqlite3_column_text(pStmt.get(), 1));
  const int n = sqlite3_column_bytes(pStmt.get(), 1);
  return z ? std::string(z, static_cast<size_t>(n)) : std::string();
}

void checkSql(const std::string& zText) {
  const std::string zPlain = capture([&](FILE* out) { writeSqlString(out, zText.c_str()); });
  if (selectValue(zPlain, SQLITE_TEXT, "writeSqlString") != zText) {
    fail("writeSqlString does not read back");
  }
  const std::string zEsc = capture([&](FILE* out) { writeSqlStringEscaped(out, zText.c_str()); });
  if (zEsc.find_first_of("\r\n") != std::string::npos) fail("line end left in an escaped literal");
  if (selectValue(zEsc, SQLITE_TEXT, "writeSqlStringEscaped") != zText) {
    fail("writeSqlStringEscaped does not read back");
  }
}

void checkBlob(std::string_view zBytes) {
  const std::string zHex = capture(
      [&](FILE* out) { writeHexBlob(out, zBytes.data(), static_cast<int>(zBytes.size())); });
  if (selectValue(zHex, SQLITE_BLOB, "writeHexBlob") != zBytes) {
    fail("writeHexBlob does not read back");
  }
}

void checkJson(std::string_view zBytes) {
  const std::string zJson = capture(
      [&](FILE* out) { writeJsonString(out, zBytes.data(), static_cast<int>(zBytes.size())); });
  const std::string_view zUpToZero = zBytes.substr(0, zBytes.find('\0'));
  if (parseJson(zJson) != zUpToZero) fail("writeJsonString does not read back");

  const std::string zBlob = capture(
      [&](FILE* out) { writeJsonBlob(out, zBytes.data(), static_cast<int>(zBytes.size())); });
  for (char c : zBlob) {
    if (static_cast<unsigned char>(c) >= 0x80) fail("writeJsonBlob wrote a byte above 0x7f");
  }
  // Every code point of the parsed text is one byte of the blob.
  const std::string zUtf8 = parseJson(zBlob);
  std::string zBack;
  for (size_t i = 0; i < zUtf8.size(); i++) {
    const auto c = static_cast<unsigned char>(zUtf8[i]);
    if (c < 0x80) {
      zBack += static_cast<char>(c);
    } else if ((c & 0xe0) == 0xc0 && c <= 0xc3 && i + 1 < zUtf8.size()) {
      zBack += static_cast<char>(((c & 0x03) << 6) | (zUtf8[++i] & 0x3f));
    } else {
      fail("writeJsonBlob gave a code point above U+00FF");
    }
  }
  if (zBack != zUpToZero) fail("writeJsonBlob does not read back");
}

void checkCString(const std::string& zText) {
  std::string zC = capture([&](FILE* out) { writeCString(out, zText.c_str()); });
  if (zC.size() < 2 || zC.front() != '"' || zC.back() != '"') fail("writeCString: no quotes");
  std::string zInner = zC.substr(1, zC.size() - 2);
  for (size_t i = 0; i < zInner.size(); i++) {
    const auto c = static_cast<unsigned char>(zInner[i]);
    if (c < 0x20 || c >= 0x7f) fail("writeCString left a byte outside printable ASCII");
    if (c == '\\') {
      i++;
    } else if (c == '"') {
      fail("writeCString left a bare double quote");
    }
  }
  expandBackslashEscapes(zInner.data());
  if (std::string(zInner.c_str()) != zText) fail("writeCString does not read back");
}

void checkCsv(const std::string& zText, ShellContext* p) {
  for (const char* zSep : {",", "|", ";"}) {
    setSettingText(p->zColSep, zSep);
    std::string zCsv = capture([&](FILE* out) {
      FILE* pSaved = p->pOut;
      p->pOut = out;
      writeCsvField(p, zText.c_str(), true);
      writeCsvField(p, zText.c_str(), false);
      p->pOut = pSaved;
    });
    zCsv += '\n';
    ImportReader r{};
    r.zSourceName = "fuzz";
    r.iLine = 1;
    r.iColSep = zSep[0];
    r.iRowSep = '\n';
    setImportMemoryInput(&r, zCsv.data(), zCsv.size());
    for (int iField = 0; iField < 2; iField++) {
      const char* zField = readCsvField(&r);
      if (zField == nullptr) fail("writeCsvField: the reader found no field");
      if (std::string(zField, static_cast<size_t>(r.nField)) != zText) {
        fail("writeCsvField does not read back");
      }
      if (r.iTerm != (iField == 0 ? zSep[0] : '\n')) fail("writeCsvField: field ends elsewhere");
    }
    closeImportReader(&r);
  }
}

void checkHtml(const std::string& zText) {
  const std::string zHtml = capture([&](FILE* out) { writeHtmlText(out, zText.c_str()); });
  if (zHtml.find_first_of("<>\"'") != std::string::npos) fail("markup character left in HTML");
  static const struct {
    std::string_view zEntity;
    char c;
  } aEntity[] = {{"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}, {"&quot;", '"'}, {"&#39;", '\''}};
  std::string zBack;
  for (size_t i = 0; i < zHtml.size();) {
    bool bFound = false;
    if (zHtml[i] == '&') {
      for (const auto& e : aEntity) {
        if (zHtml.compare(i, e.zEntity.size(), e.zEntity) == 0) {
          zBack += e.c;
          i += e.zEntity.size();
          bFound = true;
          break;
        }
      }
      if (!bFound) fail("bare ampersand in HTML");
    } else {
      zBack += zHtml[i++];
    }
  }
  if (zBack != zText) fail("writeHtmlText does not read back");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t nData) {
  if (nData > 20000) return 0;
  static ShellContext ctx;
  fuzzshell::resetContext(&ctx);
  const std::string_view zBytes(reinterpret_cast<const char*>(aData), nData);
  const std::string zText(zBytes.substr(0, zBytes.find('\0')));
  checkSql(zText);
  checkBlob(zBytes);
  checkJson(zBytes);
  checkCString(zText);
  checkCsv(zText, &ctx);
  checkHtml(zText);
  return 0;
}
