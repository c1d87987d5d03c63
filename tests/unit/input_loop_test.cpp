// Line reading and the statement scanner of the input loop.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

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
