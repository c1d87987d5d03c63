// The statistics report: its lines, their order and layout, and which lines a
// setting adds or removes.  The figures themselves vary from run to run; each
// line is matched by its label, padded to 36 columns, and a pattern for its
// figures.
#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "shell/exec/Stats.h"
#include "tests/unit/execute_fixture.h"

namespace {

std::vector<std::string> lines(const std::string& z) {
  std::vector<std::string> a;
  std::istringstream in(z);
  for (std::string zLine; std::getline(in, zLine);) a.push_back(zLine);
  return a;
}

// "LABEL<blanks to column 37>FIGURES" with FIGURES a pattern.
std::string line(const std::string& zLabel, const std::string& zFigures) {
  std::string z = zLabel;
  z.resize(36, ' ');
  return std::regex_replace(z, std::regex(R"([()/])"), R"(\$&)") + " " + zFigures;
}

const std::string n = R"(-?\d+)";

std::vector<std::string> globalLines(bool bPagecache) {
  std::vector<std::string> a = {
      line("Memory Used:", n + R"( \(max )" + n + R"(\) bytes)"),
      line("Number of Outstanding Allocations:", n + R"( \(max )" + n + R"(\))"),
  };
  if (bPagecache)
    a.push_back(line("Number of Pcache Pages Used:", n + R"( \(max )" + n + R"(\) pages)"));
  a.push_back(line("Number of Pcache Overflow Bytes:", n + R"( \(max )" + n + R"(\) bytes)"));
  a.push_back(line("Largest Allocation:", n + " bytes"));
  a.push_back(line("Largest Pcache Allocation:", n + " bytes"));
  return a;
}

std::vector<std::string> connectionLines(bool bLookaside) {
  std::vector<std::string> a;
  if (bLookaside) {
    a.push_back(line("Lookaside Slots Used:", n + R"( \(max )" + n + R"(\))"));
    a.push_back(line("Successful lookaside attempts:", n));
    a.push_back(line("Lookaside failures due to size:", n));
    a.push_back(line("Lookaside failures due to OOM:", n));
  }
  for (const char* z : {"Pager Heap Usage:"}) a.push_back(line(z, n + " bytes"));
  for (const char* z :
       {"Page cache hits:", "Page cache misses:", "Page cache writes:", "Page cache spills:"}) {
    a.push_back(line(z, n));
  }
  a.push_back(line("Schema Heap Usage:", n + " bytes"));
  a.push_back(line("Statement Heap/Lookaside Usage:", n + " bytes"));
  return a;
}

std::vector<std::string> statementLines(bool bBloom) {
  std::vector<std::string> a = {line("Fullscan Steps:", n), line("Sort Operations:", n),
                                line("Autoindex Inserts:", n)};
  if (bBloom) a.push_back(line("Bloom filter bypass taken:", n + "/" + n));
  for (const char* z : {"Virtual Machine Steps:", "Reprepare operations:", "Number of times run:",
                        "Memory used by prepared stmt:"}) {
    a.push_back(line(z, n));
  }
  return a;
}

void expectLines(const std::vector<std::string>& azGot, const std::vector<std::string>& azWant,
                 size_t iFrom = 0) {
  ASSERT_GE(azGot.size(), iFrom + azWant.size());
  for (size_t i = 0; i < azWant.size(); i++) {
    EXPECT_TRUE(std::regex_match(azGot[iFrom + i], std::regex(azWant[i])))
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
  EXPECT_TRUE(std::regex_match(a[1], std::regex(R"(VM-steps: [1-9]\d*)"))) << a[1];
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
  std::smatch m;
  ASSERT_TRUE(
      std::regex_search(zJoin, m, std::regex(R"(Bloom filter bypass taken: +(\d+)/(\d+)\n)")))
      << zJoin;
  EXPECT_LE(std::stoi(m[1]), std::stoi(m[2]));
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
  std::smatch m;
  ASSERT_TRUE(std::regex_match(a[0], m, std::regex(R"(Largest: {28} (\d+) bytes)"))) << a[0];
  EXPECT_GE(std::stoll(m[1]), iHighBefore);
  EXPECT_LE(std::stoll(m[1]), iHighAfter);
  ASSERT_TRUE(std::regex_match(a[1], m, std::regex(R"(Both: {31} now (\d+), at most (\d+))")))
      << a[1];
  EXPECT_LE(std::stoll(m[1]), std::stoll(m[2]));
}

}  // namespace
