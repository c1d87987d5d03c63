// The pager at a terminal of 80x24, with small scripts as pagers that record
// what they receive: output taller than the window goes to the pager whole
// and byte for byte, shorter output to the terminal; quitting the pager stops
// the statement quietly; pipes never page.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include "pty_session.h"
#include "shell/exec/Columnar.h"
#include "tests/unit/shell_process.h"

using namespace ptytest;

namespace {

using shell_process::readFile;
using shell_process::writeFile;

int countOf(const std::string& z, const std::string& zPart) {
  int n = 0;
  for (size_t i = z.find(zPart); i != std::string::npos; i = z.find(zPart, i + 1)) n++;
  return n;
}

constexpr const char* z500Rows =
    "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < 500) "
    "SELECT x, 'row ' || x AS label FROM c;";
constexpr const char* z5Rows =
    "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < 5) "
    "SELECT x FROM c;";
constexpr const char* zEndless =
    "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT x FROM c;";

// A folder with the pager scripts: "record" appends what it reads to "got"
// and a line to "starts" each time it runs; "quit" reads about a screen and
// exits, as a user quitting after the first page.
class PagerTerminal : public testing::Test {
 protected:
  void SetUp() override {
    if (shellPath().empty()) GTEST_SKIP() << "sqlsh not built";
    zRecord = home.path() + "/record.sh";
    writeFile(zRecord, "#!/bin/sh\necho start >> '" + home.path() + "/starts'\ncat >> '" +
                           home.path() + "/got'\n");
    zQuit = home.path() + "/quit.sh";
    writeFile(zQuit, "#!/bin/sh\necho start >> '" + home.path() + "/starts'\nhead -c 2000 > '" +
                         home.path() + "/first'\n");
    chmod(zRecord.c_str(), 0755);
    chmod(zQuit.c_str(), 0755);
  }
  std::unique_ptr<PtySession> start(const std::string& zPager,
                                    const std::vector<std::string>& azArgs = {":memory:"}) {
    auto s =
        std::make_unique<PtySession>(azArgs, home.path(), EnvSettings{{"SQLSH_PAGER", zPager}});
    EXPECT_TRUE(s->started());
    s->readUntil("sqlite> ", 20s);
    return s;
  }
  int starts() { return countOf(readFile(home.path() + "/starts"), "start"); }
  std::string got() { return readFile(home.path() + "/got"); }
  // What the same input prints through a pipe.
  std::string piped(const std::string& zScript) {
    TempDir scratch;
    auto r = shell_process::runShell({":memory:"}, zScript, scratch.path(), scratch.path(),
                                     {"SQLSH_PAGER=" + zRecord});
    EXPECT_TRUE(r.bExited);
    return r.zOut;
  }
  void finish(PtySession& s) {
    s.send(".quit\n");
    EXPECT_EQ(s.waitExit(20s), 0);
  }
  TempDir home;
  std::string zRecord, zQuit;
};

TEST_F(PagerTerminal, TallOutputGoesToThePagerOnceAndExactlyShortOutputDoesNot) {
  auto s = start(zRecord);
  EXPECT_EQ(answer(*s, z5Rows), "1\n2\n3\n4\n5\n");
  EXPECT_EQ(starts(), 0);
  EXPECT_EQ(answer(*s, z500Rows), "");
  EXPECT_EQ(starts(), 1);
  EXPECT_EQ(got(), piped(std::string(z500Rows) + "\n"));
  // A fitted table pages the same way, and the pager gets it fitted.
  answer(*s, ".mode box");
  answer(*s,
         "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < 30) "
         "SELECT x, printf('%.70c', 'a') AS a, printf('%.70c', 'b') AS b FROM c;");
  EXPECT_EQ(starts(), 2);
  std::istringstream in(got());
  int nFitted = 0;
  for (std::string zLine; std::getline(in, zLine);) {
    EXPECT_LE(textWidth(zLine.c_str()), 80) << zLine;
    nFitted += contains(zLine, "\xe2\x94\x82") ? 1 : 0;
  }
  EXPECT_GT(nFitted, 30);
  finish(*s);
}

TEST_F(PagerTerminal, QuittingThePagerStopsAnEndlessQueryQuietly) {
  auto s = start(zQuit);
  s->send(std::string(zEndless) + "\n");
  const auto t0 = std::chrono::steady_clock::now();
  const std::string zOut = s->readUntil("sqlite> ", 20s);
  const auto elapsed = std::chrono::steady_clock::now() - t0;
  EXPECT_TRUE(zOut.size() >= 8 && zOut.compare(zOut.size() - 8, 8, "sqlite> ") == 0) << zOut;
#if !defined(__SANITIZE_ADDRESS__)
  EXPECT_LT(elapsed, 5s);  // within a second when the machine is not loaded
#endif
  (void)elapsed;
  EXPECT_FALSE(contains(zOut, "rror")) << zOut;
  EXPECT_EQ(starts(), 1);
  EXPECT_EQ(readFile(home.path() + "/first").rfind("1\n2\n3\n", 0), 0u);
  EXPECT_EQ(answer(*s, "SELECT 42;"), "42\n");
  finish(*s);  // status 0: the quit pager was no error
}

// While the pager runs it owns the keyboard, Ctrl-C included: the shell
// neither ends nor reads what is typed until the pager has exited.
TEST_F(PagerTerminal, CtrlCWhilePagingNeverEndsTheShell) {
  const std::string zSlow = home.path() + "/slow.sh";
  writeFile(zSlow, "#!/bin/sh\ntrap '' INT\necho start >> '" + home.path() +
                       "/starts'\nhead -c 1 > /dev/null\nwhile [ ! -f '" + home.path() +
                       "/go' ]; do sleep 0.05; done\ncat >> '" + home.path() + "/got'\n");
  chmod(zSlow.c_str(), 0755);
  auto s = start(zSlow);
  s->send(std::string(z500Rows) + "\n");
  for (int i = 0; i < 200 && starts() == 0; i++) usleep(50000);
  ASSERT_EQ(starts(), 1);
  for (int i = 0; i < 4; i++) {
    s->send("\x03");
    usleep(150000);  // one signal at a time, not merged into one
  }
  writeFile(home.path() + "/go", "");
  s->readUntil("sqlite> ", 20s);
  EXPECT_EQ(answer(*s, "SELECT 42;"), "42\n");
  finish(*s);
}

TEST_F(PagerTerminal, HelpPagesAndPolicyFollowsDotPager) {
  auto s = start(zRecord);
  EXPECT_EQ(answer(*s, ".help"), "");
  EXPECT_EQ(starts(), 1);
  EXPECT_TRUE(contains(got(), ".width NUM1 NUM2 ...")) << got();
  EXPECT_TRUE(contains(got(), ".pager ")) << got();
  EXPECT_EQ(answer(*s, ".pager"), "pager: on (" + zRecord + ")\n");
  answer(*s, ".pager off");
  EXPECT_TRUE(contains(answer(*s, z500Rows), "500|row 500\n"));
  EXPECT_EQ(starts(), 1);
  answer(*s, ".pager always");
  EXPECT_EQ(answer(*s, "SELECT 7;"), "");
  EXPECT_EQ(answer(*s, ".mode list"), "");  // no output: no pager
  EXPECT_EQ(starts(), 2);
  EXPECT_TRUE(contains(got(), "\n7\n"));
  EXPECT_EQ(answer(*s, ".show"), "");  // paged too
  EXPECT_TRUE(contains(got(), "    expanded: auto\n       pager: always (")) << got();
  finish(*s);
}

TEST_F(PagerTerminal, APagerThatCannotStartIsReportedOnceAndTheTerminalGetsTheOutput) {
  auto s = start(home.path() + "/no-such-pager --flag");
  const std::string zFirst = answer(*s, z500Rows);
  EXPECT_EQ(countOf(zFirst, "cannot start the pager"), 1) << zFirst.substr(0, 200);
  EXPECT_TRUE(contains(zFirst, "1|row 1\n")) << zFirst.substr(0, 200);
  EXPECT_TRUE(contains(zFirst, "500|row 500\n"));
  const std::string zSecond = answer(*s, z500Rows);
  EXPECT_FALSE(contains(zSecond, "cannot start the pager"));
  EXPECT_TRUE(contains(zSecond, "500|row 500\n"));
  // An empty pager setting means none.
  auto s2 = start("");
  EXPECT_TRUE(contains(answer(*s2, z500Rows), "500|row 500\n"));
  EXPECT_EQ(answer(*s2, ".pager"), "pager: on (no pager)\n");
  finish(*s2);
  finish(*s);
}

TEST_F(PagerTerminal, SafeModeKeepsThePolicyButRefusesAPagerCommand) {
  auto s = start(zRecord, {"-safe", ":memory:"});
  answer(*s, ".pager always");
  EXPECT_EQ(answer(*s, "SELECT 9;"), "");
  EXPECT_EQ(starts(), 1);
  s->send(".pager cat\n");
  const std::string zOut = s->readUntil("safe mode\n", 20s);
  EXPECT_TRUE(contains(zOut, "cannot set a pager command in safe mode")) << zOut;
  EXPECT_EQ(s->waitExit(20s), 1);
}

TEST_F(PagerTerminal, PipesAndScriptsNeverPage) {
  const std::string zScript = std::string(".pager always\n") + z500Rows + "\n.help\n";
  const std::string zOut = piped(zScript);
  EXPECT_TRUE(contains(zOut, "500|row 500\n"));
  EXPECT_EQ(starts(), 0);
  // .read at the terminal: the script's output is paged as one input, and
  // the bytes are those of the pipe.
  writeFile(home.path() + "/script.sql", std::string(z500Rows) + "\n");
  auto s = start(zRecord);
  EXPECT_EQ(answer(*s, ".read script.sql"), "");
  EXPECT_EQ(starts(), 1);
  EXPECT_EQ(got(), piped(std::string(z500Rows) + "\n"));
  finish(*s);
}

}  // namespace
