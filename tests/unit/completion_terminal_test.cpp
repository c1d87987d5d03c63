// Tab completion at a real terminal, on a small shop with a table whose name
// needs quotes, an index, a view and an attached database.  Each case types
// a statement with Tab in it and runs the completed line, so the result
// shows what Tab wrote; listings after Tab Tab are read off the terminal.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pty_session.h"

namespace completion_terminal {

using namespace ptytest;

const EnvSettings xtermTerminal = {{"TERM", "xterm"}};

std::string repeat(const std::string& z, int n) {
  std::string zAll;
  for (int i = 0; i < n; i++) zAll += z;
  return zAll;
}

struct Shop {
  TempDir home;
  std::string zDb = home.path() + "/shop.db";
  std::string zStock = home.path() + "/stock.db";
  Shop() {
    makeDatabase(zDb,
                 "CREATE TABLE customers(customer_id INTEGER PRIMARY KEY, name, city, country);"
                 "INSERT INTO customers VALUES(1, 'Ada', 'Oslo', 'NO'), (2, 'Bo', 'Lund', 'SE');"
                 "CREATE TABLE orders(order_id INTEGER PRIMARY KEY, customer_id, channel, total);"
                 "INSERT INTO orders VALUES(10, 1, 'web', 120), (11, 2, 'shop', 80),"
                 " (12, 1, 'web', 5);"
                 "CREATE TABLE products(product_id INTEGER PRIMARY KEY, title, category, price);"
                 "CREATE TABLE \"Order Items\"(order_id, product_id, \"item note\", qty);"
                 "INSERT INTO \"Order Items\" VALUES(10, 1, 'gift', 2);"
                 "CREATE INDEX customers_by_city ON customers(city);"
                 "CREATE VIEW big_orders AS SELECT order_id, total FROM orders WHERE total > 100;");
    makeDatabase(zStock,
                 "CREATE TABLE items(sku, shelf, quantity); INSERT INTO items VALUES('A1', 3, 7);"
                 "CREATE TABLE suppliers(supplier_id, company);");
  }
};

// A session on the shop with stock attached, at its first prompt.
struct ShopSession {
  Shop shop;
  PtySession s;
  explicit ShopSession(std::vector<std::string> extraArgs = {})
      : s(argsFor(shop, std::move(extraArgs)), shop.home.path(), xtermTerminal) {
    s.readUntil("sqlite> ");
    s.send("ATTACH '" + shop.zStock + "' AS stock;\r");
    s.readUntil("sqlite> ");
  }
  static std::vector<std::string> argsFor(const Shop& shop, std::vector<std::string> extra) {
    extra.push_back(shop.zDb);
    return extra;
  }
  // Types zKeys (Tab included) and Enter; returns what the shell printed.
  std::string run(const std::string& zKeys) {
    s.send(zKeys + "\r");
    return s.readUntil("sqlite> ", 10s);
  }
  // Types zKeys and Tab twice; returns what the terminal shows, then drops
  // the line.  (The keys must not begin more than they show: the line is
  // drawn again after the listing, and that is where the reading stops.)
  std::string listing(const std::string& zKeys) {
    s.send(zKeys);
    s.readUntil(zKeys, 5s);
    s.send("\t\t");
    std::string z = s.readUntil(zKeys, 5s);
    s.send("\x03");  // Ctrl-C: a fresh prompt
    s.readUntil("sqlite> ");
    return z;
  }
};

TEST(CompletionAtTheTerminal, TheCompletedLineRunsAsIntended) {
  REQUIRE_SHELL();
  ShopSession session;
  ASSERT_TRUE(session.s.started());
  struct Case {
    std::string zKeys;     // typed, Tab included, then Enter
    const char* zPrinted;  // found in what the statement printed
  };
  const Case aCases[] = {
      // The column of the aliased table.
      {"SELECT name FROM customers c WHERE c.cit\t= 'Lund';", "\nBo\n"},
      // A schema's table.
      {"SELECT sku FROM stock.it\tWHERE quantity > 0;", "\nA1\n"},
      // A plain word completes among plain names: "Order Items" does not hold it back.
      {"SELECT count(*) FROM ord\t;", "\n3\n"},
      // A quoted word completes among quoted names, closing quote included.
      {"SELECT count(*) FROM \"Ord\t;", "\n1\n"},
      {"SELECT qty FROM \"Order Items\" WHERE \"it\t= 'gift';", "\n2\n"},
      // Back at the select list after FROM (Ctrl-A, ten times Right): the named table's column.
      {"SELECT tot FROM orders WHERE order_id = 11;\x01" + repeat("\x1b[C", 10) + "\t", "\n80\n"},
      // Table names for dot-commands.
      {".schema cu\t", "CREATE TABLE customers("},
      {".indexes cust\t", "customers_by_city"},
  };
  for (const Case& c : aCases) {
    SCOPED_TRACE(c.zKeys);
    const std::string zOut = session.run(c.zKeys);
    EXPECT_TRUE(contains(zOut, c.zPrinted)) << zOut;
    EXPECT_FALSE(contains(zOut, "Error")) << zOut;
  }
  session.s.send(".quit\r");
  EXPECT_EQ(session.s.waitExit(), 0);
}

TEST(CompletionAtTheTerminal, TabTabListsWhatTheStatementAllows) {
  REQUIRE_SHELL();
  ShopSession session;
  ASSERT_TRUE(session.s.started());
  struct Case {
    const char* zKeys;
    std::vector<const char*> azListed;
    std::vector<const char*> azNotListed;
  };
  const Case aCases[] = {
      // The columns of customers only.
      {"SELECT * FROM customers WHERE c",
       {"city", "country", "customer_id"},
       {"channel", "category"}},
      {"SELECT * FROM customers c JOIN orders o ON c.",
       {"city", "country", "name"},
       {"channel", "total"}},
      // The tables of stock only.
      {"SELECT * FROM stock.", {"items", "suppliers"}, {"customers", "orders"}},
      // Tables and views after FROM, no index.
      {"SELECT * FROM c", {"customers"}, {"customers_by_city", "city"}},
      // The connection slots one may switch to.
      {".connection ", {"close", "1", "4"}, {"0"}},
  };
  for (const Case& c : aCases) {
    SCOPED_TRACE(c.zKeys);
    const std::string zShown = session.listing(c.zKeys);
    for (const char* z : c.azListed) EXPECT_TRUE(contains(zShown, z)) << z << " in " << zShown;
    for (const char* z : c.azNotListed) EXPECT_FALSE(contains(zShown, z)) << z << " in " << zShown;
  }
  session.s.send(".quit\r");
  EXPECT_EQ(session.s.waitExit(), 0);
}

// Reading the catalog is not the user's statement: the trace, the
// authorizer's report and safe mode do not see it.
TEST(CompletionAtTheTerminal, ReadingTheCatalogLeavesNoTrace) {
  REQUIRE_SHELL();
  {
    ShopSession session;
    ASSERT_TRUE(session.s.started());
    session.run(".trace stdout");
    const std::string zOut = session.run("SELECT count(*) FROM ord\t;");
    EXPECT_TRUE(contains(zOut, "\n3\n")) << zOut;
    EXPECT_FALSE(contains(zOut, "sqlite_schema")) << zOut;
    EXPECT_FALSE(contains(zOut, "pragma")) << zOut;
    session.run(".trace off");
    session.run(".auth on");
    const std::string zAuth = session.run("SELECT count(*) FROM cust\t;");
    EXPECT_TRUE(contains(zAuth, "\n2\n")) << zAuth;
    EXPECT_FALSE(contains(zAuth, "PRAGMA")) << zAuth;
    session.s.send(".quit\r");
    EXPECT_EQ(session.s.waitExit(), 0);
  }
  // In safe mode, where ATTACH is refused, the main database's names come.
  Shop shop;
  PtySession s({"-safe", shop.zDb}, shop.home.path(), xtermTerminal);
  ASSERT_TRUE(s.started());
  s.readUntil("sqlite> ");
  s.send("SELECT name FROM customers c WHERE c.cit\t= 'Oslo';\r");
  const std::string zOut = s.readUntil("sqlite> ");
  EXPECT_TRUE(contains(zOut, "\nAda\n")) << zOut;
  s.send(".quit\r");
  EXPECT_EQ(s.waitExit(), 0);
}

}  // namespace completion_terminal
