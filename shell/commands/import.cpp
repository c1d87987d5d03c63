// .import: loads delimited text from a file or a command into a table.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "shell/commands/Commands.h"
#include "shell/commands/Dispatch.h"
#include "shell/commands/ImportColumns.h"
#include "shell/commands/ImportJson.h"
#include "shell/commands/ImportReader.h"
#include "shell/commands/ImportTypes.h"
#include "shell/core/ArgParsers.h"
#include "shell/core/OpenDatabase.h"
#include "shell/core/SafeMode.h"
#include "shell/core/ShellContext.h"
#include "shell/core/Output.h"
#include "shell/core/Progress.h"

namespace {

// Closes the reader on every way out of the command.
struct ReaderGuard {
  ImportReader* p;
  ~ReaderGuard() { closeImportReader(p); }
};

[[noreturn]] void closeAndExitOutOfMemory(ImportReader* p) {
  closeImportReader(p);
  exitOutOfMemory();
}

int usageError(ShellContext* p, const char* zFormat, const char* zWord) {
  printConsole(p->pOut, zFormat, zWord);
  printHelpLines(p->pOut, "import");
  return 1;
}

// The separators of the current output mode, checked for use by the readers.
bool separatorsFromMode(ShellContext* p, ImportReader* pCtx) {
  if (p->zColSep[0] == 0) {
    std::fputs("Error: non-null column separator required for import\n", stderr);
    return false;
  }
  if (p->zColSep[1] != 0) {
    std::fputs("Error: multi-character column separators not allowed for import\n", stderr);
    return false;
  }
  if (p->zRowSep[0] == 0) {
    std::fputs("Error: non-null row separator required for import\n", stderr);
    return false;
  }
  if (p->eMode == OutputMode::Csv && std::strcmp(p->zRowSep, "\r\n") == 0) {
    // The readers drop a carriage return before a line feed themselves.
    setSettingText(p->zRowSep, "\n");
  }
  if (p->zRowSep[1] != 0) {
    std::fputs("Error: multi-character row separators not allowed for import\n", stderr);
    return false;
  }
  pCtx->iColSep = static_cast<unsigned char>(p->zColSep[0]);
  pCtx->iRowSep = static_cast<unsigned char>(p->zRowSep[0]);
  return true;
}

// Opens FILE, or runs "|command" with a read pipe.
bool openImportInput(ImportReader* pCtx, const char* zFile) {
  if (zFile[0] == '|') {
    std::fflush(stdout);
    pCtx->pInput = popen(zFile + 1, "r");
    pCtx->zSourceName = "<pipe>";
    pCtx->xCloseInput = pclose;
  } else {
    pCtx->pInput = std::fopen(zFile, "rb");
    pCtx->xCloseInput = std::fclose;
    struct stat st;
    if (pCtx->pInput && (fstat(fileno(pCtx->pInput), &st) != 0 || S_ISDIR(st.st_mode))) {
      std::fclose(pCtx->pInput);
      pCtx->pInput = nullptr;
    }
  }
  if (pCtx->pInput == nullptr) {
    printConsole(stderr, "Error: cannot open \"%s\"\n", zFile);
    return false;
  }
  return true;
}

// Closes the input.  A command that failed (a non-zero exit status, or ended
// by a signal) is reported and makes the result false; so is a file that
// could not be closed cleanly.
bool closeImportInput(ImportReader* pCtx, const char* zFile) {
  if (pCtx->pInput == nullptr || pCtx->xCloseInput == nullptr) return true;
  const int rcClose = pCtx->xCloseInput(pCtx->pInput);
  pCtx->pInput = nullptr;
  if (zFile[0] != '|') return true;
  if (rcClose == -1) {
    printConsole(stderr, "Error: cannot close the command \"%s\"\n", zFile + 1);
    return false;
  }
  if (WIFEXITED(rcClose)) {
    if (WEXITSTATUS(rcClose) == 0) return true;
    printConsole(stderr, "Error: command \"%s\" exited with status %d\n", zFile + 1,
                 WEXITSTATUS(rcClose));
  } else if (WIFSIGNALED(rcClose)) {
    printConsole(stderr, "Error: command \"%s\" was ended by signal %d\n", zFile + 1,
                 WTERMSIG(rcClose));
  } else {
    printConsole(stderr, "Error: command \"%s\" failed\n", zFile + 1);
  }
  return false;
}

// What the import learnt about the columns of the table it created.
struct CreatedColumns {
  int nCol = 0;                     // columns created (0: the table existed)
  std::vector<const char*> azType;  // their declared types, with --detect-types
};

// The length of a field as the import binds it: text ends at a NUL byte.
int boundLength(const ImportReader* pCtx, const char* z) {
  return pCtx->bFieldHasNul ? static_cast<int>(std::strlen(z)) : pCtx->nField;
}

// Reads the records after the header once, quietly, narrowing the type of each
// of the nCol columns, then goes back to the first of them.  False when the
// input cannot be read again.
bool scanColumnTypes(ImportReader* pCtx, ImportFieldReader xRead, int nCol,
                     std::vector<ImportColumnType>* paType) {
  const long long iOffset = importInputOffset(pCtx);
  const int iLine = pCtx->iLine;
  const int iTerm = pCtx->iTerm;
  if (iOffset < 0) return false;
  paType->assign(static_cast<size_t>(nCol), ImportColumnType{});
  pCtx->bQuiet = true;
  while (pCtx->iTerm != -1) {
    int i = 0;
    for (; i < nCol; i++) {
      const char* z = xRead(pCtx);
      if (z == nullptr) break;
      (*paType)[static_cast<size_t>(i)].add(z, boundLength(pCtx, z));
      if (pCtx->iTerm != pCtx->iColSep) break;
    }
    while (pCtx->iTerm == pCtx->iColSep && xRead(pCtx)) {
    }
  }
  pCtx->bQuiet = false;
  pCtx->iLine = iLine;
  pCtx->iTerm = iTerm;
  return nInterrupts > 0 || seekImportInput(pCtx, iOffset);
}

// Runs the bound INSERT of one record (rcBind: how its binding went) and counts it, added or
// failed; a failure is reported with the record's line.  Returns false when the failure took
// the whole transaction with it (a full disk, an I/O error, a trigger's RAISE(ROLLBACK)): the
// rows before are gone, and the import must stop there.
bool insertRecord(sqlite3* db, sqlite3_stmt* pInsert, int rcBind, ImportReader* pCtx, int iLine,
                  TerminalProgress* pProgress) {
  const char* zError = nullptr;
  if (rcBind != SQLITE_OK) {
    zError = sqlite3_errstr(rcBind);
  } else {
    sqlite3_step(pInsert);
    if (sqlite3_reset(pInsert) != SQLITE_OK) zError = sqlite3_errmsg(db);
  }
  if (zError == nullptr) {
    pCtx->nRowsAdded++;
    return true;
  }
  pProgress->finish();
  printConsole(stderr, "%s:%d: INSERT failed: %s\n", pCtx->zSourceName, iLine, zError);
  pCtx->nRowErrors++;
  if (sqlite3_get_autocommit(db) == 0) return true;
  printConsole(stderr,
               "%s:%d: import stopped: the transaction was rolled back, "
               "so the %d rows before this line are not in the table\n",
               pCtx->zSourceName, iLine, pCtx->nRowsAdded);
  return false;
}

// Tells which columns the collector renamed (zRenames, freed here; nothing when null): on
// standard output when the console is read interactively (the input stream is then null),
// else on standard error.
void reportRenamedColumns(ShellContext* p, const char* zSource, char* zRenames) {
  if (zRenames == nullptr) return;
  const bool bInteractive = bStdinIsTty && p->pIn == nullptr;
  printConsole(bInteractive ? p->pOut : stderr,
               "Columns renamed during .import %s due to duplicates:\n%s\n", zSource, zRenames);
  sqlite3_free(zRenames);
}

// Reads the first record as column names and creates the table from them;
// with bDetectTypes every column is declared with the type of its values.
bool createTableFromHeader(ShellContext* p, ImportReader* pCtx, ImportFieldReader xRead,
                           const char* zFile, const char* zFullTabName, int nVerbose,
                           bool bDetectTypes, CreatedColumns* pCreated) {
  SqlitePtr zCreate(sqlite3_mprintf("CREATE TABLE %s", zFullTabName));
  if (!zCreate) closeAndExitOutOfMemory(pCtx);
  // Past the connection's column limit the table cannot be made anyway: one
  // name more than the limit is enough for the statement to fail.
  const int nMaxNames = sqlite3_limit(p->db, SQLITE_LIMIT_COLUMN, -1) + 1;
  int nNames = 0;
  sqlite3* dbCols = nullptr;
  while (const char* z = xRead(pCtx)) {
    if (nNames < nMaxNames) {
      importColumnNames(z, &dbCols, nullptr);
      nNames++;
    }
    if (pCtx->iTerm != pCtx->iColSep) break;
  }
  if (bDetectTypes && dbCols != nullptr && pCtx->iTerm != -1) {
    std::vector<ImportColumnType> aType;
    if (!scanColumnTypes(pCtx, xRead, nNames, &aType)) {
      importColumnNames(nullptr, &dbCols, nullptr);
      printConsole(stderr, "%s: cannot read the input a second time to detect types\n",
                   pCtx->zSourceName);
      return false;
    }
    pCreated->azType.clear();
    for (const auto& t : aType) pCreated->azType.push_back(t.declared());
    importColumnTypes(dbCols, pCreated->azType.data(), static_cast<int>(aType.size()));
  }
  pCreated->nCol = nNames;
  if (pCreated->azType.empty()) pCreated->azType.assign(static_cast<size_t>(nNames), "TEXT");
  char* zRenames = nullptr;
  char* zColDefs = importColumnNames(nullptr, &dbCols, &zRenames);
  reportRenamedColumns(p, pCtx->zSourceName, zRenames);
  if (zColDefs == nullptr) {
    printConsole(stderr, "%s: empty file\n", pCtx->zSourceName);
    if (nInterrupts == 0) closeImportInput(pCtx, zFile);
    return false;
  }
  zCreate.reset(sqlite3_mprintf("%z%z\n", zCreate.release(), zColDefs));
  if (!zCreate) closeAndExitOutOfMemory(pCtx);
  if (nVerbose >= 1) printConsole(p->pOut, "%s\n", zCreate.get());
  if (sqlite3_exec(p->db, zCreate.get(), nullptr, nullptr, nullptr) != SQLITE_OK) {
    printConsole(stderr, "%s failed:\n%s\n", zCreate.get(), sqlite3_errmsg(p->db));
    return false;
  }
  return true;
}

// The fields of one record, gathered in one buffer that is reused from record
// to record, and bound only once the record is complete.  The engine then
// reads them in place (SQLITE_STATIC) instead of copying each one: the buffer
// does not change between the binding and the step, and every parameter is
// bound afresh before each step.
struct RecordFields {
  char* z = nullptr;  // engine allocation
  sqlite3_int64 n = 0;
  sqlite3_int64 nAlloc = 0;
  std::vector<sqlite3_int64> aOffset;
  std::vector<int> aLen;  // -1 binds NULL

  explicit RecordFields(int nCol)
      : aOffset(static_cast<size_t>(nCol)), aLen(static_cast<size_t>(nCol), -1) {}
  ~RecordFields() { sqlite3_free(z); }

  void add(int i, const char* zField, int nField) {
    if (z == nullptr || n + nField > nAlloc) {  // an empty text needs a non-null pointer
      const sqlite3_int64 nNew = 2 * nAlloc + nField + 4096;
      z = static_cast<char*>(sqlite3_realloc64(z, static_cast<sqlite3_uint64>(nNew)));
      checkAlloc(z);
      nAlloc = nNew;
    }
    if (nField > 0) std::memcpy(z + n, zField, static_cast<size_t>(nField));
    aOffset[static_cast<size_t>(i)] = n;
    aLen[static_cast<size_t>(i)] = nField;
    n += nField;
  }
  void addNull(int i) { aLen[static_cast<size_t>(i)] = -1; }
  void addOrNull(int i, const char* zField, int nField, bool bEmptyNull) {
    if (nField == 0 && bEmptyNull) {
      addNull(i);
    } else {
      add(i, zField, nField);
    }
  }

  // Binds every column; the first failure's code, or SQLITE_OK.
  int bind(sqlite3_stmt* pStmt) const {
    int rc = SQLITE_OK;
    for (size_t i = 0; i < aLen.size(); i++) {
      const int iParam = static_cast<int>(i) + 1;
      const int rcParam =
          aLen[i] < 0 ? sqlite3_bind_null(pStmt, iParam)
                      : sqlite3_bind_text(pStmt, iParam, z + aOffset[i], aLen[i], SQLITE_STATIC);
      if (rc == SQLITE_OK) rc = rcParam;
    }
    return rc;
  }
};
// One line on standard error: rows added and rejected, records filled or cut,
// and the columns the import created with their declared types.
void printSummary(sqlite3* db, const ImportReader& sCtx, const char* zSchema, const char* zTable,
                  const CreatedColumns& created, int nShortRows, int nLongRows) {
  printConsole(
      stderr,
      "%s: %d rows added, %d rejected, %d short (filled with NULL), %d long (extras ignored); ",
      sCtx.zSourceName, sCtx.nRowsAdded, sCtx.nRowErrors, nShortRows, nLongRows);
  if (created.nCol == 0) {
    printConsole(stderr, "no columns created\n");
    return;
  }
  int rc;
  StmtPtr pStmt =
      prepareStmt(db,
                  zSchema ? "SELECT group_concat(iif(type='', name, name||' '||type), ', ')"
                            " FROM pragma_table_info(?1, ?2)"
                          : "SELECT group_concat(iif(type='', name, name||' '||type), ', ') FROM "
                            "pragma_table_info(?1)",
                  &rc);
  const char* zColumns = nullptr;
  if (pStmt) {
    sqlite3_bind_text(pStmt.get(), 1, zTable, -1, SQLITE_STATIC);
    if (zSchema) sqlite3_bind_text(pStmt.get(), 2, zSchema, -1, SQLITE_STATIC);
    if (sqlite3_step(pStmt.get()) == SQLITE_ROW) {
      zColumns = reinterpret_cast<const char*>(sqlite3_column_text(pStmt.get(), 0));
    }
  }
  printConsole(stderr, "%d columns created: %s\n", created.nCol, zColumns ? zColumns : "?");
}

// The values of one JSON object by column, gathered in buffers reused from
// object to object and bound once the object is complete (texts in place).
struct JsonRecord {
  std::vector<int> aType;  // SQLITE_NULL for a key the object lacks
  std::vector<sqlite3_int64> aInt;
  std::vector<double> aReal;
  RecordFields texts;

  explicit JsonRecord(int nCol)
      : aType(static_cast<size_t>(nCol), SQLITE_NULL),
        aInt(static_cast<size_t>(nCol)),
        aReal(static_cast<size_t>(nCol)),
        texts(nCol) {}

  void clear() {
    std::fill(aType.begin(), aType.end(), SQLITE_NULL);
    texts.n = 0;
  }
  void set(int i, sqlite3_value* pValue, bool bEmptyNull) {
    const size_t k = static_cast<size_t>(i);
    aType[k] = sqlite3_value_type(pValue);
    if (aType[k] == SQLITE_INTEGER) {
      aInt[k] = sqlite3_value_int64(pValue);
    } else if (aType[k] == SQLITE_FLOAT) {
      aReal[k] = sqlite3_value_double(pValue);
    } else if (aType[k] != SQLITE_NULL) {
      const char* z = reinterpret_cast<const char*>(sqlite3_value_text(pValue));
      const int n = sqlite3_value_bytes(pValue);
      if (z == nullptr || (n == 0 && bEmptyNull)) {
        aType[k] = SQLITE_NULL;
      } else {
        aType[k] = SQLITE_TEXT;
        texts.add(i, z, n);
      }
    }
  }
  int bind(sqlite3_stmt* pStmt) const {
    int rc = SQLITE_OK;
    for (size_t k = 0; k < aType.size(); k++) {
      const int iParam = static_cast<int>(k) + 1;
      int rcParam;
      switch (aType[k]) {
        case SQLITE_INTEGER:
          rcParam = sqlite3_bind_int64(pStmt, iParam, aInt[k]);
          break;
        case SQLITE_FLOAT:
          rcParam = sqlite3_bind_double(pStmt, iParam, aReal[k]);
          break;
        case SQLITE_TEXT:
          rcParam = sqlite3_bind_text(pStmt, iParam, texts.z + texts.aOffset[k], texts.aLen[k],
                                      SQLITE_STATIC);
          break;
        default:
          rcParam = sqlite3_bind_null(pStmt, iParam);
      }
      if (rc == SQLITE_OK) rc = rcParam;
    }
    return rc;
  }
};

// What a JSON value says about the declared type of its column.
ImportValueKind jsonValueKind(sqlite3_value* pValue) {
  switch (sqlite3_value_type(pValue)) {
    case SQLITE_NULL:
      return ImportValueKind::Empty;
    case SQLITE_INTEGER:
      return ImportValueKind::Integer;  // true and false too
    case SQLITE_FLOAT:
      return ImportValueKind::Real;
    default:
      return ImportValueKind::Text;  // a string, an array or an object
  }
}

// The keys of a JSON import and the columns they go to.  For a new table the
// keys in order of first appearance are its columns; for an existing one a key
// goes to the column of its name, ignoring case.  Looking a key up allocates
// nothing once it has been seen.
class JsonKeys {
 public:
  // Columns of an existing table, by name.
  void setTableColumns(std::vector<std::string> azColumn) {
    azTableColumn_ = std::move(azColumn);
    bExisting_ = true;
  }
  // The column of the key z (n bytes), adding it as a new column when the
  // table is new; -1 for a key that is not a column.  *pbNew is set when the
  // key was not seen before.
  int find(const char* z, int n, size_t iPos, bool* pbNew) {
    *pbNew = false;
    if (iPos < aPosCache_.size()) {
      // Objects mostly repeat their keys in the same order.
      const int iCached = aPosCache_[iPos];
      if (iCached >= 0 && azKeyOfIndex_[static_cast<size_t>(iCached)].size() == size_t(n) &&
          std::memcmp(azKeyOfIndex_[static_cast<size_t>(iCached)].data(), z, size_t(n)) == 0) {
        return aIndex_[static_cast<size_t>(iCached)];
      }
    } else {
      aPosCache_.resize(iPos + 1, -1);
    }
    zBuf_.assign(z, static_cast<size_t>(n));
    auto it = aSlot_.find(zBuf_);
    int iSlot;
    if (it != aSlot_.end()) {
      iSlot = it->second;
    } else {
      *pbNew = true;
      int iColumn;
      if (bExisting_) {
        iColumn = -1;
        for (size_t i = 0; i < azTableColumn_.size(); i++) {
          if (azTableColumn_[i].size() == zBuf_.size() &&
              sqlite3_strnicmp(azTableColumn_[i].data(), zBuf_.data(), n) == 0) {
            iColumn = static_cast<int>(i);
            break;
          }
        }
      } else {
        iColumn = static_cast<int>(azColumnKey_.size());
        azColumnKey_.push_back(zBuf_);
      }
      iSlot = static_cast<int>(azKeyOfIndex_.size());
      azKeyOfIndex_.push_back(zBuf_);
      aIndex_.push_back(iColumn);
      aSlot_.emplace(zBuf_, iSlot);
    }
    aPosCache_[iPos] = iSlot;
    return aIndex_[static_cast<size_t>(iSlot)];
  }
  // The new table's columns: its keys in order of first appearance.
  const std::vector<std::string>& columnKeys() const { return azColumnKey_; }

 private:
  bool bExisting_ = false;
  std::vector<std::string> azTableColumn_;
  std::vector<std::string> azColumnKey_;
  std::unordered_map<std::string, int> aSlot_;  // key -> slot
  std::vector<std::string> azKeyOfIndex_;       // slot -> key
  std::vector<int> aIndex_;                     // slot -> column or -1
  std::vector<int> aPosCache_;                  // member position -> slot last seen there
  std::string zBuf_;
};

// Reports a JSON element's error: the line, for an array the element, the reason.
void reportJsonError(const ImportReader& sCtx, const ImportJsonState& js, const char* zError) {
  if (js.bBetween && js.iElement > 0) {
    printConsole(stderr, "%s:%d: after element %d: %s\n", sCtx.zSourceName, js.iStartLine,
                 js.iElement, zError);
  } else if (js.eFormat == 1 && !js.bBetween) {
    printConsole(stderr, "%s:%d: element %d: %s\n", sCtx.zSourceName, js.iStartLine, js.iElement,
                 zError);
  } else {
    printConsole(stderr, "%s:%d: %s\n", sCtx.zSourceName, js.iStartLine, zError);
  }
}

// The members of a JSON object, parsed by the engine.
const char* const zJsonMembers = "SELECT key, value FROM json_each(?1)";

// A private in-memory connection that parses the JSON elements: on the
// import's own connection every parse would begin and end a read of the
// database file (its locks and checks), which costs more than the parse.
struct JsonParser {
  sqlite3* db = nullptr;
  StmtPtr pEach;

  JsonParser() {
    if (sqlite3_open(":memory:", &db) != SQLITE_OK) exitOutOfMemory();
    int rc;
    pEach = prepareStmt(db, zJsonMembers, &rc);
    if (rc == SQLITE_NOMEM) exitOutOfMemory();
  }
  ~JsonParser() {
    pEach.reset();
    sqlite3_close(db);
  }
  JsonParser(const JsonParser&) = delete;
  JsonParser& operator=(const JsonParser&) = delete;
};

// Reads every element once, quietly, collecting the keys in order of first
// appearance (and with bDetectTypes the kinds of their values), then goes
// back to the start.  False when the input cannot be read again.
bool scanJsonKeys(JsonParser* pParser, ImportReader* pCtx, ImportJsonState js, JsonKeys* pKeys,
                  bool bDetectTypes, std::vector<ImportColumnType>* paType) {
  const long long iOffset = importInputOffset(pCtx);
  const int iLine = pCtx->iLine;
  if (iOffset < 0) return false;
  StmtPtr& pEach = pParser->pEach;
  if (!pEach) return false;
  // The kind of each column's value in the object at hand: of a repeated key
  // only the last value is stored, so only it decides.
  std::vector<ImportValueKind> aKind;
  std::vector<int> aTouched;
  for (;;) {
    const char* zError = nullptr;
    const JsonElementResult e = readJsonElement(pCtx, &js, &zError);
    if (e == JsonElementResult::End || js.bFatal) break;
    if (e != JsonElementResult::Element || js.cFirst != '{') continue;
    sqlite3_bind_text(pEach.get(), 1, pCtx->zField, pCtx->nField, SQLITE_STATIC);
    size_t iPos = 0;
    aTouched.clear();
    int rcEach;
    while ((rcEach = sqlite3_step(pEach.get())) == SQLITE_ROW) {
      bool bNew;
      const char* zKey = reinterpret_cast<const char*>(sqlite3_column_text(pEach.get(), 0));
      const int iCol =
          pKeys->find(zKey ? zKey : "", sqlite3_column_bytes(pEach.get(), 0), iPos++, &bNew);
      if (bDetectTypes) {
        const size_t k = static_cast<size_t>(iCol);
        if (k >= aKind.size()) aKind.resize(k + 1, ImportValueKind::Empty);
        aKind[k] = jsonValueKind(sqlite3_column_value(pEach.get(), 1));
        aTouched.push_back(iCol);
      }
    }
    sqlite3_reset(pEach.get());
    if (rcEach != SQLITE_DONE) continue;  // a malformed object is not stored
    if (paType->size() < aKind.size()) paType->resize(aKind.size());
    for (const int iCol : aTouched) {
      (*paType)[static_cast<size_t>(iCol)].addKind(aKind[static_cast<size_t>(iCol)]);
    }
  }
  pCtx->iLine = iLine;
  return nInterrupts > 0 || seekImportInput(pCtx, iOffset);
}

// Creates the table of a JSON import: a column per key, in order of first
// appearance, declared with the kinds of its values (bDetectTypes) or with no
// type, so that each value keeps the type JSON gave it.
bool createTableFromJson(ShellContext* p, ImportReader* pCtx, const char* zFullTabName,
                         int nVerbose, bool bDetectTypes, JsonParser* pParser,
                         const ImportJsonState& js, JsonKeys* pKeys, CreatedColumns* pCreated) {
  std::vector<ImportColumnType> aType;
  if (!scanJsonKeys(pParser, pCtx, js, pKeys, bDetectTypes, &aType)) {
    printConsole(stderr, "%s: cannot read the input a second time\n", pCtx->zSourceName);
    return false;
  }
  const auto& azKey = pKeys->columnKeys();
  if (azKey.empty()) {
    printConsole(stderr, "%s: no object with a key to make a column of\n", pCtx->zSourceName);
    return false;
  }
  const int nMaxNames = sqlite3_limit(p->db, SQLITE_LIMIT_COLUMN, -1);
  if (static_cast<int>(azKey.size()) > nMaxNames) {
    printConsole(stderr, "%s: %d keys are more columns than a table can have (%d)\n",
                 pCtx->zSourceName, static_cast<int>(azKey.size()), nMaxNames);
    return false;
  }
  sqlite3* dbCols = nullptr;
  for (const auto& zKey : azKey) importColumnNames(zKey.c_str(), &dbCols, nullptr);
  aType.resize(azKey.size());
  pCreated->azType.clear();
  for (const auto& t : aType) pCreated->azType.push_back(bDetectTypes ? t.declared() : "");
  importColumnTypes(dbCols, pCreated->azType.data(), static_cast<int>(aType.size()));
  pCreated->nCol = static_cast<int>(azKey.size());
  char* zRenames = nullptr;
  char* zColDefs = importColumnNames(nullptr, &dbCols, &zRenames);
  reportRenamedColumns(p, pCtx->zSourceName, zRenames);
  if (zColDefs == nullptr) exitOutOfMemory();
  SqlitePtr zCreate(sqlite3_mprintf("CREATE TABLE %s%z\n", zFullTabName, zColDefs));
  if (!zCreate) exitOutOfMemory();
  if (nVerbose >= 1) printConsole(p->pOut, "%s\n", zCreate.get());
  if (sqlite3_exec(p->db, zCreate.get(), nullptr, nullptr, nullptr) != SQLITE_OK) {
    printConsole(stderr, "%s failed:\n%s\n", zCreate.get(), sqlite3_errmsg(p->db));
    return false;
  }
  return true;
}

// Whether the import's target table is missing, so that the import creates it.
bool tableIsMissing(sqlite3* db, const char* zSchema, const char* zTable) {
  SqlitePtr zSql(zSchema ? sqlite3_mprintf("SELECT * FROM \"%w\".\"%w\"", zSchema, zTable)
                         : sqlite3_mprintf("SELECT * FROM \"%w\"", zTable));
  if (!zSql) exitOutOfMemory();
  int rc;
  StmtPtr pStmt = prepareStmt(db, zSql.get(), &rc);
  return rc != SQLITE_OK && sqlite3_strglob("no such table: *", sqlite3_errmsg(db)) == 0;
}

// The directory for temporary files: $TEMP, else $TMP, else $TMPDIR, else /tmp.
const char* tempDirectory() {
  for (const char* zVar : {"TEMP", "TMP", "TMPDIR"}) {
    const char* z = std::getenv(zVar);
    if (z && z[0]) return z;
  }
  return "/tmp";
}

// Replaces an input that cannot be read twice (a command's output, a pipe, a
// terminal) by a private copy in a temporary file, which has no name from the
// start and so goes away with the stream.  The command's failure is reported
// as closing it always is, and clears *pbInputOk.  False when no copy could be
// made or Ctrl-C stopped the copying.
bool keepInputInTemporaryFile(ImportReader* pCtx, const char* zFile, bool* pbInputOk) {
  std::string zTemplate = std::string(tempDirectory()) + "/sqlsh-import-XXXXXX";
  const int fd = mkstemp(zTemplate.data());
  FILE* pTemp = nullptr;
  if (fd >= 0) {
    unlink(zTemplate.c_str());
    pTemp = fdopen(fd, "w+b");
    if (pTemp == nullptr) close(fd);
  }
  if (pTemp == nullptr) {
    printConsole(stderr, "Error: cannot create a temporary file in \"%s\"\n", tempDirectory());
    return false;
  }
  const bool bCopied = copyImportInput(pCtx, pTemp);
  if (nInterrupts == 0 && !closeImportInput(pCtx, zFile)) *pbInputOk = false;
  if (pCtx->pInput) pCtx->xCloseInput(pCtx->pInput);
  pCtx->pInput = pTemp;
  pCtx->xCloseInput = std::fclose;
  if (!bCopied) {
    if (nInterrupts == 0) {
      printConsole(stderr, "Error: cannot write a temporary file in \"%s\"\n", tempDirectory());
    }
    return false;
  }
  std::rewind(pTemp);
  return seekImportInput(pCtx, 0);
}
}  // namespace

int doImport(ShellContext* p, int nArg, char** azArg) {
  // Safe mode refuses this command before anything else is looked at.
  rejectInSafeMode(p, "cannot run .import in safe mode");
  ImportReader sCtx{};
  ReaderGuard guard{&sCtx};
  const char* zFile = nullptr;
  const char* zTable = nullptr;
  const char* zSchema = nullptr;
  int nVerbose = 0;
  int nSkip = 0;
  bool bUseMode = true;
  bool bDetectTypes = false;
  bool bEmptyNull = false;
  bool bJson = false;
  ImportFieldReader xRead = readCsvField;

  for (int i = 1; i < nArg; i++) {
    const char* z = azArg[i];
    if (z[0] == '-' && z[1] == '-') z++;
    if (z[0] != '-') {
      if (zFile == nullptr) {
        zFile = z;
      } else if (zTable == nullptr) {
        zTable = z;
      } else {
        return usageError(p, "ERROR: extra argument: \"%s\".  Usage:\n", z);
      }
    } else if (std::strcmp(z, "-v") == 0) {
      nVerbose++;
    } else if (std::strcmp(z, "-schema") == 0 && i < nArg - 1) {
      zSchema = azArg[++i];
    } else if (std::strcmp(z, "-skip") == 0 && i < nArg - 1) {
      nSkip = static_cast<int>(parseIntegerArg(azArg[++i]));
    } else if (std::strcmp(z, "-ascii") == 0) {
      sCtx.iColSep = zUnitSeparator[0];
      sCtx.iRowSep = zRecordSeparator[0];
      xRead = readAsciiField;
      bUseMode = false;
      bJson = false;
    } else if (std::strcmp(z, "-detect-types") == 0) {
      bDetectTypes = true;
    } else if (std::strcmp(z, "-empty-null") == 0) {
      bEmptyNull = true;
    } else if (std::strcmp(z, "-json") == 0) {
      bJson = true;
      bUseMode = false;
    } else if (std::strcmp(z, "-csv") == 0) {
      sCtx.iColSep = ',';
      sCtx.iRowSep = '\n';
      xRead = readCsvField;
      bUseMode = false;
      bJson = false;
    } else {
      return usageError(p, "ERROR: unknown option: \"%s\".  Usage:\n", z);
    }
  }
  if (zTable == nullptr) {
    return usageError(p, "ERROR: missing %s argument. Usage:\n",
                      zFile == nullptr ? "FILE" : "TABLE");
  }

  nInterrupts = 0;
  openDatabase(p, 0);
  if (p->db == nullptr) return 1;
  sqlite3* db = p->db;
  if (bUseMode) {
    if (!separatorsFromMode(p, &sCtx)) return 1;
    xRead = p->eMode == OutputMode::Ascii ? readAsciiField : readCsvField;
  }

  sCtx.zSourceName = zFile;
  sCtx.iLine = 1;
  sCtx.nMaxField = sqlite3_limit(db, SQLITE_LIMIT_LENGTH, -1);
  // Detecting types reads the input twice: only when the table is to be made.
  const bool bDetectTypesAsked = bDetectTypes;
  const bool bNewTable = (bDetectTypes || bJson) && tableIsMissing(db, zSchema, zTable);
  bDetectTypes = bDetectTypes && bNewTable;
  if (!openImportInput(&sCtx, zFile)) return 1;
  // The command's exit status, or a failure to read its output.
  bool bInputOk = true;
  if (struct stat st; (bDetectTypes || (bJson && bNewTable)) &&
                      (fstat(fileno(sCtx.pInput), &st) != 0 || !S_ISREG(st.st_mode) ||
                       lseek(fileno(sCtx.pInput), 0, SEEK_CUR) < 0)) {
    if (!keepInputInTemporaryFile(&sCtx, zFile, &bInputOk)) return 1;
  }

  if (!bJson && (nVerbose >= 2 || (nVerbose >= 1 && bUseMode))) {
    char zSep[2];
    zSep[1] = 0;
    printRaw(p->pOut, "Column separator ");
    zSep[0] = static_cast<char>(sCtx.iColSep);
    writeCString(p->pOut, zSep);
    printRaw(p->pOut, ", row separator ");
    zSep[0] = static_cast<char>(sCtx.iRowSep);
    writeCString(p->pOut, zSep);
    printRaw(p->pOut, "\n");
  }

  // The field buffer starts large enough for typical fields.
  sCtx.zField = static_cast<char*>(sqlite3_malloc64(200));
  if (sCtx.zField == nullptr) closeAndExitOutOfMemory(&sCtx);
  sCtx.nFieldAlloc = 200;

  ImportJsonState js;
  for (int i = 0; i < nSkip && sCtx.iTerm != -1; i++) {
    if (bJson) {
      const char* zError;
      if (readJsonElement(&sCtx, &js, &zError) == JsonElementResult::End || js.bFatal) break;
      continue;
    }
    while (xRead(&sCtx) && sCtx.iTerm == sCtx.iColSep) {
    }
  }
  JsonKeys keys;
  std::unique_ptr<JsonParser> pParser;
  if (bJson) pParser = std::make_unique<JsonParser>();

  SqlitePtr zFullTabName(zSchema ? sqlite3_mprintf("\"%w\".\"%w\"", zSchema, zTable)
                                 : sqlite3_mprintf("\"%w\"", zTable));
  SqlitePtr zSql(zFullTabName ? sqlite3_mprintf("SELECT * FROM %s", zFullTabName.get()) : nullptr);
  if (!zSql) closeAndExitOutOfMemory(&sCtx);

  int rc;
  CreatedColumns created;
  StmtPtr pStmt = prepareStmt(db, zSql.get(), &rc);
  if (rc != SQLITE_OK && sqlite3_strglob("no such table: *", sqlite3_errmsg(db)) == 0) {
    pStmt.reset();
    if (bJson) {
      // The elements skipped stay skipped: the keys are read from where they end.
      if (!createTableFromJson(p, &sCtx, zFullTabName.get(), nVerbose, bDetectTypes, pParser.get(),
                               js, &keys, &created)) {
        return 1;
      }
    } else if (!createTableFromHeader(p, &sCtx, xRead, zFile, zFullTabName.get(), nVerbose,
                                      bDetectTypes, &created)) {
      return 1;
    }
    pStmt = prepareStmt(db, zSql.get(), &rc);
  }
  if (rc != SQLITE_OK) {
    pStmt.reset();
    printConsole(stderr, "Error: %s\n", sqlite3_errmsg(db));
    return 1;
  }
  const int nCol = sqlite3_column_count(pStmt.get());
  if (bJson && created.nCol == 0) {
    std::vector<std::string> azColumn;
    for (int i = 0; i < nCol; i++) azColumn.emplace_back(sqlite3_column_name(pStmt.get(), i));
    keys.setTableColumns(std::move(azColumn));
  }
  pStmt.reset();

  {
    const sqlite3_int64 nByte =
        2 * static_cast<sqlite3_int64>(std::strlen(zSql.get())) + 2 * nCol + 20;
    SqlitePtr zInsert(static_cast<char*>(sqlite3_malloc64(static_cast<sqlite3_uint64>(nByte))));
    if (!zInsert) closeAndExitOutOfMemory(&sCtx);
    char* z = zInsert.get();
    sqlite3_snprintf(static_cast<int>(nByte), z, "INSERT INTO %s VALUES(?", zFullTabName.get());
    size_t j = std::strlen(z);
    for (int i = 1; i < nCol; i++) {
      z[j++] = ',';
      z[j++] = '?';
    }
    z[j++] = ')';
    z[j] = 0;
    if (nVerbose >= 2) printConsole(p->pOut, "Insert using: %s\n", z);
    pStmt = prepareStmt(db, z, &rc);
    if (rc != SQLITE_OK) {
      pStmt.reset();
      printConsole(stderr, "Error: %s\n", sqlite3_errmsg(db));
      return 1;
    }
  }
  zSql.reset();
  zFullTabName.reset();

  const bool bOwnTransaction = sqlite3_get_autocommit(db) != 0;
  if (bOwnTransaction && sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK) {
    // Without the transaction every row would be committed on its own.
    pStmt.reset();
    return reportDatabaseError(db);
  }
  // Set when the engine rolled the transaction back under the import: the
  // rows inserted so far are gone, and any later row would be committed on
  // its own, so the import stops there.
  bool bRolledBack = false;

  sqlite3_stmt* pInsert = pStmt.get();
  const bool bAsciiMode = p->eMode == OutputMode::Ascii;
  RecordFields record(nCol);
  // A file shows the bytes read of its size; a pipe the rows added so far.
  sqlite3_int64 nInputSize = 0;
  if (struct stat st;
      sCtx.pInput != nullptr && fstat(fileno(sCtx.pInput), &st) == 0 && S_ISREG(st.st_mode)) {
    nInputSize = st.st_size;
  }
  TerminalProgress progress(nInputSize > 0 ? "bytes" : "rows");
  // The bytes of the input consumed (those read ahead into the block not
  // counted), or the rows added when the input's size is unknown.
  auto showProgress = [&] {
    if (!progress.isDue()) return;
    if (nInputSize > 0) {
      const long nRead = std::ftell(sCtx.pInput);
      const sqlite3_int64 nUnread = static_cast<sqlite3_int64>(sCtx.nBlock - sCtx.iBlock);
      progress.update(nRead > nUnread ? nRead - nUnread : 0, nInputSize);
    } else {
      progress.update(sCtx.nRowsAdded, 0);
    }
  };
  int nShortRows = 0;  // records filled with NULL
  int nLongRows = 0;   // records cut to the table's width
  if (bJson) {
    JsonRecord values(nCol);
    StmtPtr& pEach = pParser->pEach;
    if (!pEach) {
      printConsole(stderr, "Error: %s\n", sqlite3_errmsg(pParser->db));
      sCtx.nRowErrors++;
      js.bDone = true;
    }
    while (!js.bDone && !bRolledBack) {
      showProgress();
      const char* zError = nullptr;
      const JsonElementResult e = readJsonElement(&sCtx, &js, &zError);
      if (e == JsonElementResult::End || nInterrupts) break;
      if (e == JsonElementResult::Element && js.cFirst != '{') zError = "not an object";
      values.clear();
      if (zError == nullptr) {
        sqlite3_bind_text(pEach.get(), 1, sCtx.zField, sCtx.nField, SQLITE_STATIC);
        size_t iPos = 0;
        int rcEach;
        while ((rcEach = sqlite3_step(pEach.get())) == SQLITE_ROW) {
          bool bNew;
          const char* zKey = reinterpret_cast<const char*>(sqlite3_column_text(pEach.get(), 0));
          const int nKey = sqlite3_column_bytes(pEach.get(), 0);
          const int iCol = keys.find(zKey ? zKey : "", nKey, iPos++, &bNew);
          if (iCol >= 0 && iCol < nCol) {
            values.set(iCol, sqlite3_column_value(pEach.get(), 1), bEmptyNull);
          } else if (bNew) {
            progress.finish();
            printConsole(stderr, "%s:%d: key \"%.*s\" is not a column of the table - ignored\n",
                         sCtx.zSourceName, js.iStartLine, nKey, zKey ? zKey : "");
          }
        }
        if (rcEach != SQLITE_DONE) zError = sqlite3_errmsg(pParser->db);
        sqlite3_reset(pEach.get());
      }
      if (zError != nullptr) {
        progress.finish();
        reportJsonError(sCtx, js, zError);
        sCtx.nRowErrors++;
        continue;
      }
      if (!insertRecord(db, pInsert, values.bind(pInsert), &sCtx, js.iStartLine, &progress)) {
        bRolledBack = true;
      }
    }
    sCtx.iTerm = -1;
  }
  while (sCtx.iTerm != -1 && !bRolledBack) {
    showProgress();
    const int iStartLine = sCtx.iLine;
    int rcBind = SQLITE_OK;  // a field the engine cannot take fails the row
    record.n = 0;
    int i = 0;
    for (; i < nCol; i++) {
      const char* z = xRead(&sCtx);
      if (z == nullptr && i == 0) break;
      // In ascii mode a record that is one empty field is a blank line, not data.
      if (bAsciiMode && i == 0 && (z == nullptr || z[0] == 0) && sCtx.iTerm != sCtx.iColSep) {
        break;
      }
      if (z == nullptr) {
        record.addNull(i);
      } else {
        if (sCtx.bFieldTooLong) rcBind = SQLITE_TOOBIG;
        int n = sCtx.nField;
        if (sCtx.bFieldHasNul) {
          // A field is text, which ends at its first NUL byte.
          n = static_cast<int>(std::strlen(z));
          progress.finish();
          printConsole(stderr, "%s:%d: field %d holds a NUL byte - cut at it\n", sCtx.zSourceName,
                       iStartLine, i + 1);
        }
        record.addOrNull(i, z, n, bEmptyNull);
      }
      if (i < nCol - 1 && sCtx.iTerm != sCtx.iColSep) {
        progress.finish();  // the message gets a line of its own
        printConsole(stderr,
                     "%s:%d: expected %d columns but found %d - filling the rest with NULL\n",
                     sCtx.zSourceName, iStartLine, nCol, i + 1);
        nShortRows++;
        for (int j = i + 1; j < nCol; j++) record.addNull(j);
        i = nCol;
        break;
      }
    }
    if (sCtx.iTerm == sCtx.iColSep) {
      do {
        xRead(&sCtx);
        i++;
      } while (sCtx.iTerm == sCtx.iColSep);
      progress.finish();
      printConsole(stderr, "%s:%d: expected %d columns but found %d - extras ignored\n",
                   sCtx.zSourceName, iStartLine, nCol, i);
      nLongRows++;
    }
    if (i >= nCol && nInterrupts == 0) {
      if (rcBind == SQLITE_OK) rcBind = record.bind(pInsert);
      if (!insertRecord(db, pInsert, rcBind, &sCtx, iStartLine, &progress)) bRolledBack = true;
    }
  }

  progress.finish();
  // After Ctrl-C or a rollback the command's output was not read to its end,
  // so its exit status says nothing.
  if (nInterrupts == 0 && !bRolledBack && !closeImportInput(&sCtx, zFile)) bInputOk = false;
  closeImportReader(&sCtx);
  pStmt.reset();
  rc = sCtx.nRowErrors > 0 || !bInputOk ? 1 : 0;
  if (nInterrupts > 0 && !bRolledBack) {
    // The rows read so far are kept, but the table is not the whole input: say where the
    // import stopped, and fail the command so that a script can tell.
    printConsole(stderr, "%s:%d: import interrupted: the %d rows before this line are kept\n",
                 sCtx.zSourceName, sCtx.iLine, sCtx.nRowsAdded);
    rc = 1;
  }
  if (bRolledBack) {
    sCtx.nRowsAdded = 0;
  } else if (bOwnTransaction &&
             sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
    rc = reportDatabaseError(db);
    // A commit that failed can leave the transaction open, to be committed
    // by whatever statement comes next: end it here, where it was reported.
    if (sqlite3_get_autocommit(db) == 0) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    printConsole(stderr, "%s: the import was rolled back: its %d rows are not in the table\n",
                 sCtx.zSourceName, sCtx.nRowsAdded);
    sCtx.nRowsAdded = 0;
  }
  if (nVerbose >= 1) {
    printRaw(p->pOut, "Added %d rows with %d errors using %d lines of input\n", sCtx.nRowsAdded,
             sCtx.nRowErrors, sCtx.iLine - 1);
  }
  // The account of the whole import: for a person at the console, and with -v
  // together with an option that already changes what the import does (-v alone
  // prints what it always has).
  const bool bAtTerminal = bStdinIsTty && p->pIn == nullptr && isatty(fileno(stderr));
  if (bAtTerminal || (nVerbose >= 1 && (bDetectTypesAsked || bEmptyNull || bJson))) {
    std::fflush(p->pOut);
    printSummary(db, sCtx, zSchema, zTable, created, nShortRows, nLongRows);
  }
  return rc;
}
