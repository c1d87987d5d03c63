// Exact bytes of the value writers and the formatted printers.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "shell/core/ShellContext.h"
#include "shell/core/Output.h"

namespace {

// Runs fn on a memory stream and returns everything it wrote.
std::string capture(const std::function<void(FILE*)>& fn) {
  char* zBuf = nullptr;
  size_t nBuf = 0;
  FILE* f = open_memstream(&zBuf, &nBuf);
  fn(f);
  std::fclose(f);
  std::string s(zBuf, nBuf);
  std::free(zBuf);
  return s;
}

struct Case {
  std::string in;
  std::string out;
};

TEST(OutputWriters, SqlString) {
  const std::vector<Case> cases = {
      {"", "''"},    {"abc", "'abc'"},         {"it's", "'it''s'"},
      {"'", "''''"}, {"''x''", "'''''x'''''"}, {"a\nb\r", "'a\nb\r'"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(capture([&](FILE* f) { writeSqlString(f, c.in.c_str()); }), c.out) << c.in;
  }
}

TEST(OutputWriters, SqlStringEscaped) {
  const std::vector<Case> cases = {
      {"", "''"},
      {"plain", "'plain'"},
      {"it's", "'it''s'"},
      {"a\nb", "replace('a\\nb','\\n',char(10))"},
      {"a\rb", "replace('a\\rb','\\r',char(13))"},
      {"a\r\nb'", "replace(replace('a\\r\\nb''','\\r',char(13)),'\\n',char(10))"},
      {"x\\n\n", "replace('x\\n\\012','\\012',char(10))"},
      {"\\n\\012\n", "replace('\\n\\012(\\n0)','(\\n0)',char(10))"},
      {"\\n\\012(\\n0)\n", "replace('\\n\\012(\\n0)(\\n1)','(\\n1)',char(10))"},
      {"\\r\\015\r", "replace('\\r\\015(\\r0)','(\\r0)',char(13))"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(capture([&](FILE* f) { writeSqlStringEscaped(f, c.in.c_str()); }), c.out) << c.in;
  }
}

// The escaped literal, evaluated by the engine, gives back the original text.
TEST(OutputWriters, SqlStringEscapedRoundTrip) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
  const std::vector<std::string> texts = {
      "",         "it's",      "\n",     "\r\n", "a\\\nb", "\\n\n\\012", "\\\r\\r\\015(\\r0)\n'\n",
      "\\\n\\\r", "((\\n0)\n", "tail\\",
  };
  for (const auto& t : texts) {
    std::string lit = capture([&](FILE* f) { writeSqlStringEscaped(f, t.c_str()); });
    std::string sql = "SELECT " + lit;
    sqlite3_stmt* pStmt = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &pStmt, nullptr), SQLITE_OK) << sql;
    ASSERT_EQ(sqlite3_step(pStmt), SQLITE_ROW);
    std::string got(reinterpret_cast<const char*>(sqlite3_column_text(pStmt, 0)),
                    static_cast<size_t>(sqlite3_column_bytes(pStmt, 0)));
    EXPECT_EQ(got, t) << sql;
    sqlite3_finalize(pStmt);
  }
  sqlite3_close(db);
}

TEST(OutputWriters, UnusedMarker) {
  char zBuf[20];
  EXPECT_STREQ(findUnusedMarker("abc", "\\n", "\\012", zBuf), "\\n");
  EXPECT_STREQ(findUnusedMarker("a\\nb", "\\n", "\\012", zBuf), "\\012");
  const char* z = findUnusedMarker("\\n\\012", "\\n", "\\012", zBuf);
  EXPECT_EQ(z, zBuf);
  EXPECT_STREQ(z, "(\\n0)");
  EXPECT_STREQ(findUnusedMarker("\\n\\012(\\n0)(\\n1)", "\\n", "\\012", zBuf), "(\\n2)");
}

TEST(OutputWriters, CString) {
  const std::vector<Case> cases = {
      {"", "\"\""},
      {"abc", "\"abc\""},
      {"a\\b\"c", "\"a\\\\b\\\"c\""},
      {"\t\n\r", "\"\\t\\n\\r\""},
      {"\x01\x1f\x7f", "\"\\001\\037\\177\""},
      {"\xc3\xa9", "\"\\303\\251\""},
      {" ~'", "\" ~'\""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(capture([&](FILE* f) { writeCString(f, c.in.c_str()); }), c.out) << c.in;
  }
}

TEST(OutputWriters, CsvField) {
  ShellContext ctx{};
  setSettingText(ctx.zNullText, "NUL");
  struct CsvCase {
    const char* zSep;
    const char* zIn;
    bool bSep;
    std::string out;
  };
  const std::vector<CsvCase> cases = {
      {",", nullptr, false, "NUL"},
      {",", nullptr, true, "NUL,"},
      {",", "", false, "\"\""},
      {",", "abc", true, "abc,"},
      {",", "a b", false, "\"a b\""},
      {",", "a,b", false, "\"a,b\""},
      {";", "a,b", false, "a,b"},
      {";", "a;b", true, "\"a;b\";"},
      {"::", "a:b", false, "a:b"},
      {"::", "a::b", false, "\"a::b\""},
      {",", "say \"hi\"", false, "\"say \"\"hi\"\"\""},
      {",", "it's", false, "\"it's\""},
      {",", "\xc3\xa9", false, "\"\xc3\xa9\""},
      {",", "x\x7f", false, "\"x\x7f\""},
      {",", "a\tb", false, "\"a\tb\""},
      {",", "-1.5e3", false, "-1.5e3"},
      {"", "abc", true, "abc"},
  };
  for (const auto& c : cases) {
    setSettingText(ctx.zColSep, c.zSep);
    std::string got = capture([&](FILE* f) {
      ctx.pOut = f;
      writeCsvField(&ctx, c.zIn, c.bSep);
    });
    EXPECT_EQ(got, c.out) << (c.zIn ? c.zIn : "(null)") << " sep " << c.zSep;
  }
}

TEST(OutputWriters, HtmlText) {
  const std::vector<Case> cases = {
      {"", ""},
      {"plain text", "plain text"},
      {"<a href=\"x\">&'</a>", "&lt;a href=&quot;x&quot;&gt;&amp;&#39;&lt;/a&gt;"},
      {"\xc3\xa9\n", "\xc3\xa9\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(capture([&](FILE* f) { writeHtmlText(f, c.in.c_str()); }), c.out) << c.in;
  }
  EXPECT_EQ(capture([](FILE* f) { writeHtmlText(f, nullptr); }), "");
}

TEST(OutputWriters, JsonString) {
  const std::vector<Case> cases = {
      {"", "\"\""},
      {"abc", "\"abc\""},
      {"\t\x01", "\"\\t\\u0001\""},
      {"\b\f\n\r\x1f", "\"\\b\\f\\n\\r\\u001f\""},
      {"q\"b\\", "\"q\\\"b\\\\\""},
      {"/\x7f", "\"/\x7f\""},
      {"\xc3\xa9", "\"\xc3\xa9\""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(capture([&](FILE* f) { writeJsonString(f, c.in.c_str(), -1); }), c.out) << c.in;
  }
  // An explicit length covers embedded zero bytes and stops before the rest.
  EXPECT_EQ(capture([](FILE* f) { writeJsonString(f, "a\0b", 3); }), "\"a\\u0000b\"");
  EXPECT_EQ(capture([](FILE* f) { writeJsonString(f, "abcdef", 2); }), "\"ab\"");
}

TEST(OutputWriters, JsonBlob) {
  const std::vector<Case> cases = {
      {"", "\"\""},
      {std::string("\0\x7f\x80\xff", 4), "\"\\u0000\x7f\\u0080\\u00ff\""},
      {"\xc3\xa9", "\"\\u00c3\\u00a9\""},
      {"a\"\\\n", "\"a\\\"\\\\\\n\""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(
        capture([&](FILE* f) { writeJsonBlob(f, c.in.data(), static_cast<int>(c.in.size())); }),
        c.out);
  }
}

// The json and csv writers test and copy many bytes at a time.  Against a
// byte-at-a-time reading of their rules: every byte value at the positions
// around the word and vector edges and at the end, in texts of lengths
// around those edges and past the writers' internal chunks.
std::string jsonReference(const std::string& z, bool bBlob) {
  std::string out = "\"";
  for (unsigned char c : z) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || (bBlob && c >= 0x80)) {
          char zEsc[8];
          std::snprintf(zEsc, sizeof(zEsc), "\\u%04x", c);
          out += zEsc;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

std::string csvReference(const std::string& z, const std::string& zSep) {
  bool bQuote = z.empty() || (!zSep.empty() && z.find(zSep) != std::string::npos);
  for (unsigned char c : z) {
    if (c <= 0x20 || c == '"' || c == '\'' || c >= 0x7f) bQuote = true;
  }
  if (!bQuote) return z;
  std::string out = "\"";
  for (char c : z) {
    out += c;
    if (c == '"') out += '"';
  }
  return out + "\"";
}

// Texts of 'a's of each length with byte c at each position of interest.
template <typename Fn>
void forEachProbe(Fn fn) {
  const size_t aLength[] = {1, 2, 7, 8, 9, 15, 16, 17, 23, 24, 31, 32, 33, 100, 1361, 4081, 9000};
  for (size_t n : aLength) {
    const size_t aAt[] = {0, 1, 7, 8, 9, 15, 16, 17, n / 2, n - 2, n - 1};
    for (int c = 0; c < 256; c++) {
      if (n > 100 && c % 17 != 0 && c != '"' && c != '\\') continue;
      for (size_t iAt : aAt) {
        if (iAt >= n) continue;
        std::string z(n, 'a');
        z[iAt] = static_cast<char>(c);
        fn(z);
      }
    }
  }
}

TEST(OutputWriters, JsonAndCsvWritersMatchTheirRulesAtEveryEdge) {
  int nFailed = 0;
  forEachProbe([&](const std::string& z) {
    if (nFailed > 5) return;
    const std::string zText = z.find('\0') == std::string::npos ? z : std::string("x");
    bool bOk = capture([&](FILE* f) {
                 writeJsonString(f, z.data(), static_cast<int>(z.size()));
               }) == jsonReference(z, false);
    bOk = bOk && capture([&](FILE* f) {
                   writeJsonBlob(f, z.data(), static_cast<int>(z.size()));
                 }) == jsonReference(z, true);
    for (const char* zSep : {",", "|", "::"}) {
      ShellContext ctx{};
      setSettingText(ctx.zColSep, zSep);
      bOk = bOk && capture([&](FILE* f) {
                     ctx.pOut = f;
                     writeCsvField(&ctx, zText.c_str(), false);
                   }) == csvReference(zText, zSep);
    }
    if (!bOk) {
      nFailed++;
      ADD_FAILURE()
          << "length " << z.size() << ", first odd byte "
          << static_cast<int>(static_cast<unsigned char>(
                 z[z.find_first_not_of('a') == std::string::npos ? 0 : z.find_first_not_of('a')]));
    }
  });
  // Many quotes and escapes in a row, past the chunks: every byte grows.
  const std::string zQuotes(5000, '"');
  EXPECT_EQ(capture([&](FILE* f) { writeJsonString(f, zQuotes.c_str(), -1); }),
            jsonReference(zQuotes, false));
  const std::string zHigh(3000, '\xff');
  EXPECT_EQ(
      capture([&](FILE* f) { writeJsonBlob(f, zHigh.data(), static_cast<int>(zHigh.size())); }),
      jsonReference(zHigh, true));
  ShellContext ctx{};
  setSettingText(ctx.zColSep, ",");
  EXPECT_EQ(capture([&](FILE* f) {
              ctx.pOut = f;
              writeCsvField(&ctx, zQuotes.c_str(), false);
            }),
            csvReference(zQuotes, ","));
}

// Staged output keeps the order of everything put into it, whatever the
// sizes: small pieces, pieces larger than its buffer, and room asked for.
TEST(OutputWriters, StagedOutputKeepsOrderAcrossItsBuffer) {
  std::string want;
  const std::string got = capture([&](FILE* f) {
    StagedOutput out(f);
    for (int i = 0; i < 3000; i++) {
      const std::string z(static_cast<size_t>(i % 37) * (i % 5 == 0 ? 300 : 1),
                          static_cast<char>('a' + i % 26));
      out.put(z.data(), z.size());
      out.put('|');
      want += z + '|';
      if (i % 7 == 0) {
        char* q = out.room(10);
        std::memcpy(q, "0123456789", 10);
        out.commit(q + 10);
        want += "0123456789";
      }
    }
  });
  EXPECT_EQ(got, want);
}

TEST(OutputWriters, HexBlob) {
  EXPECT_EQ(capture([](FILE* f) { writeHexBlob(f, "\x01\xab", 2); }), "X'01ab'");
  EXPECT_EQ(capture([](FILE* f) { writeHexBlob(f, "", 0); }), "X''");
  // Longer than the internal chunk: every byte value, several times over.
  std::string blob;
  std::string want = "X'";
  for (int i = 0; i < 1000; i++) {
    unsigned char c = static_cast<unsigned char>(i * 7);
    blob.push_back(static_cast<char>(c));
    char z[3];
    std::snprintf(z, sizeof(z), "%02x", c);
    want += z;
  }
  want += "'";
  EXPECT_EQ(capture([&](FILE* f) { writeHexBlob(f, blob.data(), static_cast<int>(blob.size())); }),
            want);
}

TEST(OutputWriters, PrintConsole) {
  EXPECT_EQ(
      capture([](FILE* f) { printConsole(f, "%s|%d|%q|%Q|%w", "a", 42, "it's", nullptr, "x\"y"); }),
      "a|42|it''s|NULL|x\"\"y");
  EXPECT_EQ(capture([](FILE* f) { printConsole(f, "%!.20g", 0.5); }), "0.5");
  EXPECT_EQ(capture([](FILE* f) { printConsole(f, "%s", nullptr); }), "");
  // Texts around and beyond the stack buffer come out whole.
  for (size_t n : {1022u, 1023u, 1024u, 1025u, 5000u}) {
    std::string big(n, 'x');
    EXPECT_EQ(capture([&](FILE* f) { printConsole(f, "%s", big.c_str()); }), big) << n;
  }
  // "%z" frees its argument: it must be formatted exactly once.
  std::string big(3000, 'y');
  char* zOwned = sqlite3_mprintf("%s", big.c_str());
  EXPECT_EQ(capture([&](FILE* f) { printConsole(f, "<%z>", zOwned); }), "<" + big + ">");
  EXPECT_EQ(capture([](FILE* f) { printRaw(f, "%s-%05d", "r", 7); }), "r-00007");
}

}  // namespace
