// Schema display: .schema, .fullschema, .tables/.indexes/.indices, .databases.
#include <sqlite3.h>

#include <cstring>
#include <string>
#include <vector>

#include "shell/commands/Commands.h"
#include "shell/commands/Dispatch.h"
#include "shell/core/OpenDatabase.h"
#include "shell/core/ShellContext.h"
#include "shell/exec/Execute.h"
#include "shell/core/Output.h"

namespace {

// A by-value copy of the shell's record that renders the schema queries, so
// that nothing the renderer touches leaks back into the shell.
ShellContext makeSchemaCopy(const ShellContext* p, OutputMode eMode) {
  ShellContext data = *p;
  data.bHeaders = 0;
  data.eMode = eMode;
  data.eModeNow = eMode;
  return data;
}

bool isSchemaTableName(const char* zPattern) {
  static const char* const azNames[] = {"sqlite_master", "sqlite_schema", "sqlite_temp_master",
                                        "sqlite_temp_schema"};
  for (const char* zName : azNames) {
    if (sqlite3_strlike(zPattern, zName, '\\') == 0) return true;
  }
  return false;
}

}  // namespace

int doSchema(ShellContext* p, int nArg, char** azArg) {
  openDatabase(p, 0);
  ShellContext data = makeSchemaCopy(p, OutputMode::Semi);
  const char* zPattern = nullptr;
  bool bDebug = false;
  bool bNoSys = false;
  for (int ii = 1; ii < nArg; ii++) {
    if (matchOption(azArg[ii], "indent")) {
      data.eMode = data.eModeNow = OutputMode::Pretty;
    } else if (matchOption(azArg[ii], "debug")) {
      bDebug = true;
    } else if (matchOption(azArg[ii], "nosys")) {
      bNoSys = true;
    } else if (azArg[ii][0] == '-') {
      printConsole(stderr, "Unknown option: \"%s\"\n", azArg[ii]);
      return 1;
    } else if (zPattern == nullptr) {
      zPattern = azArg[ii];
    } else {
      printConsole(stderr, "Usage: .schema ?--indent? ?--nosys? ?LIKE-PATTERN?\n");
      return 1;
    }
  }

  if (zPattern != nullptr && isSchemaTableName(zPattern)) {
    char* zText = checkAlloc(sqlite3_mprintf(
        "CREATE TABLE %s (\n  type text,\n  name text,\n  tbl_name text,\n  rootpage integer,\n"
        "  sql text\n)",
        zPattern));
    char* azVal[] = {zText, nullptr};
    char zColName[] = "sql";
    char* azCol[] = {zColName, nullptr};
    rowCallback(&data, 1, azVal, azCol);
    sqlite3_free(zText);
  }

  StmtPtr pStmt = prepareStmt(p->db, "SELECT name FROM pragma_database_list");
  if (!pStmt) {
    printConsole(stderr, "Error: %s\n", sqlite3_errmsg(p->db));
    return 1;
  }
  TextBuffer sSelect;
  textInit(&sSelect);
  textAppend(&sSelect, "SELECT sql FROM", 0);
  const char* zDiv = "(";
  int iSchema = 0;
  int rcList;
  while ((rcList = sqlite3_step(pStmt.get())) == SQLITE_ROW) {
    const char* zDb = reinterpret_cast<const char*>(sqlite3_column_text(pStmt.get(), 0));
    if (zDb == nullptr) {
      if (sqlite3_errcode(p->db) == SQLITE_NOMEM) exitOutOfMemory();
      continue;
    }
    char zScNum[30];
    sqlite3_snprintf(sizeof(zScNum), zScNum, "%d", ++iSchema);
    textAppend(&sSelect, zDiv, 0);
    zDiv = " UNION ALL ";
    textAppend(&sSelect, "SELECT shell_add_schema(sql,", 0);
    if (sqlite3_stricmp(zDb, "main") == 0) {
      textAppend(&sSelect, "NULL", 0);
    } else {
      textAppend(&sSelect, zDb, '\'');
    }
    textAppend(&sSelect, ",name) AS sql, type, tbl_name, name, rowid,", 0);
    textAppend(&sSelect, zScNum, 0);
    textAppend(&sSelect, " AS snum, ", 0);
    textAppend(&sSelect, zDb, '\'');
    textAppend(&sSelect, " AS sname FROM ", 0);
    textAppend(&sSelect, zDb, identQuoteChar(zDb));
    textAppend(&sSelect, ".sqlite_schema", 0);
  }
  // A list cut short would leave a query of no schema at all.
  if (rcList == SQLITE_NOMEM) exitOutOfMemory();
  if (rcList != SQLITE_DONE || iSchema == 0) {
    printConsole(stderr, "Error: %s\n", sqlite3_errmsg(p->db));
    textFree(&sSelect);
    return 1;
  }
  pStmt.reset();
  if (zPattern != nullptr) {
    textAppend(&sSelect,
               " UNION ALL SELECT shell_module_schema(name),"
               " 'table', name, name, name, 9e+99, 'main' FROM pragma_module_list",
               0);
  }
  textAppend(&sSelect, ") WHERE ", 0);
  if (zPattern != nullptr) {
    bool bGlob = std::strpbrk(zPattern, "*?[") != nullptr;
    if (std::strchr(zPattern, '.') != nullptr) {
      textAppend(&sSelect, "lower(printf('%s.%s',sname,tbl_name))", 0);
    } else {
      textAppend(&sSelect, "lower(tbl_name)", 0);
    }
    textAppend(&sSelect, bGlob ? " GLOB " : " LIKE ", 0);
    SqlitePtr zQuoted(checkAlloc(sqlite3_mprintf("%Q", zPattern)));
    textAppend(&sSelect, zQuoted.get(), 0);
    if (!bGlob) textAppend(&sSelect, " ESCAPE '\\' ", 0);
    textAppend(&sSelect, " AND ", 0);
  }
  if (bNoSys) textAppend(&sSelect, "name NOT LIKE 'sqlite_%%' AND ", 0);
  textAppend(&sSelect, "sql IS NOT NULL ORDER BY snum, rowid", 0);

  int rc = 0;
  if (bDebug) {
    printConsole(p->pOut, "SQL: %s;\n", sSelect.z);
  } else {
    char* zErrMsg = nullptr;
    int rcExec = sqlite3_exec(p->db, sSelect.z, rowCallback, &data, &zErrMsg);
    if (zErrMsg != nullptr) {
      printConsole(stderr, "Error: %s\n", zErrMsg);
      sqlite3_free(zErrMsg);
      rc = 1;
    } else if (rcExec != SQLITE_OK) {
      printConsole(stderr, "Error: querying schema information\n");
      rc = 1;
    }
  }
  textFree(&sSelect);
  return rc;
}

int doFullschema(ShellContext* p, int nArg, char** azArg) {
  OutputMode eMode = OutputMode::Semi;
  if (nArg == 2 && matchOption(azArg[1], "indent")) {
    eMode = OutputMode::Pretty;
    nArg = 1;
  }
  if (nArg != 1) {
    printConsole(stderr, "Usage: .fullschema ?--indent?\n");
    return 1;
  }
  openDatabase(p, 0);
  ShellContext data = makeSchemaCopy(p, eMode);
  char* zErrMsg = nullptr;
  int rc = sqlite3_exec(p->db,
                        "SELECT sql FROM"
                        "  (SELECT sql sql, type type, tbl_name tbl_name, name name, rowid x"
                        "     FROM sqlite_schema UNION ALL"
                        "   SELECT sql, type, tbl_name, name, rowid FROM sqlite_temp_schema) "
                        "WHERE type!='meta' AND sql NOTNULL AND name NOT LIKE 'sqlite_%' "
                        "ORDER BY x",
                        rowCallback, &data, &zErrMsg);
  SqlitePtr zErr(zErrMsg);
  // Exhaustion ends the shell, so that a schema cut short is not followed by a claim that
  // there are no statistics; any other failure (a schema the engine cannot read) is reported
  // and fails the command.
  if (rc == SQLITE_NOMEM) exitOutOfMemory();
  if (rc != SQLITE_OK) {
    printConsole(stderr, "Error: %s\n", zErr ? zErr.get() : sqlite3_errmsg(p->db));
    return 1;
  }
  bool bStats = false;
  if (rc == SQLITE_OK) {
    StmtPtr pStmt = prepareStmt(
        p->db, "SELECT rowid FROM sqlite_schema WHERE name GLOB 'sqlite_stat[134]'", &rc);
    const int rcStep = pStmt ? sqlite3_step(pStmt.get()) : rc;
    if (rc == SQLITE_NOMEM || rcStep == SQLITE_NOMEM) exitOutOfMemory();
    bStats = rcStep == SQLITE_ROW;
  }
  if (!bStats) {
    printConsole(p->pOut, "/* No STAT tables available */\n");
  } else {
    printConsole(p->pOut, "ANALYZE sqlite_schema;\n");
    data.eMode = data.eModeNow = OutputMode::Insert;
    char zStat1[] = "sqlite_stat1";
    char zStat4[] = "sqlite_stat4";
    data.zInsertTable = zStat1;
    runStatements(&data, "SELECT * FROM sqlite_stat1", nullptr);
    data.zInsertTable = zStat4;
    runStatements(&data, "SELECT * FROM sqlite_stat4", nullptr);
    printConsole(p->pOut, "ANALYZE sqlite_schema;\n");
  }
  return rc;
}

int doTables(ShellContext* p, int nArg, char** azArg) {
  openDatabase(p, 0);
  // The two failures of building the query end the command at once, without
  // the end-of-command steps.
  StmtPtr pStmt = prepareStmt(p->db, "PRAGMA database_list");
  if (!pStmt) return reportDatabaseError(p->db) | dotSkipEndSteps;
  bool bIndexes = azArg[0][0] == 'i';
  if (bIndexes && nArg > 2) {
    printConsole(stderr, "Usage: .indexes ?LIKE-PATTERN?\n");
    return 1;
  }
  TextBuffer s;
  textInit(&s);
  while (sqlite3_step(pStmt.get()) == SQLITE_ROW) {
    const char* zDbName = reinterpret_cast<const char*>(sqlite3_column_text(pStmt.get(), 1));
    if (zDbName == nullptr) continue;
    if (s.n > 0) textAppend(&s, " UNION ALL ", 0);
    if (sqlite3_stricmp(zDbName, "main") == 0) {
      textAppend(&s, "SELECT name FROM ", 0);
    } else {
      textAppend(&s, "SELECT ", 0);
      textAppend(&s, zDbName, '\'');
      textAppend(&s, "||'.'||name FROM ", 0);
    }
    textAppend(&s, zDbName, '"');
    textAppend(&s, ".sqlite_schema ", 0);
    if (bIndexes) {
      textAppend(&s, " WHERE type='index'   AND tbl_name LIKE ?1", 0);
    } else {
      textAppend(&s,
                 " WHERE type IN ('table','view')   AND name NOT LIKE 'sqlite_%'"
                 "   AND name LIKE ?1",
                 0);
    }
  }
  int rc = sqlite3_finalize(pStmt.release());
  if (rc == SQLITE_OK) {
    textAppend(&s, " ORDER BY 1", 0);
    pStmt = prepareStmt(p->db, s.z, &rc);
  }
  textFree(&s);
  if (rc != SQLITE_OK) return reportDatabaseError(p->db) | dotSkipEndSteps;

  // A pattern that could not be bound would match nothing, silently.
  if (sqlite3_bind_text(pStmt.get(), 1, nArg > 1 ? azArg[1] : "%", -1, SQLITE_TRANSIENT) ==
      SQLITE_NOMEM) {
    exitOutOfMemory();
  }
  std::vector<std::string> azResult;
  size_t nMaxLen = 0;
  while (sqlite3_step(pStmt.get()) == SQLITE_ROW) {
    const char* zName = reinterpret_cast<const char*>(sqlite3_column_text(pStmt.get(), 0));
    azResult.emplace_back(zName ? zName : "");
    if (azResult.back().size() > nMaxLen) nMaxLen = azResult.back().size();
  }
  if (sqlite3_finalize(pStmt.release()) != SQLITE_OK) return reportDatabaseError(p->db);

  if (!azResult.empty()) {
    int nPrintCol = 80 / (static_cast<int>(nMaxLen) + 2);
    if (nPrintCol < 1) nPrintCol = 1;
    int nRow = static_cast<int>(azResult.size());
    int nPrintRow = (nRow + nPrintCol - 1) / nPrintCol;
    for (int i = 0; i < nPrintRow; i++) {
      for (int j = i; j < nRow; j += nPrintRow) {
        const char* zSp = j < nPrintRow ? "" : "  ";
        printConsole(p->pOut, "%s%-*s", zSp, static_cast<int>(nMaxLen), azResult[j].c_str());
      }
      printConsole(p->pOut, "\n");
    }
  }
  return 0;
}

int doDatabases(ShellContext* p, int, char**) {
  openDatabase(p, 0);
  StmtPtr pStmt = prepareStmt(p->db, "PRAGMA database_list");
  if (!pStmt) {
    printConsole(stderr, "Error: %s\n", sqlite3_errmsg(p->db));
    return 1;
  }
  std::vector<std::pair<std::string, std::string>> aDb;
  while (sqlite3_step(pStmt.get()) == SQLITE_ROW) {
    const char* zSchema = reinterpret_cast<const char*>(sqlite3_column_text(pStmt.get(), 1));
    const char* zFile = reinterpret_cast<const char*>(sqlite3_column_text(pStmt.get(), 2));
    if (zSchema == nullptr || zFile == nullptr) continue;
    aDb.emplace_back(zSchema, zFile);
  }
  // A text that could not be made fails the statement: no database is left out unsaid.
  if (sqlite3_finalize(pStmt.release()) != SQLITE_OK) return reportDatabaseError(p->db);
  static const char* const azTxn[] = {"", " read-txn", " write-txn"};
  for (const auto& [zSchema, zFile] : aDb) {
    int eTxn = sqlite3_txn_state(p->db, zSchema.c_str());
    int bRdonly = sqlite3_db_readonly(p->db, zSchema.c_str());
    printConsole(p->pOut, "%s: %s %s%s\n", zSchema.c_str(), zFile.empty() ? "\"\"" : zFile.c_str(),
                 bRdonly == 1 ? "r/o" : "r/w", eTxn >= 0 && eTxn <= 2 ? azTxn[eTxn] : "");
  }
  return 0;
}
