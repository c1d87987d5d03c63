// The statement reader behind Tab completion: the tables a statement names,
// with schemas and aliases, and what the statement expects at the cursor,
// on text that may stop anywhere.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shell/app/StatementReader.h"

namespace {

// "schema.name alias" for each table the statement names, joined by "; ".
std::string tablesOf(const StatementNames& names) {
  std::string z;
  for (const TableReference& ref : names.aTables) {
    if (!z.empty()) z += "; ";
    if (!ref.zSchema.empty()) z += ref.zSchema + ".";
    z += ref.zName.empty() ? "(subquery)" : ref.zName;
    if (!ref.zAlias.empty()) z += " " + ref.zAlias;
  }
  return z;
}

TEST(StatementReader, FindsTheTablesAStatementNames) {
  struct Case {
    const char* zSql;
    const char* zTables;
  };
  const Case aCases[] = {
      {"SELECT * FROM customers c JOIN orders AS o ON c.id = o.customer_id",
       "customers c; orders o"},
      {"SELECT * FROM stock.items i, main.products, temp.t",
       "stock.items i; main.products; temp.t"},
      {"SELECT * FROM orders LEFT OUTER JOIN customers USING (id) WHERE 1 ORDER BY 1",
       "orders; customers"},
      // Subqueries in FROM and in expressions.
      {"SELECT * FROM (SELECT * FROM orders) AS s, products p WHERE x IN (SELECT id FROM "
       "customers)",
       "orders; (subquery) s; products p; customers"},
      // Quoted names of every kind.
      {"SELECT * FROM \"Order Items\" AS \"oi\" JOIN [stock].`it``ems` x",
       "Order Items oi; stock.it`ems x"},
      // Comments and strings hide what they hold.
      {"SELECT * FROM -- customers\n orders /* JOIN products */ o", "orders o"},
      {"SELECT 'FROM customers' FROM orders WHERE note = 'JOIN products", "orders"},
      // Statements that write.
      {"UPDATE OR IGNORE products SET price = 1", "products"},
      {"INSERT INTO orders(id, total) VALUES (1, 2)", "orders"},
      {"INSERT OR REPLACE INTO stock.items AS i SELECT * FROM products", "stock.items i; products"},
      {"DELETE FROM stock.items WHERE qty = 0", "stock.items"},
      {"CREATE TABLE IF NOT EXISTS t(a REFERENCES customers(id))", "customers; t"},
      // Not a table: IS DISTINCT FROM; a table-valued function is one.
      {"SELECT a IS NOT DISTINCT FROM b FROM t", "t"},
      {"SELECT j.value FROM json_each('[1,2]') AS j", "json_each j"},
      // Unfinished.
      {"SELECT * FROM customers c WHERE c.", "customers c"},
      {"SELECT * FROM ", ""},
  };
  for (const Case& c : aCases) {
    SCOPED_TRACE(c.zSql);
    EXPECT_EQ(tablesOf(readStatementNames(c.zSql)), c.zTables);
  }
}

TEST(StatementReader, ReadsTheCommonTablesOfAWithClause) {
  const StatementNames names = readStatementNames(
      "WITH RECURSIVE recent(id, total) AS (SELECT id, total FROM orders), "
      "big AS MATERIALIZED (SELECT * FROM recent WHERE total > 9) "
      "SELECT * FROM big b JOIN customers ON 1");
  ASSERT_EQ(names.aCommonTables.size(), 2u);
  EXPECT_EQ(names.aCommonTables[0].zName, "recent");
  EXPECT_EQ(names.aCommonTables[0].azColumns, (std::vector<std::string>{"id", "total"}));
  EXPECT_EQ(names.aCommonTables[1].zName, "big");
  EXPECT_TRUE(names.aCommonTables[1].azColumns.empty());
  EXPECT_EQ(tablesOf(names), "orders; recent; big b; customers");
}

const char* wantsName(CursorWants e) {
  switch (e) {
    case CursorWants::Nothing:
      return "nothing";
    case CursorWants::Keyword:
      return "keyword";
    case CursorWants::Table:
      return "table";
    case CursorWants::Column:
      return "column";
    case CursorWants::Qualified:
      return "qualified";
  }
  return "?";
}

TEST(StatementReader, TellsWhatTheCursorsPlaceExpects) {
  struct Case {
    const char* zText;
    size_t iCursor;  // npos: at the end
    const char* zWants;
    const char* zPrefix;
    const char* zQualifier;  // the qualifier's names joined by "."
    const char* zTables;     // of the statement the cursor is in
  };
  constexpr size_t npos = std::string::npos;
  const Case aCases[] = {
      {"", npos, "keyword", "", "", ""},
      {"sel", npos, "keyword", "sel", "", ""},
      {"SELECT * FROM cu", npos, "table", "cu", "", "cu"},
      {"SELECT * FROM customers WHERE c", npos, "column", "c", "", "customers"},
      {"SELECT * FROM customers c WHERE c.", npos, "qualified", "", "c", "customers c"},
      {"SELECT * FROM customers c WHERE c.na", npos, "qualified", "na", "c", "customers c"},
      {"SELECT * FROM stock.", npos, "qualified", "", "stock", ""},
      {"SELECT stock.items.q", npos, "qualified", "q", "stock.items", ""},
      {"SELECT * FROM a, ", npos, "table", "", "", "a"},
      {"SELECT a, ", npos, "column", "", "", ""},
      {"SELECT count(", npos, "column", "", "", ""},
      {"SELECT * FROM (", npos, "keyword", "", "", ""},
      {"SELECT * FROM t WHERE a = ", npos, "column", "", "", "t"},
      {"SELECT * FROM t ", npos, "keyword", "", "", "t"},
      {"INSERT INTO orders (", npos, "column", "", "", "orders"},
      {"UPDATE products SET ", npos, "column", "", "", "products"},
      {"SELECT * FROM t GROUP BY ", npos, "column", "", "", "t"},
      // The text after the cursor names the tables too.
      {"SELECT  FROM customers", 7, "column", "", "", "customers"},
      {"SELECT na FROM customers", 9, "column", "na", "", "customers"},
      // Several statements: only the one the cursor is in counts.
      {"SELECT * FROM a; SELECT * FROM b WHERE x", npos, "column", "x", "", "b"},
      {"SELECT * FROM a WHERE x; SELECT * FROM b", 23, "column", "x", "", "a"},
      // Inside a string, a comment or a number there is nothing to complete.
      {"SELECT 'abc", npos, "nothing", "", "", ""},
      {"SELECT 1 -- a remark", npos, "nothing", "", "", ""},
      {"SELECT /* a remark", npos, "nothing", "", "", ""},
      {"SELECT 12", npos, "nothing", "", "", ""},
      {"SELECT \"Order Items\"", npos, "nothing", "", "", ""},
  };
  for (const Case& c : aCases) {
    SCOPED_TRACE(c.zText);
    const std::string zText = c.zText;
    const CursorPlace place = readCursorPlace(zText, c.iCursor == npos ? zText.size() : c.iCursor);
    EXPECT_STREQ(wantsName(place.eWants), c.zWants);
    EXPECT_EQ(place.zPrefix, c.zPrefix);
    std::string zQualifier;
    for (const std::string& z : place.azQualifier)
      zQualifier += (zQualifier.empty() ? "" : ".") + z;
    EXPECT_EQ(zQualifier, c.zQualifier);
    EXPECT_EQ(tablesOf(place.names), c.zTables);
  }
}

TEST(StatementReader, AQuotedWordIsCompletedFromItsOpeningQuote) {
  struct Case {
    const char* zText;
    char cQuote;
    const char* zPrefix;
    size_t iWordStart;
    const char* zWants;
  };
  const Case aCases[] = {
      {"SELECT * FROM \"Ord", '"', "Ord", 14, "table"},
      {"SELECT * FROM [Ord", '[', "Ord", 14, "table"},
      {"SELECT * FROM `Ord", '`', "Ord", 14, "table"},
      {"SELECT * FROM \"Order Items\" WHERE \"it", '"', "it", 34, "column"},
      {"SELECT * FROM \"a\"\"b", '"', "a\"b", 14, "table"},
      {"SELECT x.\"it", '"', "it", 9, "qualified"},
  };
  for (const Case& c : aCases) {
    SCOPED_TRACE(c.zText);
    const std::string zText = c.zText;
    const CursorPlace place = readCursorPlace(zText, zText.size());
    EXPECT_EQ(place.cOpenQuote, c.cQuote);
    EXPECT_EQ(place.zPrefix, c.zPrefix);
    EXPECT_EQ(place.iWordStart, c.iWordStart);
    EXPECT_STREQ(wantsName(place.eWants), c.zWants);
  }
}

// Tab may be pressed anywhere in any text: random texts made of the bytes
// that matter to the reader, the cursor at every place.
TEST(StatementReader, AnyTextAndAnyCursorIsReadSafely) {
  const std::string aPieces[] = {
      "SELECT", "FROM", "JOIN", "WHERE",    "WITH",     "AS",     "(",  ")",    ",",  ".",
      ";",      "'",    "\"",   "[",        "]",        "`",      "--", "/*",   "*/", "\n",
      " ",      "t",    "x1",   "IS",       "DISTINCT", "UPDATE", "OR", "INTO", "=",  "?",
      ":a",     "x'0",  "1.5e", "\xc3\xa9", "TABLE",    "IF",     "NOT"};
  unsigned nSeed = 12345;
  auto next = [&nSeed] {
    nSeed = nSeed * 1103515245u + 12345u;
    return (nSeed >> 16) & 0x7fff;
  };
  for (int iText = 0; iText < 400; iText++) {
    std::string zText;
    const unsigned nPieces = next() % 24;
    for (unsigned i = 0; i < nPieces; i++) {
      zText += aPieces[next() % (sizeof aPieces / sizeof aPieces[0])];
      if (next() % 3 == 0) zText += ' ';
    }
    for (size_t iCursor = 0; iCursor <= zText.size(); iCursor++) {
      const CursorPlace place = readCursorPlace(zText, iCursor);
      ASSERT_LE(place.iWordStart, iCursor) << zText;
      if (place.eWants == CursorWants::Qualified) {
        ASSERT_FALSE(place.azQualifier.empty());
      }
    }
    readStatementNames(zText);
  }
}

}  // namespace
