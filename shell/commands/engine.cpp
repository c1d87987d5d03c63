// Engine control commands: .dbconfig, .limits, .testctrl, .filectrl, the VFS
// reports, .imposter, .trace, .progress, the trace-flag commands and
// .breakpoint.  Each is a thin layer over one engine interface, driven by the
// name tables of Engine.h.
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "shell/commands/Commands.h"
#include "shell/commands/Engine.h"
#include "shell/core/ArgParsers.h"
#include "shell/core/OpenDatabase.h"
#include "shell/core/Output.h"
#include "shell/core/Redirect.h"
#include "shell/core/SafeMode.h"
#include "shell/core/ShellContext.h"

namespace {

constexpr int traceFlagsTree = 1;   // selector of sqlite3TreeTrace in TESTCTRL_TRACEFLAGS
constexpr int traceFlagsWhere = 3;  // selector of sqlite3WhereTrace
constexpr int traceTextLimit = 1000000000;
constexpr unsigned progressQuiet = 0x1;
constexpr unsigned progressReset = 0x2;
constexpr unsigned progressOnce = 0x4;

int nBreakpointCalls = 0;

// Drops up to two leading '-' from a command name ("--byte" -> "byte"); a
// lone "-" stays.
const char* stripDashes(const char* z) {
  for (int i = 0; i < 2; i++) {
    if (z[0] == '-' && z[1] != 0) z++;
  }
  return z;
}

// An integer argument clamped to the int range, instead of keeping only its
// low 32 bits (which turns 4294967297 into 1).
int clampToInt(sqlite3_int64 v) {
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return static_cast<int>(v);
}

// atoi() without its undefined behaviour for out-of-range text.
int textToInt(const char* z) {
  return clampToInt(static_cast<sqlite3_int64>(std::strtoll(z, nullptr, 10)));
}

sqlite3_vfs* connectionVfs(sqlite3* db, const char* zSchema) {
  sqlite3_vfs* pVfs = nullptr;
  if (db) sqlite3_file_control(db, zSchema, SQLITE_FCNTL_VFS_POINTER, &pVfs);
  return pVfs;
}

void printVfsNumbers(FILE* out, const sqlite3_vfs* pVfs) {
  printRaw(out, "vfs.iVersion   = %d\n", pVfs->iVersion);
  printRaw(out, "vfs.szOsFile   = %d\n", pVfs->szOsFile);
  printRaw(out, "vfs.mxPathname = %d\n", pVfs->mxPathname);
}

// Leaves the engine's imposter mode whatever happens after it was entered.
class ImposterModeGuard {
 public:
  explicit ImposterModeGuard(sqlite3* db) : db_(db) {}
  ImposterModeGuard(const ImposterModeGuard&) = delete;
  ImposterModeGuard& operator=(const ImposterModeGuard&) = delete;
  ~ImposterModeGuard() { sqlite3_test_control(SQLITE_TESTCTRL_IMPOSTER, db_, "main", 0, 0); }

 private:
  sqlite3* db_;
};

// Runs one .testctrl row.  Returns false when the words do not fit the row
// (or the row has no action), so that its usage line is printed.
bool applyTestControl(ShellContext* p, const TestControl& row, int nArg, char** azArg) {
  FILE* out = p->pOut;
  switch (row.eKind) {
    case TestCtrlKind::BooleanPrint:
      if (nArg != 3) return false;
      printRaw(out, "%d\n", sqlite3_test_control(row.iCode, parseBooleanArg(azArg[2])));
      return true;
    case TestCtrlKind::NoArgPrint:
      if (nArg != 2) return false;
      printRaw(out, "%d\n", sqlite3_test_control(row.iCode));
      return true;
    case TestCtrlKind::NoAction:
      return false;
    case TestCtrlKind::Imposter:
      if (nArg != 5) return false;
      sqlite3_test_control(row.iCode, p->db, azArg[2], static_cast<int>(parseIntegerArg(azArg[3])),
                           static_cast<int>(parseIntegerArg(azArg[4])));
      return true;
    case TestCtrlKind::DbOnly:
      sqlite3_test_control(row.iCode, p->db);
      return true;
    case TestCtrlKind::Boolean:
      if (nArg != 3) return false;
      sqlite3_test_control(row.iCode, parseBooleanArg(azArg[2]));
      return true;
    case TestCtrlKind::Optimizations: {
      if (nArg != 3) return false;
      unsigned mMask = static_cast<unsigned>(std::strtol(azArg[2], nullptr, 0));
      sqlite3_test_control(row.iCode, p->db, mMask);
      return true;
    }
    case TestCtrlKind::PendingByte:
      if (nArg != 3) return false;
      sqlite3_test_control(row.iCode, static_cast<unsigned>(parseIntegerArg(azArg[2])));
      return true;
    case TestCtrlKind::NoArg:
      if (nArg != 2) return false;
      sqlite3_test_control(row.iCode);
      return true;
    case TestCtrlKind::PrngSeed: {
      if (nArg != 3 && nArg != 4) return false;
      int iSeed = static_cast<int>(parseIntegerArg(azArg[2]));
      if (iSeed == 0 && std::strcmp(azArg[2], "random") == 0) {
        sqlite3_randomness(sizeof(iSeed), &iSeed);
        printRaw(stdout, "-- random seed: %d\n", iSeed);
      }
      sqlite3* db = nullptr;
      if (nArg == 4) {
        db = p->db;
        // Makes the connection read its schema before the generator is seeded.
        sqlite3_table_column_metadata(db, nullptr, "x", nullptr, nullptr, nullptr, nullptr, nullptr,
                                      nullptr);
      }
      sqlite3_test_control(row.iCode, iSeed, db);
      return true;
    }
    case TestCtrlKind::SeekCount: {
      sqlite3_uint64 n = 0;
      sqlite3_test_control(row.iCode, p->db, &n);
      printRaw(out, "%llu\n", static_cast<unsigned long long>(n));
      return true;
    }
    case TestCtrlKind::SorterMmap:
      if (nArg != 3) return false;
      sqlite3_test_control(row.iCode, p->db, static_cast<unsigned>(parseIntegerArg(azArg[2])));
      return true;
  }
  return false;
}

// Runs one .filectrl row on zSchema (null: "main").  Returns false when the
// words do not fit the row.
bool applyFileControl(ShellContext* p, const FileControl& row, const char* zSchema, int nArg,
                      char** azArg) {
  sqlite3* db = p->db;
  switch (row.eKind) {
    case FileCtrlKind::SetInt: {
      if (nArg != 3) return false;
      int x = static_cast<int>(parseIntegerArg(azArg[2]));
      sqlite3_file_control(db, zSchema, row.iCode, &x);
      return true;
    }
    case FileCtrlKind::QueryInt: {
      if (nArg != 2) return false;
      int x = 0;
      sqlite3_file_control(db, zSchema, row.iCode, &x);
      printRaw(p->pOut, "%lld\n", static_cast<long long>(x));
      return true;
    }
    case FileCtrlKind::BooleanInt: {
      if (nArg != 2 && nArg != 3) return false;
      int x = nArg == 3 ? parseBooleanArg(azArg[2]) : -1;
      sqlite3_file_control(db, zSchema, row.iCode, &x);
      printRaw(p->pOut, "%lld\n", static_cast<long long>(x));
      return true;
    }
    case FileCtrlKind::ReserveBytes: {
      int x = 0;
      if (nArg >= 3) {
        x = textToInt(azArg[2]);
        sqlite3_file_control(db, zSchema, row.iCode, &x);
      }
      x = -1;
      sqlite3_file_control(db, zSchema, row.iCode, &x);
      printConsole(p->pOut, "%d\n", x);
      return true;
    }
    case FileCtrlKind::SizeLimit: {
      if (nArg != 2 && nArg != 3) return false;
      sqlite3_int64 x = nArg == 3 ? parseIntegerArg(azArg[2]) : -1;
      sqlite3_file_control(db, zSchema, row.iCode, &x);
      printRaw(p->pOut, "%lld\n", static_cast<long long>(x));
      return true;
    }
    case FileCtrlKind::TempFilename: {
      if (nArg != 2) return false;
      char* z = nullptr;
      sqlite3_file_control(db, zSchema, row.iCode, &z);
      if (z) {
        SqlitePtr zName(z);
        printConsole(p->pOut, "%s\n", zName.get());
      }
      return true;
    }
  }
  return false;
}

void printLimit(ShellContext* p, int iLimit) {
  printRaw(stdout, "%20s %d\n", limitNames[static_cast<size_t>(iLimit)],
           sqlite3_limit(p->db, iLimit, -1));
}

int setTraceFlags(int nArg, char** azArg, int iSelector) {
  unsigned mValue =
      nArg >= 2 ? static_cast<unsigned>(static_cast<int>(parseIntegerArg(azArg[1]))) : 0xffffffffu;
  if (testControlsAvailable()) sqlite3_test_control(SQLITE_TESTCTRL_TRACEFLAGS, iSelector, &mValue);
  return 0;
}

}  // namespace

bool testControlsAvailable() {
  static const bool bAvailable = sqlite3_compileoption_used("UNTESTABLE") == 0;
  return bAvailable;
}

int doDbconfig(ShellContext* p, int nArg, char** azArg) {
  openDatabase(p, 0);
  for (const DbConfigOption& opt : dbConfigOptions) {
    if (nArg > 1 && std::strcmp(azArg[1], opt.zName) != 0) continue;
    if (nArg >= 3) {
      const int bOn = parseBooleanArg(azArg[2]);
      // The two-argument fts3_tokenizer() installs a tokenizer from a raw pointer: code of
      // the caller's choosing.  Safe mode keeps it off (see installAuthorizer).
      if (bOn && opt.iOption == SQLITE_DBCONFIG_ENABLE_FTS3_TOKENIZER) {
        rejectInSafeMode(p, "cannot enable fts3_tokenizer in safe mode");
      }
      sqlite3_db_config(p->db, opt.iOption, bOn, 0);
    }
    int v = 0;
    sqlite3_db_config(p->db, opt.iOption, -1, &v);
    printConsole(p->pOut, "%19s %s\n", opt.zName, v ? "on" : "off");
    if (nArg > 1) return 0;
  }
  if (nArg > 1) {
    printConsole(stderr, "Error: unknown dbconfig \"%s\"\n", azArg[1]);
    printRaw(stderr, "Enter \".dbconfig\" with no arguments for a list\n");
  }
  return 0;
}

int doLimits(ShellContext* p, int nArg, char** azArg) {
  openDatabase(p, 0);
  if (nArg == 1) {
    for (size_t i = 0; i < limitNames.size(); i++) printLimit(p, static_cast<int>(i));
    return 0;
  }
  if (nArg > 3) {
    printRaw(stderr, "Usage: .limit NAME ?NEW-VALUE?\n");
    return 1;
  }
  int iLimit = -1;
  const int n = textLength(azArg[1]);
  for (size_t i = 0; i < limitNames.size(); i++) {
    if (sqlite3_strnicmp(limitNames[i], azArg[1], n) == 0) {
      if (iLimit >= 0) {
        printConsole(stderr, "ambiguous limit: \"%s\"\n", azArg[1]);
        return 1;
      }
      iLimit = static_cast<int>(i);
    }
  }
  if (iLimit < 0) {
    printConsole(stderr,
                 "unknown limit: \"%s\"\n"
                 "enter \".limits\" with no arguments for a list.\n",
                 azArg[1]);
    return 1;
  }
  // A value beyond the int range is the largest one (the engine caps it at
  // its own maximum), not the low 32 bits of the number.
  if (nArg == 3) sqlite3_limit(p->db, iLimit, clampToInt(parseIntegerArg(azArg[2])));
  printLimit(p, iLimit);
  return 0;
}

int doTestctrl(ShellContext* p, int nArg, char** azArg) {
  openDatabase(p, 0);
  const char* zCmd = stripDashes(nArg >= 2 ? azArg[1] : "help");
  if (std::strcmp(zCmd, "help") == 0) {
    printRaw(p->pOut, "Available test-controls:\n");
    for (const TestControl& row : testControls) {
      printRaw(p->pOut, "  .testctrl %s %s\n", row.zName, row.zUsage);
    }
    return 1;
  }
  int nMatch = 0;
  const TestControl* pRow = findRowByPrefix(testControls, zCmd, &nMatch);
  if (nMatch > 1) {
    printConsole(stderr,
                 "Error: ambiguous test-control: \"%s\"\n"
                 "Use \".testctrl --help\" for help\n",
                 zCmd);
    return 1;
  }
  if (pRow == nullptr) {
    printConsole(stderr,
                 "Error: unknown test-control: %s\n"
                 "Use \".testctrl --help\" for help\n",
                 zCmd);
    return 0;
  }
  if (pRow->bUnsafe && p->bSafeActive) {
    printRaw(stderr, "line %d: \".testctrl %s\" may not be used in safe mode\n", p->iLineNo,
             pRow->zName);
    std::fflush(stderr);
    std::exit(1);
  }
  // Without the engine's test interface no operation is there to run.
  if (testControlsAvailable() && applyTestControl(p, *pRow, nArg, azArg)) return 0;
  printConsole(p->pOut, "Usage: .testctrl %s %s\n", zCmd, pRow->zUsage);
  return 1;
}

int doFilectrl(ShellContext* p, int nArg, char** azArg) {
  openDatabase(p, 0);
  const char* zSchema = nullptr;
  const char* zCmd = nArg >= 2 ? azArg[1] : "help";
  if (zCmd[0] == '-' && (std::strcmp(zCmd, "--schema") == 0 || std::strcmp(zCmd, "-schema") == 0) &&
      nArg >= 4) {
    zSchema = azArg[2];
    for (int i = 3; i <= nArg; i++) azArg[i - 2] = azArg[i];
    nArg -= 2;
    zCmd = azArg[1];
  }
  zCmd = stripDashes(zCmd);
  if (std::strcmp(zCmd, "help") == 0) {
    printRaw(p->pOut, "Available file-controls:\n");
    for (const FileControl& row : fileControls) {
      printRaw(p->pOut, "  .filectrl %s %s\n", row.zName, row.zUsage);
    }
    return 1;
  }
  int nMatch = 0;
  const FileControl* pRow = findRowByPrefix(fileControls, zCmd, &nMatch);
  if (nMatch > 1) {
    printConsole(stderr,
                 "Error: ambiguous file-control: \"%s\"\n"
                 "Use \".filectrl --help\" for help\n",
                 zCmd);
    return 1;
  }
  if (pRow == nullptr) {
    printConsole(stderr,
                 "Error: unknown file-control: %s\n"
                 "Use \".filectrl --help\" for help\n",
                 zCmd);
    return 0;
  }
  if (applyFileControl(p, *pRow, zSchema, nArg, azArg)) return 0;
  printConsole(p->pOut, "Usage: .filectrl %s %s\n", zCmd, pRow->zUsage);
  return 1;
}

int doVfsinfo(ShellContext* p, int nArg, char** azArg) {
  const char* zSchema = nArg == 2 ? azArg[1] : "main";
  if (sqlite3_vfs* pVfs = connectionVfs(p->db, zSchema)) {
    printConsole(p->pOut, "vfs.zName      = \"%s\"\n", pVfs->zName);
    printVfsNumbers(p->pOut, pVfs);
  }
  return 0;
}

int doVfslist(ShellContext* p, int nArg, char** azArg) {
  (void)nArg;
  (void)azArg;
  const sqlite3_vfs* pCurrent = connectionVfs(p->db, "main");
  for (const sqlite3_vfs* pVfs = sqlite3_vfs_find(nullptr); pVfs; pVfs = pVfs->pNext) {
    printConsole(p->pOut, "vfs.zName      = \"%s\"%s\n", pVfs->zName,
                 pVfs == pCurrent ? "  <--- CURRENT" : "");
    printVfsNumbers(p->pOut, pVfs);
    if (pVfs->pNext) printRaw(p->pOut, "-----------------------------------\n");
  }
  return 0;
}

int doVfsname(ShellContext* p, int nArg, char** azArg) {
  const char* zSchema = nArg == 2 ? azArg[1] : "main";
  if (p->db == nullptr) return 0;
  char* zName = nullptr;
  sqlite3_file_control(p->db, zSchema, SQLITE_FCNTL_VFSNAME, &zName);
  if (zName) {
    SqlitePtr zOwned(zName);
    printConsole(p->pOut, "%s\n", zOwned.get());
  }
  return 0;
}

int doImposter(ShellContext* p, int nArg, char** azArg) {
  if (!(nArg == 3 || (nArg == 2 && sqlite3_stricmp(azArg[1], "off") == 0))) {
    printRaw(stderr,
             "Usage: .imposter INDEX IMPOSTER\n"
             "       .imposter off\n");
    return 1;
  }
  openDatabase(p, 0);
  if (nArg == 2) {
    if (testControlsAvailable()) {
      sqlite3_test_control(SQLITE_TESTCTRL_IMPOSTER, p->db, "main", 0, 1);
    }
    return 0;
  }
  const char* zIndex = azArg[1];
  const char* zTable = azArg[2];
  int iRootPage = 0;
  bool bWithoutRowid = false;
  {
    SqlitePtr zSql(checkAlloc(
        sqlite3_mprintf("SELECT rootpage, 0 FROM sqlite_schema WHERE name='%q' AND type='index'"
                        "UNION ALL "
                        "SELECT rootpage, 1 FROM sqlite_schema WHERE name='%q' AND type='table'"
                        "   AND sql LIKE '%%without%%rowid%%'",
                        zIndex, zIndex)));
    StmtPtr pStmt = prepareStmt(p->db, zSql.get());
    if (pStmt && sqlite3_step(pStmt.get()) == SQLITE_ROW) {
      iRootPage = sqlite3_column_int(pStmt.get(), 0);
      bWithoutRowid = sqlite3_column_int(pStmt.get(), 1) != 0;
    }
  }

  SqlitePtr zCollist;
  int nCol = 0;
  int nPrimaryKey = -1;
  {
    SqlitePtr zSql(checkAlloc(sqlite3_mprintf("PRAGMA index_xinfo='%q'", zIndex)));
    StmtPtr pStmt = prepareStmt(p->db, zSql.get());
    while (pStmt && sqlite3_step(pStmt.get()) == SQLITE_ROW) {
      nCol++;
      auto zCol = reinterpret_cast<const char*>(sqlite3_column_text(pStmt.get(), 2));
      SqlitePtr zExprName;
      if (zCol == nullptr) {
        if (sqlite3_column_int(pStmt.get(), 1) == -1) {
          zCol = "_ROWID_";
        } else {
          zExprName.reset(checkAlloc(sqlite3_mprintf("expr%d", nCol)));
          zCol = zExprName.get();
        }
      }
      if (bWithoutRowid && nPrimaryKey < 0 && zCollist && sqlite3_column_int(pStmt.get(), 5) == 0) {
        nPrimaryKey = textLength(zCollist.get());
      }
      if (zCollist) {
        zCollist.reset(checkAlloc(sqlite3_mprintf("%z,\"%w\"", zCollist.release(), zCol)));
      } else {
        zCollist.reset(checkAlloc(sqlite3_mprintf("\"%w\"", zCol)));
      }
    }
  }
  if (nCol == 0 || iRootPage == 0) {
    printConsole(stderr, "no such index: \"%s\"\n", zIndex);
    return 1;
  }
  // Every column is in the key unless a WITHOUT ROWID table named its own;
  // the whole list is used, however long it is.
  if (nPrimaryKey < 0) nPrimaryKey = textLength(zCollist.get());
  SqlitePtr zCreate(
      checkAlloc(sqlite3_mprintf("CREATE TABLE \"%w\"(%s,PRIMARY KEY(%.*s))WITHOUT ROWID", zTable,
                                 zCollist.get(), nPrimaryKey, zCollist.get())));
  if (!testControlsAvailable()) {
    printRaw(stderr, "SQLITE_TESTCTRL_IMPOSTER returns %d\n", SQLITE_ERROR);
    return 1;
  }
  int rc = 0;
  {
    ImposterModeGuard guard(p->db);
    rc = sqlite3_test_control(SQLITE_TESTCTRL_IMPOSTER, p->db, "main", 1, iRootPage);
    if (rc) {
      printRaw(stderr, "SQLITE_TESTCTRL_IMPOSTER returns %d\n", rc);
      return 1;
    }
    rc = sqlite3_exec(p->db, zCreate.get(), nullptr, nullptr, nullptr);
  }
  if (rc) {
    printConsole(stderr, "Error in [%s]: %s\n", zCreate.get(), sqlite3_errmsg(p->db));
    return rc;
  }
  printConsole(stdout, "%s;\n", zCreate.get());
  printConsole(stdout, "WARNING: writing to an imposter table will corrupt the \"%s\" %s!\n",
               zIndex, bWithoutRowid ? "table" : "index");
  return 0;
}

int traceToStream(unsigned mType, void* pArg, void* pStmtArg, void* pX) {
  auto* p = static_cast<ShellContext*>(pArg);
  if (p->pTraceFile == nullptr || (p->bReadingCatalog && mType != SQLITE_TRACE_CLOSE)) return 0;
  if (mType == SQLITE_TRACE_CLOSE) {
    printRaw(p->pTraceFile, "-- closing database connection\n");
    return 0;
  }
  auto* pStmt = static_cast<sqlite3_stmt*>(pStmtArg);
  const char* zSql = nullptr;
  SqlitePtr zExpanded;
  if (mType == SQLITE_TRACE_STMT && pX && static_cast<const char*>(pX)[0] == '-') {
    zSql = static_cast<const char*>(pX);
  } else if (p->eTraceKind == 1) {
    zExpanded.reset(sqlite3_expanded_sql(pStmt));
    zSql = zExpanded.get();
  } else {
    zSql = sqlite3_sql(pStmt);
  }
  if (zSql == nullptr) return 0;
  size_t nSql = std::strlen(zSql);
  if (nSql > static_cast<size_t>(traceTextLimit)) nSql = traceTextLimit;
  while (nSql > 0 && zSql[nSql - 1] == ';') nSql--;
  const int n = static_cast<int>(nSql);
  switch (mType) {
    case SQLITE_TRACE_ROW:
    case SQLITE_TRACE_STMT:
      printConsole(p->pTraceFile, "%.*s;\n", n, zSql);
      break;
    case SQLITE_TRACE_PROFILE: {
      sqlite3_int64 nNanosec = *static_cast<const sqlite3_int64*>(pX);
      printConsole(p->pTraceFile, "%.*s; -- %lld ns\n", n, zSql, nNanosec);
      break;
    }
    default:
      break;
  }
  return 0;
}

int doTrace(ShellContext* p, int nArg, char** azArg) {
  openDatabase(p, 0);
  unsigned mType = 0;
  for (int i = 1; i < nArg; i++) {
    const char* z = azArg[i];
    if (z[0] != '-') {
      if (std::strcmp(z, "stdout") != 0 && std::strcmp(z, "stderr") != 0 &&
          std::strcmp(z, "off") != 0) {
        rejectInSafeMode(p, "cannot run .%s in safe mode", azArg[0]);
      }
      closeOutputStream(p->pTraceFile);
      p->pTraceFile = openOutputStream(z, false);
    } else if (matchOption(z, "expanded")) {
      p->eTraceKind = 1;
    } else if (matchOption(z, "plain")) {
      p->eTraceKind = 0;
    } else if (matchOption(z, "profile")) {
      mType |= SQLITE_TRACE_PROFILE;
    } else if (matchOption(z, "row")) {
      mType |= SQLITE_TRACE_ROW;
    } else if (matchOption(z, "stmt")) {
      mType |= SQLITE_TRACE_STMT;
    } else if (matchOption(z, "close")) {
      mType |= SQLITE_TRACE_CLOSE;
    } else {
      printConsole(stderr, "Unknown option \"%s\" on \".trace\"\n", z);
      return 1;
    }
  }
  if (p->pTraceFile == nullptr) {
    sqlite3_trace_v2(p->db, 0, nullptr, nullptr);
  } else {
    if (mType == 0) mType = SQLITE_TRACE_STMT;
    sqlite3_trace_v2(p->db, mType, traceToStream, p);
  }
  return 0;
}

int progressTick(void* pArg) {
  auto* p = static_cast<ShellContext*>(pArg);
  if (p->bReadingCatalog) return 0;
  p->nProgressCalls++;
  if (p->nProgressLimit != 0 && p->nProgressCalls >= p->nProgressLimit) {
    printRaw(p->pOut, "Progress limit reached (%u)\n", p->nProgressCalls);
    if (p->mProgressFlags & progressReset) p->nProgressCalls = 0;
    if (p->mProgressFlags & progressOnce) p->nProgressLimit = 0;
    return 1;
  }
  if ((p->mProgressFlags & progressQuiet) == 0) {
    printRaw(p->pOut, "Progress %u\n", p->nProgressCalls);
  }
  return 0;
}

int doProgress(ShellContext* p, int nArg, char** azArg) {
  p->nProgressCalls = 0;
  p->nProgressLimit = 0;
  p->mProgressFlags = 0;
  int nInterval = 0;
  for (int i = 1; i < nArg; i++) {
    const char* z = azArg[i];
    if (z[0] != '-') {
      nInterval = clampToInt(parseIntegerArg(z));
      continue;
    }
    z++;
    if (z[0] == '-') z++;
    if (std::strcmp(z, "quiet") == 0 || std::strcmp(z, "q") == 0) {
      p->mProgressFlags |= progressQuiet;
    } else if (std::strcmp(z, "reset") == 0) {
      p->mProgressFlags |= progressReset;
    } else if (std::strcmp(z, "once") == 0) {
      p->mProgressFlags |= progressOnce;
    } else if (std::strcmp(z, "limit") == 0) {
      if (i + 1 >= nArg) {
        printRaw(stderr, "Error: missing argument on --limit\n");
        return 1;
      }
      // The count is 32 bits: a larger limit is the largest count, and a
      // negative one is no limit, rather than whatever the low bits say.
      sqlite3_int64 nLimit = parseIntegerArg(azArg[++i]);
      if (nLimit < 0) nLimit = 0;
      if (nLimit > UINT32_MAX) nLimit = UINT32_MAX;
      p->nProgressLimit = static_cast<unsigned>(nLimit);
    } else {
      printConsole(stderr, "Error: unknown option: \"%s\"\n", azArg[i]);
      return 1;
    }
  }
  openDatabase(p, 0);
  sqlite3_progress_handler(p->db, nInterval, progressTick, p);
  return 0;
}

int doSelecttrace(ShellContext* p, int nArg, char** azArg) {
  (void)p;
  return setTraceFlags(nArg, azArg, traceFlagsTree);
}

int doWheretrace(ShellContext* p, int nArg, char** azArg) {
  (void)p;
  return setTraceFlags(nArg, azArg, traceFlagsWhere);
}

void breakpointHook() {
  nBreakpointCalls++;
}

int breakpointCount() {
  return nBreakpointCalls;
}

int doBreakpoint(ShellContext* p, int nArg, char** azArg) {
  (void)p;
  (void)nArg;
  (void)azArg;
  breakpointHook();
  return 0;
}
