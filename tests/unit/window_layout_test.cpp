// Aligned results laid out for a window of a given width: the choice of
// column widths on its own, tables fitted by wrapping, vertical records, and
// the rows of the terminal's commands in the dispatch chain.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <sstream>
#include <string>
#include <vector>

#include "shell/commands/Dispatch.h"
#include "shell/core/ShellContext.h"
#include "shell/exec/Columnar.h"
#include "tests/unit/command_prefixes.h"

namespace {

struct FitCase {
  const char* zWhat;
  std::vector<int> aNatural;
  std::vector<int> aFloor;
  int nBudget;
  bool bFits;
  std::vector<int> aExpected;
};

TEST(FitColumnWidths, NarrowsTheWidestColumnsFirstAndNeverBelowAFloor) {
  const FitCase aCase[] = {
      {"already fits: unchanged", {5, 20, 7}, {5, 10, 7}, 40, true, {5, 20, 7}},
      {"one wide column takes the cut", {5, 60, 7}, {5, 10, 7}, 40, true, {5, 28, 7}},
      {"two wide columns share it evenly", {50, 4, 50}, {10, 4, 10}, 44, true, {20, 4, 20}},
      {"an odd budget widens the leftmost narrowed column",
       {50, 4, 50},
       {10, 4, 10},
       45,
       true,
       {21, 4, 20}},
      {"a column narrower than the cap keeps its width",
       {30, 12, 60},
       {10, 10, 10},
       50,
       true,
       {19, 12, 19}},
      {"a floor above the cap holds", {40, 40}, {30, 10}, 45, true, {30, 15}},
      {"exactly the floors", {40, 40, 40}, {10, 12, 10}, 32, true, {10, 12, 10}},
      {"floors too wide: no fit", {40, 40, 40}, {10, 12, 10}, 31, false, {0, 0, 0}},
      {"no room at all", {3}, {3}, -5, false, {0}},
  };
  for (const FitCase& c : aCase) {
    SCOPED_TRACE(c.zWhat);
    std::vector<int> aFit(c.aNatural.size(), 0);
    EXPECT_EQ(fitColumnWidths(c.aNatural, c.aFloor, c.nBudget, aFit), c.bFits);
    if (!c.bFits) continue;
    EXPECT_EQ(aFit, c.aExpected);
    EXPECT_LE(std::accumulate(aFit.begin(), aFit.end(), 0), c.nBudget);
    for (size_t i = 0; i < aFit.size(); i++) {
      EXPECT_GE(aFit[i], std::min(c.aFloor[i], c.aNatural[i]));
      EXPECT_LE(aFit[i], c.aNatural[i]);
    }
  }
}

// The display width of a line (as the renderer counts it).
int lineWidth(const std::string& z) {
  return textWidth(z.c_str());
}

std::vector<std::string> splitLines(const std::string& z) {
  std::vector<std::string> a;
  std::istringstream in(z);
  for (std::string zLine; std::getline(in, zLine);) a.push_back(zLine);
  return a;
}

class WindowRender : public testing::Test {
 protected:
  void SetUp() override {
    std::memset(static_cast<void*>(&ctx), 0, sizeof(ctx));
    ctx.cmOpts.nWrap = 60;
    setSettingText(ctx.zNullText, "");
    ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  }
  void TearDown() override {
    std::free(ctx.aColWidth);
    sqlite3_close(db);
    nInterrupts = 0;
  }
  // Renders zSql in eMode for a window nWidth wide (0: not a terminal).
  std::string render(OutputMode eMode, int nWidth, const char* zSql) {
    char* zBuf = nullptr;
    size_t nBuf = 0;
    ctx.pOut = open_memstream(&zBuf, &nBuf);
    ctx.eMode = ctx.eModeNow = eMode;
    ctx.nFitWidth = nWidth;
    sqlite3_stmt* pStmt = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, zSql, -1, &pStmt, nullptr), SQLITE_OK) << zSql;
    renderColumnar(&ctx, pStmt);
    sqlite3_finalize(pStmt);
    std::fclose(ctx.pOut);
    std::string s(zBuf, nBuf);
    std::free(zBuf);
    return s;
  }
  ShellContext ctx;
  sqlite3* db = nullptr;
};

// A row of long texts that no 60-column table holds at 80 columns.
constexpr const char* zWideRow =
    "SELECT 1 AS id, 'the quick brown fox jumps over the lazy dog near the bank' AS a, "
    "'pack my box with five dozen liquor jugs and then some more' AS b, 'x' AS c";

TEST_F(WindowRender, AWideTableIsFittedByWrappingAtWordsInEveryAlignedMode) {
  for (OutputMode eMode :
       {OutputMode::Box, OutputMode::Table, OutputMode::Markdown, OutputMode::Column}) {
    SCOPED_TRACE(modeName(eMode));
    ctx.bHeaders = 1;
    const std::string zOut = render(eMode, 80, zWideRow);
    const auto aLines = splitLines(zOut);
    ASSERT_GE(aLines.size(), 4u);  // the header and two lines at least
    const int nFirst = lineWidth(aLines[0]);
    EXPECT_LE(nFirst, 80);
    for (const auto& z : aLines) EXPECT_EQ(lineWidth(z), nFirst) << z;  // columns stay aligned
    // Cut at word boundaries: every word is whole on some line.
    for (const char* zWord : {"quick", "brown", "lazy", "liquor", "dozen", "more"}) {
      EXPECT_NE(zOut.find(zWord), std::string::npos) << zWord;
    }
    EXPECT_EQ(zOut.find("-[ RECORD"), std::string::npos);
  }
}

TEST_F(WindowRender, TheSameTableIsTodaysWhereThereIsNoWindowOrFittingIsOff) {
  const std::string zPlain = render(OutputMode::Box, 0, zWideRow);
  EXPECT_GT(lineWidth(splitLines(zPlain)[0]), 80);
  ctx.eExpanded = ExpandedMode::Off;
  EXPECT_EQ(render(OutputMode::Box, 80, zWideRow), zPlain);
  ctx.eExpanded = ExpandedMode::Auto;
  ctx.bWrapGiven = 1;  // .mode box --wrap 60 asks for exactly that
  EXPECT_EQ(render(OutputMode::Box, 80, zWideRow), zPlain);
  ctx.bWrapGiven = 0;
  EXPECT_NE(render(OutputMode::Box, 80, zWideRow), zPlain);
  // A table that fits is byte for byte the one without a window.
  EXPECT_EQ(render(OutputMode::Box, 80, "SELECT 1 AS a, 'b' AS b"),
            render(OutputMode::Box, 0, "SELECT 1 AS a, 'b' AS b"));
}

TEST_F(WindowRender, TooManyColumnsBecomeVerticalRecords) {
  std::string zSql = "SELECT ";
  for (int i = 1; i <= 20; i++) {
    if (i > 1) zSql += ", ";
    zSql += "'value" + std::to_string(i) + "' AS column_" + std::to_string(i);
  }
  zSql += " UNION ALL SELECT 1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16,17,18,19,NULL";
  const std::string zOut = render(OutputMode::Box, 80, zSql.c_str());
  const auto aLines = splitLines(zOut);
  ASSERT_EQ(aLines.size(), 42u);
  EXPECT_EQ(aLines[0], "-[ RECORD 1 ]------");
  EXPECT_EQ(aLines[1], "column_1  | value1");
  EXPECT_EQ(aLines[20], "column_20 | value20");
  EXPECT_EQ(aLines[21], "-[ RECORD 2 ]------");
  EXPECT_EQ(aLines[22], "column_1  | 1");
  EXPECT_EQ(aLines[41], "column_20 |");  // the NULL shown as the empty null text
  for (const auto& z : aLines) EXPECT_LE(lineWidth(z), 80);
}

TEST_F(WindowRender, VerticalRecordsWrapLongValuesAndLineUpWideCharacters) {
  ctx.eExpanded = ExpandedMode::On;
  const std::string zOut = render(
      OutputMode::Table, 40,
      "SELECT '\xe4\xb8\xad\xe6\x96\x87' AS \"\xe5\x90\x8d\", 'one two three four five six seven "
      "eight nine ten' AS n, 'a\nb' AS ab");
  EXPECT_EQ(zOut,
            "-[ RECORD 1 ]--------------------------\n"
            "\xe5\x90\x8d | \xe4\xb8\xad\xe6\x96\x87\n"
            "n  | one two three four five six seven \n"  // word wrap keeps the blank
            "   | eight nine ten\n"
            "ab | a\n"
            "   | b\n");
}

TEST_F(WindowRender, ExpandedOnShowsRecordsWithoutAWindowToo) {
  ctx.eExpanded = ExpandedMode::On;
  EXPECT_EQ(render(OutputMode::Box, 0, "SELECT 1 AS a, 'hello' AS bb UNION ALL SELECT 2, 'x'"),
            "-[ RECORD 1 ]\n"
            "a  | 1\n"
            "bb | hello\n"
            "-[ RECORD 2 ]\n"
            "a  | 2\n"
            "bb | x\n");
}

TEST_F(WindowRender, CjkAndEmojiValuesLineUpInAFittedTable) {
  const std::string zOut = render(
      OutputMode::Box, 50,
      "SELECT '\xe4\xb8\xad\xe6\x96\x87\xe5\xad\x97\xe7\xac\xa6\xe4\xb8\xb2\xe5\xbe\x88\xe9\x95\xbf"
      "\xe5\xbe\x88\xe9\x95\xbf\xe5\xbe\x88\xe9\x95\xbf\xe5\xbe\x88\xe9\x95\xbf\xe5\xbe\x88\xe9\x95"
      "\xbf\xe5\xbe\x88\xe9\x95\xbf' AS cjk, "
      "'\xf0\x9f\x98\x80\xf0\x9f\x98\x80 smile smile smile smile smile smile' AS emoji");
  const auto aLines = splitLines(zOut);
  ASSERT_GT(aLines.size(), 5u);
  for (const auto& z : aLines) EXPECT_EQ(lineWidth(z), lineWidth(aLines[0])) << z;
  EXPECT_LE(lineWidth(aLines[0]), 50);
}

// Every word that selected a command before the terminal's commands came
// selects the same command now; the new commands take only words that
// selected nothing.
TEST(TerminalCommandRows, TakeNoAbbreviationFromAnEarlierCommand) {
  auto earlier = [](const std::string& zWord) -> const DotCommandRow* {
    for (const DotCommandRow& row : dotCommandRows()) {
      if (command_prefixes::rowTakes(row, zWord)) return &row;
    }
    return nullptr;
  };
  command_prefixes::expectNoAbbreviationTaken(earlier, [](const DotCommandRow& row) {
    for (const DotCommandRow& terminalRow : terminalCommandRows()) {
      if (&terminalRow == &row) return true;
    }
    return false;
  });
  const struct {
    const char* zWord;
    const char* zCommand;
  } aResolution[] = {
      {"exp", "explain"},       {"expe", "expert"}, {"expa", "expanded"},
      {"expanded", "expanded"}, {"ex", "exit"},
  };
  for (const auto& r : aResolution) {
    const DotCommandRow* pRow = findDotCommand(r.zWord);
    ASSERT_NE(pRow, nullptr) << r.zWord;
    EXPECT_STREQ(pRow->zName, r.zCommand) << r.zWord;
  }
  EXPECT_EQ(findDotCommand("expandedx"), nullptr);
}

}  // namespace
