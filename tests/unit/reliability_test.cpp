// The shell under exhaustion: running out of memory ends with the shell's
// message and status 1, never an abort.  Runs the real sqlsh executable with
// its address space limited, so it is left out of sanitizer builds (whose
// shadow memory needs more address space than any limit allows).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/unit/shell_process.h"

namespace {

using shell_process::bSanitized;

TEST(Exhaustion, ColumnarResultTooLargeForMemoryEndsWithTheMessage) {
  if (bSanitized) GTEST_SKIP() << "address-space limits and the sanitizer do not mix";
  const std::string sqlsh = shell_process::shellPath();
  if (sqlsh.empty()) GTEST_SKIP() << "sqlsh is not built";
  const shell_process::TempDir dir;
  const shell_process::ScopedEnv home("HOME", dir.path());
  const std::string err = dir / "stderr";
  // The columnar modes keep a result as little more than its text (about 33
  // bytes a row here): far more rows than fit are asked for, and the memory
  // runs out well before the last.
  const std::string cmd =
      "ulimit -v 250000; '" + sqlsh +
      "' :memory: '.mode box' 'WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x+1 FROM c "
      "WHERE x<30000000) SELECT x, x*2, hex(x) FROM c' >/dev/null 2>'" +
      err + "'";
  const int rc = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(rc)) << "the shell did not exit normally";
  EXPECT_EQ(WEXITSTATUS(rc), 1);
  EXPECT_EQ(shell_process::readFile(err), "Error: out of memory\n");
}

}  // namespace
