#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "shell/core/ShellContext.h"
#include "shell/exec/SchemaPrinters.h"

namespace {

// Runs the printer on a temporary stream and returns what it wrote.
template <typename F>
std::string capture(F print) {
  FilePtr f(std::tmpfile());
  print(f.get());
  std::fflush(f.get());
  std::rewind(f.get());
  std::string s;
  int c;
  while ((c = std::fgetc(f.get())) != EOF) s += static_cast<char>(c);
  return s;
}

TEST(WriteSchemaStatement, QuotedNamesAndTrailingComments) {
  struct Case {
    const char* zSql;
    const char* zTail;
    const char* zWant;
  } cases[] = {
      {"CREATE TABLE t(a)", ";\n", "CREATE TABLE t(a);\n"},
      {"CREATE TABLE \"x y\"(a)", ";\n", "CREATE TABLE IF NOT EXISTS \"x y\"(a);\n"},
      {"CREATE TABLE 'q'(a)", ";\n", "CREATE TABLE IF NOT EXISTS 'q'(a);\n"},
      {"CREATE TABLE [b](a)", ";\n", "CREATE TABLE [b](a);\n"},
      {"create table \"lower\"(a)", ";\n", "create table \"lower\"(a);\n"},
      // A comment at the end must not swallow the semicolon.
      {"CREATE TABLE t(a) -- note", ";\n", "CREATE TABLE t(a) -- note\n;\n"},
      {"CREATE TABLE t(a) /* open", ";\n", "CREATE TABLE t(a) /* open*/;\n"},
      {"CREATE TABLE t(a -- inner\n)", ";\n", "CREATE TABLE t(a -- inner\n);\n"},
      // Only a tail that starts the terminator triggers the repair.
      {"CREATE TABLE t(a) -- note", "\n", "CREATE TABLE t(a) -- note\n"},
      {"not sql at all --", ";\n", "not sql at all --\n;\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(capture([&](FILE* f) { writeSchemaStatement(f, c.zSql, c.zTail); }), c.zWant)
        << c.zSql;
  }
  EXPECT_EQ(capture([](FILE* f) { writeSchemaStatement(f, nullptr, ";\n"); }), "");
  EXPECT_EQ(capture([](FILE* f) { writeSchemaStatement(f, "x", nullptr); }), "");
}

TEST(WriteSchemaStatementN, PrintsAPrefixAndRestoresTheBuffer) {
  char zSql[] = "CREATE TABLE t(a, b)";
  EXPECT_EQ(capture([&](FILE* f) { writeSchemaStatementN(f, zSql, 15, "\n  "); }),
            "CREATE TABLE t(\n  ");
  EXPECT_STREQ(zSql, "CREATE TABLE t(a, b)");
}

TEST(EndsLineWithoutCode, BlanksAndComments) {
  EXPECT_TRUE(endsLineWithoutCode(""));
  EXPECT_TRUE(endsLineWithoutCode("   "));
  EXPECT_TRUE(endsLineWithoutCode("  \n b INT"));
  EXPECT_TRUE(endsLineWithoutCode(" -- comment\n b"));
  EXPECT_TRUE(endsLineWithoutCode("--"));
  EXPECT_FALSE(endsLineWithoutCode(" b INT"));
  EXPECT_FALSE(endsLineWithoutCode(" - 1"));
  EXPECT_FALSE(endsLineWithoutCode(" /* c */"));
}

TEST(PrintIndentedSchema, SqueezesShortAndBreaksLongStatements) {
  struct Case {
    const char* zSql;
    const char* zWant;
  } cases[] = {
      {"CREATE  TABLE t ( a  INT ,  b )", "CREATE TABLE t(a INT , b);\n"},
      {"  CREATE TABLE t(a)\r\n  ", "CREATE TABLE t(a);\n"},
      {"CREATE TABLE t(a,\r\n\r\n b)", "CREATE TABLE t(a,\nb);\n"},
      // Views and triggers are printed as stored.
      {"create view v  as select 1", "create view v  as select 1;\n"},
      {"CREATE TRIGGER tr  AFTER INSERT ON t BEGIN SELECT 1; END",
       "CREATE TRIGGER tr  AFTER INSERT ON t BEGIN SELECT 1; END;\n"},
      {"CREATE TABLE long_table(alpha INTEGER PRIMARY KEY, beta TEXT NOT NULL, gamma REAL "
       "DEFAULT 0.0, delta BLOB)",
       "CREATE TABLE long_table(\n  alpha INTEGER PRIMARY KEY,\n  beta TEXT NOT NULL,\n"
       "  gamma REAL DEFAULT 0.0,\n  delta BLOB\n);\n"},
      // Commas inside nested parentheses or quotes do not break; a comment
      // after a comma stays on its column's line.
      {"CREATE TABLE t(first_column INTEGER, -- the first\n second_column TEXT, \"third, col\" "
       "TEXT, x CHECK(x IN (1, 2)))",
       "CREATE TABLE t(\n  first_column INTEGER, -- the first\n  second_column TEXT,\n"
       "  \"third, col\" TEXT,\n  x CHECK(x IN(1, 2))\n);\n"},
      // A quoted table name gains IF NOT EXISTS on its first line.
      {"CREATE TABLE \"quoted name\"(alpha INTEGER PRIMARY KEY, beta TEXT NOT NULL, gamma REAL "
       "DEFAULT 0)",
       "CREATE TABLE IF NOT EXISTS \"quoted name\"(\n  alpha INTEGER PRIMARY KEY,\n"
       "  beta TEXT NOT NULL,\n  gamma REAL DEFAULT 0\n);\n"},
      // Table options after the closing parenthesis stay on its line.
      {"CREATE TABLE w(key_column TEXT PRIMARY KEY, value_column BLOB, other_column INT) WITHOUT "
       "ROWID",
       "CREATE TABLE w(\n  key_column TEXT PRIMARY KEY,\n  value_column BLOB,\n"
       "  other_column INT\n) WITHOUT ROWID;\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(capture([&](FILE* f) { printIndentedSchema(f, c.zSql); }), c.zWant) << c.zSql;
  }
  EXPECT_EQ(capture([](FILE* f) { printIndentedSchema(f, nullptr); }), "");
}

}  // namespace
