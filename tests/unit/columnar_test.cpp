#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "shell/core/ShellContext.h"
#include "shell/exec/Columnar.h"

namespace {

struct CellCase {
  const char* zIn;
  int w;
  bool bWordWrap;
  const char* zLine;
  const char* zRest;  // null: no rest
};

TEST(CellForDisplay, CutsWrapsAndBreaksLines) {
  const CellCase cases[] = {
      {"hello", 0, false, "hello", nullptr},
      {"abcdefgh", 3, false, "abc", "defgh"},
      {"a\nb", 0, false, "a", "b"},
      {"a\r\nb", 0, false, "a", "b"},
      {"a\r\n", 0, false, "a", nullptr},
      {"a\n", 0, false, "a", nullptr},
      {"a\x01xyz", 0, false, "a", "xyz"},
      {"a\tb", 0, false, "a       b", nullptr},
      {"abc\tdef\tg", 12, false, "abc     def ", "g"},
      {"", 5, false, "", nullptr},
      // word wrap: break after a blank in the second half, drop the blanks
      {"the quick brown fox", 12, true, "the quick ", "brown fox"},
      {"the quick   brown", 11, true, "the quick  ", "brown"},
      {"the quick brown fox", 12, false, "the quick br", "own fox"},
      // no blank: break where a word meets punctuation
      {"abcdefgh,ijkl", 10, true, "abcdefgh,", "ijkl"},
      {"abcdefghijkl", 5, true, "abcde", "fghijkl"},
      // a line that fills the width exactly is still eligible for a better cut
      {"hello world", 11, true, "hello ", "world"},
      // display width: wide characters take two columns and are never split
      {"\xe4\xb8\xad\xe6\x96\x87\xe5\xad\x97", 5, false, "\xe4\xb8\xad\xe6\x96\x87",
       "\xe5\xad\x97"},
      {"\xe4\xb8\xad\xe6\x96\x87", 1, false, "\xe4\xb8\xad", "\xe6\x96\x87"},
      // a combining accent stays with its letter
      {"ae\xcc\x81z", 2, false, "ae\xcc\x81", "z"},
      {"abcde\xcc\x81"
       "fg",
       5, true, "abcde\xcc\x81", "fg"},
      {"aaaaae\xcc\x81", 6, true, "aaaaae\xcc\x81", nullptr},
  };
  for (const auto& c : cases) {
    const char* zRest = nullptr;
    char* zLine = cellForDisplay(c.zIn, &zRest, c.w, c.bWordWrap);
    ASSERT_NE(zLine, nullptr);
    EXPECT_STREQ(zLine, c.zLine) << c.zIn << " w=" << c.w;
    if (c.zRest) {
      EXPECT_STREQ(zRest, c.zRest) << c.zIn << " w=" << c.w;
    } else {
      EXPECT_EQ(zRest, nullptr) << c.zIn << " w=" << c.w;
    }
    std::free(zLine);
  }
  const char* zRest = "x";
  EXPECT_EQ(cellForDisplay(nullptr, &zRest, 5, false), nullptr);
  EXPECT_EQ(zRest, nullptr);
}

TEST(TextWidth, CountsTerminalColumns) {
  EXPECT_EQ(textWidth(""), 0);
  EXPECT_EQ(textWidth(nullptr), 0);
  EXPECT_EQ(textWidth("abc"), 3);
  EXPECT_EQ(textWidth("\xc3\xa9t\xc3\xa9"), 3);         // été, precomposed
  EXPECT_EQ(textWidth("e\xcc\x81t"), 2);                // e + combining acute + t
  EXPECT_EQ(textWidth("\xe4\xb8\xad\xe6\x96\x87"), 4);  // two CJK characters
  EXPECT_EQ(textWidth("\xef\xbc\xa1"), 2);              // fullwidth A
  EXPECT_EQ(textWidth("\xf0\x9f\x98\x80"), 2);          // emoji
  EXPECT_EQ(textWidth("\xe2\x94\x80"), 1);              // box-drawing line
  EXPECT_EQ(textWidth("a\xff"
                      "b"),
            3);  // an invalid byte shows as one mark
}

std::string widthPrinted(int w, const char* z) {
  char* zBuf = nullptr;
  size_t nBuf = 0;
  FILE* f = open_memstream(&zBuf, &nBuf);
  widthPrint(f, w, z);
  std::fclose(f);
  std::string s(zBuf, nBuf);
  std::free(zBuf);
  return s;
}

TEST(WidthPrint, PadsCutsAndAligns) {
  EXPECT_EQ(widthPrinted(5, "ab"), "ab   ");
  EXPECT_EQ(widthPrinted(-5, "ab"), "   ab");
  EXPECT_EQ(widthPrinted(2, "abcdef"), "ab");
  EXPECT_EQ(widthPrinted(0, "abcdef"), "abcdef");
  EXPECT_EQ(widthPrinted(3, nullptr), "   ");
  EXPECT_EQ(widthPrinted(5, "\xe4\xb8\xad\xe6\x96\x87"), "\xe4\xb8\xad\xe6\x96\x87 ");
  // a wide character that does not fit is left out, never split
  EXPECT_EQ(widthPrinted(3, "\xe4\xb8\xad\xe6\x96\x87"), "\xe4\xb8\xad ");
  EXPECT_EQ(widthPrinted(-3, "e\xcc\x81"), "  e\xcc\x81");
  EXPECT_EQ(widthPrinted(1, "e\xcc\x81z"), "e\xcc\x81");
}

// An in-memory database and a ShellContext writing to a memory stream.
class Render : public testing::Test {
 protected:
  void SetUp() override {
    std::memset(static_cast<void*>(&ctx), 0, sizeof(ctx));
    ctx.cmOpts.nWrap = 60;
    ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  }
  void TearDown() override {
    std::free(ctx.aColWidth);
    sqlite3_close(db);
    nInterrupts = 0;
  }
  std::string render(OutputMode eMode, const char* zSql) {
    char* zBuf = nullptr;
    size_t nBuf = 0;
    ctx.pOut = open_memstream(&zBuf, &nBuf);
    ctx.eMode = ctx.eModeNow = eMode;
    sqlite3_stmt* pStmt = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, zSql, -1, &pStmt, nullptr), SQLITE_OK) << zSql;
    renderColumnar(&ctx, pStmt);
    sqlite3_finalize(pStmt);
    std::fclose(ctx.pOut);
    std::string s(zBuf, nBuf);
    std::free(zBuf);
    return s;
  }
  void setWidths(std::initializer_list<int> a) {
    ctx.nColWidth = static_cast<int>(a.size());
    ctx.aColWidth =
        static_cast<int*>(std::realloc(ctx.aColWidth, 2 * (a.size() + 1) * sizeof(int)));
    ctx.aWidthNow = ctx.aColWidth + a.size();
    int i = 0;
    for (int w : a) ctx.aColWidth[i++] = w;
  }
  ShellContext ctx;
  sqlite3* db = nullptr;
};

TEST_F(Render, BoxOneValue) {
  EXPECT_EQ(render(OutputMode::Box, "SELECT 1 AS a"),
            "┌───┐\n"
            "│ a │\n"
            "├───┤\n"
            "│ 1 │\n"
            "└───┘\n");
}

TEST_F(Render, NothingForNoRows) {
  EXPECT_EQ(render(OutputMode::Box, "SELECT 1 WHERE 0"), "");
}

TEST_F(Render, TableWithMultiLineRow) {
  EXPECT_EQ(render(OutputMode::Table,
                   "SELECT 'x' || char(10) || 'yy' AS v, 1 AS n UNION ALL SELECT 'z', 22"),
            "+----+----+\n"
            "| v  | n  |\n"
            "+----+----+\n"
            "| x  | 1  |\n"
            "| yy |    |\n"
            "+----+----+\n"
            "| z  | 22 |\n"
            "+----+----+\n");
}

TEST_F(Render, MarkdownHasNoClosingRule) {
  EXPECT_EQ(render(OutputMode::Markdown, "SELECT 'abc' AS name, 5 AS n"),
            "| name | n |\n"
            "|------|---|\n"
            "| abc  | 5 |\n");
}

TEST_F(Render, ColumnHeadersWidthsAndDividers) {
  ctx.bHeaders = 1;
  setWidths({5, -5});
  EXPECT_EQ(render(OutputMode::Column, "SELECT 'ab' AS a, 7 AS b UNION ALL SELECT 'c', 123"),
            "a          b\n"
            "-----  -----\n"
            "ab         7\n"
            "c        123\n");
  setWidths({});
  EXPECT_EQ(render(OutputMode::Column, "SELECT 'p' || char(10) || 'q' AS a UNION ALL SELECT 'r'"),
            "a\n"
            "-\n"
            "p\n"
            "q\n"
            "\n"
            "r\n");
}

TEST_F(Render, WrapAndQuote) {
  ctx.cmOpts.nWrap = 10;
  ctx.cmOpts.bWordWrap = 1;
  EXPECT_EQ(render(OutputMode::Box, "SELECT 'one two three four' AS t"),
            "┌──────────┐\n"
            "│    t     │\n"
            "├──────────┤\n"
            "│ one two  │\n"
            "│ three    │\n"
            "│ four     │\n"
            "└──────────┘\n");
  ctx.cmOpts.bQuote = 1;
  ctx.cmOpts.bWordWrap = 0;
  std::strcpy(ctx.zNullText, "-");
  EXPECT_EQ(render(OutputMode::Table, "SELECT NULL AS a, 'it''s' AS b, x'01ab' AS c, 1.5 AS d"),
            "+------+---------+---------+-----+\n"
            "|  a   |    b    |    c    |  d  |\n"
            "+------+---------+---------+-----+\n"
            "| NULL | 'it''s' | x'01ab' | 1.5 |\n"
            "+------+---------+---------+-----+\n");
  ctx.cmOpts.bQuote = 0;
  EXPECT_EQ(render(OutputMode::Markdown, "SELECT NULL AS a"),
            "| a |\n"
            "|---|\n"
            "| - |\n");
}

TEST_F(Render, WideAndCombiningTextStaysAligned) {
  EXPECT_EQ(render(OutputMode::Box,
                   "SELECT '中文' AS w, 'x' AS y UNION ALL SELECT 'e' || char(769) || 'e', 'yz'"),
            "┌──────┬────┐\n"
            "│  w   │ y  │\n"
            "├──────┼────┤\n"
            "│ 中文 │ x  │\n"
            "│ e\xcc\x81"
            "e   │ yz │\n"
            "└──────┴────┘\n");
}

TEST_F(Render, InterruptPrintsNoTable) {
  nInterrupts = 1;
  EXPECT_EQ(render(OutputMode::Box,
                   "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < 10) "
                   "SELECT x FROM c"),
            "Interrupt\n");
}

// A Ctrl-C arriving while rows are gathered: the handler counts it and
// interrupts the connection, as the console handler does.
void interruptAtFive(sqlite3_context* pCtx, int, sqlite3_value** apArg) {
  if (sqlite3_value_int(apArg[0]) == 5) {
    nInterrupts = nInterrupts + 1;
    sqlite3_interrupt(sqlite3_context_db_handle(pCtx));
  }
  sqlite3_result_value(pCtx, apArg[0]);
}

TEST_F(Render, InterruptWhileGatheringPrintsNoPartialTable) {
  sqlite3_create_function(db, "ctrlc", 1, SQLITE_UTF8, nullptr, interruptAtFive, nullptr, nullptr);
  EXPECT_EQ(render(OutputMode::Table,
                   "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < 100) "
                   "SELECT ctrlc(x) AS v FROM c"),
            "Interrupt\n");
}

TEST(QuotedValue, Literals) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  sqlite3_stmt* pStmt = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT 1, 2.5, 'a''b', x'00ff', NULL", -1, &pStmt, nullptr),
            SQLITE_OK);
  ASSERT_EQ(sqlite3_step(pStmt), SQLITE_ROW);
  const char* azWant[] = {"1", "2.5", "'a''b'", "x'00ff'", "NULL"};
  for (int i = 0; i < 5; i++) {
    char* z = quotedValue(pStmt, i);
    EXPECT_STREQ(z, azWant[i]);
    sqlite3_free(z);
  }
  sqlite3_finalize(pStmt);
  sqlite3_close(db);
}

}  // namespace
