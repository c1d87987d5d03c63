// The maintenance commands: the glob of .check as a table of cases, the row
// collector of .selftest, and .lint fkey-indexes checked against the engine:
// after the proposed indexes exist, the engine's own foreign-key check must
// no longer scan any child table.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "shell/commands/Commands.h"
#include "shell/commands/Maintenance.h"
#include "tests/unit/execute_fixture.h"

namespace {

TEST(MatchTestPattern, Cases) {
  struct Case {
    const char* zPattern;
    const char* zText;
    int bMatch;
  };
  const Case aCase[] = {
      {"hello", "hello\n", 1},
      {"hello", "hello", 1},
      {"hello", "hello!", 0},
      {"hello", "hell", 0},
      {"Hello", "hello", 0},  // case counts
      {"hel*", "hello\n", 1},
      {"*", "", 1},
      {"*lo", "hello", 1},
      {"*l", "hello", 0},
      {"*l*", "hello", 1},
      {"h*l*o", "hello", 1},
      {"**?lo", "hello", 1},
      {"*?", "", 0},
      {"*??????", "hello", 0},
      {"?", "", 0},
      {"h?llo", "hallo", 1},
      {"h?llo", "hllo", 0},
      {"#", "42\n", 1},
      {"#", "-42", 1},
      {"#", "+7", 1},
      {"#", "-", 0},
      {"#", "x", 0},
      {"#", "4.5", 0},
      {"#.#", "4.5", 1},
      {"a#b", "a-b", 0},
      {"a b", "a   b", 1},
      {"a b", "a\n\tb", 1},
      {"a b", "ab", 0},
      {"a  b", "a b", 1},
      {"a b", "a b  \n\n", 1},
      {" a", "a", 0},  // the text must be at white space
      {"[abc]", "b", 1},
      {"[abc]", "d", 0},
      {"[^abc]", "d", 1},
      {"[^abc]", "a", 0},
      {"[a-c]x", "bx", 1},
      {"[a-c]x", "dx", 0},
      {"[]]", "]", 1},
      {"[^]]", "]", 0},
      {"[-a]", "-", 1},
      {"[a-]", "-", 1},
      {"[a-c-e]", "-", 1},  // '-' after a range is
                            // literal
      {"[a-c-e]", "d", 0},
      {"[abc", "a", 0},  // unterminated class
      {"[a]", "", 0},
      {"*[0-9]", "abc7", 1},
      {"*[0-9]x", "a1b2x", 1},
      {"*[0-9]", "abc", 0},
      {"x*[", "xa", 0},
      {"", "", 1},
      {"", " \n", 1},
      {"", "x", 0},
  };
  for (const Case& c : aCase) {
    EXPECT_EQ(matchTestPattern(c.zPattern, c.zText), c.bMatch)
        << "pattern [" << c.zPattern << "] text [" << c.zText << "]";
  }
}

TEST(AppendResultRow, JoinsRowsAndValuesAndDropsNulls) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  struct Case {
    const char* zSql;
    const char* zExpected;
  };
  const Case aCase[] = {
      {"SELECT 1", "1"},
      {"SELECT 1, NULL, 'x' UNION ALL SELECT NULL, NULL, NULL", "1,,x|,,"},
      {"CREATE TABLE t(x)", ""},
      {"SELECT 'a|b', 'c,d'; SELECT 2", "a|b,c,d|2"},
      {"SELECT NULL", ""},
      {"SELECT NULL UNION ALL SELECT 5", "5"},  // an empty first row leaves no mark
  };
  for (const Case& c : aCase) {
    TextBuffer buf;
    textInit(&buf);
    ASSERT_EQ(sqlite3_exec(db, c.zSql, appendResultRow, &buf, nullptr), SQLITE_OK) << c.zSql;
    EXPECT_EQ(std::string(buf.z ? buf.z : ""), c.zExpected) << c.zSql;
    textFree(&buf);
  }
  sqlite3_close(db);
}

// ---------------------------------------------------------------------------
// .lint fkey-indexes against the engine's plan for its foreign-key checks.

class LintFkeyIndexes : public ShellRun {
 protected:
  std::string lint(std::vector<std::string> words) {
    words.insert(words.begin(), {"lint", "fkey-indexes"});
    std::vector<char*> azArg;
    for (auto& w : words) azArg.push_back(w.data());
    azArg.push_back(nullptr);
    FILE* out = std::tmpfile();
    EXPECT_NE(out, nullptr);
    s.pOut = out;
    EXPECT_EQ(doLint(&s, static_cast<int>(words.size()), azArg.data()), 0);
    s.pOut = nullptr;
    return readBackAndClose(out);
  }

  std::vector<std::string> column(const std::string& zSql) {
    std::vector<std::string> values;
    sqlite3_stmt* pStmt = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(s.db, zSql.c_str(), -1, &pStmt, nullptr), SQLITE_OK) << zSql;
    while (sqlite3_step(pStmt) == SQLITE_ROW) {
      auto z = reinterpret_cast<const char*>(sqlite3_column_text(pStmt, 0));
      values.push_back(z ? z : "");
    }
    sqlite3_finalize(pStmt);
    return values;
  }

  // The child tables that the engine scans in full while it checks the
  // foreign keys of a deletion from zParent: in the bytecode of the DELETE,
  // a cursor opened on a child table's own b-tree and rewound.
  std::set<std::string> scannedChildren(const std::string& zParent) {
    std::map<int, std::string> tableOfRoot;
    sqlite3_stmt* pStmt = nullptr;
    EXPECT_EQ(
        sqlite3_prepare_v2(s.db, "SELECT rootpage, name FROM sqlite_schema WHERE type='table'", -1,
                           &pStmt, nullptr),
        SQLITE_OK);
    while (sqlite3_step(pStmt) == SQLITE_ROW) {
      tableOfRoot[sqlite3_column_int(pStmt, 0)] =
          reinterpret_cast<const char*>(sqlite3_column_text(pStmt, 1));
    }
    sqlite3_finalize(pStmt);

    std::string zSql = "EXPLAIN DELETE FROM \"";
    for (char c : zParent) zSql += c == '"' ? std::string("\"\"") : std::string(1, c);
    zSql += "\" WHERE rowid=?1";
    std::map<int, std::string> tableOfCursor;
    std::set<std::string> scanned;
    EXPECT_EQ(sqlite3_prepare_v2(s.db, zSql.c_str(), -1, &pStmt, nullptr), SQLITE_OK) << zSql;
    while (sqlite3_step(pStmt) == SQLITE_ROW) {
      const std::string zOp = reinterpret_cast<const char*>(sqlite3_column_text(pStmt, 1));
      const int p1 = sqlite3_column_int(pStmt, 2);
      const int p2 = sqlite3_column_int(pStmt, 3);
      if (zOp == "OpenRead" || zOp == "OpenWrite") {
        auto it = tableOfRoot.find(p2);
        if (it != tableOfRoot.end()) tableOfCursor[p1] = it->second;
      } else if (zOp == "Rewind") {
        auto it = tableOfCursor.find(p1);
        if (it != tableOfCursor.end() && it->second != zParent) scanned.insert(it->second);
      }
    }
    sqlite3_finalize(pStmt);
    return scanned;
  }
};

// The child columns are declared with their parents' types: a child column
// whose affinity differs from its parent's cannot be searched through any
// index during the check, which no proposed index can change.
TEST_F(LintFkeyIndexes, ProposedIndexesStopTheEngineScanningChildren) {
  exec(
      "PRAGMA foreign_keys=ON;"
      "CREATE TABLE \"par'ent\"(id INTEGER PRIMARY KEY, a TEXT, b TEXT COLLATE NOCASE,"
      "  \"c \"\"d\" INT, UNIQUE(a, b), UNIQUE(\"c \"\"d\", a));"
      "CREATE TABLE \"ch[1]*?\"(x TEXT, \"y'y\" TEXT COLLATE NOCASE, z INTEGER,"
      "  FOREIGN KEY(x, \"y'y\") REFERENCES \"par'ent\"(a, b),"
      "  FOREIGN KEY(z) REFERENCES \"par'ent\");"
      "CREATE TABLE \"select\"(\"from\" INT, \"where\" TEXT COLLATE RTRIM,"
      "  FOREIGN KEY(\"where\", \"from\") REFERENCES \"par'ent\"(a, \"c \"\"d\"));"
      "CREATE TABLE covered(k INTEGER PRIMARY KEY REFERENCES \"par'ent\");"
      "CREATE TABLE half(p, q INTEGER REFERENCES \"par'ent\"(id));"
      "CREATE INDEX half_q ON half(q, p);"
      "CREATE TABLE other(id INTEGER PRIMARY KEY);"
      "CREATE TABLE \"o.child\"(\"o id\" INTEGER REFERENCES other);");

  const std::set<std::string> before = scannedChildren("par'ent");
  EXPECT_EQ(before, (std::set<std::string>{"ch[1]*?", "select"}));
  EXPECT_EQ(scannedChildren("other"), std::set<std::string>{"o.child"});

  // Each report line is "CREATE INDEX ...; --> parent(columns)".
  const std::string report = lint({});
  std::istringstream lines(report);
  std::string line;
  std::set<std::string> flaggedChildren;
  int nProposed = 0;
  while (std::getline(lines, line)) {
    const size_t iArrow = line.find(" --> ");
    ASSERT_NE(iArrow, std::string::npos) << line;
    exec(line.substr(0, iArrow).c_str());
    nProposed++;
  }
  EXPECT_EQ(nProposed, 4) << report;  // two keys of "ch[1]*?", one of "select", one of "o.child"

  EXPECT_TRUE(scannedChildren("par'ent").empty());
  EXPECT_TRUE(scannedChildren("other").empty());
  // And lint agrees that nothing is missing any more.
  EXPECT_EQ(lint({}), "");
  const std::string verbose = lint({"-verbose"});
  EXPECT_EQ(std::count(verbose.begin(), verbose.end(), '\n'), 6) << verbose;  // one per key
}

TEST_F(LintFkeyIndexes, AnIndexWithTheChildsOwnCollationDoesNotCount) {
  exec(
      "PRAGMA foreign_keys=ON;"
      "CREATE TABLE p(k TEXT PRIMARY KEY);"
      "CREATE TABLE c(pk TEXT COLLATE NOCASE REFERENCES p(k));"
      "CREATE INDEX c_nocase ON c(pk);");
  // The engine compares with the parent's collation, so the index is no use.
  EXPECT_EQ(scannedChildren("p"), std::set<std::string>{"c"});
  EXPECT_EQ(lint({}), "CREATE INDEX 'c_pk' ON 'c'('pk' COLLATE BINARY); --> p(k)\n");
  exec("CREATE INDEX 'c_pk' ON 'c'('pk' COLLATE BINARY);");
  EXPECT_TRUE(scannedChildren("p").empty());
  EXPECT_EQ(lint({}), "");
}

}  // namespace
