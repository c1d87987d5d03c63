// completion() against independent oracles: the engine's keyword list, the
// databases it reports, and the schema read back table by table.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ext/completion/Completion.h"

namespace {

struct DbCloser {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
struct StmtFinalizer {
  void operator()(sqlite3_stmt* pStmt) const { sqlite3_finalize(pStmt); }
};
using DbPtr = std::unique_ptr<sqlite3, DbCloser>;
using StmtPtr = std::unique_ptr<sqlite3_stmt, StmtFinalizer>;

constexpr int phaseKeywords = 1;
constexpr int phaseDatabases = 7;
constexpr int phaseTables = 8;
constexpr int phaseColumns = 9;

struct Candidate {
  int64_t iRowid;
  std::string zWord;
  int iPhase;
};

using Words = std::vector<std::string>;

std::string lower(std::string z) {
  for (char& c : z) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return z;
}

bool matches(const std::string& zWord, const std::string& zPrefix) {
  return zWord.size() >= zPrefix.size() && lower(zWord.substr(0, zPrefix.size())) == lower(zPrefix);
}

Words filtered(const Words& aAll, const std::string& zPrefix) {
  Words aOut;
  for (const auto& z : aAll) {
    if (matches(z, zPrefix)) aOut.push_back(z);
  }
  return aOut;
}

Words sorted(Words a) {
  std::sort(a.begin(), a.end());
  return a;
}

// The fixture: names that begin with "sel" in several cases, a table named like
// a keyword, names that need quoting, a view, an index, a trigger, a temporary
// table and two attached databases (one with a name that needs quoting both as
// an identifier and as a literal).
constexpr const char* zFixture = R"sql(
CREATE TABLE sel_items(id INTEGER PRIMARY KEY, selected, Seller, price);
CREATE TABLE "Select"("select", other);
CREATE TABLE "sel""quote"("sel""col", "x y");
CREATE TABLE orders(order_id, sel_ref, price);
CREATE VIEW sel_view AS SELECT price AS view_price FROM orders;
CREATE INDEX sel_idx ON orders(sel_ref);
CREATE TRIGGER orders_trg AFTER INSERT ON orders BEGIN SELECT 1; END;
CREATE TEMP TABLE scratch(sel_tmp);
ATTACH ':memory:' AS aux;
CREATE TABLE aux.Selfie(a, SEL_B);
CREATE TABLE aux.orders(order_id, aux_only);
ATTACH ':memory:' AS "we""ird'db";
CREATE TABLE "we""ird'db".selection(sel_w);
)sql";

class CompletionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sqlite3* pDb = nullptr;
    ASSERT_EQ(sqlite3_open(":memory:", &pDb), SQLITE_OK);
    db.reset(pDb);
    ASSERT_EQ(completionRegister(db.get()), SQLITE_OK);
    exec(zFixture);
  }

  void exec(const char* zSql) {
    char* zErr = nullptr;
    int rc = sqlite3_exec(db.get(), zSql, nullptr, nullptr, &zErr);
    EXPECT_EQ(rc, SQLITE_OK) << (zErr ? zErr : "");
    sqlite3_free(zErr);
  }

  StmtPtr prepare(const std::string& zSql) {
    sqlite3_stmt* pStmt = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db.get(), zSql.c_str(), -1, &pStmt, nullptr), SQLITE_OK)
        << zSql << ": " << sqlite3_errmsg(db.get());
    return StmtPtr(pStmt);
  }

  // The text column iCol of every row of zSql, with texts bound to ?1, ?2, ...
  Words column(const std::string& zSql, const std::vector<std::string>& aBind = {}, int iCol = 0) {
    StmtPtr pStmt = prepare(zSql);
    for (size_t i = 0; i < aBind.size(); i++) {
      sqlite3_bind_text(pStmt.get(), static_cast<int>(i + 1), aBind[i].data(),
                        static_cast<int>(aBind[i].size()), SQLITE_TRANSIENT);
    }
    Words aOut;
    while (sqlite3_step(pStmt.get()) == SQLITE_ROW) {
      const auto* z = reinterpret_cast<const char*>(sqlite3_column_text(pStmt.get(), iCol));
      aOut.emplace_back(z ? z : "");
    }
    return aOut;
  }

  // Rows of completion(zArgs), the arguments written as SQL.
  std::vector<Candidate> complete(const std::string& zArgs) {
    std::vector<Candidate> aOut;
    StmtPtr pStmt = prepare("SELECT rowid, candidate, phase FROM completion(" + zArgs + ")");
    int rc;
    while ((rc = sqlite3_step(pStmt.get())) == SQLITE_ROW) {
      const auto* z = reinterpret_cast<const char*>(sqlite3_column_text(pStmt.get(), 1));
      aOut.push_back(
          {sqlite3_column_int64(pStmt.get(), 0),
           std::string(z ? z : "", static_cast<size_t>(sqlite3_column_bytes(pStmt.get(), 1))),
           sqlite3_column_int(pStmt.get(), 2)});
    }
    EXPECT_EQ(rc, SQLITE_DONE) << zArgs << ": " << sqlite3_errmsg(db.get());
    return aOut;
  }

  // Oracle: every keyword, in the engine's order.
  static Words keywords() {
    Words aOut;
    for (int i = 0; i < sqlite3_keyword_count(); i++) {
      const char* z = nullptr;
      int n = 0;
      sqlite3_keyword_name(i, &z, &n);
      aOut.emplace_back(z, static_cast<size_t>(n));
    }
    return aOut;
  }

  // Oracle: the databases, the schema-object names (each once) and the column
  // names of every table (each once), read one database and one table at a time.
  Words databases() { return column("PRAGMA database_list", {}, 1); }
  Words objectNames() {
    std::set<std::string> aNames;
    for (const auto& zDb : databases()) {
      std::string zSql = "SELECT name FROM \"" + quoteIdent(zDb) + "\".sqlite_schema";
      for (auto& z : column(zSql)) aNames.insert(z);
    }
    return Words(aNames.begin(), aNames.end());
  }
  Words columnNames() {
    std::set<std::string> aNames;
    for (const auto& zDb : databases()) {
      std::string zSchema = "\"" + quoteIdent(zDb) + "\".sqlite_schema";
      for (const auto& zTable : column("SELECT name FROM " + zSchema + " WHERE type = 'table'")) {
        for (auto& z : column("SELECT name FROM pragma_table_info(?1, ?2)", {zTable, zDb})) {
          aNames.insert(z);
        }
      }
    }
    return Words(aNames.begin(), aNames.end());
  }
  static std::string quoteIdent(const std::string& z) {
    std::string zOut;
    for (char c : z) {
      zOut += c;
      if (c == '"') zOut += '"';
    }
    return zOut;
  }

  // Checks the rows of completion(zArgs) against the oracles for zPrefix:
  // keywords in the engine's order, then databases in the order listed, then
  // object names and column names each once (in UNION order, compared as sets);
  // row ids 1, 2, ... in output order.
  void expectCandidates(const std::string& zArgs, const std::string& zPrefix) {
    std::vector<Candidate> aRows = complete(zArgs);
    std::map<int, Words> aByPhase;
    int iLastPhase = 0;
    for (size_t i = 0; i < aRows.size(); i++) {
      EXPECT_EQ(aRows[i].iRowid, static_cast<int64_t>(i + 1)) << zArgs;
      EXPECT_GE(aRows[i].iPhase, iLastPhase) << zArgs << ": phases out of order";
      iLastPhase = aRows[i].iPhase;
      aByPhase[aRows[i].iPhase].push_back(aRows[i].zWord);
    }
    for (const auto& [iPhase, aWords] : aByPhase) {
      EXPECT_TRUE(iPhase == phaseKeywords || iPhase == phaseDatabases || iPhase == phaseTables ||
                  iPhase == phaseColumns)
          << zArgs << ": phase " << iPhase;
    }
    EXPECT_EQ(aByPhase[phaseKeywords], filtered(keywords(), zPrefix)) << zArgs;
    EXPECT_EQ(aByPhase[phaseDatabases], filtered(databases(), zPrefix)) << zArgs;
    EXPECT_EQ(sorted(aByPhase[phaseTables]), filtered(objectNames(), zPrefix)) << zArgs;
    EXPECT_EQ(sorted(aByPhase[phaseColumns]), filtered(columnNames(), zPrefix)) << zArgs;
  }

  DbPtr db;
};

TEST_F(CompletionTest, EveryKeywordIsOfferedForItsPrefixes) {
  // For every keyword: its first letter, its first two letters in lower case,
  // and the whole word in mixed case; each lists exactly the keywords (in the
  // engine's order) and names that begin with it.
  for (const auto& zKeyword : keywords()) {
    std::string zMixed = zKeyword;
    for (size_t i = 0; i < zMixed.size(); i += 2) zMixed[i] = lower(zMixed.substr(i, 1))[0];
    for (const std::string& zPrefix :
         {zKeyword.substr(0, 1), lower(zKeyword.substr(0, 2)), zMixed}) {
      std::vector<Candidate> aRows = complete("'" + zPrefix + "'");
      Words aKeywords;
      for (const auto& row : aRows) {
        if (row.iPhase == phaseKeywords) aKeywords.push_back(row.zWord);
      }
      EXPECT_EQ(aKeywords, filtered(keywords(), zPrefix)) << zPrefix;
    }
  }
}

TEST_F(CompletionTest, AllPhasesAgainstTheSchema) {
  expectCandidates("'sel'", "sel");
  expectCandidates("'SEL'", "sel");
  expectCandidates("'sel_'", "sel_");  // '_' is an ordinary character, not a wildcard
  expectCandidates("'o'", "o");
  expectCandidates("'aux'", "aux");
  expectCandidates("'we\"ird'", "we\"ird");
  expectCandidates("'\"'", "\"");
  expectCandidates("'zzz_none'", "zzz_none");
  // No prefix at all: everything, phase by phase.
  expectCandidates("", "");
  expectCandidates("NULL", "");
  expectCandidates("''", "");
  expectCandidates("NULL, NULL", "");
}

// The fixture's names beginning with "sel", written out: the oracle above
// reads the same schema, so this pins what a user sees.
TEST_F(CompletionTest, SelPrefixListsFixtureNames) {
  Words aTables, aColumns;
  Words aKeywords;
  for (const auto& row : complete("'sel'")) {
    if (row.iPhase == phaseKeywords) aKeywords.push_back(row.zWord);
    if (row.iPhase == phaseTables) aTables.push_back(row.zWord);
    if (row.iPhase == phaseColumns) aColumns.push_back(row.zWord);
    EXPECT_NE(row.iPhase, phaseDatabases) << row.zWord;
  }
  EXPECT_EQ(aKeywords, (Words{"SELECT"}));
  EXPECT_EQ(sorted(aTables), (Words{"Select", "Selfie", "sel\"quote", "sel_idx", "sel_items",
                                    "sel_view", "selection"}));
  EXPECT_EQ(sorted(aColumns), (Words{"SEL_B", "Seller", "sel\"col", "sel_ref", "sel_tmp", "sel_w",
                                     "select", "selected"}));
}

// A name shared by two databases is one candidate; the same word in two phases is two.
TEST_F(CompletionTest, NamesOncePerPhase) {
  std::multiset<int> aPhases;
  for (const auto& row : complete("'orders'")) {
    if (row.zWord == "orders") aPhases.insert(row.iPhase);
  }
  EXPECT_EQ(aPhases, (std::multiset<int>{phaseTables}));
  aPhases.clear();
  for (const auto& row : complete("'order_id'")) aPhases.insert(row.iPhase);
  EXPECT_EQ(aPhases, (std::multiset<int>{phaseColumns}));
  aPhases.clear();
  for (const auto& row : complete("'select'")) {
    if (lower(row.zWord) == "select") aPhases.insert(row.iPhase);
  }
  EXPECT_EQ(aPhases, (std::multiset<int>{phaseKeywords, phaseTables, phaseColumns}));
}

TEST_F(CompletionTest, PrefixFromTheWholeLine) {
  struct {
    const char* zArgs;
    const char* zPrefix;  // what the prefix column reads; null for NULL
    const char* zWholeLine;
  } aCases[] = {
      {"NULL, 'SELECT * FROM sel_i'", "sel_i", "SELECT * FROM sel_i"},
      {"NULL, 'SELECT * FROM '", nullptr, "SELECT * FROM "},
      {"NULL, 'x.Sel'", "Sel", "x.Sel"},
      {"NULL, 'a$sel_'", "sel_", "a$sel_"},
      {"NULL, 'caf\xc3\xa9'", nullptr, "caf\xc3\xa9"},
      {"'ord', 'SELECT * FROM sel'", "ord", "SELECT * FROM sel"},
      {"'', 'SELECT * FROM sel'", "sel", "SELECT * FROM sel"},
      {"NULL, ''", nullptr, nullptr},
      {"'sel'", "sel", nullptr},
      {"", nullptr, nullptr},
  };
  for (const auto& c : aCases) {
    StmtPtr pStmt =
        prepare(std::string("SELECT prefix, wholeline FROM completion(") + c.zArgs + ") LIMIT 1");
    ASSERT_EQ(sqlite3_step(pStmt.get()), SQLITE_ROW) << c.zArgs;
    for (int i = 0; i < 2; i++) {
      const char* zWant = i == 0 ? c.zPrefix : c.zWholeLine;
      const auto* zGot = reinterpret_cast<const char*>(sqlite3_column_text(pStmt.get(), i));
      if (zWant == nullptr) {
        EXPECT_EQ(sqlite3_column_type(pStmt.get(), i), SQLITE_NULL) << c.zArgs << " column " << i;
      } else {
        EXPECT_STREQ(zGot, zWant) << c.zArgs << " column " << i;
      }
    }
  }
  expectCandidates("NULL, 'SELECT * FROM sel_i'", "sel_i");
  expectCandidates("NULL, 'select x from '", "");
  expectCandidates("'ord', 'SELECT * FROM sel'", "ord");
}

TEST(CompletionHelpers, PrefixLength) {
  struct {
    std::string_view zLine;
    size_t nPrefix;
  } aCases[] = {
      {"", 0},
      {"abc", 3},
      {"SELECT * FROM t1", 2},
      {"x ", 0},
      {"a.b_C9", 4},
      {"\xc3\xa9t", 1},
      {"\xc3\xa9", 0},
      {"a\"b", 1},
      {"___", 3},
      {"-", 0},
      {std::string_view("a\0bc", 4), 2},
  };
  for (const auto& c : aCases) EXPECT_EQ(completionPrefixLength(c.zLine), c.nPrefix) << c.zLine;
}

// The arguments may come from another table of a join; the planner may also
// try completion before that table, where they are not usable.
TEST_F(CompletionTest, ArgumentsFromAJoin) {
  exec(
      "CREATE TABLE typed(txt);"
      "INSERT INTO typed VALUES ('sel_it'), ('SELF'), ('zzz');"
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2000)"
      "  INSERT INTO typed SELECT 'nomatch' || i FROM n;"
      "ANALYZE;");
  Words aGot = column(
      "SELECT typed.txt || ':' || c.candidate FROM typed, completion(typed.txt) AS c "
      "WHERE typed.txt NOT LIKE 'nomatch%' ORDER BY 1");
  EXPECT_EQ(aGot, (Words{"SELF:Selfie", "sel_it:sel_items"}));
}

TEST_F(CompletionTest, CandidateWithTheEngine) {
  // Used as an ordinary table-valued function in a larger query.
  EXPECT_EQ(column("SELECT DISTINCT candidate FROM completion('selec') ORDER BY 1"),
            (Words{"SELECT", "Select", "select", "selected", "selection"}));
  EXPECT_EQ(column("SELECT count(*) FROM completion('sel') WHERE phase = 9"), (Words{"8"}));
  // Declared columns, with hidden ones absent from SELECT *.
  EXPECT_EQ(column("SELECT name FROM pragma_table_xinfo('completion') WHERE hidden = 0"),
            (Words{"candidate"}));
  // Eponymous only: no CREATE VIRTUAL TABLE.
  EXPECT_NE(
      sqlite3_exec(db.get(), "CREATE VIRTUAL TABLE c2 USING completion", nullptr, nullptr, nullptr),
      SQLITE_OK);
}

}  // namespace
