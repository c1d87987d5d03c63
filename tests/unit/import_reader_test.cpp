// The field readers of .import: exact fields, terminators, line numbers and
// warnings for tricky input, from memory and from a stream.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "shell/commands/ImportReader.h"
#include "shell/core/ShellContext.h"

namespace {

struct Field {
  std::string text;
  int iTerm;
  bool operator==(const Field&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Field& f) {
  return os << "{\"" << f.text << "\", " << f.iTerm << "}";
}

struct ReadResult {
  std::vector<Field> fields;
  std::string errors;
  int iLine;
};

// Reads every field of zIn (from memory, or through a temporary file).
ReadResult readAll(const std::string& in, ImportFieldReader xRead, int cSep = ',', int rSep = '\n',
                   bool bFromFile = false, int nMaxField = 0) {
  ImportReader r{};
  r.zSourceName = "in.csv";
  r.iLine = 1;
  r.iColSep = cSep;
  r.iRowSep = rSep;
  r.nMaxField = nMaxField;
  if (bFromFile) {
    FILE* f = std::tmpfile();
    std::fwrite(in.data(), 1, in.size(), f);
    std::rewind(f);
    r.pInput = f;
    r.nBlockSize = in.size() < 1000 ? 3 : 0;  // small inputs: block edges everywhere
    r.xCloseInput = std::fclose;
  } else {
    setImportMemoryInput(&r, in.data(), in.size());
  }
  ReadResult res;
  testing::internal::CaptureStderr();
  while (const char* z = xRead(&r)) {
    res.fields.push_back({std::string(z, static_cast<size_t>(r.nField)), r.iTerm});
    EXPECT_EQ(z[r.nField], 0);
  }
  res.errors = testing::internal::GetCapturedStderr();
  EXPECT_EQ(r.iTerm, -1);
  res.iLine = r.iLine;
  closeImportReader(&r);
  return res;
}

constexpr int nl = '\n';
constexpr int co = ',';

TEST(ReadCsvField, FieldsAndTerminators) {
  struct Case {
    const char* zName;
    std::string in;
    std::vector<Field> want;
    int iLine;
  } cases[] = {
      {"plain", "a,b\n1,2\n", {{"a", co}, {"b", nl}, {"1", co}, {"2", nl}}, 3},
      {"no final newline", "a,b", {{"a", co}, {"b", -1}}, 1},
      {"empty fields", ",,\n", {{"", co}, {"", co}, {"", nl}}, 2},
      {"separator right before the end of input", "a,", {{"a", co}}, 1},
      {"empty line", "\n\n", {{"", nl}, {"", nl}}, 3},
      {"crlf unquoted", "a,b\r\n", {{"a", co}, {"b", nl}}, 2},
      {"cr kept inside", "a\rb,c\r\r\n", {{"a\rb", co}, {"c\r", nl}}, 2},
      {"quoted separators", "\"a,b\",\"c\nd\"\n", {{"a,b", co}, {"c\nd", nl}}, 3},
      {"doubled quotes", "\"x\"\"y\",\"\"\"\"\n", {{"x\"y", co}, {"\"", nl}}, 2},
      {"empty quoted", "\"\",\"\"", {{"", co}, {"", -1}}, 1},
      {"quoted crlf", "\"a\"\r\n\"b\r\nc\"\r\n", {{"a", nl}, {"b\r\nc", nl}}, 4},
      {"quote inside unquoted", "a\"b,c\n", {{"a\"b", co}, {"c", nl}}, 2},
      {"blank before quote", " \"a\",b\n", {{" \"a\"", co}, {"b", nl}}, 2},
      {"bom",
       "\xEF\xBB\xBF"
       "a,b\n",
       {{"a", co}, {"b", nl}},
       2},
      {"bom then quote", "\xEF\xBB\xBF\"a\"\n", {{"a", nl}}, 2},
      {"partial bom", "\xEF\xBBx,y\n", {{"\xEF\xBBx", co}, {"y", nl}}, 2},
      {"partial bom at separator", "\xEF,y", {{"\xEF", co}, {"y", -1}}, 1},
      {"bom only at start", "a\n\xEF\xBB\xBF\n", {{"a", nl}, {"\xEF\xBB\xBF", nl}}, 3},
      {"only a bom", "\xEF\xBB\xBF", {}, 1},
      {"nul bytes",
       std::string("a\0b,\"c\0\"\n", 9),
       {{std::string("a\0b", 3), co}, {std::string("c\0", 2), nl}},
       2},
      {"invalid utf-8", "\xff\xfe,\xc3\n", {{"\xff\xfe", co}, {"\xc3", nl}}, 2},
  };
  for (const auto& c : cases) {
    for (bool bFile : {false, true}) {
      ReadResult r = readAll(c.in, readCsvField, ',', '\n', bFile);
      EXPECT_EQ(r.fields, c.want) << c.zName;
      EXPECT_EQ(r.errors, "") << c.zName;
      EXPECT_EQ(r.iLine, c.iLine) << c.zName;
    }
  }
}

TEST(ReadCsvField, StrayAndUnterminatedQuotes) {
  struct Case {
    const char* zName;
    std::string in;
    std::vector<Field> want;
    std::string errors;
  } cases[] = {
      {"quote ends the field early",
       "\"x\"y\",z\n",
       {{"x\"y", co}, {"z", nl}},
       "in.csv:1: unescaped \" character\n"},
      {"unterminated at end of input",
       "a\n\"b\nc\nd",
       {{"a", nl}, {"b\nc\nd", -1}},
       "in.csv:2: unterminated \"-quoted field\n"},
      {"lone quote at end of input",
       "a,\"",
       {{"a", co}, {"", -1}},
       "in.csv:1: unterminated \"-quoted field\n"},
      {"warning counts lines inside quotes",
       "\"a\nb\"c\"\n",
       {{"a\nb\"c", nl}},
       "in.csv:2: unescaped \" character\n"},
      {"carriage return after a quote, not before the separator",
       "\"a\"\rb\"\n",
       {{"a\"\rb", nl}},
       ""},
  };
  for (const auto& c : cases) {
    ReadResult r = readAll(c.in, readCsvField);
    EXPECT_EQ(r.fields, c.want) << c.zName;
    EXPECT_EQ(r.errors, c.errors) << c.zName;
  }
}

TEST(ReadCsvField, OtherSeparators) {
  ReadResult r = readAll("a|\"b|c\"\t1|2\r\t", readCsvField, '|', '\t');
  std::vector<Field> want = {{"a", '|'}, {"b|c", '\t'}, {"1", '|'}, {"2", '\t'}};
  EXPECT_EQ(r.fields, want);
  EXPECT_EQ(r.iLine, 3);
}

TEST(ReadAsciiField, SplitsOnlyAtSeparators) {
  const std::string in =
      "\"a\"\x1F\xEF\xBB\xBF"
      "b\r\x1E\x1F\x1E"
      "c";
  for (bool bFile : {false, true}) {
    ReadResult r = readAll(in, readAsciiField, 0x1F, 0x1E, bFile);
    std::vector<Field> want = {{"\"a\"", 0x1F},
                               {"\xEF\xBB\xBF"
                                "b\r",
                                0x1E},
                               {"", 0x1F},
                               {"", 0x1E},
                               {"c", -1}};
    EXPECT_EQ(r.fields, want);
    EXPECT_EQ(r.iLine, 3);
    EXPECT_EQ(r.errors, "");
  }
}

// Fields and records that straddle the stream's block boundaries read the
// same as from memory.
TEST(ReadCsvField, LargeInputThroughStream) {
  std::string in;
  for (int i = 0; i < 5000; i++) {
    in += "\"q" + std::to_string(i) + ",\"\"x\"\"\r\n\"," +
          std::string(static_cast<size_t>(i % 97), 'v') + "\r\n";
  }
  in += std::string(300000, 'w') + ",\"" + std::string(200000, 'z') + "\"\r\n";
  ReadResult fromMemory = readAll(in, readCsvField);
  ReadResult fromFile = readAll(in, readCsvField, ',', '\n', true);
  ASSERT_EQ(fromMemory.fields.size(), 10002u);
  EXPECT_EQ(fromMemory.fields, fromFile.fields);
  EXPECT_EQ(fromMemory.fields[2].text, "q1,\"x\"\r\n");
  EXPECT_EQ(fromMemory.fields[10001].text, std::string(200000, 'z'));
  EXPECT_EQ(fromFile.iLine, 10002);
  EXPECT_EQ(fromFile.errors, "");
}

TEST(ReadCsvField, FieldBeyondTheCapIsCutAndMarked) {
  ImportReader r{};
  r.zSourceName = "x";
  r.iLine = 1;
  r.iColSep = ',';
  r.iRowSep = '\n';
  r.nMaxField = 10;
  const std::string in = std::string(25, 'a') + ",\"" + std::string(30, 'b') + "\",c\n";
  setImportMemoryInput(&r, in.data(), in.size());
  ASSERT_NE(readCsvField(&r), nullptr);
  EXPECT_TRUE(r.bFieldTooLong);
  EXPECT_EQ(std::string(r.zField), std::string(10, 'a'));
  EXPECT_EQ(r.iTerm, ',');
  ASSERT_NE(readCsvField(&r), nullptr);
  EXPECT_TRUE(r.bFieldTooLong);
  EXPECT_EQ(r.nField, 10);
  EXPECT_EQ(r.iTerm, ',');
  ASSERT_NE(readCsvField(&r), nullptr);
  EXPECT_FALSE(r.bFieldTooLong);
  EXPECT_EQ(std::string(r.zField), "c");
  EXPECT_LE(r.nFieldAlloc, 11);
  closeImportReader(&r);
}

TEST(ReadCsvField, InterruptStopsReading) {
  ImportReader r{};
  r.iColSep = ',';
  r.iRowSep = '\n';
  const std::string in = "a,b\n";
  setImportMemoryInput(&r, in.data(), in.size());
  nInterrupts = 1;
  EXPECT_EQ(readCsvField(&r), nullptr);
  EXPECT_EQ(readAsciiField(&r), nullptr);
  EXPECT_EQ(r.iTerm, -1);
  nInterrupts = 0;
  EXPECT_STREQ(readCsvField(&r), "a");
  closeImportReader(&r);
}

TEST(AppendFieldByte, GrowsByTheRule) {
  ImportReader r{};
  appendFieldByte(&r, 'x');
  EXPECT_EQ(r.nFieldAlloc, 100);
  for (int i = 0; i < 99; i++) appendFieldByte(&r, 'y');
  EXPECT_EQ(r.nFieldAlloc, 300);
  EXPECT_EQ(r.nField, 100);
  closeImportReader(&r);
  EXPECT_EQ(r.zField, nullptr);
  closeImportReader(&r);
}

}  // namespace
