// .import --detect-types and --empty-null: the kind of single values, and whole
// tables checked against a Python reading of random CSV files
// (tests/unit/oracles/import_types.py).
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "shell/commands/Commands.h"
#include "shell/commands/ImportTypes.h"
#include "shell/core/ShellContext.h"
#include "tests/unit/import_fixture.h"
#include "tests/unit/pty_session.h"

namespace import_types_test {

struct OracleCase {
  const char* zCsv;
  bool bEmptyNull;
  const char* zTypes;              // declared types, blank-separated
  std::vector<const char*> aCell;  // "N", "i:<integer>", "r:<hex float>", "t:<text>"
};

const OracleCase aOracle[] = {
#include "import_types_vectors.inc"
};

TEST(ImportValueKind, TableOfValues) {
  using K = ImportValueKind;
  const struct {
    const char* z;
    K e;
  } aCase[] = {
      {"", K::Empty},
      {"0", K::Integer},
      {"-0", K::Integer},
      {"+17", K::Integer},
      {"9223372036854775807", K::Integer},
      {"-9223372036854775808", K::Integer},
      {"9223372036854775808", K::Real},
      {"-9223372036854775809", K::Real},
      {"123456789012345678901234567890", K::Real},
      {"01234", K::Text},
      {"-007", K::Text},
      {"00.5", K::Text},
      {"0.5", K::Real},
      {".5", K::Real},
      {"5.", K::Real},
      {"-1.5e-3", K::Real},
      {"1E+300", K::Real},
      {"1e400", K::Text},
      {"1e-400", K::Real},
      {"inf", K::Text},
      {"nan", K::Text},
      {"0x10", K::Text},
      {" 5", K::Text},
      {"5 ", K::Text},
      {"1e", K::Text},
      {"e5", K::Text},
      {".", K::Text},
      {"-", K::Text},
      {"1,5", K::Text},
      {"1_000", K::Text},
      {"12a", K::Text},
  };
  for (const auto& c : aCase) {
    EXPECT_EQ(classifyImportValue(c.z, static_cast<int>(std::strlen(c.z))), c.e) << c.z;
  }
  // A value of 400 digits is beyond the largest double: text.
  const std::string zHuge(400, '9');
  EXPECT_EQ(classifyImportValue(zHuge.c_str(), static_cast<int>(zHuge.size())), K::Text);
}

using ImportTypes = import_fixture::ImportFixture;

TEST_F(ImportTypes, RandomFilesEqualThePythonReference) {
  int iCase = 0;
  for (const auto& c : aOracle) {
    SCOPED_TRACE("case " + std::to_string(iCase) + ":\n" + c.zCsv);
    const std::string zTable = "t" + std::to_string(iCase++);
    const std::string zPath = writeFile(zTable + ".csv", c.zCsv);
    std::vector<std::string> words = {"--csv", "--detect-types", zPath, zTable};
    if (c.bEmptyNull) words.insert(words.begin(), "--empty-null");
    std::string zErr;
    EXPECT_EQ(run(words, &zErr), 0) << zErr;
    EXPECT_EQ(declaredTypes(zTable), c.zTypes);
    const std::vector<std::string> aWant(c.aCell.begin(), c.aCell.end());
    EXPECT_EQ(cells(zTable, c.aCell), aWant);
  }
}

// A command's output is read twice through a private temporary file, which
// is gone afterwards; the table equals the one made from the file itself.
TEST_F(ImportTypes, CommandOutputIsKeptInATemporaryFileThatGoesAway) {
  const std::string zTemp = dir + "/tmp";
  std::filesystem::create_directory(zTemp);
  const char* zSavedTemp = std::getenv("TEMP");
  const std::string zSaved = zSavedTemp ? zSavedTemp : "";
  setenv("TEMP", zTemp.c_str(), 1);
  const std::string zPath = writeFile("v.csv", "n,x,name\n10,1.5,a\n9,,b\n-3,2e3,\"01\"\n");
  EXPECT_EQ(run({"--csv", "--detect-types", zPath, "fromfile"}), 0);
  std::string zErr;
  EXPECT_EQ(run({"--csv", "--detect-types", "|sleep 0.1; cat '" + zPath + "'", "frompipe"}, &zErr),
            0)
      << zErr;
  // A command that fails still fails the import, after its rows are in.
  EXPECT_EQ(run({"--csv", "--detect-types", "|cat '" + zPath + "'; exit 3", "failed"}, &zErr), 1);
  EXPECT_EQ(zErr, "Error: command \"cat '" + zPath + "'; exit 3\" exited with status 3\n");
  if (zSavedTemp) {
    setenv("TEMP", zSaved.c_str(), 1);
  } else {
    unsetenv("TEMP");
  }
  EXPECT_TRUE(std::filesystem::is_empty(zTemp));
  const std::vector<const char*> aWant = {
      "i:10", "r:0x1.8p+0", "t:a", "i:9", "t:", "t:b", "i:-3", "r:0x1.f4p+10", "t:01"};
  for (const char* zTable : {"fromfile", "frompipe", "failed"}) {
    SCOPED_TRACE(zTable);
    EXPECT_EQ(declaredTypes(zTable), "INTEGER REAL TEXT");
    const std::vector<std::string> aExpect(aWant.begin(), aWant.end());
    EXPECT_EQ(cells(zTable, aWant), aExpect);
  }
}

// Into an existing table --detect-types changes nothing; --empty-null works
// there too, and without --detect-types.
TEST_F(ImportTypes, ExistingTablesKeepTheirTypesAndEmptyFieldsCanBeNull) {
  char* zErr = nullptr;
  ASSERT_EQ(sqlite3_exec(ctx.db, "CREATE TABLE e(a TEXT, b)", nullptr, nullptr, &zErr), SQLITE_OK);
  const std::string zPath = writeFile("e.csv", "1,\n,2\n");
  EXPECT_EQ(run({"--csv", "--detect-types", zPath, "e"}), 0);
  EXPECT_EQ(run({"--csv", "--detect-types", "--empty-null", zPath, "e"}), 0);
  EXPECT_EQ(declaredTypes("e"), "TEXT ");
  const std::vector<const char*> aWant = {"t:1", "t:", "t:", "t:2", "t:1", "N", "N", "t:2"};
  EXPECT_EQ(cells("e", aWant), std::vector<std::string>(aWant.begin(), aWant.end()));
  const std::string zNew = writeFile("n.csv", "a,b\n1,\n\"\",x\n");
  EXPECT_EQ(run({"-empty-null", "--csv", zNew, "n"}), 0);
  EXPECT_EQ(declaredTypes("n"), "TEXT TEXT");
  const std::vector<const char*> aNew = {"t:1", "N", "N", "t:x"};
  EXPECT_EQ(cells("n", aNew), std::vector<std::string>(aNew.begin(), aNew.end()));
}

}  // namespace import_types_test

namespace import_types_terminal_test {

using namespace ptytest;

// At the console every import ends with its account on standard error, after
// the messages it always gives; a script's imports print none (tested above).
TEST(ImportAtTheTerminal, EndsWithTheAccountOfTheImport) {
  REQUIRE_SHELL();
  TempDir home;
  {
    FILE* f = std::fopen((home.path() + "/d.csv").c_str(), "wb");
    std::fputs("n,code\n1,007\n2\n", f);
    std::fclose(f);
  }
  PtySession s({":memory:"}, home.path());
  ASSERT_TRUE(s.started());
  s.readUntil("sqlite> ");
  s.send(".import --csv --detect-types d.csv t\n");
  const std::string out = stripCarriageReturns(s.readUntil("sqlite> "));
  EXPECT_NE(out.find("d.csv:3: expected 2 columns but found 1 - filling the rest with NULL\n"
                     "d.csv: 2 rows added, 0 rejected, 1 short (filled with NULL), 0 long "
                     "(extras ignored); 2 columns created: n INTEGER, code TEXT\n"),
            std::string::npos)
      << out;
  s.send(".import --csv d.csv t\n");
  const std::string again = stripCarriageReturns(s.readUntil("sqlite> "));
  EXPECT_NE(again.find("d.csv: 3 rows added, 0 rejected, 1 short (filled with NULL), 0 long "
                       "(extras ignored); no columns created\n"),
            std::string::npos)
      << again;
  s.send(".quit\n");
  EXPECT_EQ(s.waitExit(), 0);
}

}  // namespace import_types_terminal_test
