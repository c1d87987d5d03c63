// The .timer line printed around each SQL chunk.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "shell/core/ShellContext.h"
#include "shell/exec/Timer.h"

namespace {

std::string timedOutput(int bOn) {
  bTimer = bOn;
  testing::internal::CaptureStdout();
  beginTimer();
  volatile double x = 0;
  for (int i = 0; i < 2000000; i++) x = x + i;
  endTimer();
  bTimer = 0;
  return testing::internal::GetCapturedStdout();
}

TEST(Timer, PrintsOneLineOnlyWhenOn) {
  ASSERT_TRUE(hasTimer());
  std::string s = timedOutput(1);
  EXPECT_TRUE(std::regex_match(
      s, std::regex(
             "Run Time: real [0-9]+\\.[0-9]{3} user [0-9]+\\.[0-9]{6} sys [0-9]+\\.[0-9]{6}\n")))
      << s;
  EXPECT_EQ(timedOutput(0), "");
}

}  // namespace
