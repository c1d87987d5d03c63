// Safe mode against any schema: the functions that reach files, programs or loadable code
// (readfile, writefile, edit, load_extension, fsdir) are refused at the moment they are called,
// wherever the call comes from.  The engine does not ask the authorizer about expressions of
// the schema, so a CHECK constraint, a DEFAULT clause, a generated column or an index of an
// untrusted database file would otherwise run them.
//
// The matrix: each place a call can sit (a trigger, a view, a CHECK constraint, a DEFAULT
// clause, a stored or virtual generated column, an expression index, a partial index, a
// statement parameter, sha3_query, the selftest table, top-level SQL) times the commands that
// evaluate it (INSERT, UPDATE, SELECT, .dump, .selftest, .sha3sum, PRAGMA integrity_check).
// For each pair, a run without safe mode first tells whether the command evaluates the place
// at all (a writefile call there leaves its canary file); then every function runs there in
// safe mode.  Each safe run leaves no canary, runs no program and shows no byte of the secret
// file; where the place is evaluated it ends with status 1 and the refusal (the shell's, or
// the engine's own refusal of the statement).
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

#include "ext/fileio/Fileio.h"
#include "tests/unit/shell_process.h"

namespace {

using shell_process::Result;
using shell_process::TempDir;

const char* const zSecret = "T0P-SECRET-BYTES";

enum class Place {
  TopLevel,
  Trigger,
  View,
  Check,
  Default,
  StoredColumn,
  VirtualColumn,
  ExpressionIndex,
  PartialIndex,
  Parameter,
  Sha3Query,
  SelftestTable,
  AlterTableAddColumn,  // typed in the safe session itself
  WritableSchema,       // typed in the safe session itself
};

const char* placeName(Place e) {
  switch (e) {
    case Place::TopLevel:
      return "top_level";
    case Place::Trigger:
      return "trigger";
    case Place::View:
      return "view";
    case Place::Check:
      return "check";
    case Place::Default:
      return "default";
    case Place::StoredColumn:
      return "stored_column";
    case Place::VirtualColumn:
      return "virtual_column";
    case Place::ExpressionIndex:
      return "expression_index";
    case Place::PartialIndex:
      return "partial_index";
    case Place::Parameter:
      return "parameter";
    case Place::Sha3Query:
      return "sha3_query";
    case Place::SelftestTable:
      return "selftest_table";
    case Place::AlterTableAddColumn:
      return "alter_table";
    case Place::WritableSchema:
      return "writable_schema";
  }
  return "";
}

struct Function {
  const char* zName;
  const char* zCall;  // an expression that calls it
  bool bScalar;       // usable inside schema expressions (fsdir is a table)
};

const Function aFunctions[] = {
    {"writefile", "writefile('canary', 'x')", true},
    {"readfile", "readfile('secret.txt')", true},
    {"edit", "edit('x', 'touch ran')", true},
    {"load_extension", "load_extension('./libevil')", true},
    {"fsdir", "(SELECT group_concat(data) FROM fsdir('secret.txt'))", false},
};

// Doubles the single quotes of zText, for a literal inside SQL.
std::string quoted(const std::string& zText) {
  std::string z;
  for (char c : zText) {
    z += c;
    if (c == '\'') z += '\'';
  }
  return z;
}

// The schema that puts zCall at the place, in a table t with one row; "" for places that are
// not in a schema.
std::string schemaFor(Place e, const std::string& zCall) {
  const std::string zUse = "coalesce(" + zCall + ", a)";
  switch (e) {
    case Place::Trigger:
      return "CREATE TABLE t(a); INSERT INTO t VALUES(1);"
             "CREATE TRIGGER tr_i AFTER INSERT ON t BEGIN SELECT " +
             zCall +
             "; END;"
             "CREATE TRIGGER tr_u AFTER UPDATE ON t BEGIN SELECT " +
             zCall + "; END;";
    case Place::View:
      return "CREATE TABLE t(a); INSERT INTO t VALUES(1); CREATE VIEW v AS SELECT " + zCall +
             " AS x FROM t;";
    case Place::Check:
      return "CREATE TABLE t(a CHECK(" + zUse + " IS NOT NULL)); INSERT INTO t VALUES(1);";
    case Place::Default:
      return "CREATE TABLE t(a, b DEFAULT (" + zCall + ")); INSERT INTO t VALUES(1, 2);";
    case Place::StoredColumn:
      return "CREATE TABLE t(a, b AS (" + zUse + ") STORED); INSERT INTO t(a) VALUES(1);";
    case Place::VirtualColumn:
      return "CREATE TABLE t(a, b AS (" + zUse + ") VIRTUAL); INSERT INTO t(a) VALUES(1);";
    case Place::ExpressionIndex:
      return "CREATE TABLE t(a); INSERT INTO t VALUES(1); CREATE INDEX ix ON t(" + zUse + ");";
    case Place::PartialIndex:
      return "CREATE TABLE t(a); INSERT INTO t VALUES(1); CREATE INDEX ix ON t(a) WHERE " + zUse +
             " IS NOT NULL;";
    case Place::SelftestTable:
      return "CREATE TABLE t(a); INSERT INTO t VALUES(1);"
             "CREATE TABLE selftest(tno INTEGER PRIMARY KEY, op TEXT, cmd TEXT, ans TEXT);"
             "INSERT INTO selftest VALUES(1, 'run', 'SELECT " +
             quoted(zCall) + "', '');";
    default:
      return "CREATE TABLE t(a); INSERT INTO t VALUES(1);";
  }
}

// Stand-ins for the scalar functions while the untrusted database is built: deterministic, so
// that the engine takes them in generated columns and indexes, and harmless.  fsdir is the
// real one (a view over it is checked when it is created; it is never read here).
void standIn(sqlite3_context* pCtx, int, sqlite3_value**) {
  sqlite3_result_null(pCtx);
}

void makeDatabase(const std::string& zPath, const std::string& zSchema) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(zPath.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(fileioRegister(db), SQLITE_OK);
  for (const char* zName : {"readfile", "writefile", "edit", "load_extension"}) {
    for (int nArg : {-1, 1, 2}) {
      sqlite3_create_function(db, zName, nArg, SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr, standIn,
                              nullptr, nullptr);
    }
  }
  char* zErr = nullptr;
  EXPECT_EQ(sqlite3_exec(db, zSchema.c_str(), nullptr, nullptr, &zErr), SQLITE_OK)
      << zSchema << ": " << zErr;
  sqlite3_free(zErr);
  sqlite3_close(db);
}

// The input that makes a command evaluate the place.
std::string inputFor(Place e, const std::string& zCommand, const std::string& zCall) {
  switch (e) {
    case Place::TopLevel:
      return zCommand == "SELECT"   ? "SELECT " + zCall + ";\n"
             : zCommand == "INSERT" ? "INSERT INTO t VALUES(" + zCall + ");\n"
                                    : "UPDATE t SET a = " + zCall + ";\n";
    case Place::Parameter:
      return ".parameter set :p \"" + zCall + "\"\nSELECT :p;\n";
    case Place::Sha3Query:
      return "SELECT sha3_query('SELECT " + quoted(zCall) + "');\n";
    case Place::AlterTableAddColumn:
      return "ALTER TABLE t ADD COLUMN c CHECK(coalesce(" + zCall + ", a) IS NOT NULL);\n";
    case Place::WritableSchema:
      return "PRAGMA writable_schema = ON;\n"
             "UPDATE sqlite_schema SET sql = 'CREATE TABLE t(a CHECK(coalesce(" +
             quoted(zCall) +
             ", 1) IS NOT NULL))' WHERE name = 't';\n"
             "PRAGMA writable_schema = OFF;\nPRAGMA schema_version = 1000;\n"
             "INSERT INTO t VALUES(2);\n";
    default:
      break;
  }
  if (zCommand == "INSERT") return "INSERT INTO t(a) VALUES(2);\n";
  if (zCommand == "UPDATE") return "UPDATE t SET a = 3;\n";
  if (zCommand == "SELECT") return e == Place::View ? "SELECT * FROM v;\n" : "SELECT * FROM t;\n";
  return zCommand + "\n";  // a dot-command or a pragma
}

struct Pair {
  Place ePlace;
  std::string zCommand;
};

std::vector<Pair> pairs() {
  std::vector<Pair> a;
  for (const char* z : {"SELECT", "INSERT", "UPDATE"}) a.push_back({Place::TopLevel, z});
  for (Place e :
       {Place::Parameter, Place::Sha3Query, Place::AlterTableAddColumn, Place::WritableSchema}) {
    a.push_back({e, "typed"});
  }
  a.push_back({Place::SelftestTable, ".selftest"});
  for (Place e : {Place::Trigger, Place::View, Place::Check, Place::Default, Place::StoredColumn,
                  Place::VirtualColumn, Place::ExpressionIndex, Place::PartialIndex}) {
    for (const char* z : {"INSERT", "UPDATE", "SELECT", ".dump", ".selftest", ".sha3sum",
                          "PRAGMA integrity_check;"}) {
      a.push_back({e, z});
    }
  }
  return a;
}

bool isSchemaPlace(Place e) {
  return e != Place::TopLevel && e != Place::Parameter && e != Place::Sha3Query;
}

// Whether a place can hold a table-valued function (a subquery).
bool takesSubquery(Place e) {
  return e == Place::TopLevel || e == Place::Trigger || e == Place::View || e == Place::Parameter ||
         e == Place::Sha3Query || e == Place::SelftestTable;
}

struct SafeRun {
  Result res;
  bool bCanary = false;
  bool bRan = false;
};

SafeRun runAt(const Pair& pair, const Function& f, bool bSafe) {
  SafeRun run;
  TempDir work;
  TempDir scratch;
  shell_process::writeFile(work / "secret.txt", zSecret);
  const std::string zDb = work / "untrusted.db";
  if (isSchemaPlace(pair.ePlace) || pair.ePlace == Place::TopLevel) {
    makeDatabase(zDb, schemaFor(pair.ePlace, f.zCall));
  }
  std::vector<std::string> azArgs;
  if (bSafe) azArgs.push_back("-safe");
  azArgs.push_back(pair.ePlace == Place::Parameter || pair.ePlace == Place::Sha3Query
                       ? ":memory:"
                       : "untrusted.db");
  run.res = shell_process::runShell(azArgs, inputFor(pair.ePlace, pair.zCommand, f.zCall),
                                    work.path(), scratch.path(), {"VISUAL=touch ran"});
  run.bCanary = std::filesystem::exists(work / "canary");
  run.bRan = std::filesystem::exists(work / "ran");
  return run;
}

bool refused(const std::string& zErr, const std::string& zName) {
  return zErr.find("cannot use the " + zName + "() function in safe mode\n") != std::string::npos ||
         zErr.find("unsafe use of") != std::string::npos ||
         zErr.find("prohibited") != std::string::npos;
}

std::string pairName(const testing::TestParamInfo<Pair>& info) {
  std::string z = std::string(placeName(info.param.ePlace)) + "_";
  for (char c : info.param.zCommand) z += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return z;
}

void PrintTo(const Pair& pair, std::ostream* os) {
  *os << placeName(pair.ePlace) << " / " << pair.zCommand;
}

class SafeModeSchema : public testing::TestWithParam<Pair> {};

TEST_P(SafeModeSchema, EveryCallIsRefusedWhereverItComesFrom) {
  if (shell_process::shellPath().empty()) GTEST_SKIP() << "sqlsh has not been built";
  const Pair& pair = GetParam();
  // The witness: without safe mode, does this command evaluate the place?
  const SafeRun witness = runAt(pair, aFunctions[0], false);
  const bool bEvaluated = witness.bCanary;
  if (pair.ePlace == Place::TopLevel || pair.ePlace == Place::Parameter ||
      pair.ePlace == Place::Sha3Query || pair.ePlace == Place::AlterTableAddColumn ||
      pair.ePlace == Place::WritableSchema || pair.ePlace == Place::SelftestTable) {
    EXPECT_TRUE(bEvaluated) << "the fixture does not reach the function: " << witness.res.zErr;
  }
  for (const Function& f : aFunctions) {
    if (!f.bScalar && !takesSubquery(pair.ePlace)) continue;
    SCOPED_TRACE(f.zName);
    const SafeRun run = runAt(pair, f, true);
    EXPECT_TRUE(run.res.bExited);
    EXPECT_FALSE(run.bCanary) << "a file was written";
    EXPECT_FALSE(run.bRan) << "a program ran";
    EXPECT_EQ(run.res.zOut.find(zSecret), std::string::npos) << run.res.zOut;
    EXPECT_EQ(run.res.zErr.find(zSecret), std::string::npos) << run.res.zErr;
    if (bEvaluated) {
      EXPECT_EQ(run.res.iStatus, 1) << run.res.zErr;
      EXPECT_TRUE(refused(run.res.zErr, f.zName)) << run.res.zErr;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Matrix, SafeModeSchema, testing::ValuesIn(pairs()), pairName);

}  // namespace
