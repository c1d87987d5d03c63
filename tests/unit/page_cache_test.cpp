// -pagecache: the slots asked for are lowered to what memory can hold.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "shell/app/Startup.h"
#include "tests/unit/shell_process.h"

namespace {

using shell_process::bSanitized;

TEST(PageCache, SlotsFitTheMemoryLimit) {
  constexpr int64_t gib = int64_t{1} << 30;
  struct Case {
    int64_t szSlot, nSlots, nLimit, nExpected;
  };
  const Case cases[] = {
      {4096, 1000, gib, 1000},             // fits: unchanged
      {4096, 100000000, gib, gib / 4096},  // lowered to the limit
      {70000, 100000000000LL, 8 * gib, 8 * gib / 70000},
      {1, 100000000000LL, INT64_MAX, 0x7fffffff},  // the engine's int count
      {70000, 100000000000LL, INT64_MAX, 0x7fffffff},
      {4096, 10, 4095, 0},  // not even one slot fits
      {4096, 10, -1, 0},
      {4096, 0, gib, 0},
      {4096, -5, gib, 0},  // a negative count asks for none
      {0, 500, gib, 500},  // no size: nothing to allocate
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.szSlot) + " x " + std::to_string(c.nSlots));
    EXPECT_EQ(pageCacheSlots(c.szSlot, c.nSlots, c.nLimit), c.nExpected);
  }
}

TEST(PageCache, MemoryLimitIsBelowWhatTheProcessMayMap) {
  const int64_t nLimit = pageCacheMemoryLimit();
  EXPECT_GT(nLimit, 0);
  EXPECT_LT(nLimit, INT64_MAX);  // the machine's free memory bounds it
}

// Asked for far more than the address space allows, the shell still sets up
// a page cache (the engine's statistics count pages in it) instead of a
// request that can only fail.
TEST(PageCache, HugeRequestUnderAnAddressSpaceLimitStillGivesACache) {
  if (bSanitized) GTEST_SKIP() << "address-space limits and the sanitizer do not mix";
  const std::string sqlsh = shell_process::shellPath();
  if (sqlsh.empty()) GTEST_SKIP() << "sqlsh is not built";
  const shell_process::TempDir dir;
  const shell_process::ScopedEnv home("HOME", dir.path());
  const std::string out = dir / "stats.out";
  const std::string cmd = "ulimit -v 250000; '" + sqlsh +
                          "' -pagecache 4096 100000000 :memory: 'create table t(a)' "
                          "'insert into t values(1)' .stats >'" +
                          out + "' 2>&1";
  const int rc = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(rc));
  EXPECT_EQ(WEXITSTATUS(rc), 0);
  const std::string text = shell_process::readFile(out);
  EXPECT_NE(text.find("Number of Pcache Pages Used:         1 (max 1) pages"), std::string::npos)
      << text;
}

}  // namespace
