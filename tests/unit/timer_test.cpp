// The .timer line printed around each SQL chunk.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "shell/core/ShellContext.h"
#include "shell/exec/Timer.h"

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
