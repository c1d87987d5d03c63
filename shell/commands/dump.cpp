// .dump: the database as an SQL script that rebuilds it.
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "shell/commands/Commands.h"
#include "shell/commands/Dump.h"
#include "shell/core/OpenDatabase.h"
#include "shell/core/Progress.h"
#include "shell/core/ShellContext.h"
#include "shell/exec/Execute.h"
#include "shell/core/Output.h"
#include "shell/exec/SchemaPrinters.h"

namespace {

// Names under which a rowid can be dumped, in order of preference.
const char* const rowidAliasNames[] = {"rowid", "_rowid_", "oid"};

// The flag bits a dump clears at its start and restores at its end.
constexpr unsigned mDumpFlags = ShellFlag::PreserveRowid | ShellFlag::Newlines | ShellFlag::Echo |
                                ShellFlag::DumpDataOnly | ShellFlag::DumpNoSys;

bool isCorrupt(int rc) {
  return (rc & 0xff) == SQLITE_CORRUPT;
}

// The query without its trailing ORDER BY clause, formatted with
// " ORDER BY rowid DESC" in its place.
char* reverseListingQuery(const char* zQuery) {
  const char* zCut = nullptr;
  for (const char* z = zQuery; (z = std::strstr(z, " ORDER BY ")) != nullptr; z++) zCut = z;
  int n = zCut ? static_cast<int>(zCut - zQuery) : textLength(zQuery);
  return sqlite3_mprintf("%.*s ORDER BY rowid DESC", n, zQuery);
}

// True when zSql followed by zTerm and ';' is a complete statement.
bool isCompleteWith(const char* zSql, const char* zTerm) {
  SqlitePtr zTry(checkAlloc(sqlite3_mprintf("%s%s;", zSql, zTerm)));
  return sqlite3_complete(zTry.get()) != 0;
}

}  // namespace

int toggleUnorderedSelects(sqlite3* db) {
  int bReverse = 0;
  {
    StmtPtr pStmt = prepareStmt(db, "PRAGMA reverse_unordered_selects");
    if (pStmt && sqlite3_step(pStmt.get()) == SQLITE_ROW) {
      bReverse = sqlite3_column_int(pStmt.get(), 0);
    }
  }
  char zStmt[100];
  sqlite3_snprintf(sizeof(zStmt), zStmt, "PRAGMA reverse_unordered_selects(%d)", !bReverse);
  return sqlite3_exec(db, zStmt, nullptr, nullptr, nullptr);
}

void freeColumnNames(char** azCol) {
  if (azCol == nullptr) return;
  for (int i = 1; azCol[i]; i++) sqlite3_free(azCol[i]);
  std::free(azCol);
}

char** tableColumnNames(ShellContext* p, const char* zTable) {
  // Everything is read from the main schema: a temp table of the same name
  // must not stand in for the table being dumped.
  SqlitePtr zSql(checkAlloc(sqlite3_mprintf("PRAGMA main.table_info=%Q", zTable)));
  StmtPtr pStmt = prepareStmt(p->db, zSql.get());
  if (!pStmt) return nullptr;
  char** azCol = nullptr;
  int nCol = 0;
  int nAlloc = 0;
  int nPK = 0;
  bool bIntegerPK = false;
  while (sqlite3_step(pStmt.get()) == SQLITE_ROW) {
    if (nCol >= nAlloc - 2) {
      nAlloc = nAlloc * 2 + nCol + 10;
      azCol = checkAlloc(
          static_cast<char**>(std::realloc(azCol, static_cast<size_t>(nAlloc) * sizeof(char*))));
    }
    azCol[++nCol] = checkAlloc(sqlite3_mprintf("%s", sqlite3_column_text(pStmt.get(), 1)));
    if (sqlite3_column_int(pStmt.get(), 5) != 0) {
      nPK++;
      const char* zType = reinterpret_cast<const char*>(sqlite3_column_text(pStmt.get(), 2));
      bIntegerPK = nPK == 1 && zType != nullptr && sqlite3_stricmp(zType, "INTEGER") == 0;
    }
  }
  pStmt.reset();
  if (azCol == nullptr) return nullptr;
  azCol[0] = nullptr;
  azCol[nCol + 1] = nullptr;

  bool bPreserve = (p->mFlags & ShellFlag::PreserveRowid) != 0;
  if (bPreserve && bIntegerPK) {
    // An INTEGER PRIMARY KEY is the rowid itself unless it is backed by an
    // index of its own (declared with DESC, for instance).
    zSql.reset(checkAlloc(
        sqlite3_mprintf("SELECT 1 FROM main.pragma_index_list(%Q) WHERE origin='pk'", zTable)));
    pStmt = prepareStmt(p->db, zSql.get());
    if (!pStmt) {
      freeColumnNames(azCol);
      return nullptr;
    }
    bPreserve = sqlite3_step(pStmt.get()) == SQLITE_ROW;
    pStmt.reset();
  }
  if (bPreserve) {
    for (const char* zAlias : rowidAliasNames) {
      bool bTaken = false;
      for (int i = 1; i <= nCol && !bTaken; i++) bTaken = sqlite3_stricmp(azCol[i], zAlias) == 0;
      if (bTaken) continue;
      if (sqlite3_table_column_metadata(p->db, "main", zTable, zAlias, nullptr, nullptr, nullptr,
                                        nullptr, nullptr) == SQLITE_OK) {
        azCol[0] = const_cast<char*>(zAlias);
      }
      break;
    }
  }
  return azCol;
}

// The progress of the dump being written: tables done of those to dump.
struct DumpProgress {
  TerminalProgress* pLine = nullptr;
  sqlite3_int64 nDone = 0;
  sqlite3_int64 nTotal = 0;
};
DumpProgress dumpProgress;

// The first error the dump met, named in the closing message on standard
// error (the script itself carries every error as a comment).
char zFirstDumpError[200];

void countDumpError(ShellContext* p, const char* zMessage) {
  if (p->nErrors++ == 0) {
    setSettingText(zFirstDumpError, zMessage != nullptr ? zMessage : "unknown error");
  }
}

int dumpTableCallback(void* pArg, int nCol, char** azVal, char** /*azCol*/) {
  auto* p = static_cast<ShellContext*>(pArg);
  if (dumpProgress.pLine != nullptr) {
    dumpProgress.pLine->update(dumpProgress.nDone++, dumpProgress.nTotal);
  }
  if (nCol != 3 || azVal == nullptr) return 0;
  const char* zTable = azVal[0];
  const char* zType = azVal[1];
  const char* zSql = azVal[2];
  if (zTable == nullptr || zType == nullptr) return 0;
  bool bDataOnly = (p->mFlags & ShellFlag::DumpDataOnly) != 0;
  bool bNoSys = (p->mFlags & ShellFlag::DumpNoSys) != 0;

  if (std::strcmp(zTable, "sqlite_sequence") == 0 && !bNoSys) {
    if (!bDataOnly) printConsole(p->pOut, "DELETE FROM sqlite_sequence;\n");
  } else if (sqlite3_strglob("sqlite_stat?", zTable) == 0 && !bNoSys) {
    if (!bDataOnly) printConsole(p->pOut, "ANALYZE sqlite_schema;\n");
  } else if (std::strncmp(zTable, "sqlite_", 7) == 0) {
    return 0;
  } else if (bDataOnly) {
    // rows only
  } else if (zSql != nullptr && std::strncmp(zSql, "CREATE VIRTUAL TABLE", 20) == 0) {
    if (!p->bSchemaWritable) {
      printConsole(p->pOut, "PRAGMA writable_schema=ON;\n");
      p->bSchemaWritable = 1;
    }
    printConsole(p->pOut,
                 "INSERT INTO sqlite_schema(type,name,tbl_name,rootpage,sql)"
                 "VALUES('table','%q','%q',0,'%q');\n",
                 zTable, zTable, zSql);
    return 0;
  } else {
    writeSchemaStatement(p->pOut, zSql, ";\n");
  }

  if (std::strcmp(zType, "table") != 0) return 0;

  char** azColNames = tableColumnNames(p, zTable);
  if (azColNames == nullptr) {
    countDumpError(p, sqlite3_errmsg(p->db));
    return 0;
  }
  TextBuffer sTable;
  textInit(&sTable);
  textAppend(&sTable, zTable, identQuoteChar(zTable));
  if (azColNames[0] != nullptr) {
    textAppend(&sTable, "(", 0);
    textAppend(&sTable, azColNames[0], 0);
    for (int i = 1; azColNames[i]; i++) {
      textAppend(&sTable, ",", 0);
      textAppend(&sTable, azColNames[i], identQuoteChar(azColNames[i]));
    }
    textAppend(&sTable, ")", 0);
  }
  TextBuffer sSelect;
  textInit(&sSelect);
  textAppend(&sSelect, "SELECT ", 0);
  if (azColNames[0] != nullptr) {
    textAppend(&sSelect, azColNames[0], 0);
    textAppend(&sSelect, ",", 0);
  }
  for (int i = 1; azColNames[i]; i++) {
    textAppend(&sSelect, azColNames[i], identQuoteChar(azColNames[i]));
    if (azColNames[i + 1]) textAppend(&sSelect, ",", 0);
  }
  freeColumnNames(azColNames);
  textAppend(&sSelect, " FROM main.", 0);
  textAppend(&sSelect, zTable, identQuoteChar(zTable));

  char* zSavedInsertTable = p->zInsertTable;
  OutputMode eSavedMode = p->eMode;
  p->zInsertTable = sTable.z;
  p->eMode = p->eModeNow = OutputMode::Insert;
  int rc = runStatements(p, sSelect.z, nullptr);
  if (isCorrupt(rc)) {
    printConsole(p->pOut, "/****** CORRUPTION ERROR *******/\n");
    toggleUnorderedSelects(p->db);
    runStatements(p, sSelect.z, nullptr);
    toggleUnorderedSelects(p->db);
  }
  p->zInsertTable = zSavedInsertTable;
  p->eMode = eSavedMode;
  textFree(&sTable);
  textFree(&sSelect);
  if (rc != SQLITE_OK) countDumpError(p, sqlite3_errstr(rc));
  return 0;
}

int runSchemaDumpQuery(ShellContext* p, const char* zQuery) {
  char* zErr = nullptr;
  int rc = sqlite3_exec(p->db, zQuery, dumpTableCallback, p, &zErr);
  if (!isCorrupt(rc)) {
    if (rc != SQLITE_OK) {
      // The listing itself failed (not a database, locked, interrupted): the
      // tables it did not reach are missing from the script.
      countDumpError(p, zErr ? zErr : sqlite3_errstr(rc));
      printConsole(p->pOut, "/****** ERROR: %s ******/\n", zErr ? zErr : sqlite3_errstr(rc));
    }
    sqlite3_free(zErr);
    return rc;
  }
  // Whatever the retry finds, objects may be missing from the script: it
  // must not end in COMMIT.
  countDumpError(p, zErr ? zErr : sqlite3_errstr(rc));
  printConsole(p->pOut, "/****** CORRUPTION ERROR *******/\n");
  if (zErr != nullptr) {
    printConsole(p->pOut, "/****** %s ******/\n", zErr);
    sqlite3_free(zErr);
    zErr = nullptr;
  }
  SqlitePtr zRetry(reverseListingQuery(zQuery));
  if (!zRetry) return rc;
  int rcRetry = sqlite3_exec(p->db, zRetry.get(), dumpTableCallback, p, &zErr);
  if (rcRetry != SQLITE_OK) {
    printConsole(p->pOut, "/****** ERROR: %s ******/\n", zErr ? zErr : sqlite3_errstr(rcRetry));
    sqlite3_free(zErr);
    return rcRetry;
  }
  return rc;
}

int runStatementDumpQuery(ShellContext* p, const char* zSelect) {
  sqlite3_stmt* pRaw = nullptr;
  int rc = sqlite3_prepare_v2(p->db, zSelect, -1, &pRaw, nullptr);
  StmtPtr pSelect(pRaw);
  if (rc != SQLITE_OK || !pSelect) {
    SqlitePtr zContext(sqlErrorContext(zSelect, p->db));
    printConsole(p->pOut, "/**** ERROR: (%d) %s *****/\n%s", rc, sqlite3_errmsg(p->db),
                 zContext ? zContext.get() : "");
    // Counted even for corruption: the indexes, triggers and views are missing.
    countDumpError(p, sqlite3_errmsg(p->db));
    return rc;
  }
  int nResult = sqlite3_column_count(pSelect.get());
  while ((rc = sqlite3_step(pSelect.get())) == SQLITE_ROW) {
    const char* z = reinterpret_cast<const char*>(sqlite3_column_text(pSelect.get(), 0));
    printConsole(p->pOut, "%s", z ? z : "");
    for (int i = 1; i < nResult; i++) {
      const char* zCol = reinterpret_cast<const char*>(sqlite3_column_text(pSelect.get(), i));
      printConsole(p->pOut, ",%s", zCol ? zCol : "");
    }
    // A comment at the end of the statement must not swallow its terminator
    // (and with it the rest of the script): close an open "/*" comment, and
    // put the ';' on a line of its own after any "--".
    if (z != nullptr && nResult == 1 && std::strstr(z, "/*") != nullptr && !isCompleteWith(z, "") &&
        isCompleteWith(z, "*/")) {
      printConsole(p->pOut, "*/");
    }
    printConsole(p->pOut, (z != nullptr && std::strstr(z, "--") != nullptr) ? "\n;\n" : ";\n");
  }
  rc = sqlite3_finalize(pSelect.release());
  if (rc != SQLITE_OK) {
    printConsole(p->pOut, "/**** ERROR: (%d) %s *****/\n", rc, sqlite3_errmsg(p->db));
    countDumpError(p, sqlite3_errmsg(p->db));
  }
  return rc;
}

int doDump(ShellContext* p, int nArg, char** azArg) {
  int bSavedHeaders = p->bHeaders;
  unsigned mSavedFlags = p->mFlags;
  // Statement displays that would write into the script are off meanwhile.
  unsigned char eSavedEqpMode = p->eEqpMode;
  unsigned eSavedStatsMode = p->eStatsMode;
  unsigned char bSavedScanStats = p->bScanStats;
  p->mFlags &= ~mDumpFlags;

  char* zLike = nullptr;
  for (int i = 1; i < nArg; i++) {
    if (azArg[i][0] == '-') {
      const char* z = azArg[i] + 1;
      if (z[0] == '-') z++;
      if (std::strcmp(z, "preserve-rowids") == 0) {
        p->mFlags |= ShellFlag::PreserveRowid;
      } else if (std::strcmp(z, "newlines") == 0) {
        p->mFlags |= ShellFlag::Newlines;
      } else if (std::strcmp(z, "data-only") == 0) {
        p->mFlags |= ShellFlag::DumpDataOnly;
      } else if (std::strcmp(z, "nosys") == 0) {
        p->mFlags |= ShellFlag::DumpNoSys;
      } else {
        printConsole(stderr, "Unknown option \"%s\" on \".dump\"\n", azArg[i]);
        sqlite3_free(zLike);
        p->mFlags = mSavedFlags;
        return 1;
      }
    } else {
      char* zExpr =
          checkAlloc(sqlite3_mprintf("name LIKE %Q ESCAPE '\\' OR EXISTS ("
                                     "  SELECT 1 FROM sqlite_schema WHERE "
                                     "    name LIKE %Q ESCAPE '\\' AND"
                                     "    sql LIKE 'CREATE VIRTUAL TABLE%%' AND"
                                     "    substr(o.name, 1, length(name)+1) == (name||'_')"
                                     ")",
                                     azArg[i], azArg[i]));
      zLike = zLike ? checkAlloc(sqlite3_mprintf("%z OR %z", zLike, zExpr)) : zExpr;
    }
  }

  openDatabase(p, 0);
  if (p->db == nullptr) {
    p->mFlags = mSavedFlags;
    sqlite3_free(zLike);
    return 1;
  }
  p->eEqpMode = 0;
  p->eStatsMode = 0;
  p->bScanStats = 0;
  bool bDataOnly = (p->mFlags & ShellFlag::DumpDataOnly) != 0;
  if (!bDataOnly) {
    printRaw(p->pOut, "PRAGMA foreign_keys=OFF;\n");
    printRaw(p->pOut, "BEGIN TRANSACTION;\n");
  }
  p->bSchemaWritable = 0;
  p->bHeaders = 0;
  // With writable_schema on, the engine reads past a schema it cannot load,
  // and a database whose first page is damaged would dump as an empty one.
  // Reading the schema table before that tells such damage apart.
  p->nErrors = 0;
  {
    char* zErr = nullptr;
    if (sqlite3_exec(p->db, "SELECT count(*) FROM main.sqlite_schema", nullptr, nullptr, &zErr) !=
        SQLITE_OK) {
      const char* zWhy = zErr ? zErr : sqlite3_errmsg(p->db);
      countDumpError(p, zWhy);
      printConsole(p->pOut, "/****** ERROR: %s ******/\n", zWhy);
      printConsole(stderr, "Error: %s\n", zWhy);
      sqlite3_free(zErr);
    }
  }
  sqlite3_exec(p->db, "SAVEPOINT dump; PRAGMA writable_schema=ON", nullptr, nullptr, nullptr);

  const char* zCond = zLike ? zLike : "true";
  // Written to a file or a pipe, the dump shows how far it got on a terminal's
  // standard error; on the terminal itself the script is the progress.
  const bool bToTerminal = isatty(fileno(p->pOut)) != 0;
  TerminalProgress progress("tables", !bToTerminal);
  if (!bToTerminal && isatty(STDERR_FILENO)) {
    SqlitePtr zCount(checkAlloc(sqlite3_mprintf(
        "SELECT count(*) FROM sqlite_schema AS o WHERE (%s) AND type=='table' AND sql NOT NULL",
        zCond)));
    StmtPtr pCount = prepareStmt(p->db, zCount.get());
    if (pCount && sqlite3_step(pCount.get()) == SQLITE_ROW) {
      dumpProgress.nTotal = sqlite3_column_int64(pCount.get(), 0);
    }
    dumpProgress.pLine = &progress;
    dumpProgress.nDone = 0;
  }
  SqlitePtr zSql(
      checkAlloc(sqlite3_mprintf("SELECT name, type, sql FROM sqlite_schema AS o "
                                 "WHERE (%s) AND type=='table'"
                                 "  AND sql NOT NULL"
                                 " ORDER BY tbl_name='sqlite_sequence', rowid",
                                 zCond)));
  runSchemaDumpQuery(p, zSql.get());
  if (!bDataOnly) {
    zSql.reset(
        checkAlloc(sqlite3_mprintf("SELECT sql FROM sqlite_schema AS o "
                                   "WHERE (%s) AND sql NOT NULL"
                                   "  AND type IN ('index','trigger','view')",
                                   zCond)));
    runStatementDumpQuery(p, zSql.get());
  }
  zSql.reset();
  sqlite3_free(zLike);
  progress.finish();
  dumpProgress = DumpProgress{};

  if (p->bSchemaWritable) {
    printRaw(p->pOut, "PRAGMA writable_schema=OFF;\n");
    p->bSchemaWritable = 0;
  }
  sqlite3_exec(p->db, "PRAGMA writable_schema=OFF;", nullptr, nullptr, nullptr);
  sqlite3_exec(p->db, "RELEASE dump;", nullptr, nullptr, nullptr);
  const bool bIncomplete = p->nErrors != 0;
  if (!bDataOnly) {
    printRaw(p->pOut, bIncomplete ? "ROLLBACK; -- due to errors\n" : "COMMIT;\n");
  }
  p->bHeaders = bSavedHeaders;
  p->mFlags = mSavedFlags;
  p->eEqpMode = eSavedEqpMode;
  p->eStatsMode = eSavedStatsMode;
  p->bScanStats = bSavedScanStats;
  if (bIncomplete) {
    // A script that misses part of the database must not pass for a backup.
    printConsole(stderr,
                 "Error: .dump met errors reading the database (%s); the script is incomplete\n",
                 zFirstDumpError);
    return 1;
  }
  return 0;
}
