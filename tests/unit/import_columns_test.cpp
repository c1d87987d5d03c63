// The column-name collector of .import: column lists, renames and reports.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "shell/commands/ImportColumns.h"
#include "shell/core/ShellContext.h"

namespace {

struct Collected {
  std::string list;  // "<null>" when none
  std::string report;
};

Collected collect(const std::vector<std::string>& names) {
  sqlite3* db = nullptr;
  for (const auto& z : names) importColumnNames(z.c_str(), &db, nullptr);
  char* zRenamed = reinterpret_cast<char*>(1);
  char* zList = importColumnNames(nullptr, &db, &zRenamed);
  EXPECT_EQ(db, nullptr);
  Collected c{zList ? zList : "<null>", zRenamed ? zRenamed : "<null>"};
  sqlite3_free(zList);
  sqlite3_free(zRenamed);
  return c;
}

// The final names, read back from a table created with the column list.
std::vector<std::string> createdNames(const std::string& list) {
  sqlite3* db = nullptr;
  sqlite3_open(":memory:", &db);
  std::vector<std::string> names;
  const std::string sql = "CREATE TABLE t" + list;
  char* zErr = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &zErr) != SQLITE_OK) {
    ADD_FAILURE() << zErr << "\n" << sql;
    sqlite3_free(zErr);
  }
  StmtPtr pStmt = prepareStmt(db, "SELECT name FROM pragma_table_info('t') ORDER BY cid");
  while (pStmt && sqlite3_step(pStmt.get()) == SQLITE_ROW) {
    names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(pStmt.get(), 0)));
  }
  pStmt.reset();
  sqlite3_close(db);
  return names;
}

std::vector<std::string> numbered(const std::string& z, int n) {
  return std::vector<std::string>(static_cast<size_t>(n), z);
}

TEST(ImportColumnNames, ListsAndReports) {
  struct Case {
    const char* zName;
    std::vector<std::string> in;
    std::string list;
    std::string report;
  } cases[] = {
      {"distinct", {"a", "b"}, "(\n\"a\" TEXT, \"b\" TEXT)", "<null>"},
      {"one column", {"x"}, "(\n\"x\" TEXT)", "<null>"},
      {"quotes in a name", {"x\"y", ""}, "(\n\"x\"\"y\" TEXT, \"?\" TEXT)", "<null>"},
      {"repeats ignoring case",
       {"a", "b", "A", "", "b"},
       "(\n\"a_1\" TEXT, \"b_2\" TEXT, \"A_3\" TEXT, \"?\" TEXT,\n \"b_5\" TEXT)",
       "\"a\" to \"a_1\",\n\"b\" to \"b_2\",\n\"A\" to \"A_3\",\n\"b\" to \"b_5\""},
      {"two empty fields",
       {"", "x", ""},
       "(\n\"?_1\" TEXT, \"x\" TEXT, \"?_3\" TEXT)",
       "\"?\" to \"?_1\",\n\"?\" to \"?_3\""},
      {"a suffix that exists: more zeros",
       {"a", "a", "a_1"},
       "(\n\"a_01\" TEXT, \"a_02\" TEXT, \"a_1\" TEXT)",
       "\"a\" to \"a_01\",\n\"a\" to \"a_02\""},
  };
  for (const auto& c : cases) {
    Collected got = collect(c.in);
    EXPECT_EQ(got.list, c.list) << c.zName;
    EXPECT_EQ(got.report, c.report) << c.zName;
  }
}

TEST(ImportColumnNames, NothingCollected) {
  sqlite3* db = nullptr;
  char* zRenamed = reinterpret_cast<char*>(1);
  EXPECT_EQ(importColumnNames(nullptr, &db, &zRenamed), nullptr);
  EXPECT_EQ(zRenamed, reinterpret_cast<char*>(1));
}

// Ten or more columns: the digit count pads the candidates, the applied
// suffixes are plain, and neither may clash with a column's own name.
TEST(ImportColumnNames, TenOrMoreColumns) {
  {
    Collected got = collect(numbered("n", 12));
    std::vector<std::string> want;
    for (int i = 1; i <= 12; i++) want.push_back("n_" + std::to_string(i));
    EXPECT_EQ(createdNames(got.list), want);
  }
  {
    // Padded candidates a_01, a_02 are free, but the applied a_2 is taken.
    std::vector<std::string> in = {"a", "a", "a_2", "c4", "c5", "c6", "c7", "c8", "c9", "c10"};
    Collected got = collect(in);
    std::vector<std::string> want = in;
    want[0] = "a_01";
    want[1] = "a_02";
    EXPECT_EQ(createdNames(got.list), want);
    EXPECT_EQ(got.report, "\"a\" to \"a_01\",\n\"a\" to \"a_02\"");
  }
  {
    // The padded candidate a_02 is taken; with one zero the applied a_02 is too.
    std::vector<std::string> in = {"a", "a", "A_02", "c4", "c5", "c6", "c7", "c8", "c9", "c10"};
    Collected got = collect(in);
    std::vector<std::string> want = in;
    want[0] = "a_001";
    want[1] = "a_002";
    EXPECT_EQ(createdNames(got.list), want);
  }
}

// Random headers over names built to collide: the list always creates a
// table, names that were not repeated stay, repeated ones keep their stem.
TEST(ImportColumnNames, AlwaysUnique) {
  const std::vector<std::string> pool = {"a", "A", "a_1", "a_01", "a_2",   "A_02",  "a_10",
                                         "",  "?", "?_1", "b",    "a_001", "a_1_1", "x y"};
  std::mt19937 rng(7);
  for (int iRound = 0; iRound < 300; iRound++) {
    const int nCol = 1 + static_cast<int>(rng() % 24);
    std::vector<std::string> in;
    for (int i = 0; i < nCol; i++) in.push_back(pool[rng() % pool.size()]);
    std::vector<std::string> out = createdNames(collect(in).list);
    ASSERT_EQ(out.size(), in.size());
    for (size_t i = 0; i < in.size(); i++) {
      const std::string name = in[i].empty() ? "?" : in[i];
      int nSame = 0;
      for (const auto& z : in)
        nSame += sqlite3_stricmp((z.empty() ? "?" : z.c_str()), name.c_str()) == 0;
      if (nSame == 1) {
        EXPECT_EQ(out[i], name);
      } else {
        EXPECT_EQ(out[i].rfind(name + "_", 0), 0u) << out[i];
      }
    }
  }
}

TEST(ImportColumnNames, WideHeaderOfEmptyNames) {
  Collected got = collect(numbered("", 2000));
  std::vector<std::string> names;
  sqlite3* db = nullptr;
  sqlite3_open(":memory:", &db);
  sqlite3_limit(db, SQLITE_LIMIT_COLUMN, 2001);
  const std::string sql = "CREATE TABLE t" + got.list;
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_EQ(db_int(db, "SELECT count(*) FROM pragma_table_info('t')"), 2000);
  EXPECT_EQ(db_int(db, "SELECT name='?_2000' FROM pragma_table_info('t') WHERE cid=1999"), 1);
  sqlite3_close(db);
}

}  // namespace
