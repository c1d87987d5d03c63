// edit() with "editors" that are small shell scripts. The temporary directory has a name full of
// characters the shell would act on, so a name that reached the shell unquoted would show.

#include "ext/edit/Edit.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct DbCloser {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
using DbPtr = std::unique_ptr<sqlite3, DbCloser>;

std::string readText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeText(const fs::path& path, const std::string& zText) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << zText;
}

// One call's outcome: the result's type and bytes, or the error message.
struct Outcome {
  std::string zType;
  std::string zValue;
  bool operator==(const Outcome&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Outcome& o) {
  return os << o.zType << " [" << o.zValue << "]";
}

class EditTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::string zTemplate = (fs::temp_directory_path() / "edit_test_XXXXXX").string();
    ASSERT_NE(mkdtemp(zTemplate.data()), nullptr);
    root = zTemplate;
    tempDir = root / "tmp 'single' \"double\" $(touch INJECTED) `touch INJECTED` \\ ;";
    fs::create_directory(tempDir);
    // The engine reads TMPDIR when it initialises.
    sqlite3_shutdown();
    setenv("TMPDIR", tempDir.c_str(), 1);
    ASSERT_EQ(sqlite3_initialize(), SQLITE_OK);

    const std::string zRecord =
        "d=$(dirname \"$0\"); printf '%s' \"$1\" > \"$d/arg\"; stat -c %a \"$1\" > \"$d/mode\"\n";
    writeText(root / "keep.sh", zRecord);
    writeText(root / "append.sh", zRecord + "printf ' appended' >> \"$1\"\n");
    writeText(root / "empty.sh", zRecord + ": > \"$1\"\n");
    writeText(root / "delete.sh", zRecord + "rm -f \"$1\"\n");
    writeText(root / "fail.sh", zRecord + "exit 3\n");
    writeText(root / "crlf.sh",
              zRecord + "sed 's/$/\\r/' \"$1\" > \"$1.new\" && mv \"$1.new\" \"$1\"\n");
  }
  static void TearDownTestSuite() {
    unsetenv("TMPDIR");
    fs::remove_all(root);
  }

  void SetUp() override {
    for (const char* zName : {"arg", "mode"}) fs::remove(root / zName);
    sqlite3* pDb = nullptr;
    ASSERT_EQ(sqlite3_open((root / "test.db").c_str(), &pDb), SQLITE_OK);
    db.reset(pDb);
    ASSERT_EQ(editRegister(db.get()), SQLITE_OK);
  }
  void TearDown() override {
    db.reset();
    EXPECT_TRUE(fs::is_empty(tempDir)) << "a temporary file was left behind";
    EXPECT_FALSE(fs::exists("INJECTED"));
    EXPECT_FALSE(fs::exists(root / "INJECTED"));
  }

  static std::string editor(const char* zScript) { return "sh " + (root / zScript).string(); }

  // Runs a one-row query and reports its outcome.
  static Outcome run(sqlite3* pDb, const std::string& zSql) {
    sqlite3_stmt* pStmt = nullptr;
    if (sqlite3_prepare_v2(pDb, zSql.c_str(), -1, &pStmt, nullptr) != SQLITE_OK) {
      return {"prepare error", sqlite3_errmsg(pDb)};
    }
    Outcome outcome;
    if (sqlite3_step(pStmt) == SQLITE_ROW) {
      static const char* const azType[] = {"", "integer", "real", "text", "blob", "null"};
      outcome.zType = azType[sqlite3_column_type(pStmt, 0)];
      const void* p = sqlite3_column_blob(pStmt, 0);
      outcome.zValue.assign(static_cast<const char*>(p ? p : ""),
                            static_cast<std::size_t>(sqlite3_column_bytes(pStmt, 0)));
    } else {
      outcome = {"error", sqlite3_errmsg(pDb)};
    }
    sqlite3_finalize(pStmt);
    return outcome;
  }
  Outcome run(const std::string& zSql) { return run(db.get(), zSql); }

  static fs::path root;
  static fs::path tempDir;
  DbPtr db;
};

fs::path EditTest::root;
fs::path EditTest::tempDir;

// The host's gate is asked before every run of the editor; a refusal fails the call and runs
// nothing.
TEST_F(EditTest, GateRefusalRunsNoEditor) {
  int nAsked = 0;
  const EditGate gate = {[](void* pArg, const char* zFunction) {
                           EXPECT_STREQ(zFunction, "edit");
                           ++*static_cast<int*>(pArg);
                           return 0;
                         },
                         &nAsked};
  ASSERT_EQ(editRegister(db.get(), &gate), SQLITE_OK);
  EXPECT_EQ(run("SELECT edit('abc', '" + editor("append.sh") + "')"),
            (Outcome{"error", "not authorized"}));
  EXPECT_EQ(run("SELECT edit('abc')"), (Outcome{"error", "not authorized"}));
  EXPECT_EQ(nAsked, 2);
  EXPECT_FALSE(fs::exists(root / "arg")) << "the editor ran";
}

TEST_F(EditTest, EditorsAndValues) {
  struct Case {
    const char* zValue;  // SQL expression
    const char* zScript;
    Outcome expect;
  };
  const Case aCases[] = {
      {"'abc'", "keep.sh", {"text", "abc"}},
      {"'abc'", "append.sh", {"text", "abc appended"}},
      {"'abc'", "empty.sh", {"text", ""}},
      {"''", "keep.sh", {"text", ""}},
      {"42", "keep.sh", {"text", "42"}},
      {"4.5", "append.sh", {"text", "4.5 appended"}},
      {"'abc'", "delete.sh", {"error", "edit() cannot reopen temp file after edit"}},
      {"'abc'", "fail.sh", {"error", "EDITOR returned non-zero"}},
      {"x'00ff0d0a41'", "keep.sh", {"blob", std::string("\x00\xff\r\nA", 5)}},
      {"x'00ff0d0a41'", "append.sh", {"blob", std::string("\x00\xff\r\nA appended", 14)}},
      {"x''", "keep.sh", {"blob", ""}},
      {"x'0a0a'", "crlf.sh", {"blob", "\r\n\r\n"}},
      // Carriage returns before line feeds are taken for a newline translation and dropped,
      // unless the value had such pairs itself.
      {"'a' || char(10) || 'b' || char(10)", "crlf.sh", {"text", "a\nb\n"}},
      {"'a' || char(13,10) || 'b' || char(10)", "keep.sh", {"text", "a\r\nb\n"}},
      {"'a' || char(13,10) || 'b' || char(10)", "crlf.sh", {"text", "a\r\r\nb\r\n"}},
      {"'lone' || char(13) || 'cr'", "keep.sh", {"text", "lone\rcr"}},
  };
  for (const Case& c : aCases) {
    SCOPED_TRACE(std::string(c.zValue) + " with " + c.zScript);
    fs::remove(root / "arg");
    const std::string zSql =
        std::string("SELECT edit(") + c.zValue + ", " + "'" + editor(c.zScript) + "')";
    EXPECT_EQ(run(zSql), c.expect);
    // The editor saw one file, in the temporary directory, readable by its owner only.
    const std::string zArg = readText(root / "arg");
    EXPECT_EQ(fs::path(zArg).parent_path(), tempDir);
    EXPECT_EQ(readText(root / "mode"), "600\n");
    EXPECT_FALSE(fs::exists(zArg));
    EXPECT_TRUE(fs::is_empty(tempDir));
  }
}

TEST_F(EditTest, MissingEditorAndNullValue) {
  const char* zVisual = std::getenv("VISUAL");
  const std::string zSaved = zVisual ? zVisual : "";
  unsetenv("VISUAL");
  EXPECT_EQ(run("SELECT edit('abc')"), (Outcome{"error", "no editor for edit()"}));
  EXPECT_EQ(run("SELECT edit('abc', NULL)"), (Outcome{"error", "no editor for edit()"}));
  EXPECT_EQ(run("SELECT edit(NULL)"), (Outcome{"error", "no editor for edit()"}));
  EXPECT_EQ(run("SELECT edit(NULL, 'true')"), (Outcome{"error", "NULL input to edit()"}));

  setenv("VISUAL", editor("append.sh").c_str(), 1);
  EXPECT_EQ(run("SELECT edit('abc')"), (Outcome{"text", "abc appended"}));
  EXPECT_EQ(run("SELECT edit(NULL)"), (Outcome{"error", "NULL input to edit()"}));
  // A second argument wins over VISUAL.
  EXPECT_EQ(run("SELECT edit('abc', '" + editor("keep.sh") + "')"), (Outcome{"text", "abc"}));
  if (zVisual) {
    setenv("VISUAL", zSaved.c_str(), 1);
  } else {
    unsetenv("VISUAL");
  }
}

TEST_F(EditTest, InMemoryDatabaseUsesTheTemporaryDirectoryToo) {
  sqlite3* pDb = nullptr;
  ASSERT_EQ(sqlite3_open(":memory:", &pDb), SQLITE_OK);
  DbPtr memDb(pDb);
  ASSERT_EQ(editRegister(memDb.get()), SQLITE_OK);
  EXPECT_EQ(run(memDb.get(), "SELECT edit('abc', '" + editor("append.sh") + "')"),
            (Outcome{"text", "abc appended"}));
  EXPECT_EQ(fs::path(readText(root / "arg")).parent_path(), tempDir);
  EXPECT_EQ(readText(root / "mode"), "600\n");
}

TEST_F(EditTest, UpdateThroughEditAndDirectOnly) {
  ASSERT_EQ(sqlite3_exec(db.get(),
                         "CREATE TABLE docs(id INTEGER PRIMARY KEY, body); "
                         "INSERT INTO docs VALUES(5, 'draft');",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  const std::string zUpdate =
      "UPDATE docs SET body=edit(body, '" + editor("append.sh") + "') WHERE id=5";
  ASSERT_EQ(sqlite3_exec(db.get(), zUpdate.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_EQ(run("SELECT body FROM docs"), (Outcome{"text", "draft appended"}));

  // Not from a view or a trigger: the schema must not be able to start programs.
  fs::remove(root / "arg");
  const std::string zView = "CREATE VIEW v AS SELECT edit('x', '" + editor("keep.sh") + "')";
  ASSERT_EQ(sqlite3_exec(db.get(), zView.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
  const Outcome viewOutcome = run("SELECT * FROM v");
  EXPECT_EQ(viewOutcome.zType, "prepare error");
  EXPECT_NE(viewOutcome.zValue.find("unsafe use of edit()"), std::string::npos)
      << viewOutcome.zValue;
  EXPECT_FALSE(fs::exists(root / "arg"));
}

// The name of the temporary file can be foreseen by someone else; a file, or a symbolic link,
// put there first must make the call fail, and must be neither followed nor removed.
TEST_F(EditTest, ExistingFileUnderTheTemporaryNameIsNeitherUsedNorRemoved) {
  constexpr int seed = 20261210;
  auto reseed = [] { sqlite3_test_control(SQLITE_TESTCTRL_PRNG_SEED, seed, nullptr); };
  reseed();
  unsigned long long a = 0, b = 0;
  sqlite3_randomness(sizeof(a), &a);
  reseed();
  sqlite3_randomness(sizeof(b), &b);
  if (a != b) GTEST_SKIP() << "the engine's random numbers cannot be seeded here";

  for (const char* zDb : {"file", ":memory:"}) {
    SCOPED_TRACE(zDb);
    DbPtr memDb;
    sqlite3* pDb = db.get();
    if (std::string(zDb) == ":memory:") {
      sqlite3* pMem = nullptr;
      ASSERT_EQ(sqlite3_open(":memory:", &pMem), SQLITE_OK);
      memDb.reset(pMem);
      ASSERT_EQ(editRegister(pMem), SQLITE_OK);
      pDb = pMem;
    }
    reseed();
    EXPECT_EQ(run(pDb, "SELECT edit('abc', '" + editor("keep.sh") + "')"),
              (Outcome{"text", "abc"}));
    const fs::path foreseen = readText(root / "arg");
    ASSERT_FALSE(foreseen.empty());
    const fs::path victim = root / "victim";
    fs::create_symlink(victim, foreseen);  // dangling: following it would create the victim
    fs::remove(root / "arg");
    reseed();
    EXPECT_EQ(run(pDb, "SELECT edit('abc', '" + editor("keep.sh") + "')"),
              (Outcome{"error", "edit() cannot open temp file"}));
    EXPECT_FALSE(fs::exists(root / "arg")) << "the editor ran";
    EXPECT_FALSE(fs::exists(victim));
    EXPECT_TRUE(fs::is_symlink(foreseen));
    fs::remove(foreseen);
  }
  sqlite3_test_control(SQLITE_TESTCTRL_PRNG_SEED, 0, nullptr);
}

}  // namespace
