// Reading the catalog for Tab completion.  Each press of Tab costs one look
// at the list of databases and their schema versions; the names themselves
// are read when those change, and a table's columns when first asked for.
// Only the catalog is read: no statement of the user's runs, and the views
// whose columns are asked for are compiled, not run.
#include "shell/app/SchemaCatalog.h"

#include <algorithm>
#include <cstring>
#include <tuple>

#include "shell/app/StatementReader.h"
#include "shell/core/ShellContext.h"

namespace {

// Keeps the session's hooks quiet while the catalog is read.
struct QuietHooks {
  ShellContext* p;
  unsigned char bSaved = 0;
  explicit QuietHooks(ShellContext* pShell) : p(pShell) {
    if (p == nullptr) return;
    bSaved = p->bReadingCatalog;
    p->bReadingCatalog = 1;
  }
  QuietHooks(const QuietHooks&) = delete;
  QuietHooks& operator=(const QuietHooks&) = delete;
  ~QuietHooks() {
    if (p != nullptr) p->bReadingCatalog = bSaved;
  }
};

const char* columnText(sqlite3_stmt* pStmt, int i) {
  const auto* z = reinterpret_cast<const char*>(sqlite3_column_text(pStmt, i));
  return z == nullptr ? "" : z;
}

// Each database: its name, its file and its schema version.
using SchemaStamp = std::vector<std::tuple<std::string, std::string, int>>;

SchemaStamp readStamp(sqlite3* db) {
  SchemaStamp stamp;
  StmtPtr pList = prepareStmt(db, "PRAGMA database_list");
  if (!pList) return stamp;
  while (sqlite3_step(pList.get()) == SQLITE_ROW) {
    stamp.emplace_back(columnText(pList.get(), 1), columnText(pList.get(), 2), 0);
  }
  for (auto& [zName, zFile, iVersion] : stamp) {
    SqlitePtr zSql(sqlite3_mprintf("PRAGMA \"%w\".schema_version", zName.c_str()));
    StmtPtr pVersion = zSql ? prepareStmt(db, zSql.get()) : StmtPtr();
    iVersion = pVersion && sqlite3_step(pVersion.get()) == SQLITE_ROW
                   ? sqlite3_column_int(pVersion.get(), 0)
                   : -1;
  }
  return stamp;
}

bool sameStamp(const SchemaCatalog& catalog, const SchemaStamp& stamp) {
  if (catalog.aSchemas.size() != stamp.size()) return false;
  for (size_t i = 0; i < stamp.size(); i++) {
    const CatalogSchema& schema = catalog.aSchemas[i];
    if (schema.zName != std::get<0>(stamp[i]) || schema.zFile != std::get<1>(stamp[i]) ||
        schema.iVersion != std::get<2>(stamp[i])) {
      return false;
    }
  }
  return true;
}

void readObjects(sqlite3* db, CatalogSchema* pSchema, int iSchema) {
  SqlitePtr zSql(sqlite3_mprintf(
      "SELECT type, name, sql FROM \"%w\".sqlite_schema WHERE type IN ('table','view','index')",
      pSchema->zName.c_str()));
  StmtPtr pStmt = zSql ? prepareStmt(db, zSql.get()) : StmtPtr();
  auto add = [&](const char* zName, CatalogKind eKind, const char* zCreate = "") {
    CatalogObject object;
    object.zName = zName;
    object.eKind = eKind;
    object.iSchema = iSchema;
    if (eKind == CatalogKind::Table) object.zSql = zCreate;
    pSchema->aObjects.push_back(std::move(object));
  };
  // The catalog itself can be read like a table.
  add(pSchema->zName == "temp" ? "sqlite_temp_schema" : "sqlite_schema", CatalogKind::Table);
  while (pStmt && sqlite3_step(pStmt.get()) == SQLITE_ROW) {
    const char* zType = columnText(pStmt.get(), 0);
    const char* zName = columnText(pStmt.get(), 1);
    if (zName[0] == 0) continue;
    add(zName,
        std::strcmp(zType, "view") == 0    ? CatalogKind::View
        : std::strcmp(zType, "index") == 0 ? CatalogKind::Index
                                           : CatalogKind::Table,
        columnText(pStmt.get(), 2));
  }
}

// Reads the columns of tables, views and table-valued functions (their
// hidden argument columns left out), through one statement.
struct ColumnReader {
  StmtPtr pStmt;
  explicit ColumnReader(sqlite3* db)
      : pStmt(prepareStmt(db, "SELECT name, hidden FROM pragma_table_xinfo(?1, ?2)")) {}
  // False when the name is no table, view or table-valued function.
  bool read(const char* zSchema, const std::string& zName, std::vector<std::string>* pazColumns) {
    if (!pStmt) return false;
    sqlite3_reset(pStmt.get());
    sqlite3_bind_text(pStmt.get(), 1, zName.c_str(), -1, SQLITE_STATIC);
    if (zSchema != nullptr) {
      sqlite3_bind_text(pStmt.get(), 2, zSchema, -1, SQLITE_STATIC);
    } else {
      sqlite3_bind_null(pStmt.get(), 2);
    }
    bool bAny = false;
    while (sqlite3_step(pStmt.get()) == SQLITE_ROW) {
      bAny = true;
      if (sqlite3_column_int(pStmt.get(), 1) == 1) continue;
      pazColumns->emplace_back(columnText(pStmt.get(), 0));
    }
    sqlite3_reset(pStmt.get());
    return bAny;
  }
};

// The columns of an ordinary table, read off its CREATE TABLE statement
// (much faster than asking the engine table by table); false for what this
// reading does not cover (a virtual table, an unexpected shape), which the
// engine is then asked about.
bool columnsFromCreate(const std::string& zCreate, std::vector<std::string>* pazColumns) {
  const std::vector<SqlToken> aTokens = tokenizeSql(zCreate);
  auto isWord = [&](size_t i, const char* zWord) {
    return i < aTokens.size() && aTokens[i].eKind == SqlTokenKind::Word &&
           sqlite3_stricmp(aTokens[i].zName.c_str(), zWord) == 0;
  };
  auto isPunct = [&](size_t i, char c) {
    return i < aTokens.size() && aTokens[i].eKind == SqlTokenKind::Punct &&
           aTokens[i].zName[0] == c;
  };
  if (!isWord(0, "CREATE")) return false;
  size_t i = 1;
  while (i < aTokens.size() && !isPunct(i, '(')) {
    if (isWord(i, "VIRTUAL") || isWord(i, "AS")) return false;
    i++;
  }
  std::vector<std::string> azColumns;
  int nDepth = 0;
  bool bElementStart = true;
  for (; i < aTokens.size(); i++) {
    if (isPunct(i, '(')) {
      nDepth++;
      if (nDepth == 1) bElementStart = true;
      continue;
    }
    if (isPunct(i, ')')) {
      if (--nDepth == 0) break;
      continue;
    }
    if (nDepth != 1) continue;
    if (isPunct(i, ',')) {
      bElementStart = true;
      continue;
    }
    if (!bElementStart) continue;
    bElementStart = false;
    // A table constraint ends the columns; anything else begins with the column's name.
    if (isWord(i, "CONSTRAINT") || isWord(i, "PRIMARY") || isWord(i, "UNIQUE") ||
        isWord(i, "CHECK") || isWord(i, "FOREIGN")) {
      break;
    }
    const SqlToken& t = aTokens[i];
    if (t.eKind != SqlTokenKind::Word && t.eKind != SqlTokenKind::QuotedName &&
        t.eKind != SqlTokenKind::String) {
      return false;
    }
    azColumns.push_back(t.zName);
  }
  if (nDepth != 0 || azColumns.empty()) return false;
  *pazColumns = std::move(azColumns);
  return true;
}

void readFunctions(sqlite3* db, SchemaCatalog* pCatalog) {
  std::vector<std::string> azNames;
  for (const char* zList : {"SELECT name FROM pragma_module_list",
                            "SELECT 'pragma_' || name FROM pragma_pragma_list"}) {
    StmtPtr pStmt = prepareStmt(db, zList);
    while (pStmt && sqlite3_step(pStmt.get()) == SQLITE_ROW) {
      azNames.emplace_back(columnText(pStmt.get(), 0));
    }
  }
  std::sort(azNames.begin(), azNames.end());
  azNames.erase(std::unique(azNames.begin(), azNames.end()), azNames.end());
  ColumnReader reader(db);
  for (std::string& zName : azNames) {
    CatalogObject object;
    // Only a module the engine can use without CREATE VIRTUAL TABLE shows columns.
    if (!reader.read(nullptr, zName, &object.azColumns)) continue;
    object.zName = std::move(zName);
    object.eKind = CatalogKind::TableFunction;
    object.bColumnsRead = true;
    pCatalog->aFunctions.push_back(std::move(object));
  }
}

bool sameName(std::string_view zA, std::string_view zB) {
  return zA.size() == zB.size() &&
         sqlite3_strnicmp(zA.data(), zB.data(), static_cast<int>(zA.size())) == 0;
}

}  // namespace

SchemaCatalog& schemaCatalog(sqlite3* db, ShellContext* p, unsigned nOpened) {
  static SchemaCatalog catalog;
  if (db == nullptr) {
    catalog = SchemaCatalog();
    return catalog;
  }
  QuietHooks quiet(p);
  SchemaStamp stamp = readStamp(db);
  if (catalog.db == db && catalog.nOpened == nOpened && sameStamp(catalog, stamp)) return catalog;
  // The functions stay those of the connection unless it changed.
  const bool bSameConnection = catalog.db == db && catalog.nOpened == nOpened;
  std::vector<CatalogObject> aFunctions = std::move(catalog.aFunctions);
  catalog = SchemaCatalog();
  catalog.db = db;
  catalog.nOpened = nOpened;
  for (auto& [zName, zFile, iVersion] : stamp) {
    CatalogSchema schema;
    schema.zName = std::move(zName);
    schema.zFile = std::move(zFile);
    schema.iVersion = iVersion;
    readObjects(db, &schema, static_cast<int>(catalog.aSchemas.size()));
    catalog.aSchemas.push_back(std::move(schema));
  }
  if (bSameConnection) {
    catalog.aFunctions = std::move(aFunctions);
  } else {
    readFunctions(db, &catalog);
  }
  return catalog;
}

CatalogSchema* findCatalogSchema(SchemaCatalog& catalog, std::string_view zName) {
  for (CatalogSchema& schema : catalog.aSchemas) {
    if (sameName(schema.zName, zName)) return &schema;
  }
  return nullptr;
}

CatalogObject* findCatalogObject(SchemaCatalog& catalog, std::string_view zSchema,
                                 std::string_view zName) {
  auto findIn = [&](CatalogSchema& schema) -> CatalogObject* {
    for (CatalogObject& object : schema.aObjects) {
      if (object.eKind != CatalogKind::Index && sameName(object.zName, zName)) return &object;
    }
    return nullptr;
  };
  if (!zSchema.empty()) {
    CatalogSchema* pSchema = findCatalogSchema(catalog, zSchema);
    return pSchema == nullptr ? nullptr : findIn(*pSchema);
  }
  // The engine looks in temp first, then main, then the attached databases.
  std::vector<CatalogSchema*> aOrder;
  for (CatalogSchema& schema : catalog.aSchemas) {
    if (schema.zName == "temp")
      aOrder.insert(aOrder.begin(), &schema);
    else
      aOrder.push_back(&schema);
  }
  for (CatalogSchema* pSchema : aOrder) {
    if (CatalogObject* pFound = findIn(*pSchema)) return pFound;
  }
  for (CatalogObject& object : catalog.aFunctions) {
    if (sameName(object.zName, zName)) return &object;
  }
  return nullptr;
}

namespace {

void readObjectColumns(SchemaCatalog& catalog, ColumnReader& reader, CatalogObject& object) {
  if (object.bColumnsRead) return;
  object.bColumnsRead = true;
  if (object.eKind == CatalogKind::Index || object.iSchema < 0) return;
  if (!object.zSql.empty() && columnsFromCreate(object.zSql, &object.azColumns)) {
    object.zSql = std::string();
    return;
  }
  const CatalogSchema& schema = catalog.aSchemas[static_cast<size_t>(object.iSchema)];
  reader.read(schema.zName.c_str(), object.zName, &object.azColumns);
}

}  // namespace

const std::vector<std::string>& catalogColumns(SchemaCatalog& catalog, ShellContext* p,
                                               CatalogObject& object) {
  if (object.bColumnsRead || catalog.db == nullptr) return object.azColumns;
  QuietHooks quiet(p);
  ColumnReader reader(catalog.db);
  readObjectColumns(catalog, reader, object);
  return object.azColumns;
}

const std::vector<std::string>& allCatalogColumns(SchemaCatalog& catalog, ShellContext* p) {
  if (catalog.bAllColumnsRead) return catalog.azAllColumns;
  catalog.bAllColumnsRead = true;
  if (catalog.db == nullptr) return catalog.azAllColumns;
  QuietHooks quiet(p);
  ColumnReader reader(catalog.db);
  for (CatalogSchema& schema : catalog.aSchemas) {
    for (CatalogObject& object : schema.aObjects) {
      if (object.eKind == CatalogKind::Index) continue;
      readObjectColumns(catalog, reader, object);
      catalog.azAllColumns.insert(catalog.azAllColumns.end(), object.azColumns.begin(),
                                  object.azColumns.end());
    }
  }
  std::sort(catalog.azAllColumns.begin(), catalog.azAllColumns.end());
  catalog.azAllColumns.erase(std::unique(catalog.azAllColumns.begin(), catalog.azAllColumns.end()),
                             catalog.azAllColumns.end());
  return catalog.azAllColumns;
}
