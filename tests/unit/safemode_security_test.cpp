// Safe mode as a security boundary: the real sqlsh is started with -safe and
// tries, one row at a time, every way the shell knows to reach outside the
// database.  Each row must end with exit status 1 and the refusal message,
// leave every file of its directory as it was, write no new one and run no
// program (a canary command would create the file "ran").
//
// Rows whose command or function is not part of this build yet are skipped
// with the reason; they run by themselves once it is.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <map>
#include <string>
#include <vector>

#include "shell/commands/Dispatch.h"
#include "tests/unit/shell_process.h"

namespace {

using shell_process::Result;
using shell_process::TempDir;

// What a row needs from the build.
enum class Needs {
  Nothing,
  Command,  // zNeeds: a dot-command word with a handler
  Probe,    // zNeeds: SQL that prepares only when the feature exists
};

struct Row {
  std::string zTitle;
  std::string zInput;    // standard input
  std::string zMessage;  // standard error, exactly
  Needs eNeeds = Needs::Nothing;
  std::string zNeeds;
  std::string zDatabase = ":memory:";  // "untrusted.db" for the database with triggers and views
  std::vector<std::string> azExtraArgs;
  std::string zMayWrite;  // a file the row is allowed to write (a lifted command's)
};

// Files every row starts with.  victim.txt and victim.db must stay as they are.
const char* const zVictimText = "untouched\n";

// The database an untrusted party prepared: triggers and views that call what
// safe mode refuses.  Views that call functions the engine deems unsafe for
// schemas are refused by the engine before safe mode is asked.
void makeUntrustedDatabase(const std::string& zPath) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(zPath.c_str(), &db), SQLITE_OK);
  const char* azSql[] = {
      "CREATE TABLE t(a)",
      "CREATE VIEW v_load AS SELECT load_extension('./libevil') AS x",
      "CREATE VIEW v_fts AS SELECT fts3_tokenizer('simple') AS x",
      "CREATE VIEW v_read AS SELECT readfile('victim.txt') AS x",
      "CREATE VIEW v_write AS SELECT writefile('victim.txt', 'pwned') AS x",
      "CREATE VIEW v_edit AS SELECT edit('x', 'touch ran') AS x",
      "CREATE VIEW v_fsdir AS SELECT name FROM fsdir('.')",
      "CREATE TABLE t_load(a)",
      "CREATE TRIGGER tr_load AFTER INSERT ON t_load BEGIN SELECT load_extension('./libevil'); END",
      "CREATE TABLE t_fts(a)",
      "CREATE TRIGGER tr_fts AFTER INSERT ON t_fts BEGIN SELECT fts3_tokenizer('simple'); END",
      "CREATE TABLE t_read(a)",
      "CREATE TRIGGER tr_read AFTER INSERT ON t_read BEGIN SELECT readfile('victim.txt'); END",
      "CREATE TABLE t_write(a)",
      "CREATE TRIGGER tr_write AFTER INSERT ON t_write BEGIN "
      "SELECT writefile('victim.txt', 'pwned'); END",
      "CREATE TABLE t_edit(a)",
      "CREATE TRIGGER tr_edit AFTER INSERT ON t_edit BEGIN SELECT edit('x', 'touch ran'); END",
  };
  for (const char* zSql : azSql) {
    char* zErr = nullptr;
    ASSERT_EQ(sqlite3_exec(db, zSql, nullptr, nullptr, &zErr), SQLITE_OK) << zSql << ": " << zErr;
  }
  sqlite3_close(db);
}

// Every word that dispatches to the same row as zFull: the full name and
// each abbreviation the dispatch chain gives to it.
std::vector<std::string> wordsFor(const std::string& zFull) {
  std::vector<std::string> azWords;
  const DotCommandRow* pRow = findDotCommand(zFull.c_str());
  for (size_t n = 1; n <= zFull.size(); n++) {
    std::string zWord = zFull.substr(0, n);
    if (pRow != nullptr && findDotCommand(zWord.c_str()) == pRow) azWords.push_back(zWord);
  }
  return azWords;
}

// One row per word of a refused dot-command.  %w in the line and the message
// stands for the word; bMessageNamesWord says whether the message shows the
// word typed or the full name.
void addCommandRows(std::vector<Row>& aRows, const std::string& zFull, const std::string& zArgs,
                    bool bMessageNamesWord) {
  for (const std::string& zWord : wordsFor(zFull)) {
    Row r;
    r.zTitle = "." + zWord + " " + zArgs;
    r.zInput = "SELECT 'before';\n." + zWord + " " + zArgs + "\n";
    r.zMessage = "line 2: cannot run ." + (bMessageNamesWord ? zWord : zFull) + " in safe mode\n";
    r.eNeeds = Needs::Command;
    r.zNeeds = zFull;
    aRows.push_back(r);
  }
}

Row sqlRow(const std::string& zTitle, const std::string& zSql, const std::string& zMessage,
           const std::string& zProbe = "") {
  Row r;
  r.zTitle = zTitle;
  r.zInput = zSql + "\n";
  r.zMessage = zMessage;
  if (!zProbe.empty()) {
    r.eNeeds = Needs::Probe;
    r.zNeeds = zProbe;
  }
  return r;
}

std::string functionRefusal(const std::string& zName) {
  return "line 1: cannot use the " + zName + "() function in safe mode\n";
}

std::vector<Row> securityRows() {
  std::vector<Row> a;
  // Dot-commands, with every abbreviation.
  addCommandRows(a, "backup", "victim.db", true);
  addCommandRows(a, "save", "victim.db", true);
  addCommandRows(a, "cd", "/", true);
  addCommandRows(a, "clone", "victim.db", false);
  addCommandRows(a, "import", "victim.txt t", false);
  addCommandRows(a, "import", "'|touch ran' t", false);
  addCommandRows(a, "load", "./libevil", false);
  addCommandRows(a, "log", "victim.txt", false);
  addCommandRows(a, "output", "victim.txt", true);
  addCommandRows(a, "output", "'|touch ran'", true);
  addCommandRows(a, "output", "-e", true);
  addCommandRows(a, "output", "-x", true);
  addCommandRows(a, "output", "", true);
  addCommandRows(a, "once", "victim.txt", true);
  addCommandRows(a, "once", "'|touch ran'", true);
  addCommandRows(a, "once", "-e", true);
  addCommandRows(a, "once", "-x", true);
  addCommandRows(a, "excel", "", true);
  addCommandRows(a, "read", "victim.txt", false);
  addCommandRows(a, "read", "'|touch ran'", false);
  addCommandRows(a, "restore", "victim.db", false);
  addCommandRows(a, "shell", "touch ran", true);
  addCommandRows(a, "system", "touch ran", true);
  for (const std::string& zWord : wordsFor("open")) {
    Row r;
    r.zTitle = "." + zWord + " of a disk file";
    r.zInput = "." + zWord + " victim.db\n";
    r.zMessage = "line 1: cannot open disk-based database files in safe mode\n";
    r.eNeeds = Needs::Command;
    r.zNeeds = "open";
    a.push_back(r);
  }

  // SQL that reaches outside.
  const std::string zAttach = "line 1: cannot run ATTACH in safe mode\n";
  a.push_back(sqlRow("ATTACH", "ATTACH 'victim.db' AS v;", zAttach));
  a.push_back(sqlRow("attach database, lower case", "attach database 'new.db' as n;", zAttach));
  a.push_back(sqlRow("ATTACH after a harmless statement", "SELECT 1; ATTACH 'new.db' AS n;",
                     "line 1: cannot run ATTACH in safe mode\n"));
  a.push_back(sqlRow("VACUUM INTO attaches its target", "VACUUM INTO 'copy.db';", zAttach));
  a.push_back(sqlRow("load_extension", "SELECT load_extension('./libevil');",
                     functionRefusal("load_extension")));
  a.push_back(sqlRow("LOAD_EXTENSION in capitals", "SELECT LOAD_EXTENSION('./libevil');",
                     functionRefusal("load_extension")));
  a.push_back(sqlRow("fts3_tokenizer", "SELECT fts3_tokenizer('simple');",
                     functionRefusal("fts3_tokenizer"), "SELECT fts3_tokenizer('simple');"));
  a.push_back(sqlRow("readfile", "SELECT readfile('victim.txt');", functionRefusal("readfile"),
                     "SELECT readfile('x');"));
  a.push_back(sqlRow("ReadFile in mixed case", "SELECT ReadFile('victim.txt');",
                     functionRefusal("readfile"), "SELECT readfile('x');"));
  a.push_back(sqlRow("writefile", "SELECT writefile('victim.txt', 'pwned');",
                     functionRefusal("writefile"), "SELECT writefile('x', 'y');"));
  a.push_back(sqlRow("edit", "SELECT edit('x', 'touch ran');", functionRefusal("edit"),
                     "SELECT edit('x', 'y');"));
  a.push_back(sqlRow("zipfile", "SELECT * FROM zipfile('victim.zip');", functionRefusal("zipfile"),
                     "SELECT * FROM zipfile('x');"));
  a.push_back(sqlRow("fsdir reads files and directories", "SELECT data FROM fsdir('victim.txt');",
                     functionRefusal("fsdir"), "SELECT * FROM fsdir('.');"));
  a.push_back(sqlRow(".parameter set with a value that writes a file",
                     ".parameter set :x \"writefile('victim.txt', 'pwned')\"",
                     functionRefusal("writefile"), "SELECT writefile('x', 'y');"));

  // Inside an untrusted database's triggers and views.
  struct Inside {
    const char* zTitle;
    const char* zSql;
    const char* zMessage;
    const char* zProbe;
  };
  const Inside aInside[] = {
      {"a trigger that loads an extension", "INSERT INTO t_load VALUES(1);",
       "line 1: cannot use the load_extension() function in safe mode\n", ""},
      {"a trigger that calls fts3_tokenizer", "INSERT INTO t_fts VALUES(1);",
       "line 1: cannot use the fts3_tokenizer() function in safe mode\n",
       "SELECT fts3_tokenizer('simple');"},
      {"a trigger that reads a file", "INSERT INTO t_read VALUES(1);",
       "line 1: cannot use the readfile() function in safe mode\n", "SELECT readfile('x');"},
      {"a trigger that writes a file", "INSERT INTO t_write VALUES(1);",
       "line 1: cannot use the writefile() function in safe mode\n", "SELECT writefile('x', 'y');"},
      {"a trigger that runs the editor", "INSERT INTO t_edit VALUES(1);",
       "line 1: cannot use the edit() function in safe mode\n", "SELECT edit('x', 'y');"},
      // The engine itself refuses these in a schema; the statement fails and
      // nothing runs.
      {"a view that loads an extension", "SELECT * FROM v_load;",
       "Parse error near line 1: unsafe use of load_extension()\n", ""},
      {"a view that calls fts3_tokenizer", "SELECT * FROM v_fts;",
       "Parse error near line 1: unsafe use of fts3_tokenizer()\n",
       "SELECT fts3_tokenizer('simple');"},
      {"a view that runs the editor", "SELECT * FROM v_edit;",
       "Parse error near line 1: unsafe use of edit()\n", "SELECT edit('x', 'y');"},
      {"a view that reads a file", "SELECT * FROM v_read;",
       "Parse error near line 1: unsafe use of readfile()\n", "SELECT readfile('x');"},
      {"a view that writes a file", "SELECT * FROM v_write;",
       "Parse error near line 1: unsafe use of writefile()\n", "SELECT writefile('x', 'y');"},
      {"a view over fsdir", "SELECT * FROM v_fsdir;",
       "Parse error near line 1: unsafe use of virtual table \"fsdir\"\n",
       "SELECT * FROM fsdir('.');"},
  };
  for (const Inside& in : aInside) {
    Row r = sqlRow(in.zTitle, in.zSql, in.zMessage, in.zProbe);
    r.zDatabase = "untrusted.db";
    a.push_back(r);
  }

  // Safe mode follows every connection.
  {
    Row r = sqlRow("a second connection", ".connection 1\nATTACH 'victim.db' AS v;",
                   "line 2: cannot run ATTACH in safe mode\n");
    r.eNeeds = Needs::Command;
    r.zNeeds = "connection";
    a.push_back(r);
    r = sqlRow("a connection reopened in memory", ".open :memory:\nATTACH 'victim.db' AS v;",
               "line 2: cannot run ATTACH in safe mode\n");
    r.eNeeds = Needs::Command;
    r.zNeeds = "open";
    a.push_back(r);
    r = sqlRow("a database opened from a hex dump",
               ".open --hexdb\n| size 512 pagesize 512 filename x.db\n| end x.db\n"
               "ATTACH 'victim.db' AS v;",
               "line 4: cannot run ATTACH in safe mode\n");
    r.eNeeds = Needs::Command;
    r.zNeeds = "open";
    a.push_back(r);
    r = sqlRow(".auth on keeps the safe-mode rules", ".auth on\nATTACH 'victim.db' AS v;",
               "line 2: cannot run ATTACH in safe mode\n");
    a.push_back(r);
    r = sqlRow(".auth off keeps the safe-mode rules",
               ".auth on\n.auth off\nSELECT 1;\n"
               "ATTACH 'victim.db' AS v;",
               "line 4: cannot run ATTACH in safe mode\n");
    a.push_back(r);
  }

  // The nonce lifts exactly one command.
  {
    Row r;
    r.azExtraArgs = {"-nonce", "N0nce"};
    r.zTitle = "the command after a lifted .output is refused again";
    r.zInput = ".nonce N0nce\n.output lifted.txt\n.output victim.txt\n";
    r.zMessage = "line 3: cannot run .output in safe mode\n";
    r.zMayWrite = "lifted.txt";
    a.push_back(r);
    r.zTitle = "the chunk after a lifted ATTACH is refused again";
    r.zInput = ".nonce N0nce\nATTACH 'lifted.txt' AS l;\nATTACH 'victim.db' AS v;\n";
    r.zMessage = "line 3: cannot run ATTACH in safe mode\n";
    a.push_back(r);
    r.zTitle = "a command that fails early re-arms safe mode";
    r.zInput = ".nonce N0nce\n.tables\n.output victim.txt\n";
    r.zDatabase = "victim.txt";
    r.zMessage = "Error: file is not a database\nline 3: cannot run .output in safe mode\n";
    a.push_back(r);
    r.zDatabase = ":memory:";
    r.zTitle = "a nested .read runs in safe mode from its first line";
    r.zInput = ".nonce N0nce\n.read script.sql\n";
    r.zMessage = "line 1: cannot run .output in safe mode\n";
    r.eNeeds = Needs::Command;
    r.zNeeds = "read";
    a.push_back(r);
    r.eNeeds = Needs::Nothing;
    r.zTitle = "a wrong nonce ends the process";
    r.zInput = ".nonce n0nce\n.output victim.txt\n";
    r.zMessage = "line 1: incorrect nonce: \"n0nce\"\n";
    a.push_back(r);
  }
  return a;
}

// Whether the build has what the row needs; otherwise why not.
std::string missingFeature(const Row& r) {
  if (r.eNeeds == Needs::Command) {
    const DotCommandRow* pRow = findDotCommand(r.zNeeds.c_str());
    if (pRow == nullptr || pRow->xHandler == nullptr) return "." + r.zNeeds + " is not built yet";
  } else if (r.eNeeds == Needs::Probe) {
    static std::map<std::string, bool> aKnown;
    auto it = aKnown.find(r.zNeeds);
    if (it == aKnown.end()) {
      TempDir dir;
      Result probe = shell_process::runShell({":memory:"}, "EXPLAIN " + r.zNeeds + "\n", dir.path(),
                                             dir.path());
      it =
          aKnown.emplace(r.zNeeds, probe.bExited && probe.iStatus == 0 && probe.zErr.empty()).first;
    }
    if (!it->second) return "this build cannot prepare: " + r.zNeeds;
  }
  return "";
}

void PrintTo(const Row& r, std::ostream* os) {
  *os << r.zTitle;
}

class SafeModeBoundary : public testing::TestWithParam<Row> {};

TEST_P(SafeModeBoundary, RefusesAndLeavesNoTrace) {
  const Row& r = GetParam();
  if (shell_process::shellPath().empty()) GTEST_SKIP() << "sqlsh has not been built";
  if (std::string zMissing = missingFeature(r); !zMissing.empty()) GTEST_SKIP() << zMissing;

  TempDir work;
  TempDir scratch;
  shell_process::writeFile(work / "victim.txt", zVictimText);
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((work / "victim.db").c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "CREATE TABLE kept(a); INSERT INTO kept VALUES('untouched');", nullptr,
                 nullptr, nullptr);
    sqlite3_close(db);
  }
  makeUntrustedDatabase(work / "untrusted.db");
  shell_process::writeFile(work / "script.sql", ".output victim.txt\nSELECT 'pwned';\n");
  // Viewers and editors that would leave the canary if they ever ran.
  for (const char* zTool : {"xdg-open", "editor"}) {
    shell_process::writeFile(work / zTool, "#!/bin/sh\ntouch ran\n");
    std::filesystem::permissions(work / zTool, std::filesystem::perms::owner_all);
  }
  const auto before = shell_process::snapshot(work.path());

  std::vector<std::string> azArgs = {"-safe"};
  azArgs.insert(azArgs.end(), r.azExtraArgs.begin(), r.azExtraArgs.end());
  azArgs.push_back(r.zDatabase);
  Result res = shell_process::runShell(
      azArgs, r.zInput, work.path(), scratch.path(),
      {"PATH=" + work.path() + ":/usr/local/bin:/usr/bin:/bin", "VISUAL=" + (work / "editor")});

  EXPECT_TRUE(res.bExited);
  EXPECT_EQ(res.iStatus, 1);
  EXPECT_EQ(res.zErr, r.zMessage);
  auto after = shell_process::snapshot(work.path());
  if (!r.zMayWrite.empty()) after.erase(r.zMayWrite);
  EXPECT_EQ(after.count("ran"), 0u) << "a program ran";
  EXPECT_EQ(shell_process::snapshotChanges(before, after), "");
}

std::string rowName(const testing::TestParamInfo<Row>& info) {
  std::string z = std::to_string(info.index) + "_";
  for (char c : info.param.zTitle) z += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
  return z;
}

INSTANTIATE_TEST_SUITE_P(EveryWayOut, SafeModeBoundary, testing::ValuesIn(securityRows()), rowName);

}  // namespace
