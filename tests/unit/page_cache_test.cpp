// -pagecache: the slots asked for are lowered to what memory can hold.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "shell/app/Startup.h"

namespace fs = std::filesystem;

namespace {

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

#if defined(__SANITIZE_ADDRESS__)
constexpr bool bSanitized = true;
#else
constexpr bool bSanitized = false;
#endif

fs::path sqlshPath() {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  fs::path candidate = exe.parent_path().parent_path() / "shell" / "sqlsh";
  return fs::exists(candidate) ? candidate : fs::path();
}

// Asked for far more than the address space allows, the shell still sets up
// a page cache (the engine's statistics count pages in it) instead of a
// request that can only fail.
TEST(PageCache, HugeRequestUnderAnAddressSpaceLimitStillGivesACache) {
  if (bSanitized) GTEST_SKIP() << "address-space limits and the sanitizer do not mix";
  const fs::path sqlsh = sqlshPath();
  if (sqlsh.empty()) GTEST_SKIP() << "sqlsh is not built";
  const fs::path out = fs::temp_directory_path() / "sqlsh-pagecache.out";
  const std::string cmd = "ulimit -v 250000; '" + sqlsh.string() +
                          "' -pagecache 4096 100000000 :memory: 'create table t(a)' "
                          "'insert into t values(1)' .stats >'" +
                          out.string() + "' 2>&1";
  const int rc = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(rc));
  EXPECT_EQ(WEXITSTATUS(rc), 0);
  std::ifstream in(out);
  std::ostringstream text;
  text << in.rdbuf();
  fs::remove(out);
  EXPECT_NE(text.str().find("Number of Pcache Pages Used:         1 (max 1) pages"),
            std::string::npos)
      << text.str();
}

}  // namespace
