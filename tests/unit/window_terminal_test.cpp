// Aligned results at a terminal of 80 columns: tables that are too wide are
// fitted or shown as vertical records, while .expanded off and every pipe
// keep today's bytes; the terminal's commands in .help, .show and Tab
// completion.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "pty_session.h"
#include "shell/app/TabCompletion.h"
#include "shell/exec/Columnar.h"
#include "tests/unit/shell_process.h"

using namespace ptytest;

namespace {

std::vector<std::string> linesOf(const std::string& z) {
  std::vector<std::string> a;
  std::istringstream in(z);
  for (std::string zLine; std::getline(in, zLine);) a.push_back(zLine);
  return a;
}

// Twenty columns of three rows, some text wide, some CJK and emoji.
std::string twentyColumnQuery() {
  std::string zSql = "SELECT ";
  for (int i = 1; i <= 20; i++) {
    if (i > 1) zSql += ", ";
    zSql += "'v" + std::to_string(i) + "_' || x AS col" + std::to_string(i);
  }
  zSql +=
      " FROM (SELECT 'plain' AS x UNION ALL SELECT '\xe4\xb8\xad\xe6\x96\x87' "
      "UNION ALL SELECT '\xf0\x9f\x98\x80 smile');";
  return zSql;
}

constexpr const char* zWideQuery =
    "SELECT 1 AS id, 'the quick brown fox jumps over the lazy dog near the bank' AS a, "
    "'pack my box with five dozen liquor jugs and then some more' AS b, "
    "'\xe4\xb8\xad\xe6\x96\x87\xe5\xad\x97\xe7\xac\xa6 wide text to wrap' AS c;";

class WindowTerminal : public testing::Test {
 protected:
  void SetUp() override {
    if (shellPath().empty()) GTEST_SKIP() << "sqlsh not built";
    // Results here are read from the terminal itself: no pager.
    session = std::make_unique<PtySession>(std::vector<std::string>{":memory:"}, home.path(),
                                           EnvSettings{{"SQLSH_PAGER", ""}});
    ASSERT_TRUE(session->started());
    session->readUntil("sqlite> ", 20s);
  }
  void TearDown() override {
    if (session) {
      session->send(".quit\n");
      EXPECT_NE(session->waitExit(20s), -1);  // 1 after a test's own failing command
    }
  }
  TempDir home;
  std::unique_ptr<PtySession> session;
};

TEST_F(WindowTerminal, ATwentyColumnBoxBecomesRecordsNoWiderThanTheWindow) {
  answer(*session, ".mode box");
  const std::string zOut = answer(*session, twentyColumnQuery());
  for (const std::string& z : linesOf(zOut)) EXPECT_LE(textWidth(z.c_str()), 80) << z;
  EXPECT_NE(zOut.find("-[ RECORD 3 ]"), std::string::npos) << zOut;
  for (int i = 1; i <= 20; i++) {
    for (const char* zValue : {"plain", "\xe4\xb8\xad\xe6\x96\x87", "\xf0\x9f\x98\x80 smile"}) {
      const std::string zCell = "v" + std::to_string(i) + "_" + zValue;
      EXPECT_NE(zOut.find(zCell), std::string::npos) << zCell;
    }
  }
}

TEST_F(WindowTerminal, AWideTableIsFittedWithItsColumnsLinedUp) {
  for (const char* zMode : {".mode box", ".mode table", ".mode qbox", ".mode column"}) {
    SCOPED_TRACE(zMode);
    answer(*session, zMode);
    const std::string zOut = answer(*session, zWideQuery);
    const auto aLines = linesOf(zOut);
    ASSERT_GE(aLines.size(), 4u) << zOut;
    for (const std::string& z : aLines) {
      EXPECT_LE(textWidth(z.c_str()), 80) << z;
      EXPECT_EQ(textWidth(z.c_str()), textWidth(aLines[0].c_str())) << z;
    }
    EXPECT_EQ(zOut.find("RECORD"), std::string::npos) << zOut;
    for (const char* zWord : {"quick", "lazy", "liquor", "more", "\xe4\xb8\xad\xe6\x96\x87"}) {
      EXPECT_NE(zOut.find(zWord), std::string::npos) << zWord;
    }
  }
}

// What a pipe gets is what the terminal shows with .expanded off; and the
// pipe gets it whatever .expanded says, except for an explicit "on".
TEST_F(WindowTerminal, ExpandedOffAndPipesKeepTodaysBytes) {
  const std::string zScript = ".mode box\n" + twentyColumnQuery() + "\n" + zWideQuery + "\n";
  TempDir scratch;
  const auto piped = shell_process::runShell({":memory:"}, zScript, scratch.path(), scratch.path());
  ASSERT_TRUE(piped.bExited);
  const auto pipedAuto = shell_process::runShell({":memory:"}, ".expanded auto\n" + zScript,
                                                 scratch.path(), scratch.path());
  EXPECT_EQ(pipedAuto.zOut, piped.zOut);
  EXPECT_GT(textWidth(linesOf(piped.zOut)[0].c_str()), 80);

  answer(*session, ".expanded off");
  answer(*session, ".mode box");
  const std::string zOut = answer(*session, twentyColumnQuery()) + answer(*session, zWideQuery);
  EXPECT_EQ(zOut, piped.zOut);
  // Output sent to a file from the terminal is today's too.
  answer(*session, ".expanded auto");
  answer(*session, ".once out.txt");
  answer(*session, zWideQuery);
  const auto pipedWide = shell_process::runShell(
      {":memory:"}, std::string(".mode box\n") + zWideQuery, scratch.path(), scratch.path());
  EXPECT_EQ(shell_process::readFile(home.path() + "/out.txt"), pipedWide.zOut);
  const auto pipedOn = shell_process::runShell(
      {":memory:"}, ".expanded on\n.mode box\nSELECT 1 AS a;\n", scratch.path(), scratch.path());
  EXPECT_EQ(pipedOn.zOut, "-[ RECORD 1 ]\na | 1\n");
}

TEST_F(WindowTerminal, EachResultIsFittedToTheWindowAsItIsNow) {
  answer(*session, ".mode box");
  auto widest = [](const std::string& z) {
    int n = 0;
    for (const std::string& zLine : linesOf(z)) n = std::max(n, textWidth(zLine.c_str()));
    return n;
  };
  const std::string zAt80 = answer(*session, zWideQuery);
  EXPECT_GT(widest(zAt80), 60);
  EXPECT_LE(widest(zAt80), 80);
  session->resize(24, 50);
  const std::string zAt50 = answer(*session, zWideQuery);
  EXPECT_LE(widest(zAt50), 50) << zAt50;
  EXPECT_EQ(zAt50.find("RECORD"), std::string::npos) << zAt50;
  session->resize(24, 30);  // the floors of four columns no longer fit
  const std::string zAt30 = answer(*session, zWideQuery);
  EXPECT_EQ(zAt30.rfind("-[ RECORD 1 ]", 0), 0u) << zAt30;
  EXPECT_LE(widest(zAt30), 30) << zAt30;
}

TEST_F(WindowTerminal, ExpandedOnShowsEveryAlignedResultAsRecords) {
  answer(*session, ".mode table");
  EXPECT_EQ(answer(*session, ".expanded"), "expanded: auto\n");
  answer(*session, ".expanded on");
  EXPECT_EQ(answer(*session, "SELECT 1 AS a, 'x' AS bc UNION ALL SELECT 2, NULL;"),
            "-[ RECORD 1 ]\n"
            "a  | 1\n"
            "bc | x\n"
            "-[ RECORD 2 ]\n"
            "a  | 2\n"
            "bc |\n");
  EXPECT_NE(answer(*session, ".show").find("    expanded: on\n"), std::string::npos);
  // Modes that are not aligned keep their output.
  answer(*session, ".mode list");
  EXPECT_EQ(answer(*session, "SELECT 1 AS a, 'x' AS bc;"), "1|x\n");
  EXPECT_EQ(answer(*session, ".expanded sideways"),
            "Error: .expanded takes auto, on or off, not \"sideways\"\n");
  EXPECT_EQ(answer(*session, ".expanded"), "expanded: on\n");
}

// .help at the terminal knows the terminal's commands; through a pipe it
// prints exactly the table it always did.
TEST_F(WindowTerminal, HelpShowsTheTerminalsCommandsOnlyAtTheTerminal) {
  const std::string zHelp = answer(*session, ".help expanded");
  EXPECT_EQ(zHelp.rfind(".expanded ?auto|on|off?", 0), 0u) << zHelp;
  EXPECT_NE(zHelp.find("     off "), std::string::npos) << zHelp;
  EXPECT_NE(answer(*session, ".help").find("\n.expanded "), std::string::npos);

  TempDir scratch;
  const auto piped = shell_process::runShell({":memory:"}, ".help expanded\n.help\n.show\n",
                                             scratch.path(), scratch.path());
  EXPECT_EQ(piped.zOut.find(".expanded"), std::string::npos) << piped.zOut;
  EXPECT_EQ(piped.zOut.rfind(".trace ?OPTIONS?", 0), 0u) << piped.zOut;  // "--expanded" of .trace
  EXPECT_EQ(piped.zOut.find("expanded:"), std::string::npos) << piped.zOut;
}

TEST(WindowCompletion, KnowsTheTerminalsCommandsAndTheirWords) {
  EXPECT_EQ(dotCommandNames("expa"), std::vector<std::string>{"expanded"});
  const auto aNames = dotCommandNames("ex");
  EXPECT_NE(std::find(aNames.begin(), aNames.end(), "expanded"), aNames.end());
  auto aWords = dotCommandArgWords("expanded");
  std::sort(aWords.begin(), aWords.end());
  EXPECT_EQ(aWords, (std::vector<std::string>{"auto", "off", "on"}));
}

}  // namespace
