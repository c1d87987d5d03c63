// Line reading and the statement scanner of the input loop.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <sqlite3.h>

#include "shell/app/InputLoop.h"
#include "shell/core/ShellContext.h"

namespace {

struct ScanCase {
  const char* zLine;
  int inState;
  int outState;
};

TEST(ScanLine, StatesAfterOneLine) {
  const ScanCase cases[] = {
      {"", 0, 0},
      {"   \t", 0, 0},
      {";", 0, endsWithSemicolon},
      {" ; ;", 0, endsWithSemicolon},
      {"select 1", 0, hasContent},
      {"select 1;", 0, hasContent | endsWithSemicolon},
      {"select 1; ", 0, hasContent | endsWithSemicolon},
      {"select 1; -- done", 0, hasContent | endsWithSemicolon},
      {"select 1; x", 0, hasContent},
      {"-- only a comment", 0, 0},
      {"- 1", 0, hasContent},
      {"a / b", 0, hasContent},
      {"/* open", 0, '*'},
      {"; /* open", 0, endsWithSemicolon | '*'},
      {"x /* open", 0, hasContent | '*'},
      {"/* closed */", 0, 0},
      {"still */ ;", '*', endsWithSemicolon},
      {"still */ ;", hasContent | '*', hasContent | endsWithSemicolon},
      {"select 'a;", 0, hasContent | '\''},
      {"b';", hasContent | '\'', hasContent | endsWithSemicolon},
      {"'it''s';", 0, hasContent | endsWithSemicolon},
      {"'it''", 0, hasContent | '\''},
      {"select \"x;", 0, hasContent | '"'},
      {"select `x;", 0, hasContent | '`'},
      {"select [x;", 0, hasContent | ']'},
      {"x]] ;", hasContent | ']', hasContent | endsWithSemicolon},  // the second "]" is content
      {"; 'a'", 0, hasContent},
      {"select '--';", 0, hasContent | endsWithSemicolon},
      {"select 1 -- ;", 0, hasContent},
      {"a\n-- c\n;", 0, hasContent | endsWithSemicolon},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.zLine);
    EXPECT_EQ(scanLine(c.zLine, c.inState), c.outState);
  }
}

TEST(ScanLine, CommandTerminators) {
  for (const char* z : {"/", "go", "GO", "Go", "  go  ", "\t/", "go -- run it", "/ /* x */"}) {
    EXPECT_TRUE(isCommandTerminator(z)) << z;
  }
  for (const char* z : {"", "g", "gone", "go;", "//", "/ x", "go 'x'", "go /* open", ";"}) {
    EXPECT_FALSE(isCommandTerminator(z)) << z;
  }
}

TEST(ScanLine, CompleteSql) {
  EXPECT_TRUE(isCompleteSql(nullptr, 0));
  EXPECT_TRUE(isCompleteSql("select 1", 8));
  EXPECT_TRUE(isCompleteSql("select 1;", 9));
  EXPECT_FALSE(isCompleteSql("select 'a", 9));
  EXPECT_FALSE(isCompleteSql("create trigger t after insert on x begin select 1;", 50));
  // Only the first nSql bytes count.
  EXPECT_TRUE(isCompleteSql("select 1 'tail", 8));
}

std::vector<std::string> readAllLines(const std::string& input) {
  FILE* f = std::tmpfile();
  std::fwrite(input.data(), 1, input.size(), f);
  std::rewind(f);
  std::vector<std::string> lines;
  char* zLine = nullptr;
  while ((zLine = getLine(zLine, f)) != nullptr) lines.emplace_back(zLine);
  std::fclose(f);
  return lines;
}

TEST(GetLine, LineEndsAndLongLines) {
  using Lines = std::vector<std::string>;
  EXPECT_EQ(readAllLines(""), Lines{});
  EXPECT_EQ(readAllLines("a\nb\n"), (Lines{"a", "b"}));
  EXPECT_EQ(readAllLines("a\r\nb\r\n"), (Lines{"a", "b"}));
  EXPECT_EQ(readAllLines("a\r\r\n"), (Lines{"a\r"}));
  EXPECT_EQ(readAllLines("last without end"), (Lines{"last without end"}));
  EXPECT_EQ(readAllLines("\n\n"), (Lines{"", ""}));
  std::string longLine(100000, 'x');
  EXPECT_EQ(readAllLines(longLine + "\r\n" + longLine), (Lines{longLine, longLine}));
}

struct ReadLine {
  std::string zText;  // the line's bytes, NULs included
  size_t nStrlen;     // what strlen sees of it
  bool operator==(const ReadLine&) const = default;
};

std::vector<ReadLine> readLinesWithLengths(const std::string& input) {
  FILE* f = std::tmpfile();
  std::fwrite(input.data(), 1, input.size(), f);
  std::rewind(f);
  std::vector<ReadLine> lines;
  char* zLine = nullptr;
  size_t nLine = 0;
  while ((zLine = getLine(zLine, f, &nLine)) != nullptr) {
    lines.push_back({std::string(zLine, nLine), std::strlen(zLine)});
  }
  std::fclose(f);
  return lines;
}

TEST(GetLine, NulBytesKeepTheLineAndItsEnd) {
  using Lines = std::vector<ReadLine>;
  using namespace std::string_literals;
  // The line end after a NUL is found: the next line stays a line of its own.
  EXPECT_EQ(readLinesWithLengths("select 1;\0select 2;\nselect 3;\n"s),
            (Lines{{"select 1;\0select 2;"s, 9}, {"select 3;", 9}}));
  EXPECT_EQ(readLinesWithLengths("-- note\0x\r\ninsert\n"s),
            (Lines{{"-- note\0x"s, 7}, {"insert", 6}}));
  EXPECT_EQ(readLinesWithLengths("\0\0\n\0"s), (Lines{{"\0\0"s, 0}, {"\0"s, 0}}));
  std::string longLine(5000, 'x');
  longLine[4000] = '\0';
  EXPECT_EQ(readLinesWithLengths(longLine + "\nend"), (Lines{{longLine, 4000}, {"end", 3}}));
}

// The tracker against the engine's own check, over every prefix of a set of
// multi-line texts fed a line at a time.
void expectTrackerAgreesWithEngine(const std::vector<std::string>& lines) {
  CompletenessTracker tracker;
  std::string zJoined;
  for (size_t i = 0; i < lines.size(); i++) {
    if (i > 0) zJoined += '\n';
    zJoined += lines[i];
    tracker.addLine(lines[i]);
    SCOPED_TRACE(zJoined);
    ASSERT_EQ(tracker.isComplete(), sqlite3_complete(zJoined.c_str()) != 0);
    ASSERT_EQ(tracker.isCompleteWithSemicolon(), sqlite3_complete((zJoined + ";").c_str()) != 0);
  }
}

TEST(CompletenessTracker, AgreesWithTheEngineOnTypicalText) {
  const std::vector<std::vector<std::string>> texts = {
      {"select 1;"},
      {"select 1"},
      {""},
      {"  ", ";"},
      {"select 'a;", "b';"},
      {"create trigger tr after insert on t begin", "  insert into u values(1);",
       "  update u set a = 2;", "end;"},
      {"CREATE TEMP TRIGGER tr AFTER INSERT ON t BEGIN SELECT 1; END", ";"},
      {"create temporary trigger x begin select 1; end; select 2;"},
      {"explain create trigger x begin select 1;", "end;"},
      {"explain select 1;"},
      {"create table end(x);"},
      {"create trigger x begin select 'end;'; end -- ;", ";"},
      {"select 1; -- trailing", "-- more"},
      {"select 1 -- trailing"},
      {"select /* open", "still; */ 1;"},
      {"select /*/ 1;", "*/;"},
      {"select [a;", "b];"},
      {"select `x", "`;"},
      {"select \"x\"\"y\";"},
      {"create trigger x begin select 1; end$;", "end;"},
      {"explain$create trigger x begin select 1;"},
      {"explain\vcreate trigger x begin select 1;", "end;"},
      {"create trigger \xc3\xa9nd begin select 1; end;"},
      {"select 1 -", "- 2;"},
      {"select 1 /", "* 2;"},
      {"create", "trigger t begin select 1; end", ";"},
  };
  for (const auto& lines : texts) expectTrackerAgreesWithEngine(lines);
}

TEST(CompletenessTracker, AgreesWithTheEngineOnRandomText) {
  // Lines built from the pieces that matter to the check, in random order.
  const char* const pieces[] = {
      ";",      " ",       "\t",       "\r",        "\f",      "\v",     "x", "end", "END",
      "create", "trigger", "temp",     "temporary", "explain", "begin",  "'", "\"",  "`",
      "[",      "]",       "/*",       "*/",        "--",      "-",      "/", "*",   "$",
      "_end",   "end_",    "\xc3\xa9", "1",         "''",      "select", "(", ")",
  };
  std::mt19937 rng(20261210);
  std::uniform_int_distribution<size_t> pickPiece(0, std::size(pieces) - 1);
  std::uniform_int_distribution<int> pickCount(0, 8);
  for (int iText = 0; iText < 3000; iText++) {
    std::vector<std::string> lines(1 + static_cast<size_t>(pickCount(rng)) / 2);
    for (auto& line : lines) {
      for (int k = pickCount(rng); k > 0; k--) line += pieces[pickPiece(rng)];
    }
    expectTrackerAgreesWithEngine(lines);
    if (HasFatalFailure()) return;
  }
}

TEST(ProcessInput, RefusesTheTwentySixthLevel) {
  ShellContext ctx{};
  ctx.nInputDepth = 25;
  ctx.iLineNo = 7;
  testing::internal::CaptureStderr();
  EXPECT_EQ(processInput(&ctx), 1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Input nesting limit (25) reached at line 7. Check recursion.\n");
  EXPECT_EQ(ctx.nInputDepth, 25);
}

}  // namespace
