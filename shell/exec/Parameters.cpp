// Binding the shell's named parameters before a statement runs, and the table
// that holds their values.
//
// Every statement with parameters looks its names up in
// temp.sqlite_parameters.  Looking a name up costs a read transaction on the
// temporary schema, as much as running a small statement, so the values found
// are remembered: a remembered value is used while the connection is outside
// a transaction and its temporary schema's data version has not moved since
// the value was read.  Any committed change there (a row of the table, the
// table dropped or created) moves the data version; inside a transaction,
// where uncommitted changes do not, every name is looked up afresh.
#include "shell/exec/Parameters.h"

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "shell/core/OpenDatabase.h"
#include "shell/core/ShellContext.h"

namespace {

// The value lookup, prepared once and reset after each use.  It belongs to
// one connection; a statement of another connection prepares it again there.
sqlite3_stmt* pLookup = nullptr;

// A copy of a value, owned.
struct ValueFree {
  void operator()(sqlite3_value* pValue) const { sqlite3_value_free(pValue); }
};
using ValuePtr = std::unique_ptr<sqlite3_value, ValueFree>;

// Remembered values by parameter name; a null value binds NULL.  The copies
// are owned, so that an exit at any point (out of memory) frees them too.
struct ValueCache {
  sqlite3* db = nullptr;  // the connection the values were read on
  unsigned iDataVersion = 0;
  bool bValid = false;
  std::map<std::string, ValuePtr, std::less<>> aValue;
};
ValueCache cache;

// A script may use any number of distinct names; past this many the cache
// starts over.
constexpr size_t maxCachedNames = 4096;

void clearCache() {
  cache.aValue.clear();
  cache.bValid = false;
  cache.db = nullptr;
}

sqlite3_stmt* lookupFor(sqlite3* db) {
  if (pLookup != nullptr && sqlite3_db_handle(pLookup) == db) return pLookup;
  if (pLookup != nullptr) {
    sqlite3_finalize(pLookup);
    pLookup = nullptr;
  }
  const int rc = sqlite3_prepare_v3(db, "SELECT value FROM temp.sqlite_parameters WHERE key=?1", -1,
                                    SQLITE_PREPARE_PERSISTENT, &pLookup, nullptr);
  // Out of memory must not look like a parameter without a value.
  if (rc == SQLITE_NOMEM) exitOutOfMemory();
  if (rc != SQLITE_OK) {
    sqlite3_finalize(pLookup);
    pLookup = nullptr;
    return nullptr;
  }
  setBeforeCloseHook(releaseParameterLookup);
  return pLookup;
}

// The data version of db's temporary schema, when remembered values may be
// used: outside a transaction, with the temporary schema open.
bool cacheableVersion(sqlite3* db, unsigned* piVersion) {
  if (!sqlite3_get_autocommit(db)) return false;
  return sqlite3_file_control(db, "temp", SQLITE_FCNTL_DATA_VERSION, piVersion) == SQLITE_OK;
}

}  // namespace

void releaseParameterLookup(sqlite3* db) {
  if (db == nullptr || cache.db == db) clearCache();
  if (pLookup == nullptr) return;
  if (db != nullptr && sqlite3_db_handle(pLookup) != db) return;
  sqlite3_finalize(pLookup);
  pLookup = nullptr;
}

void createParameterTable(ShellContext* p) {
  int bDefensive = 0;
  int bWritableSchema = 0;
  sqlite3_db_config(p->db, SQLITE_DBCONFIG_DEFENSIVE, -1, &bDefensive);
  sqlite3_db_config(p->db, SQLITE_DBCONFIG_DEFENSIVE, 0, nullptr);
  sqlite3_db_config(p->db, SQLITE_DBCONFIG_WRITABLE_SCHEMA, -1, &bWritableSchema);
  sqlite3_db_config(p->db, SQLITE_DBCONFIG_WRITABLE_SCHEMA, 1, nullptr);
  sqlite3_exec(p->db,
               "CREATE TABLE IF NOT EXISTS temp.sqlite_parameters(\n"
               "  key TEXT PRIMARY KEY,\n"
               "  value\n"
               ") WITHOUT ROWID;",
               nullptr, nullptr, nullptr);
  sqlite3_db_config(p->db, SQLITE_DBCONFIG_WRITABLE_SCHEMA, bWritableSchema, nullptr);
  sqlite3_db_config(p->db, SQLITE_DBCONFIG_DEFENSIVE, bDefensive, nullptr);
}

void bindParameters(ShellContext* /*p*/, sqlite3_stmt* pStmt) {
  const int nVar = sqlite3_bind_parameter_count(pStmt);
  if (nVar == 0) return;
  // The values come from the statement's own connection.
  sqlite3* db = sqlite3_db_handle(pStmt);

  unsigned iVersion = 0;
  const bool bCacheable = cacheableVersion(db, &iVersion);
  if (!(bCacheable && cache.bValid && cache.db == db && cache.iDataVersion == iVersion)) {
    // Nothing remembered applies: the table must exist to be read.
    const int rc = sqlite3_table_column_metadata(db, "TEMP", "sqlite_parameters", "key", nullptr,
                                                 nullptr, nullptr, nullptr, nullptr);
    if (rc == SQLITE_NOMEM) exitOutOfMemory();
    if (rc != SQLITE_OK) return;
    if (bCacheable) {
      clearCache();
      cache.db = db;
      cache.iDataVersion = iVersion;
      cache.bValid = true;
    }
  }

  for (int i = 1; i <= nVar; i++) {
    char zNum[30];
    const char* zVar = sqlite3_bind_parameter_name(pStmt, i);
    if (zVar == nullptr) {
      sqlite3_snprintf(static_cast<int>(sizeof(zNum)), zNum, "?%d", i);
      zVar = zNum;
    }
    if (bCacheable) {
      auto it = cache.aValue.find(std::string_view(zVar));
      if (it != cache.aValue.end()) {
        if (it->second != nullptr) {
          if (sqlite3_bind_value(pStmt, i, it->second.get()) == SQLITE_NOMEM) exitOutOfMemory();
        } else {
          sqlite3_bind_null(pStmt, i);
        }
        continue;
      }
    }
    sqlite3_stmt* pQ = lookupFor(db);
    if (pQ == nullptr) return;
    sqlite3_bind_text(pQ, 1, zVar, -1, SQLITE_STATIC);
    sqlite3_value* pValue = nullptr;
    const int rcStep = sqlite3_step(pQ);
    if (rcStep == SQLITE_NOMEM) exitOutOfMemory();
    if (rcStep == SQLITE_ROW) pValue = sqlite3_column_value(pQ, 0);
    if (pValue != nullptr) {
      if (sqlite3_bind_value(pStmt, i, pValue) == SQLITE_NOMEM) exitOutOfMemory();
    } else {
      sqlite3_bind_null(pStmt, i);
    }
    if (bCacheable) {
      if (cache.aValue.size() >= maxCachedNames) cache.aValue.clear();
      ValuePtr pCopy(pValue != nullptr ? checkAlloc(sqlite3_value_dup(pValue)) : nullptr);
      cache.aValue.emplace(zVar, std::move(pCopy));
    }
    sqlite3_reset(pQ);
    // The key text is ours: the lookup must not keep pointing at it.
    sqlite3_bind_null(pQ, 1);
  }
}
