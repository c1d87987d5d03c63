// The shell under exhaustion: running out of memory ends with the shell's
// message and status 1, never an abort.  Runs the real sqlsh executable with
// its address space limited, so it is left out of sanitizer builds (whose
// shadow memory needs more address space than any limit allows).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

fs::path sqlshPath() {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  fs::path candidate = exe.parent_path().parent_path() / "shell" / "sqlsh";
  return fs::exists(candidate) ? candidate : fs::path();
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool bSanitized = true;
#else
constexpr bool bSanitized = false;
#endif

TEST(Exhaustion, ColumnarResultTooLargeForMemoryEndsWithTheMessage) {
  if (bSanitized) GTEST_SKIP() << "address-space limits and the sanitizer do not mix";
  const fs::path sqlsh = sqlshPath();
  if (sqlsh.empty()) GTEST_SKIP() << "sqlsh is not built";
  const fs::path err = fs::temp_directory_path() / "sqlsh-exhaustion.err";
  const std::string cmd =
      "ulimit -v 250000; '" + sqlsh.string() +
      "' :memory: '.mode box' 'WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x+1 FROM c "
      "WHERE x<6000000) SELECT x, x*2, hex(x) FROM c' >/dev/null 2>'" +
      err.string() + "'";
  const int rc = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(rc)) << "the shell did not exit normally";
  EXPECT_EQ(WEXITSTATUS(rc), 1);
  EXPECT_EQ(readFile(err), "Error: out of memory\n");
  fs::remove(err);
}

}  // namespace
