// The text literals of the insert format: whatever the bytes, the literal
// read back through the engine must give the same bytes with type text, and
// with literal line feeds no carriage return may be written as it is (a
// script reader takes CR LF for a line end).
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "shell/core/SqlText.h"

namespace {

std::string literalOf(const std::string& text, bool bLiteralNewlines) {
  char* zBuf = nullptr;
  size_t nBuf = 0;
  FILE* out = open_memstream(&zBuf, &nBuf);
  writeSqlText(out, text.c_str(), text.size(), bLiteralNewlines);
  std::fclose(out);
  std::string r(zBuf, nBuf);
  std::free(zBuf);
  return r;
}

TEST(SqlText, EveryTextReadsBackAsTheSameBytes) {
  using namespace std::string_literals;
  const std::string texts[] = {
      ""s,
      "plain"s,
      "it's"s,
      "a\r\nb"s,
      "\r"s,
      "\r\r\n\n"s,
      "\\r and \\015 and (\\r0) already\r"s,
      "A\0B"s,
      "\0"s,
      "\0\x01\x02\n\r"s,
      "'\0'\r\n\0"s,
      "\xff\x80 not UTF-8 \0 after"s,
  };
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  for (bool bLiteralNewlines : {false, true}) {
    for (const auto& text : texts) {
      const std::string literal = literalOf(text, bLiteralNewlines);
      SCOPED_TRACE(literal);
      if (bLiteralNewlines) {
        EXPECT_EQ(literal.find('\r'), std::string::npos);
      } else {
        EXPECT_EQ(literal.find_first_of("\r\n"), std::string::npos);
      }
      const std::string sql = "SELECT typeof(v), v FROM (SELECT " + literal + " AS v)";
      sqlite3_stmt* pStmt = nullptr;
      ASSERT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &pStmt, nullptr), SQLITE_OK)
          << sqlite3_errmsg(db);
      ASSERT_EQ(sqlite3_step(pStmt), SQLITE_ROW);
      EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(pStmt, 0)), "text");
      const char* z = static_cast<const char*>(sqlite3_column_blob(pStmt, 1));
      EXPECT_EQ(std::string(z ? z : "", static_cast<size_t>(sqlite3_column_bytes(pStmt, 1))), text);
      sqlite3_finalize(pStmt);
    }
  }
  sqlite3_close(db);
}

}  // namespace
