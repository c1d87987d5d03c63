// Connection and file commands: .open, .connection, .backup/.save, .restore,
// .clone, .cd, .read, .shell/.system, .load, .log, .timeout, .version, .exit
// and .quit.
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "shell/commands/Commands.h"
#include "shell/commands/Dispatch.h"
#include "shell/core/ArgParsers.h"
#include "shell/core/NestedInput.h"
#include "shell/core/OpenDatabase.h"
#include "shell/core/Output.h"
#include "shell/core/Progress.h"
#include "shell/core/Redirect.h"
#include "shell/core/SafeMode.h"
#include "shell/core/ShellContext.h"

namespace {

constexpr int nConnSlots = static_cast<int>(sizeof(ShellContext::aConn) / sizeof(ShellConn));
constexpr int nBackupPagesPerStep = 100;

int usage(const char* zText) {
  printRaw(stderr, "%s", zText);
  return 1;
}

// A connection that this command opened and closes again.
struct ConnectionCloser {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
using ConnectionPtr = std::unique_ptr<sqlite3, ConnectionCloser>;

struct BackupFinisher {
  void operator()(sqlite3_backup* p) const { sqlite3_backup_finish(p); }
};
using BackupPtr = std::unique_ptr<sqlite3_backup, BackupFinisher>;

bool fileExists(const char* zPath) {
  return access(zPath, F_OK) == 0;
}

// Removes a database file that a failed copy created, with its journals, so
// that no half-written file is left looking like a good copy.
void removeFailedCopy(const char* zPath) {
  for (const char* zSuffix : {"", "-journal", "-wal", "-shm"}) {
    std::string zName = zPath;
    zName += zSuffix;
    unlink(zName.c_str());
  }
}

// Removes any journal left beside a copy that was committed and closed: none
// of them can hold anything to roll back, and none should follow the copy.
void removeJournals(const char* zPath) {
  for (const char* zSuffix : {"-journal", "-wal", "-shm"}) {
    std::string zName = zPath;
    zName += zSuffix;
    unlink(zName.c_str());
  }
}

// Makes a new name in the directory of zPath durable.
void syncDirectoryOf(const std::string& zPath) {
  const size_t iSlash = zPath.rfind('/');
  const std::string zDir = iSlash == std::string::npos ? "." : zPath.substr(0, iSlash + 1);
  const int fd = open(zDir.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

// A single decimal digit, as .connection takes its slot number.
bool isSingleDigit(const char* z) {
  return z[0] >= '0' && z[0] <= '9' && z[1] == 0;
}

// The exit status of a command run through the command processor.
int commandStatus(int rc) {
  if (rc == -1) return -1;
  if (WIFEXITED(rc)) return WEXITSTATUS(rc);
  if (WIFSIGNALED(rc)) return 128 + WTERMSIG(rc);
  return rc;
}

// Steps a backup to its end, showing progress at a terminal.  Returns the
// last step's result; a finish that fails turns success into its error.
int runBackup(sqlite3_backup* pBackup, bool bRetryBusy) {
  TerminalProgress progress("pages");
  int rc = SQLITE_OK;
  int nBusy = 0;
  for (;;) {
    rc = sqlite3_backup_step(pBackup, nBackupPagesPerStep);
    if (rc == SQLITE_OK) {
      const int nTotal = sqlite3_backup_pagecount(pBackup);
      progress.update(nTotal - sqlite3_backup_remaining(pBackup), nTotal);
      continue;
    }
    if (bRetryBusy && rc == SQLITE_BUSY && nBusy++ < 3) {
      sqlite3_sleep(100);
      continue;
    }
    break;
  }
  return rc;
}

// How a clone went.  A spoiled copy is not kept: the new file could not be
// written (disk full, an I/O error, its transaction lost) or the source could
// not be read (another connection holds it, its schema cannot be listed).
// Other errors (an entry the new file refuses, a damaged table read only in
// part) are reported and the rest is copied, so that what could be saved is
// kept; they still fail the command.
struct CloneOutcome {
  int nErrors = 0;
  bool bSpoiled = false;
  // The attached source proved damaged: every later statement of the copy's
  // transaction would fail, so the copy is made again without the attachment.
  bool bSourceDamaged = false;
  void error(bool bSpoils) {
    nErrors++;
    if (bSpoils) bSpoiled = true;
  }
};

// Errors of the new file after which it is not worth keeping.
bool spoilsTarget(int rc) {
  switch (rc & 0xff) {
    case SQLITE_FULL:
    case SQLITE_IOERR:
    case SQLITE_CANTOPEN:
    case SQLITE_READONLY:
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_NOMEM:
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_PROTOCOL:
    case SQLITE_PERM:
    case SQLITE_NOLFS:
      return true;
    default:
      return false;
  }
}

// Errors reading the source that no going on can make good: the source is
// held by another connection (a later run copies it whole).  A damaged
// source is read as far as it can be.
bool spoilsSource(int rc) {
  switch (rc & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_NOMEM:
      return true;
    default:
      return false;
  }
}

bool tableExists(sqlite3* db, const char* zName) {
  return sqlite3_table_column_metadata(db, "main", zName, nullptr, nullptr, nullptr, nullptr,
                                       nullptr, nullptr) == SQLITE_OK;
}

// The schema name under which the copy reads the source file directly.
constexpr const char* zCloneSource = "clone_source";

// Keeps every statement on dbNew from changing the attached source: the
// schema statements it runs come from the source file, which may be hostile.
int guardCloneSource(void*, int eAction, const char*, const char*, const char* zDb, const char*) {
  if (zDb == nullptr || std::strcmp(zDb, zCloneSource) != 0) return SQLITE_OK;
  switch (eAction) {
    case SQLITE_READ:
    case SQLITE_SELECT:
    case SQLITE_PRAGMA:
      return SQLITE_OK;
    default:
      return SQLITE_DENY;
  }
}

// Attaches the source's file to dbNew when the copy may read it there: a
// plain file of the default file system, and no transaction open on the
// shell's connection (whose uncommitted rows another connection cannot see).
bool attachCloneSource(ShellContext* p, sqlite3* dbNew) {
  if (sqlite3_get_autocommit(p->db) == 0) return false;
  const char* zFile = sqlite3_db_filename(p->db, "main");
  if (zFile == nullptr || zFile[0] == 0) return false;
  char* zVfs = nullptr;
  sqlite3_file_control(p->db, "main", SQLITE_FCNTL_VFSNAME, &zVfs);
  const sqlite3_vfs* pDefault = sqlite3_vfs_find(nullptr);
  const bool bPlainFile =
      zVfs != nullptr && pDefault != nullptr && std::strcmp(zVfs, pDefault->zName) == 0;
  sqlite3_free(zVfs);
  if (!bPlainFile) return false;
  SqlitePtr zAttach(checkAlloc(sqlite3_mprintf("ATTACH %Q AS %s", zFile, zCloneSource)));
  if (sqlite3_exec(dbNew, zAttach.get(), nullptr, nullptr, nullptr) != SQLITE_OK) return false;
  sqlite3_set_authorizer(dbNew, guardCloneSource, nullptr);
  return true;
}

// Whether a copy of zTable by INSERT ... SELECT * gives the same rows as the
// row-by-row copy, which leaves the rowid to the new table (numbering the
// rows 1, 2, ... in the order read): true where the rowid is a declared
// column, where there is none, or where the source's rowids already run
// from 1 without a gap.
bool keepsSameRowids(sqlite3* dbNew, const char* zTable) {
  SqlitePtr zInfo(checkAlloc(
      sqlite3_mprintf("SELECT (SELECT wr FROM pragma_table_list WHERE schema=%Q AND name=%Q),"
                      " (SELECT sql FROM %s.sqlite_schema WHERE name=%Q) LIKE '%%desc%%',"
                      " (SELECT count(*) FROM pragma_table_info(%Q, %Q) WHERE pk>0),"
                      " (SELECT count(*) FROM pragma_table_info(%Q, %Q) WHERE pk=1 AND"
                      "   type='INTEGER' COLLATE NOCASE),"
                      " (SELECT count(*) FROM pragma_table_info(%Q, %Q) WHERE"
                      "   name IN ('rowid','_rowid_','oid') COLLATE NOCASE)",
                      zCloneSource, zTable, zCloneSource, zTable, zTable, zCloneSource, zTable,
                      zCloneSource, zTable, zCloneSource)));
  StmtPtr pInfo = prepareStmt(dbNew, zInfo.get());
  if (!pInfo || sqlite3_step(pInfo.get()) != SQLITE_ROW) return false;
  if (sqlite3_column_type(pInfo.get(), 0) == SQLITE_NULL) return false;
  if (sqlite3_column_int(pInfo.get(), 0) != 0) return true;   // WITHOUT ROWID
  if (sqlite3_column_int(pInfo.get(), 4) != 0) return false;  // a column hides the rowid
  // "INTEGER PRIMARY KEY" names the rowid, except when written with DESC.
  if (sqlite3_column_int(pInfo.get(), 1) == 0 && sqlite3_column_int(pInfo.get(), 2) == 1 &&
      sqlite3_column_int(pInfo.get(), 3) == 1) {
    return true;
  }
  SqlitePtr zRange(
      checkAlloc(sqlite3_mprintf("SELECT count(*) = 0 OR (min(rowid) = 1 AND max(rowid) = count(*))"
                                 " FROM %s.\"%w\"",
                                 zCloneSource, zTable)));
  StmtPtr pRange = prepareStmt(dbNew, zRange.get());
  return pRange && sqlite3_step(pRange.get()) == SQLITE_ROW &&
         sqlite3_column_int(pRange.get(), 0) != 0;
}

// Copies zTable's rows from the attached source in one statement, which the
// engine turns into a copy of whole records.  Nothing is reported: where it
// fails (a damaged table, a row the new table refuses), the statement leaves
// no row behind and the caller copies row by row, with its messages.
bool transferTableRows(sqlite3* dbNew, const char* zTable, sqlite3_int64* pnRows, int* pRc) {
  *pRc = SQLITE_OK;
  if (!keepsSameRowids(dbNew, zTable)) return false;
  SqlitePtr zCopy(checkAlloc(sqlite3_mprintf("INSERT INTO main.\"%w\" SELECT * FROM %s.\"%w\"",
                                             zTable, zCloneSource, zTable)));
  *pRc = sqlite3_exec(dbNew, zCopy.get(), nullptr, nullptr, nullptr);
  if (*pRc != SQLITE_OK) return false;
  *pnRows = sqlite3_changes64(dbNew);
  return true;
}

// The columns a row copy reads: "*", or, where the table has generated
// columns (which SELECT * returns but an INSERT cannot be given), the stored
// columns by name, so that the copy does not lose every row.
std::string copiedColumns(sqlite3* db, const char* zTable) {
  StmtPtr pInfo = prepareStmt(db, "SELECT name, hidden FROM pragma_table_xinfo(?1)");
  if (!pInfo) return "*";
  sqlite3_bind_text(pInfo.get(), 1, zTable, -1, SQLITE_STATIC);
  std::string zColumns;
  bool bGenerated = false;
  int rc;
  while ((rc = sqlite3_step(pInfo.get())) == SQLITE_ROW) {
    const int eHidden = sqlite3_column_int(pInfo.get(), 1);
    if (eHidden == 2 || eHidden == 3) {
      bGenerated = true;
      continue;
    }
    if (eHidden != 0) continue;
    SqlitePtr zQuoted(checkAlloc(sqlite3_mprintf("%s\"%w\"", zColumns.empty() ? "" : ",",
                                                 sqlite3_column_text(pInfo.get(), 0))));
    zColumns += zQuoted.get();
  }
  if (rc == SQLITE_NOMEM) exitOutOfMemory();
  return rc == SQLITE_DONE && bGenerated && !zColumns.empty() ? zColumns : "*";
}

constexpr char zSpinner[] = "|/-\\";
constexpr sqlite3_int64 nRowsPerSpin = 10000;

// The copy's transaction, begun before the first entry, must last to its
// end: an error that rolled it back would leave later entries committed
// alone, without the earlier ones.
bool transactionLost(sqlite3* dbNew, CloneOutcome& out) {
  if (sqlite3_get_autocommit(dbNew) == 0) return false;
  printConsole(stderr, "Error: the copy was rolled back: %s\n", sqlite3_errmsg(dbNew));
  out.error(true);
  return true;
}

// Copies the rows of table zTable from the shell's connection into dbNew.
void cloneTableRows(ShellContext* p, sqlite3* dbNew, const char* zTable, bool bAttached,
                    CloneOutcome& out) {
  sqlite3_int64 nCopied = 0;
  int rcTransfer = SQLITE_OK;
  if (bAttached && transferTableRows(dbNew, zTable, &nCopied, &rcTransfer)) {
    // The same spinner marks as a copy row by row writes.
    for (sqlite3_int64 n = nRowsPerSpin; n <= nCopied; n += nRowsPerSpin) {
      std::printf("%c\b", zSpinner[(n / nRowsPerSpin) % 4]);
    }
    std::fflush(stdout);
    return;
  }
  if (bAttached &&
      ((rcTransfer & 0xff) == SQLITE_CORRUPT || (rcTransfer & 0xff) == SQLITE_NOTADB)) {
    out.bSourceDamaged = true;
    out.bSpoiled = true;
    return;
  }
  if (bAttached && transactionLost(dbNew, out)) return;
  const std::string zColumns = copiedColumns(p->db, zTable);
  SqlitePtr zQuery(checkAlloc(sqlite3_mprintf("SELECT %s FROM \"%w\"", zColumns.c_str(), zTable)));
  int rc = 0;
  StmtPtr pQuery = prepareStmt(p->db, zQuery.get(), &rc);
  if (rc) {
    printConsole(stderr, "Error %d: %s on [%s]\n", sqlite3_extended_errcode(p->db),
                 sqlite3_errmsg(p->db), zQuery.get());
    out.error(spoilsSource(rc));
    return;
  }
  const int nCol = sqlite3_column_count(pQuery.get());
  SqlitePtr zQuoted(checkAlloc(sqlite3_mprintf("%w", zTable)));
  // The table the schema statement could not make: an unqualified name would
  // find the attached source's table, so say what a copy without it says.
  if (bAttached && !tableExists(dbNew, zTable)) {
    printConsole(stderr, "Error %d: no such table: %s on [%s]\n", SQLITE_ERROR, zTable,
                 zQuery.get());
    out.error(false);
    return;
  }
  std::string zInsert = "INSERT OR IGNORE INTO \"";
  zInsert += zQuoted.get();
  zInsert += "\" VALUES(?";
  for (int i = 1; i < nCol; i++) zInsert += ",?";
  zInsert += ");";
  StmtPtr pInsert = prepareStmt(dbNew, zInsert.c_str(), &rc);
  if (rc) {
    printConsole(stderr, "Error %d: %s on [%s]\n", sqlite3_extended_errcode(dbNew),
                 sqlite3_errmsg(dbNew), zQuery.get());
    out.error(spoilsTarget(rc));
    return;
  }
  sqlite3_int64 nRow = 0;
  for (int nPass = 0; nPass < 2; nPass++) {
    while ((rc = sqlite3_step(pQuery.get())) == SQLITE_ROW) {
      sqlite3_stmt* pIns = pInsert.get();
      for (int i = 0; i < nCol; i++) {
        switch (sqlite3_column_type(pQuery.get(), i)) {
          case SQLITE_NULL:
            sqlite3_bind_null(pIns, i + 1);
            break;
          case SQLITE_INTEGER:
            sqlite3_bind_int64(pIns, i + 1, sqlite3_column_int64(pQuery.get(), i));
            break;
          case SQLITE_FLOAT:
            sqlite3_bind_double(pIns, i + 1, sqlite3_column_double(pQuery.get(), i));
            break;
          case SQLITE_TEXT:
            // By its byte count: a text may hold NUL bytes.
            sqlite3_bind_text(pIns, i + 1,
                              reinterpret_cast<const char*>(sqlite3_column_text(pQuery.get(), i)),
                              sqlite3_column_bytes(pQuery.get(), i), SQLITE_STATIC);
            break;
          case SQLITE_BLOB: {
            // An empty blob has no data pointer, which would bind a NULL.
            const void* pBlob = sqlite3_column_blob(pQuery.get(), i);
            const int nBlob = sqlite3_column_bytes(pQuery.get(), i);
            if (nBlob == 0) {
              sqlite3_bind_zeroblob(pIns, i + 1, 0);
            } else {
              sqlite3_bind_blob(pIns, i + 1, pBlob, nBlob, SQLITE_STATIC);
            }
            break;
          }
        }
      }
      rc = sqlite3_step(pIns);
      if (rc != SQLITE_OK && rc != SQLITE_ROW && rc != SQLITE_DONE) {
        printConsole(stderr, "Error %d: %s\n", sqlite3_extended_errcode(dbNew),
                     sqlite3_errmsg(dbNew));
        out.error(spoilsTarget(rc));
        if (out.bSpoiled) return;
      }
      sqlite3_reset(pIns);
      nRow++;
      if (nRow % nRowsPerSpin == 0) {
        std::printf("%c\b", zSpinner[(nRow / nRowsPerSpin) % 4]);
        std::fflush(stdout);
      }
    }
    if (rc == SQLITE_DONE) break;
    // The table could not be read to its end, which the copy must not hide.
    printConsole(stderr, "Error %d: %s on [%s]\n", sqlite3_extended_errcode(p->db),
                 sqlite3_errmsg(p->db), sqlite3_sql(pQuery.get()));
    out.error(spoilsSource(rc));
    if (out.bSpoiled || nPass == 1) break;
    // Read it backwards once; rows already copied are skipped by OR IGNORE
    // where the table has a key.
    SqlitePtr zBackwards(checkAlloc(
        sqlite3_mprintf("SELECT %s FROM \"%w\" ORDER BY rowid DESC;", zColumns.c_str(), zTable)));
    pQuery = prepareStmt(p->db, zBackwards.get(), &rc);
    if (rc) {
      printConsole(stderr, "Warning: cannot step \"%s\" backwards", zTable);
      return;
    }
  }
}

// The virtual tables of the source and the shadow tables that hold their
// content.  Creating a virtual table creates its shadow tables too, so those
// are not created again: they are emptied and their rows copied as they are,
// which keeps the content exactly (also where the virtual table cannot give
// it back, as with a contentless full-text index), and the virtual table's
// own rows are not copied through it.
struct VirtualTables {
  std::vector<std::string> azVirtual;
  std::vector<std::string> azShadow;
  std::vector<std::string> azCreated;  // virtual tables already made in the copy
  bool bSourceAttached = false;        // the copy can read the source file itself

  static bool has(const std::vector<std::string>& az, const char* zName) {
    for (const std::string& z : az) {
      if (sqlite3_stricmp(z.c_str(), zName) == 0) return true;
    }
    return false;
  }
  bool isShadow(const char* zName) const { return has(azShadow, zName); }
  bool isVirtual(const char* zName) const { return has(azVirtual, zName); }
  // The virtual table whose content zShadow holds: the longest name that
  // zShadow begins with, followed by "_".
  const std::string* ownerOf(const char* zShadow) const {
    const std::string* pOwner = nullptr;
    const size_t nShadow = std::strlen(zShadow);
    for (const std::string& z : azVirtual) {
      if (z.size() + 1 < nShadow && zShadow[z.size()] == '_' &&
          sqlite3_strnicmp(z.c_str(), zShadow, static_cast<int>(z.size())) == 0 &&
          (pOwner == nullptr || z.size() > pOwner->size())) {
        pOwner = &z;
      }
    }
    return pOwner;
  }
  bool hasShadows(const char* zVirtual) const {
    const size_t n = std::strlen(zVirtual);
    for (const std::string& z : azShadow) {
      if (z.size() > n + 1 && z[n] == '_' &&
          sqlite3_strnicmp(z.c_str(), zVirtual, static_cast<int>(n)) == 0) {
        return true;
      }
    }
    return false;
  }
};

VirtualTables listVirtualTables(sqlite3* db) {
  VirtualTables v;
  StmtPtr pList =
      prepareStmt(db,
                  "SELECT name, type FROM pragma_table_list WHERE schema='main' AND type IN "
                  "('virtual','shadow')");
  while (pList && sqlite3_step(pList.get()) == SQLITE_ROW) {
    const char* zName = reinterpret_cast<const char*>(sqlite3_column_text(pList.get(), 0));
    const char* zType = reinterpret_cast<const char*>(sqlite3_column_text(pList.get(), 1));
    if (zName == nullptr || zType == nullptr) continue;
    (std::strcmp(zType, "shadow") == 0 ? v.azShadow : v.azVirtual).emplace_back(zName);
  }
  return v;
}

void execCloneSql(sqlite3* dbNew, const char* zSql, CloneOutcome& out) {
  char* zErr = nullptr;
  const int rc = sqlite3_exec(dbNew, zSql, nullptr, nullptr, &zErr);
  if (zErr) {
    printConsole(stderr, "Error: %s\nSQL: [%s]\n", zErr, zSql);
    sqlite3_free(zErr);
  } else if (rc != SQLITE_OK) {
    printConsole(stderr, "Error: %s\nSQL: [%s]\n", sqlite3_errstr(rc), zSql);
  }
  if (rc != SQLITE_OK) out.error(spoilsTarget(rc));
}

// Makes virtual table zName in dbNew from its definition in the source.
void createVirtualTable(ShellContext* p, sqlite3* dbNew, VirtualTables& vtabs, const char* zName,
                        const char* zSql, CloneOutcome& out) {
  vtabs.azCreated.emplace_back(zName);
  if (zSql != nullptr) {
    execCloneSql(dbNew, zSql, out);
    return;
  }
  StmtPtr pDef = prepareStmt(p->db, "SELECT sql FROM sqlite_schema WHERE name=?1");
  if (!pDef) return;
  sqlite3_bind_text(pDef.get(), 1, zName, -1, SQLITE_STATIC);
  if (sqlite3_step(pDef.get()) == SQLITE_ROW) {
    const char* zDef = reinterpret_cast<const char*>(sqlite3_column_text(pDef.get(), 0));
    if (zDef != nullptr) execCloneSql(dbNew, zDef, out);
  }
}

bool isSequenceTable(const char* zName) {
  return sqlite3_stricmp(zName, "sqlite_sequence") == 0;
}

// The statistics tables of ANALYZE that this engine makes.
constexpr const char* azStatTables[] = {"sqlite_stat1", "sqlite_stat4"};

bool isStatTable(const char* zName) {
  for (const char* z : azStatTables) {
    if (sqlite3_stricmp(zName, z) == 0) return true;
  }
  return false;
}

// Empties the copy's zName and copies the source's rows into it.
void replaceTableRows(ShellContext* p, sqlite3* dbNew, const char* zName, bool bAttached,
                      CloneOutcome& out) {
  SqlitePtr zEmpty(checkAlloc(sqlite3_mprintf("DELETE FROM main.\"%w\"", zName)));
  execCloneSql(dbNew, zEmpty.get(), out);
  if (!out.bSpoiled) cloneTableRows(p, dbNew, zName, bAttached, out);
}

// A statistics table cannot be made by its CREATE TABLE (the engine keeps the
// name for itself): ANALYZE of the schema table alone makes the statistics
// tables, without a row, and those the source does not have are dropped again.
void cloneStatTable(ShellContext* p, sqlite3* dbNew, const char* zName, const char* zSql,
                    bool bAttached, CloneOutcome& out) {
  if (!tableExists(dbNew, zName)) {
    bool abHad[std::size(azStatTables)];
    for (size_t i = 0; i < std::size(azStatTables); i++) {
      abHad[i] = tableExists(dbNew, azStatTables[i]);
    }
    sqlite3_exec(dbNew, "ANALYZE main.sqlite_schema", nullptr, nullptr, nullptr);
    for (size_t i = 0; i < std::size(azStatTables); i++) {
      const char* zStat = azStatTables[i];
      if (abHad[i] || sqlite3_stricmp(zStat, zName) == 0 || !tableExists(dbNew, zStat) ||
          tableExists(p->db, zStat)) {
        continue;
      }
      SqlitePtr zDrop(checkAlloc(sqlite3_mprintf("DROP TABLE main.\"%w\"", zStat)));
      execCloneSql(dbNew, zDrop.get(), out);
    }
  }
  if (!tableExists(dbNew, zName)) {
    // The engine's own refusal says why the table is missing.
    execCloneSql(dbNew, zSql, out);
    return;
  }
  replaceTableRows(p, dbNew, zName, bAttached, out);
}

// Copies one table (or a shadow or virtual table) of the source into dbNew.
void cloneTable(ShellContext* p, sqlite3* dbNew, VirtualTables& vtabs, const char* zName,
                const char* zSql, CloneOutcome& out) {
  // The first AUTOINCREMENT table makes sqlite_sequence, and the row copy of
  // every such table writes its own entry there: the source's entries are
  // copied once all tables are (copySequences), in place of those.
  if (isSequenceTable(zName)) return;
  if (isStatTable(zName)) {
    cloneStatTable(p, dbNew, zName, zSql, vtabs.bSourceAttached, out);
    return;
  }
  if (vtabs.isShadow(zName)) {
    // Met before its virtual table: make that one first, which makes this.
    const std::string* pOwner = vtabs.ownerOf(zName);
    if (pOwner != nullptr && !VirtualTables::has(vtabs.azCreated, pOwner->c_str())) {
      const std::string zOwner = *pOwner;
      createVirtualTable(p, dbNew, vtabs, zOwner.c_str(), nullptr, out);
    }
    if (tableExists(dbNew, zName)) {
      replaceTableRows(p, dbNew, zName, vtabs.bSourceAttached, out);
      return;
    }
    execCloneSql(dbNew, zSql, out);
    if (!out.bSpoiled) cloneTableRows(p, dbNew, zName, vtabs.bSourceAttached, out);
    return;
  }
  if (vtabs.isVirtual(zName)) {
    if (!VirtualTables::has(vtabs.azCreated, zName))
      createVirtualTable(p, dbNew, vtabs, zName, zSql, out);
    // The shadow tables carry the content.
    if (!vtabs.hasShadows(zName) && !out.bSpoiled) {
      cloneTableRows(p, dbNew, zName, vtabs.bSourceAttached, out);
    }
    return;
  }
  execCloneSql(dbNew, zSql, out);
  if (!out.bSpoiled) cloneTableRows(p, dbNew, zName, vtabs.bSourceAttached, out);
}

// The source's sqlite_sequence in place of the one the row copies wrote, so
// that every AUTOINCREMENT table goes on with the source's next number.
void copySequences(ShellContext* p, sqlite3* dbNew, bool bAttached, CloneOutcome& out) {
  if (!tableExists(p->db, "sqlite_sequence") || !tableExists(dbNew, "sqlite_sequence")) return;
  replaceTableRows(p, dbNew, "sqlite_sequence", bAttached, out);
}

// Runs the schema entries selected by zWhere on dbNew, copying rows when asked.
void cloneSchemaEntries(ShellContext* p, sqlite3* dbNew, const char* zWhere, bool bCopyRows,
                        VirtualTables& vtabs, TerminalProgress& progress, int& nDone, int nTotal,
                        CloneOutcome& out) {
  int rc = 0;
  for (int nPass = 0; nPass < 2; nPass++) {
    SqlitePtr zQuery(checkAlloc(sqlite3_mprintf(
        nPass == 0 ? "SELECT name, sql FROM sqlite_schema WHERE %s"
                   : "SELECT name, sql FROM sqlite_schema WHERE %s ORDER BY rowid DESC",
        zWhere)));
    StmtPtr pQuery = prepareStmt(p->db, zQuery.get(), &rc);
    if (rc) {
      printConsole(stderr, "Error: (%d) %s on [%s]\n", sqlite3_extended_errcode(p->db),
                   sqlite3_errmsg(p->db), zQuery.get());
      // Without the list of the schema nothing at all is copied.
      out.error(nPass == 0 || spoilsSource(rc));
      return;
    }
    while ((rc = sqlite3_step(pQuery.get())) == SQLITE_ROW) {
      const char* zName = reinterpret_cast<const char*>(sqlite3_column_text(pQuery.get(), 0));
      const char* zSql = reinterpret_cast<const char*>(sqlite3_column_text(pQuery.get(), 1));
      if (zName == nullptr || zSql == nullptr) continue;
      printConsole(stdout, "%s... ", zName);
      std::fflush(stdout);
      if (bCopyRows) {
        cloneTable(p, dbNew, vtabs, zName, zSql, out);
      } else {
        execCloneSql(dbNew, zSql, out);
      }
      if (out.bSpoiled) {
        std::printf("\n");
        return;
      }
      std::printf("done\n");
      progress.update(++nDone, nTotal);
    }
    if (rc == SQLITE_DONE) return;
    printConsole(stderr, "Error: (%d) %s on [%s]\n", sqlite3_extended_errcode(p->db),
                 sqlite3_errmsg(p->db), zQuery.get());
    out.error(spoilsSource(rc));
    if (out.bSpoiled) return;
  }
}

// The file a clone is built in: a new file of its own beside the target,
// given the target's name only once the copy is complete, so that the target
// is never seen half made, not even after the process was killed (a killed
// copy leaves only its build file, NAME.clone-XXXXXX).  A name that is not a
// plain path (":memory:", "" or a "file:" URI) is written directly; the file
// it names is removed after a failure when this copy made it.
struct CloneTarget {
  std::string zFinal;
  std::string zBuild;    // the file the copy writes
  bool bDirect = false;  // zBuild is the target itself
  bool bOwned = false;   // zBuild is a file this copy made, to remove on failure

  explicit CloneTarget(const char* zName) : zFinal(zName) {
    bDirect = zFinal.empty() || zFinal == ":memory:" || zFinal.rfind("file:", 0) == 0;
  }

  bool create() {
    if (bDirect) {
      zBuild = zFinal;
      return true;
    }
    std::string zTemplate = zFinal + ".clone-XXXXXX";
    const int fd = mkstemp(zTemplate.data());
    if (fd < 0) {
      printConsole(stderr, "Cannot create output database: %s\n", std::strerror(errno));
      return false;
    }
    // The permissions the engine gives a new database file.
    const mode_t mUmask = umask(0);
    umask(mUmask);
    fchmod(fd, 0644 & ~mUmask);
    close(fd);
    zBuild = zTemplate;
    bOwned = true;
    return true;
  }

  // For a direct target: the file the engine opened is the copy's only when
  // it was new (empty); a file that holds anything is not overwritten.
  bool claimDirect(sqlite3* db) {
    if (!bDirect) return true;
    const char* zPath = sqlite3_db_filename(db, "main");
    if (zPath == nullptr || zPath[0] == 0) return true;
    struct stat st {};
    if (stat(zPath, &st) == 0 && st.st_size > 0) {
      printConsole(stderr, "File \"%s\" already exists.\n", zFinal.c_str());
      return false;
    }
    zBuild = zPath;
    bOwned = true;
    return true;
  }

  // Gives the complete copy the target's name; a file made meanwhile under
  // that name is never replaced.
  bool publish() {
    if (bDirect) return true;
    removeJournals(zBuild.c_str());
    if (link(zBuild.c_str(), zFinal.c_str()) == 0) {
      unlink(zBuild.c_str());
    } else if (errno == EEXIST || fileExists(zFinal.c_str())) {
      printConsole(stderr, "File \"%s\" already exists.\n", zFinal.c_str());
      return false;
    } else if (rename(zBuild.c_str(), zFinal.c_str()) != 0) {
      // A file system without hard links.
      printConsole(stderr, "Error: cannot rename \"%s\" to \"%s\": %s\n", zBuild.c_str(),
                   zFinal.c_str(), std::strerror(errno));
      return false;
    }
    bOwned = false;
    syncDirectoryOf(zFinal);
    return true;
  }

  void discard() {
    if (bOwned) removeFailedCopy(zBuild.c_str());
    bOwned = false;
  }
};

// The number of schema entries .clone copies, for its progress line.
int countSchemaEntries(sqlite3* db) {
  StmtPtr pCount = prepareStmt(db, "SELECT count(*) FROM sqlite_schema");
  if (pCount && sqlite3_step(pCount.get()) == SQLITE_ROW) {
    return sqlite3_column_int(pCount.get(), 0);
  }
  return 0;
}

}  // namespace

// .open ?OPTIONS? ?FILE?
int doOpen(ShellContext* p, int nArg, char** azArg) {
  const char* zFile = nullptr;
  bool bNewFile = false;
  bool bNoFollow = false;
  OpenMode eMode = OpenMode::Unknown;
  sqlite3_int64 nMaxSize = 0;
  for (int i = 1; i < nArg; i++) {
    const char* z = azArg[i];
    if (matchOption(z, "new")) {
      bNewFile = true;
    } else if (matchOption(z, "append")) {
      eMode = OpenMode::Append;
    } else if (matchOption(z, "readonly")) {
      eMode = OpenMode::ReadOnly;
    } else if (matchOption(z, "nofollow")) {
      bNoFollow = true;
    } else if (matchOption(z, "deserialize")) {
      eMode = OpenMode::Deserialize;
    } else if (matchOption(z, "hexdb")) {
      eMode = OpenMode::HexDump;
    } else if (matchOption(z, "maxsize") && i + 1 < nArg) {
      nMaxSize = parseIntegerArg(azArg[++i]);
    } else if (z[0] == '-') {
      printConsole(stderr, "unknown option: %s\n", z);
      return 1;
    } else if (zFile != nullptr) {
      printConsole(stderr, "extra argument: \"%s\"\n", z);
      return 1;
    } else {
      zFile = z;
    }
  }
  // A database image is only read: --new, which deletes the file first,
  // would destroy what was to be loaded.
  if (bNewFile && (eMode == OpenMode::Deserialize || eMode == OpenMode::HexDump)) {
    printRaw(stderr, "--new cannot be used with --%s: the file is only read\n",
             eMode == OpenMode::HexDump ? "hexdb" : "deserialize");
    return 1;
  }

  closeConnection(p->db);
  p->db = nullptr;
  dbForInterrupt = nullptr;
  p->pConn->zFilename = nullptr;
  sqlite3_free(p->pConn->zFreeLater);
  p->pConn->zFreeLater = nullptr;
  p->eOpenMode = eMode;
  p->mOpenFlags = bNoFollow ? SQLITE_OPEN_NOFOLLOW : 0;
  p->nMaxDbSize = nMaxSize;

  int rc = 0;
  if (zFile != nullptr || eMode == OpenMode::HexDump) {
    if (bNewFile && zFile != nullptr && !p->bSafeActive) unlink(zFile);
    // Only ":memory:" names no file, and only where the name is opened as a
    // database: an image (--deserialize, --hexdb) is read from a file of
    // that name.  A hex dump in safe mode comes from the input alone.
    const bool bImage = eMode == OpenMode::Deserialize || eMode == OpenMode::HexDump;
    if (p->bSafeActive && zFile != nullptr && (bImage || std::strcmp(zFile, ":memory:") != 0)) {
      rejectInSafeMode(p, "cannot open disk-based database files in safe mode");
    }
    char* zCopy = zFile ? checkAlloc(sqlite3_mprintf("%s", zFile)) : nullptr;
    p->pConn->zFilename = zCopy;
    rc = openDatabase(p, keepAlive);
    if (p->db != nullptr && rc == 0) {
      p->pConn->zFreeLater = zCopy;
    } else {
      // The connection left, if any, is not the file's: the slot names none.
      if (p->db == nullptr) printConsole(stderr, "Error: cannot open '%s'\n", zFile ? zFile : "");
      p->pConn->zFilename = nullptr;
      sqlite3_free(zCopy);
      rc = 1;
    }
  }
  if (p->db == nullptr) {
    p->pConn->zFilename = nullptr;
    openDatabase(p, 0);
  }
  return rc;
}

// .connection ?close? ?N?
int doConnection(ShellContext* p, int nArg, char** azArg) {
  if (nArg == 1) {
    for (int i = 0; i < nConnSlots; i++) {
      const ShellConn& conn = p->aConn[i];
      const char* zLabel = conn.zFilename == nullptr ? "(memory)"
                           : conn.zFilename[0] == 0  ? "(temporary-file)"
                                                     : conn.zFilename;
      if (&conn == p->pConn) {
        printConsole(stdout, "ACTIVE %d: %s\n", i, zLabel);
      } else if (conn.db != nullptr) {
        printConsole(stdout, "       %d: %s\n", i, zLabel);
      }
    }
    return 0;
  }
  if (nArg == 2 && isSingleDigit(azArg[1])) {
    const int i = azArg[1][0] - '0';
    if (i < nConnSlots && &p->aConn[i] != p->pConn) {
      p->pConn->db = p->db;
      p->pConn = &p->aConn[i];
      p->db = p->pConn->db;
      dbForInterrupt = p->db;
      p->pConn->db = nullptr;
    }
    return 0;
  }
  if (nArg == 3 && std::strcmp(azArg[1], "close") == 0 && isSingleDigit(azArg[2])) {
    const int i = azArg[2][0] - '0';
    if (i >= nConnSlots) return 0;
    if (&p->aConn[i] == p->pConn) {
      printRaw(stderr, "cannot close the active database connection\n");
      return 1;
    }
    if (p->aConn[i].db != nullptr) {
      closeConnection(p->aConn[i].db);
      p->aConn[i].db = nullptr;
    }
    return 0;
  }
  return usage("Usage: .connection [close] [CONNECTION-NUMBER]\n");
}

// .backup ?DB? ?OPTIONS? FILENAME  (also .save)
int doBackup(ShellContext* p, int nArg, char** azArg) {
  rejectInSafeMode(p, "cannot run .%s in safe mode", azArg[0]);
  const char* zDestFile = nullptr;
  const char* zDb = nullptr;
  const char* zVfs = nullptr;
  bool bAsync = false;
  for (int j = 1; j < nArg; j++) {
    const char* z = azArg[j];
    if (z[0] == '-') {
      if (z[1] == '-') z++;
      if (std::strcmp(z, "-append") == 0) {
        zVfs = "apndvfs";
      } else if (std::strcmp(z, "-async") == 0) {
        bAsync = true;
      } else {
        printConsole(stderr, "unknown option: %s\n", azArg[j]);
        return 1 | dotSkipEndSteps;
      }
    } else if (zDestFile == nullptr) {
      zDestFile = azArg[j];
    } else if (zDb == nullptr) {
      zDb = zDestFile;
      zDestFile = azArg[j];
    } else {
      printRaw(stderr, "Usage: .backup ?DB? ?OPTIONS? FILENAME\n");
      return 1 | dotSkipEndSteps;
    }
  }
  if (zDestFile == nullptr) {
    printRaw(stderr, "missing FILENAME argument on .backup\n");
    return 1 | dotSkipEndSteps;
  }
  if (zDb == nullptr) zDb = "main";

  const bool bExisted = fileExists(zDestFile);
  sqlite3* dbRaw = nullptr;
  int rc = sqlite3_open_v2(zDestFile, &dbRaw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, zVfs);
  ConnectionPtr dbDest(dbRaw);
  if (rc != SQLITE_OK) {
    printConsole(stderr, "Error: cannot open \"%s\"\n", zDestFile);
    dbDest.reset();
    if (!bExisted) removeFailedCopy(zDestFile);
    return 1 | dotSkipEndSteps;
  }
  if (bAsync) {
    sqlite3_exec(dbDest.get(), "PRAGMA synchronous=OFF; PRAGMA journal_mode=OFF;", nullptr, nullptr,
                 nullptr);
  }
  openDatabase(p, 0);
  BackupPtr pBackup(sqlite3_backup_init(dbDest.get(), "main", p->db, zDb));
  if (!pBackup) {
    printConsole(stderr, "Error: %s\n", sqlite3_errmsg(dbDest.get()));
    dbDest.reset();
    if (!bExisted) removeFailedCopy(zDestFile);
    return 1 | dotSkipEndSteps;
  }
  rc = runBackup(pBackup.get(), false);
  const int rcFinish = sqlite3_backup_finish(pBackup.release());
  if (rc == SQLITE_DONE && rcFinish == SQLITE_OK) return 0;
  printConsole(stderr, "Error: %s\n", sqlite3_errmsg(dbDest.get()));
  dbDest.reset();
  if (!bExisted) removeFailedCopy(zDestFile);
  return 1;
}

// .restore ?DB? FILE
int doRestore(ShellContext* p, int nArg, char** azArg) {
  rejectInSafeMode(p, "cannot run .restore in safe mode");
  const char* zSrcFile = nullptr;
  const char* zDb = "main";
  if (nArg == 2) {
    zSrcFile = azArg[1];
  } else if (nArg == 3) {
    zDb = azArg[1];
    zSrcFile = azArg[2];
  } else {
    return usage("Usage: .restore ?DB? FILE\n");
  }
  sqlite3* dbRaw = nullptr;
  // The source is only read: opening it read-only never creates a file for a
  // name that does not exist.
  int rc = sqlite3_open_v2(zSrcFile, &dbRaw, SQLITE_OPEN_READONLY, nullptr);
  ConnectionPtr dbSrc(dbRaw);
  if (rc != SQLITE_OK) {
    printConsole(stderr, "Error: cannot open \"%s\"\n", zSrcFile);
    return 1 | dotSkipEndSteps;
  }
  openDatabase(p, 0);
  BackupPtr pBackup(sqlite3_backup_init(p->db, zDb, dbSrc.get(), "main"));
  if (!pBackup) {
    printConsole(stderr, "Error: %s\n", sqlite3_errmsg(p->db));
    return 1 | dotSkipEndSteps;
  }
  rc = runBackup(pBackup.get(), true);
  const int rcFinish = sqlite3_backup_finish(pBackup.release());
  if (rc == SQLITE_DONE && rcFinish == SQLITE_OK) return 0;
  if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) {
    printRaw(stderr, "Error: source database is busy\n");
  } else {
    printConsole(stderr, "Error: %s\n", sqlite3_errmsg(p->db));
  }
  return 1;
}

namespace {

// One attempt at a clone into target's build file, which it opens, fills and
// closes; the source is read through an attachment when bMayAttach allows.
CloneOutcome cloneOnce(ShellContext* p, CloneTarget& target, bool bMayAttach) {
  CloneOutcome out;
  sqlite3* dbRaw = nullptr;
  int rc = sqlite3_open(target.zBuild.c_str(), &dbRaw);
  ConnectionPtr dbNew(dbRaw);
  if (rc != SQLITE_OK) {
    printConsole(stderr, "Cannot create output database: %s\n", sqlite3_errmsg(dbNew.get()));
    out.error(true);
    return out;
  }
  if (!target.claimDirect(dbNew.get())) {
    out.error(true);
    return out;
  }
  openDatabase(p, 0);
  sqlite3_exec(p->db, "PRAGMA writable_schema=ON;", nullptr, nullptr, nullptr);
  // Attached before the transaction begins, which no ATTACH may do.  The new
  // file alone is locked for the whole copy: an exclusive transaction would
  // lock the source too, and keep the shell's connection from reading it.
  const bool bSourceAttached = bMayAttach && attachCloneSource(p, dbNew.get());
  rc = sqlite3_exec(
      dbNew.get(),
      bSourceAttached ? "PRAGMA main.locking_mode=EXCLUSIVE; BEGIN;" : "BEGIN EXCLUSIVE;", nullptr,
      nullptr, nullptr);
  if (rc != SQLITE_OK) {
    printConsole(stderr, "Error: %s\n", sqlite3_errmsg(dbNew.get()));
    out.error(true);
  }
  // The spinner and the "name... done" lines already show progress on a
  // terminal; the progress line is for when they go elsewhere.
  const bool bStdoutIsTerminal = isatty(STDOUT_FILENO) != 0;
  TerminalProgress progress("schema entries", !bStdoutIsTerminal);
  const int nTotal = bStdoutIsTerminal ? 0 : countSchemaEntries(p->db);
  int nDone = 0;
  VirtualTables vtabs = listVirtualTables(p->db);
  vtabs.bSourceAttached = bSourceAttached;
  if (!out.bSpoiled) {
    cloneSchemaEntries(p, dbNew.get(), "type='table'", true, vtabs, progress, nDone, nTotal, out);
  }
  if (!out.bSpoiled) copySequences(p, dbNew.get(), bSourceAttached, out);
  if (!out.bSpoiled) {
    cloneSchemaEntries(p, dbNew.get(), "type!='table'", false, vtabs, progress, nDone, nTotal, out);
  }
  progress.finish();
  if (!out.bSpoiled && !transactionLost(dbNew.get(), out) &&
      sqlite3_exec(dbNew.get(), "COMMIT;", nullptr, nullptr, nullptr) != SQLITE_OK) {
    printConsole(stderr, "Error: %s\n", sqlite3_errmsg(dbNew.get()));
    out.error(true);
  }
  if (bSourceAttached) {
    sqlite3_set_authorizer(dbNew.get(), nullptr, nullptr);
    SqlitePtr zDetach(checkAlloc(sqlite3_mprintf("DETACH %s", zCloneSource)));
    sqlite3_exec(dbNew.get(), zDetach.get(), nullptr, nullptr, nullptr);
  }
  sqlite3_exec(p->db, "PRAGMA writable_schema=OFF;", nullptr, nullptr, nullptr);
  // A spoiled copy's transaction is rolled back as the connection closes.
  if (sqlite3_close(dbNew.get()) == SQLITE_OK) {
    dbNew.release();
  } else {
    printConsole(stderr, "Error: %s\n", sqlite3_errmsg(dbNew.get()));
    out.error(true);
    sqlite3_close_v2(dbNew.release());
  }
  return out;
}

}  // namespace

// .clone NEWDB
int doClone(ShellContext* p, int nArg, char** azArg) {
  rejectInSafeMode(p, "cannot run .clone in safe mode");
  if (nArg != 2) return usage("Usage: .clone FILENAME\n");
  const char* zNewDb = azArg[1];
  if (fileExists(zNewDb)) {
    printConsole(stderr, "File \"%s\" already exists.\n", zNewDb);
    return 1;
  }
  CloneTarget target(zNewDb);
  if (!target.create()) return 1;
  CloneOutcome out = cloneOnce(p, target, true);
  if (out.bSourceDamaged) {
    // Read through the shell's connection, row by row, a damaged table gives
    // what can still be read of it.
    target.discard();
    printRaw(stderr, "The source database is damaged: copying it again row by row\n");
    if (!target.create()) return 1;
    out = cloneOnce(p, target, false);
  }
  if (out.bSpoiled || !target.publish()) {
    target.discard();
    return 1;
  }
  return out.nErrors > 0 ? 1 : 0;
}

// .cd DIRECTORY
int doCd(ShellContext* p, int nArg, char** azArg) {
  rejectInSafeMode(p, "cannot run .cd in safe mode");
  if (nArg != 2) return usage("Usage: .cd DIRECTORY\n");
  if (chdir(azArg[1]) != 0) {
    printConsole(stderr, "Cannot change to directory \"%s\"\n", azArg[1]);
    return 1;
  }
  return 0;
}

// .read FILE  or  .read '|COMMAND'
int doRead(ShellContext* p, int nArg, char** azArg) {
  FILE* pInSaved = p->pIn;
  const int iLineNoSaved = p->iLineNo;
  rejectInSafeMode(p, "cannot run .read in safe mode");
  if (nArg != 2) return usage("Usage: .read FILE\n");
  const char* zSource = azArg[1];
  FILE* pIn = nullptr;
  const bool bPipe = zSource[0] == '|';
  if (bPipe) {
    std::fflush(p->pOut);
    std::fflush(stdout);
    pIn = popen(zSource + 1, "r");
  } else {
    pIn = openInputFile(zSource);
  }
  if (pIn == nullptr) {
    printConsole(stderr, "Error: cannot open \"%s\"\n", zSource);
    return 1;
  }
  p->pIn = pIn;
  const int rc = runNestedInput(p);
  if (bPipe) {
    pclose(pIn);
  } else {
    std::fclose(pIn);
  }
  p->pIn = pInSaved;
  p->iLineNo = iLineNoSaved;
  return rc;
}

// .shell CMD ARGS...  (also .system)
int doShell(ShellContext* p, int nArg, char** azArg) {
  rejectInSafeMode(p, "cannot run .%s in safe mode", azArg[0]);
  if (nArg < 2) return usage("Usage: .system COMMAND\n");
  std::string zCmd;
  for (int i = 1; i < nArg; i++) {
    if (i > 1) zCmd += ' ';
    const bool bQuote = std::strchr(azArg[i], ' ') != nullptr;
    if (bQuote) zCmd += '"';
    zCmd += azArg[i];
    if (bQuote) zCmd += '"';
  }
  std::fflush(p->pOut);
  std::fflush(stdout);
  const int rc = commandStatus(std::system(zCmd.c_str()));
  if (rc != 0) printRaw(stderr, "System command returns %d\n", rc);
  return 0;
}

// .load FILE ?ENTRYPOINT?
int doLoad(ShellContext* p, int nArg, char** azArg) {
  rejectInSafeMode(p, "cannot run .load in safe mode");
  if (nArg < 2) return usage("Usage: .load FILE ?ENTRYPOINT?\n");
  openDatabase(p, 0);
  char* zErrRaw = nullptr;
  int rc = sqlite3_load_extension(p->db, azArg[1], nArg > 2 ? azArg[2] : nullptr, &zErrRaw);
  SqlitePtr zErr(zErrRaw);
  if (rc != SQLITE_OK) {
    printConsole(stderr, "Error: %s\n", zErr ? zErr.get() : sqlite3_errstr(rc));
    return 1;
  }
  return 0;
}

// .log FILE|stdout|stderr|off
int doLog(ShellContext* p, int nArg, char** azArg) {
  rejectInSafeMode(p, "cannot run .log in safe mode");
  if (nArg != 2) return usage("Usage: .log FILENAME\n");
  closeOutputStream(p->pLogFile);
  p->pLogFile = openOutputStream(azArg[1], false);
  return 0;
}

// .timeout ?MS?
int doTimeout(ShellContext* p, int nArg, char** azArg) {
  openDatabase(p, 0);
  sqlite3_busy_timeout(p->db, nArg >= 2 ? static_cast<int>(parseIntegerArg(azArg[1])) : 0);
  return 0;
}

// .version
int doVersion(ShellContext* p, int, char**) {
  printConsole(p->pOut, "SQLite %s %s\n", sqlite3_libversion(), sqlite3_sourceid());
  printRaw(p->pOut, "gcc-%d.%d.%d\n", __GNUC__, __GNUC_MINOR__, __GNUC_PATCHLEVEL__);
  return 0;
}

// .exit ?CODE?: a non-zero CODE ends the process at once with that status;
// otherwise input reading stops as for .quit.
int doExit(ShellContext*, int nArg, char** azArg) {
  if (nArg > 1) {
    int rc = static_cast<int>(parseIntegerArg(azArg[1]));
    if (rc != 0) std::exit(rc);
  }
  return 2;
}

int doQuit(ShellContext*, int, char**) {
  return 2;
}
