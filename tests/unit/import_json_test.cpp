// .import --json: tables checked against Python's json module's reading of
// random documents (tests/unit/oracles/import_json.py), and the messages for
// documents that are not what they should be.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "shell/commands/ImportJson.h"
#include "tests/unit/import_fixture.h"

namespace import_json_test {

struct OracleCase {
  const char* zDoc;
  bool bDetectTypes;
  const char* zColumns;  // names joined by '|'
  const char* zTypes;    // declared types joined by '|'
  std::vector<const char*> aCell;
};

const OracleCase aOracle[] = {
#include "import_json_vectors.inc"
};

class ImportJson : public import_fixture::ImportFixture {
 protected:
  std::string column(const std::string& table, const char* zWhat) {
    std::string z;
    StmtPtr pStmt = prepareStmt(ctx.db, (std::string("SELECT group_concat(") + zWhat +
                                         ", '|') FROM pragma_table_info('" + table + "')")
                                            .c_str());
    if (pStmt && sqlite3_step(pStmt.get()) == SQLITE_ROW && sqlite3_column_text(pStmt.get(), 0)) {
      z = reinterpret_cast<const char*>(sqlite3_column_text(pStmt.get(), 0));
    }
    return z;
  }
  long long count(const std::string& table) {
    StmtPtr pStmt = prepareStmt(ctx.db, ("SELECT count(*) FROM \"" + table + "\"").c_str());
    return pStmt && sqlite3_step(pStmt.get()) == SQLITE_ROW ? sqlite3_column_int64(pStmt.get(), 0)
                                                            : -1;
  }
};

TEST_F(ImportJson, RandomDocumentsEqualPythonsReading) {
  int iCase = 0;
  for (const auto& c : aOracle) {
    SCOPED_TRACE("case " + std::to_string(iCase) + ":\n" + c.zDoc);
    const std::string zTable = "j" + std::to_string(iCase++);
    const std::string zPath = writeFile(zTable + ".json", c.zDoc);
    std::vector<std::string> words = {"--json", zPath, zTable};
    if (c.bDetectTypes) words.insert(words.begin(), "--detect-types");
    std::string zErr;
    EXPECT_EQ(run(words, &zErr), 0) << zErr;
    EXPECT_EQ(zErr, "");
    EXPECT_EQ(column(zTable, "name"), c.zColumns);
    EXPECT_EQ(column(zTable, "type"), c.zTypes);
    const std::vector<std::string> aWant(c.aCell.begin(), c.aCell.end());
    EXPECT_EQ(cells(zTable, c.aCell), aWant);
  }
}

// Documents that are wrong somewhere: the message names the line (and in an
// array the element) and says what is wrong; the good objects are kept and
// the command fails.
TEST_F(ImportJson, BadDocumentsAreReportedWithTheirLine) {
  const struct {
    const char* zName;
    std::string zDoc;
    const char* zErr;  // after "FILE:"
    long long nRows;   // -1: no table
  } aCase[] = {
      {"unterminated array", "[{\"a\":1},\n{\"a\":2}",
       "2: after element 2: unterminated array: ']' missing at the end\n", 2},
      {"inside an element", "[{\"a\":1},\n{\"a\":\"2}]\n",
       "2: element 2: the input ends inside this element\n", 1},
      {"trailing garbage", "[{\"a\":1}]\nxyz\n",
       "2: after element 1: bytes after the end of the array\n", 1},
      {"missing comma", "[{\"a\":1}\n{\"a\":2}]",
       "2: after element 1: ',' or ']' expected after the element before\n", 1},
      {"scalar in an array", "[{\"a\":1}, 7, \"s\", {\"a\":2}]",
       "1: element 2: not an object\n@1: element 3: not an object\n", 2},
      {"scalar on a line", "{\"a\":1}\n[1,2]\nnull\n{\"a\":2}\n",
       "2: not an object\n@3: not an object\n", 2},
      {"malformed object", "{\"a\":1}\n{\"a\":01}\n{\"a\" 1}\n{\"a\":2}\n",
       "2: malformed JSON\n@3: malformed JSON\n", 2},
      {"garbage after an object", "{\"a\":1} {\"a\":2}\n{\"a\":3}\n", "1: malformed JSON\n", 1},
      {"invalid UTF-8", "{\"a\":1}\n{\"a\":\"\xC3\x28\"}\n{\"a\":\"\xED\xA0\x80\"}\n{\"a\":2}\n",
       "2: invalid UTF-8\n@3: invalid UTF-8\n", 2},
      {"no object at all", "[1, 2]", "", -1},
      {"an element missing", "[{\"a\":1},\n,{\"a\":2}]",
       "2: after element 1: an element is missing\n", 1},
      {"empty array", "[]", "", -1},
  };
  int i = 0;
  for (const auto& c : aCase) {
    SCOPED_TRACE(c.zName);
    const std::string zTable = "b" + std::to_string(i++);
    const std::string zPath = writeFile(zTable + ".json", c.zDoc);
    std::string zErr;
    EXPECT_EQ(run({"--json", zPath, zTable}, &zErr), 1);
    std::string zWant;
    std::string zLines = c.zErr;
    for (size_t k = 0; !zLines.empty();) {
      k = zLines.find('@');
      zWant += zPath + ":" + zLines.substr(0, k);
      zLines = k == std::string::npos ? "" : zLines.substr(k + 1);
    }
    if (c.nRows < 0) {
      EXPECT_NE(zErr.find(zPath + ": no object with a key to make a column of\n"),
                std::string::npos)
          << zErr;
      zErr = zErr.substr(0, zErr.find(zPath + ": no object"));
    }
    EXPECT_EQ(zErr, zWant);
    EXPECT_EQ(count(zTable), c.nRows);
  }
}

// A document nested 100,000 deep and a string of 100 MB: an error with the
// line or a row, never a crash; memory for the big string is the element's.
TEST_F(ImportJson, DeepNestingAndHugeStrings) {
  std::string zDeep = "{\"a\":1}\n{\"a\":" + std::string(100000, '[') + std::string(100000, ']') +
                      "}\n{\"a\":" + std::string(100000, '[') + "\n";
  const std::string zPath = writeFile("deep.json", zDeep);
  std::string zErr;
  EXPECT_EQ(run({"--json", zPath, "deep"}, &zErr), 1);
  EXPECT_EQ(zErr, zPath + ":2: malformed JSON\n" + zPath + ":3: malformed JSON\n");
  EXPECT_EQ(count("deep"), 1);

  std::string zHuge = "[{\"a\":\"" + std::string(100 * 1000 * 1000, 'x') + "\"},{\"a\":\"";
  const std::string zHugePath = writeFile("huge.json", zHuge);
  zHuge.clear();
  zHuge.shrink_to_fit();
  EXPECT_EQ(run({"--json", zHugePath, "huge"}, &zErr), 1);
  EXPECT_EQ(zErr, zHugePath + ":1: element 2: the input ends inside this element\n");
  StmtPtr pStmt = prepareStmt(ctx.db, "SELECT length(a) FROM huge");
  ASSERT_EQ(sqlite3_step(pStmt.get()), SQLITE_ROW);
  EXPECT_EQ(sqlite3_column_int64(pStmt.get(), 0), 100 * 1000 * 1000);
}

// Into an existing table keys find their columns ignoring case, a key that is
// no column is reported once; --empty-null makes empty strings NULL; a
// command's output makes the same table as the file, and --skip skips objects.
TEST_F(ImportJson, ExistingTablesCommandsAndOptions) {
  char* zSqlErr = nullptr;
  ASSERT_EQ(
      sqlite3_exec(ctx.db, "CREATE TABLE e(Id INTEGER, name TEXT)", nullptr, nullptr, &zSqlErr),
      SQLITE_OK);
  const std::string zPath =
      writeFile("e.json", "{\"id\":1,\"NAME\":\"\",\"other\":5}\n{\"other\":6,\"id\":\"2\"}\n");
  std::string zErr;
  EXPECT_EQ(run({"--json", "--empty-null", zPath, "e"}, &zErr), 0);
  EXPECT_EQ(zErr, zPath + ":1: key \"other\" is not a column of the table - ignored\n");
  const std::vector<const char*> aWant = {"i:1", "N", "i:2", "N"};
  EXPECT_EQ(cells("e", aWant), std::vector<std::string>(aWant.begin(), aWant.end()));

  EXPECT_EQ(run({"--json", "--skip", "1", "|sleep 0.1; cat '" + zPath + "'", "p"}, &zErr), 0)
      << zErr;
  EXPECT_EQ(column("p", "name"), "other|id");
  const std::vector<const char*> aPipe = {"i:6", "t:2"};
  EXPECT_EQ(cells("p", aPipe), std::vector<std::string>(aPipe.begin(), aPipe.end()));

  // --skip counts the elements of an array too; the keys come from the rest.
  const std::string zArray = writeFile("s.json", "[{\"a\":1},\n{\"b\":2},\n{\"c\":3,\"b\":4}]");
  EXPECT_EQ(run({"--json", "--skip", "1", zArray, "s"}, &zErr), 0) << zErr;
  EXPECT_EQ(column("s", "name"), "b|c");
  const std::vector<const char*> aSkip = {"i:2", "N", "i:4", "i:3"};
  EXPECT_EQ(cells("s", aSkip), std::vector<std::string>(aSkip.begin(), aSkip.end()));

  // An integer beyond 64 bits is a real; a repeated key keeps its last value.
  const std::string zBig = writeFile("big.json",
                                     "[{\"n\":18446744073709551616,\"n\":3.5}, "
                                     "{\"n\":-99999999999999999999}]");
  EXPECT_EQ(run({"--json", zBig, "big"}, &zErr), 0) << zErr;
  const std::vector<const char*> aBig = {"r:0x1.cp+1", "r:-0x1.5af1d78b58c4p+66"};
  EXPECT_EQ(cells("big", aBig), std::vector<std::string>(aBig.begin(), aBig.end()));
}

TEST(ImportJsonUtf8, ValidAndInvalidSequences) {
  const struct {
    const char* z;
    bool bValid;
  } aCase[] = {
      {"plain ascii, longer than eight bytes", true},
      {"\xC3\xA9", true},
      {"\xE6\x97\xA5", true},
      {"\xF0\x9F\x98\x80", true},
      {"\xF4\x8F\xBF\xBF", true},
      {"\xC0\xAF", false},          // overlong
      {"\xE0\x80\xAF", false},      // overlong
      {"\xED\xA0\x80", false},      // surrogate
      {"\xF4\x90\x80\x80", false},  // beyond U+10FFFF
      {"\xC3", false},              // cut short
      {"abcdefgh\xE6\x97", false},  // cut short after an ASCII run
      {"\x80", false},
      {"\xFF", false},
  };
  for (const auto& c : aCase) {
    EXPECT_EQ(isValidUtf8(reinterpret_cast<const unsigned char*>(c.z), std::strlen(c.z)), c.bValid)
        << c.z;
  }
}

}  // namespace import_json_test
