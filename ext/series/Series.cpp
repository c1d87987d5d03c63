// generate_series(START, STOP, STEP): an eponymous virtual table whose hidden
// columns start, stop and step are the function's arguments.  The series is
// walked in place, one member per row, with no allocation after open.
#include "ext/series/Series.h"

#include <new>

namespace {

// Columns of the declared table.
enum class SeriesColumn : int { value = 0, start = 1, stop = 2, step = 3 };

// Bits of the plan number chosen by best-index and read back by filter.
enum SeriesPlan : int {
  planStart = 1,       // an equality on start is passed as an argument
  planStop = 2,        // an equality on stop is passed
  planStep = 4,        // an equality on step is passed
  planDescending = 8,  // produce the series in descending order
  planAscending = 16,  // an ascending ORDER BY on value was consumed
};

// Stop when no argument gives one: 2^32 - 1, as the function has always counted.
constexpr int64_t iDefaultLast = 0xFFFFFFFF;

struct StepCursor : sqlite3_vtab_cursor {
  int bDescending = 0;   // walking from the top member down to iFirst
  int64_t iRowNum = 0;   // row id of the current row, from 1
  int64_t iCurrent = 0;  // the current member
  int64_t iFirst = 0;    // start argument
  int64_t iLast = 0;     // stop argument
  // Step magnitude as reported by the step column.  A step of -2^63 has no
  // positive 64-bit form; it stays -2^63 here and is walked as 2^63.
  int64_t iIncrement = 0;
  bool bExhausted = false;  // the next member would have passed a bound
};

StepCursor* asCursor(sqlite3_vtab_cursor* pCur) {
  return static_cast<StepCursor*>(pCur);
}

// Magnitude of the stored step (1 .. 2^63).
uint64_t stepMagnitude(int64_t iIncrement) {
  return static_cast<uint64_t>(iIncrement);
}

int seriesConnect(sqlite3* db, void*, int, const char* const*, sqlite3_vtab** ppVtab, char**) {
  int rc = sqlite3_declare_vtab(db, "CREATE TABLE x(value,start hidden,stop hidden,step hidden)");
  if (rc != SQLITE_OK) return rc;
  auto* pNew = new (std::nothrow) sqlite3_vtab{};
  if (pNew == nullptr) return SQLITE_NOMEM;
  *ppVtab = pNew;
  sqlite3_vtab_config(db, SQLITE_VTAB_INNOCUOUS);
  return SQLITE_OK;
}

int seriesDisconnect(sqlite3_vtab* pVtab) {
  delete pVtab;
  return SQLITE_OK;
}

int seriesOpen(sqlite3_vtab*, sqlite3_vtab_cursor** ppCursor) {
  auto* pCur = new (std::nothrow) StepCursor{};
  if (pCur == nullptr) return SQLITE_NOMEM;
  *ppCursor = pCur;
  return SQLITE_OK;
}

int seriesClose(sqlite3_vtab_cursor* pCur) {
  delete asCursor(pCur);
  return SQLITE_OK;
}

int seriesNext(sqlite3_vtab_cursor* pCursor) {
  StepCursor* pCur = asCursor(pCursor);
  if (!seriesStep(&pCur->iCurrent, pCur->iFirst, pCur->iLast, stepMagnitude(pCur->iIncrement),
                  pCur->bDescending != 0)) {
    pCur->bExhausted = true;
  }
  pCur->iRowNum++;
  return SQLITE_OK;
}

int seriesColumn(sqlite3_vtab_cursor* pCursor, sqlite3_context* pCtx, int iColumn) {
  const StepCursor* pCur = asCursor(pCursor);
  int64_t iValue;
  switch (static_cast<SeriesColumn>(iColumn)) {
    case SeriesColumn::start:
      iValue = pCur->iFirst;
      break;
    case SeriesColumn::stop:
      iValue = pCur->iLast;
      break;
    case SeriesColumn::step:
      iValue = pCur->iIncrement;
      break;
    default:
      iValue = pCur->iCurrent;
      break;
  }
  sqlite3_result_int64(pCtx, iValue);
  return SQLITE_OK;
}

int seriesRowid(sqlite3_vtab_cursor* pCursor, sqlite_int64* pRowid) {
  *pRowid = asCursor(pCursor)->iRowNum;
  return SQLITE_OK;
}

int seriesEof(sqlite3_vtab_cursor* pCursor) {
  const StepCursor* pCur = asCursor(pCursor);
  if (pCur->bExhausted) return 1;
  return pCur->bDescending ? pCur->iCurrent < pCur->iFirst : pCur->iCurrent > pCur->iLast;
}

int seriesFilter(sqlite3_vtab_cursor* pCursor, int idxNum, const char*, int argc,
                 sqlite3_value** argv) {
  StepCursor* pCur = asCursor(pCursor);
  int iArg = 0;
  auto nextArg = [&]() -> int64_t { return iArg < argc ? sqlite3_value_int64(argv[iArg++]) : 0; };
  pCur->iFirst = (idxNum & planStart) ? nextArg() : 0;
  pCur->iLast = (idxNum & planStop) ? nextArg() : iDefaultLast;
  if (idxNum & planStep) {
    int64_t iStep = nextArg();
    if (iStep == 0) iStep = 1;
    if (iStep < 0) {
      // Negated in unsigned arithmetic: -2^63 keeps its bit pattern, which
      // stepMagnitude() reads as 2^63.
      iStep = static_cast<int64_t>(0 - static_cast<uint64_t>(iStep));
      if (!(idxNum & planAscending)) idxNum |= planDescending;
    }
    pCur->iIncrement = iStep;
  } else {
    pCur->iIncrement = 1;
  }
  for (int i = 0; i < argc; i++) {
    if (sqlite3_value_type(argv[i]) == SQLITE_NULL) {
      pCur->iFirst = 1;
      pCur->iLast = 0;
      break;
    }
  }
  pCur->bExhausted = false;
  if (idxNum & planDescending) {
    pCur->bDescending = 1;
    pCur->iCurrent = seriesLastMember(pCur->iFirst, pCur->iLast, stepMagnitude(pCur->iIncrement));
  } else {
    pCur->bDescending = 0;
    pCur->iCurrent = pCur->iFirst;
  }
  pCur->iRowNum = 1;
  return SQLITE_OK;
}

int seriesBestIndex(sqlite3_vtab* pVtab, sqlite3_index_info* pInfo) {
  int idxNum = 0;
  int mUnusable = 0;
  bool bStartSeen = false;
  int aiConstraint[3] = {-1, -1, -1};  // per hidden column: the constraint passed for it
  for (int i = 0; i < pInfo->nConstraint; i++) {
    const auto& constraint = pInfo->aConstraint[i];
    if (constraint.iColumn < static_cast<int>(SeriesColumn::start)) continue;
    int iCol = constraint.iColumn - static_cast<int>(SeriesColumn::start);
    if (iCol > 2) continue;
    int mCol = 1 << iCol;
    if (iCol == 0) bStartSeen = true;
    if (!constraint.usable) {
      mUnusable |= mCol;
    } else if (constraint.op == SQLITE_INDEX_CONSTRAINT_EQ) {
      idxNum |= mCol;
      aiConstraint[iCol] = i;
    }
  }
  int nArg = 0;
  for (int iConstraint : aiConstraint) {
    if (iConstraint < 0) continue;
    pInfo->aConstraintUsage[iConstraint].argvIndex = ++nArg;
    pInfo->aConstraintUsage[iConstraint].omit = 1;
  }
  if (!bStartSeen) {
    sqlite3_free(pVtab->zErrMsg);
    pVtab->zErrMsg = sqlite3_mprintf("first argument to \"generate_series()\" missing or unusable");
    return SQLITE_ERROR;
  }
  if ((mUnusable & ~idxNum) != 0) return SQLITE_CONSTRAINT;
  if ((idxNum & (planStart | planStop)) == (planStart | planStop)) {
    pInfo->estimatedCost = (idxNum & planStep) ? 1.0 : 2.0;
    pInfo->estimatedRows = 1000;
    if (pInfo->nOrderBy >= 1 && pInfo->aOrderBy[0].iColumn == 0) {
      idxNum |= pInfo->aOrderBy[0].desc ? planDescending : planAscending;
      pInfo->orderByConsumed = 1;
    }
  } else {
    pInfo->estimatedRows = 2147483647;
  }
  pInfo->idxNum = idxNum;
  return SQLITE_OK;
}

sqlite3_module seriesModule = {
    0,                 // iVersion
    nullptr,           // xCreate: eponymous only
    seriesConnect,     // xConnect
    seriesBestIndex,   // xBestIndex
    seriesDisconnect,  // xDisconnect
    nullptr,           // xDestroy
    seriesOpen,        // xOpen
    seriesClose,       // xClose
    seriesFilter,      // xFilter
    seriesNext,        // xNext
    seriesEof,         // xEof
    seriesColumn,      // xColumn
    seriesRowid,       // xRowid
    nullptr,           // xUpdate
    nullptr,           // xBegin
    nullptr,           // xSync
    nullptr,           // xCommit
    nullptr,           // xRollback
    nullptr,           // xFindMethod
    nullptr,           // xRename
    nullptr,           // xSavepoint
    nullptr,           // xRelease
    nullptr,           // xRollbackTo
    nullptr,           // xShadowName
};

}  // namespace

bool seriesStep(int64_t* piCurrent, int64_t iFirst, int64_t iLast, uint64_t nStep,
                bool bDescending) {
  // Distances are taken in unsigned arithmetic, where the difference of two
  // ordered 64-bit integers is always exact.
  const uint64_t uCurrent = static_cast<uint64_t>(*piCurrent);
  if (bDescending) {
    if (*piCurrent < iFirst || uCurrent - static_cast<uint64_t>(iFirst) < nStep) return false;
    *piCurrent = static_cast<int64_t>(uCurrent - nStep);
  } else {
    if (*piCurrent > iLast || static_cast<uint64_t>(iLast) - uCurrent < nStep) return false;
    *piCurrent = static_cast<int64_t>(uCurrent + nStep);
  }
  return true;
}

int64_t seriesLastMember(int64_t iFirst, int64_t iLast, uint64_t nStep) {
  if (iLast < iFirst || nStep == 0) return iLast;
  const uint64_t uSpan = static_cast<uint64_t>(iLast) - static_cast<uint64_t>(iFirst);
  return static_cast<int64_t>(static_cast<uint64_t>(iLast) - uSpan % nStep);
}

int seriesRegister(sqlite3* db, char** pzErrMsg) {
  if (sqlite3_libversion_number() <= 3008011 && pzErrMsg != nullptr) {
    *pzErrMsg = sqlite3_mprintf("generate_series() requires SQLite 3.8.12 or later");
    return SQLITE_ERROR;
  }
  return sqlite3_create_module(db, "generate_series", &seriesModule, nullptr);
}
