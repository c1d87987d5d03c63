// The statistics report: its lines, their order and layout, and which lines a
// setting adds or removes.  The figures themselves vary from run to run; each
// line is matched by its label, padded to 36 columns, and a pattern for its
// figures.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "shell/exec/Stats.h"
#include "tests/unit/line_shape.h"
#include "tests/unit/execute_fixture.h"

namespace {

using line_shape::lines;

std::string line(const std::string& zLabel, const std::string& zFigures) {
  return line_shape::labelled(zLabel, zFigures);
}

std::vector<std::string> globalLines(bool bPagecache) {
  std::vector<std::string> a = {
      line("Memory Used:", "# (max #) bytes"),
      line("Number of Outstanding Allocations:", "# (max #)"),
  };
  if (bPagecache) a.push_back(line("Number of Pcache Pages Used:", "# (max #) pages"));
  a.push_back(line("Number of Pcache Overflow Bytes:", "# (max #) bytes"));
  a.push_back(line("Largest Allocation:", "# bytes"));
  a.push_back(line("Largest Pcache Allocation:", "# bytes"));
  return a;
}

std::vector<std::string> connectionLines(bool bLookaside) {
  std::vector<std::string> a;
  if (bLookaside) {
    a.push_back(line("Lookaside Slots Used:", "# (max #)"));
    a.push_back(line("Successful lookaside attempts:", "#"));
    a.push_back(line("Lookaside failures due to size:", "#"));
    a.push_back(line("Lookaside failures due to OOM:", "#"));
  }
  a.push_back(line("Pager Heap Usage:", "# bytes"));
  for (const char* z :
       {"Page cache hits:", "Page cache misses:", "Page cache writes:", "Page cache spills:"}) {
    a.push_back(line(z, "#"));
  }
  a.push_back(line("Schema Heap Usage:", "# bytes"));
  a.push_back(line("Statement Heap/Lookaside Usage:", "# bytes"));
  return a;
}

std::vector<std::string> statementLines(bool bBloom) {
  std::vector<std::string> a = {line("Fullscan Steps:", "#"), line("Sort Operations:", "#"),
                                line("Autoindex Inserts:", "#")};
  if (bBloom) a.push_back(line("Bloom filter bypass taken:", "#/#"));
  for (const char* z : {"Virtual Machine Steps:", "Reprepare operations:", "Number of times run:",
                        "Memory used by prepared stmt:"}) {
    a.push_back(line(z, "#"));
  }
  return a;
}

void expectLines(const std::vector<std::string>& azGot, const std::vector<std::string>& azWant,
                 size_t iFrom = 0) {
  ASSERT_GE(azGot.size(), iFrom + azWant.size());
  for (size_t i = 0; i < azWant.size(); i++) {
    EXPECT_TRUE(line_shape::matches(azGot[iFrom + i], azWant[i]))
        << "line " << iFrom + i << ": " << azGot[iFrom + i] << "\n  wanted: " << azWant[i];
  }
}

std::vector<std::string> concat(std::vector<std::vector<std::string>> aa) {
  std::vector<std::string> a;
  for (auto& part : aa) a.insert(a.end(), part.begin(), part.end());
  return a;
}

class Stats : public ShellRun {
 protected:
  // What .stats with no argument prints now.
  std::string reportNow() {
    FILE* out = std::tmpfile();
    s.pOut = out;
    displayStats(s.db, &s, 0);
    s.pOut = nullptr;
    return readBackAndClose(out);
  }
  int figure(const std::string& zReport, const std::string& zLabel) {
    for (const std::string& z : lines(zReport)) {
      if (z.compare(0, zLabel.size(), zLabel) == 0) return std::stoi(z.substr(37));
    }
    ADD_FAILURE() << "no line " << zLabel;
    return -1;
  }
};

TEST_F(Stats, OnPrintsTheGlobalConnectionAndStatementCountersAfterTheRows) {
  s.eStatsMode = 1;
  auto a = lines(run("SELECT 42"));
  ASSERT_FALSE(a.empty());
  EXPECT_EQ(a[0], "42");
  auto want = concat({globalLines(false), connectionLines(true), statementLines(false)});
  EXPECT_EQ(a.size(), 1 + want.size());
  expectLines(a, want, 1);
}

TEST_F(Stats, StmtAddsTheColumnsFirst) {
  s.eStatsMode = 2;
  exec("CREATE TABLE t(a INTEGER, b)");
  auto a = lines(run("SELECT a AS first, b, 1 FROM t"));
  std::vector<std::string> want = {
      "Number of output columns:            3",       "Column 0 name:                       first",
      "Column 0 declared type:              INTEGER", "Column 1 name:                       b",
      "Column 1 declared type:              ",        "Column 2 name:                       1",
      "Column 2 declared type:              ",
  };
  ASSERT_GE(a.size(), want.size());
  for (size_t i = 0; i < want.size(); i++) EXPECT_EQ(a[i], want[i]);
  expectLines(a, concat({globalLines(false), connectionLines(true), statementLines(false)}),
              want.size());
}

TEST_F(Stats, VmstepPrintsOnlyTheStepsOfTheStatement) {
  s.eStatsMode = 3;
  auto a = lines(run("SELECT 1; SELECT 2"));
  ASSERT_EQ(a.size(), 4u);
  EXPECT_EQ(a[0], "1");
  EXPECT_TRUE(line_shape::matches(a[1], "VM-steps: #")) << a[1];
  EXPECT_NE(a[1], "VM-steps: 0");
  EXPECT_EQ(a[2], "2");
  EXPECT_EQ(a[1], a[3]);
  EXPECT_EQ(reportNow(), "") << "no statement is current outside a statement";
}

TEST_F(Stats, SettingsAddAndRemoveLines) {
  s.eStatsMode = 1;
  s.mFlags &= ~ShellFlag::Lookaside;
  s.mFlags |= ShellFlag::Pagecache;
  auto a = lines(run("SELECT 1"));
  auto want = concat({globalLines(true), connectionLines(false), statementLines(false)});
  EXPECT_EQ(a.size(), 1 + want.size());
  expectLines(a, want, 1);
}

TEST_F(Stats, WithoutAStatementOrAConnectionTheReportIsShorter) {
  // .stats alone: no statement is current, whatever the mode.
  for (unsigned eMode : {0u, 1u, 2u}) {
    s.eStatsMode = eMode;
    auto a = lines(reportNow());
    auto want = concat({globalLines(false), connectionLines(true)});
    EXPECT_EQ(a.size(), want.size());
    expectLines(a, want);
  }
  sqlite3* db = s.db;
  s.db = nullptr;
  auto a = lines(reportNow());
  s.db = db;
  EXPECT_EQ(a.size(), globalLines(false).size());
  expectLines(a, globalLines(false));
  s.pOut = nullptr;
  displayStats(s.db, &s, 0);  // no output stream: nothing happens
}

TEST_F(Stats, BloomFilterLineOnlyForStatementsThatUsedOne) {
  exec(
      "CREATE TABLE t1(a, b); CREATE TABLE t2(c, d);"
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<2000) "
      "INSERT INTO t1 SELECT i, i FROM n;"
      "INSERT INTO t2 SELECT a*3, b FROM t1;");
  s.eStatsMode = 1;
  std::string zJoin = run("SELECT count(*) FROM t1, t2 WHERE t1.a = t2.c");
  int nHit = -1;
  int nAll = -1;
  for (const std::string& z : lines(zJoin)) {
    if (line_shape::matches(z, line("Bloom filter bypass taken:", "#/#"))) {
      ASSERT_EQ(std::sscanf(z.c_str() + 37, "%d/%d", &nHit, &nAll), 2);
    }
  }
  ASSERT_GE(nHit, 0) << zJoin;
  EXPECT_LE(nHit, nAll);
  EXPECT_GT(nAll, 0);
  EXPECT_EQ(run("SELECT count(*) FROM t1").find("Bloom"), std::string::npos);
}

TEST_F(Stats, PageCacheCountersStartAgainAfterEachReport) {
  exec(
      "CREATE TABLE t(a); WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE "
      "i<3000) INSERT INTO t SELECT randomblob(100) FROM n;");
  s.eStatsMode = 1;
  reportNow();  // counts the set-up's hits and starts again
  std::string z1 = run("SELECT count(*) FROM t");
  std::string z2 = run("SELECT count(*) FROM t");
  EXPECT_GT(figure(z1, "Page cache hits:"), 0);
  EXPECT_EQ(figure(z1, "Page cache hits:"), figure(z2, "Page cache hits:"));
  EXPECT_EQ(figure(reportNow(), "Page cache hits:"), 0);
}

TEST_F(Stats, StatusLineShowsTheHighestValueWhenTheFormatHasOneFigure) {
  FILE* out = std::tmpfile();
  s.pOut = out;
  sqlite3_int64 iCur = 0, iHighBefore = 0, iHighAfter = 0;
  sqlite3_status64(SQLITE_STATUS_MALLOC_SIZE, &iCur, &iHighBefore, 0);
  printStatusLine(&s, "Largest:", "%lld bytes", SQLITE_STATUS_MALLOC_SIZE, 0);
  printStatusLine(&s, "Both:", "now %lld, at most %lld", SQLITE_STATUS_MALLOC_SIZE, 0);
  sqlite3_status64(SQLITE_STATUS_MALLOC_SIZE, &iCur, &iHighAfter, 0);
  s.pOut = nullptr;
  auto a = lines(readBackAndClose(out));
  ASSERT_EQ(a.size(), 2u);
  long long iShown = -1;
  long long iNow = -1;
  long long iMost = -1;
  ASSERT_TRUE(line_shape::matches(a[0], line("Largest:", "# bytes"))) << a[0];
  ASSERT_EQ(std::sscanf(a[0].c_str() + 37, "%lld", &iShown), 1);
  EXPECT_GE(iShown, iHighBefore);
  EXPECT_LE(iShown, iHighAfter);
  ASSERT_TRUE(line_shape::matches(a[1], line("Both:", "now #, at most #"))) << a[1];
  ASSERT_EQ(std::sscanf(a[1].c_str() + 37, "now %lld, at most %lld", &iNow, &iMost), 2);
  EXPECT_LE(iNow, iMost);
}

}  // namespace
