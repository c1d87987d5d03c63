// At the keyboard: line editing, history, Tab completion, Ctrl-C and Ctrl-D,
// hints and colour, driven through a pseudo-terminal; the completion
// candidates and the progress line checked directly.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/unit/shell_process.h"
#include "pty_session.h"
#include "shell/app/EditLibrary.h"
#include "shell/app/LineEditor.h"
#include "shell/app/TabCompletion.h"
#include "shell/core/Progress.h"

using namespace ptytest;

namespace {

using shell_process::readFile;

constexpr const char* keyUp = "\x1b[A";
constexpr const char* keyCtrlC = "\x03";
constexpr const char* keyCtrlD = "\x04";

// Timings mean something only without the sanitizers' instrumentation.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool bTimingsCount = false;
#else
constexpr bool bTimingsCount = true;
#endif

// A terminal that edits lines.
const EnvSettings editingTerminal = {{"TERM", "xterm"}};

int fileMode(const std::string& zName) {
  struct stat st {};
  if (stat(zName.c_str(), &st) != 0) return -1;
  return static_cast<int>(st.st_mode & 0777);
}

// ---------------------------------------------------------------------------
// History.

TEST(Keyboard, StatementOverSeveralLinesIsRecalledWithUpAfterARestart) {
  REQUIRE_SHELL();
  TempDir home;
  {
    PtySession s({":memory:"}, home.path(), editingTerminal);
    ASSERT_TRUE(s.started());
    s.readUntil("sqlite> ");
    s.send("SELECT 'multi'\r");
    s.readUntil("   ...> ");
    s.send("|| 'line';\r");
    EXPECT_TRUE(contains(s.readUntil("sqlite> "), "multiline\n"));
    s.send(keyCtrlD);
    EXPECT_EQ(s.waitExit(), 0);
  }
  const std::string zHistory = home.path() + "/.sqlsh_history";
  EXPECT_EQ(fileMode(zHistory), 0600);
  PtySession s({":memory:"}, home.path(), editingTerminal);
  ASSERT_TRUE(s.started());
  s.readUntil("sqlite> ");
  s.send(keyUp);
  s.send("\r");
  std::string out = s.readUntil("sqlite> ");
  EXPECT_TRUE(contains(out, "multiline\n")) << out;
  s.send(keyCtrlD);
  EXPECT_EQ(s.waitExit(), 0);
}

TEST(Keyboard, HistoryFileFollowsSqlshHistoryAndIsNeverWrittenInSafeMode) {
  REQUIRE_SHELL();
  struct Case {
    const char* zName;
    std::vector<std::string> args;
    bool bCustom;          // SQLSH_HISTORY names "custom" in the home directory
    bool bOff;             // SQLSH_HISTORY is empty
    const char* zWritten;  // the file expected afterwards, or null for none
  };
  const Case aCases[] = {
      {"default", {":memory:"}, false, false, ".sqlsh_history"},
      {"custom", {":memory:"}, true, false, "custom"},
      {"off", {":memory:"}, false, true, nullptr},
      {"safe", {"-safe", ":memory:"}, false, false, nullptr},
  };
  for (const Case& c : aCases) {
    SCOPED_TRACE(c.zName);
    TempDir home;
    EnvSettings env = editingTerminal;
    if (c.bCustom) env.emplace_back("SQLSH_HISTORY", home.path() + "/custom");
    if (c.bOff) env.emplace_back("SQLSH_HISTORY", "");
    PtySession s(c.args, home.path(), env);
    ASSERT_TRUE(s.started());
    s.readUntil("sqlite> ");
    s.send("SELECT 'remember me';\r");
    s.readUntil("sqlite> ");
    s.send(".quit\r");
    EXPECT_EQ(s.waitExit(), 0);
    std::vector<std::string> aFiles;
    for (const auto& entry : fs::directory_iterator(home.path())) {
      aFiles.push_back(entry.path().filename().string());
    }
    if (c.zWritten == nullptr) {
      EXPECT_TRUE(aFiles.empty()) << aFiles.front();
    } else {
      ASSERT_EQ(aFiles, std::vector<std::string>{c.zWritten});
      const std::string zText = readFile(home.path() + "/" + c.zWritten);
      EXPECT_TRUE(contains(zText, "remember")) << zText;
      EXPECT_EQ(fileMode(home.path() + "/" + c.zWritten), 0600);
    }
  }
}

// A history file of nEntries statements "SELECT <i>;", as the editor writes it.
void writeHistory(const std::string& zFile, int nEntries) {
  std::ofstream out(zFile);
  out << "_HiStOrY_V2_\n";
  for (int i = 0; i < nEntries; i++) out << "SELECT\\040" << i << ";\n";
}

TEST(Keyboard, HistoryIsCappedAndOwnerOnly) {
  REQUIRE_SHELL();
  TempDir home;
  const std::string zHistory = home.path() + "/.sqlsh_history";
  writeHistory(zHistory, 10000);
  chmod(zHistory.c_str(), 0644);
  PtySession s({":memory:"}, home.path(), editingTerminal);
  ASSERT_TRUE(s.started());
  s.readUntil("sqlite> ");
  // The newest entry read from the file comes first.
  s.send(keyUp);
  s.send("\r");
  EXPECT_TRUE(contains(s.readUntil("sqlite> "), "9999\n"));
  s.send("SELECT 'newest';\r");
  s.readUntil("sqlite> ");
  s.send(keyCtrlD);
  EXPECT_EQ(s.waitExit(), 0);
  const std::string zText = readFile(zHistory);
  const auto nLines = std::count(zText.begin(), zText.end(), '\n');
  EXPECT_LE(nLines, nHistoryMax + 1);
  EXPECT_GT(nLines, nHistoryMax / 2);
  EXPECT_TRUE(contains(zText, "'newest'"));
  EXPECT_FALSE(contains(zText, "SELECT\\0400;\n"));
  EXPECT_EQ(fileMode(zHistory), 0600);
}

TEST(Keyboard, TextBeyondAsciiIsKeptWhateverTheLocale) {
  REQUIRE_SHELL();
  for (const char* zLocale : {"C.UTF-8", "C"}) {
    SCOPED_TRACE(zLocale);
    TempDir home;
    PtySession s({":memory:"}, home.path(), {{"TERM", "xterm"}, {"LC_ALL", zLocale}});
    ASSERT_TRUE(s.started());
    s.readUntil("sqlite> ");
    s.send("SELECT 'h\xc3\xa9llo \xe2\x82\xac', length('\xc3\xa9');\r");
    std::string out = s.readUntil("sqlite> ");
    EXPECT_TRUE(contains(out, "h\xc3\xa9llo \xe2\x82\xac|1\n")) << out;
    s.send(".quit\r");
    EXPECT_EQ(s.waitExit(), 0);
  }
}

// ---------------------------------------------------------------------------
// Tab completion, checked by what the completed line does when it runs.

TEST(Keyboard, TabCompletesADotCommandAndItsArgument) {
  REQUIRE_SHELL();
  TempDir home;
  PtySession s({":memory:"}, home.path(), editingTerminal);
  ASSERT_TRUE(s.started());
  s.readUntil("sqlite> ");
  s.send(".hea\t");
  s.send("o\t");  // "on" and "off" share "o": nothing more to add
  s.send("n\r");
  s.readUntil("sqlite> ");
  s.send("SELECT 1 AS one;\r");
  std::string out = s.readUntil("sqlite> ");
  EXPECT_TRUE(contains(out, "one\n1\n")) << out;
  s.send(".mode js\t\r");
  s.readUntil("sqlite> ");
  s.send("SELECT 2 AS two;\r");
  out = s.readUntil("sqlite> ");
  EXPECT_TRUE(contains(out, "[{\"two\":2}]")) << out;
  s.send(".quit\r");
  EXPECT_EQ(s.waitExit(), 0);
}

TEST(Keyboard, TabCompletesAFileNameAfterImport) {
  REQUIRE_SHELL();
  TempDir home;
  fs::create_directory(home.path() + "/inputs");
  std::ofstream(home.path() + "/inputs/people_2024.csv") << "name,age\nada,36\nalan,41\n";
  PtySession s({home.path() + "/db.sqlite"}, home.path(), editingTerminal);
  ASSERT_TRUE(s.started());
  s.readUntil("sqlite> ");
  s.send(".import --csv inp\t");  // completes the directory
  s.send("peo\t");                // then the file in it
  s.send("people\r");
  std::string out = s.readUntil("sqlite> ");
  EXPECT_FALSE(contains(out, "Error")) << out;
  s.send(".quit\r");
  EXPECT_EQ(s.waitExit(), 0);
  EXPECT_EQ(queryColumn(home.path() + "/db.sqlite", "SELECT name FROM people ORDER BY age"),
            (std::vector<std::string>{"ada", "alan"}));
}

TEST(Keyboard, TabCompletesATableAndAColumnAfterWhere) {
  REQUIRE_SHELL();
  TempDir home;
  const std::string zDb = home.path() + "/db.sqlite";
  makeDatabase(zDb,
               "CREATE TABLE customers(alpha, beta); INSERT INTO customers VALUES(1, 'x'), (2, "
               "'y'); CREATE TABLE \"order lines\"(qty); INSERT INTO \"order lines\" VALUES(7);"
               "CREATE TABLE albums(title); CREATE TABLE \"a b\"(x);");
  PtySession s({zDb}, home.path(), editingTerminal);
  ASSERT_TRUE(s.started());
  s.readUntil("sqlite> ");
  // "al" would also begin the keywords ALL and ALTER: after WHERE a column wins.
  s.send("select beta from cust\twhere al\t= 2;\r");
  std::string out = s.readUntil("sqlite> ");
  EXPECT_TRUE(contains(out, "\ny\n")) << out;
  // A name that needs quotes is completed with them.
  s.send("select qty from ord\t;\r");
  out = s.readUntil("sqlite> ");
  EXPECT_TRUE(contains(out, "\n7\n")) << out;
  // A plain word completes among plain names ("a b" needs quotes).
  s.send("select count(*) from a\t;\r");
  out = s.readUntil("sqlite> ");
  EXPECT_TRUE(contains(out, "\n0\n")) << out;
  // A keyword in the case it was begun in.
  s.send("sel\t1;\r");
  out = s.readUntil("sqlite> ");
  EXPECT_TRUE(contains(out, "\n1\n")) << out;
  s.send(".quit\r");
  EXPECT_EQ(s.waitExit(), 0);
}

// ---------------------------------------------------------------------------
// Ctrl-C and Ctrl-D.

TEST(Keyboard, CtrlCAtThePromptForgetsTheHalfTypedStatement) {
  REQUIRE_SHELL();
  for (const EnvSettings& env : {editingTerminal, EnvSettings{{"TERM", "dumb"}}}) {
    SCOPED_TRACE(env.front().second);
    TempDir home;
    const std::string zDb = home.path() + "/db.sqlite";
    makeDatabase(zDb, "CREATE TABLE acct(x); INSERT INTO acct VALUES(1), (2);");
    PtySession s({zDb}, home.path(), env);
    ASSERT_TRUE(s.started());
    s.readUntil("sqlite> ");
    s.send("delete from acct\r");
    s.readUntil("   ...> ");
    s.send("where x = 1");
    std::this_thread::sleep_for(100ms);
    s.send(keyCtrlC);
    if (env == editingTerminal) s.readUntil("sqlite> ");
    s.send(";\r");
    s.send("SELECT count(*) FROM acct;\r");
    std::string out = s.readUntil("2\nsqlite> ");
    EXPECT_TRUE(contains(out, "2\nsqlite> ")) << out;
    s.send(".quit\r");
    EXPECT_EQ(s.waitExit(), 0);
    EXPECT_EQ(queryColumn(zDb, "SELECT count(*) FROM acct"), std::vector<std::string>{"2"});
  }
}

TEST(Keyboard, CtrlCInALongQueryInterruptsItAndEditingGoesOn) {
  REQUIRE_SHELL();
  TempDir home;
  PtySession s({":memory:"}, home.path(), editingTerminal);
  ASSERT_TRUE(s.started());
  s.readUntil("sqlite> ");
  s.send("SELECT 'open';\r");
  s.readUntil("sqlite> ");
  s.send(
      "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c) SELECT count(*) FROM c;\r");
  std::this_thread::sleep_for(300ms);
  s.send(keyCtrlC);
  std::string out = s.readUntil("sqlite> ");
  EXPECT_TRUE(contains(out, "Runtime error: interrupted")) << out;
  // Three more at the prompt are each used up there: the shell stays.
  for (int i = 0; i < 3; i++) {
    s.send(keyCtrlC);
    s.readUntil("sqlite> ");
  }
  s.send("SELECT 'still here';\r");
  out = s.readUntil("sqlite> ");
  EXPECT_TRUE(contains(out, "still here\n")) << out;
  s.send(".quit\r");
  EXPECT_EQ(s.waitExit(), 1);
}

TEST(Keyboard, CtrlDAfterAHalfTypedStatementDiscardsIt) {
  REQUIRE_SHELL();
  for (const EnvSettings& env : {editingTerminal, EnvSettings{{"TERM", "dumb"}}}) {
    SCOPED_TRACE(env.front().second);
    TempDir home;
    const std::string zDb = home.path() + "/db.sqlite";
    makeDatabase(zDb, "CREATE TABLE acct(x); INSERT INTO acct VALUES(1), (2);");
    PtySession s({zDb}, home.path(), env);
    ASSERT_TRUE(s.started());
    s.readUntil("sqlite> ");
    s.send("delete from acct\r");
    s.readUntil("   ...> ");
    s.send(keyCtrlD);
    std::string out = s.readUntil(".\n");
    EXPECT_TRUE(contains(out, "Unfinished statement discarded (a statement ends with \";\").\n"))
        << out;
    EXPECT_EQ(s.waitExit(), 0);
    EXPECT_EQ(queryColumn(zDb, "SELECT count(*) FROM acct"), std::vector<std::string>{"2"});
  }
}

// The advisor reads every row at --sample 100; a Ctrl-C meanwhile ends the
// analysis with the engine's message, the database file keeps its bytes, no
// scratch table is left behind, and the next SQL runs as usual.
TEST(Keyboard, CtrlCDuringExpertAnalysisStopsItAndTheShellGoesOn) {
  REQUIRE_SHELL();
  TempDir home;
  const std::string zDb = home.path() + "/db.sqlite";
  makeDatabase(zDb,
               "CREATE TABLE t(a, b, c, d);"
               "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < 400000)"
               " INSERT INTO t SELECT x % 1000, x % 777, x % 13, hex(randomblob(8)) FROM n;");
  const std::string zBefore = readFile(zDb);
  PtySession s({zDb}, home.path());
  ASSERT_TRUE(s.started());
  s.readUntil("sqlite> ");
  s.send(".expert --sample 100\r");
  s.readUntil("sqlite> ");
  s.send("SELECT * FROM t WHERE a = 5 AND b > 3 AND c = 2 ORDER BY d;\r");
  std::this_thread::sleep_for(300ms);
  s.send(keyCtrlC);
  std::string out = s.readUntil("sqlite> ", 60s);
  if (contains(out, "CREATE INDEX")) GTEST_SKIP() << "the analysis ended before the interrupt";
  EXPECT_TRUE(contains(out, "Error: interrupted\n")) << out;
  s.send("SELECT 'after', count(*) FROM sqlite_temp_schema;\r");
  out = s.readUntil("sqlite> ");
  EXPECT_TRUE(contains(out, "after|0\n")) << out;
  // The advisor is usable again.
  s.send(".expert\r");
  s.readUntil("sqlite> ");
  s.send("SELECT * FROM t WHERE d = 'x';\r");
  out = s.readUntil("sqlite> ", 60s);
  EXPECT_TRUE(contains(out, "CREATE INDEX t_idx_")) << out;
  s.send(".quit\r");
  s.waitExit();
  EXPECT_TRUE(readFile(zDb) == zBefore);
}

// ---------------------------------------------------------------------------
// Hints and colour.

TEST(Keyboard, ExitQuitAndHelpAloneGetAHint) {
  REQUIRE_SHELL();
  TempDir home;
  PtySession s({":memory:"}, home.path(), editingTerminal);
  ASSERT_TRUE(s.started());
  s.readUntil("sqlite> ");
  s.send("exit\r");
  EXPECT_TRUE(contains(s.readUntil("sqlite> "), "Use \".quit\" to leave the shell.\n"));
  s.send("  QUIT; \r");
  EXPECT_TRUE(contains(s.readUntil("sqlite> "), "Use \".quit\" to leave the shell.\n"));
  s.send("help\r");
  EXPECT_TRUE(contains(s.readUntil("sqlite> "), "Use \".help\" for the list of commands.\n"));
  // Inside a statement the word is SQL.
  s.send("SELECT 1 AS\r");
  s.readUntil("   ...> ");
  s.send("help;\r");
  std::string out = s.readUntil("sqlite> ");
  EXPECT_FALSE(contains(out, "Use \"")) << out;
  s.send(".quit\r");
  EXPECT_EQ(s.waitExit(), 0);
}

TEST(Keyboard, InMemoryNoticeIsPlainUnderNoColorOrADumbTerminal) {
  REQUIRE_SHELL();
  for (const EnvSettings& env :
       {EnvSettings{{"TERM", "xterm"}, {"NO_COLOR", "1"}}, EnvSettings{{"TERM", "dumb"}}}) {
    TempDir home;
    PtySession s({}, home.path(), env);
    ASSERT_TRUE(s.started());
    std::string out = s.readUntil("sqlite> ");
    EXPECT_TRUE(contains(out, "Connected to a transient in-memory database.\n")) << out;
    EXPECT_FALSE(contains(out, "\x1b")) << out;
    s.send(".quit\r");
    EXPECT_EQ(s.waitExit(), 0);
  }
}

// ---------------------------------------------------------------------------
// Progress of a slow import.

TEST(Keyboard, SlowImportShowsAProgressLineAndErasesIt) {
  REQUIRE_SHELL();
  TempDir home;
  const std::string zDb = home.path() + "/db.sqlite";
  PtySession s({zDb}, home.path(), editingTerminal);
  ASSERT_TRUE(s.started());
  s.readUntil("sqlite> ");
  // Thirty rows over about three seconds.
  s.send(
      ".import --csv \"|echo n; for i in $(seq 1 30); do echo $i; sleep 0.1; done\" "
      "trickle\r");
  std::string out = s.readUntil("sqlite> ", 20s);
  const size_t iLine = out.find(" rows, ");
  ASSERT_NE(iLine, std::string::npos) << out;
  EXPECT_NE(out.find("rows/s", iLine), std::string::npos) << out;
  // Erased before the prompt comes back: the last drawing (which clears the
  // rest of its line) is followed by an erasure of the whole line (the
  // carriage returns are not kept in the output read).
  const size_t iAfter = out.rfind("rows/s\x1b[K") + std::strlen("rows/s\x1b[K");
  EXPECT_EQ(out.compare(iAfter, 3, "\x1b[K"), 0) << out;
  s.send(".quit\r");
  EXPECT_EQ(s.waitExit(), 0);
  EXPECT_EQ(queryColumn(zDb, "SELECT count(*) FROM trickle"), std::vector<std::string>{"30"});
}

TEST(Progress, LineShowsAmountsRateAndTimeLeft) {
  struct Case {
    const char* zUnit;
    sqlite3_int64 nDone;
    sqlite3_int64 nTotal;
    double rSeconds;
    const char* zExpected;
  };
  const Case aCases[] = {
      {"pages", 50, 200, 2.0, "50 of 200 pages (25%), 25 pages/s, 6 s left"},
      {"rows", 1234, 0, 2.0, "1234 rows, 617 rows/s"},
      {"bytes", 3 * 1048576, 12 * 1048576, 1.5, "3.0 MiB of 12.0 MiB (25%), 2.0 MiB/s, 5 s left"},
      {"bytes", 512, 0, 1.0, "512 bytes, 512 bytes/s"},
      {"tables", 1, 1000, 1.0, "1 of 1000 tables (0%), 1.0 tables/s, 16 min 39 s left"},
      {"tables", 10, 10, 1.0, "10 of 10 tables (100%), 10 tables/s"},
      {"tables", 1, 3, 2.5, "1 of 3 tables (33%), 0.4 tables/s, 5 s left"},
  };
  for (const Case& c : aCases) {
    char zLine[160];
    TerminalProgress::formatLine(zLine, sizeof zLine, c.zUnit, c.nDone, c.nTotal, c.rSeconds);
    EXPECT_STREQ(zLine, c.zExpected);
  }
}

// ---------------------------------------------------------------------------
// The candidates themselves.

TEST(TabCompletion, DotCommandWordsComeFromTheDispatcherAndTheHelpTable) {
  EXPECT_EQ(dotCommandNames("hea"), std::vector<std::string>{"headers"});
  const std::vector<std::string> aOpen = dotCommandArgWords("open");
  for (const char* z : {"--append", "--deserialize", "--new", "--readonly"}) {
    EXPECT_NE(std::find(aOpen.begin(), aOpen.end(), z), aOpen.end()) << z;
  }
  const std::vector<std::string> aImport = dotCommandArgWords("import");
  for (const char* z : {"--csv", "--ascii", "--skip", "--schema", "-v"}) {
    EXPECT_NE(std::find(aImport.begin(), aImport.end(), z), aImport.end()) << z;
  }
  EXPECT_EQ(std::count_if(aImport.begin(), aImport.end(),
                          [](const std::string& z) { return z[0] != '-'; }),
            0);
  const std::vector<std::string> aMode = dotCommandArgWords("mode");
  for (const char* z : {"box", "csv", "column", "json", "line", "list", "markdown", "quote"}) {
    EXPECT_NE(std::find(aMode.begin(), aMode.end(), z), aMode.end()) << z;
  }
  EXPECT_EQ(dotCommandArgWords("bail"), (std::vector<std::string>{"on", "off"}));
  EXPECT_EQ(dotCommandArgWords("headers"), (std::vector<std::string>{"on", "off"}));
  EXPECT_EQ(dotCommandArgWords("auth"), (std::vector<std::string>{"on", "off"}));
  for (const char* z : {"open", "import", "read", "backup", "restore", "output", "once", "cd"}) {
    EXPECT_TRUE(dotCommandTakesFile(z)) << z;
  }
  for (const char* z : {"mode", "headers", "tables", "help"}) {
    EXPECT_FALSE(dotCommandTakesFile(z)) << z;
  }
}

TEST(TabCompletion, CandidatesFollowTheCursorsPlace) {
  TempDir dir;
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db,
                         "CREATE TABLE albums(album_id, title); CREATE TABLE artists(name);"
                         "CREATE TABLE \"all things\"(x)",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  struct Case {
    const char* zPending;
    const char* zLine;
    size_t iWordStart;
    std::vector<std::string> aExpected;
  };
  const std::string zDir = dir.path();
  fs::create_directory(zDir + "/sub");
  std::ofstream(zDir + "/sub/data.csv") << "";
  std::ofstream(zDir + "/sub/dates.txt") << "";
  const std::string zImport = ".import " + zDir + "/sub/da";
  const Case aCases[] = {
      {"", ".he", 0, {".headers", ".help"}},
      {"", ".mode ma", 6, {"markdown"}},
      {"", ".headers o", 9, {"on", "off"}},
      {"", zImport.c_str(), 8, {zDir + "/sub/data.csv", zDir + "/sub/dates.txt"}},
      {"", ".nosuch x", 9, {}},
      {"", "SELECT * FROM al", 14, {"albums"}},
      {"", "SELECT * FROM \"al", 14, {"\"all things\""}},
      {"", "SELECT * FROM albums WHERE al", 27, {"album_id"}},
      {"", "sel", 0, {"select"}},
      {"", "SELECT 'al", 8, {}},
      {"SELECT *\n  FROM albums", "WHERE ti", 6, {"title"}},
      {"SELECT * FROM albums", "WHE", 0, {"WHEN", "WHERE"}},
      {"", "SELECT main.ar", 12, {"artists"}},
  };
  for (const Case& c : aCases) {
    SCOPED_TRACE(c.zLine);
    TabCandidates found = tabCandidates(db, c.zPending, c.zLine);
    EXPECT_EQ(found.aWords, c.aExpected);
    if (!c.aExpected.empty()) {
      EXPECT_EQ(found.iWordStart, c.iWordStart);
    }
  }
  // Without a connection the keywords still come.
  EXPECT_EQ(tabCandidates(nullptr, "", "SELECT * FROM t WHE").aWords,
            (std::vector<std::string>{"WHEN", "WHERE"}));
  sqlite3_close(db);
}

TEST(TabCompletion, FileNamesMarkDirectoriesAndHideDotFiles) {
  TempDir dir;
  const std::string zDir = dir.path();
  fs::create_directory(zDir + "/backups");
  std::ofstream(zDir + "/backup.db") << "";
  std::ofstream(zDir + "/.hidden") << "";
  EXPECT_EQ(fileNameCandidates(zDir + "/b"),
            (std::vector<std::string>{zDir + "/backup.db", zDir + "/backups/"}));
  EXPECT_EQ(fileNameCandidates(zDir + "/"),
            (std::vector<std::string>{zDir + "/backup.db", zDir + "/backups/"}));
  EXPECT_EQ(fileNameCandidates(zDir + "/.h"), std::vector<std::string>{zDir + "/.hidden"});
  EXPECT_TRUE(fileNameCandidates("|cat " + zDir).empty());
}

TEST(TabCompletion, AnswersWithinFiftyMillisecondsOnAThousandTables) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  std::string zSql = "BEGIN;";
  for (int i = 0; i < 1000; i++) {
    zSql += "CREATE TABLE t" + std::to_string(i) + "(id INTEGER PRIMARY KEY, name TEXT, c" +
            std::to_string(i) + " REAL, note TEXT);";
  }
  zSql += "COMMIT;";
  ASSERT_EQ(sqlite3_exec(db, zSql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  const char* const azLines[] = {"SELECT * FROM t99", "SELECT * FROM t1 WHERE c99",
                                 "SELECT * FROM t1 WHERE "};
  for (const char* zLine : azLines) {
    tabCandidates(db, "", zLine);  // the schema is read on first use
    const auto tStart = std::chrono::steady_clock::now();
    TabCandidates found = tabCandidates(db, "", zLine);
    const auto tTaken = std::chrono::steady_clock::now() - tStart;
    EXPECT_FALSE(found.aWords.empty()) << zLine;
    if (bTimingsCount) {
      EXPECT_LT(tTaken, 50ms) << zLine;
    }
    std::printf("completion of \"%s\": %zu candidates in %.1f ms\n", zLine, found.aWords.size(),
                std::chrono::duration<double, std::milli>(tTaken).count());
  }
  sqlite3_close(db);
}

// A script or a one-shot command line does not load the line-editing
// library; a session at the keyboard does, by the name the build found.
TEST(Keyboard, TheLineEditorIsLoadedOnlyForTheKeyboard) {
  REQUIRE_SHELL();
  ASSERT_NE(editLibrary(), nullptr);
  TempDir dir;
  const shell_process::Result r = shell_process::runShell({":memory:", "SELECT 1"}, "", dir.path(),
                                                          dir.path(), {"LD_DEBUG=files"});
  EXPECT_EQ(r.zOut, "1\n");
  EXPECT_TRUE(contains(r.zErr, "libsqlite3")) << "the loader reports what it loads";
  EXPECT_FALSE(contains(r.zErr, "libedit")) << r.zErr;
  PtySession s({":memory:"}, dir.path(), {{"TERM", "xterm"}, {"LD_DEBUG", "files"}});
  ASSERT_TRUE(s.started());
  const std::string zStart = s.readUntil("sqlite> ");
  EXPECT_TRUE(contains(zStart, "libedit")) << zStart;
  s.send(".quit\r");
  EXPECT_EQ(s.waitExit(), 0);
}

TEST(Keyboard, StartUpWithALongHistoryStaysQuick) {
  REQUIRE_SHELL();
  // The time to the first prompt, the best of several runs.
  auto timeToPrompt = [](const std::string& zHome) {
    auto tBest = std::chrono::steady_clock::duration::max();
    for (int i = 0; i < 7; i++) {
      const auto tStart = std::chrono::steady_clock::now();
      PtySession s({":memory:"}, zHome, editingTerminal);
      s.readUntil("sqlite> ");
      tBest = std::min(tBest, std::chrono::steady_clock::now() - tStart);
      s.send(keyCtrlD);
      s.waitExit();
    }
    return std::chrono::duration<double, std::milli>(tBest).count();
  };
  TempDir bare;
  TempDir busy;
  writeHistory(busy.path() + "/.sqlsh_history", 10000);
  const double rBare = timeToPrompt(bare.path());
  const double rBusy = timeToPrompt(busy.path());
  std::printf("start-up to the prompt: %.1f ms without history, %.1f ms with 10000 entries\n",
              rBare, rBusy);
  // A few milliseconds of slack for a machine shared with other work.
  if (bTimingsCount) {
    EXPECT_LT(rBusy, rBare * 1.5 + 5.0);
  }
}

}  // namespace
