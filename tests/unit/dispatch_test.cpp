// The dot-command dispatch chain, the argument splitter and the help printer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "shell/commands/Dispatch.h"
#include "tests/unit/command_prefixes.h"

namespace {

// The chain, first to last: every command word with its match rule.
struct ExpectedRow {
  const char* zName;
  int nMinLength;  // 0 for exact
};
const ExpectedRow expectedOrder[] = {
    {"auth", 1},        {"backup", 3},     {"save", 3},     {"bail", 3},      {"binary", 3},
    {"breakpoint", 3},  {"cd", 0},         {"changes", 3},  {"check", 3},     {"clone", 1},
    {"connection", 1},  {"databases", 2},  {"dbconfig", 3}, {"dump", 1},      {"echo", 1},
    {"eqp", 1},         {"exit", 1},       {"explain", 1},  {"expert", 1},    {"filectrl", 1},
    {"fullschema", 1},  {"headers", 1},    {"help", 1},     {"import", 1},    {"imposter", 1},
    {"limits", 5},      {"lint", 3},       {"load", 1},     {"log", 1},       {"mode", 1},
    {"nonce", 0},       {"nullvalue", 1},  {"open", 2},     {"output", 1},    {"once", 1},
    {"excel", 0},       {"parameter", 3},  {"print", 3},    {"progress", 3},  {"prompt", 1},
    {"quit", 1},        {"read", 3},       {"restore", 3},  {"scanstats", 1}, {"schema", 1},
    {"selecttrace", 0}, {"treetrace", 0},  {"selftest", 4}, {"separator", 1}, {"sha3sum", 4},
    {"shell", 1},       {"system", 1},     {"show", 1},     {"stats", 1},     {"tables", 2},
    {"indices", 1},     {"indexes", 1},    {"testcase", 0}, {"testctrl", 8},  {"timeout", 5},
    {"timer", 5},       {"trace", 1},      {"version", 1},  {"vfsinfo", 1},   {"vfslist", 1},
    {"vfsname", 1},     {"wheretrace", 1}, {"width", 1},    {"edit", 2},      {"watch", 2},
};

TEST(DispatchTable, RowsInOrderWithTheirRules) {
  auto rows = dotCommandRows();
  ASSERT_EQ(rows.size(), std::size(expectedOrder));
  for (size_t i = 0; i < rows.size(); i++) {
    SCOPED_TRACE(expectedOrder[i].zName);
    EXPECT_STREQ(rows[i].zName, expectedOrder[i].zName);
    if (expectedOrder[i].nMinLength == 0) {
      EXPECT_EQ(rows[i].eRule, MatchRule::Exact);
    } else {
      EXPECT_EQ(rows[i].eRule, MatchRule::Prefix);
      EXPECT_EQ(rows[i].nMinLength, expectedOrder[i].nMinLength);
    }
  }
}

// The word a user types and the command it reaches (null: unknown).
struct Resolution {
  const char* zWord;
  const char* zCommand;
};
const Resolution resolutions[] = {
    // The earliest command an abbreviation abbreviates wins.
    {"c", "clone"},
    {"e", "echo"},
    {"ex", "exit"},
    {"exi", "exit"},
    {"exp", "explain"},
    {"expe", "expert"},
    {"p", "prompt"},
    {"pr", "prompt"},
    {"pri", "print"},
    {"par", "parameter"},
    {"s", "scanstats"},
    {"sh", "shell"},
    {"se", "separator"},
    {"self", "selftest"},
    {"sha3", "sha3sum"},
    {"st", "stats"},
    {"sy", "system"},
    {"t", "trace"},
    {"ta", "tables"},
    {"in", "indices"},
    {"indexes", "indexes"},
    {"w", "wheretrace"},
    {"wi", "width"},
    {"d", "dump"},
    {"da", "databases"},
    {"l", "load"},
    {"limit", "limits"},
    {"o", "output"},
    {"on", "once"},
    {"op", "open"},
    {"f", "filectrl"},
    {"fu", "fullschema"},
    {"h", "headers"},
    {"he", "headers"},
    {"hel", "help"},
    {"i", "import"},
    {"imp", "import"},
    {"impo", "import"},
    {"impos", "imposter"},
    {"m", "mode"},
    {"n", "nullvalue"},
    {"q", "quit"},
    {"rea", "read"},
    {"res", "restore"},
    {"sav", "save"},
    {"bac", "backup"},
    {"bai", "bail"},
    {"bin", "binary"},
    {"bre", "breakpoint"},
    {"cha", "changes"},
    {"che", "check"},
    {"dbc", "dbconfig"},
    {"time", nullptr},
    {"timeo", "timeout"},
    {"timer", "timer"},
    {"testctrl", "testctrl"},
    {"v", "version"},
    {"vfsi", "vfsinfo"},
    {"vfsl", "vfslist"},
    {"vfsn", "vfsname"},
    {"a", "auth"},
    {"lin", "lint"},
    {"ed", "edit"},
    {"edi", "edit"},
    {"edit", "edit"},
    {"wa", "watch"},
    {"wat", "watch"},
    {"watch", "watch"},
    // Exact words.
    {"cd", "cd"},
    {"excel", "excel"},
    {"nonce", "nonce"},
    {"testcase", "testcase"},
    {"selecttrace", "selecttrace"},
    {"treetrace", "treetrace"},
    // Words that reach nothing.
    {"b", nullptr},
    {"ba", nullptr},
    {"r", nullptr},
    {"re", nullptr},
    {"exc", nullptr},
    {"non", nullptr},
    {"testcas", nullptr},
    {"testctr", nullptr},
    {"cdx", nullptr},
    {"MODE", nullptr},
    {"Mode", nullptr},
    {"modes", nullptr},
    {"helpx", nullptr},
    {"lim", nullptr},
    {"sel", nullptr},
    {"tree", nullptr},
    {"zzz", nullptr},
    {"editx", nullptr},
    {"watches", nullptr},
    {"", nullptr},
};

TEST(DispatchTable, AbbreviationsResolve) {
  for (const auto& r : resolutions) {
    SCOPED_TRACE(r.zWord);
    const DotCommandRow* pRow = findDotCommand(r.zWord);
    if (r.zCommand == nullptr) {
      EXPECT_EQ(pRow, nullptr) << (pRow ? pRow->zName : "");
    } else {
      ASSERT_NE(pRow, nullptr);
      EXPECT_STREQ(pRow->zName, r.zCommand);
    }
  }
}

// The rows added last (.edit, .watch) take only words that reached nothing
// before them: every abbreviation of every command still reaches the
// command it reached without those rows.
TEST(DispatchTable, CommandsAddedLastChangeNoEarlierAbbreviation) {
  const std::vector<std::string> azAdded = {"edit", "watch"};
  auto rows = dotCommandRows();
  const size_t nEarlier = rows.size() - azAdded.size();
  for (size_t i = 0; i < azAdded.size(); i++) EXPECT_EQ(rows[nEarlier + i].zName, azAdded[i]);
  auto earlier = [&](const std::string& zWord) -> const DotCommandRow* {
    for (size_t i = 0; i < nEarlier; i++) {
      if (command_prefixes::rowTakes(rows[i], zWord)) return &rows[i];
    }
    for (const DotCommandRow& row : terminalCommandRows()) {
      if (command_prefixes::rowTakes(row, zWord)) return &row;
    }
    return nullptr;
  };
  command_prefixes::expectNoAbbreviationTaken(earlier, [&](const DotCommandRow& row) {
    return std::find(azAdded.begin(), azAdded.end(), row.zName) != azAdded.end();
  });
}

TEST(DispatchTable, SharedHandlersAndTheCommandsOfThisShell) {
  auto handlerOf = [](const char* z) { return findDotCommand(z)->xHandler; };
  EXPECT_EQ(handlerOf("output"), handlerOf("once"));
  EXPECT_EQ(handlerOf("output"), handlerOf("excel"));
  EXPECT_EQ(handlerOf("tables"), handlerOf("indexes"));
  EXPECT_EQ(handlerOf("tables"), handlerOf("indices"));
  for (const char* z : {"help", "exit", "quit", "mode", "output", "schema", "dump", "import",
                        "databases", "fullschema", "tables", "print", "width"}) {
    EXPECT_NE(handlerOf(z), nullptr) << z;
  }
}

std::vector<std::string> split(const char* zLine) {
  std::string buf(zLine);
  std::vector<char> line(buf.begin(), buf.end());
  line.push_back(0);
  char* azArg[maxDotArgs + 1];
  int n = splitDotCommandLine(line.data(), azArg);
  EXPECT_EQ(azArg[n], nullptr);
  return std::vector<std::string>(azArg, azArg + n);
}

using Words = std::vector<std::string>;

TEST(DotCommandSplitter, QuotesAndEscapes) {
  EXPECT_EQ(split("."), Words{});
  EXPECT_EQ(split(".   \t "), Words{});
  EXPECT_EQ(split(". mode csv"), (Words{"mode", "csv"}));
  EXPECT_EQ(split(".print 'a\\tb'"), (Words{"print", "a\\tb"}));
  EXPECT_EQ(split(".print \"a\\tb\""), (Words{"print", "a\tb"}));
  EXPECT_EQ(split(".print a\\tb"), (Words{"print", "a\tb"}));
  EXPECT_EQ(split(".print \"abc"), (Words{"print", "abc"}));
  EXPECT_EQ(split(".print 'abc"), (Words{"print", "abc"}));
  EXPECT_EQ(split(".print 'ab'cd"), (Words{"print", "ab", "cd"}));
  EXPECT_EQ(split(".print a'b c\"d"), (Words{"print", "a'b", "c\"d"}));
  EXPECT_EQ(split(".print \"say \\\"hi\\\"\" x"), (Words{"print", "say \"hi\"", "x"}));
  EXPECT_EQ(split(".print 'it''s'"), (Words{"print", "it", "s"}));
  EXPECT_EQ(split(".print '' \"\""), (Words{"print", "", ""}));
  EXPECT_EQ(split(".print \\101\\x"), (Words{"print", "Ax"}));
  EXPECT_EQ(split(".print   spaced\t\ttabs  "), (Words{"print", "spaced", "tabs"}));
}

TEST(DotCommandSplitter, TakesAtMost51Words) {
  std::string line = ".print";
  for (int i = 1; i < 60; i++) line += " w" + std::to_string(i);
  Words words = split(line.c_str());
  ASSERT_EQ(words.size(), 51u);
  EXPECT_EQ(words.front(), "print");
  EXPECT_EQ(words.back(), "w50");
}

std::string helpOutput(const char* zPattern, int* pnMatch) {
  FILE* f = std::tmpfile();
  *pnMatch = printHelpLines(f, zPattern);
  std::string s;
  std::rewind(f);
  int c;
  while ((c = std::fgetc(f)) != EOF) s += static_cast<char>(c);
  std::fclose(f);
  return s;
}

int countLines(const std::string& s) {
  int n = 0;
  for (char c : s) n += c == '\n';
  return n;
}

TEST(HelpTable, ShapeOfTheTable) {
  int nCommands = 0;
  for (const char* z : helpLines) nCommands += z[0] == '.';
  EXPECT_EQ(nCommands, 62);
  EXPECT_STREQ(helpLines[0], ".auth ON|OFF             Show authorizer callbacks");
  EXPECT_STREQ(helpLines[nHelpLines - 1], "     Negative values right-justify");
}

TEST(HelpTable, PatternsSelectEntries) {
  int n = 0;
  std::string s = helpOutput(nullptr, &n);
  EXPECT_EQ(n, 62);
  EXPECT_EQ(countLines(s), 62);

  s = helpOutput("-all", &n);
  EXPECT_EQ(n, 175);
  EXPECT_EQ(helpOutput("0", &n), s);
  EXPECT_EQ(helpOutput("--all", &n), s);

  // One glob match brings its detail lines along.
  s = helpOutput("mo", &n);
  EXPECT_EQ(n, 1);
  EXPECT_EQ(countLines(s), 1 + 23);
  EXPECT_EQ(s.rfind(".mode MODE ?OPTIONS?", 0), 0u);

  s = helpOutput("width", &n);
  EXPECT_EQ(n, 1);
  EXPECT_EQ(s,
            ".width NUM1 NUM2 ...     Set minimum column widths for columnar output\n"
            "     Negative values right-justify\n");

  // Several glob matches: the command lines alone.
  s = helpOutput("s", &n);
  EXPECT_EQ(n, 10);
  EXPECT_EQ(countLines(s), 10);

  // No glob match: LIKE over every line prints each entry once.
  s = helpOutput("json", &n);
  EXPECT_EQ(n, 1);
  EXPECT_EQ(countLines(s), 24);
  s = helpOutput("SEPARATOR", &n);
  EXPECT_EQ(n, 2);  // the .import entry (printed once) and .separator
  EXPECT_NE(s.find(".separator COL ?ROW?"), std::string::npos);
  EXPECT_NE(s.find(".import FILE TABLE"), std::string::npos);

  s = helpOutput("zzz", &n);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(s, "");
}

}  // namespace
