// The .timer line printed around each SQL chunk, and the -stats report.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "shell/core/ShellContext.h"
#include "shell/exec/Timer.h"
#include "tests/unit/line_shape.h"
#include "tests/unit/shell_process.h"

namespace {

std::string timedOutput(int bOn) {
  bTimer = bOn;
  testing::internal::CaptureStdout();
  startTimer();
  volatile double x = 0;
  for (int i = 0; i < 2000000; i++) x = x + i;
  stopTimer();
  bTimer = 0;
  return testing::internal::GetCapturedStdout();
}

TEST(Timer, PrintsOneLineOnlyWhenOn) {
  ASSERT_TRUE(hasTimer());
  std::string s = timedOutput(1);
  double real = -1, user = -1, sys = -1;
  int nEnd = 0;
  ASSERT_EQ(
      std::sscanf(s.c_str(), "Run Time: real %lf user %lf sys %lf%n", &real, &user, &sys, &nEnd), 3)
      << s;
  EXPECT_EQ(s.substr(static_cast<size_t>(nEnd)), "\n");
  EXPECT_GE(real, 0.0);
  EXPECT_GE(user, 0.0);
  EXPECT_GE(sys, 0.0);
  // Three decimals of real time, six of processor time.
  char zExpect[200];
  std::snprintf(zExpect, sizeof zExpect, "Run Time: real %.3f user %f sys %f\n", real, user, sys);
  EXPECT_EQ(s, zExpect);
  EXPECT_EQ(timedOutput(0), "");
}

}  // namespace

// The run-time line around each chunk of SQL, and the statistics after each
// statement, as the real shell prints them.
namespace {

TEST(TimerInShell, OneRunTimeLinePerChunkAlsoForAFailingOneButNoneForDotCommands) {
  if (shell_process::shellPath().empty()) GTEST_SKIP() << "sqlsh has not been built";
  shell_process::TempDir dir;
  auto r = shell_process::runShell({":memory:"},
                                   "SELECT 1;\n.timer on\nSELECT 2; SELECT 3;\n.print dot\n"
                                   "SELECT * FROM nowhere;\nSELECT 4;\n.timer off\nSELECT 5;\n",
                                   dir.path(), dir.path());
  const std::string zRun = "Run Time: real #.@@@ user #.@@@@@@ sys #.@@@@@@";
  const std::vector<std::string> azWant = {"1", "2", "3", zRun, "dot", zRun, "4", zRun, "5"};
  auto azGot = line_shape::lines(r.zOut);
  ASSERT_EQ(azGot.size(), azWant.size()) << r.zOut;
  for (size_t i = 0; i < azWant.size(); i++) {
    EXPECT_TRUE(line_shape::matches(azGot[i], azWant[i])) << azGot[i] << " / " << azWant[i];
  }
  EXPECT_EQ(r.zErr, "Parse error near line 5: no such table: nowhere\n");
  EXPECT_EQ(r.iStatus, 1);
}

TEST(StatsInShell, StatsOptionReportsAfterEveryStatement) {
  if (shell_process::shellPath().empty()) GTEST_SKIP() << "sqlsh has not been built";
  shell_process::TempDir dir;
  auto r = shell_process::runShell({"-stats", ":memory:"},
                                   "SELECT 1; SELECT 2;\n.stats off\n"
                                   "SELECT 3;\n.stats\n",
                                   dir.path(), dir.path());
  // Each line of a report as its label alone.
  std::vector<std::string> azShape;
  for (const std::string& z : line_shape::lines(r.zOut)) {
    size_t iColon = z.find(": ");
    size_t iFigure = iColon == std::string::npos ? iColon : z.find_first_not_of(' ', iColon + 1);
    bool bReport =
        iFigure != std::string::npos && (line_shape::isDigit(z[iFigure]) || z[iFigure] == '-');
    azShape.push_back(bReport ? z.substr(0, iColon + 1) : z);
  }
  // Each report: 5 global lines, 11 of the connection, 7 of the statement.
  auto first = std::find(azShape.begin(), azShape.end(), "Memory Used:");
  ASSERT_NE(first, azShape.end()) << r.zOut;
  EXPECT_EQ(azShape.front(), "1");
  EXPECT_EQ(azShape[24], "2");
  EXPECT_EQ(azShape[48], "3");
  EXPECT_EQ(azShape[49], "Memory Used:");
  EXPECT_EQ(azShape.size(), 49u + 5 + 11);
  EXPECT_EQ(std::count(azShape.begin(), azShape.end(), "Number of times run:"), 2);
  EXPECT_EQ(r.iStatus, 0);
}

}  // namespace
