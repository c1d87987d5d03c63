// The end of a session at the terminal: the terminal hanging up, SIGHUP and
// SIGTERM end it at once and cleanly, and every accepted entry is already in
// the history file, which keeps its cap and its owner-only mode when
// several sessions append to it at the same time.
#include <editline/readline.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "pty_session.h"
#include "shell/app/LineEditor.h"
#include "tests/unit/shell_process.h"

namespace terminal_end {

using namespace std::chrono_literals;
using ptytest::contains;
using ptytest::EnvSettings;
using ptytest::makeDatabase;
using ptytest::PtySession;
using ptytest::queryColumn;
using ptytest::shellPath;
using ptytest::TempDir;
using shell_process::readFile;

// How soon the shell must be gone; the sanitizers' instrumentation slows
// its ending down.
constexpr auto tPromptly = shell_process::bSanitized ? 5000ms : 1000ms;

const EnvSettings editingTerminal = {{"TERM", "xterm"}};
const EnvSettings plainTerminal = {{"TERM", "dumb"}};

int modeOf(const std::string& zName) {
  struct stat st {};
  if (stat(zName.c_str(), &st) != 0) return -1;
  return static_cast<int>(st.st_mode & 07777);
}

// The entries of a history file as the line editor loads them at start-up.
std::vector<std::string> loadedEntries(const std::string& zFile) {
  using_history();
  unstifle_history();
  clear_history();
  std::vector<std::string> aEntries;
  if (read_history(zFile.c_str()) != 0) return aEntries;
  for (int i = 0; i < history_length; i++) {
    const HIST_ENTRY* pEntry = history_get(history_base + i);
    aEntries.emplace_back(pEntry != nullptr ? pEntry->line : "(missing)");
  }
  clear_history();
  return aEntries;
}

std::vector<std::string> fileLines(const std::string& zFile) {
  std::vector<std::string> aLines;
  std::istringstream in(readFile(zFile));
  for (std::string zLine; std::getline(in, zLine);) aLines.push_back(zLine);
  return aLines;
}

// The processor time the process has used, in clock ticks.
long cpuTicks(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string zText((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t iName = zText.rfind(')');
  if (iName == std::string::npos) return -1;
  std::istringstream fields(zText.substr(iName + 2));
  std::string zField;
  long nUser = 0;
  long nSystem = 0;
  // After the name: state, then fields 4 to 13, then utime and stime.
  for (int i = 3; i <= 13 && fields >> zField; i++) {
  }
  fields >> nUser >> nSystem;
  return nUser + nSystem;
}

// Waits until the process has spent nTicks more of processor time: the
// statement it was given is running, not about to start.
bool waitForWork(pid_t pid, long nTicks) {
  const long nStart = cpuTicks(pid);
  const auto tDeadline = std::chrono::steady_clock::now() + 20s;
  while (std::chrono::steady_clock::now() < tDeadline) {
    if (cpuTicks(pid) >= nStart + nTicks) return true;
    std::this_thread::sleep_for(5ms);
  }
  return false;
}

// Waits for the shell to end; the time it took is left in *ptTaken.
int waitTimed(PtySession* pSession, std::chrono::steady_clock::duration* ptTaken) {
  const auto tStart = std::chrono::steady_clock::now();
  const int status = pSession->waitStatus(20s);
  *ptTaken = std::chrono::steady_clock::now() - tStart;
  return status;
}

double millis(std::chrono::steady_clock::duration t) {
  return std::chrono::duration<double, std::milli>(t).count();
}

// ---------------------------------------------------------------------------
// The terminal goes away.

TEST(TerminalEnd, HangingUpWithAStatementTypedEndsAtOnceAndKeepsTheAcceptedEntries) {
  if (shellPath().empty()) GTEST_SKIP() << "sqlsh has not been built";
  struct Case {
    const char* zName;
    EnvSettings env;
    std::vector<int> aIgnored;       // signals the shell starts ignoring
    std::vector<std::string> aArgs;  // before the database
    bool bHistory;                   // the accepted entries are expected in the file
  };
  const Case aCases[] = {
      // The kernel sends SIGHUP to the terminal's controlling process.
      {"hang-up signal", editingTerminal, {}, {}, true},
      // Started under nohup: only the terminal's end of input tells.
      {"hang-up ignored", editingTerminal, {SIGHUP}, {}, true},
      {"plain input, hang-up signal", plainTerminal, {}, {}, false},
      {"plain input, hang-up ignored", plainTerminal, {SIGHUP}, {}, false},
      {"safe mode", editingTerminal, {}, {"-safe"}, false},
  };
  for (const Case& c : aCases) {
    SCOPED_TRACE(c.zName);
    TempDir home;
    std::vector<std::string> aArgs = c.aArgs;
    aArgs.push_back(home.path() + "/db.sqlite");
    PtySession s(aArgs, home.path(), c.env, c.aIgnored);
    ASSERT_TRUE(s.started());
    s.readUntil("sqlite> ");
    s.send("SELECT 'first';\r");
    EXPECT_TRUE(contains(s.readUntil("sqlite> "), "first\n"));
    s.send("SELECT 'two'\r");
    s.readUntil("   ...> ");
    s.send("|| ' lines';\r");
    EXPECT_TRUE(contains(s.readUntil("sqlite> "), "two lines\n"));
    // Half a statement typed when the terminal goes.
    s.send("SELECT 'half");
    if (c.env == editingTerminal) s.readUntil("'half");
    s.hangUp();
    std::chrono::steady_clock::duration tTaken{};
    const int status = waitTimed(&s, &tTaken);
    ASSERT_NE(status, -1) << "still running";
    EXPECT_LT(tTaken, tPromptly) << millis(tTaken) << " ms";
    if (c.aIgnored.empty()) {
      EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGHUP) << status;
    } else {
      EXPECT_TRUE(WIFEXITED(status)) << status;
    }
    const std::string zHistory = home.path() + "/.sqlsh_history";
    if (!c.bHistory) {
      EXPECT_FALSE(ptytest::fs::exists(zHistory));
      continue;
    }
    EXPECT_EQ(loadedEntries(zHistory),
              (std::vector<std::string>{"SELECT 'first';", "SELECT 'two'\n|| ' lines';"}));
    EXPECT_EQ(modeOf(zHistory), 0600);
  }
}

// ---------------------------------------------------------------------------
// SIGHUP and SIGTERM.

TEST(TerminalEnd, SighupAndSigtermEndTheSessionAtOnceAndLeaveTheTransactionToRollBack) {
  if (shellPath().empty()) GTEST_SKIP() << "sqlsh has not been built";
  const char* zLongQuery =
      "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT count(*) FROM c;";
  for (const int iSignal : {SIGHUP, SIGTERM}) {
    for (const EnvSettings& env : {editingTerminal, plainTerminal}) {
      for (const bool bRunning : {false, true}) {
        SCOPED_TRACE(std::string(iSignal == SIGHUP ? "SIGHUP, " : "SIGTERM, ") +
                     env.front().second + (bRunning ? ", during a statement" : ", at the prompt"));
        TempDir home;
        const std::string zDb = home.path() + "/db.sqlite";
        makeDatabase(zDb, "CREATE TABLE t(x); INSERT INTO t VALUES(1);");
        PtySession s({zDb}, home.path(), env);
        ASSERT_TRUE(s.started());
        s.readUntil("sqlite> ");
        s.send("BEGIN; INSERT INTO t VALUES(2);\r");
        s.readUntil("sqlite> ");
        s.send("SELECT count(*) FROM t;\r");
        EXPECT_TRUE(contains(s.readUntil("sqlite> "), "2\n"));
        if (bRunning) {
          s.send(std::string(zLongQuery) + "\r");
          ASSERT_TRUE(waitForWork(s.pid(), 10));
        } else {
          s.send("DELETE FROM t");  // not ended: never run
          if (env == editingTerminal) s.readUntil("FROM t");
        }
        kill(s.pid(), iSignal);
        std::chrono::steady_clock::duration tTaken{};
        const int status = waitTimed(&s, &tTaken);
        ASSERT_NE(status, -1) << "still running";
        EXPECT_LT(tTaken, tPromptly) << millis(tTaken) << " ms";
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == iSignal) << status;
        const std::string zOutput = s.readUntil("");
        if (bRunning) {
          EXPECT_TRUE(contains(zOutput, "Runtime error: interrupted")) << zOutput;
        }
        // The connection was closed, not abandoned: no journal is left to
        // roll back, and the row added in the open transaction is gone.
        EXPECT_FALSE(ptytest::fs::exists(zDb + "-journal"));
        EXPECT_EQ(queryColumn(zDb, "SELECT group_concat(x) FROM t"), std::vector<std::string>{"1"});
        if (env == editingTerminal) {
          std::vector<std::string> aExpected = {"BEGIN; INSERT INTO t VALUES(2);",
                                                "SELECT count(*) FROM t;"};
          if (bRunning) aExpected.emplace_back(zLongQuery);
          EXPECT_EQ(loadedEntries(home.path() + "/.sqlsh_history"), aExpected);
        }
      }
    }
  }
}

// ---------------------------------------------------------------------------
// The history file.

TEST(TerminalEnd, TwoSessionsAtOnceBothKeepTheirEntries) {
  if (shellPath().empty()) GTEST_SKIP() << "sqlsh has not been built";
  TempDir home;
  PtySession a({":memory:"}, home.path(), editingTerminal);
  PtySession b({":memory:"}, home.path(), editingTerminal);
  ASSERT_TRUE(a.started());
  ASSERT_TRUE(b.started());
  a.readUntil("sqlite> ");
  b.readUntil("sqlite> ");
  for (int i = 1; i <= 3; i++) {
    for (auto [pSession, zName] : {std::pair{&a, "a"}, std::pair{&b, "b"}}) {
      pSession->send("SELECT '" + std::string(zName) + std::to_string(i) + "';\r");
      pSession->readUntil("sqlite> ");
    }
  }
  // One ends normally, the other with its terminal.
  a.send(".quit\r");
  EXPECT_EQ(a.waitExit(), 0);
  b.hangUp();
  EXPECT_NE(b.waitStatus(), -1);
  const std::string zHistory = home.path() + "/.sqlsh_history";
  EXPECT_EQ(loadedEntries(zHistory),
            (std::vector<std::string>{"SELECT 'a1';", "SELECT 'b1';", "SELECT 'a2';",
                                      "SELECT 'b2';", "SELECT 'a3';", "SELECT 'b3';", ".quit"}));
  EXPECT_EQ(modeOf(zHistory), 0600);
}

TEST(HistoryFile, AnEntryIsAppendedInTheEditorsOwnFormat) {
  TempDir dir;
  const std::string zFile = dir.path() + "/history";
  using_history();
  unstifle_history();
  clear_history();
  // Spaces, a line end and a backslash, which the file's format escapes.
  const std::vector<std::string> aEntries = {"SELECT 1;", "SELECT 'a b'\n|| '\\';",
                                             ".print caf\xc3\xa9"};
  for (const std::string& zEntry : aEntries) {
    add_history(zEntry.c_str());
    ASSERT_TRUE(appendHistoryEntry(zFile));
  }
  clear_history();
  // Each entry once, in order, and nothing else.
  EXPECT_EQ(fileLines(zFile).size(), aEntries.size() + 1);
  EXPECT_EQ(loadedEntries(zFile), aEntries);
  EXPECT_EQ(modeOf(zFile), 0600);
}

TEST(HistoryFile, TheCapHoldsAndABrokenFileIsMended) {
  struct Case {
    const char* zName;
    const char* zBefore;  // the file's text before (null: no file)
    int nAppends;
    int nMax;
    std::vector<std::string> aAfter;  // the entries after: "e<i>" for the i-th append
  };
  const Case aCases[] = {
      {"new file", nullptr, 3, 5, {"e0", "e1", "e2"}},
      {"many appends", nullptr, 40, 5, {"e35", "e36", "e37", "e38", "e39"}},
      {"over the cap already", "_HiStOrY_V2_\no1\no2\no3\no4\no5\no6\n", 1, 3, {"o5", "o6", "e0"}},
      {"partial last line", "_HiStOrY_V2_\no1\no2\npart", 1, 10, {"o1", "o2", "e0"}},
      {"not a history file", "some text\n", 1, 10, {"e0"}},
      {"empty file", "", 2, 10, {"e0", "e1"}},
  };
  for (const Case& c : aCases) {
    SCOPED_TRACE(c.zName);
    TempDir dir;
    const std::string zFile = dir.path() + "/history";
    if (c.zBefore != nullptr) {
      shell_process::writeFile(zFile, c.zBefore);
      chmod(zFile.c_str(), 0644);
    }
    for (int i = 0; i < c.nAppends; i++) {
      ASSERT_TRUE(appendHistoryLine(zFile, "e" + std::to_string(i), c.nMax));
    }
    std::vector<std::string> aExpected = {"_HiStOrY_V2_"};
    aExpected.insert(aExpected.end(), c.aAfter.begin(), c.aAfter.end());
    EXPECT_EQ(fileLines(zFile), aExpected);
    EXPECT_EQ(modeOf(zFile), 0600);
    // Nothing is left beside it.
    EXPECT_EQ(std::distance(ptytest::fs::directory_iterator(dir.path()),
                            ptytest::fs::directory_iterator()),
              1);
  }
  // A file that is not a regular one is left alone.
  EXPECT_FALSE(appendHistoryLine("/dev/null", "e0", 10));
  EXPECT_FALSE(appendHistoryLine("", "e0", 10));
}

TEST(HistoryFile, ProcessesAppendingAtOnceLoseNothingAndKeepTheCap) {
  constexpr int nProcesses = 4;
  constexpr int nEach = 60;
  for (const int nMax : {nHistoryMax, 50}) {
    SCOPED_TRACE(nMax);
    TempDir dir;
    const std::string zFile = dir.path() + "/history";
    std::vector<pid_t> aPids;
    for (int iProcess = 0; iProcess < nProcesses; iProcess++) {
      const pid_t pid = fork();
      ASSERT_GE(pid, 0);
      if (pid == 0) {
        bool bOk = true;
        for (int i = 0; i < nEach; i++) {
          bOk = appendHistoryLine(zFile, "p" + std::to_string(iProcess) + "-" + std::to_string(i),
                                  nMax) &&
                bOk;
        }
        _exit(bOk ? 0 : 1);
      }
      aPids.push_back(pid);
    }
    for (const pid_t pid : aPids) {
      int status = 0;
      ASSERT_EQ(waitpid(pid, &status, 0), pid);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const std::vector<std::string> aLines = fileLines(zFile);
    ASSERT_FALSE(aLines.empty());
    EXPECT_EQ(aLines.front(), "_HiStOrY_V2_");
    const std::set<std::string> aDistinct(aLines.begin() + 1, aLines.end());
    const size_t nExpected = std::min<size_t>(nProcesses * nEach, static_cast<size_t>(nMax));
    EXPECT_EQ(aLines.size() - 1, nExpected);
    EXPECT_EQ(aDistinct.size(), nExpected);
    // Each process's own entries stay in the order it wrote them; under no
    // cap, all of them.
    for (int iProcess = 0; iProcess < nProcesses; iProcess++) {
      const std::string zPrefix = "p" + std::to_string(iProcess) + "-";
      int iPrevious = -1;
      for (size_t i = 1; i < aLines.size(); i++) {
        if (aLines[i].compare(0, zPrefix.size(), zPrefix) != 0) continue;
        const int iNow = std::stoi(aLines[i].substr(zPrefix.size()));
        EXPECT_GT(iNow, iPrevious) << aLines[i];
        iPrevious = iNow;
      }
      if (nExpected == nProcesses * nEach) {
        EXPECT_EQ(iPrevious, nEach - 1);
      }
    }
  }
}

}  // namespace terminal_end
