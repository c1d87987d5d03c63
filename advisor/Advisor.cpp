// The index advisor engine.
//
// dbCapture holds one "expert" virtual table per user table.  Preparing a
// statement there makes the planner describe, through the best-index method,
// every constraint and ordering it would like an index for (AdvScan records).
// From those the advisor builds candidate indexes in dbPlan, which holds real,
// empty copies of the user's tables, optionally loads sqlite_stat1 with
// statistics measured on the user's rows, and reads the plans there.
#include "advisor/Advisor.h"

#include <array>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

// ---------------------------------------------------------------------------
// Records.

// Unlinks a singly linked list owned through pNext one node at a time, so that
// a long list is freed without deep recursion.
template <class T>
static void dropList(std::unique_ptr<T>& pHead) {
  while (pHead) pHead = std::move(pHead->pNext);
}

struct AdvColumn {
  std::string zColName;
  std::string zCollation;   // declared collation, "binary" when none
  bool bSolePk = false;     // the table's only primary-key column
  bool bGenerated = false;  // a generated column: never written directly
};

struct AdvTable {
  int nColumns = 0;
  std::string zName;
  std::vector<AdvColumn> aColumns;
  std::unique_ptr<AdvTable> pNext;
};

struct AdvConstraint {
  std::string zCollSeq;
  bool bIsRange = false;
  int iColumn = 0;
  bool bMatched = false;  // scratch flag of the compatibility test
  bool bDescending = false;
  std::unique_ptr<AdvConstraint> pNext;  // the list it was recorded in
  AdvConstraint* pLink = nullptr;        // the list it is being assembled into
};

struct AdvScan {
  AdvTable* pTab = nullptr;
  std::unique_ptr<AdvConstraint> pOrderList;
  std::unique_ptr<AdvConstraint> pEqList;
  std::unique_ptr<AdvConstraint> pRangeList;
  std::unique_ptr<AdvScan> pNext;
  ~AdvScan() {
    dropList(pOrderList);
    dropList(pEqList);
    dropList(pRangeList);
  }
};

struct AdvWrite {
  AdvTable* pWriteTab = nullptr;
  int eOp = 0;
  std::unique_ptr<AdvWrite> pNext;
};

struct AdvStatement {
  int iStmtId = 0;
  std::string zSqlText;
  std::string zIndexText;  // empty: none
  std::string zPlanText;   // empty: none
  std::unique_ptr<AdvStatement> pNext;
};

struct AdvHashEntry {
  std::string zHashKey;
  std::string zVal;
  std::string zVal2;  // statistics text once measured, else empty
  AdvHashEntry* pBucketNext = nullptr;
  std::unique_ptr<AdvHashEntry> pAllNext;  // pAllEntries order, newest first
};

struct AdvHash {
  static constexpr unsigned kBuckets = 1023;
  std::array<AdvHashEntry*, kBuckets> aBucket{};
  std::unique_ptr<AdvHashEntry> pAllEntries;

  AdvHash() = default;
  AdvHash(const AdvHash&) = delete;
  AdvHash& operator=(const AdvHash&) = delete;
  ~AdvHash() {
    while (pAllEntries) pAllEntries = std::move(pAllEntries->pAllNext);
  }

  static unsigned bucketOf(std::string_view zKey) {
    uint32_t h = 0;
    for (unsigned char c : zKey) h = h * 9 + c;
    return h % kBuckets;
  }
  AdvHashEntry* find(std::string_view zKey) const {
    for (AdvHashEntry* pEntry = aBucket[bucketOf(zKey)]; pEntry; pEntry = pEntry->pBucketNext) {
      if (pEntry->zHashKey == zKey) return pEntry;
    }
    return nullptr;
  }
  // Returns true when the key was present already (nothing is changed then).
  bool add(std::string_view zKey, std::string_view zVal) {
    if (find(zKey)) return true;
    auto pNew = std::make_unique<AdvHashEntry>();
    pNew->zHashKey = zKey;
    pNew->zVal = zVal;
    unsigned iBucket = bucketOf(zKey);
    pNew->pBucketNext = aBucket[iBucket];
    aBucket[iBucket] = pNew.get();
    pNew->pAllNext = std::move(pAllEntries);
    pAllEntries = std::move(pNew);
    return false;
  }
};

struct AdvSampleCtx {
  int iPercent = 0;
  double rFraction = 0.0;
  double nSeen = 0.0;
  double nKept = 0.0;
};

struct AdvValSlot {
  int eValType = 0;  // 0: empty
  sqlite3_int64 iIntVal = 0;
  double rRealVal = 0.0;
  sqlite3_int64 nBufAlloc = 0;
  sqlite3_int64 nUsed = 0;
  char* zValBuf = nullptr;
};

struct AdvRemCtx {
  int nSlot = 0;
  std::vector<AdvValSlot> aValSlot;
  AdvRemCtx() = default;
  AdvRemCtx(const AdvRemCtx&) = delete;
  AdvRemCtx& operator=(const AdvRemCtx&) = delete;
  ~AdvRemCtx() {
    for (AdvValSlot& slot : aValSlot) sqlite3_free(slot.zValBuf);
  }
};

struct IndexAdvisor {
  int iSample = 100;
  sqlite3* dbUser = nullptr;
  sqlite3* dbPlan = nullptr;
  sqlite3* dbCapture = nullptr;
  std::unique_ptr<AdvTable> pTableList;
  std::unique_ptr<AdvScan> pScanList;
  std::unique_ptr<AdvWrite> pWriteList;
  std::unique_ptr<AdvStatement> pStmtList;
  bool bAnalyzed = false;
  AdvHash candidates;
  std::string zCandidateText;
  AdvSampleCtx samplectx;

  ~IndexAdvisor() {
    // The virtual tables go first: they point at the table records.
    sqlite3_close(dbCapture);
    sqlite3_close(dbPlan);
    dropList(pTableList);
    dropList(pScanList);
    dropList(pWriteList);
    dropList(pStmtList);
  }
};

struct AdvVtab {
  sqlite3_vtab base;
  AdvTable* pTab;
  IndexAdvisor* pExpert;
};

struct AdvCursor {
  sqlite3_vtab_cursor base;
  sqlite3_stmt* pData;
};

namespace {

// The name of the scratch tables (temporary copies of a table with its
// triggers, and the sample of a table's rows).
constexpr const char* kScratchTable = "t592690916721053953805701627921227776";
constexpr int kMaxNameAttempts = 50;
constexpr const char* kNoIndexName = "Cannot find a unique index name to propose.";

struct StmtFinalizer {
  void operator()(sqlite3_stmt* p) const { sqlite3_finalize(p); }
};
using StmtPtr = std::unique_ptr<sqlite3_stmt, StmtFinalizer>;

struct SqliteFree {
  void operator()(void* p) const { sqlite3_free(p); }
};
using SqlitePtr = std::unique_ptr<char, SqliteFree>;

SqlitePtr format(const char* zFormat, ...) {
  va_list ap;
  va_start(ap, zFormat);
  char* z = sqlite3_vmprintf(zFormat, ap);
  va_end(ap);
  return SqlitePtr(z);
}

// Replaces *pzErr (when pzErr is given) with a copy of zText.
void setError(char** pzErr, const char* zText) {
  if (pzErr == nullptr) return;
  sqlite3_free(*pzErr);
  *pzErr = sqlite3_mprintf("%s", zText);
}

void setDbError(char** pzErr, sqlite3* db) {
  setError(pzErr, sqlite3_errmsg(db));
}

const char* columnText(sqlite3_stmt* pStmt, int iCol) {
  return reinterpret_cast<const char*>(sqlite3_column_text(pStmt, iCol));
}

// Prepares zSql on db; on failure the error text of db goes to *pzErr.
int prepare(sqlite3* db, const char* zSql, StmtPtr* ppStmt, char** pzErr) {
  if (zSql == nullptr) return SQLITE_NOMEM;
  sqlite3_stmt* pStmt = nullptr;
  int rc = sqlite3_prepare_v2(db, zSql, -1, &pStmt, nullptr);
  ppStmt->reset(pStmt);
  if (rc != SQLITE_OK) setDbError(pzErr, db);
  return rc;
}

// Runs zSql (one or more statements) on db; on failure the error text of db
// goes to *pzErr.
int execSql(sqlite3* db, const char* zSql, char** pzErr) {
  if (zSql == nullptr) return SQLITE_NOMEM;
  int rc = sqlite3_exec(db, zSql, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) setDbError(pzErr, db);
  return rc;
}

// Finalizes pStmt and turns a failure into the error text of its connection.
int finishStmt(StmtPtr& pStmt, char** pzErr) {
  if (!pStmt) return SQLITE_OK;
  sqlite3* db = sqlite3_db_handle(pStmt.get());
  int rc = sqlite3_finalize(pStmt.release());
  if (rc != SQLITE_OK) setDbError(pzErr, db);
  return rc;
}

// A name is written quoted in generated SQL unless it is a plain identifier:
// ASCII letters, digits and '_', not starting with a digit, and no keyword.
bool needsQuote(std::string_view zName) {
  if (zName.empty()) return true;
  if (zName[0] >= '0' && zName[0] <= '9') return true;
  for (char c : zName) {
    bool bPlain =
        (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
    if (!bPlain) return true;
  }
  return sqlite3_keyword_check(zName.data(), static_cast<int>(zName.size())) != 0;
}

// A collation name for generated SQL: bare when plain, else a quoted literal.
std::string collationSql(const char* zColl) {
  if (!needsQuote(zColl)) return zColl;
  SqlitePtr zQuoted = format("%Q", zColl);
  return zQuoted ? std::string(zQuoted.get()) : std::string();
}

AdvTable* findTable(IndexAdvisor* p, const char* zName) {
  for (AdvTable* pTab = p->pTableList.get(); pTab; pTab = pTab->pNext.get()) {
    if (sqlite3_stricmp(pTab->zName.c_str(), zName) == 0) return pTab;
  }
  return nullptr;
}

// ---------------------------------------------------------------------------
// The "expert" virtual-table module.

// Undoes the quoting of a single-quoted SQL literal.
std::string dequote(const char* z) {
  std::string zOut;
  size_t n = std::strlen(z);
  if (n >= 2 && z[0] == '\'' && z[n - 1] == '\'') {
    for (size_t i = 1; i + 1 < n; i++) {
      zOut.push_back(z[i]);
      if (z[i] == '\'' && z[i + 1] == '\'') i++;
    }
  } else {
    zOut.assign(z, n);
  }
  return zOut;
}

int advConnect(sqlite3* db, void* pAux, int argc, const char* const* argv, sqlite3_vtab** ppVtab,
               char** pzErr) {
  auto* p = static_cast<IndexAdvisor*>(pAux);
  AdvTable* pTab = argc == 4 ? findTable(p, argv[2]) : nullptr;
  if (pTab == nullptr) {
    *pzErr = sqlite3_mprintf("internal error!");
    return SQLITE_ERROR;
  }
  std::string zDecl = dequote(argv[3]);
  int rc = sqlite3_declare_vtab(db, zDecl.c_str());
  if (rc != SQLITE_OK) return rc;
  auto* pNew = new (std::nothrow) AdvVtab{};
  if (pNew == nullptr) return SQLITE_NOMEM;
  pNew->pTab = pTab;
  pNew->pExpert = p;
  *ppVtab = &pNew->base;
  return SQLITE_OK;
}

int advDisconnect(sqlite3_vtab* pVtab) {
  delete reinterpret_cast<AdvVtab*>(pVtab);
  return SQLITE_OK;
}

bool isCapturedOperator(unsigned char op) {
  switch (op) {
    case SQLITE_INDEX_CONSTRAINT_EQ:
    case SQLITE_INDEX_CONSTRAINT_GT:
    case SQLITE_INDEX_CONSTRAINT_LE:
    case SQLITE_INDEX_CONSTRAINT_LT:
    case SQLITE_INDEX_CONSTRAINT_GE:
      return true;
    default:
      return false;
  }
}

int advBestIndex(sqlite3_vtab* pVtab, sqlite3_index_info* pIdxInfo) {
  auto* pVt = reinterpret_cast<AdvVtab*>(pVtab);
  IndexAdvisor* p = pVt->pExpert;
  AdvTable* pTab = pVt->pTab;

  auto* pScan = new (std::nothrow) AdvScan;
  if (pScan == nullptr) return SQLITE_NOMEM;
  pScan->pTab = pTab;
  pScan->pNext = std::move(p->pScanList);
  p->pScanList.reset(pScan);

  int n = 0;
  for (int i = 0; i < pIdxInfo->nConstraint; i++) {
    const auto& c = pIdxInfo->aConstraint[i];
    if (!c.usable || c.iColumn < 0 || c.iColumn >= pTab->nColumns) continue;
    if (pTab->aColumns[c.iColumn].bSolePk || !isCapturedOperator(c.op)) continue;
    auto* pCons = new (std::nothrow) AdvConstraint;
    if (pCons == nullptr) return SQLITE_NOMEM;
    const char* zColl = sqlite3_vtab_collation(pIdxInfo, i);
    pCons->zCollSeq = zColl ? zColl : "BINARY";
    pCons->iColumn = c.iColumn;
    std::unique_ptr<AdvConstraint>* ppList = &pScan->pEqList;
    if (c.op != SQLITE_INDEX_CONSTRAINT_EQ) {
      pCons->bIsRange = true;
      ppList = &pScan->pRangeList;
    }
    pCons->pNext = std::move(*ppList);
    ppList->reset(pCons);
    n++;
    pIdxInfo->aConstraintUsage[i].argvIndex = n;
  }

  for (int i = pIdxInfo->nOrderBy - 1; i >= 0; i--) {
    int iCol = pIdxInfo->aOrderBy[i].iColumn;
    if (iCol < 0 || iCol >= pTab->nColumns) continue;
    auto* pCons = new (std::nothrow) AdvConstraint;
    if (pCons == nullptr) return SQLITE_NOMEM;
    pCons->zCollSeq = pTab->aColumns[iCol].zCollation;
    pCons->iColumn = iCol;
    pCons->bDescending = pIdxInfo->aOrderBy[i].desc != 0;
    pCons->pLink = pScan->pOrderList.get();
    pCons->pNext = std::move(pScan->pOrderList);
    pScan->pOrderList.reset(pCons);
    n++;
  }

  pIdxInfo->estimatedCost = 1000000.0 / (n + 1);
  return SQLITE_OK;
}

int advUpdate(sqlite3_vtab*, int, sqlite3_value**, sqlite_int64*) {
  return SQLITE_OK;
}

int advOpen(sqlite3_vtab*, sqlite3_vtab_cursor** ppCursor) {
  auto* pCsr = new (std::nothrow) AdvCursor{};
  if (pCsr == nullptr) return SQLITE_NOMEM;
  *ppCursor = &pCsr->base;
  return SQLITE_OK;
}

int advClose(sqlite3_vtab_cursor* pCursor) {
  auto* pCsr = reinterpret_cast<AdvCursor*>(pCursor);
  sqlite3_finalize(pCsr->pData);
  delete pCsr;
  return SQLITE_OK;
}

int advEof(sqlite3_vtab_cursor* pCursor) {
  return reinterpret_cast<AdvCursor*>(pCursor)->pData == nullptr;
}

int advNext(sqlite3_vtab_cursor* pCursor) {
  auto* pCsr = reinterpret_cast<AdvCursor*>(pCursor);
  if (pCsr->pData == nullptr) return SQLITE_MISUSE;
  int rc = SQLITE_OK;
  if (sqlite3_step(pCsr->pData) != SQLITE_ROW) {
    rc = sqlite3_finalize(pCsr->pData);
    pCsr->pData = nullptr;
  }
  return rc;
}

int advFilter(sqlite3_vtab_cursor* pCursor, int, const char*, int, sqlite3_value**) {
  auto* pCsr = reinterpret_cast<AdvCursor*>(pCursor);
  auto* pVtab = reinterpret_cast<AdvVtab*>(pCursor->pVtab);
  sqlite3* dbUser = pVtab->pExpert->dbUser;
  sqlite3_finalize(pCsr->pData);
  pCsr->pData = nullptr;
  SqlitePtr zSql = format("SELECT * FROM main.%Q WHERE sample()", pVtab->pTab->zName.c_str());
  if (!zSql) return SQLITE_NOMEM;
  int rc = sqlite3_prepare_v2(dbUser, zSql.get(), -1, &pCsr->pData, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_free(pVtab->base.zErrMsg);
    pVtab->base.zErrMsg = sqlite3_mprintf("%s", sqlite3_errmsg(dbUser));
    return rc;
  }
  return advNext(pCursor);
}

int advColumn(sqlite3_vtab_cursor* pCursor, sqlite3_context* ctx, int i) {
  auto* pCsr = reinterpret_cast<AdvCursor*>(pCursor);
  sqlite3_result_value(ctx, sqlite3_column_value(pCsr->pData, i));
  return SQLITE_OK;
}

int advRowid(sqlite3_vtab_cursor*, sqlite_int64* pRowid) {
  *pRowid = 0;
  return SQLITE_OK;
}

sqlite3_module makeModule() {
  sqlite3_module m{};
  m.iVersion = 2;
  m.xCreate = advConnect;
  m.xConnect = advConnect;
  m.xBestIndex = advBestIndex;
  m.xDisconnect = advDisconnect;
  m.xDestroy = advDisconnect;
  m.xOpen = advOpen;
  m.xClose = advClose;
  m.xFilter = advFilter;
  m.xNext = advNext;
  m.xEof = advEof;
  m.xColumn = advColumn;
  m.xRowid = advRowid;
  m.xUpdate = advUpdate;
  return m;
}

const sqlite3_module expertModule = makeModule();

// ---------------------------------------------------------------------------
// Creation: the plan copy and the capture schema.

// Records every write to one of the user's tables, so that the triggers it
// fires can be examined later.  Everything is allowed.
int recordWrites(void* pCtx, int eOp, const char* zTable, const char*, const char* zDb,
                 const char*) {
  if (eOp != SQLITE_INSERT && eOp != SQLITE_UPDATE && eOp != SQLITE_DELETE) return SQLITE_OK;
  if (zDb == nullptr || zTable == nullptr || sqlite3_stricmp(zDb, "main") != 0) return SQLITE_OK;
  auto* p = static_cast<IndexAdvisor*>(pCtx);
  AdvTable* pTab = findTable(p, zTable);
  if (pTab == nullptr) return SQLITE_OK;
  for (AdvWrite* pWrite = p->pWriteList.get(); pWrite; pWrite = pWrite->pNext.get()) {
    if (pWrite->pWriteTab == pTab && pWrite->eOp == eOp) return SQLITE_OK;
  }
  auto* pNew = new (std::nothrow) AdvWrite;
  if (pNew == nullptr) return SQLITE_OK;  // a lost write only means fewer suggestions
  pNew->pWriteTab = pTab;
  pNew->eOp = eOp;
  pNew->pNext = std::move(p->pWriteList);
  p->pWriteList.reset(pNew);
  return SQLITE_OK;
}

// Copies the user's tables, indexes, views and triggers to dbPlan.
int copySchemaToPlan(IndexAdvisor* p, char** pzErr) {
  StmtPtr pSchema;
  int rc = prepare(p->dbUser,
                   "SELECT sql FROM sqlite_schema WHERE name NOT LIKE 'sqlite_%' AND sql NOT LIKE "
                   "'CREATE VIRTUAL %'",
                   &pSchema, pzErr);
  while (rc == SQLITE_OK && sqlite3_step(pSchema.get()) == SQLITE_ROW) {
    const char* zSql = columnText(pSchema.get(), 0);
    if (zSql) rc = execSql(p->dbPlan, zSql, pzErr);
  }
  int rc2 = finishStmt(pSchema, pzErr);
  return rc == SQLITE_OK ? rc2 : rc;
}

// Reads the columns of the user's table zTab into a new record.
int readTableColumns(IndexAdvisor* p, const char* zTab, std::unique_ptr<AdvTable>* ppTab,
                     char** pzErr) {
  auto pTab = std::make_unique<AdvTable>();
  pTab->zName = zTab;
  StmtPtr pInfo;
  int rc = prepare(p->dbUser, format("PRAGMA main.table_xinfo=%Q", zTab).get(), &pInfo, pzErr);
  std::vector<int> aPk;
  int nPk = 0;
  while (rc == SQLITE_OK && sqlite3_step(pInfo.get()) == SQLITE_ROW) {
    const char* zCol = columnText(pInfo.get(), 1);
    if (zCol == nullptr) {
      setError(pzErr, "a column of the table has no name");
      rc = SQLITE_ERROR;
      break;
    }
    AdvColumn col;
    col.zColName = zCol;
    int iHidden = sqlite3_column_int(pInfo.get(), 6);
    col.bGenerated = iHidden == 2 || iHidden == 3;
    int iPk = sqlite3_column_int(pInfo.get(), 5);
    if (iPk > 0) nPk++;
    aPk.push_back(iPk);
    const char* zColl = nullptr;
    if (sqlite3_table_column_metadata(p->dbUser, "main", zTab, zCol, nullptr, &zColl, nullptr,
                                      nullptr, nullptr) != SQLITE_OK ||
        zColl == nullptr) {
      zColl = "binary";
    }
    col.zCollation = zColl;
    pTab->aColumns.push_back(std::move(col));
  }
  int rc2 = finishStmt(pInfo, pzErr);
  if (rc == SQLITE_OK) rc = rc2;
  if (rc != SQLITE_OK) return rc;
  for (size_t i = 0; i < aPk.size(); i++) pTab->aColumns[i].bSolePk = aPk[i] == 1 && nPk == 1;
  pTab->nColumns = static_cast<int>(pTab->aColumns.size());
  *ppTab = std::move(pTab);
  return SQLITE_OK;
}

// Creates the "expert" stand-in of the user's table zTab in dbCapture.
int createCaptureTable(IndexAdvisor* p, const char* zTab, char** pzErr) {
  std::unique_ptr<AdvTable> pTab;
  int rc = readTableColumns(p, zTab, &pTab, pzErr);
  if (rc != SQLITE_OK) return rc;

  std::string zDecl = "CREATE TABLE x(";
  const char* zSep = "";
  for (const AdvColumn& col : pTab->aColumns) {
    SqlitePtr zCol = format("%s%Q COLLATE %s", zSep, col.zColName.c_str(),
                            collationSql(col.zCollation.c_str()).c_str());
    if (!zCol) return SQLITE_NOMEM;
    zDecl += zCol.get();
    zSep = ", ";
  }
  zDecl += ")";

  pTab->pNext = std::move(p->pTableList);
  p->pTableList = std::move(pTab);
  return execSql(p->dbCapture,
                 format("CREATE VIRTUAL TABLE %Q USING expert(%Q)", zTab, zDecl.c_str()).get(),
                 pzErr);
}

// Fills dbCapture: a stand-in for every ordinary user table, plus the user's
// views and the triggers on those views.  Virtual tables are left out: their
// rows live behind a module the private databases do not have, so statements
// naming them are refused when they are added.
int buildCaptureSchema(IndexAdvisor* p, char** pzErr) {
  int rc = sqlite3_create_module(p->dbCapture, "expert", &expertModule, p);
  if (rc != SQLITE_OK) {
    setDbError(pzErr, p->dbCapture);
    return rc;
  }
  StmtPtr pSchema;
  rc = prepare(p->dbUser,
               "SELECT type, name, sql, 1 FROM sqlite_schema WHERE type IN ('table','view') AND "
               "name NOT LIKE 'sqlite_%'  UNION ALL SELECT type, name, sql, 2 FROM sqlite_schema "
               "WHERE type = 'trigger'  AND tbl_name IN(SELECT name FROM sqlite_schema WHERE type "
               "= 'view') ORDER BY 4, 1",
               &pSchema, pzErr);
  while (rc == SQLITE_OK && sqlite3_step(pSchema.get()) == SQLITE_ROW) {
    const char* zType = columnText(pSchema.get(), 0);
    const char* zName = columnText(pSchema.get(), 1);
    const char* zSql = columnText(pSchema.get(), 2);
    if (zType == nullptr || zName == nullptr) continue;
    if (zType[0] == 'v' || (zType[0] != '\0' && zType[1] == 'r')) {
      if (zSql) rc = execSql(p->dbCapture, zSql, pzErr);
    } else if (zSql == nullptr || sqlite3_strnicmp(zSql, "CREATE VIRTUAL ", 15) != 0) {
      rc = createCaptureTable(p, zName, pzErr);
    }
  }
  int rc2 = finishStmt(pSchema, pzErr);
  return rc == SQLITE_OK ? rc2 : rc;
}

// When zSql failed to prepare because it names one of the user's virtual
// tables, says so instead of the misleading "no such table".
void explainVirtualTableError(IndexAdvisor* p, char** pzErr) {
  if (pzErr == nullptr || *pzErr == nullptr) return;
  constexpr std::string_view kPrefix = "no such table: ";
  std::string_view zMsg(*pzErr);
  if (zMsg.substr(0, kPrefix.size()) != kPrefix) return;
  std::string zName(zMsg.substr(kPrefix.size()));
  if (sqlite3_strnicmp(zName.c_str(), "main.", 5) == 0) zName.erase(0, 5);
  StmtPtr pFind;
  char* zIgnored = nullptr;
  prepare(p->dbUser,
          "SELECT name FROM sqlite_schema WHERE type='table' AND name=?1 COLLATE nocase AND sql "
          "LIKE 'CREATE VIRTUAL %'",
          &pFind, &zIgnored);
  sqlite3_free(zIgnored);
  if (!pFind) return;
  sqlite3_bind_text(pFind.get(), 1, zName.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(pFind.get()) == SQLITE_ROW) {
    SqlitePtr zText =
        format("the index advisor cannot analyze virtual table %s", columnText(pFind.get(), 0));
    if (zText) setError(pzErr, zText.get());
  }
}

// ---------------------------------------------------------------------------
// Analysis: triggers.

// Prepares a write of every kind recorded for a table on a temporary copy of it
// with its triggers, so that the statements of those triggers are captured too.
// Writes made by the triggers are recorded in turn and examined by the next pass.
int processTriggers(IndexAdvisor* p, char** pzErr) {
  AdvWrite* pDone = nullptr;
  while (p->pWriteList.get() != pDone) {
    AdvWrite* pFirst = p->pWriteList.get();
    for (AdvWrite* pWrite = pFirst; pWrite != pDone; pWrite = pWrite->pNext.get()) {
      AdvTable* pTab = pWrite->pWriteTab;
      const char* zTab = pTab->zName.c_str();
      StmtPtr pCopy;
      int rc = prepare(p->dbUser,
                       format("SELECT 'CREATE TEMP' || substr(sql, 7) FROM sqlite_schema WHERE "
                              "tbl_name = %Q AND type IN ('table', 'trigger') ORDER BY type;",
                              zTab)
                           .get(),
                       &pCopy, pzErr);
      while (rc == SQLITE_OK && sqlite3_step(pCopy.get()) == SQLITE_ROW) {
        const char* zSql = columnText(pCopy.get(), 0);
        if (zSql) rc = execSql(p->dbCapture, zSql, pzErr);
      }
      int rc2 = finishStmt(pCopy, pzErr);
      if (rc == SQLITE_OK) rc = rc2;
      if (rc == SQLITE_OK) {
        rc = execSql(p->dbCapture,
                     format("ALTER TABLE temp.%Q RENAME TO %Q", zTab, kScratchTable).get(), pzErr);
      }
      if (rc == SQLITE_OK) {
        SqlitePtr zWrite;
        std::string zCols;
        const char* zSep = "";
        for (const AdvColumn& col : pTab->aColumns) {
          if (col.bGenerated) continue;
          SqlitePtr zTerm = pWrite->eOp == SQLITE_UPDATE
                                ? format("%s%Q=?", zSep, col.zColName.c_str())
                                : format("%s?", zSep);
          if (!zTerm) {
            rc = SQLITE_NOMEM;
            break;
          }
          zCols += zTerm.get();
          zSep = ", ";
        }
        switch (pWrite->eOp) {
          case SQLITE_INSERT:
            zWrite = format("INSERT INTO %Q VALUES(%s)", kScratchTable, zCols.c_str());
            break;
          case SQLITE_UPDATE:
            zWrite = format("UPDATE %Q SET %s", kScratchTable, zCols.c_str());
            break;
          default:
            zWrite = format("DELETE FROM %Q", kScratchTable);
            break;
        }
        StmtPtr pWriteStmt;
        if (rc == SQLITE_OK) rc = prepare(p->dbCapture, zWrite.get(), &pWriteStmt, pzErr);
        pWriteStmt.reset();
        int rcDrop = execSql(p->dbCapture, format("DROP TABLE %s", kScratchTable).get(),
                             rc == SQLITE_OK ? pzErr : nullptr);
        if (rc == SQLITE_OK) rc = rcDrop;
      }
      if (rc != SQLITE_OK) {
        // Leave no half-made copy behind for a later attempt.
        sqlite3_exec(p->dbCapture, format("DROP TABLE IF EXISTS temp.%Q", zTab).get(), nullptr,
                     nullptr, nullptr);
        sqlite3_exec(p->dbCapture, format("DROP TABLE IF EXISTS temp.%s", kScratchTable).get(),
                     nullptr, nullptr, nullptr);
        return rc;
      }
    }
    pDone = pFirst;
  }
  return SQLITE_OK;
}

// ---------------------------------------------------------------------------
// Analysis: candidates.

// True when an index of the table in dbPlan already serves the equality
// columns (in any order) followed by the tail, with the same collations.
int hasMatchingIndex(IndexAdvisor* p, AdvTable* pTab, AdvConstraint* pEq, AdvConstraint* pTail,
                     bool* pbFound, char** pzErr) {
  *pbFound = false;
  int nEq = 0;
  for (AdvConstraint* pCons = pEq; pCons; pCons = pCons->pLink) nEq++;

  StmtPtr pList;
  int rc =
      prepare(p->dbPlan, format("PRAGMA index_list=%Q", pTab->zName.c_str()).get(), &pList, pzErr);
  while (rc == SQLITE_OK && !*pbFound && sqlite3_step(pList.get()) == SQLITE_ROW) {
    const char* zIdx = columnText(pList.get(), 1);
    if (zIdx == nullptr) continue;
    StmtPtr pInfo;
    rc = prepare(p->dbPlan, format("PRAGMA index_xInfo=%Q", zIdx).get(), &pInfo, pzErr);
    if (rc != SQLITE_OK) break;
    for (AdvConstraint* pCons = pEq; pCons; pCons = pCons->pLink) pCons->bMatched = false;
    AdvConstraint* pNextTail = pTail;
    bool bMatch = true;
    int iPos = 0;
    while (sqlite3_step(pInfo.get()) == SQLITE_ROW) {
      int iCol = sqlite3_column_int(pInfo.get(), 1);
      const char* zColl = columnText(pInfo.get(), 4);
      if (zColl == nullptr) zColl = "";
      if (iPos < nEq) {
        AdvConstraint* pHit = nullptr;
        for (AdvConstraint* pCons = pEq; pCons && !pHit; pCons = pCons->pLink) {
          if (!pCons->bMatched && pCons->iColumn == iCol &&
              sqlite3_stricmp(pCons->zCollSeq.c_str(), zColl) == 0) {
            pHit = pCons;
          }
        }
        if (pHit == nullptr) {
          bMatch = false;
          break;
        }
        pHit->bMatched = true;
      } else {
        if (pNextTail == nullptr) break;
        if (pNextTail->iColumn != iCol ||
            sqlite3_stricmp(pNextTail->zCollSeq.c_str(), zColl) != 0) {
          bMatch = false;
          break;
        }
        pNextTail = pNextTail->pLink;
      }
      iPos++;
    }
    rc = finishStmt(pInfo, pzErr);
    if (bMatch && iPos >= nEq && pNextTail == nullptr) *pbFound = true;
  }
  int rc2 = finishStmt(pList, pzErr);
  return rc == SQLITE_OK ? rc2 : rc;
}

void appendIndexColumn(std::string& zCols, const AdvTable* pTab, const AdvConstraint* pCons) {
  const AdvColumn& col = pTab->aColumns[pCons->iColumn];
  if (!zCols.empty()) zCols += ", ";
  if (needsQuote(col.zColName)) {
    SqlitePtr zQuoted = format("%Q", col.zColName.c_str());
    if (zQuoted) zCols += zQuoted.get();
  } else {
    zCols += col.zColName;
  }
  if (sqlite3_stricmp(pCons->zCollSeq.c_str(), col.zCollation.c_str()) != 0) {
    zCols += " COLLATE ";
    zCols += collationSql(pCons->zCollSeq.c_str());
  }
  if (pCons->bDescending) zCols += " DESC";
}

// Creates in dbPlan the candidate index on (equality columns, tail) unless an
// index there serves them already.
int buildCandidate(IndexAdvisor* p, AdvTable* pTab, AdvConstraint* pEq, AdvConstraint* pTail,
                   char** pzErr) {
  if (pEq == nullptr && pTail == nullptr) return SQLITE_OK;
  bool bFound = false;
  int rc = hasMatchingIndex(p, pTab, pEq, pTail, &bFound, pzErr);
  if (rc != SQLITE_OK || bFound) return rc;

  std::string zCols;
  for (AdvConstraint* pCons = pEq; pCons; pCons = pCons->pLink)
    appendIndexColumn(zCols, pTab, pCons);
  for (AdvConstraint* pCons = pTail; pCons; pCons = pCons->pLink) {
    appendIndexColumn(zCols, pTab, pCons);
  }

  // The name carries a hash of the column list; each further attempt folds the
  // list in once more.
  uint32_t h = 0;
  SqlitePtr zName;
  bool bFree = false;
  for (int iAttempt = 0; iAttempt < kMaxNameAttempts && !bFree; iAttempt++) {
    for (unsigned char c : zCols) h = h * 9 + c;
    zName = format("%s_idx_%08x", pTab->zName.c_str(), h);
    if (!zName) return SQLITE_NOMEM;
    StmtPtr pCount;
    rc = prepare(p->dbPlan,
                 format("SELECT count(*) FROM sqlite_schema WHERE name=%Q AND type in "
                        "('index','table','view')",
                        zName.get())
                     .get(),
                 &pCount, pzErr);
    if (rc != SQLITE_OK) return rc;
    bool bTaken = false;
    if (sqlite3_step(pCount.get()) == SQLITE_ROW) {
      const char* zCount = columnText(pCount.get(), 0);
      bTaken = zCount == nullptr || std::strcmp(zCount, "0") != 0;
    }
    rc = finishStmt(pCount, pzErr);
    if (rc != SQLITE_OK) return rc;
    bFree = !bTaken;
  }
  if (!bFree) {
    setError(pzErr, kNoIndexName);
    return SQLITE_BUSY_TIMEOUT;
  }

  SqlitePtr zCreate =
      needsQuote(pTab->zName)
          ? format("CREATE INDEX \"%w\" ON \"%w\"(%s)", zName.get(), pTab->zName.c_str(),
                   zCols.c_str())
          : format("CREATE INDEX %s ON %s(%s)", zName.get(), pTab->zName.c_str(), zCols.c_str());
  if (!zCreate) return SQLITE_NOMEM;
  if (sqlite3_exec(p->dbPlan, zCreate.get(), nullptr, nullptr, nullptr) != SQLITE_OK) {
    setError(pzErr, kNoIndexName);
    return SQLITE_BUSY_TIMEOUT;
  }
  p->candidates.add(zName.get(), zCreate.get());
  return SQLITE_OK;
}

// Builds the candidates of one scan for the given tail (the ORDER BY list, or
// none).
int buildScanCandidates(IndexAdvisor* p, AdvScan* pScan, AdvConstraint* pTail, char** pzErr) {
  // The equality columns, each once and in the order of their (last)
  // constraints, leaving out columns the tail orders by.
  AdvConstraint* pEq = nullptr;
  for (AdvConstraint* pCons = pScan->pEqList.get(); pCons; pCons = pCons->pNext.get()) {
    bool bSkip = false;
    for (AdvConstraint* pKept = pEq; pKept && !bSkip; pKept = pKept->pLink) {
      bSkip = pKept->iColumn == pCons->iColumn;
    }
    for (AdvConstraint* pT = pTail; pT && !bSkip; pT = pT->pLink) {
      bSkip = pT->iColumn == pCons->iColumn;
    }
    if (!bSkip) {
      pCons->pLink = pEq;
      pEq = pCons;
    }
  }

  int rc = buildCandidate(p, pScan->pTab, pEq, pTail, pzErr);
  if (pTail != nullptr) return rc;
  for (AdvConstraint* pRange = pScan->pRangeList.get(); pRange && rc == SQLITE_OK;
       pRange = pRange->pNext.get()) {
    bool bIsEq = false;
    for (AdvConstraint* pKept = pEq; pKept && !bIsEq; pKept = pKept->pLink) {
      bIsEq = pKept->iColumn == pRange->iColumn;
    }
    if (bIsEq) continue;
    pRange->pLink = nullptr;
    rc = buildCandidate(p, pScan->pTab, pEq, pRange, pzErr);
  }
  return rc;
}

int createCandidates(IndexAdvisor* p, char** pzErr) {
  int rc = SQLITE_OK;
  for (AdvScan* pScan = p->pScanList.get(); pScan && rc == SQLITE_OK; pScan = pScan->pNext.get()) {
    rc = buildScanCandidates(p, pScan, nullptr, pzErr);
    if (rc == SQLITE_OK && pScan->pOrderList) {
      rc = buildScanCandidates(p, pScan, pScan->pOrderList.get(), pzErr);
    }
  }
  return rc;
}

// ---------------------------------------------------------------------------
// Analysis: statistics.

// sample(): keeps about iPercent of the rows.  A row is kept while the share
// kept so far is at or below the fraction, and otherwise by chance.
void sampleFunc(sqlite3_context* ctx, int, sqlite3_value**) {
  auto* pCtx = static_cast<AdvSampleCtx*>(sqlite3_user_data(ctx));
  int bKeep = 0;
  if (pCtx->nSeen == 0 || pCtx->nKept / pCtx->nSeen <= pCtx->rFraction) {
    bKeep = 1;
  } else {
    unsigned short iRandom = 0;
    sqlite3_randomness(sizeof(iRandom), &iRandom);
    bKeep = iRandom % 100 <= pCtx->iPercent;
  }
  sqlite3_result_int(ctx, bKeep);
  pCtx->nSeen += 1.0;
  pCtx->nKept += bKeep;
}

// rem(SLOT, VALUE): returns the value remembered in SLOT (NULL when none) and
// remembers VALUE there instead.
void remFunc(sqlite3_context* ctx, int, sqlite3_value** argv) {
  auto* pCtx = static_cast<AdvRemCtx*>(sqlite3_user_data(ctx));
  int iSlot = sqlite3_value_int(argv[0]);
  if (iSlot < 0 || iSlot >= pCtx->nSlot) {
    sqlite3_result_error(ctx, "rem: slot out of range", -1);
    return;
  }
  AdvValSlot& slot = pCtx->aValSlot[iSlot];
  switch (slot.eValType) {
    case SQLITE_INTEGER:
      sqlite3_result_int64(ctx, slot.iIntVal);
      break;
    case SQLITE_FLOAT:
      sqlite3_result_double(ctx, slot.rRealVal);
      break;
    case SQLITE_TEXT:
      sqlite3_result_text64(ctx, slot.zValBuf ? slot.zValBuf : "",
                            static_cast<sqlite3_uint64>(slot.nUsed), SQLITE_TRANSIENT, SQLITE_UTF8);
      break;
    case SQLITE_BLOB:
      sqlite3_result_blob64(ctx, slot.zValBuf ? slot.zValBuf : "",
                            static_cast<sqlite3_uint64>(slot.nUsed), SQLITE_TRANSIENT);
      break;
    default:
      sqlite3_result_null(ctx);
      break;
  }

  slot.eValType = sqlite3_value_type(argv[1]);
  switch (slot.eValType) {
    case SQLITE_INTEGER:
      slot.iIntVal = sqlite3_value_int64(argv[1]);
      break;
    case SQLITE_FLOAT:
      slot.rRealVal = sqlite3_value_double(argv[1]);
      break;
    case SQLITE_TEXT:
    case SQLITE_BLOB: {
      const void* pData = slot.eValType == SQLITE_TEXT
                              ? static_cast<const void*>(sqlite3_value_text(argv[1]))
                              : sqlite3_value_blob(argv[1]);
      sqlite3_int64 nData = sqlite3_value_bytes(argv[1]);
      if (nData > slot.nBufAlloc) {
        sqlite3_int64 nNew = nData * 2;
        char* zNew = static_cast<char*>(sqlite3_realloc64(slot.zValBuf, nNew));
        if (zNew == nullptr) {
          slot.eValType = 0;
          sqlite3_result_error_nomem(ctx);
          return;
        }
        slot.zValBuf = zNew;
        slot.nBufAlloc = nNew;
      }
      slot.nUsed = nData;
      if (nData > 0) std::memcpy(slot.zValBuf, pData, static_cast<size_t>(nData));
      break;
    }
    default:
      break;
  }
}

// Removes sample() and rem() again when statistics collection ends, however it
// ends: their contexts die with the collection (or the advisor).
class StatFunctions {
 public:
  StatFunctions(IndexAdvisor* p, sqlite3* dbRem) : p_(p), dbRem_(dbRem) {}
  StatFunctions(const StatFunctions&) = delete;
  StatFunctions& operator=(const StatFunctions&) = delete;
  ~StatFunctions() {
    sqlite3_create_function(dbRem_, "rem", 2, SQLITE_UTF8, nullptr, nullptr, nullptr, nullptr);
    sqlite3_create_function(p_->dbUser, "sample", 0, SQLITE_UTF8, nullptr, nullptr, nullptr,
                            nullptr);
  }

 private:
  IndexAdvisor* p_;
  sqlite3* dbRem_;
};

// Measures one index and writes its sqlite_stat1 row: the row count, then for
// each key prefix the average number of rows per distinct value.
//
// The rows are read in index order, and each key column is compared, under the
// index's collation, with the same column of the row before, which rem()
// remembers.  rem() must therefore see the rows after they have been sorted:
// the sorted key columns are materialized first (a subquery merged into the
// outer query would have its result columns computed before the sort, in
// table order).  The materialized rows are appended in sorted order and read
// back in that order; only the key columns go through the sort.
int measureIndex(IndexAdvisor* p, sqlite3_stmt* pKeys, sqlite3_stmt* pWriter, const char* zTab,
                 const char* zIdx, char** pzErr) {
  std::string zSelect;
  std::string zOrder;
  std::string zColumns;  // only the key columns go through the sort
  int nKey = 0;
  bool bExpression = false;
  sqlite3_bind_text(pKeys, 1, zIdx, -1, SQLITE_STATIC);
  while (sqlite3_step(pKeys) == SQLITE_ROW) {
    const char* zCol = columnText(pKeys, 0);
    const char* zColl = columnText(pKeys, 1);
    if (zCol == nullptr) {
      bExpression = true;  // an index on an expression: not measured
      continue;
    }
    const char* zSep = nKey == 0 ? "" : ", ";
    std::string zCollSql = collationSql(zColl ? zColl : "binary");
    SqlitePtr zTerm =
        format("%sx.%Q IS rem(%d, x.%Q) COLLATE %s", zSep, zCol, nKey, zCol, zCollSql.c_str());
    SqlitePtr zKey = format("%s\"%w\" COLLATE %s", zSep, zCol, zCollSql.c_str());
    SqlitePtr zColumn = format("%s\"%w\"", zSep, zCol);
    if (!zTerm || !zKey || !zColumn) {
      sqlite3_reset(pKeys);
      return SQLITE_NOMEM;
    }
    zSelect += zTerm.get();
    zOrder += zKey.get();
    zColumns += zColumn.get();
    nKey++;
  }
  int rc = sqlite3_reset(pKeys);
  if (rc != SQLITE_OK) {
    setDbError(pzErr, p->dbPlan);
    return rc;
  }
  if (bExpression || nKey == 0) return SQLITE_OK;

  sqlite3* db = p->iSample == 100 ? p->dbUser : p->dbCapture;
  SqlitePtr zSource =
      p->iSample == 100 ? format("main.%Q", zTab) : format("temp.%s", kScratchTable);
  if (!zSource) return SQLITE_NOMEM;
  SqlitePtr zQuery =
      format("WITH x AS MATERIALIZED (SELECT %s FROM %s ORDER BY %s) SELECT %s FROM x",
             zColumns.c_str(), zSource.get(), zOrder.c_str(), zSelect.c_str());
  StmtPtr pQuery;
  rc = prepare(db, zQuery.get(), &pQuery, pzErr);
  if (rc != SQLITE_OK) return rc;

  std::vector<sqlite3_int64> aCount(static_cast<size_t>(nKey) + 1, 0);
  if (sqlite3_step(pQuery.get()) == SQLITE_ROW) {
    for (auto& n : aCount) n = 1;
    while (sqlite3_step(pQuery.get()) == SQLITE_ROW) {
      aCount[0]++;
      int iFirst = 0;
      while (iFirst < nKey && sqlite3_column_int(pQuery.get(), iFirst) != 0) iFirst++;
      for (int k = iFirst + 1; k <= nKey; k++) aCount[k]++;
    }
  }
  rc = finishStmt(pQuery, pzErr);
  if (rc != SQLITE_OK || aCount[0] == 0) return rc;

  std::string zStat = std::to_string(aCount[0]);
  for (int k = 1; k <= nKey; k++) {
    zStat += ' ';
    zStat += std::to_string((aCount[0] + aCount[k] / 2) / aCount[k]);
  }
  sqlite3_bind_text(pWriter, 1, zTab, -1, SQLITE_STATIC);
  sqlite3_bind_text(pWriter, 2, zIdx, -1, SQLITE_STATIC);
  sqlite3_bind_text(pWriter, 3, zStat.c_str(), -1, SQLITE_STATIC);
  sqlite3_step(pWriter);
  rc = sqlite3_reset(pWriter);
  sqlite3_clear_bindings(pWriter);
  if (rc != SQLITE_OK) {
    setDbError(pzErr, p->dbPlan);
    return rc;
  }
  if (AdvHashEntry* pEntry = p->candidates.find(zIdx)) pEntry->zVal2 = zStat;
  return SQLITE_OK;
}

int collectStatsLoop(IndexAdvisor* p, AdvRemCtx* pRem, char** pzErr) {
  int rc = execSql(p->dbPlan, "ANALYZE; PRAGMA writable_schema=1", pzErr);
  if (rc != SQLITE_OK) return rc;

  sqlite3* dbRem = p->iSample == 100 ? p->dbUser : p->dbCapture;
  StatFunctions functions(p, dbRem);
  rc = sqlite3_create_function(dbRem, "rem", 2, SQLITE_UTF8, pRem, remFunc, nullptr, nullptr);
  if (rc != SQLITE_OK) {
    setDbError(pzErr, dbRem);
    return rc;
  }
  rc = sqlite3_create_function(p->dbUser, "sample", 0, SQLITE_UTF8, &p->samplectx, sampleFunc,
                               nullptr, nullptr);
  if (rc != SQLITE_OK) {
    setDbError(pzErr, p->dbUser);
    return rc;
  }

  StmtPtr pIndexes;
  StmtPtr pKeys;
  StmtPtr pWriter;
  rc = prepare(p->dbPlan,
               "SELECT s.rowid, s.name, l.name FROM   sqlite_schema AS s,   "
               "pragma_index_list(s.name) AS l WHERE s.type = 'table'",
               &pIndexes, pzErr);
  if (rc == SQLITE_OK) {
    rc =
        prepare(p->dbPlan, "SELECT name, coll FROM pragma_index_xinfo(?) WHERE key", &pKeys, pzErr);
  }
  if (rc == SQLITE_OK) {
    rc = prepare(p->dbPlan, "INSERT INTO sqlite_stat1 VALUES(?, ?, ?)", &pWriter, pzErr);
  }

  sqlite3_int64 iPrevTable = -1;
  bool bFirst = true;
  while (rc == SQLITE_OK && sqlite3_step(pIndexes.get()) == SQLITE_ROW) {
    sqlite3_int64 iTable = sqlite3_column_int64(pIndexes.get(), 0);
    const char* zTab = columnText(pIndexes.get(), 1);
    const char* zIdx = columnText(pIndexes.get(), 2);
    if (zTab == nullptr || zIdx == nullptr) continue;
    if (p->iSample < 100 && (bFirst || iTable != iPrevTable)) {
      p->samplectx.rFraction = p->iSample / 100.0;
      p->samplectx.iPercent = p->iSample;
      p->samplectx.nSeen = 0;
      p->samplectx.nKept = 0;
      rc =
          execSql(p->dbCapture, format("DROP TABLE IF EXISTS temp.%s", kScratchTable).get(), pzErr);
      if (rc == SQLITE_OK) {
        rc = execSql(p->dbCapture,
                     format("CREATE TABLE temp.%s AS SELECT * FROM %Q", kScratchTable, zTab).get(),
                     pzErr);
      }
    }
    bFirst = false;
    iPrevTable = iTable;
    if (rc == SQLITE_OK) rc = measureIndex(p, pKeys.get(), pWriter.get(), zTab, zIdx, pzErr);
  }
  if (rc == SQLITE_OK) rc = finishStmt(pIndexes, pzErr);
  if (p->iSample < 100) {
    int rcDrop = execSql(p->dbCapture, format("DROP TABLE IF EXISTS temp.%s", kScratchTable).get(),
                         rc == SQLITE_OK ? pzErr : nullptr);
    if (rc == SQLITE_OK) rc = rcDrop;
  }
  return rc;
}

int collectStats(IndexAdvisor* p, char** pzErr) {
  if (p->iSample == 0) return SQLITE_OK;

  // The widest index sets the number of remembered values.
  StmtPtr pMax;
  int rc = prepare(p->dbPlan,
                   "SELECT max(i.seqno) FROM   sqlite_schema AS s,   pragma_index_list(s.name) AS "
                   "l,   pragma_index_info(l.name) AS i WHERE s.type = 'table'",
                   &pMax, pzErr);
  if (rc != SQLITE_OK) return rc;
  int nMax = 0;
  if (sqlite3_step(pMax.get()) == SQLITE_ROW) nMax = sqlite3_column_int(pMax.get(), 0) + 1;
  rc = finishStmt(pMax, pzErr);
  if (rc != SQLITE_OK) return rc;

  AdvRemCtx rem;
  rem.nSlot = nMax + 1;
  rem.aValSlot.resize(static_cast<size_t>(rem.nSlot));
  rc = collectStatsLoop(p, &rem, pzErr);
  if (rc == SQLITE_OK) rc = execSql(p->dbPlan, "ANALYZE sqlite_schema", pzErr);
  sqlite3_exec(p->dbUser, format("DROP TABLE IF EXISTS temp.%s", kScratchTable).get(), nullptr,
               nullptr, nullptr);
  return rc;
}

// ---------------------------------------------------------------------------
// Analysis: plans.

// The name of the index a plan line uses, when it is a candidate.  The name
// follows " USING INDEX " or " USING COVERING INDEX " and ends at the end of
// the line or at " (" - the first such end that names a candidate, as a table
// name may hold " (" itself.
AdvHashEntry* usedCandidate(IndexAdvisor* p, std::string_view zDetail) {
  constexpr std::string_view kIndex = " USING INDEX ";
  constexpr std::string_view kCovering = " USING COVERING INDEX ";
  size_t iName = std::string_view::npos;
  for (size_t i = 0; i < zDetail.size(); i++) {
    if (zDetail.substr(i, kIndex.size()) == kIndex) {
      iName = i + kIndex.size();
      break;
    }
    if (zDetail.substr(i, kCovering.size()) == kCovering) {
      iName = i + kCovering.size();
      break;
    }
  }
  if (iName == std::string_view::npos) return nullptr;
  std::string_view zRest = zDetail.substr(iName);
  for (size_t iEnd = zRest.find(" ("); iEnd != std::string_view::npos;
       iEnd = zRest.find(" (", iEnd + 1)) {
    if (AdvHashEntry* pEntry = p->candidates.find(zRest.substr(0, iEnd))) return pEntry;
  }
  return p->candidates.find(zRest);
}

int findUsedIndexes(IndexAdvisor* p, char** pzErr) {
  for (AdvStatement* pStmt = p->pStmtList.get(); pStmt; pStmt = pStmt->pNext.get()) {
    pStmt->zIndexText.clear();
    pStmt->zPlanText.clear();
    AdvHash hIdx;
    StmtPtr pExplain;
    int rc = prepare(p->dbPlan, format("EXPLAIN QUERY PLAN %s", pStmt->zSqlText.c_str()).get(),
                     &pExplain, pzErr);
    if (rc != SQLITE_OK) return rc;
    while (sqlite3_step(pExplain.get()) == SQLITE_ROW) {
      const char* zDetail = columnText(pExplain.get(), 3);
      if (zDetail == nullptr) continue;
      if (AdvHashEntry* pEntry = usedCandidate(p, zDetail)) {
        hIdx.add(pEntry->zHashKey, pEntry->zVal);
      }
      if (zDetail[0] != '-') {
        pStmt->zPlanText += zDetail;
        pStmt->zPlanText += '\n';
      }
    }
    rc = finishStmt(pExplain, pzErr);
    if (rc != SQLITE_OK) return rc;
    for (AdvHashEntry* pEntry = hIdx.pAllEntries.get(); pEntry; pEntry = pEntry->pAllNext.get()) {
      pStmt->zIndexText += pEntry->zVal;
      pStmt->zIndexText += ";\n";
    }
  }
  return SQLITE_OK;
}

AdvStatement* findStatement(IndexAdvisor* p, int iStmt) {
  for (AdvStatement* pStmt = p->pStmtList.get(); pStmt; pStmt = pStmt->pNext.get()) {
    if (pStmt->iStmtId == iStmt) return pStmt;
  }
  return nullptr;
}

const char* textOrNull(const std::string& z) {
  return z.empty() ? nullptr : z.c_str();
}

}  // namespace

// ---------------------------------------------------------------------------
// Public operations.

IndexAdvisor* sqlite3_expert_new(sqlite3* db, char** pzErr) {
  if (pzErr) *pzErr = nullptr;
  AdvisorPtr p(new (std::nothrow) IndexAdvisor);
  if (!p) return nullptr;
  p->dbUser = db;

  int rc = sqlite3_open(":memory:", &p->dbCapture);
  if (rc == SQLITE_OK) rc = sqlite3_open(":memory:", &p->dbPlan);
  if (rc != SQLITE_OK) return nullptr;  // only memory can run out here
  sqlite3_db_config(p->dbPlan, SQLITE_DBCONFIG_TRIGGER_EQP, 1, nullptr);

  rc = copySchemaToPlan(p.get(), pzErr);
  if (rc == SQLITE_OK) rc = buildCaptureSchema(p.get(), pzErr);
  if (rc == SQLITE_OK) rc = sqlite3_set_authorizer(p->dbCapture, recordWrites, p.get());
  if (rc != SQLITE_OK) return nullptr;
  return p.release();
}

int advisorConfig(IndexAdvisor* p, int eOption, int iValue) {
  if (eOption != ADVISOR_CONFIG_SAMPLE) return SQLITE_NOTFOUND;
  if (iValue < 0) iValue = 0;
  if (iValue > 100) iValue = 100;
  p->iSample = iValue;
  return SQLITE_OK;
}

int advisorAddSql(IndexAdvisor* p, const char* zSql, char** pzErr) {
  if (p->bAnalyzed) return SQLITE_MISUSE;
  AdvScan* pScanOrig = p->pScanList.get();
  AdvStatement* pStmtOrig = p->pStmtList.get();
  int rc = SQLITE_OK;
  const char* zNext = zSql;
  while (rc == SQLITE_OK && zNext && zNext[0]) {
    sqlite3_stmt* pStmt = nullptr;
    rc = sqlite3_prepare_v2(p->dbCapture, zNext, -1, &pStmt, &zNext);
    if (rc != SQLITE_OK) {
      setDbError(pzErr, p->dbCapture);
      explainVirtualTableError(p, pzErr);
      break;
    }
    if (pStmt == nullptr) continue;  // only white space or a comment
    auto* pNew = new (std::nothrow) AdvStatement;
    if (pNew == nullptr) {
      sqlite3_finalize(pStmt);
      rc = SQLITE_NOMEM;
      break;
    }
    pNew->iStmtId = p->pStmtList ? p->pStmtList->iStmtId + 1 : 0;
    pNew->zSqlText = sqlite3_sql(pStmt);
    pNew->pNext = std::move(p->pStmtList);
    p->pStmtList.reset(pNew);
    sqlite3_finalize(pStmt);
  }
  if (rc != SQLITE_OK) {
    while (p->pScanList.get() != pScanOrig) p->pScanList = std::move(p->pScanList->pNext);
    while (p->pStmtList.get() != pStmtOrig) p->pStmtList = std::move(p->pStmtList->pNext);
  }
  return rc;
}

int advisorAnalyze(IndexAdvisor* p, char** pzErr) {
  if (p->bAnalyzed) return SQLITE_MISUSE;
  int rc = processTriggers(p, pzErr);
  if (rc == SQLITE_OK) rc = createCandidates(p, pzErr);
  if (rc == SQLITE_OK) rc = collectStats(p, pzErr);
  if (rc == SQLITE_OK) {
    p->zCandidateText.clear();
    for (AdvHashEntry* pEntry = p->candidates.pAllEntries.get(); pEntry;
         pEntry = pEntry->pAllNext.get()) {
      p->zCandidateText += pEntry->zVal;
      p->zCandidateText += ';';
      if (!pEntry->zVal2.empty()) {
        p->zCandidateText += " -- stat1: ";
        p->zCandidateText += pEntry->zVal2;
      }
      p->zCandidateText += '\n';
    }
    rc = findUsedIndexes(p, pzErr);
  }
  if (rc == SQLITE_OK) p->bAnalyzed = true;
  return rc;
}

int advisorCount(IndexAdvisor* p) {
  return p->pStmtList ? p->pStmtList->iStmtId + 1 : 0;
}

const char* advisorReport(IndexAdvisor* p, int iStmt, int eReport) {
  if (!p->bAnalyzed) return nullptr;
  if (eReport == ADVISOR_REPORT_CANDIDATES) return textOrNull(p->zCandidateText);
  AdvStatement* pStmt = findStatement(p, iStmt);
  if (pStmt == nullptr) return nullptr;
  switch (eReport) {
    case ADVISOR_REPORT_SQL:
      return pStmt->zSqlText.c_str();
    case ADVISOR_REPORT_INDEXES:
      return textOrNull(pStmt->zIndexText);
    case ADVISOR_REPORT_PLAN:
      return textOrNull(pStmt->zPlanText);
    default:
      return nullptr;
  }
}

void advisorFree(IndexAdvisor* p) {
  delete p;
}

std::string advisorReportText(IndexAdvisor* p, bool bVerbose) {
  std::string zOut;
  if (p == nullptr || !p->bAnalyzed) return zOut;
  auto append = [&zOut](const char* z) {
    if (z) zOut += z;
  };
  if (bVerbose) {
    zOut += "-- Candidates -----------------------------\n";
    append(advisorReport(p, 0, ADVISOR_REPORT_CANDIDATES));
    zOut += '\n';
  }
  int nStmt = advisorCount(p);
  for (int i = 0; i < nStmt; i++) {
    if (bVerbose) {
      SqlitePtr zHead = format("-- Query %d --------------------------------\n", i + 1);
      append(zHead.get());
      append(advisorReport(p, i, ADVISOR_REPORT_SQL));
      zOut += "\n\n";
    }
    const char* zIdx = advisorReport(p, i, ADVISOR_REPORT_INDEXES);
    zOut += zIdx ? zIdx : "(no new indexes)\n";
    zOut += '\n';
    append(advisorReport(p, i, ADVISOR_REPORT_PLAN));
    zOut += '\n';
  }
  return zOut;
}
