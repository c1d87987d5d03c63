// The statistics report shown after each statement (.stats on, stmt, vmstep;
// -stats) and by .stats alone.
#include "shell/exec/Stats.h"

#include <cstring>

#include "shell/core/Output.h"
#include "shell/core/ShellContext.h"

namespace {

constexpr unsigned statsStmt = 2;
constexpr unsigned statsVmStep = 3;

struct ConnectionCounter {
  const char* zFormat;
  int eCounter;
  bool bLookaside;    // shown only while lookaside memory is in use
  bool bAlwaysReset;  // reset after every reading, whatever the caller asks
  bool bHighwater;    // the value shown is the highest, not the current one
};

// The connection's counters in the order of the report.  Lookaside "used"
// shows both values and is handled on its own.
constexpr ConnectionCounter connectionCounters[] = {
    {"Successful lookaside attempts:       %d\n", SQLITE_DBSTATUS_LOOKASIDE_HIT, true, false, true},
    {"Lookaside failures due to size:      %d\n", SQLITE_DBSTATUS_LOOKASIDE_MISS_SIZE, true, false,
     true},
    {"Lookaside failures due to OOM:       %d\n", SQLITE_DBSTATUS_LOOKASIDE_MISS_FULL, true, false,
     true},
    {"Pager Heap Usage:                    %d bytes\n", SQLITE_DBSTATUS_CACHE_USED, false, false,
     false},
    {"Page cache hits:                     %d\n", SQLITE_DBSTATUS_CACHE_HIT, false, true, false},
    {"Page cache misses:                   %d\n", SQLITE_DBSTATUS_CACHE_MISS, false, true, false},
    {"Page cache writes:                   %d\n", SQLITE_DBSTATUS_CACHE_WRITE, false, true, false},
    {"Page cache spills:                   %d\n", SQLITE_DBSTATUS_CACHE_SPILL, false, true, false},
    {"Schema Heap Usage:                   %d bytes\n", SQLITE_DBSTATUS_SCHEMA_USED, false, false,
     false},
    {"Statement Heap/Lookaside Usage:      %d bytes\n", SQLITE_DBSTATUS_STMT_USED, false, false,
     false},
};

void printColumns(ShellContext* p, sqlite3_stmt* pStmt) {
  FILE* out = p->pOut;
  const int nCol = sqlite3_column_count(pStmt);
  printRaw(out, "%-36s %d\n", "Number of output columns:", nCol);
  for (int i = 0; i < nCol; i++) {
    char zLabel[100];
    sqlite3_snprintf(static_cast<int>(sizeof(zLabel)), zLabel, "Column %d ", i);
    const size_t nPrefix = std::strlen(zLabel);
    sqlite3_snprintf(static_cast<int>(sizeof(zLabel) - nPrefix), zLabel + nPrefix, "name:");
    printConsole(out, "%-36s %s\n", zLabel, sqlite3_column_name(pStmt, i));
    sqlite3_snprintf(static_cast<int>(sizeof(zLabel) - nPrefix), zLabel + nPrefix,
                     "declared type:");
    printConsole(out, "%-36s %s\n", zLabel, sqlite3_column_decltype(pStmt, i));
  }
}

void printConnectionCounters(ShellContext* p, sqlite3* db, int bReset) {
  FILE* out = p->pOut;
  const bool bLookaside = (p->mFlags & ShellFlag::Lookaside) != 0;
  if (bLookaside) {
    int iCur = -1;
    int iHigh = -1;
    sqlite3_db_status(db, SQLITE_DBSTATUS_LOOKASIDE_USED, &iCur, &iHigh, bReset);
    printRaw(out, "Lookaside Slots Used:                %d (max %d)\n", iCur, iHigh);
  }
  for (const ConnectionCounter& c : connectionCounters) {
    if (c.bLookaside && !bLookaside) continue;
    int iCur = -1;
    int iHigh = -1;
    sqlite3_db_status(db, c.eCounter, &iCur, &iHigh, c.bAlwaysReset ? 1 : bReset);
    printRaw(out, c.zFormat, c.bHighwater ? iHigh : iCur);
  }
}

void printStatementCounters(ShellContext* p, sqlite3_stmt* pStmt, int bReset) {
  FILE* out = p->pOut;
  auto counter = [&](int eCounter) { return sqlite3_stmt_status(pStmt, eCounter, bReset); };
  printRaw(out, "Fullscan Steps:                      %d\n",
           counter(SQLITE_STMTSTATUS_FULLSCAN_STEP));
  printRaw(out, "Sort Operations:                     %d\n", counter(SQLITE_STMTSTATUS_SORT));
  printRaw(out, "Autoindex Inserts:                   %d\n", counter(SQLITE_STMTSTATUS_AUTOINDEX));
  const int nHit = counter(SQLITE_STMTSTATUS_FILTER_HIT);
  const int nMiss = counter(SQLITE_STMTSTATUS_FILTER_MISS);
  if (nHit != 0 || nMiss != 0) {
    printRaw(out, "Bloom filter bypass taken:           %d/%d\n", nHit, nHit + nMiss);
  }
  printRaw(out, "Virtual Machine Steps:               %d\n", counter(SQLITE_STMTSTATUS_VM_STEP));
  printRaw(out, "Reprepare operations:                %d\n", counter(SQLITE_STMTSTATUS_REPREPARE));
  printRaw(out, "Number of times run:                 %d\n", counter(SQLITE_STMTSTATUS_RUN));
  printRaw(out, "Memory used by prepared stmt:        %d\n", counter(SQLITE_STMTSTATUS_MEMUSED));
}

}  // namespace

void printStatusLine(ShellContext* p, const char* zLabel, const char* zFormat, int eStatus,
                     int bReset) {
  sqlite3_int64 iCur = -1;
  sqlite3_int64 iHigh = -1;
  sqlite3_status64(eStatus, &iCur, &iHigh, bReset);
  int nPercent = 0;
  for (const char* z = zFormat; *z; z++) {
    if (*z == '%') nPercent++;
  }
  char zLine[200];
  if (nPercent > 1) {
    sqlite3_snprintf(static_cast<int>(sizeof(zLine)), zLine, zFormat, iCur, iHigh);
  } else {
    sqlite3_snprintf(static_cast<int>(sizeof(zLine)), zLine, zFormat, iHigh);
  }
  printRaw(p->pOut, "%-36s %s\n", zLabel, zLine);
}

void displayStats(sqlite3* db, ShellContext* p, int bReset) {
  if (p == nullptr || p->pOut == nullptr) return;
  sqlite3_stmt* pStmt = p->pCurStmt;
  if (p->eStatsMode == statsVmStep) {
    if (pStmt != nullptr) {
      printRaw(p->pOut, "VM-steps: %d\n",
               sqlite3_stmt_status(pStmt, SQLITE_STMTSTATUS_VM_STEP, bReset));
    }
    return;
  }
  if (p->eStatsMode == statsStmt && pStmt != nullptr) printColumns(p, pStmt);

  printStatusLine(p, "Memory Used:", "%lld (max %lld) bytes", SQLITE_STATUS_MEMORY_USED, bReset);
  printStatusLine(p, "Number of Outstanding Allocations:", "%lld (max %lld)",
                  SQLITE_STATUS_MALLOC_COUNT, bReset);
  if (p->mFlags & ShellFlag::Pagecache) {
    printStatusLine(p, "Number of Pcache Pages Used:", "%lld (max %lld) pages",
                    SQLITE_STATUS_PAGECACHE_USED, bReset);
  }
  printStatusLine(p, "Number of Pcache Overflow Bytes:", "%lld (max %lld) bytes",
                  SQLITE_STATUS_PAGECACHE_OVERFLOW, bReset);
  printStatusLine(p, "Largest Allocation:", "%lld bytes", SQLITE_STATUS_MALLOC_SIZE, bReset);
  printStatusLine(p, "Largest Pcache Allocation:", "%lld bytes", SQLITE_STATUS_PAGECACHE_SIZE,
                  bReset);

  if (db != nullptr) printConnectionCounters(p, db, bReset);
  if (pStmt != nullptr) printStatementCounters(p, pStmt, bReset);
}
