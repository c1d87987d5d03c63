// At the keyboard: Ctrl-R's search of the history (Enter runs the entry
// found, a key that moves or Escape leaves it to be edited), the statement in
// an editor (Ctrl-X Ctrl-E and .edit), and .watch ended by Ctrl-C, driven
// through a pseudo-terminal.
#include <editline/readline.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "pty_session.h"
#include "tests/unit/shell_process.h"

namespace recall_terminal_test {

using namespace ptytest;
using shell_process::readFile;
using shell_process::writeFile;

constexpr const char* keyCtrlC = "\x03";
constexpr const char* keyCtrlG = "\x07";
constexpr const char* keyCtrlR = "\x12";
constexpr const char* keyCtrlXCtrlE = "\x18\x05";

bool has(const std::string& zText, const std::string& zPart) {
  return zText.find(zPart) != std::string::npos;
}

int countOf(const std::string& zText, const std::string& zPart) {
  int n = 0;
  for (size_t i = zText.find(zPart); i != std::string::npos; i = zText.find(zPart, i + 1)) n++;
  return n;
}

// Everything the shell prints within the time given (it is expected to be
// waiting at its prompt, printing nothing more).
std::string quietFor(PtySession& s, std::chrono::milliseconds wait) {
  return s.readUntil("\x01 never printed \x01", wait);
}

// Reads until the output holds zText anywhere (libedit may move the cursor
// after it), or until the time is up; returns what was read.
std::string readUntilHolding(PtySession& s, const std::string& zText,
                             std::chrono::milliseconds timeout = 10s) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  std::string zOut;
  while (!has(zOut, zText) && std::chrono::steady_clock::now() < deadline) {
    zOut += quietFor(s, 50ms);
  }
  return zOut;
}

// The entries of a history file as the line editor loads them.
std::vector<std::string> historyOf(const std::string& zFile) {
  using_history();
  unstifle_history();
  clear_history();
  std::vector<std::string> azEntry;
  if (read_history(zFile.c_str()) == 0) {
    for (int i = 0; i < history_length; i++) {
      const HIST_ENTRY* pEntry = history_get(history_base + i);
      azEntry.emplace_back(pEntry != nullptr ? pEntry->line : "(missing)");
    }
  }
  clear_history();
  return azEntry;
}

// A session with line editing, its history file in the home directory.
struct EditingSession {
  explicit EditingSession(const std::vector<std::string>& args = {":memory:"},
                          EnvSettings env = {}) {
    env.emplace_back("TERM", "xterm");
    session = std::make_unique<PtySession>(args, home.path(), env);
    session->readUntil("sqlite> ");
  }
  // Types a statement and waits for the prompt after its result.
  std::string run(const std::string& zLine) {
    session->send(zLine + "\r");
    return session->readUntil("sqlite> ");
  }
  PtySession& s() { return *session; }
  TempDir home;
  std::unique_ptr<PtySession> session;
};

// ---------------------------------------------------------------------------
// Ctrl-R.

TEST(HistorySearch, EnterRunsTheEntryFoundOnceAndLeavesOneFreshPrompt) {
  REQUIRE_SHELL();
  EditingSession e;
  ASSERT_TRUE(e.s().started());
  e.run("SELECT 11;");
  e.run("SELECT 22;");
  e.s().send(keyCtrlR);
  e.s().send("1");
  e.s().send("1");
  std::string out = readUntilHolding(e.s(), "`11': SELECT 11;");
  EXPECT_TRUE(has(out, "(reverse-i-search)`11': SELECT 11;")) << out;
  e.s().send("\r");
  out = e.s().readUntil("\n11\nsqlite> ");
  EXPECT_TRUE(has(out, "\n11\nsqlite> ")) << out;
  // Nothing else: no second run, no empty line with its own prompt.
  const std::string zAfter = quietFor(e.s(), 500ms);
  EXPECT_EQ(zAfter, "");
  // The shell answers as before, and the entry run is the newest one now.
  EXPECT_TRUE(has(e.run("SELECT 'next';"), "next\n"));
  e.s().send(".quit\r");
  EXPECT_EQ(e.s().waitExit(), 0);
  const std::vector<std::string> azHistory = historyOf(e.home.path() + "/.sqlsh_history");
  EXPECT_EQ(azHistory, (std::vector<std::string>{"SELECT 11;", "SELECT 22;", "SELECT 11;",
                                                 "SELECT 'next';", ".quit"}));
}

// Ctrl-R goes to older entries, Ctrl-S back to newer ones (the terminal's
// flow control does not take Ctrl-S meanwhile); a repeated entry is passed.
TEST(HistorySearch, CtrlRAndCtrlSWalkTheMatchingEntries) {
  REQUIRE_SHELL();
  EditingSession e;
  ASSERT_TRUE(e.s().started());
  e.run("SELECT 'a1';");
  e.run("SELECT 'a2';");
  e.run("SELECT 'b';");
  e.run("SELECT 'a2';");
  e.s().send(keyCtrlR);
  e.s().send("a");
  EXPECT_TRUE(has(readUntilHolding(e.s(), "`a': SELECT 'a2';"), "`a': SELECT 'a2';"));
  e.s().send(keyCtrlR);
  EXPECT_TRUE(has(readUntilHolding(e.s(), "`a': SELECT 'a1';"), "`a': SELECT 'a1';"));
  e.s().send("\x13");
  EXPECT_TRUE(has(readUntilHolding(e.s(), "`a': SELECT 'a2';"), "`a': SELECT 'a2';"));
  e.s().send("\r");
  const std::string out = e.s().readUntil("sqlite> ");
  EXPECT_TRUE(has(out, "\na2\nsqlite> ")) << out;
  EXPECT_FALSE(has(out, "\na1\n")) << out;
  e.s().send(".quit\r");
  EXPECT_EQ(e.s().waitExit(), 0);
}

// The search takes one row whatever the entry: a long one, or one of several
// lines, shows the part around the text found; Enter still runs all of it.
TEST(HistorySearch, ALongEntryIsShownOnOneRowAroundTheTextFound) {
  REQUIRE_SHELL();
  EditingSession e;
  ASSERT_TRUE(e.s().started());
  e.s().resize(24, 40);
  e.s().send("SELECT 'a statement longer than the window',\r");
  e.s().readUntil("   ...> ");
  e.run("'its second line' AS tail;");
  e.s().send(keyCtrlR);
  e.s().send("tail");
  std::string out = readUntilHolding(e.s(), "' AS tail;");
  EXPECT_TRUE(has(out, "(reverse-i-search)`tail': ...")) << out;
  EXPECT_FALSE(has(out, "\n")) << out;
  e.s().send("\r");
  out = e.s().readUntil("sqlite> ");
  EXPECT_TRUE(has(out, "a statement longer than the window|its second line\n")) << out;
  e.s().send(".quit\r");
  EXPECT_EQ(e.s().waitExit(), 0);
}

TEST(HistorySearch, EscapeOrAKeyThatMovesLeavesTheEntryToBeEdited) {
  REQUIRE_SHELL();
  const struct {
    const char* zTitle;
    const char* zKey;   // ends the search
    const char* zEdit;  // typed after it
    const char* zResult;
  } aCases[] = {
      {"Escape", "\x1b", "\x7f * 2;", "\n22\n"},
      {"Right arrow", "\x1b[C", "\x7f * 2;", "\n22\n"},
      {"Left arrow", "\x1b[D", " * 2", "\n22\n"},
      {"Ctrl-E", "\x05", "\x7f * 2;", "\n22\n"},
      {"Ctrl-A", "\x01", "SELECT 3; ", "\n3\n11\n"},
  };
  for (const auto& c : aCases) {
    SCOPED_TRACE(c.zTitle);
    EditingSession e;
    ASSERT_TRUE(e.s().started());
    e.run("SELECT 11;");
    e.run("SELECT 4;");
    e.s().send(keyCtrlR);
    e.s().send("11");
    readUntilHolding(e.s(), "`11': SELECT 11;");
    e.s().send(c.zKey);
    // Not run: the entry waits on the line.
    const std::string zWaiting = quietFor(e.s(), 300ms);
    EXPECT_FALSE(has(zWaiting, "\n11\n")) << zWaiting;
    EXPECT_TRUE(has(zWaiting, "sqlite> SELECT 11;")) << zWaiting;
    e.s().send(c.zEdit);
    std::this_thread::sleep_for(100ms);
    const std::string out = e.run("");
    EXPECT_TRUE(has(out, c.zResult)) << out;
    EXPECT_EQ(countOf(out, "sqlite> "), 1 + countOf(out, "sqlite> SELECT")) << out;
    e.s().send(".quit\r");
    EXPECT_EQ(e.s().waitExit(), 0);
  }
}

TEST(HistorySearch, CtrlGPutsBackTheLineAndCtrlCThrowsItAway) {
  REQUIRE_SHELL();
  EditingSession e;
  ASSERT_TRUE(e.s().started());
  e.run("SELECT 11;");
  // Ctrl-G at a fresh prompt: the line is empty again (not the line run last).
  e.s().send(keyCtrlR);
  e.s().send("11");
  readUntilHolding(e.s(), "`11': SELECT 11;");
  e.s().send(keyCtrlG);
  quietFor(e.s(), 200ms);
  std::string out = e.run("SELECT 5;");
  EXPECT_TRUE(has(out, "\n5\n")) << out;
  EXPECT_FALSE(has(out, "\n11\n")) << out;
  // Ctrl-G: the half-typed line comes back as it was, and goes on.
  e.s().send("SELECT 5");
  e.s().send(keyCtrlR);
  e.s().send("11");
  readUntilHolding(e.s(), "`11': SELECT 11;");
  e.s().send(keyCtrlG);
  out = quietFor(e.s(), 300ms);
  EXPECT_TRUE(has(out, "sqlite> SELECT 5")) << out;
  out = e.run(";");
  EXPECT_TRUE(has(out, "\n5\n")) << out;
  EXPECT_FALSE(has(out, "\n11\n")) << out;
  // No match: the search says so, and Ctrl-C leaves a fresh prompt.
  e.s().send("SELECT 6");
  e.s().send(keyCtrlR);
  e.s().send("zz");
  out = readUntilHolding(e.s(), "(failed reverse-i-search)`zz': SELECT 6");
  EXPECT_TRUE(has(out, "(failed reverse-i-search)`zz': SELECT 6")) << out;
  e.s().send(keyCtrlC);
  e.s().readUntil("sqlite> ");
  out = e.run("SELECT 'fresh';");
  EXPECT_TRUE(has(out, "fresh\n")) << out;
  EXPECT_FALSE(has(out, "\n6\n")) << out;
  e.s().send(".quit\r");
  EXPECT_EQ(e.s().waitExit(), 0);
}

// ---------------------------------------------------------------------------
// The editor.

// An editor script that records the mode and the name of the file it was
// given, then turns every 1 into 2.
struct EditorFixture {
  explicit EditorFixture(const TempDir& home) {
    zTmp = home.path() + "/tmp";
    std::filesystem::create_directory(zTmp);
    zRecord = home.path() + "/record";
    zScript = home.path() + "/editor.sh";
    writeFile(zScript, "stat -c %a \"$1\" > '" + zRecord + ".mode'\n" + "printf '%s' \"$1\" > '" +
                           zRecord + ".name'\n" + "sed -i 's/1/2/g' \"$1\"\n");
  }
  EnvSettings env() const { return {{"TMPDIR", zTmp}, {"VISUAL", "sh " + zScript}}; }
  bool tmpIsEmpty() const { return std::filesystem::is_empty(zTmp); }
  std::string zTmp, zRecord, zScript;
};

TEST(StatementEditor, CtrlXCtrlERewritesTheLinesTypedSoFar) {
  REQUIRE_SHELL();
  TempDir editorHome;
  EditorFixture editor(editorHome);
  EditingSession e({":memory:"}, editor.env());
  ASSERT_TRUE(e.s().started());
  // Two lines of one statement: the pending one and the one being typed.
  e.s().send("SELECT 1,\r");
  e.s().readUntil("   ...> ");
  e.s().send("10");
  e.s().send(keyCtrlXCtrlE);
  // The edited text is still incomplete: it waits for the rest.
  std::string out = readUntilHolding(e.s(), "   ...> 20\n   ...> ");
  EXPECT_TRUE(has(out, "sqlite> SELECT 2,\n   ...> 20\n   ...> ")) << out;
  out = e.run(";");
  EXPECT_TRUE(has(out, "\n2|20\n")) << out;
  EXPECT_FALSE(has(out, "1|10")) << out;
  EXPECT_EQ(readFile(editor.zRecord + ".mode"), "600\n");
  const std::filesystem::path name = readFile(editor.zRecord + ".name");
  EXPECT_EQ(name.parent_path(), std::filesystem::path(editor.zTmp));
  EXPECT_EQ(name.extension(), ".sql");
  EXPECT_TRUE(editor.tmpIsEmpty());

  // On an empty line: the newest entry, whole statements running at once.
  e.run("SELECT 'a1';");
  e.s().send(keyCtrlXCtrlE);
  out = e.s().readUntil("a2\nsqlite> ");
  EXPECT_TRUE(has(out, "sqlite> SELECT 'a2';\na2\nsqlite> ")) << out;
  EXPECT_EQ(quietFor(e.s(), 300ms), "");
  EXPECT_TRUE(editor.tmpIsEmpty());
  e.s().send(".quit\r");
  EXPECT_EQ(e.s().waitExit(), 0);
  // The edited statement is what the history keeps.
  const std::vector<std::string> azHistory = historyOf(e.home.path() + "/.sqlsh_history");
  EXPECT_EQ(azHistory, (std::vector<std::string>{"SELECT 2,\n20\n;", "SELECT 'a1';", "SELECT 'a2';",
                                                 ".quit"}));
}

TEST(StatementEditor, AFailingEditorLeavesTheLineAsItWas) {
  REQUIRE_SHELL();
  EditingSession e({":memory:"}, {{"VISUAL", "sh -c 'exit 4'"}});
  ASSERT_TRUE(e.s().started());
  e.s().send("SELECT 7");
  e.s().send(keyCtrlXCtrlE);
  std::string out = readUntilHolding(e.s(), "sqlite> SELECT 7");
  EXPECT_TRUE(has(out, "Nothing changed: the editor exited with status 4\n")) << out;
  out = e.run(";");
  EXPECT_TRUE(has(out, "\n7\n")) << out;
  e.s().send(".quit\r");
  EXPECT_EQ(e.s().waitExit(), 0);
}

TEST(StatementEditor, DotEditAtTheKeyboardShowsAndRunsWhatWasSaved) {
  REQUIRE_SHELL();
  TempDir editorHome;
  EditorFixture editor(editorHome);
  EditingSession e({":memory:"}, editor.env());
  ASSERT_TRUE(e.s().started());
  e.run("SELECT 'b1';");
  e.run(".mode list");
  const std::string out = e.run(".edit");
  EXPECT_TRUE(has(out, "sqlite> SELECT 'b2';\nb2\nsqlite> ")) << out;
  EXPECT_TRUE(editor.tmpIsEmpty());
  e.s().send(".quit\r");
  EXPECT_EQ(e.s().waitExit(), 0);
}

// Safe mode refuses the key without ending the session (a key is not a
// command of a script); .edit is refused as every such command is.
TEST(StatementEditor, SafeModeRefusesBoth) {
  REQUIRE_SHELL();
  TempDir editorHome;
  EditorFixture editor(editorHome);
  EditingSession e({"-safe", ":memory:"}, editor.env());
  ASSERT_TRUE(e.s().started());
  e.run("SELECT 1;");
  e.s().send("SELECT 8");
  e.s().send(keyCtrlXCtrlE);
  std::string out = readUntilHolding(e.s(), "sqlite> SELECT 8");
  EXPECT_TRUE(has(out, "line 2: cannot run the editor in safe mode\n")) << out;
  out = e.run(";");
  EXPECT_TRUE(has(out, "\n8\n")) << out;
  e.s().send(".edit\r");
  out = e.s().readUntil("safe mode\n");
  EXPECT_TRUE(has(out, "line 3: cannot run .edit in safe mode\n")) << out;
  EXPECT_EQ(e.s().waitExit(), 1);
  EXPECT_FALSE(std::filesystem::exists(editor.zRecord + ".mode"));
}

// ---------------------------------------------------------------------------
// .watch.

TEST(WatchAtTheTerminal, CtrlCEndsTheWatchPromptlyAndTheShellGoesOn) {
  REQUIRE_SHELL();
  for (const char* zTerm : {"xterm", "dumb"}) {
    SCOPED_TRACE(zTerm);
    TempDir home;
    PtySession s({":memory:"}, home.path(), {{"TERM", zTerm}});
    ASSERT_TRUE(s.started());
    s.readUntil("sqlite> ");
    s.send("CREATE TABLE t(a); INSERT INTO t VALUES (1), (2);\r");
    s.readUntil("sqlite> ");
    s.send("SELECT count(*) FROM t;\r");
    s.readUntil("sqlite> ");
    s.send(".watch 0.2\r");
    const std::string zHeading = "Every 0.2s: SELECT count(*) FROM t;    ";
    std::string out = readUntilHolding(s, zHeading);
    out += readUntilHolding(s, zHeading);
    EXPECT_GE(countOf(out, zHeading), 2) << out;
    s.send(keyCtrlC);
    out = s.readUntil("sqlite> ");
    EXPECT_TRUE(out.size() >= 8 && out.compare(out.size() - 8, 8, "sqlite> ") == 0) << out;
    EXPECT_TRUE(has(answer(s, "SELECT 'after';"), "after\n"));
    // A long interval: Ctrl-C during the wait ends it at once.
    s.send(".watch 60 \"SELECT 'slow'\"\r");
    readUntilHolding(s, "slow\n");
    std::this_thread::sleep_for(200ms);
    const auto start = std::chrono::steady_clock::now();
    s.send(keyCtrlC);
    s.readUntil("sqlite> ");
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_TRUE(has(answer(s, "SELECT 'still here';"), "still here\n"));
    s.send(".quit\r");
    EXPECT_EQ(s.waitExit(), 0);
  }
}

// Output that never ends is never held for a pager: each run reaches the
// terminal as it is made, even when it is taller than the window.
TEST(WatchAtTheTerminal, RunsTallerThanTheWindowGoStraightToTheTerminal) {
  REQUIRE_SHELL();
  TempDir home;
  const std::string zMarker = home.path() + "/paged";
  PtySession s({":memory:"}, home.path(),
               {{"TERM", "xterm"}, {"SQLSH_PAGER", "touch '" + zMarker + "'; cat"}});
  ASSERT_TRUE(s.started());
  s.readUntil("sqlite> ");
  s.send(
      ".watch 0.2 \"WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c "
      "WHERE x < 40) SELECT 'row ' || x FROM c\"\r");
  std::string out = readUntilHolding(s, "row 40\n");
  out += readUntilHolding(s, "row 40\n");
  EXPECT_GE(countOf(out, "row 40\n"), 2) << out;
  s.send(keyCtrlC);
  s.readUntil("sqlite> ");
  EXPECT_FALSE(std::filesystem::exists(zMarker));
  s.send(".quit\r");
  EXPECT_EQ(s.waitExit(), 0);
}

}  // namespace recall_terminal_test
