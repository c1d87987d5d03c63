// Shared by the fuzz targets that drive the shell itself: a state record
// prepared once (initShellContext configures the engine, which is allowed only
// before its first use) and copied fresh for every input, an in-memory
// connection whose work is bounded, and a way out for a failed property.
#pragma once

#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "ext/completion/Completion.h"
#include "ext/decimal/Decimal.h"
#include "ext/ieee754/Ieee754.h"
#include "ext/regexp/Regexp.h"
#include "ext/series/Series.h"
#include "ext/sha3/Sha3.h"
#include "shell/core/OpenDatabase.h"
#include "shell/core/ShellContext.h"
#include "shell/exec/Execute.h"

namespace fuzzshell {

[[noreturn]] inline void fail(const char* zTarget, std::string_view zWhat) {
  std::fprintf(stderr, "%s: %.*s\n", zTarget, static_cast<int>(zWhat.size()), zWhat.data());
  std::abort();
}

// Virtual-machine steps allowed per connection and input (checked every 1000
// steps): enough for the seeds' work, small enough that an endless recursive
// query ends in an interrupt within milliseconds.
constexpr int kProgressTicks = 2000;
// Largest text or blob a statement may make, so that randomblob(1e9) fails fast.
constexpr int kLengthLimit = 1000000;

struct Budget {
  int nTicks = 0;
  bool bExhausted = false;
};

inline int progressTick(void* pArg) {
  auto* pBudget = static_cast<Budget*>(pArg);
  if (++pBudget->nTicks <= kProgressTicks) return 0;
  pBudget->bExhausted = true;
  return 1;
}

// Denies what reaches outside the process's memory: ATTACH (also behind VACUUM
// INTO), which would create files in the working directory, and the functions
// that read or write files or start programs.
inline int denyFiles(void*, int eAction, const char*, const char* zA2, const char*, const char*) {
  if (eAction == SQLITE_ATTACH) return SQLITE_DENY;
  if (eAction == SQLITE_FUNCTION && zA2 != nullptr) {
    for (const char* zName :
         {"readfile", "writefile", "edit", "load_extension", "fts3_tokenizer"}) {
      if (sqlite3_stricmp(zA2, zName) == 0) return SQLITE_DENY;
    }
  }
  return SQLITE_OK;
}

inline void bound(sqlite3* db, Budget* pBudget) {
  sqlite3_limit(db, SQLITE_LIMIT_LENGTH, kLengthLimit);
  sqlite3_progress_handler(db, 1000, progressTick, pBudget);
  sqlite3_set_authorizer(db, denyFiles, nullptr);
}

// A fresh in-memory connection with the extensions that stay inside the
// database (not fileio, edit or extension loading), bounded by pBudget.
inline sqlite3* openBounded(Budget* pBudget) {
  sqlite3* db = nullptr;
  if (sqlite3_open(":memory:", &db) != SQLITE_OK) fail("fuzz", "cannot open :memory:");
  sha3Register(db);
  uintRegister(db);
  decimalRegister(db);
  regexpRegister(db);
  ieee754Register(db);
  seriesRegister(db);
  completionRegister(db);
  bound(db, pBudget);
  return db;
}

// Loads a copy of the image into the connection's main schema.  The engine
// attaches the image internally, past the authorizer that denies ATTACH.
inline int deserializeCopy(sqlite3* db, const void* pImage, size_t nImage) {
  auto* a = static_cast<unsigned char*>(sqlite3_malloc64(nImage > 0 ? nImage : 1));
  if (a == nullptr) fail("fuzz", "out of memory");
  if (nImage > 0) std::memcpy(a, pImage, nImage);
  const auto n = static_cast<sqlite3_int64>(nImage);
  sqlite3_set_authorizer(db, nullptr, nullptr);
  const int rc = sqlite3_deserialize(
      db, "main", a, n, n, SQLITE_DESERIALIZE_RESIZEABLE | SQLITE_DESERIALIZE_FREEONCLOSE);
  sqlite3_set_authorizer(db, denyFiles, nullptr);
  return rc;
}

// The state record as start-up leaves it, with output to /dev/null.
inline const ShellContext& pristineContext() {
  static const ShellContext pristine = [] {
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    ShellContext p;
    initShellContext(&p);
    sqlite3_initialize();
    // One memory cap for the whole process: a statement that asks for more
    // fails with the engine's out-of-memory error instead of growing forever.
    sqlite3_hard_heap_limit64(256 << 20);
    p.pOut = std::fopen("/dev/null", "w");
    if (p.pOut == nullptr) fail("fuzz", "cannot open /dev/null");
    bStdinIsTty = 0;
    bStdoutIsConsole = 0;
    return p;
  }();
  return pristine;
}

// Opens p->db as the shell does for an in-memory image (extensions and the
// shell's own functions registered), then takes away what reaches files: the
// fsdir module and extension loading; the authorizer refuses the rest.
inline void openShellDb(ShellContext* p, Budget* pBudget) {
  p->eOpenMode = OpenMode::Deserialize;
  p->pConn->zFilename = nullptr;
  openDatabase(p, 0);
  if (p->db == nullptr) fail("fuzz", "openDatabase gave no connection");
  static const char* azKeep[] = {"generate_series", "completion", "json_each",
                                 "json_tree",       "dbstat",     nullptr};
  sqlite3_drop_modules(p->db, azKeep);
  sqlite3_enable_load_extension(p->db, 0);
  bound(p->db, pBudget);
}

// Copies the pristine record into *p (fixing its one inner pointer).
inline void resetContext(ShellContext* p) {
  std::memcpy(static_cast<void*>(p), &pristineContext(), sizeof(*p));
  p->pConn = &p->aConn[0];
  bBailOnError = 0;
  nInterrupts = 0;
}

// Releases what a run may have left in the record (not the shared output).
inline void releaseContext(ShellContext* p, FILE* pOutKeep) {
  if (p->pOut != pOutKeep && p->pOut != nullptr && p->pOut != stdout) std::fclose(p->pOut);
  p->pOut = pOutKeep;
  if (p->db) sqlite3_close(p->db);
  p->db = nullptr;
  std::free(p->zInsertTable);
  p->zInsertTable = nullptr;
  std::free(p->aColWidth);
  p->aColWidth = nullptr;
  p->aWidthNow = nullptr;
  p->nColWidth = 0;
  clearExplainIndent(p);
  planClear(p);
  sqlite3_free(p->zTmpFile);
  p->zTmpFile = nullptr;
  std::free(p->zSafeNonce);
  p->zSafeNonce = nullptr;
}

}  // namespace fuzzshell
