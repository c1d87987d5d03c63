#include "ext/fileio/Fileio.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#include <fcntl.h>
#include <climits>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct LsmodeCase {
  unsigned mMode;
  const char* zWant;
};
const LsmodeCase aLsmodeCases[] = {
#include "fileio_vectors.inc"
};

// One result value: its storage class and its bytes (text and blobs) or its integer.
struct Cell {
  int eType = SQLITE_NULL;
  sqlite3_int64 i = 0;
  std::string z;
};

struct Outcome {
  int rc = SQLITE_OK;
  std::string zErr;
  std::vector<std::vector<Cell>> aRows;
};

std::string readWhole(const std::string& zPath) {
  std::ifstream in(zPath, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct stat statOf(const std::string& zPath) {
  struct stat st {};
  EXPECT_EQ(::stat(zPath.c_str(), &st), 0) << zPath;
  return st;
}

struct stat lstatOf(const std::string& zPath) {
  struct stat st {};
  EXPECT_EQ(::lstat(zPath.c_str(), &st), 0) << zPath;
  return st;
}

void setMtime(const std::string& zPath, time_t iMtime) {
  struct timespec aTimes[2] = {{0, UTIME_NOW}, {iMtime, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, zPath.c_str(), aTimes, AT_SYMLINK_NOFOLLOW), 0) << zPath;
}

class FileioTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string zTemplate = (fs::temp_directory_path() / "fileio_test.XXXXXX").string();
    ASSERT_NE(::mkdtemp(zTemplate.data()), nullptr);
    zRoot = zTemplate;
    ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
    ASSERT_EQ(fileioRegister(db), SQLITE_OK);
  }
  void TearDown() override {
    sqlite3_close(db);
    std::error_code ec;
    for (auto& entry : fs::recursive_directory_iterator(zRoot, ec)) {
      if (!entry.is_symlink() && entry.is_directory()) ::chmod(entry.path().c_str(), 0700);
    }
    fs::remove_all(zRoot, ec);
  }

  std::string at(const std::string& zRel) const { return zRoot + "/" + zRel; }

  void makeFile(const std::string& zRel, const std::string& content) {
    std::ofstream out(at(zRel), std::ios::binary);
    out << content;
  }

  Outcome run(const std::string& zSql) {
    Outcome out;
    sqlite3_stmt* pStmt = nullptr;
    out.rc = sqlite3_prepare_v2(db, zSql.c_str(), -1, &pStmt, nullptr);
    if (out.rc != SQLITE_OK) {
      out.zErr = sqlite3_errmsg(db);
      return out;
    }
    while ((out.rc = sqlite3_step(pStmt)) == SQLITE_ROW) {
      std::vector<Cell> row;
      for (int i = 0; i < sqlite3_column_count(pStmt); ++i) {
        Cell cell;
        cell.eType = sqlite3_column_type(pStmt, i);
        if (cell.eType == SQLITE_INTEGER) cell.i = sqlite3_column_int64(pStmt, i);
        if (cell.eType == SQLITE_TEXT || cell.eType == SQLITE_BLOB) {
          const void* p = sqlite3_column_blob(pStmt, i);
          cell.z.assign(static_cast<const char*>(p), sqlite3_column_bytes(pStmt, i));
        }
        row.push_back(cell);
      }
      out.aRows.push_back(row);
    }
    if (out.rc == SQLITE_DONE) {
      out.rc = SQLITE_OK;
    } else {
      out.zErr = sqlite3_errmsg(db);
    }
    sqlite3_finalize(pStmt);
    return out;
  }

  // Runs a statement of one row and one column; fails the test on an error.
  Cell one(const std::string& zSql) {
    Outcome out = run(zSql);
    EXPECT_EQ(out.rc, SQLITE_OK) << zSql << ": " << out.zErr;
    EXPECT_EQ(out.aRows.size(), 1u) << zSql;
    if (out.aRows.size() != 1 || out.aRows[0].empty()) return Cell{};
    return out.aRows[0][0];
  }

  // The error text of a statement that must fail.
  std::string error(const std::string& zSql) {
    Outcome out = run(zSql);
    EXPECT_NE(out.rc, SQLITE_OK) << zSql;
    return out.zErr;
  }

  static std::string quoted(const std::string& z) {
    char* zQ = sqlite3_mprintf("%Q", z.c_str());
    std::string r(zQ);
    sqlite3_free(zQ);
    return r;
  }

  std::string zRoot;
  sqlite3* db = nullptr;
};

TEST_F(FileioTest, WriteAndReadRoundTrips) {
  struct Case {
    const char* zName;
    const char* zDataSql;
    std::string want;
  } cases[] = {
      {"text", "'hello, world\n'", "hello, world\n"},
      {"utf8", "'\xc5\xbc\xc3\xb3\xc5\x82w'", "\xc5\xbc\xc3\xb3\xc5\x82w"},
      {"nul bytes", "x'00ff0041000a'", std::string("\0\xff\0A\0\n", 6)},
      {"empty blob", "x''", ""},
      {"empty text", "''", ""},
      {"null", "NULL", ""},
      {"large", "zeroblob(300000)", std::string(300000, '\0')},
  };
  for (const auto& c : cases) {
    std::string zPath = at(c.zName);
    Cell written = one("SELECT writefile(" + quoted(zPath) + ", " + c.zDataSql + ")");
    EXPECT_EQ(written.eType, SQLITE_INTEGER) << c.zName;
    EXPECT_EQ(written.i, static_cast<sqlite3_int64>(c.want.size())) << c.zName;
    EXPECT_EQ(readWhole(zPath), c.want) << c.zName;
    Cell read = one("SELECT readfile(" + quoted(zPath) + ")");
    EXPECT_EQ(read.eType, SQLITE_BLOB) << c.zName;
    EXPECT_EQ(read.z, c.want) << c.zName;
  }
  // Writing again replaces the whole content.
  std::string zPath = at("text");
  EXPECT_EQ(one("SELECT writefile(" + quoted(zPath) + ", 'ab')").i, 2);
  EXPECT_EQ(readWhole(zPath), "ab");
}

TEST_F(FileioTest, ReadfileGivesNullForWhatCannotBeReadWhole) {
  makeFile("plain", "content");
  ASSERT_EQ(::mkfifo(at("fifo").c_str(), 0600), 0);
  ASSERT_EQ(::mkdir(at("dir").c_str(), 0755), 0);
  const std::string aSql[] = {
      "SELECT readfile(NULL)",
      "SELECT readfile(" + quoted(at("missing")) + ")",
      "SELECT readfile(" + quoted(at("dir")) + ")",
      // A pipe without a writer: must not wait.
      "SELECT readfile(" + quoted(at("fifo")) + ")",
      // A NUL inside the path must not reach the file named by its first part.
      "SELECT readfile(" + quoted(at("plain")) + " || char(0) || 'x')",
  };
  for (const auto& zSql : aSql) EXPECT_EQ(one(zSql).eType, SQLITE_NULL) << zSql;
  EXPECT_EQ(one("SELECT readfile(" + quoted(at("plain")) + ")").z, "content");
}

TEST_F(FileioTest, LengthLimitAppliesToReadfileAndData) {
  // The limit covers the statement's own texts too, so it stays above the paths' lengths.
  constexpr int nLimit = 1000;
  const std::string atLimit(nLimit, 'a');
  makeFile("at-limit", atLimit);
  makeFile("over-limit", atLimit + "b");
  sqlite3_limit(db, SQLITE_LIMIT_LENGTH, nLimit);
  EXPECT_EQ(one("SELECT readfile(" + quoted(at("at-limit")) + ")").z, atLimit);
  Outcome out = run("SELECT readfile(" + quoted(at("over-limit")) + ")");
  EXPECT_EQ(out.rc, SQLITE_TOOBIG);
  EXPECT_EQ(out.zErr, "string or blob too big");
  out = run("SELECT data FROM fsdir(" + quoted(at("over-limit")) + ")");
  EXPECT_EQ(out.rc, SQLITE_TOOBIG);
  // Columns other than data never read the file.
  EXPECT_EQ(one("SELECT mode & 0xF000 FROM fsdir(" + quoted(at("over-limit")) + ")").i, 0x8000);
}

TEST_F(FileioTest, WritefileCreatesMissingParentDirectories) {
  std::string zPath = at("a/b/c.txt");
  EXPECT_EQ(one("SELECT writefile(" + quoted(zPath) + ", 'xyz')").i, 3);
  EXPECT_TRUE(fs::is_directory(at("a")));
  EXPECT_TRUE(fs::is_directory(at("a/b")));
  EXPECT_EQ(readWhole(zPath), "xyz");
  // A directory path with missing parents.
  EXPECT_EQ(one("SELECT writefile(" + quoted(at("p/q/r")) + ", NULL, 16877)").eType, SQLITE_NULL);
  EXPECT_TRUE(fs::is_directory(at("p/q/r")));
  // A parent that is a regular file stops it.
  makeFile("f", "");
  EXPECT_EQ(error("SELECT writefile(" + quoted(at("f/x")) + ", 'y', 0)"),
            "failed to write file: " + at("f/x"));
}

TEST_F(FileioTest, WritefileDirectories) {
  std::string zDir = at("d");
  std::string zSql =
      "SELECT writefile(" + quoted(zDir) + ", NULL, " + std::to_string(0x4000 | 0755) + ")";
  EXPECT_EQ(one(zSql).eType, SQLITE_NULL);
  ASSERT_TRUE(fs::is_directory(zDir));
  EXPECT_EQ(statOf(zDir).st_mode & 07777, 0755u);
  // Again on the existing directory: still a success.
  EXPECT_EQ(one(zSql).eType, SQLITE_NULL);
  // An existing directory takes the new permission bits.
  EXPECT_EQ(
      one("SELECT writefile(" + quoted(zDir) + ", NULL, " + std::to_string(0x4000 | 0700) + ")")
          .eType,
      SQLITE_NULL);
  EXPECT_EQ(statOf(zDir).st_mode & 07777, 0700u);
  // A new directory gets exactly the bits asked for, whatever the umask.
  mode_t mOld = ::umask(077);
  EXPECT_EQ(one("SELECT writefile(" + quoted(at("open")) + ", NULL, " +
                std::to_string(0x4000 | 0775) + ")")
                .eType,
            SQLITE_NULL);
  ::umask(mOld);
  EXPECT_EQ(statOf(at("open")).st_mode & 07777, 0775u);
  // A regular file in the way.
  makeFile("file", "x");
  EXPECT_EQ(error("SELECT writefile(" + quoted(at("file")) + ", NULL, 16877)"),
            "failed to create directory: " + at("file"));
}

TEST_F(FileioTest, WritefilePermissionBits) {
  struct Case {
    sqlite3_int64 iMode;
    unsigned mWant;
  } cases[] = {
      {0x8000 | 0600, 0600},  {0x8000 | 0644, 0644}, {0x8000 | 0755, 0755},
      {0x8000 | 0400, 0400},  {0640, 0640},          {0x10000 | 0x8000 | 0604, 0604},
      {0x8000 | 04755, 0755},
  };
  int i = 0;
  for (const auto& c : cases) {
    std::string zPath = at("m" + std::to_string(i++));
    EXPECT_EQ(
        one("SELECT writefile(" + quoted(zPath) + ", 'x', " + std::to_string(c.iMode) + ")").i, 1);
    struct stat st = statOf(zPath);
    EXPECT_TRUE(S_ISREG(st.st_mode)) << c.iMode;
    EXPECT_EQ(st.st_mode & 07777, c.mWant) << c.iMode;
  }
  // MODE 0 leaves the permissions to the system.
  mode_t mOld = ::umask(022);
  EXPECT_EQ(one("SELECT writefile(" + quoted(at("plain")) + ", 'x', 0)").i, 1);
  ::umask(mOld);
  EXPECT_EQ(statOf(at("plain")).st_mode & 07777, 0644u);
}

TEST_F(FileioTest, WritefileModificationTimesKeepAllSixtyFourBits) {
  const sqlite3_int64 aTimes[] = {
      0,
      1,
      1000000000,
      2147483647,     // the last second a signed 32-bit count holds (2038-01-19)
      2147483648LL,   // one second later
      4102444800LL,   // 2100-01-01
      4294967297LL,   // 2^32 + 1: its low 32 bits are 1
      10000000000LL,  // 2286
  };
  int i = 0;
  for (sqlite3_int64 iMtime : aTimes) {
    std::string zFile = at("t" + std::to_string(i));
    std::string zDir = at("td" + std::to_string(i++));
    EXPECT_EQ(
        one("SELECT writefile(" + quoted(zFile) + ", 'x', 0, " + std::to_string(iMtime) + ")").i, 1)
        << iMtime;
    EXPECT_EQ(statOf(zFile).st_mtime, iMtime);
    EXPECT_EQ(one("SELECT mtime FROM fsdir(" + quoted(zFile) + ")").i, iMtime);
    EXPECT_EQ(
        one("SELECT writefile(" + quoted(zDir) + ", NULL, 16877, " + std::to_string(iMtime) + ")")
            .eType,
        SQLITE_NULL);
    EXPECT_EQ(statOf(zDir).st_mtime, iMtime);
  }
}

TEST_F(FileioTest, WritefileNegativeOrAbsentMtimeLeavesTimesAlone) {
  std::string zDir = at("d");
  ASSERT_EQ(::mkdir(zDir.c_str(), 0755), 0);
  setMtime(zDir, 12345);
  for (const char* zMtime : {"-1", "-5", "-86400", "-9223372036854775808"}) {
    EXPECT_EQ(one("SELECT writefile(" + quoted(zDir) + ", NULL, 16877, " + zMtime + ")").eType,
              SQLITE_NULL);
    EXPECT_EQ(statOf(zDir).st_mtime, 12345) << zMtime;
  }
  EXPECT_EQ(one("SELECT writefile(" + quoted(zDir) + ", NULL, 16877)").eType, SQLITE_NULL);
  EXPECT_EQ(statOf(zDir).st_mtime, 12345);
}

TEST_F(FileioTest, WritefileArgumentsAndFailures) {
  for (const char* zArgs : {"'x'", "", "'a', 'b', 0, 0, 0"}) {
    EXPECT_EQ(error(std::string("SELECT writefile(") + zArgs + ")"),
              "wrong number of arguments to function writefile()")
        << zArgs;
  }
  EXPECT_EQ(one("SELECT writefile(NULL, 'x')").eType, SQLITE_NULL);
  EXPECT_EQ(error("SELECT writefile('', 'x', 0)"), "failed to write file: ");
  EXPECT_EQ(one("SELECT writefile('', 'x')").eType, SQLITE_NULL);
  ASSERT_EQ(::mkdir(at("dir").c_str(), 0755), 0);
  // Without MODE a failure is silent; with it, it is an error.
  EXPECT_EQ(one("SELECT writefile(" + quoted(at("dir")) + ", 'x')").eType, SQLITE_NULL);
  EXPECT_EQ(error("SELECT writefile(" + quoted(at("dir")) + ", 'x', 420)"),
            "failed to write file: " + at("dir"));
  // A NUL inside the path names no file.
  makeFile("a", "keep");
  EXPECT_EQ(error("SELECT writefile(" + quoted(at("a")) + " || char(0) || 'b', 'x', 0)"),
            "failed to write file: " + at("a"));
  EXPECT_EQ(readWhole(at("a")), "keep");
  // A write error that the system reports only when the data is stored is a failure.
  if (::access("/dev/full", W_OK) == 0) {
    EXPECT_EQ(error("SELECT writefile('/dev/full', 'abc', 0)"), "failed to write file: /dev/full");
    EXPECT_EQ(one("SELECT writefile('/dev/full', 'abc')").eType, SQLITE_NULL);
  }
}

// Only the directory type is special: any other type field, the symbolic
// link's too, writes a plain file with the permission bits.
TEST_F(FileioTest, WritefileOfAnotherTypeWritesAPlainFile) {
  std::string zLink = at("link");
  EXPECT_EQ(one("SELECT writefile(" + quoted(zLink) + ", 'target.txt', 41471)").i,
            10);  // 41471 = 0xA1FF
  EXPECT_FALSE(fs::is_symlink(zLink));
  EXPECT_EQ(readWhole(zLink), "target.txt");
  EXPECT_EQ(lstatOf(zLink).st_mode & 07777, 0777u);
}

TEST(Lsmode, MatchesPythonFilemode) {
  for (const auto& c : aLsmodeCases) {
    char zOut[11];
    formatFileMode(c.mMode, zOut);
    EXPECT_STREQ(zOut, c.zWant) << std::hex << c.mMode;
  }
}

TEST_F(FileioTest, LsmodeFromSql) {
  for (const auto& c : aLsmodeCases) {
    Cell got = one("SELECT lsmode(" + std::to_string(c.mMode) + ")");
    EXPECT_EQ(got.eType, SQLITE_TEXT);
    EXPECT_EQ(got.z, c.zWant) << std::hex << c.mMode;
  }
  EXPECT_EQ(one("SELECT lsmode(NULL)").z, "?---------");
}

// One row of fsdir or of the reference walk.
using Entry = std::tuple<sqlite3_int64 /*mode*/, sqlite3_int64 /*mtime*/, int /*data type*/,
                         std::string /*data*/>;

class FsdirTest : public FileioTest {
 protected:
  // root/
  //   f1, .hidden, "new\nline", empty, link-to-f1 -> f1
  //   sub/ g (bytes with NULs), deeper/ h
  //   emptydir/
  void buildTree() {
    makeFile("f1", "first file\n");
    makeFile(".hidden", "dot");
    makeFile("new\nline", "newline in the name");
    makeFile("empty", "");
    ASSERT_EQ(::symlink("f1", at("link-to-f1").c_str()), 0);
    ASSERT_EQ(::mkdir(at("sub").c_str(), 0750), 0);
    makeFile("sub/g", std::string("g\0g\0", 4));
    ASSERT_EQ(::mkdir(at("sub/deeper").c_str(), 0700), 0);
    makeFile("sub/deeper/h", "h");
    ASSERT_EQ(::mkdir(at("emptydir").c_str(), 0755), 0);
    setMtime(at("f1"), -12345);
    setMtime(at("sub/g"), 3000000000LL);
  }

  static Entry entryOf(const fs::path& p) {
    struct stat st = statOf(p.string());
    if (S_ISDIR(st.st_mode)) return {st.st_mode, st.st_mtime, SQLITE_NULL, ""};
    return {st.st_mode, st.st_mtime, SQLITE_BLOB, readWhole(p.string())};
  }

  // The reference: std::filesystem's walk (links followed) with stat and a plain read.
  static std::map<std::string, Entry> walk(const std::string& zStart, const std::string& zName) {
    std::map<std::string, Entry> m;
    m[zName] = entryOf(zStart);
    if (!fs::is_directory(zStart)) return m;
    for (auto& e : fs::recursive_directory_iterator(
             zStart, fs::directory_options::follow_directory_symlink)) {
      m[zName + "/" + e.path().lexically_relative(zStart).string()] = entryOf(e.path());
    }
    return m;
  }

  struct Scan {
    std::vector<std::string> aNames;
    std::map<std::string, Entry> m;
  };

  Scan scan(const std::string& zFrom) {
    Scan s;
    Outcome out = run("SELECT name, mode, mtime, data, path, dir, rowid FROM " + zFrom);
    EXPECT_EQ(out.rc, SQLITE_OK) << out.zErr;
    sqlite3_int64 iRow = 0;
    for (const auto& r : out.aRows) {
      s.aNames.push_back(r[0].z);
      EXPECT_TRUE(s.m.emplace(r[0].z, Entry{r[1].i, r[2].i, r[3].eType, r[3].z}).second)
          << "repeated " << r[0].z;
      EXPECT_EQ(r[4].eType, SQLITE_NULL);
      EXPECT_EQ(r[5].eType, SQLITE_NULL);
      EXPECT_EQ(r[6].i, ++iRow);
    }
    return s;
  }

  // Depth-first with each directory before its contents: the rows below any directory form
  // one block right after it.
  static void expectDepthFirst(const std::vector<std::string>& aNames) {
    for (size_t i = 0; i < aNames.size(); ++i) {
      std::string zPrefix = aNames[i] + "/";
      size_t j = i + 1;
      while (j < aNames.size() && aNames[j].compare(0, zPrefix.size(), zPrefix) == 0) ++j;
      for (size_t k = j; k < aNames.size(); ++k) {
        EXPECT_NE(aNames[k].compare(0, zPrefix.size(), zPrefix), 0)
            << aNames[k] << " is apart from " << aNames[i];
      }
    }
  }
};

TEST_F(FsdirTest, WalkMatchesStdFilesystem) {
  buildTree();
  Scan s = scan("fsdir(" + quoted(zRoot) + ")");
  ASSERT_FALSE(s.aNames.empty());
  EXPECT_EQ(s.aNames[0], zRoot);
  EXPECT_EQ(s.m, walk(zRoot, zRoot));
  EXPECT_EQ(s.m.count(zRoot + "/new\nline"), 1u);
  EXPECT_EQ(std::get<0>(s.m[zRoot + "/link-to-f1"]) & 0xF000, 0x8000);
  EXPECT_EQ(std::get<1>(s.m[zRoot + "/f1"]), -12345);
  EXPECT_EQ(std::get<1>(s.m[zRoot + "/sub/g"]), 3000000000LL);
  expectDepthFirst(s.aNames);
}

TEST_F(FsdirTest, DirArgumentMakesNamesRelative) {
  buildTree();
  Scan s = scan("fsdir('sub', " + quoted(zRoot) + ")");
  EXPECT_EQ(s.m, walk(at("sub"), "sub"));
  ASSERT_FALSE(s.aNames.empty());
  EXPECT_EQ(s.aNames[0], "sub");
  expectDepthFirst(s.aNames);
  // The same through equality constraints on the hidden columns.
  Scan t = scan("fsdir WHERE dir = " + quoted(zRoot) + " AND path = 'sub'");
  EXPECT_EQ(t.m, s.m);
  // As a table-valued function over values of another table.
  Outcome out = run("WITH p(x) AS (VALUES('sub'), ('f1')) SELECT count(*) FROM p, fsdir(p.x, " +
                    quoted(zRoot) + ")");
  ASSERT_EQ(out.rc, SQLITE_OK) << out.zErr;
  EXPECT_EQ(out.aRows[0][0].i, static_cast<sqlite3_int64>(s.m.size() + 1));
}

TEST_F(FsdirTest, RegularFileIsOneRow) {
  makeFile("only", "just me");
  Scan s = scan("fsdir(" + quoted(at("only")) + ")");
  ASSERT_EQ(s.aNames.size(), 1u);
  EXPECT_EQ(s.m, walk(at("only"), at("only")));
  EXPECT_EQ(std::get<3>(s.m[at("only")]), "just me");
}

TEST_F(FsdirTest, Errors) {
  EXPECT_EQ(error("SELECT * FROM fsdir"), "table function fsdir requires an argument");
  EXPECT_EQ(error("SELECT * FROM fsdir WHERE dir = 'x'"),
            "table function fsdir requires an argument");
  EXPECT_EQ(error("SELECT * FROM fsdir(NULL)"),
            "table function fsdir requires a non-NULL argument");
  EXPECT_EQ(error("SELECT * FROM fsdir(" + quoted(at("missing")) + ")"),
            "cannot stat file: " + at("missing"));
  EXPECT_EQ(error("SELECT * FROM fsdir('missing', " + quoted(zRoot) + ")"),
            "cannot stat file: " + at("missing"));
  makeFile("a", "");
  EXPECT_EQ(error("SELECT * FROM fsdir(" + quoted(at("a")) + " || char(0) || 'b')"),
            "cannot stat file: " + at("a"));
  // A directory that cannot be read ends the scan (the superuser reads everything).
  if (::geteuid() != 0) {
    ASSERT_EQ(::mkdir(at("locked").c_str(), 0), 0);
    EXPECT_EQ(error("SELECT * FROM fsdir(" + quoted(at("locked")) + ")"),
              "cannot read directory: " + at("locked"));
  }
}

TEST_F(FsdirTest, SymbolicLinkLoopsEndAndBrokenLinksShowAsLinks) {
  ASSERT_EQ(::mkdir(at("a").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir(at("a/b").c_str(), 0755), 0);
  makeFile("a/b/file", "f");
  ASSERT_EQ(::symlink("../..", at("a/b/up").c_str()), 0);  // back to the root
  ASSERT_EQ(::symlink(".", at("a/self").c_str()), 0);
  ASSERT_EQ(::symlink("loop", at("loop").c_str()), 0);  // resolves to itself
  ASSERT_EQ(::symlink("missing", at("dangling").c_str()), 0);
  Scan s = scan("fsdir('.', " + quoted(zRoot) + ")");
  std::vector<std::string> aSorted = s.aNames;
  std::sort(aSorted.begin(), aSorted.end());
  EXPECT_EQ(aSorted, (std::vector<std::string>{".", "./a", "./a/b", "./a/b/file", "./a/b/up",
                                               "./a/self", "./dangling", "./loop"}));
  expectDepthFirst(s.aNames);
  // A link back to an open directory shows as that directory.
  EXPECT_EQ(std::get<0>(s.m["./a/b/up"]), static_cast<sqlite3_int64>(statOf(zRoot).st_mode));
  EXPECT_EQ(std::get<2>(s.m["./a/b/up"]), SQLITE_NULL);
  for (const char* zName : {"./loop", "./dangling"}) {
    EXPECT_EQ(std::get<0>(s.m[zName]) & 0xF000, 0xA000) << zName;
    EXPECT_EQ(std::get<2>(s.m[zName]), SQLITE_NULL) << zName;
  }
  // Each row's mtime is that of the entry the walk reports.
  EXPECT_EQ(std::get<1>(s.m["./dangling"]), lstatOf(at("dangling")).st_mtime);
}

TEST_F(FsdirTest, TreeDeeperThanTheLongestPath) {
  // 24 levels of 200-byte names: the deepest paths are longer than the system accepts in one
  // call, so the walk must reach entries through their directories.
  constexpr int nLevels = 24;
  const std::string zLevel(200, 'n');
  std::vector<int> aFd = {::open(zRoot.c_str(), O_RDONLY | O_DIRECTORY)};
  for (int i = 0; i < nLevels; ++i) {
    ASSERT_EQ(::mkdirat(aFd.back(), zLevel.c_str(), 0755), 0);
    aFd.push_back(::openat(aFd.back(), zLevel.c_str(), O_RDONLY | O_DIRECTORY));
    ASSERT_GE(aFd.back(), 0);
  }
  int fd = ::openat(aFd.back(), "leaf", O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, "deep", 4), 4);
  ::close(fd);

  Outcome out = run("SELECT name, data FROM fsdir('.', " + quoted(zRoot) + ")");
  EXPECT_EQ(out.rc, SQLITE_OK) << out.zErr;
  ASSERT_EQ(out.aRows.size(), static_cast<size_t>(nLevels + 2));
  const auto& last = out.aRows.back();
  EXPECT_GT(last[0].z.size(), static_cast<size_t>(PATH_MAX));
  EXPECT_EQ(last[0].z.substr(last[0].z.size() - 5), "/leaf");
  EXPECT_EQ(last[1].z, "deep");

  // std::filesystem cannot remove it either: take it apart from the bottom.
  ::unlinkat(aFd.back(), "leaf", 0);
  for (int i = nLevels; i > 0; --i) {
    ::close(aFd[i]);
    ::unlinkat(aFd[i - 1], zLevel.c_str(), AT_REMOVEDIR);
  }
  ::close(aFd[0]);
}

TEST_F(FileioTest, DirectOnlyFunctionsAreRefusedInViewsAndTriggers) {
  std::string zFile = at("from-view");
  ASSERT_EQ(run("CREATE VIEW v AS SELECT writefile(" + quoted(zFile) + ", 'x') AS r").rc,
            SQLITE_OK);
  EXPECT_EQ(error("SELECT * FROM v"), "unsafe use of writefile()");
  EXPECT_FALSE(fs::exists(zFile));

  std::string zTrigFile = at("from-trigger");
  ASSERT_EQ(run("CREATE TABLE t(a)").rc, SQLITE_OK);
  ASSERT_EQ(run("CREATE TRIGGER tr AFTER INSERT ON t BEGIN SELECT writefile(" + quoted(zTrigFile) +
                ", 'x'); END")
                .rc,
            SQLITE_OK);
  EXPECT_EQ(error("INSERT INTO t VALUES(1)"), "unsafe use of writefile()");
  EXPECT_FALSE(fs::exists(zTrigFile));

  makeFile("secret", "s");
  ASSERT_EQ(run("CREATE VIEW r AS SELECT readfile(" + quoted(at("secret")) + ")").rc, SQLITE_OK);
  EXPECT_EQ(error("SELECT * FROM r"), "unsafe use of readfile()");
  ASSERT_EQ(run("CREATE VIEW w AS SELECT name FROM fsdir(" + quoted(zRoot) + ")").rc, SQLITE_OK);
  EXPECT_EQ(error("SELECT * FROM w"), "unsafe use of virtual table \"fsdir\"");
  // lsmode has no such restriction.
  ASSERT_EQ(run("CREATE VIEW l AS SELECT lsmode(16877) AS m").rc, SQLITE_OK);
  EXPECT_EQ(one("SELECT m FROM l").z, "drwxr-xr-x");
  // The same calls at top level work.
  EXPECT_EQ(one("SELECT writefile(" + quoted(zFile) + ", 'x')").i, 1);
}

// The host's gate is asked before every use of the file system, with the function's name, also
// where the engine asks no authorizer (a CHECK constraint); a refusal fails the call and
// touches nothing.
TEST_F(FileioTest, GateIsAskedBeforeEveryCallAndItsRefusalTouchesNothing) {
  struct Gate {
    std::vector<std::string> azAsked;
    bool bAllow = false;
  } gate;
  const FileioGate fileioGate = {[](void* pArg, const char* zFunction) {
                                   auto* g = static_cast<Gate*>(pArg);
                                   g->azAsked.push_back(zFunction);
                                   return g->bAllow ? 1 : 0;
                                 },
                                 &gate};
  ASSERT_EQ(fileioRegister(db, &fileioGate), SQLITE_OK);
  makeFile("secret", "s3cret");
  const std::string zOut = at("out");
  const std::string azCalls[] = {
      "SELECT readfile(" + quoted(at("secret")) + ")",
      "SELECT writefile(" + quoted(zOut) + ", 'x')",
      "SELECT data FROM fsdir(" + quoted(at("secret")) + ")",
      "CREATE TABLE c(a CHECK(writefile(" + quoted(zOut) + ", a) > 0)); INSERT INTO c VALUES(1)",
  };
  for (const std::string& zSql : azCalls) {
    SCOPED_TRACE(zSql);
    char* zErr = nullptr;
    EXPECT_EQ(sqlite3_exec(db, zSql.c_str(), nullptr, nullptr, &zErr), SQLITE_AUTH);
    EXPECT_STREQ(zErr, "not authorized");
    sqlite3_free(zErr);
  }
  EXPECT_FALSE(fs::exists(zOut));
  EXPECT_EQ(gate.azAsked,
            (std::vector<std::string>{"readfile", "writefile", "fsdir", "writefile"}));
  gate.bAllow = true;
  EXPECT_EQ(one("SELECT readfile(" + quoted(at("secret")) + ")").z, "s3cret");
  EXPECT_EQ(one("INSERT INTO c VALUES('x') RETURNING a").z, "x");
  EXPECT_TRUE(fs::exists(zOut));
}

TEST_F(FileioTest, FsdirCannotBeCreatedAsATable) {
  Outcome out = run("CREATE VIRTUAL TABLE t USING fsdir");
  EXPECT_NE(out.rc, SQLITE_OK);
}

}  // namespace
