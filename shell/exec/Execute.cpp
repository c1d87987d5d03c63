// Running SQL text: prepare, optional plan display, parameter binding, stepping
// and rendering, and the error texts with their phase and SQL excerpt.
#include "shell/exec/Execute.h"

#include <cctype>
#include <cstring>
#include <string>

#include "shell/core/Redirect.h"
#include "shell/core/ShellContext.h"
#include "shell/exec/Columnar.h"
#include "shell/exec/Expert.h"
#include "shell/core/Output.h"
#include "shell/exec/Parameters.h"
#include "shell/exec/Stats.h"

namespace {

const char* skipSpace(const char* z) {
  while (std::isspace(static_cast<unsigned char>(*z))) z++;
  return z;
}

// The index advisor takes the whole text instead of running it.
int runAdvisor(ShellContext* p, const char* zSql, char** pzErrMsg) {
  char* zErr = nullptr;
  const int rc = feedExpert(p, zSql, &zErr);
  const int rcClose = closeExpert(p, rc != SQLITE_OK, zErr ? nullptr : &zErr);
  if (pzErrMsg) {
    *pzErrMsg = zErr;
  } else {
    sqlite3_free(zErr);
  }
  return rc != SQLITE_OK ? rc : rcClose;
}

// Prints the plan of zStmtSql as a tree (and, in full mode, its bytecode) before
// the statement runs.  Returns the statement to run: the same one, or, when the
// trigger-plan setting had to be switched on for the display, a fresh one
// prepared after switching it off again (null if that prepare fails, with *pRc
// set).
sqlite3_stmt* showPlanFirst(ShellContext* p, sqlite3_stmt* pStmt, int* pRc) {
  sqlite3* db = p->db;
  // The statement's text is copied: the statement may be finalized below.
  const char* zText = sqlite3_sql(pStmt);
  std::string zStmtSql(skipSpace(zText ? zText : ""));

  int bTriggerEqp = 0;
  sqlite3_db_config(db, SQLITE_DBCONFIG_TRIGGER_EQP, -1, &bTriggerEqp);
  if (p->eEqpMode >= 2) sqlite3_db_config(db, SQLITE_DBCONFIG_TRIGGER_EQP, 1, nullptr);

  {
    SqlitePtr zEqp(checkAlloc(sqlite3_mprintf("EXPLAIN QUERY PLAN %s", zStmtSql.c_str())));
    // The plan is shown only where it can be made; for want of memory it
    // would go missing without a word, so exhaustion ends the shell.
    int rcExplain = SQLITE_OK;
    StmtPtr pExplain = prepareStmt(db, zEqp.get(), &rcExplain);
    if (rcExplain == SQLITE_NOMEM) exitOutOfMemory();
    if (pExplain) {
      while ((rcExplain = sqlite3_step(pExplain.get())) == SQLITE_ROW) {
        const char* zLine = reinterpret_cast<const char*>(sqlite3_column_text(pExplain.get(), 3));
        if (zLine == nullptr && sqlite3_errcode(db) == SQLITE_NOMEM) exitOutOfMemory();
        if (zLine == nullptr) zLine = "";
        int iEqpId = sqlite3_column_int(pExplain.get(), 0);
        int iParentId = sqlite3_column_int(pExplain.get(), 1);
        if (zLine[0] == '-') planRender(p);
        planAppend(p, iEqpId, iParentId, zLine);
      }
      if (rcExplain == SQLITE_NOMEM) exitOutOfMemory();
      planRender(p);
    }
  }

  if (p->eEqpMode == 3) {
    SqlitePtr zExplain(checkAlloc(sqlite3_mprintf("EXPLAIN %s", zStmtSql.c_str())));
    int rcExplain = SQLITE_OK;
    StmtPtr pExplain = prepareStmt(db, zExplain.get(), &rcExplain);
    if (rcExplain == SQLITE_NOMEM) exitOutOfMemory();
    if (pExplain) {
      p->eModeNow = OutputMode::Explain;
      prepareExplainIndent(p, pExplain.get());
      runPrepared(p, pExplain.get());
      clearExplainIndent(p);
    }
  }

  if (p->eEqpMode >= 2 && bTriggerEqp == 0) {
    sqlite3_db_config(db, SQLITE_DBCONFIG_TRIGGER_EQP, 0, nullptr);
    sqlite3_finalize(pStmt);
    pStmt = nullptr;
    *pRc = sqlite3_prepare_v2(db, zStmtSql.c_str(), -1, &pStmt, nullptr);
    p->pCurStmt = pStmt;
  }
  return pStmt;
}

}  // namespace

char* sqlErrorContext(const char* zSql, sqlite3* db) {
  if (zSql == nullptr || db == nullptr) return checkAlloc(sqlite3_mprintf(""));
  int iOffset = sqlite3_error_offset(db);
  if (iOffset < 0) return checkAlloc(sqlite3_mprintf(""));
  // Start at most about 50 bytes before the error, never inside a character.
  while (iOffset > 50 && zSql[0] != 0) {
    iOffset--;
    zSql++;
    while ((static_cast<unsigned char>(zSql[0]) & 0xc0) == 0x80) {
      zSql++;
      iOffset--;
    }
  }
  int nLen = textLength(zSql);
  if (nLen > 78) {
    nLen = 78;
    while (nLen > 0 && (static_cast<unsigned char>(zSql[nLen]) & 0xc0) == 0x80) nLen--;
  }
  char* zCode = checkAlloc(sqlite3_mprintf("%.*s", nLen, zSql));
  for (int i = 0; zCode[i]; i++) {
    if (std::isspace(static_cast<unsigned char>(zSql[i]))) zCode[i] = ' ';
  }
  char* zMsg;
  if (iOffset < 25) {
    zMsg = sqlite3_mprintf("\n  %z\n  %*s^--- error here", zCode, iOffset, "");
  } else {
    zMsg = sqlite3_mprintf("\n  %z\n  %*serror here ---^", zCode, iOffset - 14, "");
  }
  return checkAlloc(zMsg);
}

char* phaseErrorText(sqlite3* db, const char* zPhase, int rc, const char* zSql) {
  char* zErr = checkAlloc(sqlite3_mprintf("%s, %s", zPhase, sqlite3_errmsg(db)));
  if (rc > 1) zErr = checkAlloc(sqlite3_mprintf("%z (%d)", zErr, rc));
  if (zSql != nullptr) {
    zErr = checkAlloc(sqlite3_mprintf("%z%z", zErr, sqlErrorContext(zSql, db)));
  }
  return zErr;
}

void reportStatementError(ShellContext* p, const char* zErrMsg, int iLine) {
  const char* zKind = "Error";
  const char* zDetail = zErrMsg;
  if (zErrMsg == nullptr) {
    zDetail = sqlite3_errmsg(p->db);
  } else if (std::strncmp(zErrMsg, "in prepare, ", 12) == 0) {
    zKind = "Parse error";
    zDetail = zErrMsg + 12;
  } else if (std::strncmp(zErrMsg, "stepping, ", 10) == 0) {
    zKind = "Runtime error";
    zDetail = zErrMsg + 10;
  }
  char zPrefix[100];
  if (iLine > 0) {
    sqlite3_snprintf(sizeof(zPrefix), zPrefix, "%s near line %d:", zKind, iLine);
  } else {
    sqlite3_snprintf(sizeof(zPrefix), zPrefix, "%s:", zKind);
  }
  printConsole(stderr, "%s %s\n", zPrefix, zDetail);
}

int runStatements(ShellContext* p, const char* zSql, char** pzErrMsg) {
  if (pzErrMsg) *pzErrMsg = nullptr;
  if (p->expert.pExpert) return runAdvisor(p, zSql, pzErrMsg);

  sqlite3* db = p->db;
  int rc = SQLITE_OK;
  while (zSql && zSql[0] && rc == SQLITE_OK) {
    sqlite3_stmt* pStmt = nullptr;
    const char* zLeftover = nullptr;
    rc = sqlite3_prepare_v2(db, zSql, -1, &pStmt, &zLeftover);
    if (rc != SQLITE_OK) {
      if (pzErrMsg) *pzErrMsg = phaseErrorText(db, "in prepare", rc, zSql);
      break;
    }
    if (pStmt == nullptr) {
      // Only white space or comments.
      zSql = skipSpace(zLeftover);
      continue;
    }

    p->pCurStmt = pStmt;
    p->nRowsShown = 0;
    if (p->eEqpMode != 0 && sqlite3_stmt_isexplain(pStmt) == 0) {
      pStmt = showPlanFirst(p, pStmt, &rc);
      if (pStmt == nullptr) {
        // The statement prepared once but not a second time.
        if (rc == SQLITE_OK) rc = SQLITE_ERROR;
        if (pzErrMsg) *pzErrMsg = phaseErrorText(db, "in prepare", rc, nullptr);
        p->pCurStmt = nullptr;
        break;
      }
    }

    p->eModeNow = p->eMode;
    if (p->bAutoExplain) {
      int eExplain = sqlite3_stmt_isexplain(pStmt);
      if (eExplain == 1) p->eModeNow = OutputMode::Explain;
      if (eExplain == 2) p->eModeNow = OutputMode::Eqp;
    }
    if (p->eModeNow == OutputMode::Explain) prepareExplainIndent(p, pStmt);

    bindParameters(p, pStmt);
    rc = runPrepared(p, pStmt);
    clearExplainIndent(p);
    planRender(p);

    if (p->eStatsMode != 0) displayStats(db, p, 0);
    // Scan statistics (.scanstats) have no source in this engine build.

    int rcFinalize = sqlite3_finalize(pStmt);
    if (rc != SQLITE_NOMEM) rc = rcFinalize;
    if (rc == SQLITE_OK && pollWrites(p->pOut) == WriteStatus::Failed) {
      // Output that cannot be written fails the command as an error would:
      // the statements after this one do not run.
      p->pCurStmt = nullptr;
      break;
    }
    if (rc == SQLITE_OK) {
      zSql = skipSpace(zLeftover);
    } else if (pzErrMsg) {
      *pzErrMsg = phaseErrorText(db, "stepping", rc, nullptr);
    }
    p->pCurStmt = nullptr;
  }
  return rc;
}

int runPrepared(ShellContext* p, sqlite3_stmt* pStmt) {
  if (isColumnarMode(p->eModeNow)) {
    p->nFitWidth = terminalOutputWidth(p);
    renderColumnar(p, pStmt);
    return SQLITE_OK;
  }
  int rc = sqlite3_step(pStmt);
  if (rc != SQLITE_ROW) return rc == SQLITE_DONE ? SQLITE_OK : rc;

  // The renderer reads floats and blobs from the current statement.
  sqlite3_stmt* pSavedStmt = p->pCurStmt;
  p->pCurStmt = pStmt;

  const int nCol = sqlite3_column_count(pStmt);
  const OutputMode eMode = p->eModeNow;
  // Modes that read BLOB (and, for speed, FLOAT) values straight from the
  // statement: their text form is never looked at, so it is not made.
  const bool bBlobFromStmt = eMode == OutputMode::Insert || eMode == OutputMode::Quote;
  const bool bSkipBlobText = bBlobFromStmt || eMode == OutputMode::Json;
  const bool bSkipFloatText = bSkipBlobText;
  static char zEmpty[] = "";

  // One allocation for the names, the value texts and the value types.
  void* pData =
      sqlite3_malloc64(static_cast<sqlite3_uint64>(nCol + 1) * (2 * sizeof(char*) + sizeof(int)));
  checkAlloc(pData);
  char** azCols = static_cast<char**>(pData);
  char** azVals = azCols + nCol;
  int* aiTypes = reinterpret_cast<int*>(azVals + nCol);
  for (int i = 0; i < nCol; i++) {
    azCols[i] = const_cast<char*>(sqlite3_column_name(pStmt, i));
  }

  sqlite3_uint64 nRows = 0;
  do {
    nRows++;
    for (int i = 0; i < nCol; i++) {
      // One call for the column, whose type and text are then read off its
      // value: a column call per question would enter the engine twice for
      // every value.  The shell is single-threaded, so the unprotected value
      // is safe to read.
      sqlite3_value* pVal = sqlite3_column_value(pStmt, i);
      int eType = sqlite3_value_type(pVal);
      aiTypes[i] = eType;
      if ((eType == SQLITE_BLOB && bSkipBlobText) || (eType == SQLITE_FLOAT && bSkipFloatText)) {
        azVals[i] = zEmpty;
      } else if (eType == SQLITE_NULL) {
        azVals[i] = nullptr;
      } else {
        azVals[i] = reinterpret_cast<char*>(const_cast<unsigned char*>(sqlite3_value_text(pVal)));
        if (azVals[i] == nullptr) {
          // Out of memory: asked once more through the column, which also
          // records the failure on the connection for the error message.
          azVals[i] =
              reinterpret_cast<char*>(const_cast<unsigned char*>(sqlite3_column_text(pStmt, i)));
        }
        if (azVals[i] == nullptr) {
          rc = SQLITE_NOMEM;
          break;
        }
      }
    }
    if (rc == SQLITE_NOMEM) break;
    if (renderRow(p, nCol, azVals, azCols, aiTypes)) {
      rc = SQLITE_ABORT;
    } else if (ferror_unlocked(p->pOut) && pollWrites(p->pOut) != WriteStatus::Ok) {
      // The output cannot take more rows: the statement ends here.  A reader
      // that went away ends it quietly; any other failure is reported by the
      // check at the end of the command.
      rc = SQLITE_DONE;
    } else {
      rc = sqlite3_step(pStmt);
    }
  } while (rc == SQLITE_ROW);
  flushRowOutput();
  sqlite3_free(pData);
  p->pCurStmt = pSavedStmt;

  if (eMode == OutputMode::Json) {
    std::fputs("]\n", p->pOut);
  } else if (eMode == OutputMode::Count) {
    char zBuf[200];
    sqlite3_snprintf(static_cast<int>(sizeof(zBuf)), zBuf, "%llu row%s\n", nRows,
                     nRows != 1 ? "s" : "");
    printConsole(p->pOut, "%s", zBuf);
  }
  return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

int rowCallback(void* pArg, int nArg, char** azArg, char** azCol) {
  const int rc = renderRow(static_cast<ShellContext*>(pArg), nArg, azArg, azCol, nullptr);
  flushRowOutput();
  return rc;
}
