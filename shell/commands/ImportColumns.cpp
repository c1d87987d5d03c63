#include "shell/commands/ImportColumns.h"

#include "shell/core/ShellContext.h"

namespace {

// The scratch schema.  A name is repeated when another position holds the
// same name ignoring ASCII case; the index keeps that test fast for wide headers.
const char* const zColumnsSchema =
    "CREATE TABLE ColNames("
    " cpos INTEGER PRIMARY KEY, name TEXT, nlen INT, chop INT, reps INT, suff TEXT,"
    " ctype TEXT NOT NULL DEFAULT 'TEXT');"
    "CREATE INDEX ColNamesNocase ON ColNames(name COLLATE NOCASE);"
    "CREATE VIEW RepeatedNames AS"
    " SELECT DISTINCT t.name FROM ColNames t"
    " WHERE EXISTS(SELECT 1 FROM ColNames o"
    " WHERE o.name=t.name COLLATE NOCASE AND o.cpos<>t.cpos);";

const char* const zAddName =
    "INSERT INTO ColNames(name,nlen,chop,reps,suff)"
    " VALUES(iif(length(?1)>0,?1,'?'),max(length(?1),1),0,0,'')";

const char* const zHasDupes =
    "SELECT count(DISTINCT (substring(name,1,nlen-chop)||suff) COLLATE NOCASE)"
    " <count(name) FROM ColNames";

// Digits of the largest position: 1 for up to 9 columns, 2 for up to 99, ...
const char* const zDigitCount =
    "SELECT CASE WHEN (nc < 10) THEN 1 WHEN (nc < 100) THEN 2"
    " WHEN (nc < 1000) THEN 3 WHEN (nc < 10000) THEN 4 ELSE 5 END"
    " FROM (SELECT count(*) AS nc FROM ColNames)";

// reps: how many columns share the (chopped) name, ignoring case.  Counted by
// a window over the names, so that a wide header of equal names stays fast.
const char* const zCountReps =
    "UPDATE ColNames AS t SET reps=w.n FROM ("
    " SELECT cpos, count(*) OVER (PARTITION BY substring(name,1,nlen-chop) COLLATE NOCASE) AS n"
    " FROM ColNames) AS w"
    " WHERE w.cpos=t.cpos";

// A repeated name becomes name_<Z zeros><position>.  Z is the smallest count of
// extra zeros for which no two columns end up with the same name ignoring case,
// both with the position zero-padded to the digit count ($1) and as applied
// (plain).  The applied form must be tested too: with ten or more columns
// "a" at position 2 becomes a_2, which another column may already be called.
const char* const zRename =
    "WITH Lzn(nlz) AS ("
    " SELECT 0 AS nlz"
    " UNION"
    " SELECT nlz+1 AS nlz FROM Lzn"
    " WHERE (SELECT count(DISTINCT iif(t.name IN (SELECT * FROM RepeatedNames),"
    "   printf('%s_%s', t.name, substring(printf('%.*c%0.*d',nlz+1,'0',$1,t.cpos),2)),"
    "   t.name) COLLATE NOCASE) FROM ColNames t) < (SELECT count(*) FROM ColNames)"
    "  OR (SELECT count(DISTINCT iif(t.name IN (SELECT * FROM RepeatedNames),"
    "   printf('%s_%s', t.name, substring(printf('%.*c%d',nlz+1,'0',t.cpos),2)),"
    "   t.name) COLLATE NOCASE) FROM ColNames t) < (SELECT count(*) FROM ColNames))"
    " UPDATE ColNames AS t SET chop = 0, suff = iif(name IN (SELECT * FROM RepeatedNames),"
    "  printf('_%s', substring(printf('%.*c%d',(SELECT max(nlz) FROM Lzn)+1,'0',t.cpos),2)),"
    "  '')";

const char* const zColumnList =
    "SELECT '('||x'0a' || group_concat("
    "  cname||iif(ctype='','',' '||ctype),"
    "  ','||iif((cpos-1)%4>0, ' ', x'0a'||' ')) ||')' AS ColsSpec"
    " FROM ("
    " SELECT cpos, ctype, printf('\"%w\"',printf('%!.*s%s', nlen-chop,name,suff)) AS cname"
    "  FROM ColNames ORDER BY cpos)";

const char* const zRenameReport =
    "SELECT group_concat("
    " printf('\"%w\" to \"%w\"',name,printf('%!.*s%s', nlen-chop, name, suff)),"
    " ','||x'0a')"
    "FROM ColNames WHERE suff<>'' OR chop!=0";

// The engine's calls here fail only for want of memory.
void checkRc(int rc) {
  if (rc == SQLITE_NOMEM) exitOutOfMemory();
}

// The first row's first column as an engine-allocated copy, or null.
char* queryText(sqlite3* db, const char* zSql) {
  int rc;
  StmtPtr pStmt = prepareStmt(db, zSql, &rc);
  checkRc(rc);
  if (!pStmt) return nullptr;
  char* zResult = nullptr;
  rc = sqlite3_step(pStmt.get());
  checkRc(rc);
  if (rc == SQLITE_ROW) {
    const unsigned char* z = sqlite3_column_text(pStmt.get(), 0);
    if (z) zResult = checkAlloc(sqlite3_mprintf("%s", z));
  }
  return zResult;
}

void execOrExit(sqlite3* db, const char* zSql) {
  checkRc(sqlite3_exec(db, zSql, nullptr, nullptr, nullptr));
}

void closeScratch(sqlite3** pDb) {
  // The statement that adds names is kept prepared between calls.
  while (sqlite3_stmt* pStmt = sqlite3_next_stmt(*pDb, nullptr)) sqlite3_finalize(pStmt);
  sqlite3_close(*pDb);
  *pDb = nullptr;
}

void addName(const char* zName, sqlite3** pDb) {
  if (*pDb == nullptr) {
    // An in-memory database fails to open only for want of memory; going on
    // without it would lose this name and make the table narrower.
    if (sqlite3_open(":memory:", pDb) != SQLITE_OK) {
      sqlite3_close(*pDb);
      *pDb = nullptr;
      exitOutOfMemory();
    }
    const int rc = sqlite3_exec(*pDb, zColumnsSchema, nullptr, nullptr, nullptr);
    checkRc(rc);
    if (rc != SQLITE_OK) {
      closeScratch(pDb);
      return;
    }
  }
  sqlite3_stmt* pStmt = sqlite3_next_stmt(*pDb, nullptr);
  if (pStmt == nullptr) {
    const int rc = sqlite3_prepare_v2(*pDb, zAddName, -1, &pStmt, nullptr);
    checkRc(rc);
    if (pStmt == nullptr) return;
  }
  sqlite3_bind_text(pStmt, 1, zName, -1, SQLITE_STATIC);
  checkRc(sqlite3_step(pStmt));
  sqlite3_reset(pStmt);
  sqlite3_clear_bindings(pStmt);
}

}  // namespace

void importColumnTypes(sqlite3* db, const char* const* azType, int nType) {
  if (db == nullptr) return;
  int rc;
  StmtPtr pStmt = prepareStmt(db, "UPDATE ColNames SET ctype=?2 WHERE cpos=?1", &rc);
  checkRc(rc);
  if (!pStmt) return;
  for (int i = 0; i < nType; i++) {
    sqlite3_bind_int(pStmt.get(), 1, i + 1);
    sqlite3_bind_text(pStmt.get(), 2, azType[i], -1, SQLITE_STATIC);
    checkRc(sqlite3_step(pStmt.get()));
    sqlite3_reset(pStmt.get());
  }
}

int db_int(sqlite3* db, const char* zSql) {
  int rc;
  StmtPtr pStmt = prepareStmt(db, zSql, &rc);
  checkRc(rc);
  if (!pStmt) return 0;
  rc = sqlite3_step(pStmt.get());
  checkRc(rc);
  return rc == SQLITE_ROW ? sqlite3_column_int(pStmt.get(), 0) : 0;
}

char* importColumnNames(const char* zName, sqlite3** pDb, char** pzRenamed) {
  if (zName != nullptr) {
    addName(zName, pDb);
    return nullptr;
  }
  if (*pDb == nullptr) return nullptr;
  sqlite3* db = *pDb;
  while (sqlite3_stmt* pStmt = sqlite3_next_stmt(db, nullptr)) sqlite3_finalize(pStmt);

  const bool bHasDupes = db_int(db, zHasDupes) != 0;
  if (bHasDupes) {
    const int nDigits = db_int(db, zDigitCount);
    execOrExit(db, zCountReps);
    int rc;
    StmtPtr pStmt = prepareStmt(db, zRename, &rc);
    checkRc(rc);
    if (pStmt) {
      sqlite3_bind_int(pStmt.get(), 1, nDigits);
      checkRc(sqlite3_step(pStmt.get()));
    }
  }
  char* zColDefs = queryText(db, zColumnList);
  if (pzRenamed) *pzRenamed = bHasDupes ? queryText(db, zRenameReport) : nullptr;
  closeScratch(pDb);
  return zColDefs;
}
