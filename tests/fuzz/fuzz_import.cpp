// libFuzzer target for the .import field readers, the JSON element reader and
// the column-name collector.  The first input byte picks the reader and the
// separators, the second an optional cap on the field length, whether the
// collector runs (it is slow: a scratch database per input) and whether the
// input is read as JSON; the rest is the input text.
//
// Checked on every input: both readers end; every field is zero-terminated,
// within the cap, and ends at a separator or the end of input; line numbers
// only count row separators; reading through a stream in blocks gives exactly
// what reading from memory gives; the first record's names always make a
// table the engine accepts.  Read as JSON: reading ends; every element is
// zero-terminated UTF-8 within the cap; an array's errors end it only when
// they say so; reading from a stream gives what reading from memory gives;
// the engine's JSON parser takes or refuses every element without failing
// otherwise.
#include <sqlite3.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "shell/commands/ImportColumns.h"
#include "shell/commands/ImportJson.h"
#include "shell/commands/ImportReader.h"
#include "shell/core/Output.h"

// The readers' warnings: formatted (so bad arguments still show up) and dropped.
void printConsole(FILE*, const char* zFormat, ...) {
  va_list ap;
  va_start(ap, zFormat);
  sqlite3_free(sqlite3_vmprintf(zFormat, ap));
  va_end(ap);
}

namespace {

struct Field {
  std::string text;
  int iTerm;
  int iLine;
  bool bTooLong;
};

[[noreturn]] void fail(const char* zWhat) {
  std::fprintf(stderr, "fuzz_import: %s\n", zWhat);
  std::abort();
}

std::vector<Field> readAll(ImportReader* r, ImportFieldReader xRead, size_t nInput) {
  std::vector<Field> fields;
  int iLinePrev = r->iLine;
  while (const char* z = xRead(r)) {
    if (z != r->zField || r->zField[r->nField] != 0) fail("field not terminated");
    if (r->nField < 0 || r->nField > (r->nMaxField ? r->nMaxField : nImportMaxField)) {
      fail("field beyond the cap");
    }
    if (r->iTerm != -1 && r->iTerm != r->iColSep && r->iTerm != r->iRowSep) fail("bad terminator");
    if (r->iLine < iLinePrev) fail("line number went back");
    iLinePrev = r->iLine;
    fields.push_back(
        {std::string(z, static_cast<size_t>(r->nField)), r->iTerm, r->iLine, r->bFieldTooLong});
    if (fields.size() > nInput + 1) fail("more fields than bytes");
  }
  if (r->iTerm != -1) fail("end of input without iTerm -1");
  return fields;
}

void initReader(ImportReader* r, int cSep, int rSep, int nMax, int nBlock = 0) {
  *r = ImportReader{};
  r->zSourceName = "fuzz";
  r->iLine = 1;
  r->iColSep = cSep;
  r->iRowSep = rSep;
  r->nMaxField = nMax;
  r->nBlockSize = nBlock;
}

void checkCollector(const std::vector<Field>& fields, int cSep) {
  sqlite3* dbCols = nullptr;
  int nNames = 0;
  for (const auto& f : fields) {
    importColumnNames(f.text.c_str(), &dbCols, nullptr);
    if (++nNames >= 40 || f.iTerm != cSep) break;
  }
  char* zRenamed = nullptr;
  char* zList = importColumnNames(nullptr, &dbCols, &zRenamed);
  if (dbCols != nullptr) fail("scratch database left open");
  if ((zList == nullptr) != (nNames == 0)) fail("column list missing");
  if (zList) {
    static sqlite3* db = nullptr;  // one database for every input: opening is slow
    if (db == nullptr) sqlite3_open(":memory:", &db);
    char* zSql = sqlite3_mprintf("CREATE TABLE t%s", zList);
    char* zErr = nullptr;
    if (sqlite3_exec(db, zSql, nullptr, nullptr, &zErr) != SQLITE_OK) {
      std::fprintf(stderr, "%s\n%s\n", zSql, zErr);
      fail("column list rejected");
    }
    sqlite3_free(zSql);
    sqlite3_exec(db, "DROP TABLE t", nullptr, nullptr, nullptr);
  }
  sqlite3_free(zList);
  sqlite3_free(zRenamed);
}

struct Element {
  std::string text;
  int iElement;
  int iStartLine;
  const char* zError;
};

std::vector<Element> readAllJson(ImportReader* r, size_t nInput) {
  std::vector<Element> elements;
  ImportJsonState s;
  for (;;) {
    const char* zError = nullptr;
    const JsonElementResult e = readJsonElement(r, &s, &zError);
    if (e == JsonElementResult::End) break;
    if ((e == JsonElementResult::Error) != (zError != nullptr)) fail("json: error without reason");
    if (e == JsonElementResult::Element) {
      if (r->zField[r->nField] != 0) fail("json: element not terminated");
      if (r->nField > (r->nMaxField ? r->nMaxField : nImportMaxField)) fail("json: beyond the cap");
      if (!isValidUtf8(reinterpret_cast<const unsigned char*>(r->zField),
                       static_cast<size_t>(r->nField))) {
        fail("json: element not UTF-8");
      }
    }
    elements.push_back({e == JsonElementResult::Element
                            ? std::string(r->zField, static_cast<size_t>(r->nField))
                            : std::string(),
                        s.iElement, s.iStartLine, zError});
    if (elements.size() > nInput + 1) fail("json: more elements than bytes");
    if (s.bFatal) {
      if (readJsonElement(r, &s, &zError) != JsonElementResult::End)
        fail("json: read past the end");
      break;
    }
  }
  return elements;
}

void checkJson(const uint8_t* z, size_t n, int nMax, int nBlock) {
  ImportReader r;
  initReader(&r, 0, 0, nMax);
  setImportMemoryInput(&r, z, n);
  const std::vector<Element> fromMemory = readAllJson(&r, n);
  closeImportReader(&r);
  if (n > 0) {
    FILE* f = fmemopen(const_cast<uint8_t*>(z), n, "rb");
    if (f) {
      initReader(&r, 0, 0, nMax, nBlock);
      r.pInput = f;
      r.xCloseInput = std::fclose;
      const std::vector<Element> fromStream = readAllJson(&r, n);
      closeImportReader(&r);
      if (fromStream.size() != fromMemory.size()) fail("json: stream and memory differ");
      for (size_t i = 0; i < fromStream.size(); i++) {
        const Element& a = fromStream[i];
        const Element& b = fromMemory[i];
        if (a.text != b.text || a.iElement != b.iElement || a.iStartLine != b.iStartLine ||
            (a.zError == nullptr) != (b.zError == nullptr) ||
            (a.zError && std::strcmp(a.zError, b.zError) != 0)) {
          fail("json: stream and memory differ");
        }
      }
    }
  }
  static sqlite3* db = nullptr;
  static sqlite3_stmt* pEach = nullptr;
  if (db == nullptr) {
    sqlite3_open(":memory:", &db);
    sqlite3_prepare_v2(db, "SELECT key, value FROM json_each(?1)", -1, &pEach, nullptr);
  }
  for (const auto& e : fromMemory) {
    if (e.zError || e.text.empty() || e.text[0] != '{') continue;
    sqlite3_bind_text(pEach, 1, e.text.data(), static_cast<int>(e.text.size()), SQLITE_STATIC);
    int rc;
    while ((rc = sqlite3_step(pEach)) == SQLITE_ROW) {
    }
    sqlite3_reset(pEach);
    if (rc != SQLITE_DONE && rc != SQLITE_ERROR) fail("json: the engine failed");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* aData, size_t nData) {
  if (nData < 2) return 0;
  if (aData[1] & 0x20) {
    checkJson(aData + 2, nData - 2, (aData[1] & 0x80) ? (aData[1] & 0x1F) : 0,
              1 + ((aData[0] >> 3) & 15));
    return 0;
  }
  static const int aSep[][2] = {{',', '\n'}, {0x1F, 0x1E}, {'|', '\n'}, {',', '\r'},
                                {'"', '\n'}, {'\t', '"'},  {',', ','},  {0, '\n'}};
  const unsigned mode = aData[0];
  const bool bAscii = (mode & 0x80) != 0;
  const int cSep = aSep[mode & 7][0];
  const int rSep = aSep[mode & 7][1];
  const int nMax = (aData[1] & 0x80) ? (aData[1] & 0x7F) : 0;
  const ImportFieldReader xRead = bAscii ? readAsciiField : readCsvField;
  const uint8_t* z = aData + 2;
  const size_t n = nData - 2;

  ImportReader r;
  initReader(&r, cSep, rSep, nMax);
  setImportMemoryInput(&r, z, n);
  std::vector<Field> fromMemory = readAll(&r, xRead, n);
  int nRowSeps = 0;
  for (size_t i = 0; i < n; i++) nRowSeps += z[i] == rSep;
  if (r.iLine > 1 + nRowSeps) fail("more lines than row separators");
  closeImportReader(&r);

  if (n > 0) {
    FILE* f = fmemopen(const_cast<uint8_t*>(z), n, "rb");
    if (f) {
      initReader(&r, cSep, rSep, nMax, 1 + ((mode >> 3) & 15));
      r.pInput = f;
      r.xCloseInput = std::fclose;
      std::vector<Field> fromStream = readAll(&r, xRead, n);
      closeImportReader(&r);
      if (fromStream.size() != fromMemory.size()) fail("stream and memory differ");
      for (size_t i = 0; i < fromStream.size(); i++) {
        if (fromStream[i].text != fromMemory[i].text ||
            fromStream[i].iTerm != fromMemory[i].iTerm ||
            fromStream[i].iLine != fromMemory[i].iLine) {
          fail("stream and memory differ");
        }
      }
    }
  }
  if (aData[1] & 0x40) checkCollector(fromMemory, cSep);
  return 0;
}
