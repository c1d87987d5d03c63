#include <gtest/gtest.h>

#include <string>

#include "shell/core/ArgParsers.h"
#include "shell/core/ShellContext.h"

TEST(ParseIntegerArg, SuffixesSignsAndBases) {
  struct Case {
    const char* zIn;
    sqlite3_int64 iWant;
  } cases[] = {
      {"10KiB", 10240}, {"10kb", 10000}, {"-0x10", -16},    {"0X10", 0},          {"12abc", 12},
      {"1 K", 1},       {"+7", 7},       {"2MiB", 2097152}, {"3g", 3000000000LL}, {"", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(parseIntegerArg(c.zIn), c.iWant) << c.zIn;
}

TEST(ParseBooleanArg, WordsAndNumbers) {
  EXPECT_EQ(parseBooleanArg("ON"), 1);
  EXPECT_EQ(parseBooleanArg("yes"), 1);
  EXPECT_EQ(parseBooleanArg("off"), 0);
  EXPECT_EQ(parseBooleanArg("No"), 0);
  EXPECT_NE(parseBooleanArg("2"), 0);
  EXPECT_NE(parseBooleanArg("0x10"), 0);
  EXPECT_EQ(parseBooleanArg("0"), 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(parseBooleanArg("-1"), 0);
  EXPECT_EQ(parseBooleanArg("true"), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "ERROR: Not a boolean value: \"-1\". Assuming \"no\".\n"
            "ERROR: Not a boolean value: \"true\". Assuming \"no\".\n");
}

TEST(ExpandBackslashEscapes, Table) {
  struct Case {
    const char* zIn;
    std::string want;
  } cases[] = {
      {"a\\tb", "a\tb"},  {"\\n\\r", "\n\r"}, {"\\101\\0", std::string("A\0", 2)},
      {"\\777", "\xff"},  {"x\\", "x\\"},     {"\\q\\\\", "q\\"},
      {"plain", "plain"}, {"\\\"\\'", "\"'"},
  };
  for (const auto& c : cases) {
    std::string buf(c.zIn);
    expandBackslashEscapes(buf.data());
    EXPECT_EQ(std::string(buf.c_str(), c.want.size()), c.want) << c.zIn;
    EXPECT_EQ(buf.c_str()[c.want.size()], '\0') << c.zIn;
  }
}

TEST(IdentQuoteChar, QuotesWhatMustBeQuoted) {
  EXPECT_EQ(identQuoteChar("abc_1"), 0);
  EXPECT_EQ(identQuoteChar("_x"), 0);
  EXPECT_EQ(identQuoteChar("1abc"), '"');
  EXPECT_EQ(identQuoteChar("a b"), '"');
  EXPECT_EQ(identQuoteChar("select"), '"');
  EXPECT_EQ(identQuoteChar(""), '"');
}

TEST(TextBuffer, AppendsAndQuotes) {
  TextBuffer b;
  textInit(&b);
  textAppend(&b, "x", 0);
  textAppend(&b, "a\"b", '"');
  EXPECT_STREQ(b.z, "x\"a\"\"b\"");
  EXPECT_EQ(b.n, 7);
  textFree(&b);
  EXPECT_EQ(b.z, nullptr);
}

TEST(MatchOption, OneOrTwoDashes) {
  EXPECT_TRUE(matchOption("-indent", "indent"));
  EXPECT_TRUE(matchOption("--indent", "indent"));
  EXPECT_FALSE(matchOption("---indent", "indent"));
  EXPECT_FALSE(matchOption("indent", "indent"));
  EXPECT_FALSE(matchOption("-indentx", "indent"));
}

TEST(ShellContext, InitialValuesAndSaveRestore) {
  // Static: the engine keeps the record as its log callback argument.
  static ShellContext s;
  initShellContext(&s);
  EXPECT_EQ(s.eMode, OutputMode::List);
  EXPECT_STREQ(s.zColSep, "|");
  EXPECT_STREQ(s.zRowSep, "\n");
  EXPECT_EQ(s.mFlags, 0x02u);
  EXPECT_EQ(s.pConn, &s.aConn[0]);
  s.eMode = OutputMode::Csv;
  saveOutputMode(&s);
  s.eMode = OutputMode::Json;
  saveOutputMode(&s);
  s.eMode = OutputMode::Line;
  restoreOutputMode(&s);
  EXPECT_EQ(s.eMode, OutputMode::Json);
  setSettingText(s.zNullText, "0123456789abcdefghijKLMN");
  EXPECT_STREQ(s.zNullText, "0123456789abcdefghi");
}
