// Safe mode's refusal, the authorizer that enforces it and the tracing
// authorizer of `.auth on`.
#include "shell/core/SafeMode.h"

#include <sqlite3.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

#include "shell/core/Output.h"
#include "shell/core/ShellContext.h"

namespace {

// SQL functions that reach outside the database, refused by name in any case.
constexpr const char* safeModeDeniedFunctions[] = {
    "edit", "fts3_tokenizer", "load_extension", "readfile", "writefile", "zipfile", "zipfile_cds",
};

// Table-valued functions that read the file system.  They reach the
// authorizer as reads of a table, not as function calls.
constexpr const char* safeModeDeniedTables[] = {"fsdir"};

// Pragmas whose setting points the engine at a directory of the file system (where it writes
// its temporary files); reading them stays allowed.
constexpr const char* safeModeDeniedPragmaSettings[] = {"temp_store_directory",
                                                        "data_store_directory"};

// The authorizer action codes 1 to 33 by their published names.
constexpr const char* authActionNames[] = {
    "",  // 0 has no name
    "CREATE_INDEX",
    "CREATE_TABLE",
    "CREATE_TEMP_INDEX",
    "CREATE_TEMP_TABLE",
    "CREATE_TEMP_TRIGGER",
    "CREATE_TEMP_VIEW",
    "CREATE_TRIGGER",
    "CREATE_VIEW",
    "DELETE",
    "DROP_INDEX",
    "DROP_TABLE",
    "DROP_TEMP_INDEX",
    "DROP_TEMP_TABLE",
    "DROP_TEMP_TRIGGER",
    "DROP_TEMP_VIEW",
    "DROP_TRIGGER",
    "DROP_VIEW",
    "INSERT",
    "PRAGMA",
    "READ",
    "SELECT",
    "TRANSACTION",
    "UPDATE",
    "ATTACH",
    "DETACH",
    "ALTER_TABLE",
    "REINDEX",
    "ANALYZE",
    "CREATE_VTABLE",
    "DROP_VTABLE",
    "FUNCTION",
    "SAVEPOINT",
    "RECURSIVE",
};
static_assert(sizeof(authActionNames) / sizeof(authActionNames[0]) == 34);

// The connection on which `.auth on` installed the tracer, if any.  Only
// compared, never used: a connection opened later at the same address is
// told apart by AuthChoice::Fresh.
sqlite3* dbTraced = nullptr;

}  // namespace

void rejectInSafeMode(ShellContext* p, const char* zFormat, ...) {
  if (!p->bSafeActive) return;
  va_list ap;
  va_start(ap, zFormat);
  char* zMsg = sqlite3_vmprintf(zFormat, ap);
  va_end(ap);
  printRaw(stderr, "line %d: ", p->iLineNo);
  printConsole(stderr, "%s\n", zMsg ? zMsg : "");
  std::fflush(stderr);
  std::exit(1);
}

int safeModeAuthorizer(void* pCtx, int eAction, const char* zA1, const char* zA2, const char* zA3,
                       const char* zA4) {
  (void)zA3;
  (void)zA4;
  auto* p = static_cast<ShellContext*>(pCtx);
  // Tab completion reads the catalog (names only; it calls no function).
  if (p->bReadingCatalog) return SQLITE_OK;
  switch (eAction) {
    case SQLITE_ATTACH:
      rejectInSafeMode(p, "cannot run ATTACH in safe mode");
      break;
    case SQLITE_FUNCTION:
      for (const char* zName : safeModeDeniedFunctions) {
        if (zA2 != nullptr && sqlite3_stricmp(zA2, zName) == 0) {
          rejectInSafeMode(p, "cannot use the %s() function in safe mode", zName);
        }
      }
      break;
    case SQLITE_PRAGMA:
      for (const char* zName : safeModeDeniedPragmaSettings) {
        if (zA1 != nullptr && zA2 != nullptr && sqlite3_stricmp(zA1, zName) == 0) {
          rejectInSafeMode(p, "cannot set PRAGMA %s in safe mode", zName);
        }
      }
      break;
    case SQLITE_READ:
      for (const char* zName : safeModeDeniedTables) {
        if (zA1 != nullptr && sqlite3_stricmp(zA1, zName) == 0) {
          rejectInSafeMode(p, "cannot use the %s() function in safe mode", zName);
        }
      }
      break;
    default:
      break;
  }
  return SQLITE_OK;
}

int allowOutsideReach(void* pCtx, const char* zFunction) {
  rejectInSafeMode(static_cast<ShellContext*>(pCtx), "cannot use the %s() function in safe mode",
                   zFunction);
  return 1;
}

const char* authActionName(int eAction) {
  constexpr int nNames = static_cast<int>(sizeof(authActionNames) / sizeof(authActionNames[0]));
  return (eAction >= 0 && eAction < nNames) ? authActionNames[eAction] : "";
}

int traceAuthorizer(void* pCtx, int eAction, const char* zA1, const char* zA2, const char* zA3,
                    const char* zA4) {
  auto* p = static_cast<ShellContext*>(pCtx);
  if (p->bReadingCatalog) return SQLITE_OK;
  FILE* out = p->pOut;
  printConsole(out, "authorizer: %s", authActionName(eAction));
  for (const char* zArg : {zA1, zA2, zA3, zA4}) {
    std::fputc(' ', out);
    if (zArg != nullptr) {
      writeCString(out, zArg);
    } else {
      std::fputs("NULL", out);
    }
  }
  std::fputc('\n', out);
  if (p->bSafeActive) safeModeAuthorizer(pCtx, eAction, zA1, zA2, zA3, zA4);
  return SQLITE_OK;
}

void installAuthorizer(ShellContext* p, AuthChoice eChoice) {
  sqlite3* db = p->db;
  if (db == nullptr) return;
  switch (eChoice) {
    case AuthChoice::Trace:
      dbTraced = db;
      sqlite3_set_authorizer(db, traceAuthorizer, p);
      return;
    case AuthChoice::Plain:
      if (dbTraced == db) dbTraced = nullptr;
      if (p->bSafePersistent) {
        sqlite3_set_authorizer(db, safeModeAuthorizer, p);
      } else {
        sqlite3_set_authorizer(db, nullptr, nullptr);
      }
      return;
    case AuthChoice::Fresh:
      if (dbTraced == db) dbTraced = nullptr;
      break;
    case AuthChoice::Keep:
      break;
  }
  if (!p->bSafePersistent) return;
  // The two-argument fts3_tokenizer() installs a tokenizer from a raw pointer, and the engine
  // does not ask the authorizer about a call inside a CHECK constraint: in safe mode it stays
  // off (set again here, so that a command lifted by the nonce turns it on for itself only).
  sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_FTS3_TOKENIZER, 0, nullptr);
  if (dbTraced == db) {
    sqlite3_set_authorizer(db, traceAuthorizer, p);
  } else {
    sqlite3_set_authorizer(db, safeModeAuthorizer, p);
  }
}
