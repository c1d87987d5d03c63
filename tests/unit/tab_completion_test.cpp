// Tab completion that reads the statement, on a small shop: the tables and
// aliases the statement names decide the columns proposed, a schema's name
// its tables, and a quoted word completes among the names that need quotes.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <string>
#include <vector>

#include "shell/app/TabCompletion.h"

namespace {

using Words = std::vector<std::string>;

struct ShopDatabase {
  sqlite3* db = nullptr;
  ShopDatabase() {
    sqlite3_open(":memory:", &db);
    sqlite3_exec(db,
                 "CREATE TABLE customers(customer_id INTEGER PRIMARY KEY, name, city, country);"
                 "CREATE TABLE orders(order_id INTEGER PRIMARY KEY, customer_id, channel, total);"
                 "CREATE TABLE products(product_id INTEGER PRIMARY KEY, title, category, price);"
                 "CREATE TABLE \"Order Items\"(order_id, product_id, \"item note\", qty);"
                 "CREATE INDEX orders_by_customer ON orders(customer_id);"
                 "CREATE INDEX customers_by_city ON customers(city);"
                 "CREATE VIEW big_orders AS SELECT order_id, total FROM orders WHERE total > 100;"
                 "ATTACH ':memory:' AS stock;"
                 "CREATE TABLE stock.items(sku, shelf, quantity);"
                 "CREATE TABLE stock.suppliers(supplier_id, company);",
                 nullptr, nullptr, nullptr);
  }
  ~ShopDatabase() { sqlite3_close(db); }
};

TabCandidates complete(sqlite3* db, const std::string& zLine, size_t iCursor = std::string::npos) {
  CompletionSource source;
  source.db = db;
  return tabCandidates(source, "", zLine, iCursor == std::string::npos ? zLine.size() : iCursor);
}

TEST(StatementCompletion, ProposesWhatTheStatementNames) {
  ShopDatabase shop;
  struct Case {
    const char* zLine;
    Words aExpected;
  };
  const Case aCases[] = {
      // The columns of the tables named, not of every table.
      {"SELECT * FROM customers WHERE c", {"city", "country", "customer_id"}},
      {"SELECT * FROM customers c JOIN orders o ON o.customer_id = c.",
       {"city", "country", "customer_id", "name"}},
      {"SELECT * FROM customers c WHERE c.ci", {"city"}},
      {"SELECT o.ch", {}},  // neither a table nor an alias: nothing
      {"UPDATE products SET pr", {"price", "product_id"}},
      {"SELECT * FROM orders WHERE total > 1 ORDER BY ",
       {"channel", "customer_id", "order_id", "total"}},
      // A table's name qualifies its columns even before FROM is typed.
      {"SELECT products.t", {"title"}},
      // A schema's tables, after FROM and elsewhere.
      {"SELECT * FROM stock.", {"items", "suppliers"}},
      {"SELECT * FROM stock.items WHERE stock.items.q", {"quantity"}},
      {"SELECT * FROM stock.items i WHERE i.", {"quantity", "shelf", "sku"}},
      // Tables, views and table-valued functions after FROM; no index.
      {"SELECT * FROM cu", {"customers"}},
      {"SELECT * FROM orders JOIN big", {"big_orders"}},
      {"SELECT * FROM json_e", {"json_each"}},
      {"SELECT * FROM ord", {"orders"}},
      // Quoted names.
      {"SELECT * FROM \"Ord", {"\"Order Items\""}},
      {"SELECT * FROM [Ord", {"[Order Items]"}},
      {"SELECT * FROM \"Order Items\" WHERE \"it", {"\"item note\""}},
      {"SELECT * FROM \"Order Items\" oi WHERE oi.\"it", {"\"item note\""}},
      // The columns of a common table, as declared.
      {"WITH recent(oid, amount) AS (SELECT order_id, total FROM orders) SELECT * FROM recent "
       "WHERE a",
       {"amount"}},
      // Keywords where the statement expects one.
      {"SELECT * FROM orders WH", {"WHEN", "WHERE"}},
      {"sel", {"select"}},
      // Nothing inside a string or a comment.
      {"SELECT * FROM orders WHERE channel = 'cu", {}},
      {"SELECT * FROM orders -- cu", {}},
  };
  for (const Case& c : aCases) {
    SCOPED_TRACE(c.zLine);
    EXPECT_EQ(complete(shop.db, c.zLine).aWords, c.aExpected);
  }
}

TEST(StatementCompletion, TheWholeStatementCountsWhereverTheCursorIs) {
  ShopDatabase shop;
  // Back at the select list of a statement whose FROM is already typed.
  const std::string zLine = "SELECT ti FROM products";
  TabCandidates found = complete(shop.db, zLine, 9);
  EXPECT_EQ(found.aWords, Words{"title"});
  EXPECT_EQ(found.iWordStart, 7u);
  // Over several lines: the earlier lines name the table.
  CompletionSource source;
  source.db = shop.db;
  found = tabCandidates(source, "SELECT *\n  FROM orders o", "WHERE o.t", 9);
  EXPECT_EQ(found.aWords, Words{"total"});
  EXPECT_EQ(found.iWordStart, 8u);
}

TEST(StatementCompletion, DotCommandsTakeTableNames) {
  ShopDatabase shop;
  struct Case {
    const char* zLine;
    Words aExpected;
  };
  const Case aCases[] = {
      {".schema cu", {"customers"}},
      {".dump ord", {"orders"}},
      {".indexes pro", {"products"}},
      // A quoted word completes among every name; a plain one among plain names.
      {".schema \"Ord", {"\"Order Items\"", "\"orders\""}},
      {".schema Ord", {"orders"}},
      {".schema \"Order ", {"\"Order Items\""}},
      {".imposter orders_by", {"orders_by_customer"}},
      {".mode insert pro", {"products"}},
      {".import --schema st", {"stock"}},
  };
  for (const Case& c : aCases) {
    SCOPED_TRACE(c.zLine);
    EXPECT_EQ(complete(shop.db, c.zLine).aWords, c.aExpected);
  }
}

TEST(StatementCompletion, TheCatalogIsReadAgainWhenTheSchemaChanges) {
  ShopDatabase shop;
  EXPECT_EQ(complete(shop.db, "SELECT * FROM war").aWords, Words{});
  sqlite3_exec(shop.db, "CREATE TABLE warehouses(wid, region)", nullptr, nullptr, nullptr);
  EXPECT_EQ(complete(shop.db, "SELECT * FROM war").aWords, Words{"warehouses"});
  sqlite3_exec(shop.db, "ALTER TABLE warehouses ADD COLUMN rent", nullptr, nullptr, nullptr);
  EXPECT_EQ(complete(shop.db, "SELECT * FROM warehouses WHERE re").aWords,
            (Words{"region", "rent"}));
  sqlite3_exec(shop.db, "ATTACH ':memory:' AS archive; CREATE TABLE archive.old_orders(x)", nullptr,
               nullptr, nullptr);
  EXPECT_EQ(complete(shop.db, "SELECT * FROM archive.").aWords, Words{"old_orders"});
}

// Whatever is typed, Tab answers with words that replace the bytes before
// the cursor, on a real catalog, for SQL and dot-commands alike.
TEST(StatementCompletion, AnyLineAndAnyCursorIsCompletedSafely) {
  ShopDatabase shop;
  const std::string aPieces[] = {"SELECT",  "FROM",    "customers",   "c",  ".", "stock", "WHERE",
                                 "\"Ord",   "'",       "(",           ")",  ",", ";",     " ",
                                 ".schema", ".import", ".connection", "--", "[", "`",     "o"};
  unsigned nSeed = 777;
  auto next = [&nSeed] {
    nSeed = nSeed * 1103515245u + 12345u;
    return (nSeed >> 16) & 0x7fff;
  };
  for (int iLine = 0; iLine < 200; iLine++) {
    std::string zLine;
    const unsigned nPieces = next() % 10;
    for (unsigned i = 0; i < nPieces; i++) {
      zLine += aPieces[next() % (sizeof aPieces / sizeof aPieces[0])];
      if (next() % 2 == 0) zLine += ' ';
    }
    for (size_t iCursor = 0; iCursor <= zLine.size(); iCursor++) {
      const TabCandidates found = complete(shop.db, zLine, iCursor);
      ASSERT_LE(found.iWordStart, iCursor) << zLine;
    }
  }
}

// The columns proposed are the engine's own, whatever the table's definition
// looks like (the catalog reads them off the CREATE statement).
TEST(StatementCompletion, ColumnsAreTheEnginesOwn) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  const char* const azTables[] = {
      "CREATE TABLE a(id INTEGER PRIMARY KEY, \"due date\" TEXT CHECK(\"due date\" > ''),"
      " carrier DEFAULT (lower('X')), weight AS (id * 2) STORED, CONSTRAINT c UNIQUE(carrier),"
      " FOREIGN KEY(id) REFERENCES a)",
      "CREATE TABLE IF NOT EXISTS [b](`x y` NUMERIC(10, 2) NOT NULL, [key], 'value', \"a\"\"b\")",
      "CREATE TABLE c(p, q, PRIMARY KEY(p, q)) WITHOUT ROWID",
      "CREATE TABLE d AS SELECT 1 AS one, 'x' AS \"two words\"",
      "CREATE TABLE e(/* a remark, with a comma */ r -- and another, here\n , s)",
      "CREATE VIRTUAL TABLE f USING fts5(title, body)",
      "CREATE VIEW g(v1, v2) AS SELECT 1, 2",
      "CREATE VIEW h AS SELECT id, carrier FROM a",
  };
  for (const char* zSql : azTables) {
    ASSERT_EQ(sqlite3_exec(db, zSql, nullptr, nullptr, nullptr), SQLITE_OK) << zSql;
  }
  for (const char* zTable : {"a", "b", "c", "d", "e", "f", "g", "h"}) {
    SCOPED_TRACE(zTable);
    Words aEngine;
    sqlite3_stmt* pStmt = nullptr;
    const std::string zQuery =
        std::string("SELECT name FROM pragma_table_xinfo('") + zTable + "') WHERE hidden <> 1";
    ASSERT_EQ(sqlite3_prepare_v2(db, zQuery.c_str(), -1, &pStmt, nullptr), SQLITE_OK);
    while (sqlite3_step(pStmt) == SQLITE_ROW) {
      aEngine.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(pStmt, 0)));
    }
    sqlite3_finalize(pStmt);
    Words aProposed;
    for (std::string z : complete(db, std::string("SELECT * FROM ") + zTable + " WHERE ").aWords) {
      // Names that need quotes are proposed in them.
      if (z.size() >= 2 && z.front() == '"') {
        std::string zPlain;
        for (size_t i = 1; i + 1 < z.size(); i++) {
          zPlain += z[i];
          if (z[i] == '"') i++;
        }
        z = zPlain;
      }
      aProposed.push_back(z);
    }
    std::sort(aEngine.begin(), aEngine.end());
    std::sort(aProposed.begin(), aProposed.end());
    EXPECT_EQ(aProposed, aEngine);
  }
  sqlite3_close(db);
}

}  // namespace
