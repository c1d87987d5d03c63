// The shell on a terminal and under Ctrl-C: runs the real sqlsh on a
// pseudo-terminal or on pipes and drives it like a user would.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

#include "pty_session.h"

using namespace ptytest;

namespace {

TEST(Terminal, BannerAndInMemoryNoticeInBrightRed) {
  REQUIRE_SHELL();
  TempDir home;
  PtySession s({}, home.path(), {{"TERM", "xterm"}});
  ASSERT_TRUE(s.started());
  std::string out = s.readUntil("sqlite> ");
  EXPECT_EQ(out, bannerText() +
                     "Connected to a \x1b[1;31mtransient in-memory database\x1b[0m.\n"
                     "Use \".open FILENAME\" to reopen on a persistent database.\n"
                     "sqlite> ");
  s.send(".quit\n");
  EXPECT_EQ(s.waitExit(), 0);
}

TEST(Terminal, NoNoticeWithAFileNameAndPromptsForContinuationLines) {
  REQUIRE_SHELL();
  TempDir home;
  PtySession s({":memory:"}, home.path());
  ASSERT_TRUE(s.started());
  EXPECT_EQ(s.readUntil("sqlite> "), bannerText() + "sqlite> ");
  s.send("SELECT 40 +\n");
  EXPECT_EQ(s.readUntil("   ...> "), "SELECT 40 +\n   ...> ");
  s.send("2;\n");
  EXPECT_EQ(s.readUntil("sqlite> "), "2;\n42\nsqlite> ");
  // At the console, errors have no line numbers and reading goes on.
  s.send("SELECT * FROM nosuch;\n");
  EXPECT_EQ(s.readUntil("sqlite> "),
            "SELECT * FROM nosuch;\nParse error: no such table: nosuch\nsqlite> ");
  // End of input leaves the loop with a newline; the error sets the exit code.
  s.send("\x04");
  EXPECT_EQ(s.readUntil("\n"), "\n");
  EXPECT_EQ(s.waitExit(), 1);
}

TEST(Terminal, InitializationFileIsAnnounced) {
  REQUIRE_SHELL();
  TempDir home;
  std::ofstream(home.path() + "/.sqliterc") << "CREATE TABLE fromrc(a);\n";
  PtySession s({":memory:"}, home.path());
  ASSERT_TRUE(s.started());
  EXPECT_EQ(s.readUntil("sqlite> "), "-- Loading resources from " + home.path() + "/.sqliterc\n" +
                                         bannerText() + "sqlite> ");
  s.send("SELECT name FROM sqlite_schema;\n");
  EXPECT_EQ(s.readUntil("sqlite> "), "SELECT name FROM sqlite_schema;\nfromrc\nsqlite> ");
  s.send(".quit\n");
  EXPECT_EQ(s.waitExit(), 0);
}

// Signals of one kind do not queue: waits until the process has taken a
// pending SIGINT, so that the next one counts on its own.
void waitUntilSigintTaken(pid_t pid) {
  auto deadline = std::chrono::steady_clock::now() + 5s;
  while (std::chrono::steady_clock::now() < deadline) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    bool bPending = false;
    while (std::getline(status, line)) {
      if (line.rfind("SigPnd:", 0) == 0 || line.rfind("ShdPnd:", 0) == 0) {
        unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
        if (mask & (1ull << (SIGINT - 1))) bPending = true;
      }
    }
    if (!bPending) return;
    std::this_thread::sleep_for(5ms);
  }
}

TEST(Terminal, CtrlCStopsAStatementAndTheShellGoesOn) {
  REQUIRE_SHELL();
  TempDir home;
  PtySession s({":memory:"}, home.path());
  ASSERT_TRUE(s.started());
  s.readUntil("sqlite> ");
  s.send("SELECT 'connection open';\n");  // so that Ctrl-C has a connection to interrupt
  s.readUntil("sqlite> ");
  s.send(
      "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT count(*) FROM c;\n");
  std::this_thread::sleep_for(300ms);
  s.send("\x03");
  std::string out = s.readUntil("sqlite> ");
  EXPECT_NE(out.find("Runtime error: interrupted"), std::string::npos) << out;
  // That Ctrl-C still counts until a line is read: one more leaves the count
  // at two, and the next line clears it.
  kill(s.pid(), SIGINT);
  waitUntilSigintTaken(s.pid());
  s.send("SELECT 'still running';\n");
  out = s.readUntil("sqlite> ");
  EXPECT_NE(out.find("still running\nsqlite> "), std::string::npos) << out;
  for (int i = 0; i < 2; i++) {
    kill(s.pid(), SIGINT);
    waitUntilSigintTaken(s.pid());
  }
  s.send("SELECT 'and still';\n");
  out = s.readUntil("sqlite> ");
  EXPECT_NE(out.find("and still\nsqlite> "), std::string::npos) << out;
  s.send(".quit\n");
  EXPECT_EQ(s.waitExit(), 1);
}

TEST(Terminal, ThirdUnconsumedCtrlCEndsTheShell) {
  REQUIRE_SHELL();
  TempDir home;
  PtySession s({":memory:"}, home.path());
  ASSERT_TRUE(s.started());
  s.readUntil("sqlite> ");
  // Sent directly rather than typed, so that each one is pending before
  // the wait for its delivery starts.
  for (int i = 0; i < 3; i++) {
    kill(s.pid(), SIGINT);
    waitUntilSigintTaken(s.pid());
  }
  EXPECT_EQ(s.waitExit(), 1);
}

// Reads what is available on fd until zText shows up or the time is up.
bool waitForOutput(int fd, std::string* pOut, const std::string& zText,
                   std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (pOut->find(zText) == std::string::npos) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd pfd{fd, POLLIN, 0};
    if (poll(&pfd, 1, static_cast<int>(left.count())) <= 0) continue;
    char buf[4096];
    ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) return pOut->find(zText) != std::string::npos;
    pOut->append(buf, static_cast<size_t>(n));
  }
  return true;
}

std::string readAll(int fd) {
  std::string s;
  char buf[4096];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) s.append(buf, static_cast<size_t>(n));
  return s;
}

TEST(Interrupt, SigintStopsALongStatementAndEndsScriptInput) {
  REQUIRE_SHELL();
  TempDir home;
  std::string script = home.path() + "/script.sql";
  std::ofstream(script) << "SELECT 'started';\n"
                           "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c)\n"
                           "  SELECT count(*) FROM c;\n"
                           "SELECT 'after';\n";
  int outPipe[2];
  int errPipe[2];
  ASSERT_EQ(pipe(outPipe), 0);
  ASSERT_EQ(pipe(errPipe), 0);
  std::string exe = shellPath();
  pid_t pid = fork();
  if (pid == 0) {
    int in = open(script.c_str(), O_RDONLY);
    if (in < 0) _exit(126);
    dup2(in, 0);
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    close(outPipe[0]);
    close(errPipe[0]);
    setenv("HOME", home.path().c_str(), 1);
    execl(exe.c_str(), "sqlsh", ":memory:", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  std::string out;
  ASSERT_TRUE(waitForOutput(outPipe[0], &out, "started\n", 10s)) << out;
  std::this_thread::sleep_for(300ms);
  kill(pid, SIGINT);

  // A second SIGINT, should the first have come before the statement began,
  // still stays below the count that ends the process.
  int status = 0;
  auto start = std::chrono::steady_clock::now();
  bool bResent = false;
  while (waitpid(pid, &status, WNOHANG) != pid) {
    auto waited = std::chrono::steady_clock::now() - start;
    if (!bResent && waited > 3s) {
      kill(pid, SIGINT);
      bResent = true;
    }
    if (waited > 10s) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      FAIL() << "the statement was not interrupted";
    }
    std::this_thread::sleep_for(10ms);
  }
  out += readAll(outPipe[0]);
  std::string err = readAll(errPipe[0]);
  close(outPipe[0]);
  close(errPipe[0]);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_EQ(out, "started\n");
  EXPECT_EQ(err.rfind("Runtime error near line 2: interrupted", 0), 0u) << err;
}

TEST(DebugBreak, NonInteractiveShellStopsWithSigtrap) {
  REQUIRE_SHELL();
  std::string exe = shellPath();
  pid_t pid = fork();
  if (pid == 0) {
    int devNull = open("/dev/null", O_RDWR);
    dup2(devNull, 0);
    dup2(devNull, 1);
    dup2(devNull, 2);
    rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);  // the trap must not leave a core file
    setenv("SQLITE_DEBUG_BREAK", "1", 1);
    execl(exe.c_str(), "sqlsh", ":memory:", static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFSIGNALED(status));
  EXPECT_EQ(WTERMSIG(status), SIGTRAP);
}

}  // namespace
