// completion(PREFIX, WHOLELINE): an eponymous virtual table that walks four
// phases of candidate words (keywords, databases, schema objects, columns) and
// yields those that begin with the prefix, compared without regard to ASCII case.
#include "ext/completion/Completion.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

namespace {

// Columns of the declared table.
enum class CandidateColumn : int { candidate = 0, prefix = 1, wholeLine = 2, phase = 3 };

// Phases in the order visited; the numbers are what the phase column reports.
enum class CompletionPhase : int {
  keywords = 1,
  databases = 7,
  tables = 8,
  columns = 9,
  eof = 11,
};

// Bits of the plan number: which arguments filter receives, in this order.
enum CompletionPlan : int { planPrefix = 1, planWholeLine = 2 };

struct SqliteFree {
  void operator()(char* z) const { sqlite3_free(z); }
};
struct StmtFinalizer {
  void operator()(sqlite3_stmt* pStmt) const { sqlite3_finalize(pStmt); }
};
using SqliteText = std::unique_ptr<char, SqliteFree>;
using StmtPtr = std::unique_ptr<sqlite3_stmt, StmtFinalizer>;

struct CandidateTable : sqlite3_vtab {
  sqlite3* db = nullptr;
};

struct CandidateCursor : sqlite3_vtab_cursor {
  sqlite3* db = nullptr;
  int nMatchPrefix = 0;     // bytes of the prefix; 0 matches every word
  SqliteText zMatchPrefix;  // the prefix, or none
  int nWholeLine = 0;
  SqliteText zWholeLine;           // the whole input line, or none
  const char* zCurrent = nullptr;  // the current word, borrowed from the engine
  int nCurrent = 0;                // its length in bytes
  StmtPtr pPhaseStmt;              // the statement of the current phase, or none
  int64_t iRowNum = 0;
  CompletionPhase eCurPhase = CompletionPhase::keywords;
  int iKeyword = 0;  // next keyword to offer
};

CandidateCursor* asCursor(sqlite3_vtab_cursor* pCur) {
  return static_cast<CandidateCursor*>(pCur);
}

bool isWordByte(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

unsigned char foldAscii(unsigned char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

// True when the nPrefix bytes of zPrefix begin zWord (nWord bytes), ASCII
// letters compared without case.  Neither text needs a terminator.
bool beginsWith(const char* zWord, int nWord, const char* zPrefix, int nPrefix) {
  if (nWord < nPrefix) return false;
  for (int i = 0; i < nPrefix; i++) {
    if (foldAscii(static_cast<unsigned char>(zWord[i])) !=
        foldAscii(static_cast<unsigned char>(zPrefix[i]))) {
      return false;
    }
  }
  return true;
}

// An engine-allocated copy of n bytes plus a terminator; none when out of memory.
SqliteText copyBytes(const char* z, int n) {
  auto* zCopy = static_cast<char*>(sqlite3_malloc64(static_cast<sqlite3_uint64>(n) + 1));
  if (zCopy != nullptr) {
    if (n > 0) std::memcpy(zCopy, z, static_cast<size_t>(n));
    zCopy[n] = '\0';
  }
  return SqliteText(zCopy);
}

StmtPtr prepare(sqlite3* db, const char* zSql) {
  sqlite3_stmt* pStmt = nullptr;
  if (zSql == nullptr || sqlite3_prepare_v2(db, zSql, -1, &pStmt, nullptr) != SQLITE_OK) {
    sqlite3_finalize(pStmt);
    return nullptr;
  }
  return StmtPtr(pStmt);
}

// One SELECT per attached database, formatted with zFormat (which takes the
// text so far, the separator, and the database name once or twice), joined
// with UNION.  None when the list cannot be read or memory runs out.
StmtPtr prepareUnionOverDatabases(sqlite3* db, const char* zFormat, bool bNameTwice) {
  StmtPtr pList = prepare(db, "PRAGMA database_list");
  if (!pList) return nullptr;
  char* zSql = nullptr;
  const char* zSep = "";
  while (sqlite3_step(pList.get()) == SQLITE_ROW) {
    const auto* zDb = reinterpret_cast<const char*>(sqlite3_column_text(pList.get(), 1));
    if (zDb == nullptr) continue;
    // "%z" releases the text so far.
    zSql = bNameTwice ? sqlite3_mprintf(zFormat, zSql, zSep, zDb, zDb)
                      : sqlite3_mprintf(zFormat, zSql, zSep, zDb);
    if (zSql == nullptr) return nullptr;
    zSep = " UNION ";
  }
  SqliteText pSql(zSql);
  return prepare(db, pSql.get());
}

// Copies an argument's text into *pzOut and its byte count into *pnOut; an
// empty text leaves no copy.  False when out of memory (nothing kept).
bool copyArgument(sqlite3_value* pArg, SqliteText* pzOut, int* pnOut) {
  const auto* zText = reinterpret_cast<const char*>(sqlite3_value_text(pArg));
  int nText = sqlite3_value_bytes(pArg);
  if (zText == nullptr || nText <= 0) {
    // No text: a NULL, or a conversion that ran out of memory.
    if (sqlite3_value_type(pArg) != SQLITE_NULL && nText > 0) return false;
    *pnOut = 0;
    return true;
  }
  *pzOut = copyBytes(zText, nText);
  if (!*pzOut) return false;
  *pnOut = nText;
  return true;
}

void resetCursor(CandidateCursor* pCur) {
  pCur->zCurrent = nullptr;
  pCur->nCurrent = 0;
  pCur->zMatchPrefix.reset();
  pCur->nMatchPrefix = 0;
  pCur->zWholeLine.reset();
  pCur->nWholeLine = 0;
  pCur->pPhaseStmt.reset();
  pCur->iKeyword = 0;
}

int completionConnect(sqlite3* db, void*, int, const char* const*, sqlite3_vtab** ppVtab, char**) {
  sqlite3_vtab_config(db, SQLITE_VTAB_INNOCUOUS);
  int rc = sqlite3_declare_vtab(db,
                                "CREATE TABLE x("
                                "  candidate TEXT,"
                                "  prefix TEXT HIDDEN,"
                                "  wholeline TEXT HIDDEN,"
                                "  phase INT HIDDEN"
                                ")");
  if (rc != SQLITE_OK) return rc;
  auto* pNew = new (std::nothrow) CandidateTable{};
  if (pNew == nullptr) return SQLITE_NOMEM;
  pNew->db = db;
  *ppVtab = pNew;
  return SQLITE_OK;
}

int completionDisconnect(sqlite3_vtab* pVtab) {
  delete static_cast<CandidateTable*>(pVtab);
  return SQLITE_OK;
}

int completionOpen(sqlite3_vtab* pVtab, sqlite3_vtab_cursor** ppCursor) {
  auto* pCur = new (std::nothrow) CandidateCursor{};
  if (pCur == nullptr) return SQLITE_NOMEM;
  pCur->db = static_cast<CandidateTable*>(pVtab)->db;
  *ppCursor = pCur;
  return SQLITE_OK;
}

int completionClose(sqlite3_vtab_cursor* pCursor) {
  CandidateCursor* pCur = asCursor(pCursor);
  resetCursor(pCur);
  delete pCur;
  return SQLITE_OK;
}

int completionNext(sqlite3_vtab_cursor* pCursor) {
  CandidateCursor* pCur = asCursor(pCursor);
  pCur->iRowNum++;
  while (pCur->eCurPhase < CompletionPhase::eof) {
    int iCol = -1;  // column of the phase statement that holds the word
    CompletionPhase eNext = CompletionPhase::eof;
    switch (pCur->eCurPhase) {
      case CompletionPhase::keywords:
        if (pCur->iKeyword < sqlite3_keyword_count()) {
          sqlite3_keyword_name(pCur->iKeyword++, &pCur->zCurrent, &pCur->nCurrent);
        } else {
          pCur->zCurrent = nullptr;
          pCur->nCurrent = 0;
          pCur->eCurPhase = CompletionPhase::databases;
          continue;
        }
        break;
      case CompletionPhase::databases:
        if (!pCur->pPhaseStmt) pCur->pPhaseStmt = prepare(pCur->db, "PRAGMA database_list");
        iCol = 1;
        eNext = CompletionPhase::tables;
        break;
      case CompletionPhase::tables:
        if (!pCur->pPhaseStmt) {
          pCur->pPhaseStmt = prepareUnionOverDatabases(
              pCur->db, "%z%sSELECT name FROM \"%w\".sqlite_schema", false);
        }
        iCol = 0;
        eNext = CompletionPhase::columns;
        break;
      default:  // columns
        if (!pCur->pPhaseStmt) {
          pCur->pPhaseStmt = prepareUnionOverDatabases(
              pCur->db,
              "%z%sSELECT pti.name FROM \"%w\".sqlite_schema AS sm JOIN "
              "pragma_table_info(sm.name,%Q) AS pti WHERE sm.type='table'",
              true);
        }
        iCol = 0;
        eNext = CompletionPhase::eof;
        break;
    }
    if (iCol >= 0) {
      sqlite3_stmt* pStmt = pCur->pPhaseStmt.get();
      if (pStmt != nullptr && sqlite3_step(pStmt) == SQLITE_ROW) {
        pCur->zCurrent = reinterpret_cast<const char*>(sqlite3_column_text(pStmt, iCol));
        pCur->nCurrent = sqlite3_column_bytes(pStmt, iCol);
      } else {
        pCur->pPhaseStmt.reset();
        pCur->zCurrent = nullptr;
        pCur->nCurrent = 0;
        pCur->eCurPhase = eNext;
        continue;
      }
    }
    if (pCur->nMatchPrefix == 0 ||
        beginsWith(pCur->zCurrent, pCur->nCurrent, pCur->zMatchPrefix.get(), pCur->nMatchPrefix)) {
      break;
    }
  }
  return SQLITE_OK;
}

int completionColumn(sqlite3_vtab_cursor* pCursor, sqlite3_context* pCtx, int iColumn) {
  const CandidateCursor* pCur = asCursor(pCursor);
  switch (static_cast<CandidateColumn>(iColumn)) {
    case CandidateColumn::candidate:
      sqlite3_result_text(pCtx, pCur->zCurrent, pCur->nCurrent, SQLITE_TRANSIENT);
      break;
    case CandidateColumn::prefix:
      if (pCur->zMatchPrefix) {
        sqlite3_result_text(pCtx, pCur->zMatchPrefix.get(), pCur->nMatchPrefix, SQLITE_TRANSIENT);
      }
      break;
    case CandidateColumn::wholeLine:
      if (pCur->zWholeLine) {
        sqlite3_result_text(pCtx, pCur->zWholeLine.get(), pCur->nWholeLine, SQLITE_TRANSIENT);
      }
      break;
    case CandidateColumn::phase:
      sqlite3_result_int(pCtx, static_cast<int>(pCur->eCurPhase));
      break;
  }
  return SQLITE_OK;
}

int completionRowid(sqlite3_vtab_cursor* pCursor, sqlite_int64* pRowid) {
  *pRowid = asCursor(pCursor)->iRowNum;
  return SQLITE_OK;
}

int completionEof(sqlite3_vtab_cursor* pCursor) {
  return asCursor(pCursor)->eCurPhase >= CompletionPhase::eof;
}

int completionFilter(sqlite3_vtab_cursor* pCursor, int idxNum, const char*, int argc,
                     sqlite3_value** argv) {
  CandidateCursor* pCur = asCursor(pCursor);
  resetCursor(pCur);
  int iArg = 0;
  if ((idxNum & planPrefix) && iArg < argc) {
    if (!copyArgument(argv[iArg++], &pCur->zMatchPrefix, &pCur->nMatchPrefix)) {
      return SQLITE_NOMEM;
    }
  }
  if ((idxNum & planWholeLine) && iArg < argc) {
    if (!copyArgument(argv[iArg++], &pCur->zWholeLine, &pCur->nWholeLine)) return SQLITE_NOMEM;
  }
  if (pCur->zWholeLine && !pCur->zMatchPrefix) {
    size_t nRun = completionPrefixLength(
        std::string_view(pCur->zWholeLine.get(), static_cast<size_t>(pCur->nWholeLine)));
    pCur->nMatchPrefix = static_cast<int>(nRun);
    if (nRun > 0) {
      pCur->zMatchPrefix =
          copyBytes(pCur->zWholeLine.get() + pCur->nWholeLine - nRun, pCur->nMatchPrefix);
      if (!pCur->zMatchPrefix) {
        pCur->nMatchPrefix = 0;
        return SQLITE_NOMEM;
      }
    }
  }
  pCur->iRowNum = 0;
  pCur->eCurPhase = CompletionPhase::keywords;
  return completionNext(pCursor);
}

int completionBestIndex(sqlite3_vtab*, sqlite3_index_info* pInfo) {
  int iPrefix = -1;
  int iWholeLine = -1;
  bool bPrefixUnusable = false;
  bool bWholeLineUnusable = false;
  for (int i = 0; i < pInfo->nConstraint; i++) {
    const auto& constraint = pInfo->aConstraint[i];
    if (constraint.op != SQLITE_INDEX_CONSTRAINT_EQ) continue;
    switch (static_cast<CandidateColumn>(constraint.iColumn)) {
      case CandidateColumn::prefix:
        if (constraint.usable) {
          iPrefix = i;
        } else {
          bPrefixUnusable = true;
        }
        break;
      case CandidateColumn::wholeLine:
        if (constraint.usable) {
          iWholeLine = i;
        } else {
          bWholeLineUnusable = true;
        }
        break;
      default:
        break;
    }
  }
  // An argument whose value is not known yet (it comes from a table later in
  // the join) cannot be left to the engine to check afterwards: the rows would
  // have been produced without it and would all be rejected.  This plan is
  // refused so that the engine places the other table first.
  if ((bPrefixUnusable && iPrefix < 0) || (bWholeLineUnusable && iWholeLine < 0)) {
    return SQLITE_CONSTRAINT;
  }
  int idxNum = 0;
  int nArg = 0;
  if (iPrefix >= 0) {
    pInfo->aConstraintUsage[iPrefix].argvIndex = ++nArg;
    pInfo->aConstraintUsage[iPrefix].omit = 1;
    idxNum |= planPrefix;
  }
  if (iWholeLine >= 0) {
    pInfo->aConstraintUsage[iWholeLine].argvIndex = ++nArg;
    pInfo->aConstraintUsage[iWholeLine].omit = 1;
    idxNum |= planWholeLine;
  }
  pInfo->idxNum = idxNum;
  pInfo->estimatedCost = 5000.0 - 1000.0 * nArg;
  pInfo->estimatedRows = 500 - 100 * nArg;
  return SQLITE_OK;
}

sqlite3_module completionModule = {
    0,                     // iVersion
    nullptr,               // xCreate: eponymous only
    completionConnect,     // xConnect
    completionBestIndex,   // xBestIndex
    completionDisconnect,  // xDisconnect
    nullptr,               // xDestroy
    completionOpen,        // xOpen
    completionClose,       // xClose
    completionFilter,      // xFilter
    completionNext,        // xNext
    completionEof,         // xEof
    completionColumn,      // xColumn
    completionRowid,       // xRowid
    nullptr,               // xUpdate
    nullptr,               // xBegin
    nullptr,               // xSync
    nullptr,               // xCommit
    nullptr,               // xRollback
    nullptr,               // xFindMethod
    nullptr,               // xRename
    nullptr,               // xSavepoint
    nullptr,               // xRelease
    nullptr,               // xRollbackTo
    nullptr,               // xShadowName
};

}  // namespace

size_t completionPrefixLength(std::string_view zLine) {
  size_t n = 0;
  while (n < zLine.size() && isWordByte(static_cast<unsigned char>(zLine[zLine.size() - 1 - n]))) {
    n++;
  }
  return n;
}

int completionRegister(sqlite3* db) {
  return sqlite3_create_module(db, "completion", &completionModule, nullptr);
}
