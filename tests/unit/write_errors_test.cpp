// Write errors of the output destinations: the checks of Output.h on real
// streams (a full device, a pipe whose reader has gone), and the shell run
// with its standard output on a full device or past the file-size limit.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "shell/core/Output.h"
#include "shell/core/Redirect.h"
#include "tests/unit/shell_process.h"

namespace {

using shell_process::readFile;
using shell_process::shellPath;
using shell_process::TempDir;

// A stream on /dev/full holding unwritten output, named for the messages.
FILE* fullDevice(const char* zName) {
  FILE* f = std::fopen("/dev/full", "w");
  if (f != nullptr) {
    nameDestination(f, zName);
    std::fputs("some output\n", f);
  }
  return f;
}

// Capturing standard error flushes every stream: the streams under test are
// written after it starts.
TEST(WriteErrors, FailureOnAFullDeviceIsReportedOnceWithNameAndReason) {
  const int nBefore = writeFailureCount();
  testing::internal::CaptureStderr();
  FILE* f = fullDevice("backup.sql");
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(checkWrites(f), WriteStatus::Failed);
  // Nothing written since: the failure is not reported a second time.
  EXPECT_EQ(checkWrites(f), WriteStatus::Ok);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Error: cannot write to \"backup.sql\": No space left on device\n");
  EXPECT_EQ(writeFailureCount(), nBefore + 1);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(closeOutputStream(f));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(WriteErrors, OutputPendingAtCloseIsCheckedByTheClose) {
  // The failure is only met when the close flushes the buffer.
  const int nBefore = writeFailureCount();
  testing::internal::CaptureStderr();
  FILE* f = fullDevice("once.txt");
  ASSERT_NE(f, nullptr);
  EXPECT_TRUE(closeOutputStream(f));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Error: cannot write to \"once.txt\": No space left on device\n");
  EXPECT_EQ(writeFailureCount(), nBefore + 1);
}

TEST(WriteErrors, APipeWhoseReaderLeftEndsQuietly) {
  int aFd[2];
  ASSERT_EQ(pipe(aFd), 0);
  close(aFd[0]);
  auto pfnBefore = std::signal(SIGPIPE, SIG_IGN);
  FILE* f = fdopen(aFd[1], "w");
  ASSERT_NE(f, nullptr);
  nameDestination(f, "|head -1");
  const int nBefore = writeFailureCount();
  testing::internal::CaptureStderr();
  std::string zRow(100, 'x');
  for (int i = 0; i < 1000; i++) std::fputs(zRow.c_str(), f);
  EXPECT_EQ(pollWrites(f), WriteStatus::ReaderGone);
  std::fputs("more\n", f);
  EXPECT_EQ(checkWrites(f), WriteStatus::ReaderGone);
  EXPECT_FALSE(closeDestination(f, false));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(writeFailureCount(), nBefore);
  std::signal(SIGPIPE, pfnBefore);
}

TEST(WriteErrors, AStreamWithoutErrorsIsOk) {
  TempDir dir;
  FILE* f = std::fopen((dir / "ok.txt").c_str(), "w");
  ASSERT_NE(f, nullptr);
  nameDestination(f, "ok.txt");
  std::fputs("fine\n", f);
  const int nBefore = writeFailureCount();
  EXPECT_EQ(pollWrites(f), WriteStatus::Ok);
  EXPECT_EQ(checkWrites(f), WriteStatus::Ok);
  EXPECT_FALSE(closeOutputStream(f));
  EXPECT_EQ(writeFailureCount(), nBefore);
  EXPECT_EQ(readFile(dir / "ok.txt"), "fine\n");
}

// Runs a shell command line; returns the exit status, -1 when a signal ended it.
int runSh(const std::string& zCommand) {
  const int rc = std::system(zCommand.c_str());
  if (!WIFEXITED(rc)) return -1;
  return WEXITSTATUS(rc);
}

// The shell's own standard output cannot be redirected from inside a case
// file, so these run it through /bin/sh.
class ShellOutput : public testing::Test {
 protected:
  void SetUp() override {
    zShell = shellPath();
    if (zShell.empty()) GTEST_SKIP() << "sqlsh is not built";
    zDb = dir / "t.db";
    const std::string zMake =
        "'" + zShell + "' '" + zDb +
        "' 'CREATE TABLE t(a, b); WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x+1 FROM c "
        "WHERE x<20000) INSERT INTO t SELECT x, printf(\"row %d of the table\", x) FROM c'";
    ASSERT_EQ(runSh(zMake), 0);
  }
  // Runs sqlsh on the database with zArgs (already quoted for the shell)
  // and zRedirect for its standard output; stderr is kept in err.txt.
  int run(const std::string& zArgs, const std::string& zRedirect, const std::string& zPrefix = "") {
    return runSh(zPrefix + "'" + zShell + "' '" + zDb + "' " + zArgs + " " + zRedirect + " 2>'" +
                 (dir / "err.txt") + "'");
  }
  std::string err() { return readFile(dir / "err.txt"); }

  TempDir dir;
  shell_process::ScopedEnv home{"HOME", dir.path()};
  std::string zShell;
  std::string zDb;
};

TEST_F(ShellOutput, DumpToAFullStandardOutputFails) {
  EXPECT_EQ(run(".dump", ">/dev/full"), 1);
  EXPECT_EQ(err(), "Error: cannot write to \"stdout\": No space left on device\n");
}

TEST_F(ShellOutput, QueryFromTheCommandLineToAFullStandardOutputFails) {
  EXPECT_EQ(run("'SELECT count(*) FROM t'", ">/dev/full"), 1);
  EXPECT_EQ(err(), "Error: cannot write to \"stdout\": No space left on device\n");
}

TEST_F(ShellOutput, ScriptOnStandardInputToAFullStandardOutputFails) {
  EXPECT_EQ(run("", ">/dev/full", "printf 'SELECT 1;\\n' | "), 1);
  EXPECT_EQ(err(), "Error: cannot write to \"stdout\": No space left on device\n");
}

TEST_F(ShellOutput, DumpBeyondTheFileSizeLimitFailsInsteadOfBeingKilled) {
  // 50 blocks of 1 KiB hold only part of the dump.
  const int rc = run(".dump", ">'" + (dir / "dump.sql") + "'", "ulimit -f 50; ");
  EXPECT_EQ(rc, 1) << "a status of -1 means a signal ended the shell";
  EXPECT_EQ(err(), "Error: cannot write to \"stdout\": File too large\n");
}

TEST_F(ShellOutput, OutputFileBeyondTheFileSizeLimitIsNamed) {
  const int rc = run("'.output big.txt' 'SELECT * FROM t' '.output stdout' 'SELECT 7'",
                     ">'" + (dir / "out.txt") + "'", "cd '" + dir.path() + "'; ulimit -f 50; ");
  EXPECT_EQ(rc, 1);
  EXPECT_EQ(err(), "Error: cannot write to \"big.txt\": File too large\n");
  // The shell stops at the failing command: nothing after it ran.
  EXPECT_EQ(readFile(dir / "out.txt"), "");
}

TEST_F(ShellOutput, CompleteDumpSucceedsAndReplays) {
  ASSERT_EQ(run(".dump", ">'" + (dir / "dump.sql") + "'"), 0);
  EXPECT_EQ(err(), "");
  const std::string zCopy = dir / "copy.db";
  ASSERT_EQ(runSh("'" + zShell + "' '" + zCopy + "' <'" + (dir / "dump.sql") + "'"), 0);
  ASSERT_EQ(runSh("'" + zShell + "' '" + zCopy + "' 'SELECT count(*), sum(a) FROM t' >'" +
                  (dir / "count.txt") + "'"),
            0);
  EXPECT_EQ(readFile(dir / "count.txt"), "20000|200010000\n");
}

}  // namespace
