// The names Tab completion proposes, read from the engine's catalog of every
// attached schema: tables, views and indexes, the columns of each (read when
// first asked for), and the table-valued functions.  The catalog is kept
// between presses of Tab and read again only when a schema changed (its
// schema version), a database was attached or detached, or a database was
// opened since (the caller's count of opened databases).
#pragma once

#include <sqlite3.h>

#include <string>
#include <string_view>
#include <vector>

struct ShellContext;

enum class CatalogKind { Table, View, Index, TableFunction };

struct CatalogObject {
  std::string zName;
  CatalogKind eKind = CatalogKind::Table;
  int iSchema = -1;  // the schema's place in SchemaCatalog::aSchemas, -1 for a function
  bool bColumnsRead = false;
  std::vector<std::string> azColumns;
  std::string zSql;  // a table's CREATE statement, from which its columns are read
};

struct CatalogSchema {
  std::string zName;
  std::string zFile;
  int iVersion = 0;
  std::vector<CatalogObject> aObjects;
};

struct SchemaCatalog {
  sqlite3* db = nullptr;
  unsigned nOpened = 0;
  std::vector<CatalogSchema> aSchemas;    // in the engine's order: main, temp, then attached
  std::vector<CatalogObject> aFunctions;  // table-valued functions
  bool bAllColumnsRead = false;
  std::vector<std::string> azAllColumns;  // every column of every table and view, sorted
};

// The catalog of db.  p, when given, is the session the connection belongs
// to: its hooks (trace, progress, authorizer, log) stay quiet while the
// catalog is read, so that completion has no effect a user can see.
// nOpened is the number of databases the session has opened so far.
SchemaCatalog& schemaCatalog(sqlite3* db, ShellContext* p, unsigned nOpened);

// The object named zName (case does not matter), in zSchema when that is
// not empty, else in the first schema that has it (temp, main, then the
// attached ones, as the engine looks them up), else among the table-valued
// functions.  Null when there is none.
CatalogObject* findCatalogObject(SchemaCatalog& catalog, std::string_view zSchema,
                                 std::string_view zName);
CatalogSchema* findCatalogSchema(SchemaCatalog& catalog, std::string_view zName);

// The columns of the object (read on first use; none for an index).
const std::vector<std::string>& catalogColumns(SchemaCatalog& catalog, ShellContext* p,
                                               CatalogObject& object);
// Every column of every table and view.
const std::vector<std::string>& allCatalogColumns(SchemaCatalog& catalog, ShellContext* p);
